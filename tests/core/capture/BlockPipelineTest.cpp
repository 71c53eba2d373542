// The block pipeline without a source: the three codec passes (plain, ADPCM
// with its delay line, the codec library with its carry-over), the codec's
// opening arguments, the level meters, and ProcessCaptured's conversion,
// counts in frames and write only while connected.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "CaptureTestUtil.h"
#include "TestCapture.h"
#include "TestUtil.h"
#include "capture/Adpcm.h"
#include "capture/BlockPipeline.h"
#include "codec/include/QuillDll.h"

namespace {

class BlockPipelineTest : public ::testing::Test {
 protected:
  void SetUp() override { g_codec = FakeCodecLibrary(); }
  FakeChannel channel;
  ManualClock clock;
};

TEST_F(BlockPipelineTest, PlainPathSendsTheBlockAsCaptured) {
  Adpcm unloaded;
  for (int format : {WAVEFMT_PCM, WAVEFMT_ADPCM}) {
    BlockPipeline pipeline(&unloaded, FakeCodecFunctions(), clock);
    pipeline.SetPacketChannel(&channel);
    ASSERT_TRUE(pipeline.Open(32728, format));
    std::vector<int16_t> block = Ramp(300, 7);
    const std::vector<int16_t> sent = block;
    pipeline.SendBlock(block.data(), 300);
    ASSERT_EQ(channel.Packets().size(), 1u);
    EXPECT_EQ(channel.Packets()[0].type, PacketChannel::AUDIO);
    EXPECT_EQ(channel.Packets()[0].samples, sent) << "format " << format;
    EXPECT_EQ(block, sent);
    EXPECT_EQ(pipeline.GetHeldBackFrames(), 0);
    channel.Clear();
    pipeline.Close();
  }
  EXPECT_EQ(g_codec.opens, 0);
}

// Sends blocks of the given sizes of one ramp through the ADPCM path of the
// identity stand-in and checks the stream: 100 frames of silence, then the
// input 100 frames late, whatever the block sizes. Each stream of the
// pipeline starts from silence again.
void CheckAdpcmDelayLine(FakeChannel& channel, Clock& clock, const std::vector<int>& sizes) {
  Adpcm identity;
  identity.LoadFrom(TestLibraryFolder("adpcm_identity"));
  ASSERT_TRUE(identity.IsLoaded());
  BlockPipeline pipeline(&identity, FakeCodecFunctions(), clock);
  pipeline.SetPacketChannel(&channel);
  for (int stream = 0; stream < 2; ++stream) {
    channel.Clear();
    ASSERT_TRUE(pipeline.Open(32728, WAVEFMT_ADPCM));
    EXPECT_EQ(pipeline.GetHeldBackFrames(), 0) << "nothing held before the first block";

    std::vector<int16_t> input;
    int next = 1;
    for (int frames : sizes) {
      std::vector<int16_t> block = Ramp(static_cast<size_t>(frames), next);
      next += frames;
      input.insert(input.end(), block.begin(), block.end());
      pipeline.SendBlock(block.data(), frames);
      EXPECT_EQ(channel.Packets().back().samples, block) << "the block is changed in place and sent";
    }
    EXPECT_EQ(pipeline.GetHeldBackFrames(), BlockPipeline::ADPCM_CUT_FRAMES);

    std::vector<int16_t> output = channel.Stream();
    ASSERT_EQ(output.size(), input.size());
    for (size_t i = 0; i < 100 * 2; ++i) ASSERT_EQ(output[i], 0) << "the stream starts from silence, " << stream;
    for (size_t i = 100 * 2; i < output.size(); ++i) ASSERT_EQ(output[i], input[i - 200]) << "sample " << i;
    pipeline.Close();
    EXPECT_EQ(pipeline.GetHeldBackFrames(), 0);
  }
}

TEST_F(BlockPipelineTest, AdpcmPathDelaysTheStreamByExactly100Frames) {
  // Blocks of 200 frames and more, with short ones (partial flushes) among
  // them: shorter than the history, than the cut, and single frames.
  CheckAdpcmDelayLine(channel, clock, {200, 654, 199, 201, 100, 1000, 1, 150, 333});
}

TEST_F(BlockPipelineTest, AdpcmPathKeepsAStreamOfShortBlocksContinuous) {
  // Every block shorter than the cut: each one comes out of the history.
  CheckAdpcmDelayLine(channel, clock, {1, 37, 99, 64, 3, 80, 99, 1, 50});
}

TEST_F(BlockPipelineTest, OpenPassesTheFormatsArgumentsToTheCodec) {
  BlockPipeline pipeline(nullptr, FakeCodecFunctions(), clock);
  ASSERT_TRUE(pipeline.Open(32728, WAVEFMT_CRI_ADX));
  EXPECT_EQ(g_codec.lastInfo.codec, QuillDll::CODEC_ADX);
  EXPECT_EQ(g_codec.lastInfo.channels, 2);
  EXPECT_EQ(g_codec.lastInfo.bytesPerSample, 2);
  EXPECT_EQ(g_codec.lastInfo.quality, 0);
  EXPECT_EQ(g_codec.lastInfo.samplingRate, 32728.0);
  EXPECT_TRUE(pipeline.IsCodecOpen());
  pipeline.Close();
  EXPECT_EQ(g_codec.closes, 1);
  EXPECT_FALSE(pipeline.IsCodecOpen());

  for (int format = WAVEFMT_CRI_HCA_HIGHEST; format <= WAVEFMT_CRI_HCA_LOWEST; ++format) {
    ASSERT_TRUE(pipeline.Open(48000, format));
    EXPECT_EQ(g_codec.lastInfo.codec, QuillDll::CODEC_HCA);
    EXPECT_EQ(g_codec.lastInfo.quality, 8 - format);
    EXPECT_EQ(g_codec.lastInfo.samplingRate, 48000.0);
    pipeline.Close();
  }
  EXPECT_EQ(g_codec.opens, 6);
  EXPECT_EQ(g_codec.closes, 6);

  // No codec for PCM and ADPCM.
  ASSERT_TRUE(pipeline.Open(32728, WAVEFMT_PCM));
  EXPECT_FALSE(pipeline.IsCodecOpen());
  EXPECT_EQ(g_codec.opens, 6);
}

TEST_F(BlockPipelineTest, OpenFailsOnACodecErrorOrANullHandle) {
  BlockPipeline pipeline(nullptr, FakeCodecFunctions(), clock);
  g_codec.openResult = QuillDll::RESULT_FAILED;
  EXPECT_FALSE(pipeline.Open(32728, WAVEFMT_CRI_HCA_LOW));
  EXPECT_FALSE(pipeline.IsCodecOpen());
  g_codec.openResult = QuillDll::RESULT_SUCCESS;
  g_codec.nullHandle = true;
  EXPECT_FALSE(pipeline.Open(32728, WAVEFMT_CRI_HCA_LOW));
  EXPECT_FALSE(pipeline.IsCodecOpen());

  BlockPipeline unbound(nullptr, CodecFunctions(), clock);
  EXPECT_FALSE(unbound.Open(32728, WAVEFMT_CRI_ADX));
  EXPECT_TRUE(unbound.Open(32728, WAVEFMT_PCM));
}

TEST_F(BlockPipelineTest, CodecPathCarriesTheFramesTheCodecDidNotTake) {
  g_codec.granule = 64;
  BlockPipeline pipeline(nullptr, FakeCodecFunctions(), clock);
  pipeline.SetPacketChannel(&channel);
  ASSERT_TRUE(pipeline.Open(32728, WAVEFMT_CRI_ADX));

  std::vector<int16_t> input;
  int next = 1;
  size_t given = 0;
  for (int frames : {100, 100, 30, 500, 7}) {
    std::vector<int16_t> block = Ramp(static_cast<size_t>(frames), next);
    next += frames;
    input.insert(input.end(), block.begin(), block.end());
    given += static_cast<size_t>(frames);
    pipeline.SendBlock(block.data(), frames);
    EXPECT_EQ(g_codec.calls.back(),
              static_cast<uint32_t>(pipeline.GetHeldBackFrames() + channel.Packets().back().samples.size() / 2));
    EXPECT_EQ(static_cast<size_t>(pipeline.GetHeldBackFrames()), given % 64);
    EXPECT_EQ(channel.Packets().back().samples.size() / 2 % 64, 0u);
  }
  // What came out is the input, in order, up to the carried frames.
  std::vector<int16_t> output = channel.Stream();
  ASSERT_EQ(output.size() / 2, given - given % 64);
  EXPECT_TRUE(std::equal(output.begin(), output.end(), input.begin()));

  // The next stream does not begin with this one's carry.
  pipeline.Close();
  EXPECT_EQ(pipeline.GetHeldBackFrames(), 0);
  ASSERT_TRUE(pipeline.Open(32728, WAVEFMT_CRI_ADX));
  std::vector<int16_t> block = Ramp(64, 5000);
  pipeline.SendBlock(block.data(), 64);
  EXPECT_EQ(g_codec.calls.back(), 64u);
  EXPECT_EQ(channel.Packets().back().samples, block);
}

TEST_F(BlockPipelineTest, CodecPathWithALibraryThatTakesEverythingKeepsNoCarry) {
  BlockPipeline pipeline(nullptr, FakeCodecFunctions(), clock);
  pipeline.SetPacketChannel(&channel);
  ASSERT_TRUE(pipeline.Open(32728, WAVEFMT_CRI_HCA_MIDDLE));
  for (int frames : {1, 654, 1023, 2000}) {
    std::vector<int16_t> block = Ramp(static_cast<size_t>(frames), 3);
    pipeline.SendBlock(block.data(), frames);
    EXPECT_EQ(pipeline.GetHeldBackFrames(), 0);
    EXPECT_EQ(g_codec.calls.back(), static_cast<uint32_t>(frames));
    EXPECT_EQ(channel.Packets().back().samples, block);
  }
}

TEST_F(BlockPipelineTest, LevelsFollowTheSwingBetweenTurningPoints) {
  BlockPipeline pipeline(nullptr, FakeCodecFunctions(), clock);
  ASSERT_TRUE(pipeline.Open(32728, WAVEFMT_PCM));

  // A square wave between -1000 and +1000 on the left, half of it on the right.
  std::vector<int16_t> square;
  for (int i = 0; i < 40; ++i) {
    int16_t v = (i / 5) % 2 == 0 ? 1000 : -1000;
    square.push_back(v);
    square.push_back(static_cast<int16_t>(v / 2));
  }
  pipeline.UpdateLevels(square.data(), 40);
  EXPECT_EQ(pipeline.GetLevel(0), 2000);
  EXPECT_EQ(pipeline.GetLevel(1), 1000);

  // An empty block counts as no movement; the meter starts over from there.
  pipeline.UpdateLevels(nullptr, 0);
  EXPECT_EQ(pipeline.GetLevel(0), 0);
  pipeline.UpdateLevels(square.data(), 40);
  EXPECT_EQ(pipeline.GetLevel(0), 2000);

  // Constant at the last sample: no movement, the level falls to 0.
  std::vector<int16_t> constant(2 * 50);
  for (size_t i = 0; i < 50; ++i) {
    constant[2 * i] = square[square.size() - 2];
    constant[2 * i + 1] = square[square.size() - 1];
  }
  pipeline.UpdateLevels(constant.data(), 50);
  EXPECT_EQ(pipeline.GetLevel(0), 0);
  EXPECT_EQ(pipeline.GetLevel(1), 0);

  // A steady rise completes no turning point after the first: the level
  // is the swing up to that first turn (0 here) and then keeps its value.
  // The right channel jumps from -500 to +1000 and falls from there: one
  // turn with a swing of 1500, which the fall that goes on keeps.
  std::vector<int16_t> rise = Ramp(100, -1000);
  pipeline.UpdateLevels(rise.data(), 100);
  EXPECT_EQ(pipeline.GetLevel(0), 0);
  EXPECT_EQ(pipeline.GetLevel(1), 1500);
  std::vector<int16_t> more = Ramp(100, -900);
  pipeline.UpdateLevels(more.data(), 100);
  EXPECT_EQ(pipeline.GetLevel(0), 0);
  EXPECT_EQ(pipeline.GetLevel(1), 1500);

  // A new stream's meters start at 0.
  pipeline.UpdateLevels(square.data(), 40);
  ASSERT_EQ(pipeline.GetLevel(0), 2000);
  pipeline.Close();
  ASSERT_TRUE(pipeline.Open(32728, WAVEFMT_PCM));
  EXPECT_EQ(pipeline.GetLevel(0), 0);
  EXPECT_EQ(pipeline.GetLevel(1), 0);
}

TEST_F(BlockPipelineTest, ProcessCapturedConvertsSendsWhenConnectedAndAlwaysMeters) {
  // The band-limited converter by default; the spline when chosen.
  for (ConverterKind kind : {ConverterKind::SINC, ConverterKind::SPLINE}) {
    channel.Clear();
    channel.SetStatus(PacketChannel::Status::CONNECTED);
    BlockPipeline pipeline(nullptr, FakeCodecFunctions(), clock);
    pipeline.SetPacketChannel(&channel);
    if (kind == ConverterKind::SPLINE) pipeline.SetConverterKind(kind);
    EXPECT_EQ(pipeline.GetConverterKind(), kind);
    ASSERT_TRUE(pipeline.Open(32728, WAVEFMT_PCM));
    pipeline.SetupConverter(48000);
    pipeline.BeginStream();

    std::vector<int16_t> block = StereoSine(1000.0, 48000.0, 8000.0, 480);
    pipeline.ProcessCaptured(block.data(), 480);
    ASSERT_EQ(channel.Packets().size(), 1u);
    RateConverter reference;
    reference.SetKind(kind);
    reference.Setup(48000, 32728, 2);
    const size_t sentFrames = channel.Packets()[0].samples.size() / 2;
    EXPECT_EQ(sentFrames * capture::BYTES_PER_FRAME,
              static_cast<size_t>(reference.OutputBytes(480 * capture::BYTES_PER_FRAME)));
    EXPECT_EQ(pipeline.GetStreamFigures(0).frames, sentFrames) << "the figures count frames";
    EXPECT_GT(pipeline.GetLevel(0), 15000);
    // The converter's delay is silence put in front of the stream, counted
    // once, at the output rate.
    const uint64_t delay = (uint64_t{reference.GetLookahead()} * 32728 + 24000) / 48000;
    EXPECT_GT(delay, 0u);
    EXPECT_EQ(delay, pipeline.GetStreamFigures(0).framesInserted);

    channel.SetStatus(PacketChannel::Status::OPEN);
    std::vector<int16_t> loud = StereoSine(1000.0, 48000.0, 16000.0, 480);
    pipeline.ProcessCaptured(loud.data(), 480);
    EXPECT_EQ(channel.Packets().size(), 1u) << "nothing is sent unless connected";
    EXPECT_EQ(pipeline.GetStreamFigures(0).framesUnsent, 480u);
    EXPECT_GT(pipeline.GetLevel(0), 30000) << "the levels follow the captured block";

    // Equal rates: the block goes out as it is, every frame of it.
    channel.SetStatus(PacketChannel::Status::CONNECTED);
    pipeline.SetupConverter(32728);
    pipeline.ProcessCaptured(loud.data(), 480);
    EXPECT_EQ(channel.Packets().back().samples, loud);
    EXPECT_EQ(delay, pipeline.GetStreamFigures(0).framesInserted);
    pipeline.EndStream("Test", 0);
    pipeline.Close();
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
