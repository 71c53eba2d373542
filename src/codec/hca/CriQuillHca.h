// The HCA codec behind a QuillDll handle: collects interleaved 16-bit frames
// into blocks of 1024, runs each full block through the HCA filter and hands
// back the previous block's decoded frames. Output frame k is input frame
// k - 1152 after one pass through the codec (1024 frames of blocking plus the
// transform's 128); the first 1024 output frames are silence.
#pragma once

#include <cstdint>

#include "CriQuillBase.h"
#include "hca/HcaCommon.h"

namespace hca {
class HcaFilter;
}

// Frames by which one pass through the codec delays its input.
constexpr int32_t HCA_PASS_DELAY_FRAMES = hca::HCA_FRAME_SAMPLES + hca::HCA_SUBFRAME_SAMPLES;

class CriQuillHca : public CriQuillBase {
 public:
  // Takes ownership of `filter` (made for info.channels channels).
  CriQuillHca(const QuillDll::CODECINFO& info, hca::HcaFilter* filter);

  uint32_t Process(int16_t* out, uint32_t outFrames, const int16_t* in, uint32_t inFrames,
                   uint32_t* processed) override;
  uint32_t Release() override;

  const QuillDll::CODECINFO& Info() const { return info; }
  hca::HcaFilter* Filter() const { return filter; }

 private:
  ~CriQuillHca() override;
  void RunFilter();

  QuillDll::CODECINFO info;
  hca::HcaFilter* filter;  // owned; destroyed by Release
  float planes[2][hca::HCA_FRAME_SAMPLES];
  int16_t block[hca::HCA_FRAME_SAMPLES * 2];  // interleaved; 1024 x channels used
  int32_t fill;                               // frames of the current block already taken in (0..1023)
};

// The bit rate that Open asks the filter for: rate x 16 x channels / ratio of
// the quality (truncated), before the filter's limits.
int64_t HcaRequestedBitRate(int channels, double samplingRate, int quality);
