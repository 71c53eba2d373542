#include "hca/HcaEncoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "hca/BitStream.h"
#include "hca/HcaCrc.h"
#include "hca/HcaTables.h"
#include "hca/HcaTransform.h"
#include "runtime/CodecSimd.h"

namespace hca {

namespace {

// Users of the encoder service (process-wide, as the service is). Not locked:
// start, finish and Create are serialised by the caller (HcaEncoder.h).
int s_encoderUsers = 0;

constexpr int MAX_HFR_GROUPS = 8;  // this encoder's groups: ceil(HFR bands / ceil(HFR bands / 8))

// Side bits of a channel besides its scale factors.
int ExtraSideBits(const HcaStreamParams& p, uint8_t type) {
  if (type == HCA_CHANNEL_SECONDARY) return 4 * HCA_SUBFRAMES;
  return 6 * p.hfrGroups;
}

// Quantiser level (0..N-1) of a normalised coefficient at a resolution
// (1..15); the value coded is the level - (N - 1) / 2. The level is cut on the
// grid seen from the negative end, N - 1 - trunc((1 - x) / step), the mirror
// image of trunc((x + 1) / step): the value coded for -x is exactly minus the
// one that trunc((x + 1) / step) gives for x, so the sign the transform gives
// the stream (AnalyseSubframe) changes no decoded sample. The coefficients
// are finite (the input is clipped), so the clamp needs no test
// for not-a-number.
inline int QuantiserLevel(float x, float inverseStep, float top) {
  float t = (-x + 1.0f) * inverseStep;
  t = t > 0.0f ? t : 0.0f;
  t = t < top ? t : top;
  return static_cast<int>(top) - static_cast<int>(t);
}

// Limits a frame of input to -1..1; not-a-number becomes 0.
void ClipFrame(const float* from, float* to) {
#if defined(QUILL_CODEC_SSE2)
  if (codec_simd::VectorPath()) {
    const __m128 low = _mm_set1_ps(-1.0f);
    const __m128 high = _mm_set1_ps(1.0f);
    for (int i = 0; i < HCA_FRAME_SAMPLES; i += 4) {
      __m128 v = _mm_loadu_ps(from + i);
      v = _mm_and_ps(v, _mm_cmpord_ps(v, v));
      _mm_storeu_ps(to + i, _mm_min_ps(_mm_max_ps(v, low), high));
    }
    return;
  }
#endif
  for (int i = 0; i < HCA_FRAME_SAMPLES; ++i) {
    const float v = from[i];
    to[i] = v >= -1.0f ? (v <= 1.0f ? v : 1.0f) : (v < -1.0f ? -1.0f : 0.0f);
  }
}

}  // namespace

struct HcaEncoderChannel {
  float history[HCA_SUBFRAME_SAMPLES];      // previous subframe's input
  float coef[HCA_SUBFRAMES][HCA_BANDS];     // transform output
  float norm[HCA_BANDS][HCA_SUBFRAMES];     // normalised coefficients, band by band
  uint16_t cost[HCA_BANDS][16];             // bits of a band's 8 values per resolution, as far as counted
  uint32_t code[HCA_BANDS][HCA_SUBFRAMES];  // the values' codes as written: bits << 5 | length
  int16_t levelIndex[HCA_BANDS];            // the band's level as HcaTables::resolutionAt wants it
  float hfrMean[MAX_HFR_GROUPS];
  uint8_t scale[HCA_BANDS];
  uint8_t resolution[HCA_BANDS];
  uint8_t hfrScale[MAX_HFR_GROUPS];
  uint8_t intensity[HCA_SUBFRAMES];
  uint8_t type;
  int codedBands;
  int scaleWidth;
  int sideBits;  // scale factors plus intensity or HFR data
};

int HcaEncoderStart() {
  ++s_encoderUsers;
  return HCA_OK;
}

int HcaEncoderFinish() {
  if (s_encoderUsers > 0) --s_encoderUsers;
  return HCA_OK;
}

int ComputeEncoderParams(int channels, int samplingRate, int bandwidth, int bitRate, int trackCount, int channelConfig,
                         HcaStreamParams* params, int* effectiveBitRate) {
  if (!params) return HCA_ERROR_NULL;
  if (channels < 1 || channels > HCA_MAX_CHANNELS || samplingRate < 1 || samplingRate > HCA_MAX_RATE || bitRate < 1 ||
      bandwidth < 0 || trackCount < 1 || channels % trackCount != 0 || channelConfig < 0 || channelConfig > 255)
    return HCA_ERROR_ARGUMENT;

  const int64_t ch = channels;
  const int64_t br = bitRate;
  int64_t bw = bandwidth;
  const int64_t g = bw * 32 * ch;
  const bool stereoMode = ch > 1 && g / br > 6;
  const int64_t low = stereoMode ? 8 : 6;
  const int64_t high = stereoMode ? 16 : 12;
  if (br < g / high) bw = std::min(bw, br * high / (ch * 32));

  const int64_t frameSize = (br * HCA_FRAME_SAMPLES / samplingRate) / 8;
  if (frameSize > HCA_MAX_FRAME_SIZE) return HCA_ERROR_ARGUMENT;

  const float fc = static_cast<float>(std::min(static_cast<double>(bw), static_cast<double>(br * low) / (ch * 32)));
  int total = static_cast<int>(static_cast<double>(bw) * 256.0 / samplingRate + 0.5);
  int coded = static_cast<int>(fc * 256.0 / samplingRate + 0.5);
  total = std::min(total, HCA_BANDS);
  coded = std::min(coded, total);

  HcaStreamParams p;
  p.channels = channels;
  p.samplingRate = samplingRate;
  p.frameSize = static_cast<int>(frameSize);
  p.trackCount = trackCount;
  p.channelConfig = channelConfig;
  p.totalBands = total;
  p.baseBands = low == 6 ? coded : (coded + 1) / 2;
  p.stereoBands = coded - p.baseBands;
  const int hfrBands = total - coded;
  p.bandsPerHfrGroup = hfrBands > 0 ? (hfrBands + 7) / 8 : 0;
  p.hfrGroups = HfrGroupCount(total, p.baseBands, p.stereoBands, p.bandsPerHfrGroup);

  // The frame must at least carry its sync, levels, CRC and every channel's side data.
  uint8_t types[HCA_MAX_CHANNELS];
  AssignChannelTypes(p, types);
  int64_t minimumBits = 48;
  for (int c = 0; c < channels; ++c) minimumBits += 3 + ExtraSideBits(p, types[c]);
  if (frameSize * 8 < minimumBits) return HCA_ERROR_ARGUMENT;

  *params = p;
  if (effectiveBitRate) *effectiveBitRate = static_cast<int>(frameSize * samplingRate * 8 / HCA_FRAME_SAMPLES);
  return HCA_OK;
}

size_t HcaEncoder::WorkSize(int maxChannels) {
  if (maxChannels < 1) maxChannels = 1;
  size_t head = (sizeof(HcaEncoder) + 15) & ~static_cast<size_t>(15);
  size_t channel = (sizeof(HcaEncoderChannel) + 15) & ~static_cast<size_t>(15);
  return 15 + head + channel * static_cast<size_t>(maxChannels);
}

int HcaEncoder::Create(int maxChannels, void* work, size_t workSize, void* owner, HcaEncoder** encoder) {
  if (s_encoderUsers <= 0) return HCA_ERROR_NOT_STARTED;
  if (!work || !encoder) return HCA_ERROR_NULL;
  *encoder = nullptr;
  if (maxChannels < 1 || maxChannels > HCA_MAX_CHANNELS) return HCA_ERROR_ARGUMENT;
  if (workSize < WorkSize(maxChannels)) return HCA_ERROR_BUFFER_SMALL;

  uint8_t* base = AlignWork(work);
  std::memset(base, 0, WorkSize(maxChannels) - 15);
  auto* self = new (base) HcaEncoder();
  size_t head = (sizeof(HcaEncoder) + 15) & ~static_cast<size_t>(15);
  self->m_channels = reinterpret_cast<HcaEncoderChannel*>(base + head);
  for (int c = 0; c < maxChannels; ++c) new (&self->m_channels[c]) HcaEncoderChannel();
  self->m_owner = owner;
  self->m_tables = &Tables();
  self->m_maxChannels = maxChannels;
  self->m_channelCount = std::min(2, maxChannels);
  *encoder = self;
  return HCA_OK;
}

void HcaEncoder::Destroy() {
  this->~HcaEncoder();
}

int HcaEncoder::SetChannels(int channels, int trackCount, int channelConfig) {
  if (channels < 1 || channels > m_maxChannels || trackCount < 1 || channels % trackCount != 0 || channelConfig < 0 ||
      channelConfig > 255)
    return HCA_ERROR_ARGUMENT;
  m_channelCount = channels;
  m_trackCount = trackCount;
  m_channelConfig = channelConfig;
  m_headerWritten = false;
  return HCA_OK;
}

int HcaEncoder::SetSamplingRate(int samplingRate, int bandwidthLimit) {
  if (samplingRate < 1 || samplingRate > HCA_MAX_RATE || bandwidthLimit < 0) return HCA_ERROR_ARGUMENT;
  m_samplingRate = samplingRate;
  m_bandwidthLimit = bandwidthLimit;
  m_bandwidth = samplingRate / 2;
  if (bandwidthLimit > 0 && bandwidthLimit < m_bandwidth) m_bandwidth = bandwidthLimit;
  m_headerWritten = false;
  return HCA_OK;
}

int HcaEncoder::SetBitRate(int bitRate) {
  if (bitRate < 1) return HCA_ERROR_ARGUMENT;
  m_bitRate = bitRate;
  m_headerWritten = false;
  return HCA_OK;
}

namespace {

void PutTag(uint8_t* p, const char* tag) {
  std::memcpy(p, tag, 4);
}
void Put16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void Put24(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  Put16(p + 1, v);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v >> 16);
  Put16(p + 2, v & 0xFFFF);
}

}  // namespace

int HcaEncoder::WriteHeader(uint8_t* buffer, size_t size, size_t* written) {
  if (written) *written = 0;
  if (!buffer) return HCA_ERROR_NULL;
  HcaStreamParams p;
  int effective = 0;
  int result = ComputeEncoderParams(m_channelCount, m_samplingRate, m_bandwidth, m_bitRate, m_trackCount,
                                    m_channelConfig, &p, &effective);
  if (result != HCA_OK) return result;
  if (size < static_cast<size_t>(HCA_HEADER_SIZE)) return HCA_ERROR_BUFFER_SMALL;

  uint8_t* h = buffer;
  std::memset(h, 0, HCA_HEADER_SIZE);
  PutTag(h + 0, "HCA");  // with its terminating zero
  Put16(h + 4, 0x0200);
  Put16(h + 6, HCA_HEADER_SIZE);
  PutTag(h + 8, "fmt");
  h[12] = static_cast<uint8_t>(p.channels);
  Put24(h + 13, static_cast<unsigned>(p.samplingRate));
  Put32(h + 16, p.frameCount);
  Put16(h + 20, static_cast<unsigned>(p.primingSamples));
  Put16(h + 22, static_cast<unsigned>(p.paddingSamples));
  PutTag(h + 24, "comp");
  Put16(h + 28, static_cast<unsigned>(p.frameSize));
  h[30] = static_cast<uint8_t>(p.minResolution);
  h[31] = static_cast<uint8_t>(p.maxResolution);
  h[32] = static_cast<uint8_t>(p.trackCount);
  h[33] = static_cast<uint8_t>(p.channelConfig);
  h[34] = static_cast<uint8_t>(p.totalBands);
  h[35] = static_cast<uint8_t>(p.baseBands);
  h[36] = static_cast<uint8_t>(p.stereoBands);
  h[37] = static_cast<uint8_t>(p.bandsPerHfrGroup);
  PutTag(h + 40, "ciph");
  Put16(h + 44, static_cast<unsigned>(p.cipherType));
  PutTag(h + 46, "pad");
  Put16(h + HCA_HEADER_SIZE - 2, Crc16(h, HCA_HEADER_SIZE - 2));

  uint8_t types[HCA_MAX_CHANNELS];
  AssignChannelTypes(p, types);
  for (int c = 0; c < p.channels; ++c) {
    HcaEncoderChannel& ch = m_channels[c];
    std::memset(ch.history, 0, sizeof(ch.history));
    ch.type = types[c];
    ch.codedBands = CodedBandCount(p, types[c]);
  }
  m_params = p;
  m_effectiveBitRate = effective;
  m_headerWritten = true;
  m_framePending = false;
  m_frameCounter = 0;
  if (written) *written = HCA_HEADER_SIZE;
  return HCA_OK;
}

int HcaEncoder::PutSamples(const float* const* samples) {
  if (!samples) return HCA_ERROR_NULL;
  if (!m_headerWritten) return HCA_ERROR_NO_HEADER;
  for (int c = 0; c < m_params.channels; ++c)
    if (!samples[c]) return HCA_ERROR_NULL;
  for (int c = 0; c < m_params.channels; ++c) {
    HcaEncoderChannel& ch = m_channels[c];
    // Input outside -1..1 (or not a number) is clipped so that every later
    // step works on bounded values.
    float in[HCA_FRAME_SAMPLES];
    ClipFrame(samples[c], in);
    AnalyseFrame(ch.history, in, ch.coef);
  }
  m_framePending = true;
  return HCA_OK;
}

void HcaEncoder::IntensityStereo(HcaEncoderChannel& left, HcaEncoderChannel& right) {
  const int from = m_params.baseBands;
  const int to = m_params.totalBands;
  for (int s = 0; s < HCA_SUBFRAMES; ++s) {
    float* l = left.coef[s];
    float* r = right.coef[s];
    int64_t sumL = 0, sumR = 0, sumM = 0;
    for (int j = from; j < to; ++j) {
      sumL += static_cast<int64_t>(std::fabs(l[j]) * 16777216.0);
      sumR += static_cast<int64_t>(std::fabs(r[j]) * 16777216.0);
      sumM += static_cast<int64_t>(std::fabs(l[j] + r[j]) * 16777216.0);
    }
    int index = 0;
    double gain = 1.0;
    if (sumL != 0 || sumR != 0 || sumM != 0) {
      const double sum = static_cast<double>(sumL) + static_cast<double>(sumR);
      const double h = sum > 0 ? 2.0 * static_cast<double>(sumL) / sum : 1.0;
      gain = sumM > 0 ? sum / static_cast<double>(sumM) : 1.0;
      gain = std::min(std::max(gain, 1.0), 1.4142135);
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

// HFR group means, scale factors and normalisation of one channel (steps 2 to 5).
void HcaEncoder::AnalyseBands(HcaEncoderChannel& c) {
  const HcaStreamParams& p = m_params;
  const HcaTables& t = *m_tables;
  const int hfrStart = p.baseBands + p.stereoBands;
  if (c.type != HCA_CHANNEL_SECONDARY) {
    for (int g = 0; g < p.hfrGroups && g < MAX_HFR_GROUPS; ++g) {
      int first = hfrStart + g * p.bandsPerHfrGroup;
      int last = std::min(first + p.bandsPerHfrGroup, p.totalBands);
      double sum = 0.0;
      for (int j = first; j < last; ++j)
        for (int s = 0; s < HCA_SUBFRAMES; ++s) sum += std::fabs(c.coef[s][j]);
      c.hfrMean[g] = last > first ? static_cast<float>(sum / (HCA_SUBFRAMES * (last - first))) : 0.0f;
    }
  }
  const int limit = c.type == HCA_CHANNEL_SECONDARY ? p.baseBands : p.totalBands;
  int j = 0;
#if defined(QUILL_CODEC_SSE2)
  if (codec_simd::VectorPath()) {
    // Four bands at a time: their largest magnitudes, then their values
    // normalised and turned from subframes by band into bands by subframe.
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    for (; j < HCA_BANDS; j += 4) {
      __m128 m = _mm_setzero_ps();
      for (int s = 0; s < HCA_SUBFRAMES; ++s) m = _mm_max_ps(m, _mm_and_ps(_mm_loadu_ps(c.coef[s] + j), magnitude));
      alignas(16) float largest[4];
      alignas(16) float inverse[4];
      _mm_store_ps(largest, m);
      for (int k = 0; k < 4; ++k) {
        const int index = j + k < limit ? ScaleIndexFor(t, largest[k]) : 0;
        c.scale[j + k] = static_cast<uint8_t>(index);
        inverse[k] = t.inverseScale[index];
      }
      const __m128 by = _mm_load_ps(inverse);
      for (int half = 0; half < HCA_SUBFRAMES; half += 4) {
        __m128 r0 = _mm_mul_ps(_mm_loadu_ps(c.coef[half] + j), by);
        __m128 r1 = _mm_mul_ps(_mm_loadu_ps(c.coef[half + 1] + j), by);
        __m128 r2 = _mm_mul_ps(_mm_loadu_ps(c.coef[half + 2] + j), by);
        __m128 r3 = _mm_mul_ps(_mm_loadu_ps(c.coef[half + 3] + j), by);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        _mm_storeu_ps(c.norm[j] + half, r0);
        _mm_storeu_ps(c.norm[j + 1] + half, r1);
        _mm_storeu_ps(c.norm[j + 2] + half, r2);
        _mm_storeu_ps(c.norm[j + 3] + half, r3);
      }
    }
  }
#endif
  for (; j < HCA_BANDS; ++j) {
    int index = 0;
    if (j < limit) {
      float m = 0.0f;
      for (int s = 0; s < HCA_SUBFRAMES; ++s) m = std::max(m, std::fabs(c.coef[s][j]));
      index = ScaleIndexFor(t, m);
    }
    c.scale[j] = static_cast<uint8_t>(index);
    const float inverse = t.inverseScale[index];
    for (int s = 0; s < HCA_SUBFRAMES; ++s) c.norm[j][s] = c.coef[s][j] * inverse;
  }
  // HFR scales: the source bands run down from the last coded band while the
  // target bands run up from the first uncoded one, across all groups.
  if (c.type != HCA_CHANNEL_SECONDARY) {
    int source = hfrStart - 1;
    int target = hfrStart;
    for (int g = 0; g < p.hfrGroups && g < MAX_HFR_GROUPS; ++g) {
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
        double factor = mean > 0.0 ? std::min(1.0 / mean, 1.4142135) : 1.4142135;
        value = static_cast<float>(value * factor);
      }
      c.hfrScale[g] = static_cast<uint8_t>(ScaleIndexFor(t, value));
    }
  }
}

namespace {

constexpr uint16_t NO_COST = 0xFFFF;

// The bits of a band's 8 normalised values x at resolution r (1..15):
// valueBits8[r] plus one for every value whose quantiser input u = (1 - x) x
// inverseStep[r] falls outside [wideBelow[r], wideAbove[r]) (HcaTables): the
// code lengths without quantising.
int BandBits(const HcaTables& t, const float* x, int r) {
#if defined(QUILL_CODEC_SSE2)
  if (codec_simd::VectorPath()) {
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 step = _mm_set1_ps(t.inverseStep[r]);
    const __m128 below = _mm_set1_ps(t.wideBelow[r]);
    const __m128 above = _mm_set1_ps(t.wideAbove[r]);
    const __m128 first = _mm_mul_ps(_mm_sub_ps(one, _mm_loadu_ps(x)), step);
    const __m128 second = _mm_mul_ps(_mm_sub_ps(one, _mm_loadu_ps(x + 4)), step);
    // A true test is -1 in its lane.
    __m128i wide =
        _mm_add_epi32(_mm_castps_si128(_mm_cmplt_ps(first, below)), _mm_castps_si128(_mm_cmpge_ps(first, above)));
    wide = _mm_add_epi32(wide, _mm_castps_si128(_mm_cmplt_ps(second, below)));
    wide = _mm_add_epi32(wide, _mm_castps_si128(_mm_cmpge_ps(second, above)));
    wide = _mm_add_epi32(wide, _mm_shuffle_epi32(wide, 0x4E));
    wide = _mm_add_epi32(wide, _mm_shuffle_epi32(wide, 0xB1));
    return t.valueBits8[r] - _mm_cvtsi128_si32(wide);
  }
#endif
  int bits = t.valueBits8[r];
  for (int s = 0; s < HCA_SUBFRAMES; ++s) {
    const float u = (1.0f - x[s]) * t.inverseStep[r];
    bits += (u < t.wideBelow[r]) + (u >= t.wideAbove[r]);
  }
  return bits;
}

}  // namespace

// The allocation search's bookkeeping for a new frame: each coded band's
// level as HcaTables::resolutionAt wants it, and no costs known yet.
void HcaEncoder::ResetCosts(HcaEncoderChannel& c) const {
  for (int j = 0; j < c.codedBands; ++j) {
    c.levelIndex[j] = static_cast<int16_t>(HcaTables::DISTANCE_OFFSET + 9 - BandLevel(c.scale[j]));
    for (int r = 0; r < 16; ++r) c.cost[j][r] = NO_COST;
  }
}

// The bits of a band's 8 values at resolution r; 0 for a band without a
// scale factor. Counted once per frame and resolution.
int HcaEncoder::BandCost(HcaEncoderChannel& c, int band, int resolution) const {
  uint16_t& cost = c.cost[band][resolution];
  if (cost == NO_COST)
    cost = static_cast<uint16_t>(c.scale[band] == 0 ? 0 : BandBits(*m_tables, c.norm[band], resolution));
  return cost;
}

// Chooses the scale-factor coding width of a channel and its side bits.
void HcaEncoder::ScaleBits(HcaEncoderChannel& c) const {
  const int n = c.codedBands;
  bool any = false;
  for (int j = 0; j < n; ++j) any = any || c.scale[j] != 0;
  int bits = 3;
  int width = 0;
  if (any) {
    // Width w codes a difference d in w bits when |d| <= 2^(w-1) - 1 and
    // escapes to 6 more bits otherwise: count the differences beyond each.
    int beyond[6] = {};
    for (int j = 1; j < n; ++j) {
      int d = c.scale[j] - c.scale[j - 1];
      d = d < 0 ? -d : d;
      beyond[1] += d > 0;
      beyond[2] += d > 1;
      beyond[3] += d > 3;
      beyond[4] += d > 7;
      beyond[5] += d > 15;
    }
    width = 6;
    bits = 3 + 6 * n;
    for (int w = 1; w <= 5; ++w) {
      const int cost = 9 + (n - 1) * w + 6 * beyond[w];
      if (cost < bits) {
        bits = cost;
        width = w;
      }
    }
  }
  c.scaleWidth = width;
  c.sideBits = bits + ExtraSideBits(m_params, c.type);
}

int HcaEncoder::CountBits(int noiseLevel, int boundary) {
  const uint8_t* resolution = m_tables->resolutionAt;
  int bits = 32 + 16;
  for (int ci = 0; ci < m_params.channels; ++ci) {
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
void HcaEncoder::GroupBandsByScale() {
  int count[64] = {};
  for (int ci = 0; ci < m_params.channels; ++ci) {
    const HcaEncoderChannel& c = m_channels[ci];
    for (int j = 0; j < c.codedBands; ++j) ++count[c.scale[j]];
  }
  m_scaleCount = 0;
  int start = 0;
  for (int scale = 1; scale < 64; ++scale) {
    m_groupStart[scale] = static_cast<int16_t>(start);
    m_groupEnd[scale] = static_cast<int16_t>(start);
    if (count[scale] == 0) continue;
    m_scales[m_scaleCount++] = static_cast<uint8_t>(scale);
    start += count[scale];
    for (int r = 0; r < 16; ++r) m_scaleCost[scale][r] = -1;
  }
  for (int ci = 0; ci < m_params.channels; ++ci) {
    const HcaEncoderChannel& c = m_channels[ci];
    for (int j = 0; j < c.codedBands; ++j) {
      const int scale = c.scale[j];
      if (scale != 0) m_groupBands[m_groupEnd[scale]++] = static_cast<uint16_t>(ci << 8 | j);
    }
  }
  m_sideBits = 32 + 16;
  for (int ci = 0; ci < m_params.channels; ++ci) m_sideBits += m_channels[ci].sideBits;
}

// CountBits(noiseLevel, 0), summed by scale factor.
int HcaEncoder::CountBitsByScale(int noiseLevel) {
  const uint8_t* resolution = m_tables->resolutionAt + HcaTables::DISTANCE_OFFSET + 9 + noiseLevel;
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
bool HcaEncoder::FitsByScale(int noiseLevel, int limit) {
  const uint8_t* resolution = m_tables->resolutionAt + HcaTables::DISTANCE_OFFSET + 9 + noiseLevel;
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
      high += bands * (valueBits8[r] + 8);
    }
  }
  if (low > limit) return false;
  if (high <= limit) return true;
  return CountBitsByScale(noiseLevel) <= limit;
}

// Finds the noise level and boundary (steps 7 and 8), dropping the top bands
// while even the coarsest allocation does not fit.
int HcaEncoder::Allocate() {
  const HcaStreamParams& p = m_params;
  m_droppedBands = 0;
  const int limit = p.frameSize * 8;
  for (;;) {
    for (int ci = 0; ci < p.channels; ++ci) ScaleBits(m_channels[ci]);
    GroupBandsByScale();
    if (FitsByScale(511, limit)) break;
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
  int hi = 511;  // fits
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
  hi = 127;
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

namespace {

// The code of quantised value q at resolution r: bits << 5 | length. A
// magnitude's sign bit (1 = negative) follows it, and only when it is not 0.
inline uint32_t CodeOf(int r, int q) {
  if (r <= 7) {
    const HcaCode& code = HCA_CODES[r][q + HCA_LEVELS[r] / 2];
    return static_cast<uint32_t>(code.bits) << 5 | code.length;
  }
  const uint32_t magnitude = static_cast<uint32_t>(q < 0 ? -q : q);
  const uint32_t bits = HCA_MAGNITUDE_BITS[r];
  if (magnitude == 0) return bits;
  return (magnitude << 1 | (q < 0 ? 1u : 0u)) << 5 | (bits + 1);
}

}  // namespace

// Quantises the coded bands with their final resolutions (step 9) into the
// codes WriteFrame writes (bands of resolution 0 get empty codes); returns
// the codes' bits.
int HcaEncoder::QuantiseBands(HcaEncoderChannel& c) const {
  const HcaTables& t = *m_tables;
  int total = 0;
  for (int j = 0; j < c.codedBands; ++j) {
    uint32_t* code = c.code[j];
    const int r = c.resolution[j];
    if (r == 0) {
      for (int s = 0; s < HCA_SUBFRAMES; ++s) code[s] = 0;
      continue;
    }
    const int levels = HCA_LEVELS[r];
    const auto top = static_cast<float>(levels - 1);
#if defined(QUILL_CODEC_SSE2)
    if (codec_simd::VectorPath()) {
      // QuantiserLevel on four values at a time, and their codes made from
      // the codes' rule (HcaTables::codeBelow): 0 is valueBits long and all
      // zeros; any other value is 2|v| + (v < 0) plus a resolution's offset,
      // one bit longer from wideFrom on.
      const __m128 one = _mm_set1_ps(1.0f);
      const __m128 step = _mm_set1_ps(t.inverseStep[r]);
      const __m128 zero = _mm_setzero_ps();
      const __m128 highest = _mm_set1_ps(top);
      const __m128i offset = _mm_set1_epi32(levels - 1 - levels / 2);
      const __m128i shortLength = _mm_set1_epi32(t.valueBits[r]);
      const __m128i wideFrom = _mm_set1_epi32(t.wideFrom[r] - 1);
      const __m128i narrowCode = _mm_set1_epi32(t.codeBelow[r]);
      const __m128i wideCode = _mm_set1_epi32(t.codeFrom[r]);
      __m128i length = _mm_setzero_si128();
      for (int s = 0; s < HCA_SUBFRAMES; s += 4) {
        const __m128 x = _mm_loadu_ps(c.norm[j] + s);
        const __m128 u = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_sub_ps(one, x), step), zero), highest);
        const __m128i q = _mm_sub_epi32(offset, _mm_cvttps_epi32(u));
        const __m128i sign = _mm_srai_epi32(q, 31);
        const __m128i magnitude = _mm_sub_epi32(_mm_xor_si128(q, sign), sign);
        const __m128i wide = _mm_cmpgt_epi32(magnitude, wideFrom);  // |v| >= wideFrom
        const __m128i bits =
            _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(magnitude, 1), _mm_srli_epi32(q, 31)),
                          _mm_or_si128(_mm_and_si128(wide, wideCode), _mm_andnot_si128(wide, narrowCode)));
        const __m128i isZero = _mm_cmpeq_epi32(magnitude, _mm_setzero_si128());
        const __m128i longer = _mm_sub_epi32(shortLength, wide);  // wide: -1, one bit more
        const __m128i word = _mm_or_si128(_mm_andnot_si128(isZero, _mm_slli_epi32(bits, 5)), longer);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(code + s), word);
        length = _mm_add_epi32(length, longer);
      }
      length = _mm_add_epi32(length, _mm_shuffle_epi32(length, 0x4E));
      length = _mm_add_epi32(length, _mm_shuffle_epi32(length, 0xB1));
      total += _mm_cvtsi128_si32(length);
      continue;
    }
#endif
    for (int s = 0; s < HCA_SUBFRAMES; ++s) {
      code[s] = CodeOf(r, QuantiserLevel(c.norm[j][s], t.inverseStep[r], top) - levels / 2);
      total += static_cast<int>(code[s] & 31);
    }
  }
  return total;
}

int HcaEncoder::WriteFrame(uint8_t* buffer) {
  const HcaStreamParams& p = m_params;
  const int frameSize = p.frameSize;
  std::memset(buffer, 0, static_cast<size_t>(frameSize));
  BitWriter out(buffer, static_cast<size_t>(frameSize - 2));
  out.Write(0xFFFF, 16);
  out.Write(static_cast<uint32_t>(m_noiseLevel), 9);
  out.Write(static_cast<uint32_t>(m_boundary), 7);
  for (int ci = 0; ci < p.channels; ++ci) {
    const HcaEncoderChannel& c = m_channels[ci];
    out.Write(static_cast<uint32_t>(c.scaleWidth), 3);
    if (c.scaleWidth > 0 && c.codedBands > 0) {
      out.Write(c.scale[0], 6);
      const int w = c.scaleWidth;
      const int t = (1 << (w - 1)) - 1;
      for (int j = 1; j < c.codedBands; ++j) {
        if (w == 6) {
          out.Write(c.scale[j], 6);
          continue;
        }
        int d = c.scale[j] - c.scale[j - 1];
        if (d >= -t && d <= t) {
          out.Write(static_cast<uint32_t>(d + t), w);
        } else {
          out.Write((1u << w) - 1u, w);
          out.Write(c.scale[j], 6);
        }
      }
    }
    if (c.type == HCA_CHANNEL_SECONDARY) {
      for (int s = 0; s < HCA_SUBFRAMES; ++s) out.Write(c.intensity[s], 4);
    } else {
      for (int g = 0; g < p.hfrGroups; ++g) out.Write(c.hfrScale[g], 6);
    }
  }
  int valueBits = 0;
  for (int ci = 0; ci < p.channels; ++ci) valueBits += QuantiseBands(m_channels[ci]);
  // The codes hold their bits only, so they go without masking or, once the
  // room for all of them is known, without a check each.
  const bool room = out.HasRoom(static_cast<size_t>(valueBits));
  for (int s = 0; s < HCA_SUBFRAMES; ++s) {
    for (int ci = 0; ci < p.channels; ++ci) {
      const HcaEncoderChannel& c = m_channels[ci];
      for (int j = 0; j < c.codedBands; ++j) {
        const uint32_t code = c.code[j][s];
        if (room)
          out.WriteCode(code >> 5, static_cast<int>(code & 31));
        else
          out.Write(code >> 5, static_cast<int>(code & 31));
      }
    }
  }
  out.Flush();
  if (out.Overflowed()) return HCA_ERROR_FRAME_OVERFLOW;
  if (out.BitsWritten() + 16 != static_cast<size_t>(CountBits(m_noiseLevel, m_boundary))) return HCA_ERROR_BIT_COUNT;
  Put16(buffer + frameSize - 2, Crc16(buffer, static_cast<size_t>(frameSize - 2)));
  return HCA_OK;
}

int HcaEncoder::GetFrame(uint8_t* buffer, size_t size, size_t* written) {
  if (written) *written = 0;
  if (!buffer) return HCA_ERROR_NULL;
  if (!m_headerWritten) return HCA_ERROR_NO_HEADER;
  if (size < static_cast<size_t>(m_params.frameSize)) return HCA_ERROR_BUFFER_SMALL;
  if (!m_framePending) return HCA_ERROR_ARGUMENT;
  m_framePending = false;

  const HcaStreamParams& p = m_params;
  if (p.stereoBands > 0) {
    for (int ci = 0; ci + 1 < p.channels; ++ci)
      if (m_channels[ci].type == HCA_CHANNEL_PRIMARY && m_channels[ci + 1].type == HCA_CHANNEL_SECONDARY)
        IntensityStereo(m_channels[ci], m_channels[ci + 1]);
  }
  for (int ci = 0; ci < p.channels; ++ci) {
    AnalyseBands(m_channels[ci]);
    ResetCosts(m_channels[ci]);
  }
  int result = Allocate();
  if (result == HCA_OK) result = WriteFrame(buffer);
  if (result != HCA_OK) return result;
  ++m_frameCounter;
  if (written) *written = static_cast<size_t>(p.frameSize);
  return HCA_OK;
}

}  // namespace hca
