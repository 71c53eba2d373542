#include "hca/HcaFilter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "hca/HcaDecoder.h"
#include "hca/HcaEncoder.h"

namespace hca {

int HcaFilter::ClampBitRate(int channels, int samplingRate, int64_t bitRate) {
  const int64_t upper = static_cast<int64_t>(channels) * samplingRate * 16 / 4;
  const int64_t lower = channels == 1 ? 42666 : static_cast<int64_t>(channels) * 32000;
  int64_t rate = std::min(bitRate, upper);
  rate = std::max(rate, lower);  // the lower bound wins when the two cross
  return static_cast<int>(std::min<int64_t>(rate, INT32_MAX));
}

HcaFilter* HcaFilter::Create(int channels, int samplingRate, int64_t bitRate) {
  if (channels < 1 || channels > 2 || samplingRate < 1) return nullptr;
  HcaFilter* self = new (std::nothrow) HcaFilter();
  if (!self) return nullptr;
  self->m_channels = channels;
  self->m_samplingRate = samplingRate;
  self->m_bitRate = ClampBitRate(channels, samplingRate, bitRate);

  HcaEncoderStart();
  self->m_encoderStarted = true;
  HcaDecoderStart();
  self->m_decoderStarted = true;
  size_t headerSize = 0;
  size_t used = 0;
  bool ok = HcaEncoder::Create(2, self->m_encoderWork, sizeof(self->m_encoderWork), self, &self->m_encoder) == HCA_OK &&
            HcaDecoder::Create(2, 0, self->m_decoderWork, sizeof(self->m_decoderWork), &self->m_decoder) == HCA_OK &&
            self->m_encoder->SetChannels(channels, 1, 0) == HCA_OK &&
            self->m_encoder->SetSamplingRate(samplingRate, 0) == HCA_OK &&
            self->m_encoder->SetBitRate(self->m_bitRate) == HCA_OK &&
            self->m_encoder->WriteHeader(self->m_frame, sizeof(self->m_frame), &headerSize) == HCA_OK &&
            self->m_decoder->ReadHeader(self->m_frame, headerSize, &used) == HCA_OK;
  if (!ok) {
    self->Destroy();
    return nullptr;
  }
  return self;
}

HcaFilter::~HcaFilter() {
  if (m_decoder) m_decoder->Destroy();
  if (m_encoder) m_encoder->Destroy();
  if (m_decoderStarted) HcaDecoderFinish();
  if (m_encoderStarted) HcaEncoderFinish();
}

void HcaFilter::Destroy() {
  delete this;
}

int HcaFilter::Process(float* const* planes) {
  size_t frameSize = 0;
  size_t used = 0;
  int result = m_encoder->PutSamples(planes);
  if (result == HCA_OK) result = m_encoder->GetFrame(m_frame, sizeof(m_frame), &frameSize);
  if (result == HCA_OK) result = m_decoder->DecodeFrame(m_frame, frameSize, &used);
  for (int k = 0; k < HCA_SUBFRAMES && result == HCA_OK; ++k) {
    float* out[2] = {nullptr, nullptr};
    for (int c = 0; c < m_channels; ++c) out[c] = planes[c] + k * HCA_SUBFRAME_SAMPLES;
    int produced = 0;
    result = m_decoder->GetSamples(out, m_channels, HCA_SUBFRAME_SAMPLES, &produced);
    if (result == HCA_OK && produced != HCA_SUBFRAME_SAMPLES) result = HCA_ERROR_NEED_MORE;
  }
  // Neither the uncoded input nor half a frame goes out: a refused frame is silence.
  if (result != HCA_OK)
    for (int c = 0; c < m_channels; ++c) std::memset(planes[c], 0, HCA_FRAME_SAMPLES * sizeof(float));
  return result;
}

}  // namespace hca
