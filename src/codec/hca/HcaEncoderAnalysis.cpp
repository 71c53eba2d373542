// The HCA encoder's analysis of a frame's coefficients: intensity stereo for
// the upper bands of a pair, then per channel the HFR groups' mean
// magnitudes, the scale factors, the normalised values and the HFR scales.
#include <algorithm>
#include <cmath>

#include "hca/HcaEncoder.h"
#include "hca/HcaEncoderChannel.h"
#include "hca/HcaEncoderKernels.h"
#include "hca/HcaTables.h"

namespace hca {

namespace {

// The largest gain either analysis applies: the intensity-coded sum's and an
// HFR scale's (about the square root of 2).
constexpr double MAX_GAIN = 1.4142135;

// Magnitudes are summed as 8.24 fixed-point integers, so that the sums do
// not depend on the order of the additions.
constexpr double FIXED_POINT_ONE = 16777216.0;

}  // namespace

// The upper bands of a pair (base .. total) travel once, on the left: the
// sum of the two sides, scaled so that its magnitude is the two sides'
// together (a gain of 1 to MAX_GAIN), and per subframe an index that places
// it between the sides. The decoder plays t x the sum on the left and
// (2 - t) x it on the right, t = (14 - index) / 7; the index follows the
// left's share h of the two sides' magnitudes (2 x left / (left + right)):
// the first k with h > (27 - 2k) / 14, 14 when none. An index of 0 or 14
// (the sound all on one side) is kept for a side that is silent indeed.
void HcaEncoder::IntensityStereo(HcaEncoderChannel& left, HcaEncoderChannel& right) {
  const int from = m_params.baseBands;
  const int to = m_params.totalBands;
  for (int s = 0; s < HCA_SUBFRAMES; ++s) {
    float* l = left.coef[s];
    float* r = right.coef[s];
    int64_t sumL = 0, sumR = 0, sumM = 0;
    for (int j = from; j < to; ++j) {
      sumL += static_cast<int64_t>(std::fabs(l[j]) * FIXED_POINT_ONE);
      sumR += static_cast<int64_t>(std::fabs(r[j]) * FIXED_POINT_ONE);
      sumM += static_cast<int64_t>(std::fabs(l[j] + r[j]) * FIXED_POINT_ONE);
    }
    int index = 0;
    double gain = 1.0;
    if (sumL != 0 || sumR != 0 || sumM != 0) {
      const double sum = static_cast<double>(sumL) + static_cast<double>(sumR);
      const double h = sum > 0 ? 2.0 * static_cast<double>(sumL) / sum : 1.0;
      gain = sumM > 0 ? sum / static_cast<double>(sumM) : 1.0;
      gain = std::min(std::max(gain, 1.0), MAX_GAIN);
      index = 14;
      for (int k = 0; k < 14; ++k) {
        if (h > (27.0 - 2.0 * k) / 14.0) {
          index = k;
          break;
        }
      }
      if (index == 0 && sumR > 0) index = 1;
      if (index == 14 && sumL > 0) index = 13;
    }
    right.intensity[s] = static_cast<uint8_t>(index);
    const float half = static_cast<float>(gain * 0.5);
    for (int j = from; j < to; ++j) {
      l[j] = (l[j] + r[j]) * half;
      r[j] = 0.0f;
    }
  }
}

// One channel's bands for the allocation: the mean magnitude of each HFR
// group (before normalisation), every coded band's scale factor (the first
// whose scale exceeds the band's largest magnitude) and its values divided
// by that scale, then each HFR group's scale: the group's mean magnitude
// over the normalised mean of the source bands that the decoder copies into
// it (a factor of at most MAX_GAIN), so that the copies come out at about
// the group's level.
void HcaEncoder::AnalyseBands(HcaEncoderChannel& c) {
  const HcaStreamParams& p = m_params;
  const HcaTables& t = *m_tables;
  const int hfrStart = p.baseBands + p.stereoBands;
  if (c.type != HCA_CHANNEL_SECONDARY) {
    for (int g = 0; g < p.hfrGroups && g < HCA_MAX_HFR_GROUPS; ++g) {
      int first = hfrStart + g * p.bandsPerHfrGroup;
      int last = std::min(first + p.bandsPerHfrGroup, p.totalBands);
      double sum = 0.0;
      for (int j = first; j < last; ++j)
        for (int s = 0; s < HCA_SUBFRAMES; ++s) sum += std::fabs(c.coef[s][j]);
      c.hfrMean[g] = last > first ? static_cast<float>(sum / (HCA_SUBFRAMES * (last - first))) : 0.0f;
    }
  }
  const int limit = c.type == HCA_CHANNEL_SECONDARY ? p.baseBands : p.totalBands;
  ScaleAndNormalise(t, c.coef, limit, c.scale, c.norm);
  // HFR scales: the source bands run down from the last coded band while the
  // target bands run up from the first uncoded one, across all groups.
  if (c.type != HCA_CHANNEL_SECONDARY) {
    int source = hfrStart - 1;
    int target = hfrStart;
    for (int g = 0; g < p.hfrGroups && g < HCA_MAX_HFR_GROUPS; ++g) {
      double sum = 0.0;
      int count = 0;
      for (int k = 0; k < p.bandsPerHfrGroup && target < p.totalBands; ++k, --source, ++target) {
        if (source < 0 || c.scale[source] == 0) continue;
        for (int s = 0; s < HCA_SUBFRAMES; ++s) sum += std::fabs(c.norm[source][s]);
        count += HCA_SUBFRAMES;
      }
      float value = c.hfrMean[g];
      if (count > 0) {
        double mean = sum / count;
        double factor = mean > 0.0 ? std::min(1.0 / mean, MAX_GAIN) : MAX_GAIN;
        value = static_cast<float>(value * factor);
      }
      c.hfrScale[g] = static_cast<uint8_t>(ScaleIndexFor(t, value));
    }
  }
}

}  // namespace hca
