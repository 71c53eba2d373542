// The HCA encoder's parameters, stream header and frame sequence. The frame's
// stages live beside it: analysis (HcaEncoderAnalysis.cpp), the bit
// allocation (HcaAllocation.cpp), quantising and packing (HcaEncoderPack.cpp)
// and their inner loops (HcaEncoderKernels.cpp).
#include "hca/HcaEncoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "hca/HcaCrc.h"
#include "hca/HcaEncoderChannel.h"
#include "hca/HcaEncoderKernels.h"
#include "hca/HcaTables.h"
#include "hca/HcaTransform.h"

namespace hca {

namespace {

// Users of the encoder service (process-wide, as the service is). Not locked:
// start, finish and Create are serialised by the caller (HcaEncoder.h).
int s_encoderUsers = 0;

}  // namespace

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
  int64_t minimumBits = HCA_FRAME_FIXED_BITS;
  for (int c = 0; c < channels; ++c) minimumBits += HCA_SCALE_WIDTH_BITS + ExtraSideBits(p, types[c]);
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
  PutBigEndian16(p, v);
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
  for (int ci = 0; ci < p.channels; ++ci) AnalyseBands(m_channels[ci]);
  int result = m_allocation.Run(p, *m_tables, m_channels);
  if (result == HCA_OK) result = WriteFrame(buffer);
  if (result != HCA_OK) return result;
  ++m_frameCounter;
  if (written) *written = static_cast<size_t>(p.frameSize);
  return HCA_OK;
}

}  // namespace hca
