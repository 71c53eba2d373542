#include "hca/HcaAllocation.h"

#include "hca/HcaEncoderChannel.h"
#include "hca/HcaEncoderKernels.h"
#include "hca/HcaTables.h"

namespace hca {

namespace {

constexpr uint16_t NO_COST = 0xFFFF;

}  // namespace

// The search's bookkeeping for a new frame: each coded band's level as
// HcaTables::resolutionAt wants it, and no costs known yet.
void HcaAllocation::ResetCosts(HcaEncoderChannel& c) const {
  for (int j = 0; j < c.codedBands; ++j) {
    c.levelIndex[j] = static_cast<int16_t>(HcaTables::LEVEL_ZERO - BandLevel(c.scale[j]));
    for (uint16_t& cost : c.cost[j]) cost = NO_COST;
  }
}

// The bits of a band's 8 values at resolution r; 0 for a band without a
// scale factor. Counted once per frame and resolution.
int HcaAllocation::BandCost(HcaEncoderChannel& c, int band, int resolution) const {
  uint16_t& cost = c.cost[band][resolution];
  if (cost == NO_COST)
    cost = static_cast<uint16_t>(c.scale[band] == 0 ? 0 : BandBits(*m_tables, c.norm[band], resolution));
  return cost;
}

// Chooses the scale-factor coding width of a channel and its side bits.
void HcaAllocation::ScaleBits(HcaEncoderChannel& c) const {
  const int n = c.codedBands;
  bool any = false;
  for (int j = 0; j < n; ++j) any = any || c.scale[j] != 0;
  int bits = HCA_SCALE_WIDTH_BITS;
  int width = 0;
  if (any) {
    // Width w codes a difference d in w bits when |d| <= 2^(w-1) - 1 and
    // escapes to 6 more bits otherwise: count the differences beyond each.
    int beyond[HCA_SCALE_BITS] = {};
    for (int j = 1; j < n; ++j) {
      int d = c.scale[j] - c.scale[j - 1];
      d = d < 0 ? -d : d;
      beyond[1] += d > 0;
      beyond[2] += d > 1;
      beyond[3] += d > 3;
      beyond[4] += d > 7;
      beyond[5] += d > 15;
    }
    width = HCA_SCALE_BITS;
    bits = HCA_SCALE_WIDTH_BITS + HCA_SCALE_BITS * n;
    for (int w = 1; w < HCA_SCALE_BITS; ++w) {
      const int cost = HCA_SCALE_WIDTH_BITS + HCA_SCALE_BITS + (n - 1) * w + HCA_SCALE_BITS * beyond[w];
      if (cost < bits) {
        bits = cost;
        width = w;
      }
    }
  }
  c.scaleWidth = width;
  c.sideBits = bits + ExtraSideBits(*m_params, c.type);
}

int HcaAllocation::CountBits(int noiseLevel, int boundary) {
  const uint8_t* resolution = m_tables->resolutionAt;
  int bits = HCA_FRAME_FIXED_BITS;
  for (int ci = 0; ci < m_params->channels; ++ci) {
    HcaEncoderChannel& c = m_channels[ci];
    bits += c.sideBits;
    // Bands below the boundary at noise level - 1, the others at the level.
    for (int j = 0; j < c.codedBands; ++j)
      bits += BandCost(c, j, resolution[(j < boundary ? noiseLevel - 1 : noiseLevel) + c.levelIndex[j]]);
  }
  return bits;
}

// Groups the coded bands of every channel by scale factor: the bands of one
// scale factor share their level, so any noise level gives them one resolution.
void HcaAllocation::GroupBandsByScale() {
  int count[HCA_SCALE_FACTORS] = {};
  for (int ci = 0; ci < m_params->channels; ++ci) {
    const HcaEncoderChannel& c = m_channels[ci];
    for (int j = 0; j < c.codedBands; ++j) ++count[c.scale[j]];
  }
  m_scaleCount = 0;
  int start = 0;
  for (int scale = 1; scale < HCA_SCALE_FACTORS; ++scale) {
    m_groupStart[scale] = static_cast<int16_t>(start);
    m_groupEnd[scale] = static_cast<int16_t>(start);
    if (count[scale] == 0) continue;
    m_scales[m_scaleCount++] = static_cast<uint8_t>(scale);
    start += count[scale];
    for (int32_t& cost : m_scaleCost[scale]) cost = -1;
  }
  for (int ci = 0; ci < m_params->channels; ++ci) {
    const HcaEncoderChannel& c = m_channels[ci];
    for (int j = 0; j < c.codedBands; ++j) {
      const int scale = c.scale[j];
      if (scale != 0) m_groupBands[m_groupEnd[scale]++] = static_cast<uint16_t>(ci << 8 | j);
    }
  }
  m_sideBits = HCA_FRAME_FIXED_BITS;
  for (int ci = 0; ci < m_params->channels; ++ci) m_sideBits += m_channels[ci].sideBits;
}

// CountBits(noiseLevel, 0), summed by scale factor.
int HcaAllocation::CountBitsByScale(int noiseLevel) {
  const uint8_t* resolution = m_tables->resolutionAt + HcaTables::LEVEL_ZERO + noiseLevel;
  int bits = m_sideBits;
  for (int k = 0; k < m_scaleCount; ++k) {
    const int scale = m_scales[k];
    const int r = resolution[-BandLevel(scale)];
    int32_t& sum = m_scaleCost[scale][r];
    if (sum < 0) {
      sum = 0;
      for (int i = m_groupStart[scale]; i < m_groupEnd[scale]; ++i)
        sum += BandCost(m_channels[m_groupBands[i] >> 8], m_groupBands[i] & 0xFF, r);
    }
    bits += sum;
  }
  return bits;
}

// CountBitsByScale(noiseLevel) <= limit, counting exactly only where it must:
// a band costs at least 8 x valueBits and at most 8 x (valueBits + 1) at its
// resolution, and those bounds decide most noise levels.
bool HcaAllocation::FitsByScale(int noiseLevel, int limit) {
  const uint8_t* resolution = m_tables->resolutionAt + HcaTables::LEVEL_ZERO + noiseLevel;
  const int32_t* valueBits8 = m_tables->valueBits8;
  int low = m_sideBits;
  int high = m_sideBits;
  for (int k = 0; k < m_scaleCount; ++k) {
    const int scale = m_scales[k];
    const int r = resolution[-BandLevel(scale)];
    const int32_t sum = m_scaleCost[scale][r];
    if (sum >= 0) {
      low += sum;
      high += sum;
    } else {
      const int bands = m_groupEnd[scale] - m_groupStart[scale];
      low += bands * valueBits8[r];
      high += bands * (valueBits8[r] + HCA_SUBFRAMES);
    }
  }
  if (low > limit) return false;
  if (high <= limit) return true;
  return CountBitsByScale(noiseLevel) <= limit;
}

int HcaAllocation::Run(const HcaStreamParams& params, const HcaTables& tables, HcaEncoderChannel* channels) {
  m_params = &params;
  m_tables = &tables;
  m_channels = channels;
  const HcaStreamParams& p = params;
  for (int ci = 0; ci < p.channels; ++ci) ResetCosts(m_channels[ci]);
  m_droppedBands = 0;
  const int limit = p.frameSize * 8;
  for (;;) {
    for (int ci = 0; ci < p.channels; ++ci) ScaleBits(m_channels[ci]);
    GroupBandsByScale();
    if (FitsByScale(HCA_MAX_NOISE_LEVEL, limit)) break;
    int top = -1;
    for (int j = p.totalBands - 1; j >= 0 && top < 0; --j)
      for (int ci = 0; ci < p.channels; ++ci)
        if (m_channels[ci].scale[j] != 0) top = j;
    if (top <= 1) return HCA_ERROR_NO_ALLOCATION;
    for (int ci = 0; ci < p.channels; ++ci) {
      for (int j = top - 1; j <= top; ++j) {
        m_channels[ci].scale[j] = 0;
        for (uint16_t& cost : m_channels[ci].cost[j]) cost = 0;  // costs counted before no longer hold
      }
    }
    m_droppedBands += 2;
  }
  // The noise level: the lowest that fits with boundary 0, counted by scale factor.
  int lo = 0;
  int hi = HCA_MAX_NOISE_LEVEL;  // fits
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (FitsByScale(mid, limit))
      hi = mid;
    else
      lo = mid + 1;
  }
  const int z = lo;
  // The boundary: the highest below which the bands still fit one noise
  // level lower. What that costs over boundary 0 is a running sum over the bands.
  const uint8_t* resolution = m_tables->resolutionAt;
  int extra[HCA_BANDS + 1];
  extra[0] = 0;
  for (int j = 0; j < HCA_BANDS; ++j) {
    int more = 0;
    for (int ci = 0; ci < p.channels; ++ci) {
      HcaEncoderChannel& c = m_channels[ci];
      if (j >= c.codedBands) continue;
      const int at = resolution[z + c.levelIndex[j]];
      const int below = resolution[z - 1 + c.levelIndex[j]];
      if (below != at) more += BandCost(c, j, below) - BandCost(c, j, at);
    }
    extra[j + 1] = extra[j] + more;
  }
  const int bits = CountBitsByScale(z);
  lo = 0;  // fits (the same allocation as above)
  hi = HCA_MAX_BOUNDARY;
  while (lo < hi) {
    int mid = (lo + hi + 1) / 2;
    if (bits + extra[mid] <= limit)
      lo = mid;
    else
      hi = mid - 1;
  }
  m_noiseLevel = z;
  m_boundary = lo;
  for (int ci = 0; ci < p.channels; ++ci) {
    HcaEncoderChannel& c = m_channels[ci];
    for (int j = 0; j < HCA_BANDS; ++j) {
      int level = j < m_boundary ? z - 1 : z;
      c.resolution[j] = static_cast<uint8_t>(
          j < c.codedBands && c.scale[j] != 0 ? ResolutionFor(level, BandLevel(c.scale[j]), p.maxResolution) : 0);
    }
  }
  return HCA_OK;
}

}  // namespace hca
