// The wave-file source: loading and refusing files, the device list, the
// slices of playback with their fractional carry and the seamless loop, and
// the paced worker from Start to Stop.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <thread>
#include <vector>

#include "CaptureTestUtil.h"
#include "TestUtil.h"
#include "capture/SincResampler.h"
#include "capture/SoundCaptureWaveFile.h"
#include "capture/WaveDecoder.h"
#include "codec/include/QuillDll.h"

namespace {

// The source with its slice operations opened up.
class TestWaveFile : public SoundCaptureWaveFile {
 public:
  using SoundCaptureWaveFile::PlayFrames;
  using SoundCaptureWaveFile::SliceFrames;
  using SoundCaptureWaveFile::SoundCaptureWaveFile;
};

uint32_t g_opens = 0;
uint32_t FailingOpen(void** handle, const QuillDll::CODECINFO*) {
  ++g_opens;
  *handle = nullptr;
  return QuillDll::RESULT_FAILED;
}

class SoundCaptureWaveFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestResources();
    source.SetPacketChannel(&channel);
  }

  // Writes a stereo 16-bit file whose left sample is the frame index.
  std::string WriteCounting(const char* name, uint32_t frames, uint32_t rate) {
    std::vector<int16_t> samples(2 * frames);
    for (uint32_t i = 0; i < frames; ++i) {
      samples[2 * i] = static_cast<int16_t>(i);
      samples[2 * i + 1] = static_cast<int16_t>(-static_cast<int>(i));
    }
    WaveDesc waveDesc;
    waveDesc.rate = rate;
    waveDesc.data = Bytes16(samples);
    dir.Write(name, MakeWave(waveDesc));
    return dir.File(name);
  }

  TempDir dir;
  FakeChannel channel;
  RecordingMessageBox messages;
  ManualClock clock;
  TestWaveFile source{nullptr, CodecFunctions(), messages, clock};
};

TEST_F(SoundCaptureWaveFileTest, DeviceListNamesTheFileOrAsksForOne) {
  EXPECT_EQ(source.GetName(), "WaveFile");
  ASSERT_TRUE(source.Initialize());
  ASSERT_EQ(source.GetDeviceCount(), 1);
  EXPECT_EQ(source.GetDevice(0).name, "Drop a Wave File");
  EXPECT_EQ(source.GetDevice(0).id, 0);

  ASSERT_TRUE(source.LoadWaveFile(WriteCounting("count.wav", 100, 22050)));
  EXPECT_EQ(source.GetDevice(0).name, "Drop a Wave File") << "the owner refreshes the list";
  ASSERT_TRUE(source.EnumerateDevices());
  EXPECT_EQ(source.GetDevice(0).name, "count.wav");
  EXPECT_EQ(source.GetFileRate(), 22050u);
  EXPECT_EQ(source.GetInputRate(), 22050);
  EXPECT_EQ(source.GetFrameCount(), 100u);
}

TEST_F(SoundCaptureWaveFileTest, UnsupportedFileShowsTheMessageAndKeepsTheLoadedOne) {
  ASSERT_TRUE(source.LoadWaveFile(WriteCounting("good.wav", 10, 8000)));
  dir.Write("bad.wav", "RIFF....WAVEjunk");
  LogCapture log;
  EXPECT_FALSE(source.LoadWaveFile(dir.File("bad.wav")));
  EXPECT_FALSE(source.LoadWaveFile(dir.File("missing.wav")));
  EXPECT_EQ(messages.count, 2);
  EXPECT_EQ(messages.last, CaptureMessage::NOT_SUPPORTED_FORMAT);
  EXPECT_NE(log.Text().find("bad.wav"), std::string::npos);

  // A file too large to play says so instead: 8-bit mono whose data chunk
  // decodes to more than the limit (sparse: it costs no disk space).
  WaveDesc small;
  small.channels = 1;
  small.bits = 8;
  small.data = std::string(4, '\x80');
  std::string big = MakeWave(small);
  const uint32_t dataBytes = static_cast<uint32_t>(WAVE_MAX_DECODED_BYTES / capture::BYTES_PER_FRAME + 1);
  for (int i = 0; i < 4; ++i) {
    big[4 + i] = static_cast<char>((36 + dataBytes) >> (8 * i));  // RIFF
    big[40 + i] = static_cast<char>(dataBytes >> (8 * i));        // data
  }
  dir.Write("big.wav", big);
  std::filesystem::resize_file(std::filesystem::u8path(dir.File("big.wav")), 44 + uint64_t{dataBytes});
  EXPECT_FALSE(source.LoadWaveFile(dir.File("big.wav")));
  EXPECT_EQ(messages.count, 3);
  EXPECT_EQ(messages.last, CaptureMessage::WAVE_FILE_TOO_LARGE);

  EXPECT_EQ(source.GetFileName(), "good.wav");
  EXPECT_EQ(source.GetFrameCount(), 10u);

  // A recording cut short plays what is there, with one log line.
  std::string cut = MakeWave(WaveDesc());
  cut += std::string(400, '\0');
  for (int i = 0; i < 4; ++i) {
    cut[4 + i] = static_cast<char>(uint32_t{36 + 1000} >> (8 * i));  // RIFF
    cut[40 + i] = static_cast<char>(uint32_t{1000} >> (8 * i));      // data
  }
  dir.Write("cut.wav", cut);
  log.Clear();
  EXPECT_TRUE(source.LoadWaveFile(dir.File("cut.wav")));
  EXPECT_EQ(source.GetFrameCount(), 100u);
  EXPECT_EQ(messages.count, 3);
  EXPECT_EQ(log.Text(),
            "WaveFile: " + dir.File("cut.wav") + ": the data chunk claims 1000 bytes, 400 are there; playing those\n");
}

TEST_F(SoundCaptureWaveFileTest, SlicesCarryTheFractionOfAFrameAndCapStalls) {
  ASSERT_TRUE(source.LoadWaveFile(WriteCounting("a.wav", 100, 11025)));
  // 11025 Hz x 20 ms = 220.5 frames.
  EXPECT_EQ(source.SliceFrames(20), 220u);
  EXPECT_EQ(source.SliceFrames(20), 221u);
  EXPECT_EQ(source.SliceFrames(20), 220u);
  EXPECT_EQ(source.SliceFrames(30), 331u);  // 330.75 + 0.5
  // A stall of a minute plays one second, not a minute.
  EXPECT_EQ(source.SliceFrames(60000), 11025u);

  // Over many slices of varying length the frame rate is exact.
  uint64_t total = 0;
  uint64_t ms = 0;
  for (int i = 0; i < 1000; ++i) {
    uint64_t slice = 20 + static_cast<uint64_t>(i % 17);
    total += source.SliceFrames(slice);
    ms += slice;
  }
  EXPECT_NEAR(static_cast<double>(total), ms * 11025 / 1000.0, 1.0);
}

TEST_F(SoundCaptureWaveFileTest, PlaybackWrapsFromTheLastFrameToTheFirst) {
  ASSERT_TRUE(source.LoadWaveFile(WriteCounting("loop.wav", 1000, 44100)));
  // No conversion at equal rates: the packets hold the file's frames.
  ASSERT_TRUE(source.Start(DeviceEntry(), 44100, WAVEFMT_PCM));
  source.Stop();
  // The worker may have played a slice before Stop: go on from where it left
  // off, to frame 990, whatever that was.
  const uint32_t left = source.GetPosition();
  ASSERT_LT(left, 1000u);
  channel.Clear();
  source.PlayFrames(1000 + (1990 - left) % 1000);
  source.PlayFrames(882);  // frames 990..999, then 0..871
  source.PlayFrames(1500);
  std::vector<FakeChannel::Packet> packets = channel.Packets();
  ASSERT_EQ(packets.size(), 3u);
  ASSERT_EQ(packets[1].samples.size(), 882u * 2);
  for (size_t i = 0; i < 882; ++i) {
    int expected = static_cast<int>((990 + i) % 1000);
    ASSERT_EQ(packets[1].samples[2 * i], expected) << i;
    ASSERT_EQ(packets[1].samples[2 * i + 1], -expected) << i;
  }
  for (size_t i = 0; i < 1500; ++i) ASSERT_EQ(packets[2].samples[2 * i], static_cast<int>((872 + i) % 1000));
  EXPECT_EQ(source.GetPosition(), (872u + 1500u) % 1000u);
}

TEST_F(SoundCaptureWaveFileTest, WorkerPlaysAtTheClocksPaceUntilStopped) {
  ASSERT_TRUE(source.LoadWaveFile(WriteCounting("pace.wav", 5000, 32000)));
  ASSERT_TRUE(source.Start(DeviceEntry(), 32000, WAVEFMT_PCM));
  EXPECT_TRUE(source.IsActive());
  for (int i = 0; i < 5000 && channel.StreamFrames() < 64000; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  source.Stop();
  EXPECT_FALSE(source.IsActive());
  const uint64_t elapsed = clock.NowMs();
  const size_t frames = channel.StreamFrames();
  ASSERT_GE(frames, 64000u);
  // Every slice is 20 or 30 ms of fake time; what is played follows the clock.
  EXPECT_LE(static_cast<double>(frames), elapsed * 32.0 + 1.0);
  EXPECT_GE(static_cast<double>(frames), (elapsed - 30) * 32.0 - 1.0);
  for (const FakeChannel::Packet& p : channel.Packets()) EXPECT_GE(p.samples.size() / 2, 640u);

  // The stream is the file in order, looping.
  std::vector<int16_t> stream = channel.Stream();
  for (size_t i = 0; i < stream.size() / 2; ++i) ASSERT_EQ(stream[2 * i], static_cast<int>(i % 5000)) << i;

  // A restart goes on where playback stopped.
  EXPECT_EQ(source.GetPosition(), frames % 5000);
}

TEST_F(SoundCaptureWaveFileTest, ConvertsToTheOutputRateAndMetersWhileDisconnected) {
  WaveDesc waveDesc;
  waveDesc.rate = 48000;
  waveDesc.data = Bytes16(StereoSine(1000.0, 48000.0, 8000.0, 30000));
  dir.Write("sine.wav", MakeWave(waveDesc));
  ASSERT_TRUE(source.LoadWaveFile(dir.File("sine.wav")));
  ASSERT_TRUE(source.Start(DeviceEntry(), 32728, WAVEFMT_PCM));
  source.Stop();
  channel.Clear();  // whatever the worker played before it stopped
  source.PlayFrames(960);
  ASSERT_EQ(channel.Packets().size(), 1u);
  // Fewer frames when the block is the stream's first: the converter holds
  // back the positions whose window reaches past it.
  size_t frames = channel.Packets()[0].samples.size() / 2;
  SincResampler converter;
  converter.Setup(48000, 32728, 2);
  EXPECT_GE(static_cast<double>(frames), (960.0 - converter.GetLookahead()) * 32728.0 / 48000.0 - 2.0);
  EXPECT_LE(static_cast<double>(frames), 960 * 32728.0 / 48000.0 + 2.0);

  channel.SetStatus(PacketChannel::Status::CLOSED_PENDING_OPEN);
  source.PlayFrames(960);
  EXPECT_EQ(channel.Packets().size(), 1u);
  EXPECT_GT(source.GetLevel(0), 15000);
  EXPECT_GT(source.GetLevel(1), 15000);
}

TEST_F(SoundCaptureWaveFileTest, StartsWithoutAFileAndFailsWhenTheCodecCannotOpen) {
  g_opens = 0;
  ASSERT_TRUE(source.Start(DeviceEntry(), 32728, WAVEFMT_PCM));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(channel.Packets().empty());
  EXPECT_TRUE(source.IsActive());
  // The fake clock moves only when a worker sleeps: none runs without a file.
  EXPECT_EQ(clock.NowMs(), 0u);
  // Loading stops the source; the idle tick starts it again.
  ASSERT_TRUE(source.LoadWaveFile(WriteCounting("late.wav", 100, 32728)));
  EXPECT_FALSE(source.IsActive());
  source.Poll();
  EXPECT_FALSE(source.IsActive());

  CodecFunctions failing;
  failing.Open = &FailingOpen;
  TestWaveFile codecSource(nullptr, failing, messages, clock);
  EXPECT_FALSE(codecSource.Start(DeviceEntry(), 32728, WAVEFMT_CRI_ADX));
  EXPECT_FALSE(codecSource.IsActive());
  EXPECT_EQ(g_opens, 1u);
}

// A channel whose writes wait inside, as into a device that stopped reading,
// until the test opens it.
class StalledChannel : public FakeChannel {
 public:
  bool Write(uint32_t type, const void* data, int32_t size) override {
    {
      std::unique_lock<std::mutex> lock(m_gateMutex);
      ++m_waiting;
      m_gate.notify_all();
      m_gate.wait(lock, [this] { return m_open; });
      --m_waiting;
    }
    return FakeChannel::Write(type, data, size);
  }
  bool WaitForWriter() {
    std::unique_lock<std::mutex> lock(m_gateMutex);
    return m_gate.wait_for(lock, std::chrono::minutes(1), [this] { return m_waiting > 0; });
  }
  void Open() {
    {
      std::lock_guard<std::mutex> lock(m_gateMutex);
      m_open = true;
    }
    m_gate.notify_all();
  }

 private:
  std::mutex m_gateMutex;
  std::condition_variable m_gate;
  int m_waiting = 0;
  bool m_open = false;
};

TEST_F(SoundCaptureWaveFileTest, StopLeavesAWorkerBlockedInAWriteAndStartWaitsUntilItEnded) {
  LogCapture log;
  StalledChannel stalled;
  source.SetPacketChannel(&stalled);
  ASSERT_TRUE(source.LoadWaveFile(WriteCounting("stall.wav", 5000, 32000)));
  ASSERT_TRUE(source.Start(DeviceEntry(), 32000, WAVEFMT_PCM));
  ASSERT_TRUE(stalled.WaitForWriter());

  const auto start = std::chrono::steady_clock::now();
  source.Stop();
  const auto waited = std::chrono::steady_clock::now() - start;
  // It waits STOP_WAIT_MS, not for the write; the bound leaves room for load.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 5000);
  EXPECT_FALSE(source.IsActive());
  EXPECT_NE(log.Text().find("WaveFile: the worker did not end within 250 ms; left to end by itself"),
            std::string::npos);
  EXPECT_FALSE(source.Start(DeviceEntry(), 32000, WAVEFMT_PCM)) << "the old worker still runs";
  // Nor can another file be loaded while that worker reads the samples: the
  // load is refused with a message, and the samples stay.
  EXPECT_FALSE(source.LoadWaveFile(WriteCounting("other.wav", 100, 8000)));
  EXPECT_EQ(messages.count, 1);
  EXPECT_EQ(messages.last, CaptureMessage::WAVE_FILE_BUSY);
  EXPECT_EQ(source.GetFileName(), "stall.wav");
  EXPECT_EQ(source.GetFrameCount(), 5000u);
  EXPECT_NE(log.Text().find("not loaded: the previous file's worker has not ended yet"), std::string::npos);

  // Once the write returns the worker ends, and a start (retried as the idle
  // tick retries it) succeeds.
  stalled.Open();
  bool started = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!started && std::chrono::steady_clock::now() < deadline) {
    source.Poll();
    started = source.Start(DeviceEntry(), 32000, WAVEFMT_PCM);
    if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(started);
  source.Stop();
  EXPECT_TRUE(source.LoadWaveFile(dir.File("other.wav")));
  EXPECT_EQ(source.GetFileName(), "other.wav");
  source.SetPacketChannel(&channel);
}

}  // namespace
