// The Core Audio source over fake COM objects: its device list, its choice of
// endpoint, the stream it asks for, the release of every reference on every
// failure, and the worker's blocks, flushes and end.
#include "FakeCoreAudio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <utility>
#include <vector>

#include "../../core/capture/CaptureTestUtil.h"
#include "TestUtil.h"
#include "capture/SoundCaptureCoreAudio.h"

namespace {

constexpr int32_t kRate = 48000;  // output rate = mix rate: blocks pass unconverted
constexpr UINT32 kBlockFrames = 960;

bool WaitFor(const std::function<bool()>& condition, unsigned ms = 10000) {
  for (unsigned waited = 0; waited < ms; waited += 5) {
    if (condition()) return true;
    Sleep(5);
  }
  return condition();
}

class CoreAudioFake : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestResources();
    FakeAudio::Get().Reset({{L"Speakers"}, {L"Line In"}, {L"Mic"}}, 2);
  }
  void TearDown() override { EXPECT_EQ(0, FakeAudio::Get().LiveObjects()) << "references not given back"; }

  static std::unique_ptr<SoundCaptureCoreAudio> MakeCapture() {
    auto source = std::make_unique<SoundCaptureCoreAudio>(nullptr, CodecFunctions(), &FakeAudio::Create);
    EXPECT_TRUE(source->InitializeCapture());
    return source;
  }
};

TEST_F(CoreAudioFake, DeviceListNamesTheDefaultAndEveryEndpointThatCanBeRead) {
  FakeAudio::Get().Reset({{L"Speakers"}, {L"Mic", true, true}, {L"Line \u00e9"}, {L"Odd", false}}, 2);
  LogCapture log;
  auto source = MakeCapture();
  ASSERT_EQ(5, source->GetDeviceCount());
  EXPECT_EQ("Fixed Device", source->GetDevice(0).name);
  EXPECT_EQ(DeviceEntry::FIXED_DEVICE_ID, source->GetDevice(0).id);
  EXPECT_EQ("Speakers", source->GetDevice(1).name);
  EXPECT_EQ(0, source->GetDevice(1).id);
  // Converted to the ANSI code page (1252 here).
  EXPECT_EQ("Line \xe9", source->GetDevice(2).name);
  EXPECT_EQ(2, source->GetDevice(2).id);
  // A name that is not a wide string leaves the entry without name and id;
  // the endpoint that could not be had leaves the last entry as it was.
  EXPECT_EQ("", source->GetDevice(3).name);
  EXPECT_EQ(DeviceEntry::NO_DEVICE_ID, source->GetDevice(3).id);
  EXPECT_EQ(DeviceEntry::NO_DEVICE_ID, source->GetDevice(4).id);
  EXPECT_NE(std::string::npos, log.Text().find("IMMDeviceCollection::Item 1 failed: hr = 0x80070057\n"));
  EXPECT_NE(std::string::npos, log.Text().find("PKEY_Device_FriendlyName variant type is 19 - expected VT_LPWSTR\n"));
  EXPECT_EQ("Core Audio", source->GetName());
}

TEST_F(CoreAudioFake, EmptyOrUnreachableSystem) {
  {
    FakeAudio::Get().Reset({}, -1);
    LogCapture log;
    auto source = MakeCapture();
    EXPECT_EQ(0, source->GetDeviceCount());
    EXPECT_EQ("IMMDeviceCollection::GetCount == 0\n", log.Text());
    EXPECT_FALSE(source->Start(DeviceEntry("Fixed Device", DeviceEntry::FIXED_DEVICE_ID), kRate, WAVEFMT_PCM));
    EXPECT_EQ(CaptureFailure::NO_DEVICE, source->GetFailure());
  }
  {
    // Without COM the enumerator cannot be made: the source is not offered.
    FakeAudio::Get().fail.create = CO_E_NOTINITIALIZED;
    LogCapture log;
    SoundCaptureCoreAudio source(nullptr, CodecFunctions(), &FakeAudio::Create);
    EXPECT_FALSE(source.InitializeLoopback());
    EXPECT_EQ("CoCreateInstance failed: hr = 0x800401f0\n", log.Text());
  }
  {
    FakeAudio::Get().Reset({{L"Mic"}}, -1);
    LogCapture log;
    auto source = MakeCapture();
    // No default endpoint: entry 0 stays without name.
    ASSERT_EQ(2, source->GetDeviceCount());
    EXPECT_EQ(DeviceEntry::NO_DEVICE_ID, source->GetDevice(0).id);
    EXPECT_NE(std::string::npos,
              log.Text().find("IMMDeviceEnumerator::GetDefaultAudioEndpoint failed: hr = 0x80070490\n"));
  }
  SoundCaptureCoreAudio uninitialised(nullptr, CodecFunctions(), &FakeAudio::Create);
  EXPECT_FALSE(uninitialised.EnumerateDevices());
  EXPECT_EQ("", uninitialised.GetName());
}

TEST_F(CoreAudioFake, EndpointByNameNearestToTheStoredIndex) {
  FakeAudio::Get().Reset({{L"Mic"}, {L"Line"}, {L"Mic"}, {L"Mic"}}, 1);
  auto source = MakeCapture();
  FakeChannel channel;
  source->SetPacketChannel(&channel);
  struct Case {
    DeviceEntry entry;
    int opened;
  } cases[] = {
      {{"Mic", 2}, 2}, {{"Mic", 3}, 3},  {{"Mic", 1}, 0},  // 0 and 2 tie: the first
      {{"Mic", 9}, 3}, {{"Line", 3}, 1}, {{"Fixed Device", DeviceEntry::FIXED_DEVICE_ID}, 1},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(source->Start(c.entry, kRate, WAVEFMT_PCM)) << c.entry.name << " " << c.entry.id;
    EXPECT_EQ(c.opened, FakeAudio::Get().Recorded().activated) << c.entry.name << " " << c.entry.id;
    source->Stop();
  }
  LogCapture log;
  EXPECT_FALSE(source->Start(DeviceEntry("Headset", 0), kRate, WAVEFMT_PCM));
  EXPECT_EQ(CaptureFailure::DEVICE_GONE, source->GetFailure());
  EXPECT_FALSE(source->Start(DeviceEntry(), kRate, WAVEFMT_PCM));
  EXPECT_FALSE(source->IsActive());
}

TEST_F(CoreAudioFake, StreamIsSharedStereo16BitAtTheMixRate) {
  FakeAudio::Get().Reset({{L"Speakers"}, {L"Mic"}}, 0, 44100);
  FakeChannel channel;
  {
    auto source = MakeCapture();
    source->SetPacketChannel(&channel);
    ASSERT_TRUE(source->Start(source->GetDevice(2), 32728, WAVEFMT_PCM));
    const FakeAudio::Record record = FakeAudio::Get().Recorded();
    EXPECT_EQ(1, record.activated);
    // A capture endpoint's stream is event driven: the worker waits on it.
    EXPECT_EQ(static_cast<DWORD>(AUDCLNT_STREAMFLAGS_EVENTCALLBACK), record.initFlags);
    EXPECT_NE(nullptr, record.event);
    EXPECT_EQ(3200000, record.initDuration);
    EXPECT_EQ(0, record.initPeriodicity);
    EXPECT_EQ(WAVE_FORMAT_PCM, record.initFormat.wFormatTag);
    EXPECT_EQ(2, record.initFormat.nChannels);
    EXPECT_EQ(44100u, record.initFormat.nSamplesPerSec);
    EXPECT_EQ(44100u * 4, record.initFormat.nAvgBytesPerSec);
    EXPECT_EQ(4, record.initFormat.nBlockAlign);
    EXPECT_EQ(16, record.initFormat.wBitsPerSample);
    EXPECT_EQ(0, record.initFormat.cbSize);
    EXPECT_TRUE(record.started);
    EXPECT_EQ(44100, source->GetInputRate());
    EXPECT_EQ(32728, source->GetOutputRate());
    source->Stop();
  }
  {
    // Loopback mode asks for the loopback stream; a device whose minimum
    // period is longer than 320 ms gets that period.
    FakeAudio::Get().minimumPeriod = 5000000;
    SoundCaptureCoreAudio source(nullptr, CodecFunctions(), &FakeAudio::Create);
    ASSERT_TRUE(source.InitializeLoopback());
    EXPECT_EQ("loopback", source.GetName());
    ASSERT_TRUE(source.Start(source.GetDevice(0), 32728, WAVEFMT_PCM));
    // Loopback is looked at on a timer: no event.
    EXPECT_EQ(static_cast<DWORD>(AUDCLNT_STREAMFLAGS_LOOPBACK), FakeAudio::Get().Recorded().initFlags);
    EXPECT_EQ(nullptr, FakeAudio::Get().Recorded().event);
    EXPECT_EQ(5000000, FakeAudio::Get().Recorded().initDuration);
    source.Stop();
  }
  {
    // A stream that takes no event is looked at on the timer instead.
    FakeAudio::Get().Reset({{L"Speakers"}, {L"Mic"}}, 0, 32728);
    FakeAudio::Get().fail.setEventHandle = E_FAIL;
    auto source = MakeCapture();
    source->SetPacketChannel(&channel);
    channel.Clear();
    LogCapture log;
    ASSERT_TRUE(source->Start(source->GetDevice(2), 32728, WAVEFMT_PCM));
    EXPECT_EQ("IAudioClient::SetEventHandle failed: hr = 0x80004005; polling\n", log.Text());
    FakeAudio::Get().Push({kBlockFrames, 0, 0});
    ASSERT_TRUE(WaitFor([&] { return channel.StreamFrames() >= kBlockFrames; }));
    source->Stop();
  }
}

TEST_F(CoreAudioFake, EveryFailedStartPrintsAndReleasesEverything) {
  constexpr CaptureFailure kGone = CaptureFailure::DEVICE_GONE;
  constexpr CaptureFailure kOther = CaptureFailure::START_FAILED;
  struct Case {
    HRESULT FakeFailures::*point;
    const char* message;
    CaptureFailure failure;  // shown to the user
    HRESULT hr = AUDCLNT_E_DEVICE_INVALIDATED;
  } cases[] = {
      {&FakeFailures::create, "CoCreateInstance failed: hr = 0x88890004\n", kOther},
      {&FakeFailures::enumerate, "IMMDeviceEnumerator::EnumAudioEndpoints failed: hr = 0x88890004\n", kOther},
      {&FakeFailures::count, "IMMDeviceCollection::GetCount failed: hr = 0x88890004\n", kOther},
      {&FakeFailures::activate, "IMMDevice::Activate failed: hr = 0x88890004\n", kGone},
      {&FakeFailures::mixFormat, "IAudioClient::GetMixFormat failed: hr = 0x88890004\n", kGone},
      {&FakeFailures::initialize, "IAudioClient::Initialize failed: hr = 0x88890004\n", kGone},
      {&FakeFailures::service, "IAudioClient::GetService failed: hr = 0x88890004\n", kGone},
      {&FakeFailures::start, "IAudioClient::Start failed: hr = 0x88890004\n", kGone},
      {&FakeFailures::initialize, "IAudioClient::Initialize failed: hr = 0x88890008\n", CaptureFailure::FORMAT_REFUSED,
       AUDCLNT_E_UNSUPPORTED_FORMAT},
      {&FakeFailures::initialize, "IAudioClient::Initialize failed: hr = 0x8889000f\n", kGone,
       AUDCLNT_E_ENDPOINT_CREATE_FAILED},
      {&FakeFailures::start, "IAudioClient::Start failed: hr = 0x80004005\n", kOther, E_FAIL},
  };
  auto source = MakeCapture();
  FakeChannel channel;
  source->SetPacketChannel(&channel);
  for (const Case& c : cases) {
    FakeAudio::Get().Reset({{L"Speakers"}, {L"Line In"}, {L"Mic"}}, 2);
    FakeAudio::Get().fail.*c.point = c.hr;
    LogCapture log;
    EXPECT_FALSE(source->Start(DeviceEntry("Mic", 2), kRate, WAVEFMT_PCM)) << c.message;
    EXPECT_EQ(c.message, log.Text());
    EXPECT_EQ(c.failure, source->GetFailure()) << c.message;
    EXPECT_FALSE(source->IsActive());
    EXPECT_EQ(0, FakeAudio::Get().LiveObjects()) << c.message;
    // The retry of the next tick finds everything as before.
    FakeAudio::Get().fail = FakeFailures();
    EXPECT_TRUE(source->Start(DeviceEntry("Mic", 2), kRate, WAVEFMT_PCM)) << c.message;
    EXPECT_EQ(CaptureFailure::NONE, source->GetFailure());
    source->Stop();
    EXPECT_EQ(0, FakeAudio::Get().LiveObjects()) << c.message;
  }
}

TEST_F(CoreAudioFake, WorkerGathersBlocksSplitsPacketsAndFlushesAfterTwentyEmptyPolls) {
  auto source = MakeCapture();
  FakeChannel channel;
  source->SetPacketChannel(&channel);

  // 500 + 1000 + 700 frames: two whole blocks of 960 and 280 frames left
  // over, handed on by the flush after 20 polls without a packet.
  int16_t next = 0;
  for (UINT32 frames : {500u, 1000u, 700u}) {
    FakeAudio::Get().Push({frames, 0, next});
    next = static_cast<int16_t>(next + static_cast<int16_t>(frames * 2));
  }
  ASSERT_TRUE(source->Start(source->GetDevice(3), kRate, WAVEFMT_PCM));
  ASSERT_TRUE(WaitFor([&] { return channel.StreamFrames() >= 2200; }));
  auto packets = channel.Packets();
  ASSERT_EQ(3u, packets.size());
  EXPECT_EQ(kBlockFrames * 2, packets[0].samples.size());
  EXPECT_EQ(kBlockFrames * 2, packets[1].samples.size());
  EXPECT_EQ(280u * 2, packets[2].samples.size());
  std::vector<int16_t> expected(2200 * 2);
  std::iota(expected.begin(), expected.end(), static_cast<int16_t>(0));
  EXPECT_EQ(expected, channel.Stream());

  // A packet marked silent arrives as zeros, whatever its buffer holds.
  channel.Clear();
  FakeAudio::Get().Push({kBlockFrames, AUDCLNT_BUFFERFLAGS_SILENT, 1000});
  ASSERT_TRUE(WaitFor([&] { return channel.StreamFrames() >= kBlockFrames; }));
  EXPECT_EQ(std::vector<int16_t>(kBlockFrames * 2, 0), channel.Stream());
  // The empty flush 20 polls later lets the levels fall to 0 and sends nothing.
  ASSERT_TRUE(WaitFor([&] { return source->GetLevel(0) == 0 && source->GetLevel(1) == 0; }));
  EXPECT_EQ(1u, channel.Packets().size());

  // Nothing is sent while the channel is not connected; the levels still move.
  channel.Clear();
  channel.SetStatus(PacketChannel::Status::OPEN);
  FakeAudio::Get().Push({kBlockFrames, 0, -900});
  ASSERT_TRUE(WaitFor([&] { return FakeAudio::Get().PendingPackets() == 0 && source->GetLevel(0) > 0; }));
  EXPECT_EQ(0u, channel.StreamFrames());

  // The capture client fails: the worker ends, Poll stops the source.
  FakeAudio::Get().FailNextPacket(AUDCLNT_E_DEVICE_INVALIDATED);
  LogCapture log;
  ASSERT_TRUE(WaitFor([&] { return source->IsEnded(); }));
  EXPECT_EQ("IAudioCaptureClient::GetNextPacketSize failed: hr = 0x88890004\n", log.Text());
  EXPECT_TRUE(source->IsActive());
  source->Poll();
  EXPECT_FALSE(source->IsActive());
  EXPECT_FALSE(source->IsEnded());
  EXPECT_EQ(CaptureFailure::DEVICE_GONE, source->GetFailure());
  EXPECT_EQ(0, FakeAudio::Get().LiveObjects());
}

TEST_F(CoreAudioFake, CaptureEndpointThatStopsDeliveringEndsTheWorker) {
  auto source = MakeCapture();
  FakeChannel channel;
  source->SetPacketChannel(&channel);
  LogCapture log;
  ASSERT_TRUE(source->Start(source->GetDevice(0), kRate, WAVEFMT_PCM));
  // No packet at all: empty flushes every 20 polls, then the end.
  ASSERT_TRUE(WaitFor([&] { return source->IsEnded(); }, 20000));
  EXPECT_EQ("IAudioCaptureClient: no packet for 4000 ms, device lost\n", log.Text());
  EXPECT_EQ(0u, channel.StreamFrames());
  source->Poll();
  EXPECT_FALSE(source->IsActive());
}

// An endpoint that went away can stay listed (Wine keeps a process's
// endpoints for its life): its stream ends with the device invalidated (told
// by the padding query only, when it ended between two packets), and every
// retry fails with a general error until it is back. Those retries still say
// the device is gone; a start of another entry, or of the same one after a
// stream ran again, says it cannot start.
TEST_F(CoreAudioFake, RetriesOfALostEndpointSayItIsGone) {
  SoundCaptureCoreAudio source(nullptr, CodecFunctions(), &FakeAudio::Create);
  ASSERT_TRUE(source.InitializeLoopback());
  FakeChannel channel;
  source.SetPacketChannel(&channel);
  LogCapture log;
  ASSERT_TRUE(source.Start(source.GetDevice(0), kRate, WAVEFMT_PCM));
  FakeAudio::Get().FailPadding(AUDCLNT_E_DEVICE_INVALIDATED);
  ASSERT_TRUE(WaitFor([&] { return source.IsEnded(); }));
  EXPECT_EQ("IAudioClient::GetCurrentPadding failed: hr = 0x88890004\n", log.Text());
  source.Poll();
  EXPECT_EQ(CaptureFailure::DEVICE_GONE, source.GetFailure());

  FakeAudio::Get().fail.initialize = E_FAIL;
  for (int retry = 0; retry < 3; ++retry) {
    EXPECT_FALSE(source.Start(source.GetDevice(0), kRate, WAVEFMT_PCM));
    EXPECT_EQ(CaptureFailure::DEVICE_GONE, source.GetFailure()) << retry;
  }
  EXPECT_FALSE(source.Start(source.GetDevice(1), kRate, WAVEFMT_PCM));
  EXPECT_EQ(CaptureFailure::START_FAILED, source.GetFailure());
  EXPECT_FALSE(source.Start(source.GetDevice(0), kRate, WAVEFMT_PCM));
  EXPECT_EQ(CaptureFailure::START_FAILED, source.GetFailure());

  // Back: the stream runs; a later general failure is only that.
  FakeAudio::Get().fail = FakeFailures();
  ASSERT_TRUE(source.Start(source.GetDevice(0), kRate, WAVEFMT_PCM));
  EXPECT_EQ(CaptureFailure::NONE, source.GetFailure());
  source.Stop();
  FakeAudio::Get().fail.initialize = E_FAIL;
  EXPECT_FALSE(source.Start(source.GetDevice(0), kRate, WAVEFMT_PCM));
  EXPECT_EQ(CaptureFailure::START_FAILED, source.GetFailure());
  EXPECT_EQ(0, FakeAudio::Get().LiveObjects());
}

TEST_F(CoreAudioFake, SilentLoopbackIsNotTakenForAnUnpluggedDevice) {
  SoundCaptureCoreAudio source(nullptr, CodecFunctions(), &FakeAudio::Create);
  ASSERT_TRUE(source.InitializeLoopback());
  FakeChannel channel;
  source.SetPacketChannel(&channel);
  ASSERT_TRUE(source.Start(source.GetDevice(0), kRate, WAVEFMT_PCM));
  // The worker has looked without a packet for longer than a capture
  // endpoint may stay silent, and once more after the look that would have
  // ended a watched stream.
  ASSERT_TRUE(WaitFor(
      [] {
        const FakeAudio::Record r = FakeAudio::Get().Recorded();
        return r.paddingQueries > 0 && r.lastPaddingMs - r.firstPaddingMs > SoundCaptureCoreAudio::STALL_MS;
      },
      60000));
  const int looks = FakeAudio::Get().Recorded().paddingQueries;
  ASSERT_TRUE(WaitFor([looks] { return FakeAudio::Get().Recorded().paddingQueries > looks; }));
  EXPECT_FALSE(source.IsEnded());
  EXPECT_TRUE(source.IsActive());
  source.Stop();
}

// The capture client fails while the worker takes a packet: the worker ends
// at once, the packet unsent, and the idle tick's Poll stops the source with
// the device reported gone; its retry starts a new stream.
TEST_F(CoreAudioFake, PacketThatCannotBeTakenOrGivenBackEndsTheWorker) {
  struct Case {
    HRESULT FakeFailures::*point;
    const char* message;
    int getBuffers;  // packets handed out before the worker ended
  } cases[] = {
      {&FakeFailures::getBuffer, "IAudioCaptureClient::GetBuffer failed: hr = 0x88890004\n", 0},
      {&FakeFailures::releaseBuffer, "IAudioCaptureClient::ReleaseBuffer failed: hr = 0x88890004\n", 1},
  };
  for (const Case& c : cases) {
    FakeAudio::Get().Reset({{L"Speakers"}, {L"Line In"}, {L"Mic"}}, 2);
    auto source = MakeCapture();
    FakeChannel channel;
    source->SetPacketChannel(&channel);
    ASSERT_TRUE(source->Start(source->GetDevice(3), kRate, WAVEFMT_PCM)) << c.message;
    FakeAudio::Get().fail.*c.point = AUDCLNT_E_DEVICE_INVALIDATED;
    LogCapture log;
    FakeAudio::Get().Push({kBlockFrames, 0, 0});
    ASSERT_TRUE(WaitFor([&] { return source->IsEnded(); })) << c.message;
    EXPECT_EQ(c.message, log.Text());
    const FakeAudio::Record record = FakeAudio::Get().Recorded();
    EXPECT_EQ(c.getBuffers, record.getBuffers) << c.message;
    EXPECT_EQ(c.getBuffers, record.releaseBuffers) << c.message;
    EXPECT_EQ(0u, channel.StreamFrames()) << c.message;
    EXPECT_EQ(CaptureFailure::DEVICE_GONE, source->GetFailure()) << c.message;
    source->Poll();
    EXPECT_FALSE(source->IsActive()) << c.message;
    EXPECT_FALSE(source->IsEnded()) << c.message;
    EXPECT_EQ(0, FakeAudio::Get().LiveObjects()) << c.message;

    FakeAudio::Get().fail = FakeFailures();
    ASSERT_TRUE(source->Start(source->GetDevice(3), kRate, WAVEFMT_PCM)) << c.message;
    EXPECT_EQ(CaptureFailure::NONE, source->GetFailure());
    ASSERT_TRUE(WaitFor([&] { return channel.StreamFrames() >= kBlockFrames; })) << c.message;
    source->Stop();
  }
}

// A worker thread that cannot be made fails the start before the stream
// starts, and leaves nothing held.
TEST_F(CoreAudioFake, WorkerThreadThatCannotBeMadeFailsTheStart) {
  auto source = MakeCapture();
  FakeChannel channel;
  source->SetPacketChannel(&channel);
  source->SetThreadStarter([](Thread&, Thread::Entry, void*) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  });
  LogCapture log;
  EXPECT_FALSE(source->Start(source->GetDevice(3), kRate, WAVEFMT_PCM));
  EXPECT_EQ("CreateThread failed: last error is 8\n", log.Text());
  EXPECT_EQ(CaptureFailure::START_FAILED, source->GetFailure());
  EXPECT_FALSE(source->IsActive());
  EXPECT_FALSE(FakeAudio::Get().Recorded().started);
  EXPECT_EQ(0, FakeAudio::Get().LiveObjects());

  source->SetThreadStarter(&DeviceSource::StartThread);
  EXPECT_TRUE(source->Start(source->GetDevice(3), kRate, WAVEFMT_PCM));
  EXPECT_EQ(CaptureFailure::NONE, source->GetFailure());
  source->Stop();
}

// An endpoint whose mix format is not stereo 16-bit is recorded at that
// format and folded to stereo 16-bit in the worker (mono to both sides, the
// centre and surrounds at -3 dB, the LFE dropped); each packet is copied and
// given back before the block path writes; gaps and short blocks are counted.
TEST_F(CoreAudioFake, OwnMixFormatIsRecordedAndFoldedToStereo) {
  constexpr double kC = 0.70710678;
  const std::vector<std::pair<double, double>> front = {{1, 0}, {0, 1}};
  const std::vector<std::pair<double, double>> fiveOne = {{1, 0}, {0, 1}, {kC, kC}, {0, 0}, {kC, 0}, {0, kC}};
  std::vector<std::pair<double, double>> sevenOne = fiveOne;
  sevenOne.push_back({kC, 0});
  sevenOne.push_back({0, kC});
  struct Case {
    const char* name;
    FakeMix mix;
    std::vector<std::pair<double, double>> weights;  // per channel: left, right
  } cases[] = {
      {"mono 16-bit", {1, 16, false, false, 0}, {{1, 1}}},
      {"stereo float", {2, 32, true, false, 0}, front},
      {"mono 32-bit extensible", {1, 32, false, true, 0x4}, {{1, 1}}},
      {"5.1 16-bit", {6, 16, false, false, 0}, fiveOne},
      {"5.1 float extensible", {6, 32, true, true, 0x3F}, fiveOne},
      {"7.1 24-bit extensible", {8, 24, false, true, 0x63F}, sevenOne},
  };
  for (const Case& c : cases) {
    FakeAudio::Get().Reset({{L"Speakers"}, {L"Line In"}, {L"Mic"}}, 2);
    FakeAudio::Get().mix = c.mix;
    auto source = MakeCapture();
    FakeChannel channel;
    int writesWhileHeld = 0;
    channel.onWrite = [&] { writesWhileHeld += FakeAudio::Get().BufferHeld() ? 1 : 0; };
    source->SetPacketChannel(&channel);
    // One block, flagged as following a gap, and 100 frames that the flush
    // after 20 empty polls hands on short.
    const int16_t first = -3000;
    FakeAudio::Get().Push({kBlockFrames, AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY, first});
    FakeAudio::Get().Push({100, 0, static_cast<int16_t>(first + kBlockFrames * c.mix.channels)});
    ASSERT_TRUE(source->Start(source->GetDevice(3), kRate, WAVEFMT_PCM)) << c.name;

    const FakeAudio::Record record = FakeAudio::Get().Recorded();
    const WORD tag =
        c.mix.extensible ? WAVE_FORMAT_EXTENSIBLE : (c.mix.isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
    EXPECT_EQ(tag, record.initFormat.wFormatTag) << c.name;
    EXPECT_EQ(c.mix.channels, record.initFormat.nChannels) << c.name;
    EXPECT_EQ(c.mix.bits, record.initFormat.wBitsPerSample) << c.name;
    if (c.mix.extensible) {
      EXPECT_EQ(c.mix.mask, record.initExtensible.dwChannelMask) << c.name;
    }

    ASSERT_TRUE(WaitFor([&] { return channel.StreamFrames() >= kBlockFrames + 100; })) << c.name;
    ASSERT_TRUE(WaitFor([&] { return source->GetStreamFigures().shortBlocks == 1; })) << c.name;
    const std::vector<int16_t> stream = channel.Stream();
    ASSERT_EQ((kBlockFrames + 100) * 2, stream.size()) << c.name;
    for (size_t f = 0; f < kBlockFrames + 100; ++f) {
      double left = 0, right = 0;
      for (size_t ch = 0; ch < c.weights.size(); ++ch) {
        const double s = static_cast<int16_t>(first + static_cast<int>(f * c.weights.size() + ch));
        left += c.weights[ch].first * s;
        right += c.weights[ch].second * s;
      }
      left = std::max(-32768.0, std::min(32767.0, left));
      right = std::max(-32768.0, std::min(32767.0, right));
      ASSERT_NEAR(left, stream[2 * f], 1.0) << c.name << " frame " << f;
      ASSERT_NEAR(right, stream[2 * f + 1], 1.0) << c.name << " frame " << f;
    }
    EXPECT_EQ(0, writesWhileHeld) << c.name << ": the packet was still held while writing";
    const StreamFigures figures = source->GetStreamFigures();
    EXPECT_EQ(1u, figures.discontinuities) << c.name;
    EXPECT_EQ(2u, figures.blocks) << c.name;
    EXPECT_EQ(kBlockFrames + 100, figures.frames) << c.name;
    source->Stop();
    channel.onWrite = nullptr;
  }
}

// A mix format the worker cannot read is refused before anything starts.
TEST_F(CoreAudioFake, UnreadableMixFormatIsRefused) {
  FakeAudio::Get().mix = {2, 12, false, false, 0};
  auto source = MakeCapture();
  LogCapture log;
  EXPECT_FALSE(source->Start(source->GetDevice(3), kRate, WAVEFMT_PCM));
  EXPECT_EQ("IAudioClient::GetMixFormat: format 0x0001, 2 channels, 12 bits cannot be read\n", log.Text());
  EXPECT_EQ(CaptureFailure::FORMAT_REFUSED, source->GetFailure());
  EXPECT_FALSE(source->IsActive());
}

}  // namespace
