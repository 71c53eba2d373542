#include "capture/CaptureMath.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace capture;

TEST(CaptureMath, BestRatePrefers48000Then44100Then96000) {
  EXPECT_EQ(48000, BestWaveInRate(WAVEIN_FORMAT_96S16 | WAVEIN_FORMAT_48S16));
  EXPECT_EQ(48000, BestWaveInRate(0xFFFFF));
  EXPECT_EQ(44100, BestWaveInRate(WAVEIN_FORMAT_96S16 | WAVEIN_FORMAT_4S16 | WAVEIN_FORMAT_1S16));
  EXPECT_EQ(96000, BestWaveInRate(WAVEIN_FORMAT_96S16 | WAVEIN_FORMAT_2S16));
  EXPECT_EQ(22050, BestWaveInRate(WAVEIN_FORMAT_2S16 | WAVEIN_FORMAT_1S16));
  EXPECT_EQ(11025, BestWaveInRate(WAVEIN_FORMAT_1S16));
  // Mono and 8-bit formats only: no stereo 16-bit rate.
  EXPECT_EQ(0, BestWaveInRate(0x4000 | 0x2000 | 0x4 | 0x1));
  EXPECT_EQ(0, BestWaveInRate(0));
}

TEST(CaptureMath, ErrorNamesCoverBothRangesAndNothingElse) {
  EXPECT_STREQ("MMSYSERR_NOERROR", WaveInErrorName(0));
  EXPECT_STREQ("MMSYSERR_BADDEVICEID", WaveInErrorName(2));
  EXPECT_STREQ("MMSYSERR_INVALPARAM", WaveInErrorName(11));
  EXPECT_STREQ("MMSYSERR_MOREDATA", WaveInErrorName(21));
  EXPECT_STREQ("WAVERR_BADFORMAT", WaveInErrorName(32));
  EXPECT_STREQ("WAVERR_STILLPLAYING", WaveInErrorName(33));
  EXPECT_STREQ("WAVERR_SYNC", WaveInErrorName(35));
  for (uint32_t code : {22u, 31u, 36u, 99u, 0xFFFFFFFFu}) {
    EXPECT_STREQ("MMSYSERR_UNKNOWN", WaveInErrorName(code)) << code;
  }
}

TEST(CaptureMath, BlockFramesOfTwentyMilliseconds) {
  EXPECT_EQ(654, BlockFrames(32728, 20));  // 2616 bytes
  EXPECT_EQ(960, BlockFrames(48000, 20));  // 3840 bytes
  EXPECT_EQ(882, BlockFrames(44100, 20));
  EXPECT_EQ(1, BlockFrames(10, 20));
  EXPECT_EQ(1, BlockFrames(0, 20));
}

TEST(CaptureMath, NearestIndexByName) {
  const std::vector<std::string> names = {"Mic", "Line", "Mic", "", "Mic", "Line"};
  EXPECT_EQ(2, NearestIndexByName(names, "Mic", 2));
  EXPECT_EQ(2, NearestIndexByName(names, "Mic", 3));  // 2 and 4 tie: the first
  EXPECT_EQ(4, NearestIndexByName(names, "Mic", 9));
  EXPECT_EQ(0, NearestIndexByName(names, "Mic", -5));
  EXPECT_EQ(5, NearestIndexByName(names, "Line", 4));
  EXPECT_EQ(1, NearestIndexByName(names, "Line", 2));  // 1 and 3 is no Line; 1 is nearer than 5
  EXPECT_EQ(-1, NearestIndexByName(names, "mic", 0));  // exact bytes only
  EXPECT_EQ(-1, NearestIndexByName(names, "Mic ", 0));
  EXPECT_EQ(-1, NearestIndexByName({}, "Mic", 0));
}

namespace {
struct RecordingSink : CaptureBlockBuffer::Sink {
  void OnBlock(int16_t* frames, int32_t frameCount) override {
    blocks.emplace_back(frames, frames + frameCount * 2);
    sizes.push_back(frameCount);
  }
  std::vector<std::vector<int16_t>> blocks;
  std::vector<int32_t> sizes;  // frames
};

std::vector<int16_t> Ramp(int16_t first, size_t samples) {
  std::vector<int16_t> values(samples);
  for (size_t i = 0; i < samples; ++i) values[i] = static_cast<int16_t>(first + static_cast<int16_t>(i));
  return values;
}
}  // namespace

TEST(CaptureBlockBuffer, PacketLargerThanTheFreeSpaceIsSplit) {
  CaptureBlockBuffer buffer;
  RecordingSink sink;
  buffer.Setup(4);

  const std::vector<int16_t> first = Ramp(0, 6);  // 3 frames
  buffer.Append(first.data(), 3, sink);
  EXPECT_TRUE(sink.blocks.empty());
  EXPECT_EQ(3u, buffer.GetFill());

  // 11 frames: one completes the block, eight fill two more, two stay.
  const std::vector<int16_t> second = Ramp(6, 22);
  buffer.Append(second.data(), 11, sink);
  ASSERT_EQ(3u, sink.blocks.size());
  EXPECT_EQ(2u, buffer.GetFill());
  std::vector<int16_t> joined;
  for (const auto& block : sink.blocks) {
    EXPECT_EQ(8u, block.size());
    joined.insert(joined.end(), block.begin(), block.end());
  }
  EXPECT_EQ(Ramp(0, 24), joined);

  buffer.Flush(sink);
  ASSERT_EQ(4u, sink.blocks.size());
  EXPECT_EQ(Ramp(24, 4), sink.blocks.back());
  EXPECT_EQ(0u, buffer.GetFill());
}

TEST(CaptureBlockBuffer, EmptyPollsFlushEveryTwentiethTimeAndSilenceIsZeros) {
  CaptureBlockBuffer buffer;
  RecordingSink sink;
  buffer.Setup(960);
  EXPECT_EQ(960u, buffer.GetCapacity());

  const std::vector<int16_t> packet(200, 1234);
  buffer.Append(packet.data(), 100, sink);
  buffer.AppendSilence(100, sink);
  int flushes = 0;
  for (int poll = 1; poll <= 45; ++poll) {
    if (buffer.CountEmptyPoll()) {
      ++flushes;
      EXPECT_EQ(0, poll % CaptureBlockBuffer::FLUSH_EMPTY_POLLS) << poll;
      buffer.Flush(sink);
    }
  }
  EXPECT_EQ(2, flushes);
  // The first flush hands the partial block, the second an empty one.
  ASSERT_EQ(2u, sink.sizes.size());
  EXPECT_EQ(200, sink.sizes[0]);
  EXPECT_EQ(std::vector<int16_t>(200, 1234),
            std::vector<int16_t>(sink.blocks[0].begin(), sink.blocks[0].begin() + 200));
  EXPECT_EQ(std::vector<int16_t>(200, 0), std::vector<int16_t>(sink.blocks[0].begin() + 200, sink.blocks[0].end()));
  EXPECT_EQ(0, sink.sizes[1]);

  // A packet resets the count.
  buffer.ResetEmptyPolls();
  for (int poll = 0; poll < 19; ++poll) EXPECT_FALSE(buffer.CountEmptyPoll());
  buffer.ResetEmptyPolls();
  for (int poll = 0; poll < 19; ++poll) EXPECT_FALSE(buffer.CountEmptyPoll());
  EXPECT_TRUE(buffer.CountEmptyPoll());
}

TEST(CaptureBlockBuffer, FreedBufferTakesNothing) {
  CaptureBlockBuffer buffer;
  RecordingSink sink;
  const int16_t data[4] = {1, 2, 3, 4};
  buffer.Append(data, 2, sink);
  buffer.Flush(sink);
  EXPECT_TRUE(sink.blocks.empty());

  buffer.Setup(0);  // at least one frame
  EXPECT_EQ(1u, buffer.GetCapacity());
  buffer.Append(data, 2, sink);
  EXPECT_EQ(2u, sink.blocks.size());
  buffer.Free();
  EXPECT_EQ(0u, buffer.GetCapacity());
  buffer.Append(data, 2, sink);
  EXPECT_EQ(2u, sink.blocks.size());
}
