// The HCA codec object (CreateCriQuillHca and CriQuillHca::Process) and the
// filter, without the library around them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "HcaAllocationCount.h"
#include "HcaTestSignals.h"
#include "hca/CriQuillHca.h"
#include "hca/HcaFilter.h"

namespace {

QuillDll::CODECINFO Info(uint16_t channels, double rate, uint16_t quality) {
  QuillDll::CODECINFO info{};
  info.codec = QuillDll::CODEC_HCA;
  info.channels = channels;
  info.bytesPerSample = 2;
  info.quality = quality;
  info.samplingRate = rate;
  return info;
}

uint32_t TryOpen(const QuillDll::CODECINFO& info) {
  CriQuillBase* codec = reinterpret_cast<CriQuillBase*>(&codec);  // must come back null on failure
  uint32_t result = CreateCriQuillHca(info, &codec);
  if (result == QuillDll::RESULT_SUCCESS) {
    EXPECT_NE(nullptr, codec);
    codec->Release();
  } else {
    EXPECT_EQ(nullptr, codec);
  }
  return result;
}

}  // namespace

TEST(CriQuillHca, SetUpChecksItsParameters) {
  using QuillDll::RESULT_FAILED;
  using QuillDll::RESULT_INVALID_PARAMETER;
  using QuillDll::RESULT_SUCCESS;
  for (uint16_t q = 0; q <= 5; ++q) EXPECT_EQ(RESULT_SUCCESS, TryOpen(Info(2, 32728, q))) << q;
  EXPECT_EQ(RESULT_SUCCESS, TryOpen(Info(1, 32728, 1)));
  EXPECT_EQ(RESULT_SUCCESS, TryOpen(Info(2, 16000, 5)));
  EXPECT_EQ(RESULT_SUCCESS, TryOpen(Info(2, 96000, 1)));
  EXPECT_EQ(RESULT_INVALID_PARAMETER, TryOpen(Info(2, 32728, 6)));
  EXPECT_EQ(RESULT_INVALID_PARAMETER, TryOpen(Info(0, 32728, 3)));
  EXPECT_EQ(RESULT_INVALID_PARAMETER, TryOpen(Info(3, 32728, 3)));
  EXPECT_EQ(RESULT_INVALID_PARAMETER, TryOpen(Info(2, 0.0, 3)));
  EXPECT_EQ(RESULT_INVALID_PARAMETER, TryOpen(Info(2, -32728.0, 3)));
  EXPECT_EQ(RESULT_INVALID_PARAMETER, TryOpen(Info(2, std::nan(""), 3)));
  QuillDll::CODECINFO info = Info(2, 32728, 3);
  info.bytesPerSample = 1;
  EXPECT_EQ(RESULT_INVALID_PARAMETER, TryOpen(info));
  info = Info(2, 32728, 3);
  info.codec = QuillDll::CODEC_ADX;
  EXPECT_EQ(RESULT_INVALID_PARAMETER, TryOpen(info));
  // Rates no HCA stream can carry: the filter cannot be made.
  EXPECT_EQ(RESULT_FAILED, TryOpen(Info(2, 0.5, 3)));
  EXPECT_EQ(RESULT_FAILED, TryOpen(Info(2, 1.0, 3)));
  EXPECT_EQ(RESULT_FAILED, TryOpen(Info(2, 1e12, 3)));
  EXPECT_EQ(RESULT_FAILED, TryOpen(Info(2, std::numeric_limits<double>::infinity(), 3)));
  EXPECT_EQ(RESULT_INVALID_PARAMETER, CreateCriQuillHca(Info(2, 32728, 3), nullptr));
}

TEST(CriQuillHca, ProcessesExactlyTheFramesItIsGiven) {
  CriQuillBase* codec = nullptr;
  ASSERT_EQ(QuillDll::RESULT_SUCCESS, CreateCriQuillHca(Info(2, 32728, 5), &codec));
  uint32_t processed = 7;
  EXPECT_EQ(QuillDll::RESULT_SUCCESS, codec->Process(nullptr, 0, nullptr, 0, &processed));
  EXPECT_EQ(0u, processed);
  std::vector<int16_t> in = hcatest::StereoSine(3000, 1000.0, 32728, 0.5);
  std::vector<int16_t> out(6000, 0x5555);
  EXPECT_EQ(QuillDll::RESULT_INVALID_PARAMETER, codec->Process(nullptr, 10, in.data(), 10, &processed));
  EXPECT_EQ(QuillDll::RESULT_INVALID_PARAMETER, codec->Process(out.data(), 10, nullptr, 10, &processed));
  // Only min(in, out) frames go through; nothing past them is written.
  EXPECT_EQ(QuillDll::RESULT_SUCCESS, codec->Process(out.data(), 1500, in.data(), 3000, &processed));
  EXPECT_EQ(1500u, processed);
  for (size_t i = 0; i < 2048; ++i) ASSERT_EQ(0, out[i]) << i;
  for (size_t i = 3000; i < 6000; ++i) ASSERT_EQ(0x5555, out[i]) << i;
  EXPECT_EQ(QuillDll::RESULT_SUCCESS, codec->Process(out.data(), 10, in.data() + 3000, 10, nullptr));
  codec->Release();
}

TEST(HcaFilter, MakesOnlyFiltersItCanRun) {
  EXPECT_EQ(nullptr, hca::HcaFilter::Create(3, 32728, 100000));
  EXPECT_EQ(nullptr, hca::HcaFilter::Create(2, 0, 100000));
  EXPECT_EQ(nullptr, hca::HcaFilter::Create(2, 1000, 100000));  // 8 KiB frames: beyond the decoder's buffer
  hca::HcaFilter* filter = hca::HcaFilter::Create(2, 32728, 1000000);
  ASSERT_NE(nullptr, filter);
  EXPECT_EQ(261824, filter->BitRate());  // clamped to 4:1
  std::vector<float> left(1024, 0.25f), right(1024, -0.25f);
  float* planes[2] = {left.data(), right.data()};
  EXPECT_EQ(0, filter->Process(planes));
  filter->Destroy();
  // Very low rates work as long as their frames fit the decoder.
  filter = hca::HcaFilter::Create(2, 8000, 10000);
  ASSERT_NE(nullptr, filter);
  EXPECT_EQ(64000, filter->BitRate());
  filter->Destroy();
}

TEST(CriQuillHca, AllocatesNothingOnceOpen) {
#ifndef HCA_COUNT_ALLOCATIONS
  GTEST_SKIP() << "allocations are not counted in this build";
#else
  CriQuillBase* codec = nullptr;
  std::vector<int16_t> in = hcatest::StereoBroadband(10 * 1024, 77, 0.3);
  std::vector<int16_t> out(in.size());
  for (uint16_t quality = 1; quality <= 5; ++quality) {
    ASSERT_EQ(QuillDll::RESULT_SUCCESS, CreateCriQuillHca(Info(2, 32728, quality), &codec));
    uint32_t processed = 0;
    HcaAllocationCountStart();
    for (size_t at = 0; at < 10 * 1024; at += 640) codec->Process(&out[2 * at], 640, &in[2 * at], 640, &processed);
    EXPECT_EQ(0, HcaAllocationCountStop()) << quality;
    codec->Release();
  }
#endif
}
