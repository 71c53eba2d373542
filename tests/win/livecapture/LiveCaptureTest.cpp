// The live sources against a real sound server: waveIn and Core Audio capture
// record the monitor of PulseAudio's null sink while a 1 kHz tone plays into
// it (see with-pulse), the sink is unloaded and loaded again while capturing,
// and the loopback source records the tone from the sink itself where the
// system provides loopback streams; where it refuses them (Debian 12's
// Wine 8), another test checks that every start fails cleanly.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "LiveCaptureUtil.h"
#include "TestUtil.h"
#include "capture/SoundCaptureCoreAudio.h"
#include "capture/SoundCaptureWaveIn.h"
#include "platform/Platform.h"

namespace {

constexpr int32_t kOutputRate = 32728;
constexpr double kToneHz = 1000.0;
// sox's "vol 0.5": half scale, so the RMS of the sine is 16384 / sqrt(2).
const double kToneRms = 16383.5 / std::sqrt(2.0);
const char kMonitor[] = "Monitor of Null Output";

// Checks the newest stretch of half a second that carries sound: the tone at
// its level and frequency (the player pauses briefly between two runs of its file).
void ExpectTone(const std::vector<int16_t>& stream, double rate) {
  const size_t window = static_cast<size_t>(rate / 2);
  const size_t frames = stream.size() / 2;
  ASSERT_GE(frames, window * 2);
  for (size_t end = frames; end >= window * 2; end -= window) {
    const ToneMeasure m = MeasureTone(stream, end - window, window, rate);
    if (m.rms < kToneRms / 4) continue;
    EXPECT_NEAR(kToneRms, m.rms, kToneRms * 0.12) << "level";
    EXPECT_NEAR(kToneHz, m.frequency, kToneHz * 0.01) << "frequency";
    return;
  }
  ADD_FAILURE() << "no stretch of the capture carries the tone";
}

// One idle tick of the program for the source: a worker that ended is
// stopped, a source that does not run is started.
void IdleTick(SoundCapture& source, const DeviceEntry& device, bool* sawEnded, int* failedStarts) {
  if (source.IsEnded()) *sawEnded = true;
  source.Poll();
  if (!source.IsActive() && !source.Start(device, kOutputRate, WAVEFMT_PCM)) ++*failedStarts;
}

// Whether this system records what a render endpoint plays: Windows does,
// Wine from version 9 on.
bool HasLoopback() {
  using Version = const char*(CDECL*)();
  const FARPROC address = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version");
  if (address == nullptr) return true;
  Version version = nullptr;
  static_assert(sizeof(version) == sizeof(address), "function pointers");
  memcpy(&version, &address, sizeof(version));
  return atoi(version()) >= 9;
}

// Unplugs the sink while the source captures, then plugs it in again: the
// worker ends by itself, the ticks stop and restart the source (a Core Audio
// source says meanwhile that the device is gone), and once the sink is back
// the tone arrives again.
void UnplugAndReplug(SoundCapture& source, FakeChannel& channel, const DeviceEntry& device, bool saysGone = false) {
  ASSERT_TRUE(source.Start(device, kOutputRate, WAVEFMT_PCM));
  ASSERT_TRUE(WaitForFrames(channel, kOutputRate, 20000));

  ASSERT_TRUE(RunHostCommand("pactl unload-module module-null-sink"));
  bool sawEnded = false;
  int failedStarts = 0;
  for (int tick = 0; tick < 2000 && !sawEnded; ++tick) {
    IdleTick(source, device, &sawEnded, &failedStarts);
    Sleep(10);
  }
  EXPECT_TRUE(sawEnded) << "the worker went on after the device was gone";
  EXPECT_FALSE(source.IsActive());
  if (saysGone) {
    EXPECT_EQ(CaptureFailure::DEVICE_GONE, source.GetFailure());
  }
  printf("[ unplug   ] %s: worker ended, %d failed starts while the sink was gone\n", source.GetName().c_str(),
         failedStarts);

  ASSERT_TRUE(
      RunHostCommand("pactl load-module module-null-sink sink_name=qsink; pactl set-default-source qsink.monitor"));
  // Ticks until the source runs again and delivers the tone once more.
  channel.Clear();
  bool back = false;
  for (int tick = 0; tick < 3000 && !back; ++tick) {
    IdleTick(source, device, &sawEnded, &failedStarts);
    back = source.IsActive() && channel.StreamFrames() >= static_cast<size_t>(kOutputRate) * 3;
    Sleep(10);
  }
  ASSERT_TRUE(back) << "the source did not come back after the sink returned";
  source.Stop();
  printf("[ replug   ] %s: running again, %d failed starts in all\n", source.GetName().c_str(), failedStarts);
  ExpectTone(channel.Stream(), kOutputRate);
}

// The server's own input beside the monitor: "PulseAudio" under Wine 8,
// "PulseAudio Input" under Wine 10.
bool FindServerInput(const SoundCapture& source, DeviceEntry* entry) {
  return FindDevice(source, "PulseAudio", entry) || FindDevice(source, "PulseAudio Input", entry);
}

class LiveCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    // Only the entry that starts the server runs these (CMakeLists.txt).
    ASSERT_TRUE(PulseAvailable()) << "runs beside a PulseAudio server (with-pulse)";
    UseTestResources();
  }
};

TEST_F(LiveCapture, WaveInListsTheDevicesAndCapturesAtTheOutputRate) {
  SoundCaptureWaveIn source(nullptr, CodecFunctions());
  ASSERT_TRUE(source.Initialize());
  EXPECT_EQ("waveIn", source.GetName());
  ASSERT_GE(source.GetDeviceCount(), 3);
  EXPECT_EQ("Fixed Device", source.GetDevice(0).name);
  EXPECT_EQ(DeviceEntry::FIXED_DEVICE_ID, source.GetDevice(0).id);
  DeviceEntry monitor, pulse;
  ASSERT_TRUE(FindDevice(source, kMonitor, &monitor));
  ASSERT_TRUE(FindServerInput(source, &pulse));
  EXPECT_NE(monitor.id, pulse.id);

  TimedChannel channel;
  source.SetPacketChannel(&channel);
  ASSERT_TRUE(source.Start(monitor, kOutputRate, WAVEFMT_PCM));
  EXPECT_TRUE(source.IsActive());
  EXPECT_EQ(static_cast<uint32_t>(monitor.id), source.GetOpenedDeviceId());
  EXPECT_EQ(48000, source.GetInputRate());  // the best rate the device offers
  ASSERT_TRUE(WaitForFrames(channel, static_cast<size_t>(kOutputRate) * 3, 20000));
  EXPECT_GT(source.GetLevel(0), 16000);
  EXPECT_GT(source.GetLevel(1), 16000);
  source.Stop();
  EXPECT_FALSE(source.IsActive());

  // Every packet is one whole buffer of 20 ms at the output rate.
  for (const FakeChannel::Packet& packet : channel.Packets()) {
    ASSERT_EQ(static_cast<uint32_t>(PacketChannel::AUDIO), packet.type);
    ASSERT_EQ(654u * 2, packet.samples.size());
  }
  ExpectTone(channel.Stream(), kOutputRate);
}

// The default source through the codec pass (HCA MIDDLE when the build has
// the codec library): the tone survives the codec.
TEST_F(LiveCapture, WaveInFixedDeviceIsTheDefaultSource) {
  SoundCaptureWaveIn source(nullptr);
  ASSERT_TRUE(source.Initialize());
  FakeChannel channel;
  source.SetPacketChannel(&channel);
  const int32_t format = QuillDllFunctions().IsBound() ? WAVEFMT_CRI_HCA_MIDDLE : WAVEFMT_PCM;
  ASSERT_TRUE(source.Start(source.GetDevice(0), kOutputRate, format));
  EXPECT_EQ(format != WAVEFMT_PCM, source.IsCodecOpen());
  EXPECT_EQ(0xFFFFFFFFu, source.GetOpenedDeviceId());
  ASSERT_TRUE(WaitForFrames(channel, static_cast<size_t>(kOutputRate) * 3, 20000));
  source.Stop();
  ExpectTone(channel.Stream(), kOutputRate);

  // A stored entry whose index now belongs to another device opens the
  // device with its name; a name that is gone falls back to the default
  // device, whose rate is then unknown; an index past the list fails.
  DeviceEntry monitor, pulse;
  ASSERT_TRUE(FindDevice(source, kMonitor, &monitor));
  ASSERT_TRUE(FindServerInput(source, &pulse));
  ASSERT_TRUE(source.Start(DeviceEntry(kMonitor, pulse.id), kOutputRate, WAVEFMT_PCM));
  EXPECT_EQ(static_cast<uint32_t>(monitor.id), source.GetOpenedDeviceId());
  EXPECT_EQ(48000, source.GetInputRate());
  source.Stop();
  ASSERT_TRUE(source.Start(DeviceEntry("Unplugged Microphone", pulse.id), kOutputRate, WAVEFMT_PCM));
  EXPECT_EQ(0xFFFFFFFFu, source.GetOpenedDeviceId());
  EXPECT_EQ(0, source.GetInputRate());
  source.Stop();
  EXPECT_FALSE(source.Start(DeviceEntry(kMonitor, source.GetDeviceCount() + 3), kOutputRate, WAVEFMT_PCM));

  // An entry without a device does not start and prints nothing.
  LogCapture log;
  EXPECT_FALSE(source.Start(DeviceEntry(), kOutputRate, WAVEFMT_PCM));
  EXPECT_FALSE(source.IsActive());
  EXPECT_EQ("", log.Text());
}

TEST_F(LiveCapture, CoreAudioCapturesAtTheMixRateAndConverts) {
  SoundCaptureCoreAudio source(nullptr, CodecFunctions());
  ASSERT_TRUE(source.InitializeCapture());
  EXPECT_EQ("Core Audio", source.GetName());
  ASSERT_GE(source.GetDeviceCount(), 2);
  EXPECT_EQ("Fixed Device", source.GetDevice(0).name);
  EXPECT_EQ(DeviceEntry::FIXED_DEVICE_ID, source.GetDevice(0).id);
  DeviceEntry monitor;
  ASSERT_TRUE(FindDevice(source, kMonitor, &monitor));

  TimedChannel channel;
  source.SetPacketChannel(&channel);
  ASSERT_TRUE(source.Start(monitor, kOutputRate, WAVEFMT_PCM));
  const int32_t mixRate = source.GetInputRate();
  EXPECT_EQ(44100, mixRate);
  ASSERT_TRUE(WaitForFrames(channel, static_cast<size_t>(kOutputRate) * 3, 20000));
  EXPECT_GT(source.GetLevel(0), 16000);
  source.Stop();
  EXPECT_FALSE(source.IsActive());

  // Blocks of 20 ms at the mix rate, converted: about 20 ms at the output
  // rate each (a flush after a pause may hand on less).
  const double expected = 0.020 * kOutputRate;
  size_t whole = 0;
  const auto packets = channel.Packets();
  for (const FakeChannel::Packet& packet : packets) {
    ASSERT_EQ(static_cast<uint32_t>(PacketChannel::AUDIO), packet.type);
    const double frames = static_cast<double>(packet.samples.size() / 2);
    EXPECT_LE(frames, expected + 2);
    if (std::fabs(frames - expected) <= 2) ++whole;
  }
  EXPECT_GE(whole, packets.size() * 9 / 10);
  ExpectTone(channel.Stream(), kOutputRate);
}

TEST_F(LiveCapture, CoreAudioFixedDeviceAndSameNameNearestIndex) {
  SoundCaptureCoreAudio source(nullptr);
  ASSERT_TRUE(source.InitializeCapture());
  FakeChannel channel;
  source.SetPacketChannel(&channel);
  ASSERT_TRUE(source.Start(source.GetDevice(0), kOutputRate, WAVEFMT_PCM));
  ASSERT_TRUE(WaitForFrames(channel, static_cast<size_t>(kOutputRate) * 3, 20000));
  source.Stop();
  ExpectTone(channel.Stream(), kOutputRate);

  // A stored entry whose index moved still finds its endpoint by name.
  DeviceEntry monitor;
  ASSERT_TRUE(FindDevice(source, kMonitor, &monitor));
  // This time through the ADX codec pass when the build has it.
  channel.Clear();
  const int32_t format = QuillDllFunctions().IsBound() ? WAVEFMT_CRI_ADX : WAVEFMT_PCM;
  ASSERT_TRUE(source.Start(DeviceEntry(kMonitor, monitor.id + 5), kOutputRate, format));
  EXPECT_EQ(format != WAVEFMT_PCM, source.IsCodecOpen());
  ASSERT_TRUE(WaitForFrames(channel, static_cast<size_t>(kOutputRate) * 3, 20000));
  source.Stop();
  ExpectTone(channel.Stream(), kOutputRate);

  // A name that no endpoint has does not start: the device is gone, which
  // is the user's to fix, not a failure of the system worth a log line.
  LogCapture log;
  EXPECT_FALSE(source.Start(DeviceEntry("No Such Endpoint", 0), kOutputRate, WAVEFMT_PCM));
  EXPECT_FALSE(source.IsActive());
  EXPECT_EQ(CaptureFailure::DEVICE_GONE, source.GetFailure());
  EXPECT_EQ("", log.Text());
}

// Starts and stops the loopback source over and over, alternately on the
// default render endpoint and on `output`, as the idle tick retries a failed
// start on every tick and a user may switch sources as often: nothing may pile
// up, neither memory nor streams held open at the sound server. `works`: every
// start succeeds, else every start fails. Memory is counted twice: the bytes
// in use in the process's heaps (where the source and the system's audio
// objects live), and the process's private bytes, which under user-mode
// emulation also hold the emulator's growing store of translated code and are
// only bounded when the program runs natively.
void ExpectRepeatedStartsLeaveNothing(SoundCaptureCoreAudio& source, const DeviceEntry& output, bool works) {
  FakeChannel channel;
  source.SetPacketChannel(&channel);
  auto privateBytes = [] {
    PROCESS_MEMORY_COUNTERS memory;
    ZeroMemory(&memory, sizeof(memory));
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    return static_cast<size_t>(memory.PagefileUsage);
  };
  auto heapBytes = [] {
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    size_t busy = 0;
    for (HANDLE heap : heaps) {
      if (!HeapLock(heap)) continue;
      PROCESS_HEAP_ENTRY entry;
      ZeroMemory(&entry, sizeof(entry));
      while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
      }
      HeapUnlock(heap);
    }
    return busy;
  };
  auto serverStreams = [] {
    std::string count;
    EXPECT_TRUE(RunHostCommand("pactl list short source-outputs | wc -l", &count));
    return atoi(count.c_str());
  };
  LogCapture quiet;
  auto startAndStop = [&](int i) {
    const bool started = source.Start(i % 2 ? output : source.GetDevice(0), kOutputRate, WAVEFMT_PCM);
    source.Stop();
    return started;
  };
  for (int i = 0; i < 20; ++i) startAndStop(i);
  const size_t bytesBefore = privateBytes();
  const size_t heapBefore = heapBytes();
  const int streamsBefore = serverStreams();
  const int starts = works ? 100 : 300;
  for (int i = 0; i < starts; ++i) ASSERT_EQ(works, startAndStop(i)) << i;
  const size_t heapAfter = heapBytes();
  const size_t bytesAfter = privateBytes();
  const int streamsAfter = serverStreams();
  EXPECT_EQ(streamsBefore, streamsAfter) << "streams left open at the server";
  EXPECT_LE(heapAfter, heapBefore + 256 * 1024) << "bytes in use in the heaps";
  const bool emulated = TimeScale() > 1;
  if (!emulated) {
    EXPECT_LE(bytesAfter, bytesBefore + 2 * 1024 * 1024) << "private bytes";
  }
  printf("[ loopback ] %d %s starts: server streams %d -> %d, heaps %zu -> %zu, private bytes %zu -> %zu%s\n", starts,
         works ? "stopped" : "failed", streamsBefore, streamsAfter, heapBefore, heapAfter, bytesBefore, bytesAfter,
         emulated ? " (emulated: private bytes not bounded)" : "");
}

// The loopback source lists the default render endpoint and the sink.
void InitializeLoopback(SoundCaptureCoreAudio& source, DeviceEntry* output) {
  ASSERT_TRUE(source.InitializeLoopback());
  EXPECT_EQ("loopback", source.GetName());
  ASSERT_TRUE(FindDevice(source, "Null Output", output));
  EXPECT_EQ(DeviceEntry::FIXED_DEVICE_ID, source.GetDevice(0).id);
}

// Where the system records what a render endpoint plays (Windows, Wine 9 and
// later: the wine10 stage runs this for real).
TEST_F(LiveCapture, LoopbackRecordsThePlayedToneEveryTime) {
  if (!HasLoopback()) GTEST_SKIP() << "this Wine records no loopback stream";
  SoundCaptureCoreAudio source(nullptr, CodecFunctions());
  DeviceEntry output;
  InitializeLoopback(source, &output);
  if (HasFatalFailure()) return;
  // The default render endpoint and the sink by name: the tone that plays
  // into it, at its level and frequency, at the mix rate converted.
  for (const DeviceEntry& entry : {source.GetDevice(0), output}) {
    TimedChannel channel;
    source.SetPacketChannel(&channel);
    ASSERT_TRUE(source.Start(entry, kOutputRate, WAVEFMT_PCM)) << entry.name;
    EXPECT_EQ(44100, source.GetInputRate());
    ASSERT_TRUE(WaitForFrames(channel, static_cast<size_t>(kOutputRate) * 3, 20000)) << entry.name;
    EXPECT_GT(source.GetLevel(0), 16000);
    source.Stop();
    EXPECT_EQ(CaptureFailure::NONE, source.GetFailure());
    ExpectTone(channel.Stream(), kOutputRate);
  }
  ExpectRepeatedStartsLeaveNothing(source, output, true);
}

// Where the system refuses the loopback stream (Debian 12's Wine 8): the
// endpoint is listed, and every start fails with the system's refusal in the
// log, leaving nothing behind.
TEST_F(LiveCapture, LoopbackRefusedByTheSystemFailsCleanlyEveryTime) {
  if (HasLoopback()) GTEST_SKIP() << "this system records loopback streams: no refusal to check";
  SoundCaptureCoreAudio source(nullptr, CodecFunctions());
  DeviceEntry output;
  InitializeLoopback(source, &output);
  if (HasFatalFailure()) return;
  FakeChannel channel;
  source.SetPacketChannel(&channel);
  LogCapture log;
  EXPECT_FALSE(source.Start(source.GetDevice(0), kOutputRate, WAVEFMT_PCM));
  EXPECT_NE(std::string::npos, log.Text().find("IAudioClient::GetService failed: hr = 0x88890003\n")) << log.Text();
  EXPECT_FALSE(source.IsActive());
  ExpectRepeatedStartsLeaveNothing(source, output, false);
}

TEST_F(LiveCapture, WaveInUnpluggedEndsTheWorkerAndComesBack) {
  SoundCaptureWaveIn source(nullptr, CodecFunctions());
  ASSERT_TRUE(source.Initialize());
  DeviceEntry monitor;
  ASSERT_TRUE(FindDevice(source, kMonitor, &monitor));
  FakeChannel channel;
  source.SetPacketChannel(&channel);
  UnplugAndReplug(source, channel, monitor);
}

TEST_F(LiveCapture, CoreAudioUnpluggedEndsTheWorkerAndComesBack) {
  SoundCaptureCoreAudio source(nullptr, CodecFunctions());
  ASSERT_TRUE(source.InitializeCapture());
  DeviceEntry monitor;
  ASSERT_TRUE(FindDevice(source, kMonitor, &monitor));
  FakeChannel channel;
  source.SetPacketChannel(&channel);
  UnplugAndReplug(source, channel, monitor, true);
}

TEST_F(LiveCapture, LoopbackUnpluggedEndsTheWorkerAndComesBack) {
  if (!HasLoopback()) GTEST_SKIP() << "this Wine records no loopback stream";
  SoundCaptureCoreAudio source(nullptr, CodecFunctions());
  ASSERT_TRUE(source.InitializeLoopback());
  FakeChannel channel;
  source.SetPacketChannel(&channel);
  UnplugAndReplug(source, channel, source.GetDevice(0), true);
}

// The cost of a capture worker that streams HCA MIDDLE from the monitor,
// measured when QUILL_MEASURE_SECONDS gives the length (see measure-cpu):
// the worker's CPU time from its first write to its last, against the wall
// time between them, and the longest time between two writes.
unsigned MeasureSeconds() {
  std::string value;
  if (!platform::GetEnv("QUILL_MEASURE_SECONDS", &value)) return 0;
  return static_cast<unsigned>(atoi(value.c_str()));
}

void MeasureStream(SoundCapture& source, const DeviceEntry& device, unsigned seconds) {
  TimedChannel channel;
  source.SetPacketChannel(&channel);
  ASSERT_TRUE(source.Start(device, kOutputRate, WAVEFMT_CRI_HCA_MIDDLE));
  ASSERT_TRUE(source.IsCodecOpen());
  ASSERT_TRUE(WaitForFrames(channel, 1, 20000));
  Sleep(seconds * 1000);
  source.Stop();

  const std::vector<TimedChannel::Stamp> stamps = channel.Stamps();
  ASSERT_GE(stamps.size(), 2u);
  double maxGap = 0;
  for (size_t i = 1; i < stamps.size(); ++i) {
    maxGap = std::max(maxGap, stamps[i].wallMs - stamps[i - 1].wallMs);
    EXPECT_EQ(stamps[0].threadId, stamps[i].threadId);
  }
  const double wall = stamps.back().wallMs - stamps.front().wallMs;
  const double cpu = stamps.back().cpuMs - stamps.front().cpuMs;
  const double audio = static_cast<double>(channel.StreamFrames()) / kOutputRate;
  printf(
      "[ measure  ] %s, CRI HCA MIDDLE at %d Hz: %zu blocks, %.1f s of audio in %.1f s; worker CPU %.0f ms = %.2f %% "
      "of one core; largest gap between two blocks %.1f ms, mean %.1f ms\n",
      source.GetName().c_str(), kOutputRate, stamps.size(), audio, wall / 1000, cpu, 100.0 * cpu / wall, maxGap,
      wall / static_cast<double>(stamps.size() - 1));
  ExpectTone(channel.Stream(), kOutputRate);
}

// A measurement, not a test: only measure-cpu runs it.
class LiveCaptureMeasure : public LiveCapture {
 protected:
  void SetUp() override {
    LiveCapture::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_NE(0u, MeasureSeconds()) << "set QUILL_MEASURE_SECONDS (measure-cpu does)";
    ASSERT_TRUE(QuillDllFunctions().IsBound()) << "the codec library is not beside the program";
  }
};

TEST_F(LiveCaptureMeasure, WaveInHcaMiddle) {
  SoundCaptureWaveIn source(nullptr);
  ASSERT_TRUE(source.Initialize());
  DeviceEntry monitor;
  ASSERT_TRUE(FindDevice(source, kMonitor, &monitor));
  MeasureStream(source, monitor, MeasureSeconds());
}

TEST_F(LiveCaptureMeasure, CoreAudioHcaMiddle) {
  SoundCaptureCoreAudio source(nullptr);
  ASSERT_TRUE(source.InitializeCapture());
  DeviceEntry monitor;
  ASSERT_TRUE(FindDevice(source, kMonitor, &monitor));
  MeasureStream(source, monitor, MeasureSeconds());
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The program's main thread is a single-threaded apartment.
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int result = RUN_ALL_TESTS();
  if (SUCCEEDED(hr)) CoUninitialize();
  return result;
}
