#include "hca/HcaTransform.h"

#include <cmath>

#include "hca/HcaTables.h"

namespace hca {

namespace {

constexpr int N = 128;
constexpr int M = 64;  // complex FFT size

struct DctTables {
  float preRe[M], preIm[M];        // exp(-i pi (n + 1/4) / N) / 8
  float postRe[M], postIm[M];      // exp(-i pi k / N)
  float twRe[M / 2], twIm[M / 2];  // exp(-2 pi i k / M)
  unsigned char reverse[M];
};

const DctTables& Dct() {
  static const DctTables tables = [] {
    DctTables t{};
    const double pi = 3.14159265358979323846;
    for (int n = 0; n < M; ++n) {
      double a = -pi * (n + 0.25) / N;
      t.preRe[n] = static_cast<float>(std::cos(a) / 8.0);
      t.preIm[n] = static_cast<float>(std::sin(a) / 8.0);
      double b = -pi * n / N;
      t.postRe[n] = static_cast<float>(std::cos(b));
      t.postIm[n] = static_cast<float>(std::sin(b));
      int r = 0;
      for (int bit = 0; bit < 6; ++bit)
        if (n & (1 << bit)) r |= 1 << (5 - bit);
      t.reverse[n] = static_cast<unsigned char>(r);
    }
    for (int k = 0; k < M / 2; ++k) {
      double c = -2.0 * pi * k / M;
      t.twRe[k] = static_cast<float>(std::cos(c));
      t.twIm[k] = static_cast<float>(std::sin(c));
    }
    return t;
  }();
  return tables;
}

}  // namespace

void Dct4(const float* in, float* out) {
  const DctTables& t = Dct();
  float re[M];
  float im[M];
  // Pack even samples and reversed odd samples as complex values, pre-rotate,
  // and store in bit-reversed order for the in-place FFT.
  for (int n = 0; n < M; ++n) {
    float a = in[2 * n];
    float b = in[N - 1 - 2 * n];
    int r = t.reverse[n];
    re[r] = a * t.preRe[n] - b * t.preIm[n];
    im[r] = a * t.preIm[n] + b * t.preRe[n];
  }
  for (int size = 2, step = M / 2; size <= M; size *= 2, step /= 2) {
    int half = size / 2;
    for (int base = 0; base < M; base += size) {
      for (int j = 0; j < half; ++j) {
        float wr = t.twRe[j * step];
        float wi = t.twIm[j * step];
        int p = base + j;
        int q = p + half;
        float xr = re[q] * wr - im[q] * wi;
        float xi = re[q] * wi + im[q] * wr;
        re[q] = re[p] - xr;
        im[q] = im[p] - xi;
        re[p] += xr;
        im[p] += xi;
      }
    }
  }
  for (int k = 0; k < M; ++k) {
    float yr = re[k] * t.postRe[k] - im[k] * t.postIm[k];
    float yi = re[k] * t.postIm[k] + im[k] * t.postRe[k];
    out[2 * k] = yr;
    out[N - 1 - 2 * k] = -yi;
  }
}

void AnalyseSubframe(float* history, const float* samples, float* coefficients) {
  const float* w = Tables().window;
  float u[N];
  // x = history (0..127) then samples (128..255); y = w * x, folded.
  for (int n = 0; n < 64; ++n) {
    // -y[191 - n] - y[192 + n]
    u[n] = -w[191 - n] * samples[63 - n] - w[192 + n] * samples[64 + n];
    // y[n] - y[127 - n]  (u[64 + n])
    u[64 + n] = w[n] * history[n] - w[127 - n] * history[127 - n];
  }
  for (int n = 0; n < N; ++n) history[n] = samples[n];
  Dct4(u, coefficients);
  for (int k = 0; k < N; ++k) coefficients[k] = -coefficients[k];
}

void SynthesiseSubframe(const float* coefficients, float* overlap, float* samples) {
  const float* w = Tables().window;
  float v[N];
  Dct4(coefficients, v);
  for (int n = 0; n < N; ++n) v[n] = -v[n];
  for (int i = 0; i < 64; ++i) {
    samples[i] = w[i] * v[64 + i] + overlap[i];
    samples[64 + i] = -w[64 + i] * v[127 - i] - overlap[64 + i];
  }
  for (int i = 0; i < 64; ++i) {
    overlap[i] = -w[127 - i] * v[63 - i];
    overlap[64 + i] = w[63 - i] * v[i];
  }
}

}  // namespace hca
