// The HCA encoder's state of one channel for the frame in hand, shared by its
// parts: the analysis (HcaEncoderAnalysis.cpp), the bit-allocation search
// (HcaAllocation.cpp) and the quantiser and frame writer
// (HcaEncoderPack.cpp). Inside the codec only.
#pragma once

#include <cstdint>

#include "hca/HcaCommon.h"

namespace hca {

// This encoder's HFR groups: ceil(HFR bands / ceil(HFR bands / 8)), at most 8.
constexpr int HCA_MAX_HFR_GROUPS = 8;
// Side data besides the scale factors: the secondary channel of a pair codes
// an intensity index per subframe, the others a scale per HFR group.
constexpr int HCA_INTENSITY_BITS = 4;
constexpr int HCA_HFR_SCALE_BITS = 6;
constexpr int HCA_SCALE_BITS = 6;        // a scale factor written whole
constexpr int HCA_SCALE_WIDTH_BITS = 3;  // the scale-factor coding width

struct HcaEncoderChannel {
  float history[HCA_SUBFRAME_SAMPLES];        // previous subframe's input
  float coef[HCA_SUBFRAMES][HCA_BANDS];       // transform output
  float norm[HCA_BANDS][HCA_SUBFRAMES];       // normalised coefficients, band by band
  uint16_t cost[HCA_BANDS][HCA_RESOLUTIONS];  // bits of a band's 8 values per resolution, as far as counted
  uint32_t code[HCA_BANDS][HCA_SUBFRAMES];    // the values' codes as written: bits << 5 | length
  int16_t levelIndex[HCA_BANDS];              // the band's level as HcaTables::resolutionAt wants it
  float hfrMean[HCA_MAX_HFR_GROUPS];
  uint8_t scale[HCA_BANDS];
  uint8_t resolution[HCA_BANDS];
  uint8_t hfrScale[HCA_MAX_HFR_GROUPS];
  uint8_t intensity[HCA_SUBFRAMES];
  uint8_t type;
  int codedBands;
  int scaleWidth;
  int sideBits;  // scale factors plus intensity or HFR data
};

// Side bits of a channel besides its scale factors.
inline int ExtraSideBits(const HcaStreamParams& p, uint8_t type) {
  if (type == HCA_CHANNEL_SECONDARY) return HCA_INTENSITY_BITS * HCA_SUBFRAMES;
  return HCA_HFR_SCALE_BITS * p.hfrGroups;
}

// Stores v in two bytes, the high byte first, as the format stores its numbers.
inline void PutBigEndian16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

}  // namespace hca
