// The sample-rate converter: counts and read position, continuity across
// blocks of any length, exactness on constants and straight lines, the clamp,
// large rate ratios, and its distortion on sines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "CaptureTestUtil.h"
#include "capture/SoundResampler.h"

namespace {

// Feeds stream to the converter in blocks of the given lengths (cycled) and
// returns everything it produced.
std::vector<int16_t> ConvertInBlocks(SoundResampler& converter, const std::vector<int16_t>& stream,
                                     const std::vector<size_t>& lengths) {
  std::vector<int16_t> out;
  const size_t frames = stream.size() / 2;
  size_t at = 0;
  for (size_t b = 0; at < frames; ++b) {
    size_t n = std::min(lengths[b % lengths.size()], frames - at);
    uint32_t bytes = static_cast<uint32_t>(n * 4);
    int32_t room = converter.OutputBytes(bytes);
    std::vector<int16_t> block(static_cast<size_t>(room) / 2 + 2, 0x5555);
    uint32_t written = 0;
    converter.Convert(stream.data() + 2 * at, bytes, block.data(), &written);
    EXPECT_LE(written, static_cast<uint32_t>(room));
    EXPECT_EQ(written % 4, 0u);
    EXPECT_GE(converter.GetRest(), 0.0);
    out.insert(out.end(), block.begin(), block.begin() + written / 2);
    at += n;
  }
  return out;
}

TEST(SoundResampler, CountAndReadPositionFor480FramesFrom48000To32728) {
  SoundResampler converter;
  converter.Setup(48000, 32728, 2);
  EXPECT_TRUE(converter.IsNeed());
  EXPECT_EQ(converter.OutputBytes(480 * 4), 327 * 4);

  std::vector<int16_t> block = StereoSine(1000.0, 48000.0, 10000.0, 480);
  std::vector<int16_t> out(327 * 2);
  uint32_t written = 0;
  converter.Convert(block.data(), 480 * 4, out.data(), &written);
  // Output frame o sits at input position o x 48000 / 32728; positions at or
  // beyond frame 479 wait for the next block.
  EXPECT_EQ(written, 327u * 4);
  EXPECT_NEAR(converter.GetRest(), 480.0 - 327 * 48000.0 / 32728.0, 1e-9);

  for (int i = 0; i < 2000; ++i) {
    int32_t room = converter.OutputBytes(480 * 4);
    out.resize(static_cast<size_t>(room) / 2);
    converter.Convert(block.data(), 480 * 4, out.data(), &written);
    ASSERT_GE(converter.GetRest(), 0.0);
    ASSERT_LT(converter.GetRest(), 8.0);
  }

  SoundResampler same;
  same.Setup(32728, 32728, 2);
  EXPECT_FALSE(same.IsNeed());
}

TEST(SoundResampler, ConstantInputStaysConstant) {
  SoundResampler converter;
  converter.Setup(44100, 32728, 2);
  std::vector<int16_t> stream(2 * 20000);
  for (size_t i = 0; i < 20000; ++i) {
    stream[2 * i] = 12345;
    stream[2 * i + 1] = -32000;
  }
  // The first block fills the history with the constant.
  std::vector<int16_t> first(stream.begin(), stream.begin() + 2 * 441);
  ConvertInBlocks(converter, first, {441});
  std::vector<int16_t> rest(stream.begin() + 2 * 441, stream.end());
  std::vector<int16_t> out = ConvertInBlocks(converter, rest, {441, 3, 1000, 1, 17});
  ASSERT_GT(out.size(), 2u * 14000);
  for (size_t i = 0; i < out.size(); i += 2) {
    ASSERT_EQ(out[i], 12345) << "frame " << i / 2;
    ASSERT_EQ(out[i + 1], -32000) << "frame " << i / 2;
  }
}

TEST(SoundResampler, ShortBlocksShiftTheHistory) {
  SoundResampler converter;
  converter.Setup(48000, 32728, 2);
  ASSERT_EQ(converter.GetHistoryFrames(), 8u);
  std::vector<int16_t> stream;
  for (int k = 1; k <= 13; ++k) {
    stream.push_back(static_cast<int16_t>(k));
    stream.push_back(static_cast<int16_t>(-k));
  }
  std::vector<int16_t> ten(stream.begin(), stream.begin() + 20);
  std::vector<int16_t> three(stream.begin() + 20, stream.end());
  ConvertInBlocks(converter, ten, {10});
  ConvertInBlocks(converter, three, {3});
  const int16_t* history = converter.GetHistory();
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(history[2 * i], 6 + i);
    EXPECT_EQ(history[2 * i + 1], -(6 + i));
  }
  ConvertInBlocks(converter, std::vector<int16_t>(), {1});
  EXPECT_EQ(converter.GetHistory()[0], 6) << "an empty block keeps the history";
}

// A cubic spline through points on a line is that line, so every output
// sample must lie on it (within the truncation to integers) at its exact
// position o x in / out, however the stream is cut into blocks.
TEST(SoundResampler, ReproducesAStraightLineAtExactPositionsAcrossBlocks) {
  const std::vector<size_t> lengths = {1, 7, 480, 3, 1000, 13, 8, 9, 441, 2};
  for (auto rates : {std::make_pair(48000u, 32728u), std::make_pair(44100u, 32728u), std::make_pair(22050u, 48000u),
                     std::make_pair(96000u, 16000u)}) {
    const size_t frames = 30000;
    std::vector<int16_t> line(2 * frames);
    for (size_t i = 0; i < frames; ++i) {
      line[2 * i] = static_cast<int16_t>(-30000 + 2 * static_cast<int>(i));
      line[2 * i + 1] = static_cast<int16_t>(30000 - 2 * static_cast<int>(i));
    }
    SoundResampler converter;
    converter.Setup(rates.first, rates.second, 2);
    std::vector<int16_t> out = ConvertInBlocks(converter, line, lengths);
    const double step = static_cast<double>(rates.first) / rates.second;
    ASSERT_GT(out.size() / 2, static_cast<size_t>((frames - 2) / step) - 1);
    int checked = 0;
    for (size_t o = 0; o < out.size() / 2; ++o) {
      double position = o * step;
      if (position < 16.0) continue;  // the silent history before the stream
      ASSERT_NEAR(out[2 * o], -30000 + 2 * position, 1.0) << rates.first << " to " << rates.second << ", frame " << o;
      ASSERT_NEAR(out[2 * o + 1], 30000 - 2 * position, 1.0);
      ++checked;
    }
    EXPECT_GT(checked, 1000);
  }
}

TEST(SoundResampler, ClampsOvershootToTheStreamRange) {
  std::vector<int16_t> edge(2 * 4000);
  for (size_t i = 0; i < 4000; ++i) {
    int16_t v = (i / 2) % 2 == 0 ? 32767 : -32768;
    edge[2 * i] = v;
    edge[2 * i + 1] = static_cast<int16_t>(-1 - v);
  }
  SoundResampler converter;
  converter.Setup(44100, 48000, 2);
  std::vector<int16_t> out = ConvertInBlocks(converter, edge, {441});
  int atTop = 0;
  int atBottom = 0;
  for (int16_t v : out) {
    ASSERT_LE(v, 32727);
    ASSERT_GE(v, -32728);
    atTop += v == 32727;
    atBottom += v == -32728;
  }
  EXPECT_GT(atTop, 100);
  EXPECT_GT(atBottom, 100);
}

TEST(SoundResampler, LargeRateRatiosKeepTheReadPositionInsideTheHistory) {
  // 384 kHz files played at 16 kHz step 24 input frames per output frame.
  for (auto rates :
       {std::make_pair(384000u, 16000u), std::make_pair(768000u, 16000u), std::make_pair(192000u, 22050u)}) {
    SoundResampler converter;
    converter.Setup(rates.first, rates.second, 2);
    EXPECT_GT(converter.GetHistoryFrames(), rates.first / rates.second);
    std::vector<int16_t> sine = StereoSine(100.0, rates.first, 10000.0, rates.first / 2);
    std::vector<int16_t> out = ConvertInBlocks(converter, sine, {7680, 5, 31, 100, 3});
    double expected = (rates.first / 2.0) * rates.second / rates.first;
    EXPECT_NEAR(out.size() / 2.0, expected, 2.0);
  }
}

// Distortion plus noise of the converter on sines at -6 dBFS, 48000 to 32728
// Hz, fed in 10 ms blocks as a Core Audio source delivers them.
TEST(SoundResampler, DistortionOfSinesFrom48000To32728) {
  const double amplitude = 32768.0 * std::pow(10.0, -6.0 / 20.0);
  double results[2] = {};
  const double frequencies[2] = {1000.0, 10000.0};
  for (int f = 0; f < 2; ++f) {
    std::vector<int16_t> sine = StereoSine(frequencies[f], 48000.0, amplitude, 48000 * 3);
    SoundResampler converter;
    converter.Setup(48000, 32728, 2);
    std::vector<int16_t> out = ConvertInBlocks(converter, sine, {480});
    results[f] = ThdPlusNoiseDb(out, 0, frequencies[f], 32728.0, 3273);
    EXPECT_NEAR(ThdPlusNoiseDb(out, 1, frequencies[f], 32728.0, 3273), results[f], 0.5);
  }
  printf("THD+N 48000 -> 32728 Hz, -6 dBFS: 1 kHz %.1f dB, 10 kHz %.1f dB\n", results[0], results[1]);
  RecordProperty("thdn_1khz_db", std::to_string(results[0]));
  RecordProperty("thdn_10khz_db", std::to_string(results[1]));
  EXPECT_LE(results[0], -80.0);
  EXPECT_LE(results[1], -30.0);
}

}  // namespace
