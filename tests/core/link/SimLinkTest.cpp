// The serial channel over the real stand-in host-I/O library against a
// running quill-devsim: connecting, downloading the device program, both
// directions of settings, audio, and healing after each kind of fault.
// Natively over the native stand-ins; under wine64 over the Windows ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <mutex>

#include "LinkTestUtil.h"
#include "SimProcess.h"
#include "link/DownloadUi.h"
#include "link/KAVHostIO.h"
#include "link/LinkSystem.h"
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
  void RunDownloadDialog(void*, void*) override {
    while (!m_ended.load()) platform::SleepMs(5);
  }
  void SetDownloadText(const char* text) override {
    std::lock_guard<std::mutex> lock(m_textLock);
    last = text;
  }
  void EndDownloadDialog() override { m_ended.store(true); }
  bool StartLoader(const std::string&, const std::string&, void*, int*) override { return true; }
  void ShowLoaderFailure(const std::string&, void*) override {}
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
    channel.Shutdown();
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

  // Steps the channel like the idle tick until it is in state, or times out.
  bool PumpUntil(Status state, int timeoutMs = kTimeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
      channel.Update();
      if (channel.GetStatus() == state) return true;
      platform::SleepMs(10);
    }
    return false;
  }

  // Reads until a packet of type arrives; its payload, or empty on time-out.
  std::vector<uint8_t> ReadPacket(uint32_t wanted) {
    for (int waited = 0; waited < kTimeoutMs; waited += 10) {
      channel.Update();
      if (channel.GetStatus() == Status::CONNECTED) {
        uint32_t type = 0, size = 0;
        std::unique_ptr<uint8_t[]> data = channel.Read(type, size);
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
  SerialChannel channel{system};
};

TEST_F(SimLinkTest, WithoutSimulatorNothingIsFound) {
  platform::SetEnv("QUILLON_DEVSIM", "127.0.0.1:1");
  channel.Init(0);
  ASSERT_NE(channel.GetHostIo(), nullptr);
  EXPECT_EQ(channel.GetHostIo()->BoundSlotCount(), HOSTIO_SLOT_COUNT);
  EXPECT_TRUE(channel.ConnectFirst(true));
  EXPECT_EQ(channel.GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(CountLinkLines(log.Text(), "0 devices found"), 1);
  bool listedOnly = true;
  EXPECT_FALSE(channel.Reconnect(listedOnly));
  EXPECT_FALSE(listedOnly);
}

TEST_F(SimLinkTest, ConnectDownloadAndAttach) {
  ASSERT_TRUE(StartSim({}));
  channel.Init(0);
  RecordingUi ui;
  channel.SetDownloadUi(&ui);
  ASSERT_TRUE(channel.ConnectFirst(true));
  EXPECT_EQ(channel.GetDisplayName(), "1234567-8");
  ASSERT_TRUE(PumpUntil(Status::OPEN));
  for (int i = 0; i < 20; ++i) channel.Update();  // no program yet: nothing attaches
  EXPECT_EQ(channel.GetStatus(), Status::OPEN);

  // An image the device does not know is transferred but not started.
  dir.Write("other.bxa", "not a program\n");
  channel.DownloadGo(dir.File("other.bxa"), nullptr, nullptr);
  EXPECT_NE(log.Text().find("DownloadGo failed\n"), std::string::npos);
  EXPECT_EQ(ui.last, "14/14");

  const std::string image = ReadFileText(simBin + "Quillon.bxa");
  ASSERT_GT(image.size(), 100000u);
  EXPECT_TRUE(channel.AutoLoadBxa(1, simBin, nullptr, nullptr));
  EXPECT_NE(log.Text().find("DownloadGo success\n"), std::string::npos);
  EXPECT_EQ(ui.last, std::to_string(image.size()) + "/" + std::to_string(image.size()));
  // The progress went through intermediate counts.
  EXPECT_NE(log.Text().find("\n16384/" + std::to_string(image.size()) + "\n"), std::string::npos);

  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  EXPECT_TRUE(sim.Stop());
  EXPECT_EQ(CountEvents("connect"), 1);
  EXPECT_EQ(CountEvents("download", "\"recognised\":false"), 1);
  EXPECT_EQ(CountEvents("download", "\"recognised\":true"), 1);
  EXPECT_EQ(CountEvents("attach"), 1);
}

TEST_F(SimLinkTest, SettingsBothWays) {
  ASSERT_TRUE(StartSim({"--attach", "immediate", "--send-config", "0.3:volume=0.5,pan=-0.25"}));
  channel.Init(0);
  ASSERT_TRUE(channel.ConnectFirst(true));
  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  const std::vector<uint8_t> record = MakeRecord(7, 32000, 1.0f);
  ASSERT_TRUE(channel.Write(PacketChannel::CONFIG, record.data(), 280));

  const std::vector<uint8_t> back = ReadPacket(PacketChannel::CONFIG);
  ASSERT_EQ(back.size(), 280u);
  EXPECT_EQ(Get32(&back[0]), 7u);
  EXPECT_EQ(Get32(&back[8]), 32000u);
  EXPECT_EQ(GetF32(&back[40]), 0.5f);
  EXPECT_EQ(GetF32(&back[52]), -0.25f);
  EXPECT_EQ(Get32(&back[268]), 5000u);

  EXPECT_TRUE(sim.Stop());
  EXPECT_EQ(CountEvents("config", "\"samplingRate\":32000"), 1);
  EXPECT_EQ(CountEvents("config", "\"effect[1].delaySurround\":0"), 1);
  EXPECT_EQ(CountEvents("config_sent", "\"pan\":-0.25"), 1);
  EXPECT_NE(sim.Output().find("configs_received=1 configs_sent=1"), std::string::npos) << sim.Output();
}

TEST_F(SimLinkTest, AudioIsRecordedPerStream) {
  const std::string prefix = dir.File("rec");
  ASSERT_TRUE(StartSim({"--attach", "immediate", "--record", prefix}));
  channel.Init(0);
  ASSERT_TRUE(channel.ConnectFirst(true));
  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  uint64_t phase = 0;
  std::vector<uint8_t> record = MakeRecord(9, 32000, 1.0f);
  ASSERT_TRUE(channel.Write(PacketChannel::CONFIG, record.data(), 280));
  for (int i = 0; i < 40; ++i) {
    const std::vector<uint8_t> block = Tone(256, 32000, &phase);
    ASSERT_TRUE(channel.Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size())));
  }
  record = MakeRecord(10, 48000, 1.0f);
  ASSERT_TRUE(channel.Write(PacketChannel::CONFIG, record.data(), 280));
  for (int i = 0; i < 10; ++i) {
    const std::vector<uint8_t> block = Tone(256, 48000, &phase);
    ASSERT_TRUE(channel.Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size())));
  }
  EXPECT_EQ(channel.GetStatus(), Status::CONNECTED);
  EXPECT_TRUE(sim.Stop());
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
  channel.Init(0);
  ASSERT_TRUE(channel.ConnectFirst(true));
  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  const std::vector<uint8_t> record = MakeRecord(3, 32728, 1.0f);
  ASSERT_TRUE(channel.Write(PacketChannel::CONFIG, record.data(), 280));
  uint64_t phase = 0;
  for (int i = 0; i < 25; ++i) {
    const std::vector<uint8_t> block = Tone(300, 32728, &phase);
    ASSERT_TRUE(channel.Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size())));
  }
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

  channel.Init(0);
  ASSERT_TRUE(channel.ConnectFirst(true));
  EXPECT_EQ(channel.GetSerial(), "KMC-42");
  EXPECT_EQ(channel.GetDisplayName(), "KMC-42");
  ASSERT_TRUE(PumpUntil(Status::OPEN));
  channel.DownloadGo(simBin + "Quillon.bxa", nullptr, nullptr);
  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  EXPECT_TRUE(sim.Stop());
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
  channel.Init(0);
  ASSERT_TRUE(channel.ConnectFirst(true));
  ASSERT_TRUE(PumpUntil(Status::CONNECTED));
  const std::vector<uint8_t> record = MakeRecord(1, 32000, 1.0f);
  ASSERT_TRUE(channel.Write(PacketChannel::CONFIG, record.data(), 280));

  // The application's loop: one state step, one read and one audio block per
  // tick while connected; the File menu's Connect once the debugger is gone.
  uint64_t phase = 0;
  bool faulted = false, lost = false, sawDisconnected = false;
  int afterHeal = 0;
  Status previous = Status::CONNECTED;
  for (int tick = 0; tick < kTimeoutMs / 10 && afterHeal < 30; ++tick) {
    channel.Update();
    const Status now = channel.GetStatus();
    if (now == Status::CONNECTED && previous != Status::CONNECTED) {
      ASSERT_TRUE(channel.Write(PacketChannel::CONFIG, record.data(), 280) || channel.GetStatus() != now);
    }
    if (now != Status::CONNECTED) lost = true;
    if (now == Status::DISCONNECTED) {
      sawDisconnected = true;
      bool listedOnly = false;
      if (tick % 20 == 0) channel.Reconnect(listedOnly);
    }
    if (channel.GetStatus() == Status::CONNECTED) {
      uint32_t type = 0, size = 0;
      channel.Read(type, size);
      const std::vector<uint8_t> block = Tone(256, 32000, &phase);
      channel.Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size()));
      if (faulted && lost && channel.GetStatus() == Status::CONNECTED) ++afterHeal;
    }
    if (tick % 10 == 0 && !faulted) faulted = CountEvents("fault") > 0;
    if (faulted && !lost && std::string(c.name) == "Stall") lost = CountEvents("fault", "\"phase\":\"end\"") > 0;
    previous = channel.GetStatus();
    platform::SleepMs(10);
  }
  EXPECT_TRUE(faulted);
  EXPECT_GE(afterHeal, 30) << log.Text();
  EXPECT_EQ(channel.GetStatus(), Status::CONNECTED);
  EXPECT_EQ(sawDisconnected, c.disconnects);
  EXPECT_TRUE(sim.Stop());
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

}  // namespace
