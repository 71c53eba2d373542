// The ADX codec object: set-up failures, the error hook's lifetime and the
// absence of heap allocations while streaming.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "AllocationCount.h"
#include "CodecTestUtil.h"
#include "HookCapture.h"
#include "CriQuillAdx.h"
#include "runtime/ErrorHook.h"
#include "runtime/Sjrbf.h"

namespace {

QuillDll::CODECINFO AdxInfo(uint16_t channels, double rate = 32728.0) {
  return QuillDll::CODECINFO{QuillDll::CODEC_ADX, channels, 2, 0, rate};
}

TEST(CriQuillAdxTest, StreamsWithoutHeapAllocations) {
  if (!AllocationCount_Available()) GTEST_SKIP() << "operator new belongs to the sanitizer";
  for (uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
    CriQuillBase* codec = nullptr;
    ASSERT_EQ(CreateCriQuillAdx(AdxInfo(channels), &codec), QuillDll::RESULT_SUCCESS);
    const std::vector<int16_t> in = TestSignal(654, channels);
    std::vector<int16_t> out(in.size());
    uint32_t processed = 0;
    for (int i = 0; i < 8; ++i) codec->Process(out.data(), 654, in.data(), 654, &processed);

    AllocationCount_Start();
    for (int i = 0; i < 500; ++i) codec->Process(out.data(), 654, in.data(), 654, &processed);
    EXPECT_EQ(AllocationCount_Stop(), 0) << channels;
    EXPECT_EQ(processed, 654u);
    codec->Release();
  }
}

TEST(CriQuillAdxTest, RejectsRatesTheHeaderCannotCarry) {
  const double bad[] = {
      0.0, -1.0, 0.5, 2147483648.0, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
  for (double rate : bad) {
    CriQuillBase* codec = reinterpret_cast<CriQuillBase*>(&codec);
    EXPECT_EQ(CreateCriQuillAdx(AdxInfo(2, rate), &codec), QuillDll::RESULT_INVALID_PARAMETER) << rate;
    EXPECT_EQ(codec, nullptr);
  }
  CriQuillBase* codec = nullptr;
  ASSERT_EQ(CreateCriQuillAdx(AdxInfo(1, 1.0), &codec), QuillDll::RESULT_SUCCESS);
  codec->Release();
}

TEST(CriQuillAdxTest, ExhaustedRingPoolFailsTheSetUpAndLeavesNothingBehind) {
  SJRBF_Init();
  std::vector<uint8_t> work(64);
  std::vector<SjHandle> rings;
  while (SjHandle ring = SJRBF_Create(work.data(), 32, 32)) rings.push_back(ring);
  ASSERT_EQ(rings.size(), static_cast<size_t>(SJRBF_POOL_SIZE));

  // A stereo codec needs five rings; with four free the set-up fails...
  for (int i = 0; i < 4; ++i) {
    SJ_Destroy(rings.back());
    rings.pop_back();
  }
  CriQuillBase* codec = nullptr;
  EXPECT_EQ(CreateCriQuillAdx(AdxInfo(2), &codec), QuillDll::RESULT_FAILED);
  EXPECT_EQ(codec, nullptr);
  // ...and gives back the rings it had made: a mono codec (three rings) fits.
  ASSERT_EQ(CreateCriQuillAdx(AdxInfo(1), &codec), QuillDll::RESULT_SUCCESS);
  codec->Release();

  SJ_Destroy(rings.back());
  rings.pop_back();
  ASSERT_EQ(CreateCriQuillAdx(AdxInfo(2), &codec), QuillDll::RESULT_SUCCESS);
  codec->Release();
  for (SjHandle ring : rings) SJ_Destroy(ring);
  SJRBF_Finish();
}

TEST(CriQuillAdxTest, ErrorHookNeverReachesAReleasedCodec) {
  CriQuillBase* codec = nullptr;
  ASSERT_EQ(CreateCriQuillAdx(AdxInfo(2), &codec), QuillDll::RESULT_SUCCESS);
  // The set-up's counter is gone with the object; a late message goes nowhere.
  // The released object's block is held, not freed, so that a write into it
  // shows as changed bytes. (Under the thread sanitizer, whose runtime owns
  // operator new, nothing is held and this half only sends the report.)
  {
    struct HeldFrees {
      HeldFrees() { AllocationCount_HoldFrees(); }
      ~HeldFrees() { AllocationCount_FreeHeld(); }
    } held;
    codec->Release();
    if (AllocationCount_Available()) {
      ASSERT_TRUE(AllocationCount_IsHeld(codec));
      std::vector<unsigned char> released(sizeof(CriQuillAdx));
      std::memcpy(released.data(), static_cast<const void*>(codec), released.size());
      ErrorHook_Report("E0000 late: ", "after release");
      EXPECT_EQ(std::memcmp(released.data(), static_cast<const void*>(codec), released.size()), 0)
          << "the late message reached the released codec";
    } else {
      ErrorHook_Report("E0000 late: ", "after release");
    }
  }

  HookCapture hook;
  ASSERT_EQ(CreateCriQuillAdx(AdxInfo(1), &codec), QuillDll::RESULT_SUCCESS);
  ErrorHook_Report("E0000 late: ", "after open");
  codec->Release();
  EXPECT_TRUE(hook.Messages().empty());  // the set-up replaced and then removed the hook
}

TEST(CriQuillAdxTest, ProcessChecksItsBuffers) {
  CriQuillBase* codec = nullptr;
  ASSERT_EQ(CreateCriQuillAdx(AdxInfo(2), &codec), QuillDll::RESULT_SUCCESS);
  int16_t pcm[8] = {};
  uint32_t processed = 99;
  EXPECT_EQ(codec->Process(nullptr, 4, pcm, 4, &processed), QuillDll::RESULT_INVALID_PARAMETER);
  EXPECT_EQ(processed, 0u);
  EXPECT_EQ(codec->Process(pcm, 4, nullptr, 4, &processed), QuillDll::RESULT_INVALID_PARAMETER);
  EXPECT_EQ(codec->Process(nullptr, 0, nullptr, 0, &processed), QuillDll::RESULT_SUCCESS);
  EXPECT_EQ(codec->Process(pcm, 4, pcm, 4, nullptr), QuillDll::RESULT_SUCCESS);
  codec->Release();
}

}  // namespace
