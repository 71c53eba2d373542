// The fold of an endpoint's own format to stereo 16-bit: the sample kinds,
// the layouts (by mask and by channel count), the weights, the clipping, and
// the formats that are refused.
#include "capture/ChannelMix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace capture;

namespace {

// One frame's samples stored in the format's sample kind, frames after frames.
std::vector<uint8_t> Store(const ChannelMixer::Format& format, const std::vector<double>& samples) {
  const size_t bytes = format.bitsPerSample / 8u;
  const size_t frames = samples.size() / format.channels;
  std::vector<uint8_t> out(frames * format.blockAlign, 0xCD);
  const bool isFloat = format.tag == FORMAT_TAG_FLOAT || format.subFormat == FORMAT_TAG_FLOAT;
  for (size_t i = 0; i < samples.size(); ++i) {
    uint8_t* p = out.data() + (i / format.channels) * format.blockAlign + (i % format.channels) * bytes;
    const double s = samples[i];  // on the 16-bit scale
    if (isFloat) {
      const float f = static_cast<float>(s / 32768.0);
      memcpy(p, &f, 4);
      continue;
    }
    const auto v = static_cast<int64_t>(std::llround(s * std::pow(2.0, format.bitsPerSample - 16.0)));
    if (bytes == 1) {
      p[0] = static_cast<uint8_t>(v + 128);
    } else {
      for (size_t b = 0; b < bytes; ++b) p[b] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * b));
    }
  }
  return out;
}

ChannelMixer::Format Make(uint16_t tag, uint16_t channels, uint16_t bits, uint32_t mask = 0, uint16_t sub = 0) {
  ChannelMixer::Format f;
  f.tag = tag;
  f.channels = channels;
  f.bitsPerSample = bits;
  f.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.channelMask = mask;
  f.subFormat = sub;
  return f;
}

constexpr double kC = 0.70710678;  // -3 dB

}  // namespace

TEST(ChannelMix, LayoutsSampleKindsAndWeights) {
  struct Case {
    const char* name;
    ChannelMixer::Format format;
    std::vector<double> frame;  // one frame, 16-bit scale
    int left, right;
  } cases[] = {
      {"mono 16", Make(FORMAT_TAG_PCM, 1, 16), {-1234}, -1234, -1234},
      {"mono float", Make(FORMAT_TAG_FLOAT, 1, 32), {300}, 300, 300},
      {"stereo 8", Make(FORMAT_TAG_PCM, 2, 8), {256, -512}, 256, -512},
      {"stereo 24", Make(FORMAT_TAG_PCM, 2, 24), {1000.5, -7}, 1001, -7},
      {"stereo 32", Make(FORMAT_TAG_PCM, 2, 32), {-32768, 32767}, -32768, 32767},
      {"stereo float extensible", Make(FORMAT_TAG_EXTENSIBLE, 2, 32, 0x3, FORMAT_TAG_FLOAT), {0.25, -100}, 0, -100},
      // FL FR FC LFE BL BR: centre and backs at -3 dB, LFE dropped.
      {"5.1 by count",
       Make(FORMAT_TAG_PCM, 6, 16),
       {1000, 2000, 1000, 30000, 400, -400},
       static_cast<int>(std::lround(1000 + kC * 1000 + kC * 400)),
       static_cast<int>(std::lround(2000 + kC * 1000 - kC * 400))},
      {"5.1 float by mask",
       Make(FORMAT_TAG_EXTENSIBLE, 6, 32, LAYOUT_5_1, FORMAT_TAG_FLOAT),
       {1000, 2000, 1000, 30000, 400, -400},
       static_cast<int>(std::lround(1000 + kC * 1000 + kC * 400)),
       static_cast<int>(std::lround(2000 + kC * 1000 - kC * 400))},
      // 7.1 adds the sides at -3 dB on their own side.
      {"7.1",
       Make(FORMAT_TAG_EXTENSIBLE, 8, 16, LAYOUT_7_1, FORMAT_TAG_PCM),
       {0, 0, 0, 9999, 100, 0, 200, -300},
       static_cast<int>(std::lround(kC * 300)),
       static_cast<int>(std::lround(-kC * 300))},
      // A mask gives the stored order: FL FC BC (no right channel at all).
      {"FL FC BC",
       Make(FORMAT_TAG_EXTENSIBLE, 3, 16, 0x105, FORMAT_TAG_PCM),
       {100, 1000, 1000},
       static_cast<int>(std::lround(100 + kC * 1000 + 500)),
       static_cast<int>(std::lround(kC * 1000 + 500))},
      // Unknown layouts: the first two channels, the rest dropped.
      {"3 channels by count", Make(FORMAT_TAG_PCM, 3, 16), {5, 6, 7000}, 5, 6},
      // More channels than mask bits: those without a position are dropped.
      {"mask too short", Make(FORMAT_TAG_EXTENSIBLE, 4, 16, 0x3, FORMAT_TAG_PCM), {5, 6, 7000, 8000}, 5, 6},
      // Loud surround material clips rather than wrapping.
      {"5.1 clips", Make(FORMAT_TAG_PCM, 6, 16), {30000, -30000, 0, 0, 30000, -30000}, 32767, -32768},
      {"float over full scale", Make(FORMAT_TAG_FLOAT, 2, 32), {70000, -70000}, 32767, -32768},
  };
  for (const Case& c : cases) {
    ChannelMixer mixer;
    ASSERT_TRUE(mixer.Setup(c.format)) << c.name;
    EXPECT_FALSE(mixer.IsPassThrough()) << c.name;
    // Three frames: the same frame, then silence, then the frame again (no
    // state carries from one frame to the next).
    std::vector<double> samples = c.frame;
    samples.insert(samples.end(), c.frame.size(), 0.0);
    samples.insert(samples.end(), c.frame.begin(), c.frame.end());
    const std::vector<uint8_t> input = Store(c.format, samples);
    std::vector<int16_t> output(6, 0x5555);
    mixer.Mix(input.data(), 3, output.data());
    EXPECT_EQ(c.left, output[0]) << c.name;
    EXPECT_EQ(c.right, output[1]) << c.name;
    EXPECT_EQ(0, output[2]) << c.name;
    EXPECT_EQ(0, output[3]) << c.name;
    EXPECT_EQ(c.left, output[4]) << c.name;
    EXPECT_EQ(c.right, output[5]) << c.name;
  }
}

TEST(ChannelMix, StereoSixteenBitPassesThroughAndPaddedFramesAreSteppedOver) {
  ChannelMixer mixer;
  ASSERT_TRUE(mixer.Setup(Make(FORMAT_TAG_PCM, 2, 16)));
  EXPECT_TRUE(mixer.IsPassThrough());
  ASSERT_TRUE(mixer.Setup(Make(FORMAT_TAG_EXTENSIBLE, 2, 16, 0x3, FORMAT_TAG_PCM)));
  EXPECT_TRUE(mixer.IsPassThrough());
  const int16_t frames[4] = {1, -2, 32767, -32768};
  int16_t out[4] = {};
  mixer.Mix(reinterpret_cast<const uint8_t*>(frames), 2, out);
  EXPECT_EQ(0, memcmp(frames, out, sizeof(out)));

  // Stereo with the two channels swapped is not a plain copy.
  ASSERT_TRUE(mixer.Setup(Make(FORMAT_TAG_EXTENSIBLE, 2, 16, 0x6, FORMAT_TAG_PCM)));
  EXPECT_FALSE(mixer.IsPassThrough());

  // A frame longer than its samples: the block alignment decides the step.
  ChannelMixer::Format padded = Make(FORMAT_TAG_PCM, 2, 24);
  padded.blockAlign = 8;
  ASSERT_TRUE(mixer.Setup(padded));
  const uint8_t bytes[16] = {0, 0x10, 0, 0, 0xF0, 0xFF, 0xEE, 0xEE, 0, 0x20, 0, 0, 0, 0x80, 0xEE, 0xEE};
  mixer.Mix(bytes, 2, out);
  EXPECT_EQ(16, out[0]);
  EXPECT_EQ(-16, out[1]);
  EXPECT_EQ(32, out[2]);
  EXPECT_EQ(-32768, out[3]);
}

TEST(ChannelMix, FormatsItCannotReadAreRefused) {
  ChannelMixer::Format shortAlign = Make(FORMAT_TAG_PCM, 6, 16);
  shortAlign.blockAlign = 11;
  const ChannelMixer::Format refused[] = {
      Make(FORMAT_TAG_PCM, 0, 16),
      Make(FORMAT_TAG_PCM, 33, 16),
      Make(FORMAT_TAG_PCM, 2, 12),
      Make(FORMAT_TAG_PCM, 2, 0),
      Make(FORMAT_TAG_FLOAT, 2, 64),
      Make(FORMAT_TAG_FLOAT, 2, 16),
      Make(2, 2, 16),  // a compressed tag
      Make(FORMAT_TAG_EXTENSIBLE, 2, 16, 0x3, 0),
      Make(FORMAT_TAG_EXTENSIBLE, 2, 16, 0x3, 0x92),
      shortAlign,
  };
  for (const ChannelMixer::Format& f : refused) {
    ChannelMixer mixer;
    EXPECT_FALSE(mixer.Setup(f)) << f.tag << " " << f.channels << " " << f.bitsPerSample << " " << f.blockAlign;
    // An unusable mixer writes silence rather than reading its input.
    int16_t out[2] = {7, 7};
    mixer.Mix(nullptr, 1, out);
    EXPECT_EQ(0, out[0]);
    EXPECT_EQ(0, out[1]);
  }
}
