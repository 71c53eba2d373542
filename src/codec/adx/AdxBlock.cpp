#include "adx/AdxBlock.h"

namespace {

inline int32_t Clamp16(int32_t v) {
  return v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
}

// Integer division of the nibble search, rounding half away from zero.
inline int32_t Quantise(int32_t v) {
  int32_t d = v >= 0 ? (v + 2340) / 4681 : (v - 2340) / 4681;
  return d < -8 ? -8 : (d > 7 ? 7 : d);
}

}  // namespace

void AdxEncodeBlock(AdxChannelState* state, const int16_t* in, uint8_t* block, int16_t* recon) {
  AdxPredictor* p = state->predictor;
  const int32_t c1 = p->c1;
  const int32_t c2 = p->c2;

  // Open-loop pass: residuals against the input itself, starting from the
  // closed-loop history left by the previous block, to find the block's range.
  int32_t s1 = p->s1;
  int32_t s2 = p->s2;
  int32_t maxResidual = 0;
  for (int i = 0; i < ADX_BLOCK_SAMPLES; ++i) {
    const int32_t x = in[i];
    const int32_t r = Clamp16(x - ((state->c2 * s2) >> 12) - ((state->c1 * s1) >> 12));
    state->residual[i] = static_cast<int16_t>(r);
    const int32_t magnitude = r < 0 ? -r : r;
    if (magnitude > maxResidual) maxResidual = magnitude;
    s2 = s1;
    s1 = x;
  }
  state->s1 = static_cast<int16_t>(s1);
  state->s2 = static_cast<int16_t>(s2);
  state->maxResidual = maxResidual;

  int32_t scale = (maxResidual - 1) / 7 + 1;
  if (scale > 4096) scale = 4096;
  if (scale < 1) scale = 1;
  const double gain = maxResidual != 0 ? 32767.0 / maxResidual : 32767.0;
  state->scale = static_cast<int16_t>(scale);
  state->gain = gain;

  // Closed-loop pass: every nibble is chosen against the history the decoder
  // will have, so coding errors never accumulate.
  s1 = p->s1;
  s2 = p->s2;
  for (int i = 0; i < ADX_BLOCK_SAMPLES; ++i) {
    const int32_t r = Clamp16(in[i] - ((c2 * s2) >> 12) - ((c1 * s1) >> 12));
    const int32_t v = Clamp16(static_cast<int32_t>(r * gain));
    const int32_t d = Quantise(v);
    state->nibble[i] = static_cast<int8_t>(d);
    const int32_t y = Clamp16(Clamp16(d * scale) + ((c1 * s1 + c2 * s2) >> 12));
    if (recon != nullptr) recon[i] = static_cast<int16_t>(y);
    s2 = s1;
    s1 = y;
  }
  p->s1 = static_cast<int16_t>(s1);
  p->s2 = static_cast<int16_t>(s2);

  bool allZero = true;
  for (int i = 0; i < ADX_BLOCK_SAMPLES; i += 2) {
    const auto byte = static_cast<uint8_t>(((state->nibble[i] & 0x0F) << 4) | (state->nibble[i + 1] & 0x0F));
    block[2 + i / 2] = byte;
    allZero = allZero && byte == 0;
  }
  AdxPutBe16(block, allZero ? 0u : static_cast<uint32_t>(scale - 1));
}

void AdxDecodeBlock(const uint8_t* block, int blockBytes, int32_t c1, int32_t c2, int32_t* s1, int32_t* s2,
                    uint16_t scaleXor, int16_t* out) {
  const int32_t t = ((AdxGetBe16(block) ^ scaleXor) & 0x1FFF) + 1;
  int32_t h1 = *s1;
  int32_t h2 = *s2;
  for (int i = 2; i < blockBytes; ++i) {
    const int32_t byte = block[i];
    const int32_t hi = (byte >> 4) - ((byte & 0x80) << 1 >> 4);  // sign-extended high nibble
    int32_t y = Clamp16(t * hi + ((c1 * h1 + c2 * h2) >> 12));
    *out++ = static_cast<int16_t>(y);
    h2 = h1;
    h1 = y;
    const int32_t lo = (byte & 0x0F) - ((byte & 0x08) << 1);  // sign-extended low nibble
    y = Clamp16(t * lo + ((c1 * h1 + c2 * h2) >> 12));
    *out++ = static_cast<int16_t>(y);
    h2 = h1;
    h1 = y;
  }
  *s1 = h1;
  *s2 = h2;
}
