#include "core/IdleTick.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "core/MapMemory.h"
#include "TestUtil.h"
#include "core/CaptureChoice.h"
#include "link/DebuggerSession.h"
#include "link/ProgramDownload.h"
#include "platform/Platform.h"
#include "settings/SoundConfig.h"
#include "settings/SoundConfigData.h"

namespace {

using Status = PacketChannel::Status;

// What the level display was asked to show, one entry a redraw: "left|right"
// for the levels, Notice(...) for a notice of the tick's, Settings(id) for the
// settings model's.
std::string Notice(LevelNotice notice) {
  return "notice " + std::to_string(static_cast<int>(notice));
}
std::string Settings(ConfigNotice notice) {
  return "settings " + std::to_string(static_cast<int>(notice));
}

class FakeView : public IdleView {
 public:
  void DrawLevels(int32_t left, int32_t right) override {
    levels.push_back(std::to_string(left) + "|" + std::to_string(right));
  }
  void DrawLevelNotice(LevelNotice notice) override { levels.push_back(Notice(notice)); }
  void DrawSettingsNotice(ConfigNotice notice) override { levels.push_back(Settings(notice)); }
  bool SetLinkText(LinkState state) override {
    if (!hasLinkControl) return false;
    linkText = state;
    ++linkWrites;
    return true;
  }
  void UpdateCaption() override { ++captions; }
  void OnDebuggerReturned() override { ++returns; }

  bool hasLinkControl = true;
  LinkState linkText = LinkState::NONE;
  int linkWrites = 0;
  int captions = 0;
  int returns = 0;
  std::vector<std::string> levels;
};

// The serial channel: the settings model writes to it, the idle tick steps and
// reads it; a scripted status sequence stands for the state machine.
class FakeLink : public PacketPump, public DebuggerWatch, public DownloadStatus {
 public:
  Status GetStatus() const override { return status; }
  void Update() override {
    ++updates;
    const Status before = status;
    if (!script.empty()) {
      status = script.front();
      script.erase(script.begin());
    }
    if ((status == Status::CONNECTED && before != Status::CONNECTED) || reattach) ++connections;
    reattach = false;
  }
  uint32_t GetConnectionCount() const override { return connections; }
  std::unique_ptr<uint8_t[]> Read(uint32_t& type, uint32_t& size) override {
    ++reads;
    if (incoming.empty()) {
      type = NO_PACKET;
      size = 0;
      return nullptr;
    }
    Incoming packet = incoming.front();
    incoming.erase(incoming.begin());
    type = packet.type;
    size = static_cast<uint32_t>(packet.payload.size());
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[packet.payload.size() + 1]);
    if (!packet.payload.empty()) std::memcpy(bytes.get(), packet.payload.data(), packet.payload.size());
    return bytes;
  }
  bool IsAwaitingDebugger() const override { return awaiting; }
  // The look numbered foundAtLook (from 1) connects: CLOSED_PENDING_OPEN,
  // nothing awaited.
  bool ConnectLost() override {
    if (++looks != foundAtLook) return false;
    awaiting = false;
    status = Status::CLOSED_PENDING_OPEN;
    return true;
  }
  bool HasLibrary() const override { return library; }
  bool IsImageMissing() const override { return imageMissing; }
  bool Write(uint32_t type, const void*, int32_t) override {
    written.push_back(type);
    return true;
  }
  int Configs() const {
    int n = 0;
    for (uint32_t t : written) n += t == CONFIG ? 1 : 0;
    return n;
  }

  struct Incoming {
    uint32_t type;
    std::vector<uint8_t> payload;
  };
  Status status = Status::DISCONNECTED;
  std::vector<Status> script;
  std::vector<Incoming> incoming;
  std::vector<uint32_t> written;
  uint32_t connections = 0;
  bool reattach = false;  // the next Update closes and opens again, CONNECTED throughout
  int updates = 0;
  int reads = 0;
  bool awaiting = false;
  bool library = true;
  bool imageMissing = false;
  int looks = 0;
  int foundAtLook = 0;
};

class FakeSource : public SoundCapture {
 public:
  FakeSource() : SoundCapture(nullptr) { AddDevice("Fixed Device", DeviceEntry::FIXED_DEVICE_ID); }
  std::string GetName() const override { return "Fake"; }
  bool EnumerateDevices() override { return true; }
  bool Start(const DeviceEntry& device, int32_t outputRate, int32_t waveFormat) override {
    starts.push_back({device.name, outputRate, waveFormat});
    SetEnded(false);
    if (!startResult) {
      SetFailure(failure);
      return false;
    }
    NoteFallback(onDefaultDevice, "Mic");
    SetFailure(CaptureFailure::NONE);
    SetActive(true);
    return true;
  }
  void Stop() override { SetActive(false); }
  // The worker ended by itself.
  void End(CaptureFailure why) {
    SetFailure(why);
    SetActive(false);
    SetEnded(true);
  }
  void Poll() override { ++polls; }
  void Feed(int16_t left, int16_t right) {
    int16_t frames[4] = {0, 0, left, right};
    Pipeline().UpdateLevels(frames, 2);
  }

  struct StartCall {
    std::string device;
    int32_t rate;
    int32_t format;
  };
  bool startResult = true;
  CaptureFailure failure = CaptureFailure::NONE;  // of a failing start
  bool onDefaultDevice = false;                   // a start falls back to the default device
  std::vector<StartCall> starts;
  int polls = 0;
};

class IdleTickTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestResources();
    clock.seconds = 1000;
    config.SetClock(clock);
    choice.Add(std::unique_ptr<SoundCapture>(&source));
    choice.ChooseStartSource();
    choice.RefreshDevices("");
  }
  // The choice owns the source from SetUp on.
  static FakeSource& MakeSource() { return *new FakeSource(); }
  uint32_t Token() { return config.GetRecord().streamToken; }

  TempDir folder;  // the program's folder: the auto-save file goes there
  FakeView view;
  FakeLink link;
  SoundConfig config{&link, false, folder.Path()};
  MapMemory memory;
  CaptureChoice choice{memory};
  FakeSource& source = MakeSource();
  ManualClock clock;  // time moves only when the test says so
  IdleTick idle{view, link, link, link, config, choice, clock};
};

TEST_F(IdleTickTest, StoppedSourceIsStartedWithTheSettingsRateAndFormat) {
  source.startResult = false;
  idle.Run();
  ASSERT_EQ(source.starts.size(), 1u);
  EXPECT_EQ(source.starts[0].device, "Fixed Device");
  EXPECT_EQ(source.starts[0].rate, config.GetSamplingRate());
  EXPECT_EQ(source.starts[0].format, static_cast<int32_t>(config.GetWaveFormat()));

  source.startResult = true;
  clock.ms += IdleTick::RETRY_FIRST_MS;
  idle.Run();
  idle.Run();
  EXPECT_EQ(source.starts.size(), 2u) << "an active source is left running";
  EXPECT_EQ(source.polls, 3);
  EXPECT_EQ(link.Configs(), 0) << "nothing is sent while the link is down";

  source.Stop();  // the worker ended: restarted at once
  idle.Run();
  EXPECT_EQ(source.starts.size(), 3u);
}

// The ticks between two tries start nothing; the waits are 1, 2, 4, 8, 8 s.
TEST_F(IdleTickTest, FailingStartIsRetriedWithAGrowingWait) {
  source.startResult = false;
  idle.Run();
  ASSERT_EQ(source.starts.size(), 1u);
  size_t tries = 1;
  for (uint64_t wait : {1000u, 2000u, 4000u, 8000u, 8000u, 8000u}) {
    clock.ms += wait - 1;
    for (int i = 0; i < 50; ++i) idle.Run();
    EXPECT_EQ(source.starts.size(), tries) << "before the " << wait << " ms wait ended";
    clock.ms += 1;
    idle.Run();
    EXPECT_EQ(source.starts.size(), ++tries) << "after the " << wait << " ms wait";
  }

  // A success ends the waiting: the next failure waits 1 s again.
  source.startResult = true;
  clock.ms += IdleTick::RETRY_MAX_MS;
  idle.Run();
  ASSERT_EQ(source.starts.size(), ++tries);
  source.startResult = false;
  source.Stop();
  idle.Run();
  EXPECT_EQ(source.starts.size(), ++tries) << "a source that stopped after running restarts at once";
  clock.ms += IdleTick::RETRY_FIRST_MS - 1;
  idle.Run();
  EXPECT_EQ(source.starts.size(), tries);
  clock.ms += 1;
  idle.Run();
  EXPECT_EQ(source.starts.size(), ++tries);
}

// Whatever the user asks of the choice is tried on the next tick, and the
// wait after it starts again at 1 s.
TEST_F(IdleTickTest, UserRequestsRetryAtOnce) {
  FakeSource& other = MakeSource();
  ASSERT_TRUE(choice.Add(std::unique_ptr<SoundCapture>(&other)));
  config.SetCapture(&choice);
  source.startResult = false;
  other.startResult = false;
  idle.Run();
  clock.ms += 1000;
  idle.Run();
  clock.ms += 2000;
  idle.Run();
  ASSERT_EQ(source.starts.size(), 3u);  // now waiting 4 s

  struct Request {
    const char* what;
    std::function<void()> ask;
  };
  const ConfigSnapshot otherRate{0, 0};
  const Request requests[] = {
      {"StopCurrent (File, Connect, Reset)", [&] { choice.StopCurrent(); }},
      {"a fresh device list", [&] { choice.RefreshDevices(""); }},
      {"a new rate from the settings", [&] { config.Apply(otherRate); }},
  };
  for (const Request& request : requests) {
    const size_t before = source.starts.size();
    request.ask();
    idle.Run();
    EXPECT_EQ(source.starts.size(), before + 1) << request.what;
    clock.ms += IdleTick::RETRY_FIRST_MS;
    idle.Run();
    EXPECT_EQ(source.starts.size(), before + 2) << request.what << ": the wait starts again at 1 s";
  }

  // Another source is tried at once, and so is the first one on its return.
  ASSERT_TRUE(choice.SelectSource(1));
  idle.Run();
  EXPECT_EQ(other.starts.size(), 1u);
  const size_t before = source.starts.size();
  ASSERT_TRUE(choice.SelectSource(0));
  idle.Run();
  EXPECT_EQ(source.starts.size(), before + 1);
}

TEST_F(IdleTickTest, StartWhileConnectedSendsTheRecordWithANewToken) {
  link.status = Status::CONNECTED;
  idle.Run();
  EXPECT_EQ(link.Configs(), 1);
  const uint32_t first = Token();
  EXPECT_NE(first, 0u);

  source.Stop();  // e.g. the format changed
  idle.Run();
  EXPECT_EQ(link.Configs(), 2);
  EXPECT_NE(Token(), first) << "every stream has its own token";
}

TEST_F(IdleTickTest, LinkComingUpRenewsTheTokenAndSendsOnlyWhenStreaming) {
  CaptureChoice none{memory};  // no source yet
  IdleTick early{view, link, link, link, config, none, clock};
  link.script = {Status::CLOSED_PENDING_OPEN, Status::OPEN, Status::CONNECTED, Status::CONNECTED};
  for (int i = 0; i < 4; ++i) early.Run();
  EXPECT_NE(Token(), 0u);
  EXPECT_EQ(link.Configs(), 0);

  // The next start sends the record, with yet another token.
  const uint32_t linkToken = Token();
  idle.Run();
  EXPECT_EQ(link.Configs(), 1);
  EXPECT_NE(Token(), linkToken);

  // A link that drops and comes back while streaming sends at once.
  link.script = {Status::DISCONNECTED, Status::CONNECTED};
  idle.Run();
  idle.Run();
  EXPECT_EQ(link.Configs(), 2);

  // Closed by a worker's failed write and opened again within one step: the
  // state reads CONNECTED before and after, the attach is new all the same.
  const uint32_t before = Token();
  link.reattach = true;
  idle.Run();
  EXPECT_EQ(link.Configs(), 3);
  EXPECT_NE(Token(), before);
}

TEST_F(IdleTickTest, TakesOneDevicePacketATickAndAppliesOnlySettings) {
  link.status = Status::CONNECTED;
  idle.Run();  // starts the stream, sends the record
  const int sent = link.Configs();

  SoundConfigData record = config.GetRecord();
  record.volume = 0.25f;
  record.samplingRate = 12345;  // the PC's own field: kept
  uint8_t packed[SOUND_CONFIG_SIZE];
  PackRecord(record, packed);
  const std::vector<uint8_t> bytes(packed, packed + SOUND_CONFIG_SIZE);
  link.incoming = {{PacketChannel::AUDIO, bytes}, {PacketChannel::CONFIG, {}}, {PacketChannel::CONFIG, bytes}};

  idle.Run();
  EXPECT_NE(config.GetRecord().volume, 0.25f) << "an audio packet is dropped";
  idle.Run();
  EXPECT_NE(config.GetRecord().volume, 0.25f) << "an empty settings packet applies nothing";
  idle.Run();
  EXPECT_EQ(config.GetRecord().volume, 0.25f);
  EXPECT_NE(config.GetRecord().samplingRate, 12345);
  EXPECT_EQ(link.reads, 4);
  EXPECT_EQ(link.Configs(), sent) << "a record taken from the device is not sent back to it";

  link.status = Status::OPEN;
  idle.Run();
  EXPECT_EQ(link.reads, 4) << "nothing is read until the device program is attached";
}

TEST_F(IdleTickTest, LevelDisplayEveryTenthTick) {
  source.startResult = false;
  for (int i = 0; i < 9; ++i) idle.Run();
  EXPECT_TRUE(view.levels.empty());
  idle.Run();
  ASSERT_EQ(view.levels.size(), 1u);
  EXPECT_EQ(view.levels[0], Notice(LevelNotice::NONE_ACTIVE)) << "an inactive source shows no levels";

  source.startResult = true;
  clock.ms += IdleTick::RETRY_FIRST_MS;
  source.Feed(1000, -2000);
  for (int i = 0; i < 10; ++i) idle.Run();
  ASSERT_EQ(view.levels.size(), 2u);
  EXPECT_EQ(view.levels[1], std::to_string(source.GetLevel(0)) + "|" + std::to_string(source.GetLevel(1)));
  EXPECT_EQ(idle.GetStatusCounter(), 0);
}

TEST_F(IdleTickTest, LinkTextFollowsTheLinkAndIsWrittenOnlyWhenItDiffers) {
  view.linkText = LinkState::ACTIVE;  // stale
  for (int i = 0; i < 3; ++i) idle.Run();
  EXPECT_EQ(view.linkText, LinkState::NONE);
  EXPECT_EQ(view.linkWrites, 1);
  EXPECT_EQ(view.captions, 3) << "while no debugger is chosen the caption is refreshed";

  link.status = Status::CONNECTED;
  for (int i = 0; i < 3; ++i) idle.Run();
  EXPECT_EQ(view.linkText, LinkState::ACTIVE);
  EXPECT_EQ(view.linkWrites, 2);
  EXPECT_EQ(view.captions, 3);

  // A missing device program says so while a debugger is connected and the
  // link waits for it; the link up, or no debugger, say what they always say.
  link.imageMissing = true;
  for (Status status : {Status::OPEN, Status::CLOSE_ERROR, Status::CLOSED_PENDING_OPEN}) {
    link.status = status;
    idle.Run();
    EXPECT_EQ(view.linkText, LinkState::NO_IMAGE);
  }
  link.status = Status::CONNECTED;
  idle.Run();
  EXPECT_EQ(view.linkText, LinkState::ACTIVE);
  link.status = Status::DISCONNECTED;
  idle.Run();
  EXPECT_EQ(view.linkText, LinkState::NONE);
  // Without the host-I/O library no debugger is ever found: said instead of none.
  link.library = false;
  idle.Run();
  EXPECT_EQ(view.linkText, LinkState::NO_LIBRARY);
  const int writes = view.linkWrites;

  view.hasLinkControl = false;
  link.status = Status::OPEN;
  idle.Run();
  EXPECT_EQ(view.linkWrites, writes) << "a window without the control is left alone";
  // What the tick writes is compared with what it wrote, not read back: a
  // text that found no control is written once there is one.
  link.library = true;
  link.imageMissing = false;
  idle.Run();
  EXPECT_EQ(view.linkWrites, writes);
  view.hasLinkControl = true;
  idle.Run();
  EXPECT_EQ(view.linkText, LinkState::NONE);
  EXPECT_EQ(view.linkWrites, writes + 1);
}

// A lost debugger is looked for every 2 s of the clock, the first time 2 s
// after the tick saw the loss, and not while the user has disconnected; a
// late tick makes one look, not a burst. Its return goes on as at start-up.
TEST_F(IdleTickTest, LostDebuggerIsLookedForEveryTwoSeconds) {
  std::vector<uint64_t> lookTimes;
  auto runUntil = [&](uint64_t end) {
    for (; clock.ms <= end; clock.ms += 10) {
      const int before = link.looks;
      idle.Run();
      if (link.looks != before) lookTimes.push_back(clock.ms);
    }
  };
  clock.ms = 5000;
  runUntil(6000);
  EXPECT_TRUE(lookTimes.empty()) << "nothing is awaited";
  EXPECT_EQ(view.linkText, LinkState::NONE);

  link.awaiting = true;
  clock.ms = 10000;
  runUntil(15000);
  EXPECT_EQ(lookTimes, (std::vector<uint64_t>{12000, 14000}));
  EXPECT_EQ(view.linkText, LinkState::WAITING);
  EXPECT_EQ(view.returns, 0);

  // A tick held up for 7 s (a modal window) looks once, then every 2 s.
  clock.ms = 22000;
  runUntil(24500);
  EXPECT_EQ(lookTimes, (std::vector<uint64_t>{12000, 14000, 22000, 24000}));

  // The user disconnects: no looks until a later loss, then 2 s after it.
  link.awaiting = false;
  runUntil(30000);
  EXPECT_EQ(view.linkText, LinkState::NONE);
  EXPECT_EQ(lookTimes.size(), 4u);
  link.awaiting = true;
  link.foundAtLook = 6;
  runUntil(34500);
  EXPECT_EQ(lookTimes, (std::vector<uint64_t>{12000, 14000, 22000, 24000, 32010, 34010}));
  EXPECT_EQ(view.returns, 1);
  EXPECT_EQ(link.status, Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(view.linkText, LinkState::NONE) << "connected again, the device program not yet attached";
}

// Without a stream the level display says why; a source that was stopped on
// request shows no levels.
TEST_F(IdleTickTest, LevelDisplaySaysWhyThereIsNoSound) {
  struct Case {
    CaptureFailure failure;
    bool byWorker;  // the worker ended; else the start failed
    LevelNotice shown;
  } cases[] = {
      {CaptureFailure::NO_DEVICE, false, LevelNotice::NO_DEVICE},
      {CaptureFailure::DEVICE_GONE, false, LevelNotice::DEVICE_GONE},
      {CaptureFailure::FORMAT_REFUSED, false, LevelNotice::FORMAT_REFUSED},
      {CaptureFailure::START_FAILED, false, LevelNotice::START_FAILED},
      {CaptureFailure::NONE, false, LevelNotice::NONE_ACTIVE},
      {CaptureFailure::DEVICE_GONE, true, LevelNotice::DEVICE_GONE},
  };
  for (const Case& c : cases) {
    source.startResult = true;
    clock.ms += IdleTick::RETRY_MAX_MS;
    idle.Run();
    ASSERT_TRUE(source.IsActive());
    source.startResult = false;
    source.failure = c.failure;
    if (c.byWorker) {
      // The tick that finds the worker ended tries again at once, and fails.
      source.End(c.failure);
    } else {
      source.Stop();
    }
    view.levels.clear();
    for (int i = 0; i < IdleTick::STATUS_TICKS; ++i) idle.Run();
    ASSERT_EQ(1u, view.levels.size());
    EXPECT_EQ(Notice(c.shown), view.levels[0]) << static_cast<int>(c.failure) << " " << c.byWorker;
  }
}

// The fall-back to the default device is told once: the display shows it
// for NOTICE_REDRAWS redraws, then the levels; restarts on the default device
// say nothing more until the chosen device has come back and gone again. The
// log has it once each time.
TEST_F(IdleTickTest, DefaultDeviceNoticeIsShownOnceAFallBack) {
  LogCapture log;
  auto notices = [&] {
    return std::count(view.levels.begin(), view.levels.end(), Notice(LevelNotice::DEFAULT_DEVICE));
  };
  source.onDefaultDevice = true;
  for (int i = 0; i < IdleTick::STATUS_TICKS * (IdleTick::NOTICE_REDRAWS + 5); ++i) idle.Run();
  EXPECT_EQ(IdleTick::NOTICE_REDRAWS, notices());
  EXPECT_EQ(view.levels.back(), "0|0");
  EXPECT_EQ("Fake: \"Mic\" is gone, recording from the default device\n", log.Text());

  // The worker ends and the source restarts, still on the default device.
  source.End(CaptureFailure::DEVICE_GONE);
  for (int i = 0; i < IdleTick::STATUS_TICKS * 5; ++i) idle.Run();
  EXPECT_EQ(IdleTick::NOTICE_REDRAWS, notices());
  EXPECT_EQ(2u, source.starts.size());

  // The chosen device returns, then goes again.
  source.onDefaultDevice = false;
  source.Stop();
  idle.Run();
  source.onDefaultDevice = true;
  source.Stop();
  for (int i = 0; i < IdleTick::STATUS_TICKS * 2; ++i) idle.Run();
  EXPECT_EQ(IdleTick::NOTICE_REDRAWS + 2, notices());
  const std::string line = "Fake: \"Mic\" is gone, recording from the default device\n";
  EXPECT_EQ(line + line, log.Text());
}

// An auto-save file that exists but cannot be read: the settings model says
// so once, and the display shows it for SETTINGS_NOTICE_REDRAWS redraws over
// anything else (here the source's own reason), then what it showed before.
TEST_F(IdleTickTest, UnreadSettingsAreToldOnTheLevelDisplayOnce) {
  // A folder in the auto-save file's place: it exists and cannot be read.
  ASSERT_TRUE(platform::MakeDirectory(folder.File(SoundConfig::AUTOSAVE_FILE).c_str()));
  config.RestoreAutoSave();
  source.startResult = false;
  source.failure = CaptureFailure::NO_DEVICE;
  for (int i = 0; i < IdleTick::STATUS_TICKS * (IdleTick::SETTINGS_NOTICE_REDRAWS + 3); ++i) idle.Run();
  ASSERT_EQ(view.levels.size(), static_cast<size_t>(IdleTick::SETTINGS_NOTICE_REDRAWS + 3));
  const std::string unread = Settings(ConfigNotice::AUTOSAVE_UNREAD);
  EXPECT_EQ(std::count(view.levels.begin(), view.levels.end(), unread), IdleTick::SETTINGS_NOTICE_REDRAWS);
  EXPECT_EQ(view.levels.front(), unread);
  EXPECT_EQ(view.levels.back(), Notice(LevelNotice::NO_DEVICE));
}

// A start after the worker ended and every retry after a failed start count
// as restarts of the stream; starts on request do not.
TEST_F(IdleTickTest, RestartsAreCountedOnTheSource) {
  idle.Run();
  EXPECT_EQ(0u, source.GetStreamFigures().restarts) << "the first start";
  source.Stop();  // on request (a new device, rate or format)
  idle.Run();
  EXPECT_EQ(0u, source.GetStreamFigures().restarts);
  source.End(CaptureFailure::DEVICE_GONE);
  source.startResult = false;
  idle.Run();
  EXPECT_EQ(1u, source.GetStreamFigures().restarts);
  clock.ms += IdleTick::RETRY_FIRST_MS;
  idle.Run();
  EXPECT_EQ(2u, source.GetStreamFigures().restarts);
  ASSERT_EQ(4u, source.starts.size());
}

}  // namespace
