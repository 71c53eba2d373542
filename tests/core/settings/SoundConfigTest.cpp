// The exchange of the record with the device: Apply, ApplyReceived, sending
// and stream tokens.
#include "settings/SoundConfig.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "SettingsFakes.h"
#include "TestUtil.h"
#include "settings/ConfigItems.h"

namespace {
enum : int32_t {
  DISPLAY_MODE = 0,
  SAMPLING_RATE = 1,
  WAVE_FORMAT = 2,
  VOLUME = 8,
  BIQUAD_TYPE = 62,
};

uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t offset) {
  return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<uint32_t>(bytes[offset + 2]) << 16 | static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

class SoundConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestResources();
    config.SetCapture(&capture);
    config.SetView(&view);
    clock.seconds = 1700000000;
    config.SetClock(clock);
  }

  // An edit of one item as the settings window makes it.
  void Edit(int32_t index, const std::string& text) {
    ConfigSnapshot snapshot = config.TakeSnapshot();
    if (CommitEditText(*config.GetItem(index), text).changed) config.Apply(snapshot);
  }
  void Choose(int32_t index, const std::string& entry) {
    auto& list = dynamic_cast<ConfigList&>(*config.GetItem(index));
    ConfigSnapshot snapshot = config.TakeSnapshot();
    if (CommitListChoice(list, list.FindEntry(entry))) config.Apply(snapshot);
  }
  std::string AutoSave() { return dir.Read(SoundConfig::AUTOSAVE_FILE); }

  TempDir dir;
  FakeChannel channel;
  FakeCapture capture;
  FakeView view;
  ManualClock clock;  // the tokens' wall time: it moves only when a test moves it
  SoundConfig config{&channel, true, dir.Path()};
};
}  // namespace

TEST_F(SoundConfigTest, RecordGoesOutLittleEndian) {
  config.NewStreamToken();
  EXPECT_TRUE(config.SendToDevice());
  ASSERT_EQ(channel.packets.size(), 1u);
  const FakeChannel::Packet& packet = channel.packets[0];
  EXPECT_EQ(packet.type, static_cast<uint32_t>(PacketChannel::CONFIG));
  ASSERT_EQ(packet.payload.size(), 280u);
  const uint8_t head[] = {0x00, 0xF1, 0x53, 0x65,   // streamToken 1700000000
                          0x00, 0x00, 0x00, 0x00,   // displayMode
                          0xD8, 0x7F, 0x00, 0x00,   // samplingRate 32728
                          0x44, 0xAC, 0x00, 0x00};  // inputRate 44100, from the capture
  EXPECT_EQ(memcmp(packet.payload.data(), head, sizeof head), 0);
  EXPECT_EQ(WordAt(packet.payload, 40), 0x3F800000u);   // volume 1.0
  EXPECT_EQ(WordAt(packet.payload, 120), 3040u);        // comb0 of bus A
  EXPECT_EQ(WordAt(packet.payload, 184), 3040u);        // comb0 of bus B
  EXPECT_EQ(WordAt(packet.payload, 244), 0xFFFFFFB0u);  // minDecibel -80
  EXPECT_EQ(WordAt(packet.payload, 276), 0x3F800000u);  // filterQ 1.0
  EXPECT_EQ(config.GetRecord().inputRate, 44100);

  channel.writeResult = false;
  EXPECT_FALSE(config.SendToDevice());
}

TEST_F(SoundConfigTest, StreamTokens) {
  // The clock does not move: every token is still new.
  config.NewStreamToken();
  uint32_t first = config.GetRecord().streamToken;
  EXPECT_EQ(first, clock.seconds);
  config.NewStreamToken();
  EXPECT_EQ(config.GetRecord().streamToken, clock.seconds + 1);
  config.NewStreamToken();
  EXPECT_EQ(config.GetRecord().streamToken, clock.seconds + 2);
  // The clock going back does not bring an old token back.
  clock.seconds -= 100;
  config.NewStreamToken();
  EXPECT_EQ(config.GetRecord().streamToken, clock.seconds + 103);
  clock.seconds += 1000;
  config.NewStreamToken();
  EXPECT_EQ(config.GetRecord().streamToken, clock.seconds);

  // Never 0, also across the end of the 32-bit range.
  SoundConfig zero(nullptr, true, dir.Path());
  ManualClock stuck;
  zero.SetClock(stuck);
  zero.NewStreamToken();
  EXPECT_EQ(zero.GetRecord().streamToken, 1u);
  zero.NewStreamToken();
  EXPECT_EQ(zero.GetRecord().streamToken, 2u);
  stuck.seconds = 0xFFFFFFFF;
  zero.NewStreamToken();
  EXPECT_EQ(zero.GetRecord().streamToken, 0xFFFFFFFFu);
  zero.NewStreamToken();
  EXPECT_EQ(zero.GetRecord().streamToken, 1u);

  // The real clock gives seconds since 1970.
  SoundConfig real(nullptr, true, dir.Path());
  real.NewStreamToken();
  EXPECT_GT(real.GetRecord().streamToken, 1600000000u);
}

TEST_F(SoundConfigTest, ReconnectingSendsANewToken) {
  channel.status = PacketChannel::Status::CONNECTED;
  config.NewStreamToken();
  config.SendToDevice();
  config.NewStreamToken();  // the link came up again within the same second
  config.SendToDevice();
  ASSERT_EQ(channel.packets.size(), 2u);
  uint32_t a = WordAt(channel.packets[0].payload, 0);
  uint32_t b = WordAt(channel.packets[1].payload, 0);
  EXPECT_NE(a, 0u);
  EXPECT_NE(b, 0u);
  EXPECT_NE(a, b);
}

TEST_F(SoundConfigTest, ApplyWhileConnected) {
  channel.status = PacketChannel::Status::CONNECTED;
  config.NewStreamToken();
  uint32_t token = config.GetRecord().streamToken;

  // Volume: sent at once, capture left running.
  Edit(VOLUME, "0.5");
  ASSERT_EQ(channel.packets.size(), 1u);
  EXPECT_EQ(WordAt(channel.packets[0].payload, 40), 0x3F000000u);
  EXPECT_EQ(capture.stops, 0);
  EXPECT_NE(AutoSave().find("Volume:                     0.50 "), std::string::npos);

  // WaveFormat: sent with the old token, capture stopped for a restart.
  Choose(WAVE_FORMAT, "CRI ADX");
  ASSERT_EQ(channel.packets.size(), 2u);
  EXPECT_EQ(WordAt(channel.packets[1].payload, 0), token);
  EXPECT_EQ(WordAt(channel.packets[1].payload, 16), 2u);
  EXPECT_EQ(capture.stops, 1);
  EXPECT_EQ(config.GetWaveFormat(), 2u);

  // SamplingRate: also a restart.
  Edit(SAMPLING_RATE, "48000");
  EXPECT_EQ(capture.stops, 2);
  EXPECT_EQ(config.GetSamplingRate(), 48000);
  EXPECT_EQ(channel.packets.size(), 3u);

  // An edit that changes nothing applies nothing.
  Edit(SAMPLING_RATE, "48000");
  Choose(WAVE_FORMAT, "CRI ADX");
  EXPECT_EQ(channel.packets.size(), 3u);
  EXPECT_EQ(capture.stops, 2);
}

TEST_F(SoundConfigTest, ApplyWhileNotConnected) {
  for (auto status : {PacketChannel::Status::DISCONNECTED, PacketChannel::Status::CLOSED_PENDING_OPEN,
                      PacketChannel::Status::CLOSE_ERROR, PacketChannel::Status::OPEN}) {
    channel.status = status;
    Edit(VOLUME, "1.2" + std::to_string(static_cast<int>(status)));
  }
  EXPECT_TRUE(channel.packets.empty());
  EXPECT_NE(AutoSave().find("Volume:                     1.23 "), std::string::npos);

  // No channel at all.
  SoundConfig alone(nullptr, true, dir.Path());
  ConfigSnapshot snapshot = alone.TakeSnapshot();
  alone.Apply(snapshot);
  EXPECT_FALSE(alone.SendToDevice());
}

TEST_F(SoundConfigTest, ApplyReceivedKeepsWhatThePcDecides) {
  channel.status = PacketChannel::Status::CONNECTED;
  config.NewStreamToken();
  Choose(WAVE_FORMAT, "CRI HCA LOW");
  Edit(SAMPLING_RATE, "44100");
  channel.packets.clear();
  int stops = capture.stops;
  SoundConfigData before = config.GetRecord();

  SoundConfigData device = before;
  device.streamToken = 77;
  device.displayMode = 1;
  device.samplingRate = 22050;
  device.waveFormat = 7;
  device.inputRate = 12345;
  device.volume = 0.25f;
  device.effect[1].delayTime = 777;
  device.biquadType = 8;  // Peaking
  Receive(config, device);

  SoundConfigData after = config.GetRecord();
  EXPECT_EQ(after.streamToken, before.streamToken);
  EXPECT_EQ(after.displayMode, 0u);
  EXPECT_EQ(after.samplingRate, 44100);
  EXPECT_EQ(after.waveFormat, 6u);
  EXPECT_EQ(after.inputRate, 12345);
  EXPECT_EQ(after.volume, 0.25f);
  EXPECT_EQ(after.effect[1].delayTime, 777);
  EXPECT_EQ(config.GetItem(SAMPLING_RATE)->GetValue(), "44100");
  EXPECT_EQ(config.GetItem(WAVE_FORMAT)->GetValue(), "CRI HCA LOW");
  EXPECT_EQ(config.GetItem(DISPLAY_MODE)->GetValue(), "Analyzer");
  EXPECT_EQ(config.GetItem(VOLUME)->GetValue(), "0.25");
  EXPECT_EQ(config.GetItem(BIQUAD_TYPE)->GetValue(), "Peaking");
  // Nothing sent back, capture untouched, auto-saved, window refreshed.
  EXPECT_TRUE(channel.packets.empty());
  EXPECT_EQ(capture.stops, stops);
  EXPECT_NE(AutoSave().find("Volume:                     0.25 "), std::string::npos);
  EXPECT_NE(AutoSave().find("DelayTime:                  777 "), std::string::npos);
  EXPECT_EQ(view.refreshes, 1);
}

TEST_F(SoundConfigTest, ApplyReceivedEnablesTheFilterItems) {
  auto enabled = [this]() {
    std::string flags;
    for (int32_t i : {63, 65, 66, 67}) flags += config.IsItemEnabled(i) ? '1' : '0';
    return flags;
  };
  EXPECT_EQ(enabled(), "0000");
  SoundConfigData device = config.GetRecord();
  device.biquadType = 10;  // HSF
  Receive(config, device);
  EXPECT_EQ(enabled(), "0111");
  EXPECT_EQ(view.refreshes, 1) << "the window shows what can be set";
  device.biquadType = 2;  // [PL7X] HPF
  Receive(config, device);
  EXPECT_EQ(enabled(), "1000");
  // Every other item can always be set; no item past the last.
  for (int32_t i = 0; i < config.GetCount(); ++i) {
    if (i == 63 || (i >= 65 && i <= 67)) continue;
    EXPECT_TRUE(config.IsItemEnabled(i)) << i;
  }
  EXPECT_FALSE(config.IsItemEnabled(config.GetCount()));
  EXPECT_FALSE(config.IsItemEnabled(-1));
}

TEST_F(SoundConfigTest, PayloadsOfAnotherSizeAreIgnored) {
  SoundConfigData device = config.GetRecord();
  device.volume = 0.1f;
  std::vector<uint8_t> payload = Payload(device);
  SoundConfigData before = config.GetRecord();
  LogCapture log;
  for (int32_t size : {0, 279, 281, 4096}) {
    std::vector<uint8_t> bytes(payload);
    bytes.resize(static_cast<size_t>(size));
    config.ApplyReceived(bytes.data(), size);
  }
  config.ApplyReceived(nullptr, 280);
  SoundConfigData after = config.GetRecord();
  EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
  EXPECT_EQ(config.GetItem(VOLUME)->GetValue(), "1.00");
  EXPECT_EQ(AutoSave(), "");
  EXPECT_EQ(view.refreshes, 0);
  EXPECT_NE(log.Text().find("a CONFIG payload of 279 bytes is not a settings record"), std::string::npos);
}

TEST_F(SoundConfigTest, ResetToDefaults) {
  Edit(VOLUME, "0.5");
  config.ResetToDefaults(false);
  EXPECT_EQ(config.GetItem(VOLUME)->GetValue(), "1.00");
  EXPECT_EQ(config.GetRecord().volume, 0.5f);  // the record only with store
  config.ResetToDefaults(true);
  EXPECT_EQ(config.GetRecord().volume, 1.0f);
}

// The model is used from the main thread; its lock still keeps a second
// thread's sends and reads whole while records arrive.
TEST_F(SoundConfigTest, LockedOperationsFromTwoThreads) {
  channel.status = PacketChannel::Status::CONNECTED;
  SoundConfigData device = config.GetRecord();
  std::thread sender([this] {
    for (int i = 0; i < 100; ++i) {
      config.NewStreamToken();
      config.SendToDevice();
      SoundConfigData r = config.GetRecord();
      EXPECT_TRUE(r.volume == 1.0f || r.volume == 0.5f);
    }
  });
  for (int i = 0; i < 100; ++i) {
    device.volume = i % 2 == 0 ? 0.5f : 1.0f;
    Receive(config, device);
  }
  sender.join();
  EXPECT_EQ(channel.packets.size(), 100u);
  EXPECT_EQ(config.GetRecord().streamToken, clock.seconds + 99);
}
