// QuillDll as a client sees it: the four exports, their checks, handles, and
// the ADX pass's frame counts and delay.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "CodecTestUtil.h"
#include "QuillDll.h"

namespace {

using QuillDll::CODECINFO;
using QuillDll::RESULT_FAILED;
using QuillDll::RESULT_INVALID_PARAMETER;
using QuillDll::RESULT_SUCCESS;

CODECINFO AdxInfo(uint16_t channels = 2, double rate = 32728.0) {
  return CODECINFO{QuillDll::CODEC_ADX, channels, 2, 0, rate};
}

// Runs `in` through a fresh ADX handle in calls of the given sizes (cycled).
std::vector<int16_t> RunAdx(const std::vector<int16_t>& in, int channels, const std::vector<uint32_t>& calls) {
  void* handle = nullptr;
  CODECINFO info = AdxInfo(static_cast<uint16_t>(channels));
  EXPECT_EQ(Open(&handle, &info), RESULT_SUCCESS);
  const size_t frames = in.size() / static_cast<size_t>(channels);
  std::vector<int16_t> out(in.size(), 0x5A5A);
  size_t done = 0;
  for (size_t k = 0; done < frames; ++k) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(calls[k % calls.size()], frames - done));
    uint32_t processed = 0;
    const size_t at = done * static_cast<size_t>(channels);
    EXPECT_EQ(EncodeAndDecode(handle, &out[at], n, const_cast<int16_t*>(&in[at]), n, &processed), RESULT_SUCCESS);
    EXPECT_EQ(processed, n);
    done += n;
  }
  EXPECT_EQ(Close(handle), RESULT_SUCCESS);
  return out;
}

TEST(QuillDllTest, ReportsItsVersion) {
  uint32_t v[4] = {9, 9, 9, 9};
  EXPECT_EQ(GetVersion(&v[0], &v[1], &v[2], &v[3]), RESULT_SUCCESS);
  EXPECT_EQ(v[0], 0u);
  EXPECT_EQ(v[1], 8u);
  EXPECT_EQ(v[2], 2u);
  EXPECT_EQ(v[3], 0u);
  EXPECT_EQ(GetVersion(nullptr, &v[1], nullptr, nullptr), RESULT_SUCCESS);
}

TEST(QuillDllTest, OpenRejectsBadArgumentsAndClearsTheHandle) {
  CODECINFO info = AdxInfo();
  EXPECT_EQ(Open(nullptr, &info), RESULT_INVALID_PARAMETER);
  void* handle = &info;
  EXPECT_EQ(Open(&handle, nullptr), RESULT_INVALID_PARAMETER);
  EXPECT_EQ(handle, nullptr);

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const CODECINFO bad[] = {
      {QuillDll::CODEC_ADX, 0, 2, 0, 32728.0},
      {QuillDll::CODEC_ADX, 3, 2, 0, 32728.0},
      {QuillDll::CODEC_ADX, 2, 1, 0, 32728.0},
      {QuillDll::CODEC_ADX, 2, 4, 0, 32728.0},
      {QuillDll::CODEC_ADX, 2, 2, 0, 0.0},
      {QuillDll::CODEC_ADX, 2, 2, 0, -44100.0},
      {QuillDll::CODEC_ADX, 2, 2, 0, nan},
      {QuillDll::CODEC_ADX, 2, 2, 0, inf},
      {0x1234, 2, 2, 0, 32728.0},
      {0, 2, 2, 0, 32728.0},
      {QuillDll::CODEC_HCA, 0, 2, 3, 32728.0},
      {QuillDll::CODEC_HCA, 3, 2, 3, 32728.0},
      {QuillDll::CODEC_HCA, 2, 1, 3, 32728.0},
      {QuillDll::CODEC_HCA, 2, 2, 6, 32728.0},
      {QuillDll::CODEC_HCA, 2, 2, 0xFFFF, 32728.0},
      {QuillDll::CODEC_HCA, 2, 2, 3, 0.0},
      {QuillDll::CODEC_HCA, 2, 2, 3, -44100.0},
      {QuillDll::CODEC_HCA, 2, 2, 3, nan},
  };
  // A field out of range is an invalid parameter for either codec.
  for (const CODECINFO& b : bad) {
    handle = &info;
    EXPECT_EQ(Open(&handle, &b), RESULT_INVALID_PARAMETER)
        << b.codec << " " << b.channels << " " << b.bytesPerSample << " " << b.quality << " " << b.samplingRate;
    EXPECT_EQ(handle, nullptr);
  }
}

TEST(QuillDllTest, EncodeAndDecodeAndCloseAcceptOnlyOpenHandles) {
  void* handle = nullptr;
  CODECINFO info = AdxInfo();
  ASSERT_EQ(Open(&handle, &info), RESULT_SUCCESS);
  ASSERT_NE(handle, nullptr);
  int16_t pcm[16] = {};
  uint32_t processed = 77;

  EXPECT_EQ(EncodeAndDecode(nullptr, pcm, 4, pcm, 4, &processed), RESULT_INVALID_PARAMETER);
  EXPECT_EQ(processed, 0u);
  EXPECT_EQ(EncodeAndDecode(handle, nullptr, 4, pcm, 4, &processed), RESULT_INVALID_PARAMETER);
  EXPECT_EQ(EncodeAndDecode(handle, pcm, 4, nullptr, 4, nullptr), RESULT_INVALID_PARAMETER);
  processed = 77;
  EXPECT_EQ(EncodeAndDecode(handle, nullptr, 0, nullptr, 0, &processed), RESULT_SUCCESS);
  EXPECT_EQ(processed, 0u);
  EXPECT_EQ(EncodeAndDecode(handle, pcm, 4, nullptr, 0, &processed), RESULT_SUCCESS);
  EXPECT_EQ(EncodeAndDecode(handle, nullptr, 0, pcm, 4, &processed), RESULT_SUCCESS);
  EXPECT_EQ(processed, 0u);
  EXPECT_EQ(EncodeAndDecode(handle, pcm, 4, pcm, 4, nullptr), RESULT_SUCCESS);

  // Pointers to anything else, even a record whose first word looks like a
  // handle's, are refused without being used.
  void* fake[4] = {*static_cast<void**>(handle), nullptr, nullptr, nullptr};
  EXPECT_EQ(EncodeAndDecode(fake, pcm, 4, pcm, 4, &processed), RESULT_INVALID_PARAMETER);
  EXPECT_EQ(EncodeAndDecode(&info, pcm, 4, pcm, 4, &processed), RESULT_INVALID_PARAMETER);
  EXPECT_EQ(Close(fake), RESULT_INVALID_PARAMETER);
  EXPECT_EQ(Close(&info), RESULT_INVALID_PARAMETER);
  EXPECT_EQ(Close(nullptr), RESULT_INVALID_PARAMETER);

  EXPECT_EQ(Close(handle), RESULT_SUCCESS);
  EXPECT_EQ(Close(handle), RESULT_INVALID_PARAMETER);  // already closed
  EXPECT_EQ(EncodeAndDecode(handle, pcm, 4, pcm, 4, &processed), RESULT_INVALID_PARAMETER);
}

TEST(QuillDllTest, ConsumesAndReturnsTheSmallerFrameCountOnly) {
  void* handle = nullptr;
  CODECINFO info = AdxInfo();
  ASSERT_EQ(Open(&handle, &info), RESULT_SUCCESS);
  std::vector<int16_t> in = TestSignal(3000, 2);
  std::vector<int16_t> out(6000, 0x1111);
  uint32_t processed = 0;
  EXPECT_EQ(EncodeAndDecode(handle, out.data(), 1500, in.data(), 3000, &processed), RESULT_SUCCESS);
  EXPECT_EQ(processed, 1500u);
  EXPECT_TRUE(std::all_of(out.begin() + 3000, out.end(), [](int16_t s) { return s == 0x1111; }));
  std::fill(out.begin(), out.end(), int16_t{0x1111});
  EXPECT_EQ(EncodeAndDecode(handle, out.data(), 2500, in.data(), 1000, &processed), RESULT_SUCCESS);
  EXPECT_EQ(processed, 1000u);
  EXPECT_TRUE(std::all_of(out.begin() + 2000, out.end(), [](int16_t s) { return s == 0x1111; }));
  EXPECT_EQ(Close(handle), RESULT_SUCCESS);
}

// The ADX pass's delay after a first slice of n frames: the slice takes the
// place of the primed silence (2048 frames) and comes out at once.
constexpr uint32_t AdxDelayFrames(uint32_t firstFrames) {
  return 2048 - (firstFrames < 1024 ? firstFrames : 1024);
}

// The test signal's SNR after one ADX pass measured 34.3 to 36.4 dB.
constexpr double ADX_SNR_FLOOR_DB = 31.0;

// SNR in dB of out[from + delay ..] against in[from ..] up to `to` (frames).
double DelayedSnrDb(const std::vector<int16_t>& in, const std::vector<int16_t>& out, int channels, size_t from,
                    size_t to, size_t delay) {
  double signalPower = 0.0;
  double noisePower = 0.0;
  const auto ch = static_cast<size_t>(channels);
  for (size_t i = from * ch; i < to * ch && i + delay * ch < out.size(); ++i) {
    const double x = in[i];
    const double d = x - out[i + delay * ch];
    signalPower += x * x;
    noisePower += d * d;
  }
  return 10.0 * std::log10(signalPower / noisePower);
}

TEST(QuillDllTest, AdxDelayIsConstantAfterTheFirstSliceWhateverTheCallSizes) {
  for (int channels : {1, 2}) {
    // Silence, then a signal starting at a known frame.
    const size_t frames = 20000;
    const size_t start = 3001;
    std::vector<int16_t> in(frames * static_cast<size_t>(channels), 0);
    const std::vector<int16_t> signal = TestSignal(frames - start, channels, 3, 15000.0);
    std::copy(signal.begin(), signal.end(), in.begin() + static_cast<std::ptrdiff_t>(start * channels));
    in[start * static_cast<size_t>(channels)] = 20000;

    // The first call's first slice (at most 1024 frames) sets the delay;
    // later call sizes change nothing.
    const std::vector<std::vector<uint32_t>> sameFirst[] = {
        {{654}, {654, 1, 1000, 5000, 3, 1024, 1025}},
        {{1}, {1, 333}},
        {{1000}, {1000, 1}},
        {{1024}, {5000}, {1025, 7}},
    };
    for (const auto& group : sameFirst) {
      const uint32_t first = std::min<uint32_t>(group[0][0], 1024);
      const uint32_t delay = AdxDelayFrames(first);
      const std::vector<int16_t> reference = RunAdx(in, channels, group[0]);
      // Exactly silent until the signal arrives, `delay` frames late.
      const auto nonzero = std::find_if(reference.begin(), reference.end(), [](int16_t s) { return s != 0; });
      EXPECT_EQ(static_cast<size_t>(nonzero - reference.begin()) / static_cast<size_t>(channels), start + delay)
          << channels << " channels, first call " << group[0][0];
      for (size_t k = 1; k < group.size(); ++k) {
        EXPECT_EQ(RunAdx(in, channels, group[k]), reference) << channels << " channels, calls from " << group[k][0];
      }
      // And what comes out is the input after coding noise.
      EXPECT_GT(DelayedSnrDb(in, reference, channels, start, frames, delay), ADX_SNR_FLOOR_DB) << channels;
    }
  }
  EXPECT_EQ(AdxDelayFrames(654), 1394u);  // 20 ms calls at 32728 Hz: 42.6 ms
}

TEST(QuillDllTest, AdxFirstSliceComesOutAtOnce) {
  for (int channels : {1, 2}) {
    const size_t frames = 8000;
    const std::vector<int16_t> in = TestSignal(frames, channels, 3, 15000.0);
    for (uint32_t first : {654u, 1024u}) {
      const std::vector<int16_t> out = RunAdx(in, channels, {first, 500});
      EXPECT_GT(DelayedSnrDb(in, out, channels, 0, first, 0), ADX_SNR_FLOOR_DB) << first;
      EXPECT_GT(DelayedSnrDb(in, out, channels, first, frames, AdxDelayFrames(first)), ADX_SNR_FLOOR_DB) << first;
    }
  }
}

TEST(QuillDllTest, ThirtyThirdAdxHandleFailsUntilOneIsClosed) {
  std::vector<void*> handles;
  CODECINFO info = AdxInfo();
  for (int i = 0; i < 32; ++i) {
    void* h = nullptr;
    ASSERT_EQ(Open(&h, &info), RESULT_SUCCESS) << i;
    handles.push_back(h);
  }
  void* extra = &info;
  EXPECT_EQ(Open(&extra, &info), RESULT_FAILED);
  EXPECT_EQ(extra, nullptr);

  // The others keep working meanwhile.
  std::vector<int16_t> in = TestSignal(654, 2);
  std::vector<int16_t> out(in.size());
  uint32_t processed = 0;
  EXPECT_EQ(EncodeAndDecode(handles[7], out.data(), 654, in.data(), 654, &processed), RESULT_SUCCESS);

  EXPECT_EQ(Close(handles[3]), RESULT_SUCCESS);
  ASSERT_EQ(Open(&handles[3], &info), RESULT_SUCCESS);
  for (void* h : handles) EXPECT_EQ(Close(h), RESULT_SUCCESS);
}

TEST(QuillDllTest, HandlesOnSeveralThreadsStreamIndependently) {
  const std::vector<int16_t> in = TestSignal(12000, 2, 11);
  const std::vector<int16_t> reference = RunAdx(in, 2, {654});
  std::vector<std::vector<int16_t>> results(4);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        results[t] = RunAdx(in, 2, {654, static_cast<uint32_t>(300 + 100 * t)});
        // An HCA handle opened and closed beside them: the HCA services are
        // started and finished from every thread as well.
        void* hca = nullptr;
        const CODECINFO hcaInfo{QuillDll::CODEC_HCA, 2, 2, static_cast<uint16_t>(t), 32728.0};
        EXPECT_EQ(Open(&hca, &hcaInfo), RESULT_SUCCESS);
        EXPECT_EQ(Close(hca), RESULT_SUCCESS);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const auto& result : results) EXPECT_EQ(result, reference);
}

}  // namespace
