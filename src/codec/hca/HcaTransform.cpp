#include "hca/HcaTransform.h"

#include <cmath>
#include <cstring>

#include "hca/HcaTables.h"
#include "runtime/CodecSimd.h"

namespace hca {

namespace {

constexpr int N = 128;
constexpr int M = 64;  // complex FFT size

// Every factor four times over, so that the vector form loads it into all
// four lanes at once; the scalar form reads the first.
struct DctTables {
  alignas(16) float preRe[M][4];  // exp(-i pi (n + 1/4) / N) / 8
  alignas(16) float preIm[M][4];
  alignas(16) float postRe[M][4];  // exp(-i pi k / N)
  alignas(16) float postIm[M][4];
  alignas(16) float twRe[M / 2][4];  // exp(-2 pi i k / M)
  alignas(16) float twIm[M / 2][4];
  unsigned char reverse[M];
};

void Fill(float (&to)[4], double value) {
  for (float& lane : to) lane = static_cast<float>(value);
}

const DctTables& Dct() {
  static const DctTables tables = [] {
    DctTables t{};
    const double pi = 3.14159265358979323846;
    for (int n = 0; n < M; ++n) {
      double a = -pi * (n + 0.25) / N;
      Fill(t.preRe[n], std::cos(a) / 8.0);
      Fill(t.preIm[n], std::sin(a) / 8.0);
      double b = -pi * n / N;
      Fill(t.postRe[n], std::cos(b));
      Fill(t.postIm[n], std::sin(b));
      int r = 0;
      for (int bit = 0; bit < 6; ++bit)
        if (n & (1 << bit)) r |= 1 << (5 - bit);
      t.reverse[n] = static_cast<unsigned char>(r);
    }
    for (int k = 0; k < M / 2; ++k) {
      double c = -2.0 * pi * k / M;
      Fill(t.twRe[k], std::cos(c));
      Fill(t.twIm[k], std::sin(c));
    }
    return t;
  }();
  return tables;
}

// One lane of the transform: a float, or (Lanes4) four transforms side by
// side in an SSE2 register. Both do the same operations in the same order on
// every value, so lane k of a vector transform is exactly the scalar one.
struct Lane1 {
  float v;
  static Lane1 Of(const float (&x)[4]) { return Lane1{x[0]}; }
  friend Lane1 operator+(Lane1 a, Lane1 b) { return Lane1{a.v + b.v}; }
  friend Lane1 operator-(Lane1 a, Lane1 b) { return Lane1{a.v - b.v}; }
  friend Lane1 operator*(Lane1 a, Lane1 b) { return Lane1{a.v * b.v}; }
  friend Lane1 operator-(Lane1 a) { return Lane1{-a.v}; }
};

#if defined(QUILL_CODEC_SSE2)
struct Lanes4 {
  __m128 v;
  static Lanes4 Of(const float (&x)[4]) { return Lanes4{_mm_load_ps(x)}; }
  friend Lanes4 operator+(Lanes4 a, Lanes4 b) { return Lanes4{_mm_add_ps(a.v, b.v)}; }
  friend Lanes4 operator-(Lanes4 a, Lanes4 b) { return Lanes4{_mm_sub_ps(a.v, b.v)}; }
  friend Lanes4 operator*(Lanes4 a, Lanes4 b) { return Lanes4{_mm_mul_ps(a.v, b.v)}; }
  friend Lanes4 operator-(Lanes4 a) { return Lanes4{_mm_xor_ps(a.v, _mm_set1_ps(-0.0f))}; }
};
#endif

// out[k] = 1/8 * sum over n of in[n] * cos(pi / 128 * (n + 1/2) * (k + 1/2))
// through a 64-point complex FFT (decimation in time).
template <class V>
void Dct4Of(const V* in, V* out) {
  const DctTables& t = Dct();
  V re[M];
  V im[M];
  // Pack even samples and reversed odd samples as complex values, pre-rotate,
  // and store in bit-reversed order for the in-place FFT.
  for (int n = 0; n < M; ++n) {
    const V a = in[2 * n];
    const V b = in[N - 1 - 2 * n];
    const V preRe = V::Of(t.preRe[n]);
    const V preIm = V::Of(t.preIm[n]);
    const int r = t.reverse[n];
    re[r] = a * preRe - b * preIm;
    im[r] = a * preIm + b * preRe;
  }
  for (int size = 2, step = M / 2; size <= M; size *= 2, step /= 2) {
    const int half = size / 2;
    for (int j = 0; j < half; ++j) {
      const V wr = V::Of(t.twRe[j * step]);
      const V wi = V::Of(t.twIm[j * step]);
      for (int p = j; p < M; p += size) {
        const int q = p + half;
        const V xr = re[q] * wr - im[q] * wi;
        const V xi = re[q] * wi + im[q] * wr;
        re[q] = re[p] - xr;
        im[q] = im[p] - xi;
        re[p] = re[p] + xr;
        im[p] = im[p] + xi;
      }
    }
  }
  for (int k = 0; k < M; ++k) {
    const V postRe = V::Of(t.postRe[k]);
    const V postIm = V::Of(t.postIm[k]);
    const V yr = re[k] * postRe - im[k] * postIm;
    const V yi = re[k] * postIm + im[k] * postRe;
    out[2 * k] = yr;
    out[N - 1 - 2 * k] = -yi;
  }
}

}  // namespace

void Dct4(const float* in, float* out) {
  // Lane1 is a float in all but name.
  static_assert(sizeof(Lane1) == sizeof(float), "Lane1 is a float");
  Lane1 x[N];
  Lane1 y[N];
  std::memcpy(x, in, sizeof(x));
  Dct4Of(x, y);
  std::memcpy(out, y, sizeof(y));
}

namespace {

// The windowed block of a subframe folded for the transform: x = previous
// (0..127) then samples (128..255), y = w * x.
void Fold(const float* previous, const float* samples, float* u) {
  const float* w = Tables().window;
  for (int n = 0; n < 64; ++n) {
    // -y[191 - n] - y[192 + n]
    u[n] = -w[191 - n] * samples[63 - n] - w[192 + n] * samples[64 + n];
    // y[n] - y[127 - n]  (u[64 + n])
    u[64 + n] = w[n] * previous[n] - w[127 - n] * previous[127 - n];
  }
}

// Overlap-adds the inverse transform's output (the DCT-IV of the
// coefficients, before the stream's sign) to `overlap` into 128 samples; the
// next overlap goes to `next` (which may be `overlap`).
void Unfold(const float* dct, const float* overlap, float* next, float* samples) {
  const float* w = Tables().window;
  float v[N];
  for (int n = 0; n < N; ++n) v[n] = -dct[n];
  for (int i = 0; i < 64; ++i) {
    samples[i] = w[i] * v[64 + i] + overlap[i];
    samples[64 + i] = -w[64 + i] * v[127 - i] - overlap[64 + i];
  }
  for (int i = 0; i < 64; ++i) {
    next[i] = -w[127 - i] * v[63 - i];
    next[64 + i] = w[63 - i] * v[i];
  }
}

#if defined(QUILL_CODEC_SSE2)
inline __m128 Reversed(__m128 v) {
  return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3));
}

// Fold, four n at a time.
void FoldWide(const float* previous, const float* samples, float* u) {
  const float* w = Tables().window;
  const __m128 sign = _mm_set1_ps(-0.0f);
  for (int n = 0; n < 64; n += 4) {
    const __m128 a = _mm_xor_ps(Reversed(_mm_loadu_ps(w + 188 - n)), sign);  // -w[191 - n]
    const __m128 b = Reversed(_mm_loadu_ps(samples + 60 - n));               // samples[63 - n]
    const __m128 c = _mm_loadu_ps(w + 192 + n);
    const __m128 d = _mm_loadu_ps(samples + 64 + n);
    _mm_storeu_ps(u + n, _mm_sub_ps(_mm_mul_ps(a, b), _mm_mul_ps(c, d)));
    const __m128 e = _mm_loadu_ps(w + n);
    const __m128 f = _mm_loadu_ps(previous + n);
    const __m128 g = Reversed(_mm_loadu_ps(w + 124 - n));         // w[127 - n]
    const __m128 h = Reversed(_mm_loadu_ps(previous + 124 - n));  // previous[127 - n]
    _mm_storeu_ps(u + 64 + n, _mm_sub_ps(_mm_mul_ps(e, f), _mm_mul_ps(g, h)));
  }
}

// Unfold of v = -DCT-IV (already negated), four i at a time.
void UnfoldWide(const float* v, const float* overlap, float* next, float* samples) {
  const float* w = Tables().window;
  const __m128 sign = _mm_set1_ps(-0.0f);
  for (int i = 0; i < 64; i += 4) {
    const __m128 a = _mm_mul_ps(_mm_loadu_ps(w + i), _mm_loadu_ps(v + 64 + i));
    _mm_storeu_ps(samples + i, _mm_add_ps(a, _mm_loadu_ps(overlap + i)));
    const __m128 b = _mm_mul_ps(_mm_xor_ps(_mm_loadu_ps(w + 64 + i), sign), Reversed(_mm_loadu_ps(v + 124 - i)));
    _mm_storeu_ps(samples + 64 + i, _mm_sub_ps(b, _mm_loadu_ps(overlap + 64 + i)));
  }
  for (int i = 0; i < 64; i += 4) {
    const __m128 c = _mm_xor_ps(Reversed(_mm_loadu_ps(w + 124 - i)), sign);  // -w[127 - i]
    _mm_storeu_ps(next + i, _mm_mul_ps(c, Reversed(_mm_loadu_ps(v + 60 - i))));
    const __m128 d = Reversed(_mm_loadu_ps(w + 60 - i));  // w[63 - i]
    _mm_storeu_ps(next + 64 + i, _mm_mul_ps(d, _mm_loadu_ps(v + i)));
  }
}

// Four blocks of 128 as 128 vectors (block k in lane k), and back.
void Interleave(const float* const* blocks, Lanes4* lanes) {
  for (int n = 0; n < N; n += 4) {
    __m128 r0 = _mm_loadu_ps(blocks[0] + n);
    __m128 r1 = _mm_loadu_ps(blocks[1] + n);
    __m128 r2 = _mm_loadu_ps(blocks[2] + n);
    __m128 r3 = _mm_loadu_ps(blocks[3] + n);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    lanes[n].v = r0;
    lanes[n + 1].v = r1;
    lanes[n + 2].v = r2;
    lanes[n + 3].v = r3;
  }
}

// `flip` is the sign bit to flip in every value (-0.0f) or 0.0f.
void Deinterleave(const Lanes4* lanes, float* const* blocks, __m128 flip) {
  for (int n = 0; n < N; n += 4) {
    __m128 r0 = lanes[n].v;
    __m128 r1 = lanes[n + 1].v;
    __m128 r2 = lanes[n + 2].v;
    __m128 r3 = lanes[n + 3].v;
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    _mm_storeu_ps(blocks[0] + n, _mm_xor_ps(r0, flip));
    _mm_storeu_ps(blocks[1] + n, _mm_xor_ps(r1, flip));
    _mm_storeu_ps(blocks[2] + n, _mm_xor_ps(r2, flip));
    _mm_storeu_ps(blocks[3] + n, _mm_xor_ps(r3, flip));
  }
}
#endif

}  // namespace

void AnalyseSubframe(float* history, const float* samples, float* coefficients) {
  float u[N];
  Fold(history, samples, u);
  for (int n = 0; n < N; ++n) history[n] = samples[n];
  Dct4(u, coefficients);
  for (int k = 0; k < N; ++k) coefficients[k] = -coefficients[k];
}

void AnalyseFrame(float* history, const float* samples, float (*coefficients)[N]) {
#if defined(QUILL_CODEC_SSE2)
  if (codec_simd::VectorPath()) {
    // Four subframes side by side through the transform.
    for (int first = 0; first < HCA_SUBFRAMES; first += 4) {
      float u[4][N];
      const float* blocks[4];
      float* outputs[4];
      for (int k = 0; k < 4; ++k) {
        const int s = first + k;
        FoldWide(s == 0 ? history : samples + N * (s - 1), samples + N * s, u[k]);
        blocks[k] = u[k];
        outputs[k] = coefficients[s];
      }
      Lanes4 in[N];
      Lanes4 out[N];
      Interleave(blocks, in);
      Dct4Of(in, out);
      Deinterleave(out, outputs, _mm_set1_ps(-0.0f));
    }
    std::memcpy(history, samples + N * (HCA_SUBFRAMES - 1), N * sizeof(float));
    return;
  }
#endif
  for (int s = 0; s < HCA_SUBFRAMES; ++s) AnalyseSubframe(history, samples + N * s, coefficients[s]);
}

void SynthesiseSubframe(const float* coefficients, float* overlap, float* samples) {
  float v[N];
  Dct4(coefficients, v);
  Unfold(v, overlap, overlap, samples);
}

void SynthesiseSubframes(int blocks, const float* const* coefficients, const float* const* overlaps,
                         float* const* nextOverlaps, float* const* samples) {
#if defined(QUILL_CODEC_SSE2)
  if (codec_simd::VectorPath()) {
    // Four blocks side by side through the transform, then overlapped in turn.
    static const float zeros[N] = {};
    for (int first = 0; first < blocks; first += 4) {
      const int count = blocks - first < 4 ? blocks - first : 4;
      const float* in[4] = {zeros, zeros, zeros, zeros};
      float v[4][N];
      float* outputs[4] = {v[0], v[1], v[2], v[3]};
      for (int k = 0; k < count; ++k) in[k] = coefficients[first + k];
      Lanes4 lanes[N];
      Lanes4 transformed[N];
      Interleave(in, lanes);
      Dct4Of(lanes, transformed);
      Deinterleave(transformed, outputs, _mm_set1_ps(-0.0f));  // v = -DCT-IV
      for (int k = 0; k < count; ++k)
        UnfoldWide(v[k], overlaps[first + k], nextOverlaps[first + k], samples[first + k]);
    }
    return;
  }
#endif
  for (int b = 0; b < blocks; ++b) {
    float v[N];
    Dct4(coefficients[b], v);
    Unfold(v, overlaps[b], nextOverlaps[b], samples[b]);
  }
}

}  // namespace hca
