// The stream figures of the block pipeline (StreamStats, as the pipeline
// counts into it): writes, their times and the frames lost, inserted or unsent,
// over a stream and after it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "CaptureTestUtil.h"
#include "TestCapture.h"
#include "TestUtil.h"
#include "capture/Adpcm.h"
#include "capture/BlockPipeline.h"
#include "capture/StreamStats.h"

namespace {

class StreamStatsTest : public ::testing::Test {
 protected:
  void SetUp() override { g_codec = FakeCodecLibrary(); }
  FakeChannel channel;
};

// A scripted stream: its blocks and frames, the longest and mean write (a
// slow write among fast ones), the frames sent while the link was down, the
// silence the ADPCM pass puts in front and what the ADPCM delay or the codec
// still held at Stop; the figures are kept after Stop and start again at 0.
TEST_F(StreamStatsTest, StreamFiguresCountWritesAndLossesAndOutliveTheStream) {
  Adpcm identity;
  identity.LoadFrom(TestLibraryFolder("adpcm_identity"));
  ASSERT_TRUE(identity.IsLoaded());
  struct Case {
    int format;
    uint32_t granule;
    uint64_t frames;  // sent
    uint64_t inserted;
    uint64_t dropped;
  } cases[] = {
      {WAVEFMT_PCM, 1, 2420, 0, 0},
      {WAVEFMT_ADPCM, 1, 2420, 100, 100},
      // The codec takes 256-frame granules: 768 of 960, 1024 of 192 + 960,
      // 512 of 128 + 500; the last 116 are held at Stop.
      {WAVEFMT_CRI_ADX, 256, 2304, 0, 116},
  };
  for (const Case& c : cases) {
    g_codec.granule = c.granule;
    // The clock that times the channel writes: moves only when a write says so.
    ManualClock clock;
    BlockPipeline pipeline(&identity, FakeCodecFunctions(), clock);
    pipeline.SetPacketChannel(&channel);
    EXPECT_FALSE(pipeline.GetStreamFigures(0).valid) << "no stream yet";
    const uint64_t costs[] = {300, 25000, 700};
    size_t writes = 0;
    channel.onWrite = [&] { clock.micros += costs[writes++ % 3]; };
    channel.SetStatus(PacketChannel::Status::CONNECTED);
    channel.droppedAudio = 5;  // before this stream: not its own
    ASSERT_TRUE(pipeline.Open(48000, c.format));
    pipeline.BeginStream();
    channel.droppedAudio += 2;
    for (int frames : {960, 960, 500}) {
      std::vector<int16_t> block = Ramp(static_cast<size_t>(frames), 1);
      pipeline.SendBlock(block.data(), frames);
    }
    channel.SetStatus(PacketChannel::Status::OPEN);
    std::vector<int16_t> unsent = Ramp(400, 1);
    pipeline.ProcessCaptured(unsent.data(), 400);

    StreamFigures running = pipeline.GetStreamFigures(1);
    EXPECT_TRUE(running.valid && running.running) << c.format;
    EXPECT_EQ(3u, running.blocks) << c.format;
    EXPECT_EQ(c.frames, running.frames) << c.format;
    EXPECT_EQ(25000u, running.writeMaxUs) << c.format;
    EXPECT_EQ(26000u / 3, running.WriteMeanUs()) << c.format;
    EXPECT_EQ(400u, running.framesUnsent) << c.format;
    EXPECT_EQ(c.inserted, running.framesInserted) << c.format;
    EXPECT_EQ(0u, running.framesDropped) << c.format;
    EXPECT_EQ(1u, running.restarts) << c.format;
    EXPECT_EQ(2u, running.linkDropped) << c.format;

    LogCapture log;
    pipeline.EndStream("Test", 1);
    pipeline.Close();
    const StreamFigures last = pipeline.GetStreamFigures(1);
    EXPECT_TRUE(last.valid && !last.running) << c.format;
    EXPECT_EQ(3u, last.blocks) << c.format;
    EXPECT_EQ(c.dropped, last.framesDropped) << c.format;
    char expected[256];
    snprintf(expected, sizeof(expected),
             "Stream end (Test): blocks 3, frames %llu, write longest 25.000 ms, mean 8.666 ms\n"
             "Stream end (Test): late buffers 0, discontinuities 0, short blocks 0, frames dropped %llu, "
             "inserted %llu, unsent 400, restarts 1, link dropped 2\n",
             static_cast<unsigned long long>(c.frames), static_cast<unsigned long long>(c.dropped),
             static_cast<unsigned long long>(c.inserted));
    EXPECT_EQ(expected, log.Text()) << c.format;
    pipeline.EndStream("Test", 1);
    EXPECT_EQ(expected, log.Text()) << "a second end logs nothing";

    // The next stream starts from 0.
    ASSERT_TRUE(pipeline.Open(48000, c.format));
    pipeline.BeginStream();
    const StreamFigures next = pipeline.GetStreamFigures(1);
    EXPECT_TRUE(next.running);
    EXPECT_EQ(0u, next.blocks);
    EXPECT_EQ(0u, next.writeMaxUs);
    EXPECT_EQ(1u, next.restarts);
    pipeline.EndStream("Test", 1);
    pipeline.Close();
    channel.onWrite = nullptr;
    channel.Clear();
  }
}

}  // namespace
