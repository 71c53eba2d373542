#include "hca/HcaEncoderKernels.h"

#include <algorithm>
#include <cmath>

#include "runtime/CodecSimd.h"

namespace hca {

namespace {

// ---- scalar forms: the references ----

void ClipFrameScalar(const float* from, float* to) {
  for (int i = 0; i < HCA_FRAME_SAMPLES; ++i) {
    const float v = from[i];
    to[i] = v >= -1.0f ? (v <= 1.0f ? v : 1.0f) : (v < -1.0f ? -1.0f : 0.0f);
  }
}

void ScaleAndNormaliseScalar(const HcaTables& t, const float (*coef)[HCA_BANDS], int limit, uint8_t* scale,
                             float (*norm)[HCA_SUBFRAMES]) {
  for (int j = 0; j < HCA_BANDS; ++j) {
    int index = 0;
    if (j < limit) {
      float m = 0.0f;
      for (int s = 0; s < HCA_SUBFRAMES; ++s) m = std::max(m, std::fabs(coef[s][j]));
      index = ScaleIndexFor(t, m);
    }
    scale[j] = static_cast<uint8_t>(index);
    const float inverse = t.inverseScale[index];
    for (int s = 0; s < HCA_SUBFRAMES; ++s) norm[j][s] = coef[s][j] * inverse;
  }
}

int BandBitsScalar(const HcaTables& t, const float* x, int r) {
  int bits = t.valueBits8[r];
  for (int s = 0; s < HCA_SUBFRAMES; ++s) {
    const float u = (1.0f - x[s]) * t.inverseStep[r];
    bits += (u < t.wideBelow[r]) + (u >= t.wideAbove[r]);
  }
  return bits;
}

// Quantiser level (0..N-1) of a normalised coefficient at a resolution
// (1..15); the value coded is the level - (N - 1) / 2. The level is cut on the
// grid seen from the negative end, N - 1 - trunc((1 - x) / step), the mirror
// image of trunc((x + 1) / step): the value coded for -x is exactly minus the
// one that trunc((x + 1) / step) gives for x, so the sign the transform gives
// the stream (AnalyseSubframe) changes no decoded sample. The coefficients
// are finite (the input is clipped), so the clamp needs no test
// for not-a-number.
inline int QuantiserLevel(float x, float inverseStep, float top) {
  float t = (-x + 1.0f) * inverseStep;
  t = t > 0.0f ? t : 0.0f;
  t = t < top ? t : top;
  return static_cast<int>(top) - static_cast<int>(t);
}

// The code of quantised value q at resolution r: bits << 5 | length. A
// magnitude's sign bit (1 = negative) follows it, and only when it is not 0.
inline uint32_t CodeOf(int r, int q) {
  if (r <= 7) {
    const HcaCode& code = HCA_CODES[r][q + HCA_LEVELS[r] / 2];
    return static_cast<uint32_t>(code.bits) << 5 | code.length;
  }
  const uint32_t magnitude = static_cast<uint32_t>(q < 0 ? -q : q);
  const uint32_t bits = HCA_MAGNITUDE_BITS[r];
  if (magnitude == 0) return bits;
  return (magnitude << 1 | (q < 0 ? 1u : 0u)) << 5 | (bits + 1);
}

int QuantiseBandScalar(const HcaTables& t, const float* x, int r, uint32_t* code) {
  const int levels = HCA_LEVELS[r];
  const auto top = static_cast<float>(levels - 1);
  int total = 0;
  for (int s = 0; s < HCA_SUBFRAMES; ++s) {
    code[s] = CodeOf(r, QuantiserLevel(x[s], t.inverseStep[r], top) - levels / 2);
    total += static_cast<int>(code[s] & 31);
  }
  return total;
}

#if defined(QUILL_CODEC_SSE2)

// ---- SSE2 forms: the same results, four lanes at a time ----

void ClipFrameSse2(const float* from, float* to) {
  const __m128 low = _mm_set1_ps(-1.0f);
  const __m128 high = _mm_set1_ps(1.0f);
  for (int i = 0; i < HCA_FRAME_SAMPLES; i += 4) {
    __m128 v = _mm_loadu_ps(from + i);
    v = _mm_and_ps(v, _mm_cmpord_ps(v, v));
    _mm_storeu_ps(to + i, _mm_min_ps(_mm_max_ps(v, low), high));
  }
}

// Four bands at a time: their largest magnitudes, then their values
// normalised and turned from subframes by band into bands by subframe.
void ScaleAndNormaliseSse2(const HcaTables& t, const float (*coef)[HCA_BANDS], int limit, uint8_t* scale,
                           float (*norm)[HCA_SUBFRAMES]) {
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  for (int j = 0; j < HCA_BANDS; j += 4) {
    __m128 m = _mm_setzero_ps();
    for (int s = 0; s < HCA_SUBFRAMES; ++s) m = _mm_max_ps(m, _mm_and_ps(_mm_loadu_ps(coef[s] + j), magnitude));
    alignas(16) float largest[4];
    alignas(16) float inverse[4];
    _mm_store_ps(largest, m);
    for (int k = 0; k < 4; ++k) {
      const int index = j + k < limit ? ScaleIndexFor(t, largest[k]) : 0;
      scale[j + k] = static_cast<uint8_t>(index);
      inverse[k] = t.inverseScale[index];
    }
    const __m128 by = _mm_load_ps(inverse);
    for (int half = 0; half < HCA_SUBFRAMES; half += 4) {
      __m128 r0 = _mm_mul_ps(_mm_loadu_ps(coef[half] + j), by);
      __m128 r1 = _mm_mul_ps(_mm_loadu_ps(coef[half + 1] + j), by);
      __m128 r2 = _mm_mul_ps(_mm_loadu_ps(coef[half + 2] + j), by);
      __m128 r3 = _mm_mul_ps(_mm_loadu_ps(coef[half + 3] + j), by);
      _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
      _mm_storeu_ps(norm[j] + half, r0);
      _mm_storeu_ps(norm[j + 1] + half, r1);
      _mm_storeu_ps(norm[j + 2] + half, r2);
      _mm_storeu_ps(norm[j + 3] + half, r3);
    }
  }
}

int BandBitsSse2(const HcaTables& t, const float* x, int r) {
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 step = _mm_set1_ps(t.inverseStep[r]);
  const __m128 below = _mm_set1_ps(t.wideBelow[r]);
  const __m128 above = _mm_set1_ps(t.wideAbove[r]);
  const __m128 first = _mm_mul_ps(_mm_sub_ps(one, _mm_loadu_ps(x)), step);
  const __m128 second = _mm_mul_ps(_mm_sub_ps(one, _mm_loadu_ps(x + 4)), step);
  // A true test is -1 in its lane.
  __m128i wide =
      _mm_add_epi32(_mm_castps_si128(_mm_cmplt_ps(first, below)), _mm_castps_si128(_mm_cmpge_ps(first, above)));
  wide = _mm_add_epi32(wide, _mm_castps_si128(_mm_cmplt_ps(second, below)));
  wide = _mm_add_epi32(wide, _mm_castps_si128(_mm_cmpge_ps(second, above)));
  wide = _mm_add_epi32(wide, _mm_shuffle_epi32(wide, 0x4E));
  wide = _mm_add_epi32(wide, _mm_shuffle_epi32(wide, 0xB1));
  return t.valueBits8[r] - _mm_cvtsi128_si32(wide);
}

// QuantiserLevel on four values at a time, and their codes made from the
// codes' rule (HcaTables::codeBelow): 0 is valueBits long and all zeros; any
// other value is 2|v| + (v < 0) plus a resolution's offset, one bit longer
// from wideFrom on.
int QuantiseBandSse2(const HcaTables& t, const float* x, int r, uint32_t* code) {
  const int levels = HCA_LEVELS[r];
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 step = _mm_set1_ps(t.inverseStep[r]);
  const __m128 zero = _mm_setzero_ps();
  const __m128 highest = _mm_set1_ps(static_cast<float>(levels - 1));
  const __m128i offset = _mm_set1_epi32(levels - 1 - levels / 2);
  const __m128i shortLength = _mm_set1_epi32(t.valueBits[r]);
  const __m128i wideFrom = _mm_set1_epi32(t.wideFrom[r] - 1);
  const __m128i narrowCode = _mm_set1_epi32(t.codeBelow[r]);
  const __m128i wideCode = _mm_set1_epi32(t.codeFrom[r]);
  __m128i length = _mm_setzero_si128();
  for (int s = 0; s < HCA_SUBFRAMES; s += 4) {
    const __m128 v = _mm_loadu_ps(x + s);
    const __m128 u = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_sub_ps(one, v), step), zero), highest);
    const __m128i q = _mm_sub_epi32(offset, _mm_cvttps_epi32(u));
    const __m128i sign = _mm_srai_epi32(q, 31);
    const __m128i magnitude = _mm_sub_epi32(_mm_xor_si128(q, sign), sign);
    const __m128i wide = _mm_cmpgt_epi32(magnitude, wideFrom);  // |v| >= wideFrom
    const __m128i bits = _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(magnitude, 1), _mm_srli_epi32(q, 31)),
                                       _mm_or_si128(_mm_and_si128(wide, wideCode), _mm_andnot_si128(wide, narrowCode)));
    const __m128i isZero = _mm_cmpeq_epi32(magnitude, _mm_setzero_si128());
    const __m128i longer = _mm_sub_epi32(shortLength, wide);  // wide: -1, one bit more
    const __m128i word = _mm_or_si128(_mm_andnot_si128(isZero, _mm_slli_epi32(bits, 5)), longer);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(code + s), word);
    length = _mm_add_epi32(length, longer);
  }
  length = _mm_add_epi32(length, _mm_shuffle_epi32(length, 0x4E));
  length = _mm_add_epi32(length, _mm_shuffle_epi32(length, 0xB1));
  return _mm_cvtsi128_si32(length);
}

#endif

}  // namespace

void ClipFrame(const float* from, float* to) {
#if defined(QUILL_CODEC_SSE2)
  if (codec_simd::VectorPath()) {
    ClipFrameSse2(from, to);
    return;
  }
#endif
  ClipFrameScalar(from, to);
}

void ScaleAndNormalise(const HcaTables& t, const float (*coef)[HCA_BANDS], int limit, uint8_t* scale,
                       float (*norm)[HCA_SUBFRAMES]) {
#if defined(QUILL_CODEC_SSE2)
  if (codec_simd::VectorPath()) {
    ScaleAndNormaliseSse2(t, coef, limit, scale, norm);
    return;
  }
#endif
  ScaleAndNormaliseScalar(t, coef, limit, scale, norm);
}

int BandBits(const HcaTables& t, const float* x, int r) {
#if defined(QUILL_CODEC_SSE2)
  if (codec_simd::VectorPath()) return BandBitsSse2(t, x, r);
#endif
  return BandBitsScalar(t, x, r);
}

int QuantiseBand(const HcaTables& t, const float* x, int r, uint32_t* code) {
#if defined(QUILL_CODEC_SSE2)
  if (codec_simd::VectorPath()) return QuantiseBandSse2(t, x, r, code);
#endif
  return QuantiseBandScalar(t, x, r, code);
}

}  // namespace hca
