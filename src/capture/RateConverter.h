// The capture sources' sample-rate converter: the band-limited windowed-sinc
// converter (the default) or the cubic spline, chosen by the user. Both have
// the same operations; the choice takes effect when the next stream starts
// (Setup), so a running stream never changes converter halfway.
#pragma once

#include <atomic>
#include <cstdint>

#include "capture/SincResampler.h"
#include "capture/SoundResampler.h"

enum class ConverterKind : int32_t {
  SINC = 0,    // band-limited, the default
  SPLINE = 1,  // cubic spline without a low-pass filter
};

// The kind stored as a number (the registry value): anything unknown is the
// default.
ConverterKind ConverterKindFromValue(uint32_t value);

class RateConverter {
 public:
  RateConverter() = default;
  RateConverter(const RateConverter&) = delete;
  RateConverter& operator=(const RateConverter&) = delete;

  // The kind that the next Setup uses. Any thread.
  void SetKind(ConverterKind kind) { m_nextKind.store(kind, std::memory_order_relaxed); }
  ConverterKind GetNextKind() const { return m_nextKind.load(std::memory_order_relaxed); }
  // The kind of the current stream.
  ConverterKind GetKind() const { return m_kind; }

  // Starts a new stream with the kind last set.
  void Setup(uint32_t inputRate, uint32_t outputRate, uint32_t channels);
  // Room, in bytes, that Convert needs for a block of inputBytes.
  int32_t OutputBytes(uint32_t inputBytes) const;
  bool IsNeed() const;
  // Converts one block; see SincResampler and SoundResampler.
  void Convert(const int16_t* input, uint32_t inputBytes, int16_t* output, uint32_t* outputBytes);
  // Input frames that must follow a position before its output frame comes:
  // what a stream's end must be padded with to bring out its last frames.
  uint32_t GetLookahead() const { return m_kind == ConverterKind::SPLINE ? 1 : m_sinc.GetLookahead(); }
  // The read position carried to the next block, in input frames.
  double GetRest() const { return m_kind == ConverterKind::SPLINE ? m_spline.GetRest() : m_sinc.GetRest(); }

 private:
  std::atomic<ConverterKind> m_nextKind{ConverterKind::SINC};
  ConverterKind m_kind = ConverterKind::SINC;
  SincResampler m_sinc;
  SoundResampler m_spline;
};
