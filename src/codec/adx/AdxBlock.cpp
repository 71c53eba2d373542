#include "adx/AdxBlock.h"

#include <cmath>

namespace {

inline int32_t Clamp16(int32_t v) {
  return v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
}

// The nibble rule of a block: v = clamp16(trunc(r * gain)), then d = (v + 2340)
// / 4681 (v - 2340 for v < 0), clamped to -8..7. The rule is monotone and odd
// in r, so it is captured exactly by seven thresholds: d = sign(r) * (how many
// of them |r| reaches). That keeps the double arithmetic out of the per-sample
// chain, where every sample waits for the previous one.
struct Quantiser {
  int32_t step[7];  // step[k - 1]: the smallest r >= 1 whose nibble is at least k
};

// For r >= 1 the rule gives at least k exactly when v >= 4681k - 2340, that
// is (the bound being below 32767 and an integer) when r * gain, rounded as
// the rule rounds it, reaches 4681k - 2340. The smallest such r is first
// guessed from gain = 32767 / maxResidual without dividing, then made exact.
void MakeQuantiser(int32_t maxResidual, double gain, Quantiser* q) {
  for (int k = 1; k <= 7; ++k) {
    const int32_t bound = 4681 * k - 2340;
    int32_t p = 1;
    if (maxResidual > 0) {
      p = static_cast<int32_t>((static_cast<int64_t>(bound) * maxResidual + 32766) / 32767);
      if (p < 1) p = 1;
    }
    while (p > 1 && static_cast<double>(p - 1) * gain >= bound) --p;
    while (static_cast<double>(p) * gain < bound) ++p;
    q->step[k - 1] = p;
  }
}

inline int32_t Quantise(const Quantiser& q, int32_t r) {
  const int32_t a = r < 0 ? -r : r;
  // Summed as a tree: the sum lies on the sample chain.
  const int32_t n01 = (a >= q.step[0]) + (a >= q.step[1]);
  const int32_t n23 = (a >= q.step[2]) + (a >= q.step[3]);
  const int32_t n456 = (a >= q.step[4]) + ((a >= q.step[5]) + (a >= q.step[6]));
  const int32_t n = (n01 + n23) + n456;
  return r < 0 ? -n : n;
}

// One channel's block on its way through the closed loop.
struct Coder {
  const int16_t* in;
  int8_t* nibble;
  int16_t* recon;
  Quantiser q;
  int32_t c1;
  int32_t c2;
  int32_t s1;
  int32_t s2;
  int32_t scale;
};

// The open-loop pass: residuals against the input itself from the closed-loop
// history, their largest magnitude, the block's scale and gain.
void Analyse(AdxChannelState* state, const int16_t* in, Coder* coder) {
  const AdxPredictor* p = state->predictor;
  // The input with the two history samples in front, so that every residual
  // depends on the input alone and the loop runs in parallel.
  int16_t x[ADX_BLOCK_SAMPLES + 2];
  x[0] = p->s2;
  x[1] = p->s1;
  for (int i = 0; i < ADX_BLOCK_SAMPLES; ++i) x[i + 2] = in[i];
  const int32_t c1 = state->c1;
  const int32_t c2 = state->c2;
  int32_t maxResidual = 0;
  for (int i = 0; i < ADX_BLOCK_SAMPLES; ++i) {
    const int32_t r = Clamp16(x[i + 2] - ((c2 * x[i]) >> 12) - ((c1 * x[i + 1]) >> 12));
    state->residual[i] = static_cast<int16_t>(r);
    const int32_t magnitude = r < 0 ? -r : r;
    maxResidual = magnitude > maxResidual ? magnitude : maxResidual;
  }
  state->s1 = in[ADX_BLOCK_SAMPLES - 1];
  state->s2 = in[ADX_BLOCK_SAMPLES - 2];
  state->maxResidual = maxResidual;

  int32_t scale = (maxResidual - 1) / 7 + 1;
  if (scale > 4096) scale = 4096;
  if (scale < 1) scale = 1;
  const double gain = maxResidual != 0 ? 32767.0 / maxResidual : 32767.0;
  state->scale = static_cast<int16_t>(scale);
  state->gain = gain;

  coder->in = in;
  coder->nibble = state->nibble;
  MakeQuantiser(maxResidual, gain, &coder->q);
  coder->c1 = p->c1;
  coder->c2 = p->c2;
  coder->s1 = p->s1;
  coder->s2 = p->s2;
  coder->scale = scale;
}

// One sample of the closed-loop pass: the nibble is chosen against the history
// the decoder will have, so coding errors never accumulate. |d| <= 7 and
// scale <= 4096, so d * scale needs no clamp.
inline void Step(Coder* c, int i) {
  const int32_t r = Clamp16(c->in[i] - ((c->c2 * c->s2) >> 12) - ((c->c1 * c->s1) >> 12));
  const int32_t d = Quantise(c->q, r);
  c->nibble[i] = static_cast<int8_t>(d);
  const int32_t y = Clamp16(d * c->scale + ((c->c1 * c->s1 + c->c2 * c->s2) >> 12));
  c->recon[i] = static_cast<int16_t>(y);
  c->s2 = c->s1;
  c->s1 = y;
}

void Finish(AdxChannelState* state, const Coder& coder, uint8_t* block) {
  state->predictor->s1 = static_cast<int16_t>(coder.s1);
  state->predictor->s2 = static_cast<int16_t>(coder.s2);
  uint32_t any = 0;
  for (int i = 0; i < ADX_BLOCK_SAMPLES; i += 2) {
    const auto byte = static_cast<uint8_t>(((state->nibble[i] & 0x0F) << 4) | (state->nibble[i + 1] & 0x0F));
    block[2 + i / 2] = byte;
    any |= byte;
  }
  AdxPutBe16(block, any == 0 ? 0u : static_cast<uint32_t>(coder.scale - 1));
}

}  // namespace

void AdxEncodeBlock(AdxChannelState* state, const int16_t* in, uint8_t* block, int16_t* recon) {
  int16_t scratch[ADX_BLOCK_SAMPLES];
  Coder coder;
  Analyse(state, in, &coder);
  coder.recon = recon != nullptr ? recon : scratch;
  for (int i = 0; i < ADX_BLOCK_SAMPLES; ++i) Step(&coder, i);
  Finish(state, coder, block);
}

void AdxEncodeBlockPair(AdxChannelState* state0, const int16_t* in0, uint8_t* block0, AdxChannelState* state1,
                        const int16_t* in1, uint8_t* block1) {
  int16_t scratch0[ADX_BLOCK_SAMPLES];
  int16_t scratch1[ADX_BLOCK_SAMPLES];
  Coder a;
  Coder b;
  Analyse(state0, in0, &a);
  Analyse(state1, in1, &b);
  a.recon = scratch0;
  b.recon = scratch1;
  // The two channels' chains are independent; interleaved, each fills the
  // other's waiting time.
  for (int i = 0; i < ADX_BLOCK_SAMPLES; ++i) {
    Step(&a, i);
    Step(&b, i);
  }
  Finish(state0, a, block0);
  Finish(state1, b, block1);
}

void AdxNibbleTable(int32_t maxResidual, int8_t* nibbles) {
  Quantiser q;
  MakeQuantiser(maxResidual, maxResidual != 0 ? 32767.0 / maxResidual : 32767.0, &q);
  for (int32_t r = -32768; r <= 32767; ++r) nibbles[r + 32768] = static_cast<int8_t>(Quantise(q, r));
}

namespace {

// One channel's block on its way through the decoder.
struct Decoder {
  const uint8_t* block;
  int16_t* out;
  int32_t t;
  int32_t c1;
  int32_t c2;
  int32_t h1;
  int32_t h2;
};

inline void DecodeNibble(Decoder* d, int32_t n) {
  const int32_t y = Clamp16(d->t * n + ((d->c1 * d->h1 + d->c2 * d->h2) >> 12));
  *d->out++ = static_cast<int16_t>(y);
  d->h2 = d->h1;
  d->h1 = y;
}

// Both nibbles of byte i, sign-extended, the high one first.
inline void DecodeByte(Decoder* d, int i) {
  const int32_t byte = d->block[i];
  DecodeNibble(d, (byte >> 4) - ((byte & 0x80) >> 3));
  DecodeNibble(d, (byte & 0x0F) - ((byte & 0x08) << 1));
}

}  // namespace

void AdxDecodeBlockPair(const uint8_t* block0, const uint8_t* block1, int blockBytes, int32_t c1, int32_t c2,
                        int32_t* s1, int32_t* s2, int16_t* out0, int16_t* out1) {
  Decoder a{block0, out0, (AdxGetBe16(block0) & 0x1FFF) + 1, c1, c2, s1[0], s2[0]};
  Decoder b{block1, out1, (AdxGetBe16(block1) & 0x1FFF) + 1, c1, c2, s1[1], s2[1]};
  for (int i = 2; i < blockBytes; ++i) {
    DecodeByte(&a, i);
    DecodeByte(&b, i);
  }
  s1[0] = a.h1;
  s2[0] = a.h2;
  s1[1] = b.h1;
  s2[1] = b.h2;
}

void AdxDecodeBlock(const uint8_t* block, int blockBytes, int32_t c1, int32_t c2, int32_t* s1, int32_t* s2,
                    uint16_t scaleXor, int16_t* out) {
  Decoder d{block, out, ((AdxGetBe16(block) ^ scaleXor) & 0x1FFF) + 1, c1, c2, *s1, *s2};
  for (int i = 2; i < blockBytes; ++i) DecodeByte(&d, i);
  *s1 = d.h1;
  *s2 = d.h2;
}
