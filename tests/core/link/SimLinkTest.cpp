// The device link over the real stand-in host-I/O library against a
// running quill-devsim: connecting, downloading the device program, both
// directions of settings, audio, and healing after each kind of fault.
// Natively over the native stand-ins; under wine64 over the Windows ones.
// The simulator's output queue model and its fault plan are driven here by a
// clock of the test's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#include "LinkTestUtil.h"
#include "SimProcess.h"
#include "common/SharedRing.h"
#include "devsim/FaultPlan.h"
#include "devsim/OutputQueue.h"
#include "link/DownloadUi.h"
#include "link/KAVHostIO.h"
#include "link/LinkSystem.h"
#include "link/PacketHeader.h"
#include "platform/Platform.h"

using Status = PacketChannel::Status;

namespace {

constexpr int kTimeoutMs = 30000;

void Put32(std::vector<uint8_t>& r, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) r[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
float GetF32(const uint8_t* p) {
  uint32_t bits = Get32(p);
  float v;
  memcpy(&v, &bits, 4);
  return v;
}

// A settings record with the fields these tests look at.
std::vector<uint8_t> MakeRecord(uint32_t token, int32_t rate, float volume) {
  std::vector<uint8_t> r(280, 0);
  Put32(r, 0, token);
  Put32(r, 8, static_cast<uint32_t>(rate));
  Put32(r, 12, 44100);
  uint32_t bits;
  memcpy(&bits, &volume, 4);
  Put32(r, 40, bits);
  Put32(r, 268, 5000);
  return r;
}

// One block of a 440 Hz tone, 16-bit stereo.
std::vector<uint8_t> Tone(uint32_t frames, uint32_t rate, uint64_t* phase) {
  std::vector<uint8_t> block(frames * 4);
  for (uint32_t i = 0; i < frames; ++i, ++*phase) {
    const double t = static_cast<double>(*phase) / rate;
    const int16_t v = static_cast<int16_t>(8000.0 * std::sin(2.0 * 3.14159265358979 * 440.0 * t));
    for (int c = 0; c < 2; ++c) {
      block[i * 4 + 2 * static_cast<uint32_t>(c)] = static_cast<uint8_t>(v & 0xFF);
      block[i * 4 + 2 * static_cast<uint32_t>(c) + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    }
  }
  return block;
}

// The platform's services, but %NAME% expanded from the environment as it is
// now (a test cannot change the one the process started with).
class TestLinkSystem : public PlatformLinkSystem {
 public:
  std::string ExpandStartupText(const std::string& text) override {
    std::string out;
    size_t from = 0;
    for (;;) {
      const size_t open = text.find('%', from);
      const size_t close = open == std::string::npos ? open : text.find('%', open + 1);
      if (close == std::string::npos) break;
      std::string value;
      out.append(text, from, open - from);
      out += platform::GetEnv(text.substr(open + 1, close - open - 1).c_str(), &value)
                 ? value
                 : text.substr(open, close - open + 1);
      from = close + 1;
    }
    return out + text.substr(from);
  }
};

class RecordingUi : public DownloadUi {
 public:
  void PrepareDownloadDialog() override { m_ended.store(false); }
  void RunDownloadDialog() override {
    while (!m_ended.load()) platform::SleepMs(5);
  }
  void SetDownloadText(const char* text) override {
    std::lock_guard<std::mutex> lock(m_textLock);
    last = text;
  }
  void EndDownloadDialog() override { m_ended.store(true); }
  bool StartLoader(const std::string&, const std::string&, int*) override { return true; }
  void ShowLoaderFailure(const std::string&, int) override {}
  std::string last;  // read after the download has ended

 private:
  std::mutex m_textLock;
  std::atomic<bool> m_ended{false};
};

class SimLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestResources();
    simBin = SimBinFolder();
    platform::SetEnv("KAV_HOSTIO_DLL_PATH", simBin.substr(0, simBin.size() - 1).c_str());
  }
  void TearDown() override {
    deviceLink.Shutdown();
    sim.Stop();
    for (const char* name : {"KAV_HOSTIO_DLL_PATH", "QUILLON_DEVSIM", "KMC_KAVHOSTIO", "KMC_KAVHOSTIO_ORIGINAL",
                             "KMC_PARTNER_KAVS", "KAVSDK_ROOT"}) {
      platform::SetEnv(name, nullptr);
    }
  }

  bool StartSim(std::vector<std::string> arguments) {
    arguments.push_back("--events");
    arguments.push_back(eventsFile);
    if (!sim.Start(simBin, arguments, dir.Path())) return false;
    platform::SetEnv("QUILLON_DEVSIM", sim.Address().c_str());
    return true;
  }

  // Lines of the event file with this event.
  int CountEvents(const std::string& event, const std::string& also = "") {
    std::ifstream in(eventsFile);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
      if (line.find("\"event\":\"" + event + "\"") != std::string::npos &&
          (also.empty() || line.find(also) != std::string::npos)) {
        ++n;
      }
    }
    return n;
  }

  // Stops the simulator once the library's writes have reached it: the
  // channel's close hands over what the library may still be sending.
  bool StopSim() {
    deviceLink.Shutdown();
    return sim.Stop();
  }

  // A simulator started with these arguments and the channel connected to
  // its program.
  bool StartConnected(std::vector<std::string> arguments) {
    if (!StartSim(std::move(arguments))) return false;
    deviceLink.Init(0);
    return deviceLink.Session().ConnectFirst(true) && PumpUntil(Status::CONNECTED);
  }

  // Audio packets straight into the library, header and payload as two
  // writes: each write's result, up to the first that fails.
  std::vector<int32_t> WriteRawPackets(int packets) {
    const HostIoFunctions& fn = deviceLink.GetHostIo()->Functions();
    std::vector<int32_t> results;
    uint64_t phase = 0;
    for (int i = 0; i < packets && (results.empty() || results.back() >= 0); ++i) {
      const std::vector<uint8_t> block = Tone(256, 32000, &phase);
      const auto size = static_cast<int32_t>(block.size());
      uint8_t header[PacketHeader::SIZE];
      PacketHeader{PacketHeader::MAGIC, 0, PacketChannel::AUDIO, size}.Encode(header);
      results.push_back(fn.sio_write(0, header, PacketHeader::SIZE, 1));
      if (results.back() >= 0) results.push_back(fn.sio_write(0, block.data(), size, 1));
    }
    return results;
  }

  // Waits until the event file has count lines of event (writes that the
  // library took may still be on their way to the device).
  bool AwaitEvents(const std::string& event, int count) {
    for (int waited = 0; waited < kTimeoutMs; waited += 10) {
      if (CountEvents(event) >= count) return true;
      platform::SleepMs(10);
    }
    return false;
  }

  // Steps the channel like the idle tick until it is in state, or times out.
  bool PumpUntil(Status state, int timeoutMs = kTimeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
      deviceLink.Link().Update();
      if (deviceLink.Link().GetStatus() == state) return true;
      platform::SleepMs(10);
    }
    return false;
  }

  // Keeps reading (so that a detach is seen) until the program has attached
  // again and the channel is connected. The simulator's attach events tell:
  // one Update may take the link from lost back to connected (it opens and
  // finds the program attached), so its status need not show the loss.
  bool AwaitReattach() {
    const int attaches = CountEvents("attach");
    for (int waited = 0; waited < kTimeoutMs; waited += 10) {
      deviceLink.Link().Update();
      if (deviceLink.Link().GetStatus() == Status::CONNECTED) {
        if (CountEvents("attach") > attaches) return true;
        uint32_t type = 0, size = 0;
        deviceLink.Link().Read(type, size);
      }
      platform::SleepMs(10);
    }
    return false;
  }

  // Reads until a packet of type arrives; its payload, or empty on time-out.
  std::vector<uint8_t> ReadPacket(uint32_t wanted) {
    for (int waited = 0; waited < kTimeoutMs; waited += 10) {
      deviceLink.Link().Update();
      if (deviceLink.Link().GetStatus() == Status::CONNECTED) {
        uint32_t type = 0, size = 0;
        std::unique_ptr<uint8_t[]> data = deviceLink.Link().Read(type, size);
        if (type == wanted) return data ? std::vector<uint8_t>(data.get(), data.get() + size) : std::vector<uint8_t>();
      }
      platform::SleepMs(10);
    }
    return {};
  }

  TempDir dir;
  SimProcess sim;
  std::string simBin;
  std::string eventsFile = dir.File("events.jsonl");
  TestLinkSystem system;
  LogCapture log;
  DeviceLink deviceLink{system};
};

TEST_F(SimLinkTest, WithoutSimulatorNothingIsFound) {
  platform::SetEnv("QUILLON_DEVSIM", "127.0.0.1:1");
  deviceLink.Init(0);
  ASSERT_NE(deviceLink.GetHostIo(), nullptr);
  EXPECT_EQ(deviceLink.GetHostIo()->BoundSlotCount(), HOSTIO_SLOT_COUNT);
  EXPECT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(CountLinkLines(log.Text(), "0 devices found"), 1);
  bool listedOnly = true;
  EXPECT_FALSE(deviceLink.Session().Reconnect(listedOnly));
  EXPECT_FALSE(listedOnly);
}

TEST_F(SimLinkTest, ConnectDownloadAndAttach) {
  ASSERT_TRUE(StartSim({}));
  deviceLink.Init(0);
  RecordingUi ui;
  deviceLink.Download().SetUi(&ui);
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "1234567-8");
  ASSERT_TRUE(PumpUntil(Status::OPEN));
  for (int i = 0; i < 20; ++i) deviceLink.Link().Update();  // no program yet: nothing attaches
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::OPEN);

  // An image the device does not know is transferred but not started.
  dir.Write("other.bxa", "not a program\n");
  deviceLink.Download().Go(dir.File("other.bxa"));
  EXPECT_NE(log.Text().find("DownloadGo failed\n"), std::string::npos);
  EXPECT_EQ(ui.last, "14/14");

  const std::string image = ReadFileText(simBin + "Quillon.bxa");
  ASSERT_GT(image.size(), 100000u);
  EXPECT_TRUE(deviceLink.Download().AutoLoad(1, simBin));
  EXPECT_NE(log.Text().find("DownloadGo success\n"), std::string::npos);
  EXPECT_EQ(ui.last, std::to_string(image.size()) + "/" + std::to_string(image.size()));
  // The progress went through intermediate counts.
  EXPECT_NE(log.Text().find("\n16384/" + std::to_string(image.size()) + "\n"), std::string::npos);

  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  EXPECT_TRUE(StopSim());
  EXPECT_EQ(CountEvents("connect"), 1);
  EXPECT_EQ(CountEvents("download", "\"recognised\":false"), 1);
  EXPECT_EQ(CountEvents("download", "\"recognised\":true"), 1);
  EXPECT_EQ(CountEvents("attach"), 1);
}

TEST_F(SimLinkTest, SettingsBothWays) {
  ASSERT_TRUE(StartSim({"--attach", "immediate", "--send-config", "0.3:volume=0.5,pan=-0.25"}));
  deviceLink.Init(0);
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  const std::vector<uint8_t> record = MakeRecord(7, 32000, 1.0f);
  ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, record.data(), 280));

  const std::vector<uint8_t> back = ReadPacket(PacketChannel::CONFIG);
  ASSERT_EQ(back.size(), 280u);
  EXPECT_EQ(Get32(&back[0]), 7u);
  EXPECT_EQ(Get32(&back[8]), 32000u);
  EXPECT_EQ(GetF32(&back[40]), 0.5f);
  EXPECT_EQ(GetF32(&back[52]), -0.25f);
  EXPECT_EQ(Get32(&back[268]), 5000u);

  EXPECT_TRUE(StopSim());
  EXPECT_EQ(CountEvents("config", "\"samplingRate\":32000"), 1);
  EXPECT_EQ(CountEvents("config", "\"effect[1].delaySurround\":0"), 1);
  EXPECT_EQ(CountEvents("config_sent", "\"pan\":-0.25"), 1);
  EXPECT_NE(sim.Output().find("configs_received=1 configs_sent=1"), std::string::npos) << sim.Output();
}

TEST_F(SimLinkTest, AudioIsRecordedPerStream) {
  const std::string prefix = dir.File("rec");
  ASSERT_TRUE(StartSim({"--attach", "immediate", "--record", prefix}));
  deviceLink.Init(0);
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  uint64_t phase = 0;
  std::vector<uint8_t> record = MakeRecord(9, 32000, 1.0f);
  ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, record.data(), 280));
  for (int i = 0; i < 40; ++i) {
    const std::vector<uint8_t> block = Tone(256, 32000, &phase);
    ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size())));
  }
  record = MakeRecord(10, 48000, 1.0f);
  ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, record.data(), 280));
  for (int i = 0; i < 10; ++i) {
    const std::vector<uint8_t> block = Tone(256, 48000, &phase);
    ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size())));
  }
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  EXPECT_TRUE(StopSim());
  EXPECT_NE(sim.Output().find("packets=52 audio_frames=12800 streams=2 configs_received=2"), std::string::npos)
      << sim.Output();

  const std::string first = ReadFileText(prefix + "-1.wav");
  ASSERT_EQ(first.size(), 44u + 40 * 256 * 4);
  const auto* h = reinterpret_cast<const uint8_t*>(first.data());
  EXPECT_EQ(memcmp(h, "RIFF", 4), 0);
  EXPECT_EQ(Get32(h + 4), first.size() - 8);
  EXPECT_EQ(Get32(h + 24), 32000u);
  EXPECT_EQ(Get32(h + 40), 40u * 256 * 4);
  const std::string second = ReadFileText(prefix + "-2.wav");
  ASSERT_EQ(second.size(), 44u + 10 * 256 * 4);
  EXPECT_EQ(Get32(reinterpret_cast<const uint8_t*>(second.data()) + 24), 48000u);
  EXPECT_EQ(CountEvents("audio"), 50);
}

TEST_F(SimLinkTest, RecordingStaysValidWhenTheSimulatorIsKilled) {
  const std::string prefix = dir.File("killed");
  ASSERT_TRUE(StartSim({"--attach", "immediate", "--record", prefix}));
  deviceLink.Init(0);
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  const std::vector<uint8_t> record = MakeRecord(3, 32728, 1.0f);
  ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, record.data(), 280));
  uint64_t phase = 0;
  for (int i = 0; i < 25; ++i) {
    const std::vector<uint8_t> block = Tone(300, 32728, &phase);
    ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size())));
  }
  ASSERT_TRUE(AwaitEvents("audio", 25));
  sim.Kill();
  const std::string wav = ReadFileText(prefix + "-1.wav");
  ASSERT_EQ(wav.size(), 44u + 25 * 300 * 4);
  const auto* h = reinterpret_cast<const uint8_t*>(wav.data());
  EXPECT_EQ(Get32(h + 4), wav.size() - 8);
  EXPECT_EQ(Get32(h + 24), 32728u);
  EXPECT_EQ(Get32(h + 40), wav.size() - 44);
}

TEST_F(SimLinkTest, KmcDebuggerThroughTheProxyAndTheLoaderTool) {
  ASSERT_TRUE(StartSim({"--debugger", "kmc:42"}));
  platform::SetEnv("KAV_HOSTIO_DLL_PATH", nullptr);
  const std::string sep = LinkSystem::Separator();
  const std::string kmc = dir.File("kmc");
  const std::string sdk = dir.File("sdk");
  for (const std::string& folder :
       {kmc, kmc + sep + "BIN", sdk, sdk + sep + "tools", sdk + sep + "tools" + sep + "CommandLineTools"}) {
    ASSERT_TRUE(MakeFolder(folder));
  }
  const std::string bin = kmc + sep + "BIN" + sep;
  ASSERT_TRUE(CopyFileBytes(simBin + LibraryName("devhio_proxy"), bin + LibraryName("devhio_proxy"), false));
  ASSERT_TRUE(CopyFileBytes(simBin + LibraryName("loadrun_kav"), bin + LibraryName("loadrun_kav"), false));
  const std::string tool = sdk + sep + "tools" + sep + "CommandLineTools" + sep + "kav_loadrun32.exe";
  ASSERT_TRUE(CopyFileBytes(simBin + "kav_loadrun32.exe", tool, true));
  platform::SetEnv("KMC_KAVHOSTIO", kmc.c_str());
  platform::SetEnv("KMC_PARTNER_KAVS", kmc.c_str());
  platform::SetEnv("KAVSDK_ROOT", sdk.c_str());

  deviceLink.Init(0);
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_EQ(deviceLink.Session().GetSerial(), "KMC-42");
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "KMC-42");
  ASSERT_TRUE(PumpUntil(Status::OPEN));
  deviceLink.Download().Go(simBin + "Quillon.bxa");
  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  EXPECT_TRUE(StopSim());
  EXPECT_EQ(CountEvents("download", "\"via\":\"loadrun\""), 1);
}

// --- Faults ----------------------------------------------------------------------

struct FaultCase {
  const char* name;
  const char* fault;
  bool disconnects;  // the debugger goes away: the user connects again
};

class SimFaultTest : public SimLinkTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SimFaultTest, StreamHealsBackToConnected) {
  const FaultCase& c = GetParam();
  ASSERT_TRUE(StartSim({"--attach", "immediate", "--attach-delay", "20", "--fault", c.fault}));
  deviceLink.Init(0);
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  const std::vector<uint8_t> record = MakeRecord(1, 32000, 1.0f);
  ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, record.data(), 280));

  // The application's loop: one state step, one read and one audio block per
  // tick while connected; the File menu's Connect once the debugger is gone.
  uint64_t phase = 0;
  bool faulted = false, lost = false, sawDisconnected = false;
  int afterHeal = 0;
  Status previous = Status::CONNECTED;
  for (int tick = 0; tick < kTimeoutMs / 10 && afterHeal < 30; ++tick) {
    deviceLink.Link().Update();
    const Status now = deviceLink.Link().GetStatus();
    if (now == Status::CONNECTED && previous != Status::CONNECTED) {
      ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, record.data(), 280) ||
                  deviceLink.Link().GetStatus() != now);
    }
    if (now != Status::CONNECTED) lost = true;
    if (now == Status::DISCONNECTED) {
      sawDisconnected = true;
      bool listedOnly = false;
      if (tick % 20 == 0) deviceLink.Session().Reconnect(listedOnly);
    }
    if (deviceLink.Link().GetStatus() == Status::CONNECTED) {
      uint32_t type = 0, size = 0;
      deviceLink.Link().Read(type, size);
      const std::vector<uint8_t> block = Tone(256, 32000, &phase);
      deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size()));
      if (faulted && lost && deviceLink.Link().GetStatus() == Status::CONNECTED) ++afterHeal;
    }
    if (tick % 10 == 0 && !faulted) faulted = CountEvents("fault") > 0;
    // A loss and the re-attach can fall within one Update: the attach event
    // tells of it then.
    if (tick % 10 == 0 && faulted && !lost) lost = CountEvents("attach") > 1;
    if (faulted && !lost && std::string(c.name) == "Stall") lost = CountEvents("fault", "\"phase\":\"end\"") > 0;
    previous = deviceLink.Link().GetStatus();
    // A failed write closes, and the next Update may open and attach again
    // at once: the loss is seen here, not only at the top of the tick.
    if (previous != Status::CONNECTED) lost = true;
    platform::SleepMs(10);
  }
  EXPECT_TRUE(faulted);
  EXPECT_GE(afterHeal, 30) << log.Text();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  EXPECT_EQ(sawDisconnected, c.disconnects);
  EXPECT_TRUE(StopSim());
  if (std::string(c.name) == "Stall") {
    EXPECT_EQ(CountEvents("attach"), 1);  // a stall only delays the writes
  } else {
    EXPECT_GE(CountEvents("attach"), 2);  // the program attached again
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SimFaultTest,
                         ::testing::Values(FaultCase{"Close", "close@20", false}, FaultCase{"Short", "short@40", false},
                                           FaultCase{"BadHeader", "badheader@0.3", false},
                                           FaultCase{"Vanish", "vanish@0.3:1", true},
                                           FaultCase{"Stall", "stall@0.3:400", false}),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// --- Writes without an answer ----------------------------------------------------

// The library lets writes go without waiting for the device's answer once a
// write has been answered; what the device does to a write still reaches the
// writer: a short write at the write it is due, the end of the channel
// (its program restarted) at the latest a few writes later.
TEST_F(SimLinkTest, ShortWriteIsAnsweredAtItsWriteAmongUnansweredOnes) {
  ASSERT_TRUE(StartConnected({"--attach", "immediate", "--fault", "short@13"}));
  const std::vector<int32_t> results = WriteRawPackets(7);
  ASSERT_GE(results.size(), 13u);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(results[i], i % 2 == 0 ? 16 : 1024) << "write " << i + 1;
  EXPECT_EQ(results[12], 8);
  EXPECT_EQ(CountEvents("fault", "\"write\":13"), 1);
}

TEST_F(SimLinkTest, WritesAfterTheChannelEndedFailWithinAFewWrites) {
  ASSERT_TRUE(StartConnected({"--attach", "immediate", "--fault", "close@1"}));
  const std::vector<int32_t> results = WriteRawPackets(12);
  ASSERT_LT(results.back(), 0) << "every write succeeded after the channel closed";
  EXPECT_EQ(results[0], 16);
  EXPECT_EQ(results[1], 1024);
  // The library lets at most 8 writes go unanswered.
  EXPECT_LE(results.size(), 2u + 8 + 1);
  EXPECT_TRUE(StopSim());
  EXPECT_EQ(CountEvents("audio"), 1);
}

// --- The strict device ----------------------------------------------------------

// One step of what the PC sends: a record (token, rate, a list field set to a
// code), an empty record, an audio block, or waiting for the re-attach that
// the case's close fault causes.
struct StrictStep {
  enum Kind { RECORD, EMPTY, AUDIO, REATTACH } kind;
  uint32_t token = 0;
  int32_t rate = 32000;
  uint32_t listOffset = 0;  // 0: none
  uint32_t code = 0;
};

struct StrictCase {
  const char* name;
  std::vector<StrictStep> steps;
  int violations;
  const char* reason;  // found in the violation event and the simulator's output
};

StrictStep Rec(uint32_t token, int32_t rate = 32000, uint32_t listOffset = 0, uint32_t code = 0) {
  return {StrictStep::RECORD, token, rate, listOffset, code};
}
const StrictStep kAudio{StrictStep::AUDIO};
const StrictStep kEmpty{StrictStep::EMPTY};
const StrictStep kReattach{StrictStep::REATTACH};

class SimStrictTest : public SimLinkTest, public ::testing::WithParamInterface<StrictCase> {};

TEST_P(SimStrictTest, ContractBreachesAreCounted) {
  const StrictCase& c = GetParam();
  // Every case may re-attach once: the program detaches after the first
  // audio block of the run.
  ASSERT_TRUE(StartSim({"--strict", "--attach", "immediate", "--attach-delay", "20", "--fault", "close@1"}));
  deviceLink.Init(0);
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  uint64_t phase = 0;
  for (const StrictStep& step : c.steps) {
    if (step.kind == StrictStep::REATTACH) {
      ASSERT_TRUE(AwaitReattach());
    } else if (step.kind == StrictStep::AUDIO) {
      // Straight into the library: the link itself holds audio back until
      // each attach's record, and the contract check is what is tested here.
      const std::vector<uint8_t> block = Tone(256, 32000, &phase);
      const auto size = static_cast<int32_t>(block.size());
      uint8_t header[PacketHeader::SIZE];
      PacketHeader{PacketHeader::MAGIC, 0, PacketChannel::AUDIO, size}.Encode(header);
      const HostIoFunctions& fn = deviceLink.GetHostIo()->Functions();
      ASSERT_EQ(fn.sio_write(0, header, PacketHeader::SIZE, 1), PacketHeader::SIZE);
      ASSERT_EQ(fn.sio_write(0, block.data(), size, 1), size);
    } else if (step.kind == StrictStep::EMPTY) {
      ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, nullptr, 0));
    } else {
      std::vector<uint8_t> record = MakeRecord(step.token, step.rate, 1.0f);
      if (step.listOffset != 0) Put32(record, step.listOffset, step.code);
      ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, record.data(), 280));
    }
  }
  EXPECT_TRUE(StopSim());
  // The summary line's count (followed by \n, or \r\n from a Windows build).
  const std::string output = sim.Output();
  const size_t at = output.find(" violations=");
  ASSERT_NE(at, std::string::npos) << output;
  EXPECT_EQ(strtol(output.c_str() + at + 12, nullptr, 10), c.violations) << output;
  EXPECT_EQ(CountEvents("violation"), c.violations);
  if (c.violations > 0) {
    EXPECT_EQ(CountEvents("violation", c.reason), c.violations);
    EXPECT_NE(sim.Output().find(std::string("quill-devsim: violation: ") + c.reason), std::string::npos)
        << sim.Output();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimStrictTest,
    ::testing::Values(
        StrictCase{"Keeps", {Rec(5), kAudio, kReattach, Rec(6), kAudio, Rec(6, 48000), kAudio}, 0, ""},
        // Once per attach, however many blocks come before the record.
        StrictCase{
            "AudioFirst", {kAudio, kReattach, kAudio, kAudio, Rec(5), kAudio}, 2, "audio before the settings record"},
        StrictCase{"TokenZero", {Rec(0), kAudio}, 1, "stream token 0"},
        StrictCase{"ReusedToken", {Rec(5), kAudio, kReattach, Rec(5), kAudio}, 1, "stream token 5 reused"},
        StrictCase{"Rate5Hz", {Rec(5, 5), kAudio}, 1, "samplingRate 5"},
        StrictCase{"RateAbove96k", {Rec(5, 96001)}, 1, "samplingRate 96001"},
        StrictCase{"WaveFormat8", {Rec(5, 32000, 16, 8)}, 1, "waveFormat code 8"},
        StrictCase{"DelaySurroundOfBusB", {Rec(5), Rec(5, 32000, 224, 2)}, 1, "effect[1].delaySurround code 2"},
        StrictCase{"Empty", {kEmpty, Rec(5)}, 1, "empty settings record"}),
    [](const ::testing::TestParamInfo<StrictCase>& info) { return std::string(info.param.name); });

// --- The output queue model --------------------------------------------------------

// What a test does to the queue, in turn: stream in real time (a packet of
// packetMs every packetMs, the queue looked at every 5 ms as the simulator's
// tick does), stay silent, or deliver a burst at once.
struct QueueStep {
  enum Kind { STEADY, SILENCE, BURST } kind;
  uint32_t ms;
};

struct QueueCase {
  const char* name;
  uint32_t rate;
  uint32_t packetMs;
  std::vector<QueueStep> steps;
  uint32_t underruns;
  uint32_t earlyUnderruns;
  uint32_t overflows;
};

class OutputQueueTest : public ::testing::TestWithParam<QueueCase> {};

TEST_P(OutputQueueTest, CountsDrySpellsAndOverflows) {
  const QueueCase& c = GetParam();
  sim::OutputQueue queue(60, 500);
  uint64_t now = 1000;  // any start
  queue.Start(c.rate, now);
  // Packet sizes that add up to the rate exactly, as the PC's varying blocks do.
  uint64_t sent = 0, streamMs = 0;
  auto nextPacket = [&](uint32_t ms) {
    streamMs += ms;
    const uint64_t frames = streamMs * c.rate / 1000 - sent;
    sent += frames;
    return frames;
  };
  uint32_t underrunEvents = 0, overflowEvents = 0;
  auto note = [&](const sim::OutputQueue::Change& change) {
    underrunEvents += change.underrun ? 1 : 0;
    overflowEvents += change.overflow ? 1 : 0;
    if (change.underrun) {
      EXPECT_LE(change.dryAtMs, now);
    }
  };
  for (const QueueStep& step : c.steps) {
    if (step.kind == QueueStep::BURST) {
      note(queue.Push(nextPacket(step.ms), now));
      continue;
    }
    for (uint32_t t = 0; t < step.ms; t += 5) {
      if (step.kind == QueueStep::STEADY && t % c.packetMs == 0) {
        note(queue.Push(nextPacket(c.packetMs), now));
      } else {
        queue.Advance(now);
      }
      now += 5;
    }
  }
  const sim::QueueCounts& counts = queue.Counts();
  EXPECT_EQ(counts.underruns, c.underruns);
  EXPECT_EQ(counts.earlyUnderruns, c.earlyUnderruns);
  EXPECT_EQ(counts.overflows, c.overflows);
  EXPECT_EQ(underrunEvents, c.underruns);
  EXPECT_EQ(overflowEvents, c.overflows);
  EXPECT_TRUE(counts.played);
  EXPECT_LE(counts.highestFillMs, 500u);
  if (c.overflows > 0) {
    EXPECT_EQ(counts.highestFillMs, 500u);
    EXPECT_GT(counts.droppedFrames, 0u);
  } else {
    EXPECT_EQ(counts.droppedFrames, 0u);
  }
  if (c.underruns == 0 && !queue.Dry()) {
    EXPECT_GT(counts.lowestFillMs, 0u);
  }
}

using QS = QueueStep;
INSTANTIATE_TEST_SUITE_P(
    Cases, OutputQueueTest,
    ::testing::Values(
        // Ten minutes at a rate that is no whole number of frames per
        // millisecond: no drift, no underrun after the fill.
        QueueCase{"SteadyTenMinutes", 32728, 20, {{QS::STEADY, 600000}}, 0, 0, 0},
        QueueCase{"SteadyLargeBlocks", 48000, 50, {{QS::STEADY, 30000}}, 0, 0, 0},
        // One 300 ms gap is one dry spell, however often the queue is looked at.
        QueueCase{"Gap", 32000, 20, {{QS::STEADY, 3000}, {QS::SILENCE, 300}, {QS::STEADY, 3000}}, 1, 0, 0},
        QueueCase{
            "GapInTheFirstSecond", 32000, 20, {{QS::STEADY, 400}, {QS::SILENCE, 300}, {QS::STEADY, 3000}}, 1, 1, 0},
        QueueCase{"TwoGaps",
                  44100,
                  10,
                  {{QS::STEADY, 2000}, {QS::SILENCE, 200}, {QS::STEADY, 2000}, {QS::SILENCE, 500}, {QS::STEADY, 500}},
                  2,
                  0,
                  0},
        // A stream that ends in silence has ended; no underrun.
        QueueCase{"EndsInSilence", 32000, 20, {{QS::STEADY, 2000}, {QS::SILENCE, 1000}}, 0, 0, 0},
        // A gap shorter than what the queue holds is no underrun.
        QueueCase{"ShortGap", 32000, 20, {{QS::STEADY, 2000}, {QS::SILENCE, 20}, {QS::STEADY, 2000}}, 0, 0, 0},
        // A burst beyond the cap: one overflow, and the queue plays on.
        QueueCase{"Burst", 32000, 20, {{QS::STEADY, 2000}, {QS::BURST, 800}, {QS::STEADY, 3000}}, 0, 0, 1},
        QueueCase{"TwoBursts",
                  32000,
                  20,
                  {{QS::STEADY, 2000},
                   {QS::BURST, 800},
                   {QS::BURST, 300},
                   {QS::STEADY, 3000},
                   {QS::BURST, 700},
                   {QS::STEADY, 1000}},
                  0,
                  0,
                  2}),
    [](const ::testing::TestParamInfo<QueueCase>& info) { return std::string(info.param.name); });

TEST(OutputQueue, RestartsEmptyAndCountsADrySpellWhenAudioResumes) {
  sim::OutputQueue queue(60, 500);
  queue.Start(32000, 0);
  queue.Push(32000 * 40 / 1000, 0);
  EXPECT_FALSE(queue.Playing());  // 40 ms: below the fill
  queue.Push(32000 * 40 / 1000, 10);
  EXPECT_TRUE(queue.Playing());
  EXPECT_EQ(queue.FillMs(), 80u);
  queue.Advance(50);
  EXPECT_EQ(queue.FillMs(), 40u);
  // The stream ends (a detach): no underrun, however long it stays silent.
  queue.Stop();
  queue.Advance(5000);
  EXPECT_EQ(queue.Counts().underruns, 0u);
  queue.Start(48000, 6000);
  EXPECT_EQ(queue.FillFrames(), 0u);
  queue.Push(48000 / 10, 6000);
  // Dry at 6100; it counts when audio comes again, with that time.
  queue.Advance(6200);
  EXPECT_TRUE(queue.Dry());
  const sim::OutputQueue::Change dry = queue.Push(480, 6300);
  EXPECT_TRUE(dry.underrun);
  EXPECT_TRUE(dry.early);
  EXPECT_EQ(dry.dryAtMs, 6100u);
  EXPECT_EQ(queue.Counts().underruns, 1u);
  EXPECT_EQ(queue.StreamCounts().underruns, 1u);
}

// --- The fault plan -------------------------------------------------------------

// short@N and close@N apply once, at their count; a short write due among
// posted writes (never asked about) falls on the next answered one, and the
// grant of unanswered writes stops before it.
TEST(FaultPlan, CountedFaultsApplyOnceAtTheirCount) {
  sim::EventLog events(0);
  sim::FaultPlan plan({{sim::FaultKind::Short, 3}, {sim::FaultKind::Short, 6}, {sim::FaultKind::Close, 2}}, events);
  EXPECT_EQ(plan.WritesBeforeShort(0), 2u);
  EXPECT_EQ(plan.WritesBeforeShort(2), 0u);
  EXPECT_EQ(plan.TakenOfAnsweredWrite(2, 100), 100u);
  EXPECT_EQ(plan.TakenOfAnsweredWrite(3, 100), 50u);
  EXPECT_EQ(plan.WritesBeforeShort(3), 2u) << "the next one, short@6";
  EXPECT_EQ(plan.TakenOfAnsweredWrite(4, 100), 100u) << "short@3 applied once";
  EXPECT_EQ(plan.TakenOfAnsweredWrite(7, 100), 50u) << "short@6, its write 6 posted";
  EXPECT_EQ(plan.WritesBeforeShort(7), UINT64_MAX);
  EXPECT_EQ(plan.TakenOfAnsweredWrite(8, 100), 100u);

  EXPECT_FALSE(plan.CloseAfterAudio(1));
  EXPECT_TRUE(plan.CloseAfterAudio(2));
  EXPECT_FALSE(plan.CloseAfterAudio(3)) << "close@2 applied once";
}

// The device's side of the timed faults, as the plan drives it.
struct FakeFaultTarget : sim::FaultTarget {
  bool SendBadHeader(uint32_t* debugger) override {
    if (!attached) return false;
    *debugger = 7;
    ++badHeaders;
    return true;
  }
  void Vanish() override { ++vanishes; }
  bool attached = true;
  int badHeaders = 0;
  int vanishes = 0;
};

// The timed faults count from the first attach; a malformed header waits
// for a program attached to send it; a stall and a vanish hold for their
// time, and a stall's first waiting writer is told once.
TEST(FaultPlan, TimedFaultsCountFromTheFirstAttachAndHoldForTheirTime) {
  TempDir dir;
  const std::string eventsFile = dir.File("events.jsonl");
  sim::EventLog events(0);
  ASSERT_TRUE(events.Open(eventsFile));
  sim::FaultPlan plan({{sim::FaultKind::BadHeader, 0, 100},
                       {sim::FaultKind::Stall, 0, 200, 300},
                       {sim::FaultKind::Vanish, 0, 500, 1000}},
                      events);
  FakeFaultTarget target;
  plan.Tick(5000, false, 0, target);
  EXPECT_EQ(target.badHeaders + target.vanishes, 0) << "nothing before the first attach";
  EXPECT_FALSE(plan.Stalling());

  plan.Tick(1099, true, 1000, target);
  EXPECT_EQ(target.badHeaders, 0);
  target.attached = false;
  plan.Tick(1100, true, 1000, target);
  EXPECT_EQ(target.badHeaders, 0);
  target.attached = true;
  plan.Tick(1150, true, 1000, target);
  plan.Tick(1160, true, 1000, target);
  EXPECT_EQ(target.badHeaders, 1);

  plan.NoteAnsweredWrite();  // no stall: not told
  plan.Tick(1200, true, 1000, target);
  EXPECT_TRUE(plan.Stalling());
  EXPECT_TRUE(plan.StallsAt(1499));
  EXPECT_FALSE(plan.StallsAt(1500));
  plan.NoteAnsweredWrite();
  plan.NoteAnsweredWrite();
  plan.Tick(1499, true, 1000, target);
  EXPECT_TRUE(plan.Stalling());
  EXPECT_FALSE(plan.Vanished());
  plan.Tick(1500, true, 1000, target);
  EXPECT_FALSE(plan.Stalling());
  EXPECT_TRUE(plan.Vanished());
  EXPECT_EQ(target.vanishes, 1);
  plan.Tick(2499, true, 1000, target);
  EXPECT_TRUE(plan.Vanished());
  plan.Tick(2500, true, 1000, target);
  EXPECT_FALSE(plan.Vanished());
  EXPECT_EQ(target.vanishes, 1);
  EXPECT_EQ(target.badHeaders, 1);

  events.Flush();
  std::ifstream in(eventsFile);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (line.find("\"event\":\"fault\"") != std::string::npos || line.find("write_waits") != std::string::npos) {
      lines.push_back(line.substr(line.find("\"event\"")));
    }
  }
  const std::vector<std::string> expected = {"\"event\":\"fault\",\"kind\":\"badheader\",\"debugger\":7}",
                                             "\"event\":\"fault\",\"kind\":\"stall\",\"phase\":\"begin\",\"ms\":300}",
                                             "\"event\":\"write_waits\"}",
                                             "\"event\":\"fault\",\"kind\":\"stall\",\"phase\":\"end\"}",
                                             "\"event\":\"fault\",\"kind\":\"vanish\",\"phase\":\"begin\",\"ms\":1000}",
                                             "\"event\":\"fault\",\"kind\":\"vanish\",\"phase\":\"end\"}"};
  EXPECT_EQ(lines, expected);
}

// --- The ring of unanswered writes ----------------------------------------------

// What the stand-in puts comes out whole and in order, also across the end
// of the ring; a record goes in only when there is room for it; the grant
// counts the writes put, for the writer's session only.
TEST(SharedRing, CarriesRecordsInOrderWithinItsRoomAndGrant) {
  TempDir dir;
  const std::string path = dir.File("ring");
  sim::SharedRing reader;
  sim::SharedRing writer;
  ASSERT_TRUE(reader.Create(path, 77));
  EXPECT_FALSE(writer.Open(path, 78)) << "another ring's nonce";
  EXPECT_FALSE(reader.Acknowledged());
  ASSERT_TRUE(writer.Open(path, 77));
  EXPECT_TRUE(reader.Acknowledged());

  const uint32_t capacity = sim::SharedRing::CAPACITY;
  std::vector<uint8_t> record;
  uint32_t seed = 12345;
  uint32_t writes = 0;
  for (uint32_t size : {0u, 1u, 3u, 1000u, capacity / 3, capacity / 3, capacity / 3 + 5, 17u, capacity - 4, 6400u}) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    ASSERT_TRUE(writer.Put(bytes.data(), size, 1)) << size;
    ++writes;
    ASSERT_TRUE(reader.Take(&record)) << size;
    EXPECT_EQ(record, bytes) << size;
  }
  EXPECT_FALSE(reader.Take(&record));

  const std::vector<uint8_t> half(capacity / 2, 0x5A);
  EXPECT_TRUE(writer.Put(half.data(), capacity / 2, 1));
  EXPECT_FALSE(writer.Put(half.data(), capacity / 2, 1)) << "two halves and their lengths do not fit";
  ASSERT_TRUE(reader.Take(&record));
  EXPECT_EQ(record, half);
  EXPECT_TRUE(writer.Put(half.data(), capacity / 2, 2));
  writes += 3;
  EXPECT_FALSE(writer.Put(nullptr, capacity, 1)) << "more than the ring ever holds";

  EXPECT_EQ(writer.Credit(0), 0u) << "nothing granted yet";
  reader.Grant(writes + 8, 5);
  EXPECT_EQ(writer.Credit(5), 8u);
  EXPECT_EQ(writer.Credit(4), 0u) << "a grant for another session";
  ASSERT_TRUE(reader.Take(&record));
  ASSERT_TRUE(writer.Put(half.data(), 100, 2));
  EXPECT_EQ(writer.Credit(5), 6u);
  reader.Grant(writes, 5);  // the device stalls: no more without asking
  EXPECT_EQ(writer.Credit(5), 0u);
}

}  // namespace
