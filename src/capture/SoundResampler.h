// Sample-rate converter for a continuous stream of interleaved 16-bit PCM
// blocks. Each block is interpolated with a natural cubic spline through the
// block's frames and the last frames of the stream before it; a fractional
// read position and that history carry the stream from one block to the next,
// so blocks of any length give one seamless output stream.
//
// One converter belongs to one capture source and is used by its worker
// thread only; Setup is called while that worker is stopped.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class SoundResampler {
 public:
  // Frames of history kept between blocks. Conversions that step over more
  // than PREV_NUM - 1 input frames per output frame keep correspondingly more,
  // so that the first output position of a block always lies in the history.
  static constexpr uint32_t PREV_NUM = 8;

  SoundResampler() = default;
  SoundResampler(const SoundResampler&) = delete;
  SoundResampler& operator=(const SoundResampler&) = delete;
  virtual ~SoundResampler() = default;

  // Starts a new stream: silent history, read position 0.
  void Setup(uint32_t inputRate, uint32_t outputRate, uint32_t channels);

  // Room, in bytes, that Convert needs for a block of inputBytes.
  int32_t OutputBytes(uint32_t inputBytes) const;

  // The rates differ: blocks must be converted.
  bool IsNeed() const { return m_inputRate != m_outputRate; }

  // Converts one block. output must hold OutputBytes(inputBytes) bytes;
  // *outputBytes receives the bytes written, a whole number of frames.
  void Convert(const int16_t* input, uint32_t inputBytes, int16_t* output, uint32_t* outputBytes);

  uint32_t GetInputRate() const { return m_inputRate; }
  uint32_t GetOutputRate() const { return m_outputRate; }
  uint32_t GetChannels() const { return m_channels; }
  // The fractional read position carried to the next block, in input frames.
  double GetRest() const { return m_rest; }
  // The history: GetHistoryFrames() frames, interleaved, oldest first.
  uint32_t GetHistoryFrames() const { return m_prevFrames; }
  const int16_t* GetHistory() const { return m_prev.get(); }

 private:
  // Makes the work arrays hold at least knots entries.
  void Reserve(uint32_t knots);

  uint32_t m_inputRate = 0;
  uint32_t m_outputRate = 0;
  uint32_t m_channels = 0;
  double m_rest = 0.0;
  // The last m_prevFrames input frames, interleaved, oldest first (owned).
  // Null before the first Setup.
  std::unique_ptr<int16_t[]> m_prev;
  uint32_t m_prevFrames = 0;

  // Work arrays, kept between calls so that a steady stream allocates nothing.
  // The knots are one apart, so the elimination factors of the tridiagonal
  // solve do not depend on the samples: m_inverse[i] = 1 / (4 - mu[i-1]) and
  // m_mu[i] are computed once for the longest block seen.
  std::vector<double> m_mu;
  std::vector<double> m_inverse;
  std::vector<double> m_y;
  std::vector<double> m_z;
  std::vector<double> m_c;
  std::vector<double> m_b;
  std::vector<double> m_d;
  uint32_t m_factorKnots = 0;
};
