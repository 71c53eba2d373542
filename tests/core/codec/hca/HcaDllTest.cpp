// The HCA codecs through QuillDll's exports: latency, call-size independence
// and the sound after one pass at every quality.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "HcaTestSignals.h"
#include "QuillDll.h"

namespace {

constexpr double RATE = 32728.0;
constexpr size_t DELAY = 1152;

QuillDll::CODECINFO Info(uint16_t quality, uint16_t channels = 2) {
  QuillDll::CODECINFO info{};
  info.codec = QuillDll::CODEC_HCA;
  info.channels = channels;
  info.bytesPerSample = 2;
  info.quality = quality;
  info.samplingRate = RATE;
  return info;
}

// Runs interleaved stereo input through a fresh HCA handle in calls of
// `chunk` frames (0: all at once) and returns the output.
std::vector<int16_t> RunThrough(uint16_t quality, const std::vector<int16_t>& in, size_t chunk) {
  void* handle = nullptr;
  const QuillDll::CODECINFO info = Info(quality);
  EXPECT_EQ(QuillDll::RESULT_SUCCESS, Open(&handle, &info));
  const size_t frames = in.size() / 2;
  std::vector<int16_t> out(in.size(), 0x7777);
  if (chunk == 0) chunk = frames;
  for (size_t at = 0; at < frames; at += chunk) {
    uint32_t n = static_cast<uint32_t>(std::min(chunk, frames - at));
    uint32_t processed = 0;
    std::vector<int16_t> piece(in.begin() + static_cast<long>(2 * at), in.begin() + static_cast<long>(2 * (at + n)));
    EXPECT_EQ(QuillDll::RESULT_SUCCESS, EncodeAndDecode(handle, &out[2 * at], n, piece.data(), n, &processed));
    EXPECT_EQ(n, processed);
  }
  EXPECT_EQ(QuillDll::RESULT_SUCCESS, Close(handle));
  return out;
}

const char* QUALITY_NAME[6] = {"(0)",          "CRI HCA LOWEST", "CRI HCA LOW", "CRI HCA MIDDLE",
                               "CRI HCA HIGH", "CRI HCA HIGHEST"};

}  // namespace

TEST(HcaThroughQuillDll, OpensEveryQualityAndRejectsQuality6) {
  for (uint16_t q = 0; q <= 5; ++q) {
    void* handle = nullptr;
    QuillDll::CODECINFO info = Info(q);
    ASSERT_EQ(QuillDll::RESULT_SUCCESS, Open(&handle, &info)) << q;
    EXPECT_EQ(QuillDll::RESULT_SUCCESS, Close(handle));
  }
  void* handle = &handle;
  QuillDll::CODECINFO info = Info(6);
  EXPECT_EQ(QuillDll::RESULT_INVALID_PARAMETER, Open(&handle, &info));
  EXPECT_EQ(nullptr, handle);
  info = Info(3, 1);
  ASSERT_EQ(QuillDll::RESULT_SUCCESS, Open(&handle, &info));
  int16_t mono[2000] = {};
  uint32_t processed = 0;
  EXPECT_EQ(QuillDll::RESULT_SUCCESS, EncodeAndDecode(handle, mono, 1000, mono + 1000, 1000, &processed));
  EXPECT_EQ(1000u, processed);
  EXPECT_EQ(QuillDll::RESULT_SUCCESS, EncodeAndDecode(handle, nullptr, 0, nullptr, 0, &processed));
  EXPECT_EQ(0u, processed);
  EXPECT_EQ(QuillDll::RESULT_SUCCESS, Close(handle));
}

TEST(HcaThroughQuillDll, SilentFirstBlockThenTheInput1152FramesLate) {
  const size_t frames = 24 * 1024;
  std::vector<int16_t> in = hcatest::StereoSine(frames, 1000.0, RATE, 0.5);  // -6 dBFS
  std::vector<int16_t> out = RunThrough(5, in, 0);
  for (size_t i = 0; i < 2 * 1024; ++i) ASSERT_EQ(0, out[i]) << i;
  // The next 128 frames stand for the silence before the input: coding noise only.
  int peak = 0;
  for (size_t i = 2 * 1024; i < 2 * DELAY; ++i) peak = std::max(peak, std::abs(static_cast<int>(out[i])));
  EXPECT_LT(peak, 300);
  const double snr = hcatest::SnrDb(in, out, 2, DELAY, 0, frames - DELAY);
  EXPECT_GE(snr, 40.0);
  // The delay is exactly 1152: one frame off is far worse.
  EXPECT_GT(snr, hcatest::SnrDb(in, out, 2, DELAY - 1, 1, frames - DELAY) + 10.0);
  EXPECT_GT(snr, hcatest::SnrDb(in, out, 2, DELAY + 1, 0, frames - DELAY - 1) + 10.0);
}

TEST(HcaThroughQuillDll, OutputDoesNotDependOnCallSizes) {
  const uint32_t seed = 4711;
  std::vector<int16_t> in = hcatest::StereoBroadband(5 * 1024 + 300, seed, 0.3);
  for (uint16_t quality : {2, 5}) {
    SCOPED_TRACE(quality);
    const std::vector<int16_t> whole = RunThrough(quality, in, 0);
    EXPECT_EQ(whole, RunThrough(quality, in, 1));
    EXPECT_EQ(whole, RunThrough(quality, in, 100));
    EXPECT_EQ(whole, RunThrough(quality, in, 1023));
  }
}

TEST(HcaThroughQuillDll, SoundAtEveryQuality) {
  const size_t frames = 64 * 1024;  // 2 s
  const uint32_t seed = 20240611;
  const std::vector<int16_t> sine = hcatest::StereoSine(frames, 1000.0, RATE, 0.5);
  const std::vector<int16_t> broadband = hcatest::StereoBroadband(frames, seed, 0.25);
  double snrSine[6] = {};
  double snrBroadband[6] = {};
  std::printf("SNR after one pass, 32728 Hz stereo (broadband seed %u):\n", seed);
  std::printf("  %-16s %14s %14s\n", "quality", "1 kHz -6 dBFS", "broadband");
  for (int q = 5; q >= 1; --q) {
    const auto quality = static_cast<uint16_t>(q);
    snrSine[q] = hcatest::SnrDb(sine, RunThrough(quality, sine, 0), 2, DELAY, 1024, frames - DELAY);
    snrBroadband[q] = hcatest::SnrDb(broadband, RunThrough(quality, broadband, 0), 2, DELAY, 1024, frames - DELAY);
    std::printf("  %-16s %11.1f dB %11.1f dB\n", QUALITY_NAME[q], snrSine[q], snrBroadband[q]);
  }
  EXPECT_GE(snrSine[5], 40.0);
  for (int q = 5; q > 1; --q) EXPECT_GE(snrBroadband[q], snrBroadband[q - 1]) << QUALITY_NAME[q];
  // Even the lowest quality keeps the broadband signal recognisable.
  EXPECT_GT(snrBroadband[1], 3.0);
}
