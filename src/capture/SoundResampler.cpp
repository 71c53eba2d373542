#include "capture/SoundResampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "support/Diag.h"

namespace {
// Output samples are clamped to this range (the stream's own limits).
constexpr double SAMPLE_MIN = -32728.0;
constexpr double SAMPLE_MAX = 32727.0;
}  // namespace

void SoundResampler::Setup(uint32_t inputRate, uint32_t outputRate, uint32_t channels) {
  m_inputRate = inputRate;
  m_outputRate = outputRate;
  m_channels = channels;
  m_rest = 0.0;
  // A block's first output position lies less than inputRate / outputRate
  // input frames before the block, so the history must reach that far back.
  m_prevFrames = PREV_NUM;
  if (inputRate > 0 && outputRate > 0) {
    double step = std::ceil(static_cast<double>(inputRate) / outputRate) + 1.0;
    if (step > m_prevFrames) m_prevFrames = static_cast<uint32_t>(step);
  }
  size_t samples = static_cast<size_t>(channels) * m_prevFrames;
  m_prev.reset(new int16_t[samples == 0 ? 1 : samples]());
}

int32_t SoundResampler::OutputBytes(uint32_t inputBytes) const {
  if (m_channels == 0 || m_inputRate == 0) return 0;
  uint32_t n = (inputBytes / 2) / m_channels;
  double frames = std::trunc((n + m_rest) * m_outputRate / m_inputRate);
  double bytes = frames * m_channels * 2;
  if (bytes > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(bytes);
}

void SoundResampler::Reserve(uint32_t knots) {
  if (m_y.size() < knots) {
    m_y.resize(knots);
    m_z.resize(knots);
    m_c.resize(knots);
    m_b.resize(knots);
    m_d.resize(knots);
  }
  if (m_factorKnots < knots) {
    // mu[i] = h[i] / (diag[i] - h[i-1] mu[i-1]) with h = 1 and diag = 4.
    m_mu.resize(knots);
    m_mu[0] = 0.0;
    for (uint32_t i = 1; i < knots; ++i) m_mu[i] = 1.0 / (4.0 - m_mu[i - 1]);
    m_factorKnots = knots;
  }
}

void SoundResampler::Convert(const int16_t* input, uint32_t inputBytes, int16_t* output, uint32_t* outputBytes) {
  QASSERT(m_prev);
  QASSERT(IsNeed());
  *outputBytes = 0;
  if (m_inputRate == 0 || m_outputRate == 0 || m_channels == 0) return;

  const uint32_t channels = m_channels;
  const uint32_t history = m_prevFrames;
  const uint32_t n = (inputBytes / 2) / channels;
  const double inputRate = m_inputRate;
  const double outputRate = m_outputRate;
  const uint32_t count = static_cast<uint32_t>(std::trunc((n + m_rest) * outputRate / inputRate));

  // Knots 0..N at positions k - history: the history, then the block's frames.
  const uint32_t N = n + history - 1;
  Reserve(N + 1);
  double* y = m_y.data();
  double* z = m_z.data();
  double* cc = m_c.data();
  double* b = m_b.data();
  double* d = m_d.data();
  const double* mu = m_mu.data();

  uint32_t written = 0;
  for (uint32_t c = 0; c < channels; ++c) {
    for (uint32_t k = 0; k < history; ++k) y[k] = m_prev[static_cast<size_t>(k) * channels + c];
    for (uint32_t k = 0; k < n; ++k) y[history + k] = input[static_cast<size_t>(k) * channels + c];

    // Natural spline: tridiagonal system for the second-order coefficients,
    // diag 4, off-diagonals 1, right-hand side 3 (y[i+1] - 2 y[i] + y[i-1]).
    z[0] = 0.0;
    for (uint32_t i = 1; i < N; ++i) {
      double alpha = 3.0 * (y[i + 1] - y[i]) - 3.0 * (y[i] - y[i - 1]);
      z[i] = (alpha - z[i - 1]) * mu[i];
    }
    cc[0] = 0.0;
    cc[N] = 0.0;
    cc[N - 1] = z[N - 1];
    for (uint32_t j = N - 1; j-- > 1;) cc[j] = z[j] - mu[j] * cc[j + 1];
    for (uint32_t j = 0; j < N; ++j) {
      b[j] = (y[j + 1] - y[j]) - (2.0 * cc[j] + cc[j + 1]) / 3.0;
      d[j] = (cc[j + 1] - cc[j]) / 3.0;
    }

    for (uint32_t o = 0; o < count; ++o) {
      double t = inputRate * o / outputRate - m_rest;
      int64_t index = static_cast<int64_t>(t) + history;
      if (t < static_cast<double>(index) - history) --index;
      QASSERT(index >= 0);
      if (index >= static_cast<int64_t>(N)) break;
      double xx = t - (static_cast<double>(index) - history);
      QASSERT(xx >= 0.0 && xx < 1.0);
      double v = ((d[index] * xx + cc[index]) * xx + b[index]) * xx + y[index];
      if (v < SAMPLE_MIN) v = SAMPLE_MIN;
      if (v > SAMPLE_MAX) v = SAMPLE_MAX;
      output[static_cast<size_t>(o) * channels + c] = static_cast<int16_t>(static_cast<int32_t>(v));
      ++written;
    }
  }

  const uint32_t frames = written / channels;
  *outputBytes = frames * channels * 2;

  m_rest = n - inputRate * frames / outputRate + m_rest;
  // frames never exceeds (n + m_rest) * outputRate / inputRate, but the two
  // roundings may leave a trace below zero.
  if (m_rest < 0.0 && m_rest > -1e-6) m_rest = 0.0;
  QASSERT(m_rest >= 0.0);

  if (n >= history) {
    memcpy(m_prev.get(), input + static_cast<size_t>(n - history) * channels, sizeof(int16_t) * channels * history);
  } else {
    memmove(m_prev.get(), m_prev.get() + static_cast<size_t>(n) * channels, sizeof(int16_t) * channels * (history - n));
    memcpy(m_prev.get() + static_cast<size_t>(history - n) * channels, input, sizeof(int16_t) * channels * n);
  }
}
