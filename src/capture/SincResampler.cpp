#include "capture/SincResampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "support/Diag.h"

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#define QUILL_SINC_SSE 1
#endif

namespace {

// Output samples are clamped to this range (the stream's own limits).
constexpr float SAMPLE_MIN = -32728.0f;
constexpr float SAMPLE_MAX = 32727.0f;
constexpr double PI = 3.14159265358979323846;

// Modified Bessel function of the first kind, order 0 (power series), to the
// precision the float coefficients need. Its arguments here stay below 11,
// where 40 terms are plenty.
double BesselI0(double x) {
  static const struct Reciprocals {
    double value[41];
    Reciprocals() : value() {
      for (int k = 1; k <= 40; ++k) value[k] = 1.0 / (static_cast<double>(k) * k);
    }
  } kInverseSquares;
  double sum = 1.0;
  double term = 1.0;
  const double q = x * x / 4.0;
  for (int k = 1; k <= 40; ++k) {
    term *= q * kInverseSquares.value[k];
    sum += term;
    if (term < sum * 1e-13) break;
  }
  return sum;
}

// Clamps and rounds to nearest (halves away from zero).
int16_t ToSample(float v) {
  if (v < SAMPLE_MIN) v = SAMPLE_MIN;
  if (v > SAMPLE_MAX) v = SAMPLE_MAX;
  return static_cast<int16_t>(static_cast<int32_t>(v >= 0.0f ? v + 0.5f : v - 0.5f));
}

// Sum of the eight partial sums, in the order the vector code adds them.
float Sum8(const float a[8]) {
  return ((a[0] + a[4]) + (a[1] + a[5])) + ((a[2] + a[6]) + (a[3] + a[7]));
}

// One channel's dot product of the interpolated row (row + f x delta) with
// x, over blocks of 8 taps, as eight partial sums (lane j takes taps j, j + 8,
// ...). The same order of operations with and without vector instructions.
void DotRow(const float* row, const float* delta, float f, const float* x, size_t blocks, float sums[8]) {
#ifdef QUILL_SINC_SSE
  const __m128 ff = _mm_set1_ps(f);
  __m128 a0 = _mm_setzero_ps();
  __m128 a1 = _mm_setzero_ps();
  for (size_t b = 0; b < blocks; ++b, row += 8, delta += 8, x += 8) {
    const __m128 c0 = _mm_add_ps(_mm_loadu_ps(row), _mm_mul_ps(ff, _mm_loadu_ps(delta)));
    const __m128 c1 = _mm_add_ps(_mm_loadu_ps(row + 4), _mm_mul_ps(ff, _mm_loadu_ps(delta + 4)));
    a0 = _mm_add_ps(a0, _mm_mul_ps(c0, _mm_loadu_ps(x)));
    a1 = _mm_add_ps(a1, _mm_mul_ps(c1, _mm_loadu_ps(x + 4)));
  }
  _mm_storeu_ps(sums, a0);
  _mm_storeu_ps(sums + 4, a1);
#else
  for (size_t j = 0; j < 8; ++j) sums[j] = 0.0f;
  for (size_t b = 0; b < blocks; ++b, row += 8, delta += 8, x += 8) {
    for (size_t j = 0; j < 8; ++j) sums[j] += (row[j] + f * delta[j]) * x[j];
  }
#endif
}

// The same for two channels at once, sharing the interpolated row.
void DotRow2(const float* row, const float* delta, float f, const float* x, const float* y, size_t blocks,
             float sumsX[8], float sumsY[8]) {
#ifdef QUILL_SINC_SSE
  const __m128 ff = _mm_set1_ps(f);
  __m128 a0 = _mm_setzero_ps();
  __m128 a1 = _mm_setzero_ps();
  __m128 b0 = _mm_setzero_ps();
  __m128 b1 = _mm_setzero_ps();
  for (size_t b = 0; b < blocks; ++b, row += 8, delta += 8, x += 8, y += 8) {
    const __m128 c0 = _mm_add_ps(_mm_loadu_ps(row), _mm_mul_ps(ff, _mm_loadu_ps(delta)));
    const __m128 c1 = _mm_add_ps(_mm_loadu_ps(row + 4), _mm_mul_ps(ff, _mm_loadu_ps(delta + 4)));
    a0 = _mm_add_ps(a0, _mm_mul_ps(c0, _mm_loadu_ps(x)));
    a1 = _mm_add_ps(a1, _mm_mul_ps(c1, _mm_loadu_ps(x + 4)));
    b0 = _mm_add_ps(b0, _mm_mul_ps(c0, _mm_loadu_ps(y)));
    b1 = _mm_add_ps(b1, _mm_mul_ps(c1, _mm_loadu_ps(y + 4)));
  }
  _mm_storeu_ps(sumsX, a0);
  _mm_storeu_ps(sumsX + 4, a1);
  _mm_storeu_ps(sumsY, b0);
  _mm_storeu_ps(sumsY + 4, b1);
#else
  for (size_t j = 0; j < 8; ++j) sumsX[j] = sumsY[j] = 0.0f;
  for (size_t b = 0; b < blocks; ++b, row += 8, delta += 8, x += 8, y += 8) {
    for (size_t j = 0; j < 8; ++j) {
      const float c = row[j] + f * delta[j];
      sumsX[j] += c * x[j];
      sumsY[j] += c * y[j];
    }
  }
#endif
}

}  // namespace

void SincResampler::Setup(uint32_t inputRate, uint32_t outputRate, uint32_t channels) {
  // A restart at the same rates keeps the table (a source's Start may be
  // retried on every idle tick).
  const bool sameTable = !m_rows.empty() && inputRate == m_inputRate && outputRate == m_outputRate;
  m_inputRate = inputRate;
  m_outputRate = outputRate;
  m_channels = channels;
  m_length = 0;
  m_index = 0;
  m_frac = 0;
  // Equal rates need no conversion (and no table).
  if (inputRate == 0 || outputRate == 0 || channels == 0 || inputRate == outputRate) {
    m_taps = 0;
    m_rows = std::vector<float>();
    m_deltas = std::vector<float>();
    m_buffer = std::vector<float>();
    m_capacity = 0;
    return;
  }

  m_stepFrames = inputRate / outputRate;
  m_stepRemainder = inputRate % outputRate;
  m_phaseScale = static_cast<double>(PHASES) / outputRate;
  if (!sameTable) MakeTable();

  // The frames before the stream are silence: the first window's frames up
  // to its centre (position 0) are zeros.
  m_capacity = m_taps + CHUNK_FRAMES;
  m_buffer.assign(static_cast<size_t>(m_capacity) * channels, 0.0f);
  m_length = m_taps / 2 - 1;
}

void SincResampler::MakeTable() {
  const double input = m_inputRate;
  const double lower = std::min(m_inputRate, m_outputRate);
  // Cutoff and transition width in cycles per input frame.
  const double cutoff = (PASS_EDGE + STOP_EDGE) / 2.0 * lower / input;
  const double transition = (STOP_EDGE - PASS_EDGE) * lower / input;
  // Kaiser's estimates of the window's shape and length for the attenuation.
  const double beta = 0.1102 * (STOP_BAND_DB - 8.7);
  const double length = (STOP_BAND_DB - 7.95) / (2.285 * 2.0 * PI * transition) + 1.0;
  uint32_t taps = MAX_TAPS;
  if (length < MAX_TAPS) taps = (static_cast<uint32_t>(std::ceil(length)) + 7) / 8 * 8;
  m_taps = taps;
  const int32_t half = static_cast<int32_t>(taps / 2);

  // One row more than PHASES: the last is the first shifted by one frame and
  // only serves the differences. The filter is symmetric, so row PHASES - p
  // is row p reversed: only the first half of the rows is computed.
  std::vector<double> rows(static_cast<size_t>(PHASES + 1) * taps);
  const double i0Beta = BesselI0(beta);
  for (uint32_t p = 0; p <= PHASES / 2; ++p) {
    double* row = &rows[static_cast<size_t>(p) * taps];
    const double phase = static_cast<double>(p) / PHASES;
    double sum = 0.0;
    for (uint32_t m = 0; m < taps; ++m) {
      // Distance of tap m from the read position, in input frames.
      const double x = static_cast<double>(static_cast<int32_t>(m) - half + 1) - phase;
      const double r = x / half;
      const double window = BesselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0Beta;
      const double arg = 2.0 * cutoff * x;
      const double sinc = arg == 0.0 ? 1.0 : std::sin(PI * arg) / (PI * arg);
      row[m] = 2.0 * cutoff * sinc * window;
      sum += row[m];
    }
    // Unit gain at DC for every position.
    for (uint32_t m = 0; m < taps; ++m) row[m] /= sum;
    double* mirror = &rows[static_cast<size_t>(PHASES - p) * taps];
    for (uint32_t m = 0; m < taps; ++m) mirror[taps - 1 - m] = row[m];
  }
  m_rows.resize(static_cast<size_t>(PHASES) * taps);
  m_deltas.resize(static_cast<size_t>(PHASES) * taps);
  for (size_t i = 0; i < m_rows.size(); ++i) {
    m_rows[i] = static_cast<float>(rows[i]);
    m_deltas[i] = static_cast<float>(rows[i + taps] - rows[i]);
  }
}

int32_t SincResampler::OutputBytes(uint32_t inputBytes) const {
  if (m_channels == 0 || m_taps == 0) return 0;
  const uint64_t n = (inputBytes / 2) / m_channels;
  // Frames k = 0, 1, ... whose window start m_index + floor((m_frac + k x
  // step) / outputRate) leaves room for m_taps frames of the buffer.
  const uint64_t available = m_length + n;
  if (available < m_index + m_taps) return 0;
  const uint64_t last = available - m_taps - m_index;  // the largest allowed offset
  const uint64_t out = m_outputRate;
  const uint64_t in = m_inputRate;
  const uint64_t frames = ((last + 1) * out - m_frac + in - 1) / in;
  const uint64_t bytes = frames * m_channels * 2;
  if (bytes > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(bytes);
}

double SincResampler::GetRest() const {
  const double position = static_cast<double>(m_index) + (m_taps / 2 - 1) + static_cast<double>(m_frac) / m_outputRate;
  return m_length - position;
}

void SincResampler::Produce(int16_t* frame) const {
  const uint32_t taps = m_taps;
  // The row below the read position and the fraction of the way to the next.
  const double phase = m_frac * m_phaseScale;
  uint32_t p = static_cast<uint32_t>(phase);
  if (p >= PHASES) p = PHASES - 1;
  const float f = static_cast<float>(phase - p);
  const float* row = &m_rows[static_cast<size_t>(p) * taps];
  const float* delta = &m_deltas[static_cast<size_t>(p) * taps];
  const size_t start = static_cast<size_t>(m_index);
  const size_t blocks = taps / 8;

  // Partial sums in a fixed order: the result depends only on the window's
  // samples and the phase, never on where the block was cut.
  float sums[8];
  if (m_channels == 2) {
    float other[8];
    DotRow2(row, delta, f, &m_buffer[start], &m_buffer[m_capacity + start], blocks, sums, other);
    frame[0] = ToSample(Sum8(sums));
    frame[1] = ToSample(Sum8(other));
    return;
  }
  for (uint32_t c = 0; c < m_channels; ++c) {
    DotRow(row, delta, f, &m_buffer[static_cast<size_t>(c) * m_capacity + start], blocks, sums);
    frame[c] = ToSample(Sum8(sums));
  }
}

void SincResampler::Convert(const int16_t* input, uint32_t inputBytes, int16_t* output, uint32_t* outputBytes) {
  QASSERT(IsNeed());
  *outputBytes = 0;
  if (m_channels == 0 || m_taps == 0) return;

  const uint32_t channels = m_channels;
  const uint32_t n = (inputBytes / 2) / channels;
  uint32_t at = 0;
  uint32_t produced = 0;
  for (;;) {
    // A full buffer first drops the frames that no window needs any more.
    if (m_length == m_capacity) {
      const uint32_t drop = static_cast<uint32_t>(std::min<uint64_t>(m_index, m_length));
      for (uint32_t c = 0; c < channels; ++c) {
        float* b = &m_buffer[static_cast<size_t>(c) * m_capacity];
        memmove(b, b + drop, sizeof(float) * (m_length - drop));
      }
      m_length -= drop;
      m_index -= drop;
    }

    // Take as much of the block as the buffer has room for.
    const uint32_t take = std::min(n - at, m_capacity - m_length);
    for (uint32_t c = 0; c < channels; ++c) {
      float* to = &m_buffer[static_cast<size_t>(c) * m_capacity + m_length];
      const int16_t* from = input + static_cast<size_t>(at) * channels + c;
      for (uint32_t k = 0; k < take; ++k) to[k] = from[static_cast<size_t>(k) * channels];
    }
    m_length += take;
    at += take;

    // Every frame whose window is complete. A window that no longer fits
    // leaves at least CHUNK_FRAMES frames before it to drop.
    while (m_index + m_taps <= m_length) {
      Produce(output + static_cast<size_t>(produced) * channels);
      ++produced;
      m_index += m_stepFrames;
      m_frac += m_stepRemainder;
      if (m_frac >= m_outputRate) {
        m_frac -= m_outputRate;
        ++m_index;
      }
    }
    if (at == n) break;
  }
  *outputBytes = produced * channels * 2;
}
