#include "adx/AdxFormat.h"

#include <cmath>

const char ADX_TAG[ADX_TAG_LENGTH + 1] = "QUILLX";

bool AdxCalcCoefficients(int32_t cutoffHz, uint32_t rateHz, int32_t* c1, int32_t* c2) {
  *c1 = 0;
  *c2 = 0;
  if (cutoffHz < 0 || rateHz == 0) return false;
  // Every step is rounded to float on purpose: the coefficients of a stream
  // are part of its format, and the decoder recomputes them the same way.
  const float twoPi = 6.2831855f;
  const float s = std::sqrt(2.0f);
  const float phase = twoPi * static_cast<float>(cutoffHz) / static_cast<float>(rateHz);
  const auto x = static_cast<float>(std::cos(static_cast<double>(phase)));
  const float a = s - x;
  const float b = s - 1.0f;
  const float root = std::sqrt((a - b) * (a + b));
  const float c = (a - root) / b;
  if (!std::isfinite(c) || c < -1.0f || c > 1.0f) return false;
  const float m1 = 8192.0f * c;
  const float m2 = -4096.0f * c * c;
  *c1 = static_cast<int32_t>(m1);
  *c2 = static_cast<int32_t>(m2);
  return true;
}

int32_t AdxMinimumDataOffset(int channels, bool loop) {
  const int32_t a = 0;
  const int32_t b = 4;
  const int32_t c = 4;
  int32_t k = loop ? 57 : 33;
  if (channels > 2) k += 4 * (channels - 2);
  return c * ((a + b + c + k) / c) - b;
}
