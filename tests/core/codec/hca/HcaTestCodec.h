// An HCA encoder and decoder in their own work areas, set up as QuillDll's
// filter sets them up, for the tests that look inside the stream.
#pragma once

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "hca/CriQuillHca.h"
#include "hca/HcaDecoder.h"
#include "hca/HcaEncoder.h"
#include "hca/HcaFilter.h"

namespace hcatest {

// Bit rate that Open gives the filter for a quality, after the filter's limits.
inline int QualityBitRate(int channels, int rate, int quality) {
  return hca::HcaFilter::ClampBitRate(channels, rate, HcaRequestedBitRate(channels, rate, quality));
}

class EncoderFixture {
 public:
  EncoderFixture(int channels, int rate, int bitRate) : m_work(hca::HcaEncoder::WorkSize(channels)) {
    hca::HcaEncoderStart();
    EXPECT_EQ(hca::HCA_OK, hca::HcaEncoder::Create(channels, m_work.data(), m_work.size(), nullptr, &m_encoder));
    EXPECT_EQ(hca::HCA_OK, m_encoder->SetChannels(channels, 1, 0));
    EXPECT_EQ(hca::HCA_OK, m_encoder->SetSamplingRate(rate, 0));
    EXPECT_EQ(hca::HCA_OK, m_encoder->SetBitRate(bitRate));
    size_t written = 0;
    m_header.resize(hca::HCA_HEADER_SIZE);
    m_headerResult = m_encoder->WriteHeader(m_header.data(), m_header.size(), &written);
  }
  ~EncoderFixture() {
    if (m_encoder) m_encoder->Destroy();
    hca::HcaEncoderFinish();
  }
  EncoderFixture(const EncoderFixture&) = delete;
  EncoderFixture& operator=(const EncoderFixture&) = delete;

  hca::HcaEncoder* operator->() { return m_encoder; }
  hca::HcaEncoder* Get() { return m_encoder; }
  const std::vector<uint8_t>& Header() const { return m_header; }
  int HeaderResult() const { return m_headerResult; }

  // Encodes one frame of planar input (channels x 1024).
  std::vector<uint8_t> Encode(const std::vector<std::vector<float>>& planes, int* result = nullptr) {
    std::vector<const float*> p;
    for (const auto& plane : planes) p.push_back(plane.data());
    EXPECT_EQ(hca::HCA_OK, m_encoder->PutSamples(p.data()));
    std::vector<uint8_t> frame(static_cast<size_t>(m_encoder->FrameSize()));
    size_t written = 0;
    int r = m_encoder->GetFrame(frame.data(), frame.size(), &written);
    if (result)
      *result = r;
    else
      EXPECT_EQ(hca::HCA_OK, r);
    return frame;
  }

 private:
  std::vector<uint8_t> m_work;
  std::vector<uint8_t> m_header;
  hca::HcaEncoder* m_encoder = nullptr;
  int m_headerResult = -1;
};

class DecoderFixture {
 public:
  explicit DecoderFixture(int channels, size_t workSize = 8192) : m_work(workSize) {
    hca::HcaDecoderStart();
    EXPECT_EQ(hca::HCA_OK, hca::HcaDecoder::Create(channels, 0, m_work.data(), m_work.size(), &m_decoder));
  }
  ~DecoderFixture() {
    if (m_decoder) m_decoder->Destroy();
    hca::HcaDecoderFinish();
  }
  DecoderFixture(const DecoderFixture&) = delete;
  DecoderFixture& operator=(const DecoderFixture&) = delete;

  hca::HcaDecoder* operator->() { return m_decoder; }

  // Decodes a frame into channels x 1024 samples; the number of samples per
  // channel that came out goes to *samples.
  int Decode(const std::vector<uint8_t>& frame, std::vector<std::vector<float>>* out, int* samples) {
    size_t used = 0;
    int result = m_decoder->DecodeFrame(frame.data(), frame.size(), &used);
    const int channels = m_decoder->Params().channels;
    out->assign(static_cast<size_t>(channels), std::vector<float>(1024, 0.0f));
    *samples = 0;
    for (int k = 0; k < 8; ++k) {
      float* p[16] = {};
      for (int c = 0; c < channels; ++c) p[c] = (*out)[c].data() + 128 * k;
      int produced = 0;
      EXPECT_EQ(hca::HCA_OK, m_decoder->GetSamples(p, channels, 128, &produced));
      *samples += produced;
    }
    return result;
  }

 private:
  std::vector<uint8_t> m_work;
  hca::HcaDecoder* m_decoder = nullptr;
};

}  // namespace hcatest
