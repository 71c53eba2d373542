#include "adx/AdxBlock.h"

#include <cmath>
#include <cstring>

#include "runtime/CodecSimd.h"

namespace {

// Limits v to 16 bits. Sound rarely reaches the limits, so a branch (taken
// seldom, and off the samples' dependency chain) beats two conditional moves.
// Sample i of a block's input, which may lie in a byte buffer (a ring's chunk).
inline int32_t SampleAt(const int16_t* in, int i) {
  int16_t v;
  std::memcpy(&v, reinterpret_cast<const unsigned char*>(in) + 2 * i, sizeof(v));
  return v;
}

#if defined(__GNUC__)
#define ADX_RARELY(condition) __builtin_expect(!!(condition), 0)
#else
#define ADX_RARELY(condition) (condition)
#endif

inline int32_t Clamp16(int32_t v) {
  if (ADX_RARELY(static_cast<uint32_t>(v + 32768) > 65535u)) v = v < 0 ? -32768 : 32767;
  return v;
}

// The nibble rule of a block: v = clamp16(trunc(r * gain)), then d = (v + 2340)
// / 4681 (v - 2340 for v < 0), clamped to -8..7. The rule is monotone and odd
// in r, so it is captured exactly by seven thresholds: d = sign(r) * (how many
// of them |r| reaches). That keeps the double arithmetic out of the per-sample
// chain, where every sample waits for the previous one.
struct Quantiser {
  int32_t step[8];  // step[k - 1]: the smallest r >= 1 whose nibble is at least k (step[7] unused)
};

// For r >= 1 the rule gives at least k exactly when v >= 4681k - 2340, that
// is (the bound being below 32767 and an integer) when r * gain, rounded as
// the rule rounds it, reaches 4681k - 2340. The smallest such r is
// ceil(bound * maxResidual / 32767) for the exact gain 32767 / maxResidual
// (bound * maxResidual < 2^31); the gain as a double can only make that one
// too small, never too large (the guess minus one lies at least 1 / 32767 of
// a step below the bound), so one product in double arithmetic settles it.
// Checked against the search from the guess for every maxResidual 0..32768.
void MakeQuantiser(int32_t maxResidual, double gain, Quantiser* q) {
  for (int k = 1; k <= 7; ++k) {
    const int32_t bound = 4681 * k - 2340;
    int32_t p = maxResidual > 0 ? (bound * maxResidual + 32766) / 32767 : 1;
    if (p < 1) p = 1;
    if (static_cast<double>(p) * gain < bound) ++p;
    q->step[k - 1] = p;
  }
}

// The nibble of residual r: the sign of r times how many steps |r| reaches,
// counted in two short sums side by side (the count lies on the sample chain).
inline int32_t Quantise(const Quantiser& q, int32_t r) {
  const int32_t sign = r >> 31;  // -1 for a negative residual
  const auto a = static_cast<uint32_t>((r ^ sign) - sign);
  const uint32_t low = (a >= static_cast<uint32_t>(q.step[0])) + (a >= static_cast<uint32_t>(q.step[1])) +
                       (a >= static_cast<uint32_t>(q.step[2])) + (a >= static_cast<uint32_t>(q.step[3]));
  const uint32_t high = (a >= static_cast<uint32_t>(q.step[4])) + (a >= static_cast<uint32_t>(q.step[5])) +
                        (a >= static_cast<uint32_t>(q.step[6]));
  const auto n = static_cast<int32_t>(low + high);
  return (n ^ sign) - sign;
}

#if defined(QUILL_CODEC_SSE2)
// The largest and the smallest of eight 16-bit lanes.
inline int32_t LargestLane(__m128i v) {
  v = _mm_max_epi16(v, _mm_shuffle_epi32(v, 0x4E));
  v = _mm_max_epi16(v, _mm_shuffle_epi32(v, 0xB1));
  v = _mm_max_epi16(v, _mm_shufflelo_epi16(v, 0xB1));
  return static_cast<int16_t>(_mm_cvtsi128_si32(v));
}
inline int32_t SmallestLane(__m128i v) {
  v = _mm_min_epi16(v, _mm_shuffle_epi32(v, 0x4E));
  v = _mm_min_epi16(v, _mm_shuffle_epi32(v, 0xB1));
  v = _mm_min_epi16(v, _mm_shufflelo_epi16(v, 0xB1));
  return static_cast<int16_t>(_mm_cvtsi128_si32(v));
}
#endif

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
void Settle(AdxChannelState* state, const int16_t* in, int32_t maxResidual, Coder* coder);

void Analyse(AdxChannelState* state, const int16_t* in, Coder* coder) {
  const AdxPredictor* p = state->predictor;
  const int32_t c1 = state->c1;
  const int32_t c2 = state->c2;
  int32_t maxResidual = 0;
#if defined(QUILL_CODEC_SSE2)
  if (codec_simd::VectorPath()) {
    // Eight residuals at a time: the products as 32-bit values from their
    // 16-bit halves, shifted, subtracted, and clamped by packing. The first
    // eight take the two history samples in front of the input.
    const __m128i k1 = _mm_set1_epi16(static_cast<int16_t>(c1));
    const __m128i k2 = _mm_set1_epi16(static_cast<int16_t>(c2));
    __m128i most = _mm_set1_epi16(0);
    __m128i least = _mm_set1_epi16(0);
    for (int i = 0; i < ADX_BLOCK_SAMPLES; i += 8) {
      const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      __m128i one;
      __m128i two;
      if (i == 0) {
        one = _mm_insert_epi16(_mm_slli_si128(now, 2), p->s1, 0);
        two = _mm_insert_epi16(_mm_insert_epi16(_mm_slli_si128(now, 4), p->s2, 0), p->s1, 1);
      } else {
        one = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i - 1));
        two = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i - 2));
      }
      const __m128i low1 = _mm_mullo_epi16(one, k1);
      const __m128i high1 = _mm_mulhi_epi16(one, k1);
      const __m128i low2 = _mm_mullo_epi16(two, k2);
      const __m128i high2 = _mm_mulhi_epi16(two, k2);
      const __m128i first = _mm_sub_epi32(_mm_sub_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(now, now), 16),
                                                        _mm_srai_epi32(_mm_unpacklo_epi16(low2, high2), 12)),
                                          _mm_srai_epi32(_mm_unpacklo_epi16(low1, high1), 12));
      const __m128i second = _mm_sub_epi32(_mm_sub_epi32(_mm_srai_epi32(_mm_unpackhi_epi16(now, now), 16),
                                                         _mm_srai_epi32(_mm_unpackhi_epi16(low2, high2), 12)),
                                           _mm_srai_epi32(_mm_unpackhi_epi16(low1, high1), 12));
      const __m128i r = _mm_packs_epi32(first, second);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(state->residual + i), r);
      most = _mm_max_epi16(most, r);
      least = _mm_min_epi16(least, r);
    }
    // The largest and the smallest residual across the lanes.
    const int32_t largest = LargestLane(most);
    const int32_t smallest = SmallestLane(least);
    maxResidual = largest > -smallest ? largest : -smallest;
  } else
#endif
  {
    // The input with the two history samples in front, so that every
    // residual depends on the input alone and the loop runs in parallel.
    int16_t x[ADX_BLOCK_SAMPLES + 2];
    x[0] = p->s2;
    x[1] = p->s1;
    for (int i = 0; i < ADX_BLOCK_SAMPLES; ++i) x[i + 2] = static_cast<int16_t>(SampleAt(in, i));
    for (int i = 0; i < ADX_BLOCK_SAMPLES; ++i) {
      const int32_t r = Clamp16(x[i + 2] - ((c2 * x[i]) >> 12) - ((c1 * x[i + 1]) >> 12));
      state->residual[i] = static_cast<int16_t>(r);
      const int32_t magnitude = r < 0 ? -r : r;
      maxResidual = magnitude > maxResidual ? magnitude : maxResidual;
    }
  }
  Settle(state, in, maxResidual, coder);
}

// The rest of the open-loop pass once the block's largest residual is
// known: the open-loop history, the scale and gain, the quantiser, and the
// coder set up from the closed-loop history.
void Settle(AdxChannelState* state, const int16_t* in, int32_t maxResidual, Coder* coder) {
  const AdxPredictor* p = state->predictor;
  state->s1 = static_cast<int16_t>(SampleAt(in, ADX_BLOCK_SAMPLES - 1));
  state->s2 = static_cast<int16_t>(SampleAt(in, ADX_BLOCK_SAMPLES - 2));
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
// scale <= 4096, so d * scale needs no clamp. The residual's clamp to 16 bits
// is left out: no step exceeds 30428 (the largest bound, 30427, over a gain
// of at least 32767 / 32768), so a residual beyond -32768..32767 gets the
// nibble of its clamped value, +-7, all the same.
inline void Step(Coder* c, int i) {
  const int32_t r = SampleAt(c->in, i) - ((c->c2 * c->s2) >> 12) - ((c->c1 * c->s1) >> 12);
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
#if defined(QUILL_CODEC_SSE2)
  if (codec_simd::VectorPath()) {
    // A pair of nibbles is a 16-bit word, the earlier one in its low byte.
    const __m128i nibble = _mm_set1_epi16(0x000F);
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state->nibble));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state->nibble + 16));
    const __m128i bytes = _mm_packus_epi16(
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(first, nibble), 4), _mm_and_si128(_mm_srli_epi16(first, 8), nibble)),
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(second, nibble), 4),
                     _mm_and_si128(_mm_srli_epi16(second, 8), nibble)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 2), bytes);
    any = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())) != 0xFFFF;
  } else
#endif
  {
    for (int i = 0; i < ADX_BLOCK_SAMPLES; i += 2) {
      const auto byte = static_cast<uint8_t>(((state->nibble[i] & 0x0F) << 4) | (state->nibble[i + 1] & 0x0F));
      block[2 + i / 2] = byte;
      any |= byte;
    }
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

namespace {

// The closed-loop passes of a block of each of two channels, side by side,
// and their blocks written.
void CodePair(AdxChannelState* state0, const int16_t* in0, uint8_t* block0, Coder* ca, AdxChannelState* state1,
              const int16_t* in1, uint8_t* block1, Coder* cb) {
  Coder& a = *ca;
  Coder& b = *cb;
  // The two channels' chains are independent; interleaved, each fills the
  // other's waiting time. Step's arithmetic, with the coders in registers
  // and no reconstruction kept.
  const Quantiser qa = a.q;
  const Quantiser qb = b.q;
  const int32_t ac1 = a.c1, ac2 = a.c2, bc1 = b.c1, bc2 = b.c2;
  const int32_t as = a.scale, bs = b.scale;
  int32_t a1 = a.s1, a2 = a.s2, b1 = b.s1, b2 = b.s2;
  int8_t* an = a.nibble;
  int8_t* bn = b.nibble;
  for (int i = 0; i < ADX_BLOCK_SAMPLES; ++i) {
    const int32_t ra = SampleAt(in0, i) - ((ac2 * a2) >> 12) - ((ac1 * a1) >> 12);
    const int32_t rb = SampleAt(in1, i) - ((bc2 * b2) >> 12) - ((bc1 * b1) >> 12);
    const int32_t da = Quantise(qa, ra);
    const int32_t db = Quantise(qb, rb);
    an[i] = static_cast<int8_t>(da);
    bn[i] = static_cast<int8_t>(db);
    const int32_t ya = Clamp16(da * as + ((ac1 * a1 + ac2 * a2) >> 12));
    const int32_t yb = Clamp16(db * bs + ((bc1 * b1 + bc2 * b2) >> 12));
    a2 = a1;
    a1 = ya;
    b2 = b1;
    b1 = yb;
  }
  a.s1 = a1;
  a.s2 = a2;
  b.s1 = b1;
  b.s2 = b2;
  Finish(state0, a, block0);
  Finish(state1, b, block1);
}

}  // namespace

void AdxEncodeBlockPair(AdxChannelState* state0, const int16_t* in0, uint8_t* block0, AdxChannelState* state1,
                        const int16_t* in1, uint8_t* block1) {
  Coder a;
  Coder b;
  Analyse(state0, in0, &a);
  Analyse(state1, in1, &b);
  CodePair(state0, in0, block0, &a, state1, in1, block1, &b);
}

#if defined(QUILL_CODEC_SSE2)
namespace {

// The largest and the smallest clamped open-loop residual of samples 2..31 of
// a block (they depend on its input alone; samples 0 and 1 also on the
// closed-loop history), stored as the block's residuals 2..31 on the way.
struct Extremes {
  int32_t most;
  int32_t least;
};

Extremes TailExtremes(AdxChannelState* state, const int16_t* in) {
  const __m128i k1 = _mm_set1_epi16(state->c1);
  const __m128i k2 = _mm_set1_epi16(state->c2);
  const __m128i tail = _mm_setr_epi16(0, 0, -1, -1, -1, -1, -1, -1);  // residuals 0 and 1 left out
  __m128i most = _mm_setzero_si128();
  __m128i least = _mm_setzero_si128();
  for (int i = 0; i < ADX_BLOCK_SAMPLES; i += 8) {
    const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i one = i == 0 ? _mm_slli_si128(now, 2) : _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i - 1));
    const __m128i two = i == 0 ? _mm_slli_si128(now, 4) : _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i - 2));
    const __m128i low1 = _mm_mullo_epi16(one, k1);
    const __m128i high1 = _mm_mulhi_epi16(one, k1);
    const __m128i low2 = _mm_mullo_epi16(two, k2);
    const __m128i high2 = _mm_mulhi_epi16(two, k2);
    const __m128i first = _mm_sub_epi32(_mm_sub_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(now, now), 16),
                                                      _mm_srai_epi32(_mm_unpacklo_epi16(low2, high2), 12)),
                                        _mm_srai_epi32(_mm_unpacklo_epi16(low1, high1), 12));
    const __m128i second = _mm_sub_epi32(_mm_sub_epi32(_mm_srai_epi32(_mm_unpackhi_epi16(now, now), 16),
                                                       _mm_srai_epi32(_mm_unpackhi_epi16(low2, high2), 12)),
                                         _mm_srai_epi32(_mm_unpackhi_epi16(low1, high1), 12));
    __m128i r = _mm_packs_epi32(first, second);
    if (i == 0) r = _mm_and_si128(r, tail);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state->residual + i), r);
    most = _mm_max_epi16(most, r);
    least = _mm_min_epi16(least, r);
  }
  return Extremes{LargestLane(most), SmallestLane(least)};
}

// Analyse with the tail already known: residuals 0 and 1 from the
// closed-loop history, then the whole block's largest residual.
void AnalyseWithTail(AdxChannelState* state, const int16_t* in, Extremes tail, Coder* coder) {
  const AdxPredictor* p = state->predictor;
  const int32_t c1 = state->c1;
  const int32_t c2 = state->c2;
  const int32_t x0 = SampleAt(in, 0);
  const int32_t r0 = Clamp16(x0 - ((c2 * p->s2) >> 12) - ((c1 * p->s1) >> 12));
  const int32_t r1 = Clamp16(SampleAt(in, 1) - ((c2 * p->s1) >> 12) - ((c1 * x0) >> 12));
  state->residual[0] = static_cast<int16_t>(r0);
  state->residual[1] = static_cast<int16_t>(r1);
  int32_t most = tail.most > r0 ? tail.most : r0;
  most = most > r1 ? most : r1;
  int32_t least = tail.least < r0 ? tail.least : r0;
  least = least < r1 ? least : r1;
  Settle(state, in, most > -least ? most : -least, coder);
}

}  // namespace
#endif

void AdxEncodeBlockPairs(AdxChannelState* state0, const int16_t* in0, AdxChannelState* state1, const int16_t* in1,
                         int groups, uint8_t* out) {
#if defined(QUILL_CODEC_SSE2)
  if (codec_simd::VectorPath()) {
    // The open-loop residuals that depend on the input alone, for a run of
    // groups at once and off the chain from block to block; then each group
    // in turn.
    constexpr int RUN = 64;
    for (int first = 0; first < groups; first += RUN) {
      const int count = groups - first < RUN ? groups - first : RUN;
      Extremes tail0[RUN];
      Extremes tail1[RUN];
      for (int g = 0; g < count; ++g) {
        tail0[g] = TailExtremes(state0, in0 + ADX_BLOCK_SAMPLES * (first + g));
        tail1[g] = TailExtremes(state1, in1 + ADX_BLOCK_SAMPLES * (first + g));
      }
      for (int g = 0; g < count; ++g) {
        const int16_t* a = in0 + ADX_BLOCK_SAMPLES * (first + g);
        const int16_t* b = in1 + ADX_BLOCK_SAMPLES * (first + g);
        uint8_t* group = out + 2 * ADX_BLOCK_BYTES * (first + g);
        Coder ca;
        Coder cb;
        AnalyseWithTail(state0, a, tail0[g], &ca);
        AnalyseWithTail(state1, b, tail1[g], &cb);
        CodePair(state0, a, group, &ca, state1, b, group + ADX_BLOCK_BYTES, &cb);
      }
    }
    // The last block's residuals 2..31 are the last run's, as its analysis left them.
    return;
  }
#endif
  for (int g = 0; g < groups; ++g)
    AdxEncodeBlockPair(state0, in0 + ADX_BLOCK_SAMPLES * g, out + 2 * ADX_BLOCK_BYTES * g, state1,
                       in1 + ADX_BLOCK_SAMPLES * g, out + 2 * ADX_BLOCK_BYTES * g + ADX_BLOCK_BYTES);
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

namespace {

#if defined(QUILL_CODEC_SSE2)
// t x n for the 32 nibbles of an 18-byte block, in order (the high nibble of
// each byte first), each nibble sign-extended.
void ScaledNibbles(const uint8_t* block, int32_t t, int32_t* scaled) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 2));
  const __m128i scale = _mm_set1_epi16(static_cast<int16_t>(t));  // t <= 8192
  for (int half = 0; half < 2; ++half) {
    // Each byte in the high half of a 16-bit lane: arithmetic shifts give
    // its nibbles sign-extended.
    const __m128i x =
        half == 0 ? _mm_unpacklo_epi8(_mm_setzero_si128(), bytes) : _mm_unpackhi_epi8(_mm_setzero_si128(), bytes);
    const __m128i high = _mm_srai_epi16(x, 12);
    const __m128i low = _mm_srai_epi16(_mm_slli_epi16(x, 4), 12);
    for (int part = 0; part < 2; ++part) {
      const __m128i n = part == 0 ? _mm_unpacklo_epi16(high, low) : _mm_unpackhi_epi16(high, low);
      const __m128i productLow = _mm_mullo_epi16(n, scale);
      const __m128i productHigh = _mm_mulhi_epi16(n, scale);
      int32_t* to = scaled + 16 * half + 8 * part;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi16(productLow, productHigh));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 4), _mm_unpackhi_epi16(productLow, productHigh));
    }
  }
}
#endif

}  // namespace

void AdxDecodeBlockPair(const uint8_t* block0, const uint8_t* block1, int blockBytes, int32_t c1, int32_t c2,
                        int32_t* s1, int32_t* s2, int16_t* out0, int16_t* out1) {
  Decoder a{block0, out0, (AdxGetBe16(block0) & 0x1FFF) + 1, c1, c2, s1[0], s2[0]};
  Decoder b{block1, out1, (AdxGetBe16(block1) & 0x1FFF) + 1, c1, c2, s1[1], s2[1]};
#if defined(QUILL_CODEC_SSE2)
  if (blockBytes == ADX_BLOCK_BYTES && codec_simd::VectorPath()) {
    // The nibbles times t first, four at a time; then the two channels'
    // predictions side by side, DecodeNibble's arithmetic.
    int32_t scaledA[ADX_BLOCK_SAMPLES];
    int32_t scaledB[ADX_BLOCK_SAMPLES];
    ScaledNibbles(block0, a.t, scaledA);
    ScaledNibbles(block1, b.t, scaledB);
    int32_t a1 = a.h1, a2 = a.h2, b1 = b.h1, b2 = b.h2;
    for (int i = 0; i < ADX_BLOCK_SAMPLES; ++i) {
      const int32_t ya = Clamp16(scaledA[i] + ((c1 * a1 + c2 * a2) >> 12));
      const int32_t yb = Clamp16(scaledB[i] + ((c1 * b1 + c2 * b2) >> 12));
      out0[i] = static_cast<int16_t>(ya);
      out1[i] = static_cast<int16_t>(yb);
      a2 = a1;
      a1 = ya;
      b2 = b1;
      b1 = yb;
    }
    s1[0] = a1;
    s2[0] = a2;
    s1[1] = b1;
    s2[1] = b2;
    return;
  }
#endif
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
