// The capture base: the three block paths (plain, ADPCM, codec with carry-over),
// the codec's opening arguments, the level meters and ProcessCaptured.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "CaptureTestUtil.h"
#include "TestCapture.h"
#include "capture/Adpcm.h"
#include "capture/SoundCapture.h"
#include "codec/include/QuillDll.h"
#include "platform/Platform.h"
#include "support/Strings.h"

namespace {

class SoundCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override { g_codec = FakeCodecLibrary(); }
  FakeChannel channel;
};

TEST_F(SoundCaptureTest, PlainPathSendsTheBlockAsCaptured) {
  Adpcm unloaded;
  for (int format : {WAVEFMT_PCM, WAVEFMT_ADPCM}) {
    TestCapture capture(&unloaded);
    capture.SetSerialChannel(&channel);
    ASSERT_TRUE(capture.Start(DeviceEntry(), 32728, format));
    std::vector<int16_t> block = Ramp(300, 7);
    const std::vector<int16_t> sent = block;
    capture.SendBlock(block.data(), 300);
    ASSERT_EQ(channel.Packets().size(), 1u);
    EXPECT_EQ(channel.Packets()[0].type, PacketChannel::AUDIO);
    EXPECT_EQ(channel.Packets()[0].samples, sent) << "format " << format;
    EXPECT_EQ(block, sent);
    channel.Clear();
    capture.Stop();
  }
  EXPECT_EQ(g_codec.opens, 0);
}

// Sends blocks of the given sizes of one ramp through the ADPCM path of the
// identity stand-in and checks the stream: 100 frames of silence, then the
// input 100 frames late, whatever the block sizes.
void CheckAdpcmDelayLine(FakeChannel& channel, const std::vector<int>& sizes) {
  Adpcm identity;
  identity.LoadFrom(TestLibraryFolder("adpcm_identity"));
  ASSERT_TRUE(identity.IsLoaded());
  TestCapture capture(&identity);
  capture.SetSerialChannel(&channel);
  ASSERT_TRUE(capture.Start(DeviceEntry(), 32728, WAVEFMT_ADPCM));

  std::vector<int16_t> input;
  int next = 1;
  for (int frames : sizes) {
    std::vector<int16_t> block = Ramp(static_cast<size_t>(frames), next);
    next += frames;
    input.insert(input.end(), block.begin(), block.end());
    capture.SendBlock(block.data(), frames);
    EXPECT_EQ(channel.Packets().back().samples, block) << "the block is changed in place and sent";
  }
  EXPECT_EQ(capture.GetCarryFrames(), SoundCapture::ADPCM_CUT_SAMPLES);

  std::vector<int16_t> output = channel.Stream();
  ASSERT_EQ(output.size(), input.size());
  for (size_t i = 0; i < 100 * 2; ++i) ASSERT_EQ(output[i], 0) << "the stream starts from silence";
  for (size_t i = 100 * 2; i < output.size(); ++i) ASSERT_EQ(output[i], input[i - 200]) << "sample " << i;
}

TEST_F(SoundCaptureTest, AdpcmPathDelaysTheStreamByExactly100Frames) {
  // Blocks of 200 frames and more, with short ones (partial flushes) among
  // them: shorter than the history, than the cut, and single frames.
  CheckAdpcmDelayLine(channel, {200, 654, 199, 201, 100, 1000, 1, 150, 333});
}

TEST_F(SoundCaptureTest, AdpcmPathKeepsAStreamOfShortBlocksContinuous) {
  // Every block shorter than the cut: each one comes out of the history.
  CheckAdpcmDelayLine(channel, {1, 37, 99, 64, 3, 80, 99, 1, 50});
}

TEST_F(SoundCaptureTest, OpenCodecPassesTheFormatsArguments) {
  TestCapture capture(nullptr);
  ASSERT_TRUE(capture.Start(DeviceEntry(), 32728, WAVEFMT_CRI_ADX));
  EXPECT_EQ(g_codec.lastInfo.codec, QuillDll::CODEC_ADX);
  EXPECT_EQ(g_codec.lastInfo.channels, 2);
  EXPECT_EQ(g_codec.lastInfo.bytesPerSample, 2);
  EXPECT_EQ(g_codec.lastInfo.quality, 0);
  EXPECT_EQ(g_codec.lastInfo.samplingRate, 32728.0);
  EXPECT_TRUE(capture.IsCodecOpen());
  capture.Stop();
  EXPECT_EQ(g_codec.closes, 1);
  EXPECT_FALSE(capture.IsCodecOpen());

  for (int format = WAVEFMT_CRI_HCA_HIGHEST; format <= WAVEFMT_CRI_HCA_LOWEST; ++format) {
    ASSERT_TRUE(capture.Start(DeviceEntry(), 48000, format));
    EXPECT_EQ(g_codec.lastInfo.codec, QuillDll::CODEC_HCA);
    EXPECT_EQ(g_codec.lastInfo.quality, 8 - format);
    EXPECT_EQ(g_codec.lastInfo.samplingRate, 48000.0);
    capture.Stop();
  }
  EXPECT_EQ(g_codec.opens, 6);
  EXPECT_EQ(g_codec.closes, 6);

  // No codec for PCM and ADPCM.
  ASSERT_TRUE(capture.Start(DeviceEntry(), 32728, WAVEFMT_PCM));
  EXPECT_FALSE(capture.IsCodecOpen());
  EXPECT_EQ(g_codec.opens, 6);
}

TEST_F(SoundCaptureTest, OpenCodecFailsOnAnErrorOrANullHandle) {
  TestCapture capture(nullptr);
  g_codec.openResult = QuillDll::RESULT_FAILED;
  EXPECT_FALSE(capture.Start(DeviceEntry(), 32728, WAVEFMT_CRI_HCA_LOW));
  EXPECT_FALSE(capture.IsCodecOpen());
  g_codec.openResult = QuillDll::RESULT_SUCCESS;
  g_codec.nullHandle = true;
  EXPECT_FALSE(capture.Start(DeviceEntry(), 32728, WAVEFMT_CRI_HCA_LOW));
  EXPECT_FALSE(capture.IsCodecOpen());

  TestCapture unbound(nullptr, CodecFunctions());
  EXPECT_FALSE(unbound.Start(DeviceEntry(), 32728, WAVEFMT_CRI_ADX));
  EXPECT_TRUE(unbound.Start(DeviceEntry(), 32728, WAVEFMT_PCM));
}

TEST_F(SoundCaptureTest, CodecPathCarriesTheFramesTheCodecDidNotTake) {
  g_codec.granule = 64;
  TestCapture capture(nullptr);
  capture.SetSerialChannel(&channel);
  ASSERT_TRUE(capture.Start(DeviceEntry(), 32728, WAVEFMT_CRI_ADX));

  std::vector<int16_t> input;
  int next = 1;
  size_t given = 0;
  for (int frames : {100, 100, 30, 500, 7}) {
    std::vector<int16_t> block = Ramp(static_cast<size_t>(frames), next);
    next += frames;
    input.insert(input.end(), block.begin(), block.end());
    given += static_cast<size_t>(frames);
    capture.SendBlock(block.data(), frames);
    EXPECT_EQ(g_codec.calls.back(),
              static_cast<uint32_t>(capture.GetCarryFrames() + channel.Packets().back().samples.size() / 2));
    EXPECT_EQ(static_cast<size_t>(capture.GetCarryFrames()), given % 64);
    EXPECT_EQ(channel.Packets().back().samples.size() / 2 % 64, 0u);
  }
  // What came out is the input, in order, up to the carried frames.
  std::vector<int16_t> output = channel.Stream();
  ASSERT_EQ(output.size() / 2, given - given % 64);
  EXPECT_TRUE(std::equal(output.begin(), output.end(), input.begin()));

  capture.Stop();
  EXPECT_EQ(capture.GetCarryFrames(), 0);
}

TEST_F(SoundCaptureTest, CodecPathWithALibraryThatTakesEverythingKeepsNoCarry) {
  TestCapture capture(nullptr);
  capture.SetSerialChannel(&channel);
  ASSERT_TRUE(capture.Start(DeviceEntry(), 32728, WAVEFMT_CRI_HCA_MIDDLE));
  for (int frames : {1, 654, 1023, 2000}) {
    std::vector<int16_t> block = Ramp(static_cast<size_t>(frames), 3);
    capture.SendBlock(block.data(), frames);
    EXPECT_EQ(capture.GetCarryFrames(), 0);
    EXPECT_EQ(g_codec.calls.back(), static_cast<uint32_t>(frames));
    EXPECT_EQ(channel.Packets().back().samples, block);
  }
}

TEST_F(SoundCaptureTest, LevelsFollowTheSwingBetweenTurningPoints) {
  TestCapture capture(nullptr);
  ASSERT_TRUE(capture.Start(DeviceEntry(), 32728, WAVEFMT_PCM));

  // A square wave between -1000 and +1000 on the left, half of it on the right.
  std::vector<int16_t> square;
  for (int i = 0; i < 40; ++i) {
    int16_t v = (i / 5) % 2 == 0 ? 1000 : -1000;
    square.push_back(v);
    square.push_back(static_cast<int16_t>(v / 2));
  }
  capture.UpdateLevels(square.data(), 40);
  EXPECT_EQ(capture.GetLevel(0), 2000);
  EXPECT_EQ(capture.GetLevel(1), 1000);

  // An empty block counts as no movement; the meter starts over from there.
  capture.UpdateLevels(nullptr, 0);
  EXPECT_EQ(capture.GetLevel(0), 0);
  capture.UpdateLevels(square.data(), 40);
  EXPECT_EQ(capture.GetLevel(0), 2000);

  // Constant at the last sample: no movement, the level falls to 0.
  std::vector<int16_t> constant(2 * 50);
  for (size_t i = 0; i < 50; ++i) {
    constant[2 * i] = square[square.size() - 2];
    constant[2 * i + 1] = square[square.size() - 1];
  }
  capture.UpdateLevels(constant.data(), 50);
  EXPECT_EQ(capture.GetLevel(0), 0);
  EXPECT_EQ(capture.GetLevel(1), 0);

  // A steady rise completes no turning point after the first: the level
  // is the swing up to that first turn (0 here) and then keeps its value.
  // The right channel jumps from -500 to +1000 and falls from there: one
  // turn with a swing of 1500, which the fall that goes on keeps.
  std::vector<int16_t> rise = Ramp(100, -1000);
  capture.UpdateLevels(rise.data(), 100);
  EXPECT_EQ(capture.GetLevel(0), 0);
  EXPECT_EQ(capture.GetLevel(1), 1500);
  std::vector<int16_t> more = Ramp(100, -900);
  capture.UpdateLevels(more.data(), 100);
  EXPECT_EQ(capture.GetLevel(0), 0);
  EXPECT_EQ(capture.GetLevel(1), 1500);
}

TEST_F(SoundCaptureTest, ProcessCapturedConvertsSendsWhenConnectedAndAlwaysMeters) {
  // The band-limited converter by default; the spline when chosen.
  for (ConverterKind kind : {ConverterKind::SINC, ConverterKind::SPLINE}) {
    channel.Clear();
    channel.SetStatus(PacketChannel::Status::CONNECTED);
    TestCapture capture(nullptr);
    capture.SetSerialChannel(&channel);
    if (kind == ConverterKind::SPLINE) capture.SetConverterKind(kind);
    EXPECT_EQ(capture.GetConverterKind(), kind);
    ASSERT_TRUE(capture.Start(DeviceEntry(), 32728, WAVEFMT_PCM));
    capture.SetupConverter(48000);

    std::vector<int16_t> block = StereoSine(1000.0, 48000.0, 8000.0, 480);
    capture.ProcessCaptured(block.data(), 480 * 4 + 3);
    ASSERT_EQ(channel.Packets().size(), 1u);
    RateConverter reference;
    reference.SetKind(kind);
    reference.Setup(48000, 32728, 2);
    EXPECT_EQ(channel.Packets()[0].samples.size() * 2, static_cast<size_t>(reference.OutputBytes(480 * 4)));
    EXPECT_GT(capture.GetLevel(0), 15000);
    // The converter's delay is silence put in front of the stream, counted
    // once, at the output rate.
    const uint64_t delay = (uint64_t{reference.GetLookahead()} * 32728 + 24000) / 48000;
    EXPECT_GT(delay, 0u);
    EXPECT_EQ(delay, capture.GetStreamFigures().framesInserted);

    channel.SetStatus(PacketChannel::Status::OPEN);
    std::vector<int16_t> loud = StereoSine(1000.0, 48000.0, 16000.0, 480);
    capture.ProcessCaptured(loud.data(), 480 * 4);
    EXPECT_EQ(channel.Packets().size(), 1u) << "nothing is sent unless connected";
    EXPECT_GT(capture.GetLevel(0), 30000) << "the levels follow the captured block";

    // Equal rates: the block goes out as it is.
    channel.SetStatus(PacketChannel::Status::CONNECTED);
    capture.SetupConverter(32728);
    capture.ProcessCaptured(loud.data(), 480 * 4);
    EXPECT_EQ(channel.Packets().back().samples, loud);
    EXPECT_EQ(delay, capture.GetStreamFigures().framesInserted);
    capture.Stop();
  }
}

TEST(WaveFormatNames, RoundTrip) {
  EXPECT_STREQ(WaveFormatName(WAVEFMT_PCM), "PCM");
  EXPECT_STREQ(WaveFormatName(WAVEFMT_CRI_ADX), "CRI ADX");
  EXPECT_STREQ(WaveFormatName(WAVEFMT_CRI_HCA_LOWEST), "CRI HCA LOWEST");
  EXPECT_EQ(WaveFormatName(8), nullptr);
  for (int code = 0; code < WAVEFMT_COUNT; ++code) EXPECT_EQ(WaveFormatFromName(WaveFormatName(code)), code);
  EXPECT_EQ(WaveFormatFromName("cri adx"), -1);
}

}  // namespace
