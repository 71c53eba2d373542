// The bit allocation of an HCA frame. Every coded band's resolution follows
// from its scale factor and the frame's noise level z (z - 1 for the bands
// below the frame's boundary b), and so does the frame's size in bits: the
// fixed bits, each channel's side data and the codes of every coded band's 8
// values at its resolution. The search picks the lowest noise level whose
// frame fits with boundary 0, then the highest boundary below which the
// bands still fit one noise level lower, so that the frame is filled as far
// as it can be; while even the coarsest allocation (noise level 511) does not
// fit, the top two coded bands are dropped. The frame writer pads what the
// values leave of the frame.
#pragma once

#include <cstdint>

#include "hca/HcaCommon.h"

namespace hca {

struct HcaEncoderChannel;
struct HcaTables;

class HcaAllocation {
 public:
  // Allocates the frame of `params` for channels[0 .. params.channels), whose
  // types, coded band counts, scale factors and normalised values are set:
  // sets each channel's scale-factor coding width, side bits and resolutions
  // (and clears the scale factors of dropped bands). The channels and tables
  // must outlive the next call. HCA_ERROR_NO_ALLOCATION when nothing fits
  // even with all but the lowest two bands dropped.
  int Run(const HcaStreamParams& params, const HcaTables& tables, HcaEncoderChannel* channels);

  int NoiseLevel() const { return m_noiseLevel; }
  int Boundary() const { return m_boundary; }
  int DroppedBands() const { return m_droppedBands; }

  // The frame's bits for a noise level and boundary after Run: the definition
  // that the search counts faster, grouped by scale factor.
  int CountBits(int noiseLevel, int boundary);

 private:
  void ResetCosts(HcaEncoderChannel& c) const;
  int BandCost(HcaEncoderChannel& c, int band, int resolution) const;
  void ScaleBits(HcaEncoderChannel& c) const;
  void GroupBandsByScale();
  int CountBitsByScale(int noiseLevel);
  bool FitsByScale(int noiseLevel, int limit);

  const HcaStreamParams* m_params = nullptr;
  const HcaTables* m_tables = nullptr;
  HcaEncoderChannel* m_channels = nullptr;
  int m_noiseLevel = 0;
  int m_boundary = 0;
  int m_droppedBands = 0;

  // The bands grouped by scale factor (m_groupBands[m_groupStart[s] ..
  // m_groupEnd[s]] hold channel << 8 | band), the scale factors present,
  // their bands' costs summed per resolution as far as counted (-1: not yet),
  // and the frame's bits besides the values.
  uint16_t m_groupBands[HCA_MAX_CHANNELS * HCA_BANDS] = {};
  int16_t m_groupStart[HCA_SCALE_FACTORS] = {};
  int16_t m_groupEnd[HCA_SCALE_FACTORS] = {};
  uint8_t m_scales[HCA_SCALE_FACTORS] = {};
  int m_scaleCount = 0;
  int32_t m_scaleCost[HCA_SCALE_FACTORS][HCA_RESOLUTIONS] = {};
  int m_sideBits = 0;
};

}  // namespace hca
