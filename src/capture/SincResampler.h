// Band-limited sample-rate converter for a continuous stream of interleaved
// 16-bit PCM blocks: a polyphase windowed-sinc filter (Kaiser window) whose
// cutoff follows the lower of the two rates, so that nothing between the
// output's Nyquist frequency and the input's folds back into the output.
//
// Output frame k of a stream sits at input position k x inputRate /
// outputRate, tracked exactly in integers (a frame index and a remainder in
// units of 1 / outputRate frame), so the output does not depend on how the
// stream is cut into blocks: any cut gives the same samples, bit for bit.
// Each output frame waits until the filter's whole window of input has
// arrived (half the window after its position), and the frames before the
// stream's first are silence.
//
// The filter table is made by Setup; Convert allocates nothing. One converter
// belongs to one capture source and is used by its worker thread only; Setup
// is called while that worker is stopped.
#pragma once

#include <cstdint>
#include <vector>

class SincResampler {
 public:
  // Filter rows per input frame; coefficients between two rows are
  // interpolated linearly.
  static constexpr uint32_t PHASES = 256;
  // Pass band up to PASS_EDGE, stop band from STOP_EDGE (the lower rate's
  // Nyquist frequency), both in units of the lower of the two rates; the
  // cutoff lies midway.
  static constexpr double PASS_EDGE = 0.428;
  static constexpr double STOP_EDGE = 0.5;
  // Attenuation the Kaiser window is designed for, in dB.
  static constexpr double STOP_BAND_DB = 100.0;
  // Longest filter, in input frames. Conversions that step over more than
  // about 45 input frames per output frame would need more; they get a wider
  // transition band instead.
  static constexpr uint32_t MAX_TAPS = 4096;
  // Input frames taken into the work buffer at a time.
  static constexpr uint32_t CHUNK_FRAMES = 1024;

  SincResampler() = default;
  SincResampler(const SincResampler&) = delete;
  SincResampler& operator=(const SincResampler&) = delete;

  // Starts a new stream: silent history, read position 0. Makes the filter
  // table and the work buffer for these rates.
  void Setup(uint32_t inputRate, uint32_t outputRate, uint32_t channels);

  // The exact size, in bytes, of what Convert produces from a block of
  // inputBytes (a whole number of frames).
  int32_t OutputBytes(uint32_t inputBytes) const;

  // The rates differ: blocks must be converted.
  bool IsNeed() const { return m_inputRate != m_outputRate; }

  // Converts one block. output must hold OutputBytes(inputBytes) bytes;
  // *outputBytes receives the bytes written.
  void Convert(const int16_t* input, uint32_t inputBytes, int16_t* output, uint32_t* outputBytes);

  uint32_t GetInputRate() const { return m_inputRate; }
  uint32_t GetOutputRate() const { return m_outputRate; }
  uint32_t GetChannels() const { return m_channels; }
  // The filter's length in input frames (a multiple of 8).
  uint32_t GetTaps() const { return m_taps; }
  // Input frames that must follow a position before its output frame comes.
  uint32_t GetLookahead() const { return m_taps / 2; }
  // The read position of the next output frame relative to the next block's
  // first frame, in input frames (negative: it lies in what came before).
  double GetRest() const;

 private:
  void MakeTable();
  // Computes output frame from the window at m_index and the phase m_frac.
  void Produce(int16_t* frame) const;

  uint32_t m_inputRate = 0;
  uint32_t m_outputRate = 0;
  uint32_t m_channels = 0;
  uint32_t m_taps = 0;
  // Input frames per output frame: m_stepFrames + m_stepRemainder / outputRate.
  uint32_t m_stepFrames = 0;
  uint32_t m_stepRemainder = 0;
  // Rows per unit of m_frac: PHASES / outputRate.
  double m_phaseScale = 0.0;

  // Rows 0..PHASES-1 of m_taps coefficients: the filter for a read position
  // p / PHASES of a frame past a window's centre, and each row's difference
  // to the next one.
  std::vector<float> m_rows;
  std::vector<float> m_deltas;

  // The input not yet used up, per channel (m_capacity floats each): the
  // frames from the next output's window on.
  std::vector<float> m_buffer;
  uint32_t m_capacity = 0;
  uint32_t m_length = 0;  // frames in the buffer
  // The next output frame's window starts at buffer frame m_index (which may
  // lie beyond the frames received so far); its position is m_taps / 2 - 1 +
  // m_frac / outputRate frames after that.
  uint64_t m_index = 0;
  uint32_t m_frac = 0;
};
