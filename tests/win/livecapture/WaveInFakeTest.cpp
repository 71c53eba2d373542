// The waveIn source over a fake waveIn driver: its device list and choice of
// device, the format and buffers it queues, the worker that takes only full
// buffers and retries a buffer the driver still holds, every failure printed
// by its name, and Stop giving everything back.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "../../core/capture/CaptureTestUtil.h"
#include "TestUtil.h"
#include "capture/SoundCaptureWaveIn.h"
#include "capture/WaveInFunctions.h"

namespace {

constexpr int32_t kRate = 32728;
constexpr DWORD kBufferBytes = 2616;  // 20 ms at 32728 Hz

struct FakeDevice {
  std::string name;
  DWORD formats = 0;
  bool capsFail = false;
};

// The fake driver's state (the function table has no context).
struct FakeDriver {
  std::mutex mutex;
  std::vector<FakeDevice> devices;
  bool mapperCapsFail = false;
  DWORD mapperFormats = 0xFFFFF;
  MMRESULT openResult = MMSYSERR_NOERROR;
  MMRESULT startResult = MMSYSERR_NOERROR;
  MMRESULT prepareResult = MMSYSERR_NOERROR;
  MMRESULT addResult = MMSYSERR_NOERROR;
  MMRESULT unprepareResult = MMSYSERR_NOERROR;
  int stillPlaying = 0;  // unprepare calls to answer with WAVERR_STILLPLAYING
  bool open = false;
  UINT openedDevice = 0;
  WAVEFORMATEX openedFormat = {};
  DWORD openFlags = 0;
  HANDLE event = nullptr;  // the event the source gave (CALLBACK_EVENT)
  std::deque<WAVEHDR*> queue;  // buffers the driver holds, in order
  int added = 0;
  int unprepares = 0;
  int resets = 0;
  int closes = 0;

  void Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    devices = {{"Mic", 0xFFFFF}, {"Line", 0, true}, {"USB", WAVE_FORMAT_96S16}, {"Mic", WAVE_FORMAT_4S16}};
    mapperCapsFail = false;
    mapperFormats = 0xFFFFF;
    openResult = startResult = prepareResult = addResult = unprepareResult = MMSYSERR_NOERROR;
    stillPlaying = 0;
    open = false;
    event = nullptr;
    queue.clear();
    added = unprepares = resets = closes = 0;
  }

  // Fills the oldest queued buffer with samples first, first + 1, ... up to
  // bytes and hands it back done when it is full. False when none is queued.
  bool Fill(int16_t first, DWORD bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    return FillHeld(first, bytes);
  }
  // Fill with the mutex held by the caller.
  bool FillHeld(int16_t first, DWORD bytes) {
    if (queue.empty()) return false;
    WAVEHDR* header = queue.front();
    if (bytes > header->dwBufferLength) bytes = header->dwBufferLength;
    auto* samples = reinterpret_cast<int16_t*>(header->lpData);
    for (DWORD i = 0; i < bytes / 2; ++i) samples[i] = static_cast<int16_t>(first + static_cast<int>(i));
    MemoryBarrier();
    header->dwBytesRecorded = bytes;
    if (bytes == header->dwBufferLength) {
      header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
      queue.pop_front();
      Signal();
    }
    return true;
  }

  // As a driver opened with CALLBACK_EVENT: the event is set for every
  // buffer handed back.
  void Signal() {
    if ((openFlags & CALLBACK_TYPEMASK) == CALLBACK_EVENT && event != nullptr) SetEvent(event);
  }

  size_t Queued() {
    std::lock_guard<std::mutex> lock(mutex);
    return queue.size();
  }
};

FakeDriver g_driver;

UINT WINAPI FakeGetNumDevs() {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  return static_cast<UINT>(g_driver.devices.size());
}

MMRESULT WINAPI FakeGetDevCaps(UINT_PTR device, LPWAVEINCAPSA caps, UINT size) {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  if (size < sizeof(WAVEINCAPSA)) return MMSYSERR_INVALPARAM;
  if (device == WAVE_MAPPER) {
    if (g_driver.mapperCapsFail) return MMSYSERR_NODRIVER;
    lstrcpynA(caps->szPname, "Sound Mapper", MAXPNAMELEN);
    caps->dwFormats = g_driver.mapperFormats;
    return MMSYSERR_NOERROR;
  }
  if (device >= g_driver.devices.size()) return MMSYSERR_BADDEVICEID;
  const FakeDevice& fake = g_driver.devices[device];
  if (fake.capsFail) return MMSYSERR_NODRIVER;
  lstrcpynA(caps->szPname, fake.name.c_str(), MAXPNAMELEN);
  caps->dwFormats = fake.formats;
  caps->wChannels = 2;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakeOpen(LPHWAVEIN handle, UINT device, LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR,
                         DWORD flags) {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  g_driver.openedDevice = device;
  g_driver.openedFormat = *format;
  g_driver.openFlags = flags;
  g_driver.event = reinterpret_cast<HANDLE>(callback);
  if (g_driver.openResult != MMSYSERR_NOERROR) return g_driver.openResult;
  g_driver.open = true;
  *handle = reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(0x5150));
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakePrepare(HWAVEIN, LPWAVEHDR header, UINT) {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  if (g_driver.prepareResult != MMSYSERR_NOERROR) return g_driver.prepareResult;
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakeUnprepare(HWAVEIN, LPWAVEHDR header, UINT) {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  ++g_driver.unprepares;
  if (g_driver.stillPlaying > 0) {
    --g_driver.stillPlaying;
    return WAVERR_STILLPLAYING;
  }
  if (g_driver.unprepareResult != MMSYSERR_NOERROR) return g_driver.unprepareResult;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakeAddBuffer(HWAVEIN, LPWAVEHDR header, UINT) {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  if (g_driver.addResult != MMSYSERR_NOERROR) return g_driver.addResult;
  if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  g_driver.queue.push_back(header);
  ++g_driver.added;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakeStart(HWAVEIN) {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  return g_driver.startResult;
}

MMRESULT WINAPI FakeReset(HWAVEIN) {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  ++g_driver.resets;
  for (WAVEHDR* header : g_driver.queue) header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  if (!g_driver.queue.empty()) g_driver.Signal();
  g_driver.queue.clear();
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakeClose(HWAVEIN) {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  ++g_driver.closes;
  if (!g_driver.queue.empty()) return WAVERR_STILLPLAYING;
  g_driver.open = false;
  return MMSYSERR_NOERROR;
}

const WaveInFunctions kFakeFunctions = {
    &FakeGetNumDevs, &FakeGetDevCaps, &FakeOpen,  &FakePrepare, &FakeUnprepare,
    &FakeAddBuffer,  &FakeStart,      &FakeReset, &FakeClose,
};

bool WaitFor(const std::function<bool()>& condition, unsigned ms = 10000) {
  for (unsigned waited = 0; waited < ms; waited += 5) {
    if (condition()) return true;
    Sleep(5);
  }
  return condition();
}

// Sets the event the source gave the driver, as the driver does for a
// buffer, and waits until the worker has taken it: the worker was woken. A
// look here that finds the event still set takes it too, and sets it again.
bool WorkerTakesTheEvent() {
  HANDLE event = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_driver.mutex);
    event = g_driver.event;
  }
  if (event == nullptr || !SetEvent(event)) return false;
  return WaitFor([event] {
    if (WaitForSingleObject(event, 0) == WAIT_TIMEOUT) return true;
    SetEvent(event);
    return false;
  });
}

class WaveInFake : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestResources();
    g_driver.Reset();
    source.SetPacketChannel(&channel);
    ASSERT_TRUE(source.Initialize());
  }
  void TearDown() override {
    source.Stop();
    EXPECT_FALSE(g_driver.open) << "device left open";
  }

  FakeChannel channel;
  SoundCaptureWaveIn source{nullptr, CodecFunctions(), &kFakeFunctions};
};

TEST_F(WaveInFake, DeviceListAndItsDefaultEntry) {
  ASSERT_EQ(5, source.GetDeviceCount());
  EXPECT_EQ("Fixed Device", source.GetDevice(0).name);
  EXPECT_EQ(DeviceEntry::FIXED_DEVICE_ID, source.GetDevice(0).id);
  EXPECT_EQ("Mic", source.GetDevice(1).name);
  EXPECT_EQ(0, source.GetDevice(1).id);
  EXPECT_EQ("", source.GetDevice(2).name);  // capabilities not readable
  EXPECT_EQ(DeviceEntry::NO_DEVICE_ID, source.GetDevice(2).id);
  EXPECT_EQ("USB", source.GetDevice(3).name);
  EXPECT_EQ(2, source.GetDevice(3).id);
  EXPECT_EQ(3, source.GetDevice(4).id);

  g_driver.mapperCapsFail = true;
  ASSERT_TRUE(source.EnumerateDevices());
  ASSERT_EQ(5, source.GetDeviceCount());
  EXPECT_EQ("", source.GetDevice(0).name);
  EXPECT_EQ(DeviceEntry::NO_DEVICE_ID, source.GetDevice(0).id);

  g_driver.devices.clear();
  LogCapture log;
  ASSERT_TRUE(source.EnumerateDevices());
  EXPECT_EQ(0, source.GetDeviceCount());
  EXPECT_EQ("waveInGetNumDevs() == 0\n", log.Text());
  EXPECT_FALSE(source.Start(DeviceEntry("Fixed Device", DeviceEntry::FIXED_DEVICE_ID), kRate, WAVEFMT_PCM));
  EXPECT_EQ(CaptureFailure::NO_DEVICE, source.GetFailure());
}

TEST_F(WaveInFake, DeviceByNameNearestToTheStoredIndexOrTheMapper) {
  struct Case {
    DeviceEntry entry;
    UINT opened;
    int32_t inputRate;
  } cases[] = {
      {{"Mic", 0}, 0, 48000},
      {{"Mic", 2}, 3, 44100},  // 0 and 3: 3 is nearer
      {{"USB", 0}, 2, 96000},
      {{"Unplugged", 1}, WAVE_MAPPER, 0},
      {{"Fixed Device", DeviceEntry::FIXED_DEVICE_ID}, WAVE_MAPPER, 48000},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(source.Start(c.entry, kRate, WAVEFMT_PCM)) << c.entry.name;
    EXPECT_EQ(c.opened, g_driver.openedDevice) << c.entry.name;
    EXPECT_EQ(c.inputRate, source.GetInputRate()) << c.entry.name;
    source.Stop();
  }
  LogCapture log;
  EXPECT_FALSE(source.Start(DeviceEntry("Mic", 4), kRate, WAVEFMT_PCM));  // past the devices
  EXPECT_EQ(CaptureFailure::DEVICE_GONE, source.GetFailure());
  EXPECT_FALSE(source.Start(DeviceEntry(), kRate, WAVEFMT_PCM));
  EXPECT_FALSE(source.IsActive());
  EXPECT_EQ("", log.Text());
}

TEST_F(WaveInFake, OpensTheOutputFormatAndQueuesSixteenBuffersOfTwentyMilliseconds) {
  ASSERT_TRUE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  EXPECT_TRUE(source.IsActive());
  const WAVEFORMATEX format = g_driver.openedFormat;
  EXPECT_EQ(WAVE_FORMAT_PCM, format.wFormatTag);
  EXPECT_EQ(2, format.nChannels);
  EXPECT_EQ(static_cast<DWORD>(kRate), format.nSamplesPerSec);
  EXPECT_EQ(static_cast<DWORD>(kRate) * 4, format.nAvgBytesPerSec);
  EXPECT_EQ(4, format.nBlockAlign);
  EXPECT_EQ(16, format.wBitsPerSample);
  // The worker waits on the event the device sets for each filled buffer.
  EXPECT_EQ(static_cast<DWORD>(CALLBACK_EVENT), g_driver.openFlags);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(g_driver.event, 0)) << "an event the source owns";
  EXPECT_EQ(16u, g_driver.Queued());

  source.Stop();
  EXPECT_EQ(1, g_driver.resets);
  EXPECT_EQ(16, g_driver.unprepares);
  EXPECT_EQ(1, g_driver.closes);
  EXPECT_FALSE(source.IsActive());
}

TEST_F(WaveInFake, WorkerTakesOnlyFullBuffersInOrderAndRequeuesThem) {
  ASSERT_TRUE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  int16_t next = 0;
  for (int i = 0; i < 40; ++i) {  // more than the ring: buffers come back
    ASSERT_TRUE(WaitFor([] { return g_driver.Queued() > 0; }));
    ASSERT_TRUE(g_driver.Fill(next, kBufferBytes));
    next = static_cast<int16_t>(next + static_cast<int16_t>(kBufferBytes / 2));
  }
  ASSERT_TRUE(WaitFor([&] { return channel.StreamFrames() >= 40 * 654; }));
  for (const FakeChannel::Packet& packet : channel.Packets()) EXPECT_EQ(654u * 2, packet.samples.size());
  std::vector<int16_t> expected(40 * 654 * 2);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<int16_t>(i);
  EXPECT_EQ(expected, channel.Stream());

  // A buffer filled only in part waits for the rest: the worker, woken
  // twice by the event (the second wake shows that it looked after the
  // first), leaves it with the driver.
  ASSERT_TRUE(g_driver.Fill(0, 1000));
  for (int wake = 0; wake < 2; ++wake) ASSERT_TRUE(WorkerTakesTheEvent()) << wake;
  EXPECT_EQ(40u * 654, channel.StreamFrames());
  EXPECT_TRUE(source.IsActive());
  EXPECT_FALSE(source.IsEnded());
  // The rest: the buffer goes on whole.
  ASSERT_TRUE(g_driver.Fill(500, kBufferBytes));
  ASSERT_TRUE(WaitFor([&] { return channel.StreamFrames() >= 41u * 654; }));
  const std::vector<int16_t> stream = channel.Stream();
  for (size_t i = 0; i < 654 * 2; ++i) ASSERT_EQ(static_cast<int16_t>(500 + i), stream[40 * 654 * 2 + i]) << i;
}

// A worker thread that cannot be made fails the start; the device is closed.
TEST_F(WaveInFake, WorkerThreadThatCannotBeMadeFailsTheStart) {
  source.SetThreadStarter([](Thread&, Thread::Entry, void*) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  });
  LogCapture log;
  EXPECT_FALSE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  EXPECT_EQ("CreateThread failed: last error is 8\n", log.Text());
  EXPECT_EQ(CaptureFailure::START_FAILED, source.GetFailure());
  EXPECT_FALSE(source.IsActive());
  EXPECT_FALSE(g_driver.open);
  EXPECT_EQ(1, g_driver.closes);

  source.SetThreadStarter(&DeviceSource::StartThread);
  EXPECT_TRUE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  EXPECT_EQ(CaptureFailure::NONE, source.GetFailure());
}

TEST_F(WaveInFake, BufferTheDriverStillHoldsIsRetried) {
  ASSERT_TRUE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  {
    std::lock_guard<std::mutex> lock(g_driver.mutex);
    g_driver.stillPlaying = 3;
  }
  LogCapture log;
  ASSERT_TRUE(g_driver.Fill(7, kBufferBytes));
  ASSERT_TRUE(WaitFor([&] { return channel.StreamFrames() >= 654; }));
  EXPECT_EQ(4, g_driver.unprepares);
  EXPECT_EQ("", log.Text());
  EXPECT_FALSE(source.IsEnded());
  EXPECT_EQ(16u, g_driver.Queued());  // requeued
}

TEST_F(WaveInFake, WorkerFailuresEndItAndPollStopsTheSource) {
  struct Case {
    MMRESULT FakeDriver::*point;
    MMRESULT result;
    const char* message;
  } cases[] = {
      {&FakeDriver::unprepareResult, MMSYSERR_INVALHANDLE,
       "waveInUnprepareHeader 0, 2616, failed. MMSYSERR_INVALHANDLE\n"},
      {&FakeDriver::prepareResult, MMSYSERR_NOMEM, "waveInPrepareHeader 0, failed. MMSYSERR_NOMEM\n"},
      {&FakeDriver::addResult, MMSYSERR_HANDLEBUSY, "waveInAddBuffer 0 failed. MMSYSERR_HANDLEBUSY\n"},
  };
  for (const Case& c : cases) {
    g_driver.Reset();
    channel.Clear();
    ASSERT_TRUE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
    {
      std::lock_guard<std::mutex> lock(g_driver.mutex);
      g_driver.*c.point = c.result;
    }
    LogCapture log;
    ASSERT_TRUE(g_driver.Fill(0, kBufferBytes));
    ASSERT_TRUE(WaitFor([&] { return source.IsEnded(); })) << c.message;
    EXPECT_EQ(c.message, log.Text());
    {
      std::lock_guard<std::mutex> lock(g_driver.mutex);
      g_driver.*c.point = MMSYSERR_NOERROR;
    }
    source.Poll();
    EXPECT_FALSE(source.IsActive());
    EXPECT_FALSE(source.IsEnded());
    EXPECT_EQ(CaptureFailure::DEVICE_GONE, source.GetFailure()) << c.message;
    EXPECT_FALSE(g_driver.open) << c.message;
  }
}

TEST_F(WaveInFake, StartFailuresArePrintedByName) {
  LogCapture log;
  g_driver.openResult = MMSYSERR_ALLOCATED;
  EXPECT_FALSE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  EXPECT_EQ("waveInOpen failed. MMSYSERR_ALLOCATED\n", log.Text());
  EXPECT_EQ(CaptureFailure::START_FAILED, source.GetFailure());
  // What the user is told of each refusal of the device.
  struct Refusal {
    MMRESULT result;
    CaptureFailure failure;
  } refusals[] = {
      {WAVERR_BADFORMAT, CaptureFailure::FORMAT_REFUSED},
      {MMSYSERR_BADDEVICEID, CaptureFailure::DEVICE_GONE},
      {MMSYSERR_NODRIVER, CaptureFailure::DEVICE_GONE},
      {MMSYSERR_NOMEM, CaptureFailure::START_FAILED},
  };
  for (const Refusal& r : refusals) {
    g_driver.openResult = r.result;
    EXPECT_FALSE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
    EXPECT_EQ(r.failure, source.GetFailure()) << r.result;
  }
  g_driver.openResult = MMSYSERR_NOERROR;
  ASSERT_TRUE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  EXPECT_EQ(CaptureFailure::NONE, source.GetFailure());
  source.Stop();
  g_driver.openResult = MMSYSERR_ALLOCATED;

  log.Clear();
  g_driver.openResult = MMSYSERR_NOERROR;
  g_driver.startResult = 99;
  EXPECT_FALSE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  EXPECT_EQ("waveInStart failed. MMSYSERR_UNKNOWN\n", log.Text());
  EXPECT_FALSE(g_driver.open);
  EXPECT_FALSE(source.IsActive());

  // Buffers that cannot be queued at start are only reported.
  log.Clear();
  g_driver.startResult = MMSYSERR_NOERROR;
  g_driver.addResult = MMSYSERR_NOMEM;
  EXPECT_TRUE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  EXPECT_NE(std::string::npos, log.Text().find("waveInAddBuffer failed. MMSYSERR_NOMEM\n"));
}

// The stall check runs on the source's clock: a device that has filled
// nothing for STALL_MS is still watched, one millisecond more and it is gone.
TEST_F(WaveInFake, DeviceThatFillsNothingIsTakenAsGone) {
  ManualClock clock;
  source.SetClock(clock);
  LogCapture log;
  ASSERT_TRUE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  ASSERT_TRUE(WorkerTakesTheEvent()) << "the worker runs its loop";
  clock.ms += SoundCaptureWaveIn::STALL_MS;
  // Woken twice: the second wake shows that it looked after the first.
  for (int wake = 0; wake < 2; ++wake) ASSERT_TRUE(WorkerTakesTheEvent()) << wake;
  EXPECT_FALSE(source.IsEnded());
  clock.ms += 1;
  ASSERT_TRUE(WaitFor([&] { return source.IsEnded(); }));
  EXPECT_EQ("waveIn: no buffer filled for 4000 ms, device lost\n", log.Text());
  source.Poll();
  EXPECT_FALSE(source.IsActive());
  EXPECT_EQ(CaptureFailure::DEVICE_GONE, source.GetFailure());
  source.SetClock(SystemClock());
}

// Buffers the worker finds done behind another one are late; the figures
// count the blocks and frames and the frames that found the link down.
TEST_F(WaveInFake, LateBuffersAndUnsentFramesAreCounted) {
  ASSERT_TRUE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  // One at a time: the worker takes each before the next is done.
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(g_driver.Fill(0, kBufferBytes));
    ASSERT_TRUE(WaitFor([&] { return channel.StreamFrames() >= static_cast<size_t>(i + 1) * 654; }));
  }
  EXPECT_EQ(0u, source.GetStreamFigures().lateBuffers);
  // Five done at once: the worker cannot take one (the driver's calls wait
  // for its lock) until all five are done, so at least the last four are
  // late; the first is too when the worker was still busy with the buffer
  // before and has not slept since.
  {
    std::lock_guard<std::mutex> hold(g_driver.mutex);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(g_driver.FillHeld(0, kBufferBytes));
  }
  ASSERT_TRUE(WaitFor([&] { return channel.StreamFrames() >= 8 * 654; }));
  const uint64_t late = source.GetStreamFigures().lateBuffers;
  EXPECT_TRUE(late == 4 || late == 5) << late;

  channel.SetStatus(PacketChannel::Status::OPEN);
  ASSERT_TRUE(g_driver.Fill(0, kBufferBytes));
  ASSERT_TRUE(WaitFor([&] { return source.GetStreamFigures().framesUnsent == 654; }));
  const StreamFigures figures = source.GetStreamFigures();
  EXPECT_EQ(8u, figures.blocks);
  EXPECT_EQ(8u * 654, figures.frames);
}

// A chosen device that has gone is replaced by the default device; the log
// says so once, and the source raises the notice for the window once, until
// the device has been found again.
TEST_F(WaveInFake, FallBackToTheDefaultDeviceIsToldOnce) {
  LogCapture log;
  const DeviceEntry gone("Headset", 1);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(source.Start(gone, kRate, WAVEFMT_PCM));
    EXPECT_EQ(static_cast<UINT>(WAVE_MAPPER), g_driver.openedDevice);
    EXPECT_EQ(i == 0, source.TakeFallbackNotice()) << i;
    EXPECT_FALSE(source.TakeFallbackNotice());
    source.Stop();
  }
  ASSERT_TRUE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  EXPECT_FALSE(source.TakeFallbackNotice());
  source.Stop();
  ASSERT_TRUE(source.Start(gone, kRate, WAVEFMT_PCM));
  EXPECT_TRUE(source.TakeFallbackNotice());
  source.Stop();
  const std::string line = "waveIn: \"Headset\" is gone, recording from the default device\n";
  const std::string text = log.Text();
  size_t count = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
  EXPECT_EQ(2u, count);
}

}  // namespace
