// The capture choice over scripted sources and a map for the registry: which
// source starts current, how devices are chosen, remembered and shown, what
// stops the current source, and what the views are told.
#include "core/CaptureChoice.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ScriptedSource.h"
#include "TestUtil.h"
#include "core/MapMemory.h"
#include "capture/CaptureServices.h"
#include "capture/SoundCaptureWaveFile.h"

namespace {

using Shown = CaptureChoice::ListShown;

class RecordingView : public CaptureChoiceView {
 public:
  void OnSourceChanged(SoundCapture& source) override { events.push_back("source " + source.GetName()); }
  void OnDevicesChanged() override { events.push_back("devices"); }
  std::vector<std::string> events;
};

class CaptureChoiceTest : public ::testing::Test {
 protected:
  ScriptedSource* Add(const char* name, std::vector<DeviceEntry> devices) {
    auto* source = new ScriptedSource(name, std::move(devices));
    EXPECT_TRUE(choice.Add(std::unique_ptr<SoundCapture>(source)));
    return source;
  }
  // waveIn with the default device and two microphones, Core Audio without devices.
  void AddTwo() {
    waveIn = Add("waveIn", {{"Fixed Device", DeviceEntry::FIXED_DEVICE_ID}, {"Mic A", 0}, {"Mic B", 1}});
    coreAudio = Add("Core Audio", {});
  }

  MapMemory memory;
  CaptureChoice choice{memory};
  ScriptedSource* waveIn = nullptr;
  ScriptedSource* coreAudio = nullptr;
};

}  // namespace

TEST_F(CaptureChoiceTest, StoredApiWinsOnlyWhenItHasDevices) {
  Add("WaveIn", {});
  ScriptedSource* capture = Add("CoreAudioCapture", {{"a", 0}, {"b", 1}});
  Add("CoreAudioLoopback", {{"c", 0}});
  ScriptedSource* file = Add("WaveFile", {{"d", 0}});
  EXPECT_FALSE(choice.Add(std::unique_ptr<SoundCapture>(new ScriptedSource("fifth", {})))) << "four places";

  const struct {
    const char* stored;  // null: nothing stored
    SoundCapture* expected;
    const char* why;
  } cases[] = {
      {nullptr, capture, "first source with a device"},
      {"WaveFile", file, "the stored source"},
      {"WaveIn", capture, "the stored source has no device"},
      {"WaveFil", capture, "names match exactly"},
  };
  for (const auto& c : cases) {
    memory.values.clear();
    if (c.stored != nullptr) memory.values["API"] = c.stored;
    choice.ChooseStartSource();
    EXPECT_EQ(choice.GetCurrent(), c.expected) << c.why;
    EXPECT_EQ(memory.values["API"], c.expected->GetName()) << "the choice is written back";
  }

  MapMemory otherMemory;
  CaptureChoice none{otherMemory};
  auto* a = new ScriptedSource("A", {});
  none.Add(std::unique_ptr<SoundCapture>(a));
  none.Add(std::unique_ptr<SoundCapture>(new ScriptedSource("B", {})));
  otherMemory.values["API"] = "B";
  none.ChooseStartSource();
  EXPECT_EQ(none.GetCurrent(), a) << "no source has a device: the first";
  EXPECT_EQ(none.GetCurrentIndex(), 0);
}

TEST_F(CaptureChoiceTest, DevicesArePreferredByMemoryThenPreviousThenFirst) {
  AddTwo();
  waveIn->devices.push_back({"hidden", DeviceEntry::NO_DEVICE_ID});
  choice.ChooseStartSource();
  LogCapture log;

  // Nothing stored: the first; a new choice stops the source and is remembered.
  choice.RefreshDevicesFromMemory();
  EXPECT_EQ(choice.GetDevicesShown(), Shown::LISTED);
  ASSERT_EQ(choice.GetDevices().size(), 3u) << "entries of id -1 are not listed";
  EXPECT_EQ(choice.GetDeviceIndex(), 0);
  EXPECT_EQ(choice.GetSelectedDevice().id, DeviceEntry::FIXED_DEVICE_ID);
  EXPECT_EQ(memory.values["waveIn"], "Fixed Device");
  EXPECT_EQ(waveIn->stops, 1);
  EXPECT_NE(log.Text().find("Change Device Fixed Device\n"), std::string::npos);

  // The user picks; the same pick again changes nothing.
  choice.SelectDevice(2);
  EXPECT_EQ(choice.GetSelectedDevice().name, "Mic B");
  EXPECT_EQ(memory.values["waveIn"], "Mic B");
  EXPECT_EQ(waveIn->stops, 2);
  choice.SelectDevice(2);
  choice.SelectDevice(7);  // not an entry
  EXPECT_EQ(waveIn->stops, 2);

  // Enumerated afresh without a preference: the previous device stays.
  choice.RefreshDevices("");
  EXPECT_EQ(choice.GetSelectedDevice().name, "Mic B");
  EXPECT_EQ(waveIn->stops, 2);

  // The previous device went away: the first, written back.
  waveIn->devices = {{"Fixed Device", DeviceEntry::FIXED_DEVICE_ID}, {"Mic A", 0}};
  choice.RefreshDevices("");
  EXPECT_EQ(choice.GetSelectedDevice().name, "Fixed Device");
  EXPECT_EQ(memory.values["waveIn"], "Fixed Device");
  EXPECT_EQ(waveIn->stops, 3);

  // Of two entries named preferred, the last is taken.
  waveIn->devices = {{"Twin", 4}, {"Other", 5}, {"Twin", 6}};
  choice.RefreshDevices("Twin");
  EXPECT_EQ(choice.GetDeviceIndex(), 2);
  EXPECT_EQ(choice.GetSelectedDevice().id, 6);
}

TEST_F(CaptureChoiceTest, SourceChangeStopsTheOldRemembersAndRefreshes) {
  AddTwo();
  choice.ChooseStartSource();
  choice.RefreshDevicesFromMemory();
  choice.SelectDevice(2);  // Mic B
  RecordingView view;
  choice.AddView(&view);
  LogCapture log;
  const int stops = waveIn->stops;

  EXPECT_FALSE(choice.SelectSource(0)) << "already current";
  EXPECT_FALSE(choice.SelectSource(5));
  EXPECT_FALSE(choice.SelectSource(-1));
  EXPECT_EQ(waveIn->stops, stops);
  EXPECT_EQ(log.Text().find("Chapge API"), std::string::npos);

  EXPECT_TRUE(choice.SelectSource(1));
  EXPECT_EQ(choice.GetCurrent(), coreAudio);
  EXPECT_EQ(waveIn->stops, stops + 1);
  EXPECT_EQ(memory.values["API"], "Core Audio");
  EXPECT_EQ(memory.values["waveIn"], "Mic B");
  EXPECT_NE(log.Text().find("Chapge API Core Audio\n"), std::string::npos);
  EXPECT_EQ(view.events, (std::vector<std::string>{"source Core Audio", "devices"}));

  // No devices: "No Device Found", nothing chosen, nothing remembered.
  EXPECT_EQ(choice.GetDevicesShown(), Shown::NONE_FOUND);
  EXPECT_EQ(choice.GetSelectedDevice().id, DeviceEntry::NO_DEVICE_ID);
  EXPECT_EQ(memory.values.count("Core Audio"), 0u);

  // Back: the device remembered for the source is chosen again.
  EXPECT_TRUE(choice.SelectSource(0));
  EXPECT_EQ(choice.GetSelectedDevice().name, "Mic B");

  choice.RemoveView(&view);
  choice.SelectSource(1);
  EXPECT_EQ(view.events.size(), 4u) << "a removed view is not told";
}

// Earlier versions also stored a device's channel under "<source>@<device>":
// such a store still restores the source and its device, and the channel
// names are left as they are, neither read nor written.
TEST_F(CaptureChoiceTest, AStoreWithChannelNamesRestoresSourceAndDevice) {
  AddTwo();
  ScriptedSource* loopback = Add("Loopback", {{"Speakers", 0}, {"Headset", 1}});
  memory.values = {
      {"API", "Loopback"}, {"Loopback", "Headset"}, {"Loopback@Headset", "Rear"}, {"waveIn@Fixed Device", "Front"}};
  const std::map<std::string, std::string> stored = memory.values;

  choice.ChooseStartSource();
  choice.RefreshDevicesFromMemory();
  EXPECT_EQ(choice.GetCurrent(), loopback);
  EXPECT_EQ(choice.GetSelectedDevice().name, "Headset");
  EXPECT_EQ(memory.values, stored);

  choice.SelectDevice(0);
  EXPECT_TRUE(choice.SelectSource(0));
  EXPECT_EQ(choice.GetSelectedDevice().name, "Fixed Device");
  EXPECT_EQ(memory.values["Loopback"], "Speakers");
  EXPECT_EQ(memory.values["Loopback@Headset"], "Rear");
  EXPECT_EQ(memory.values["waveIn@Fixed Device"], "Front");
  EXPECT_EQ(memory.values.size(), stored.size() + 1) << "only the device of waveIn is added";
}

TEST_F(CaptureChoiceTest, WaveFileSourceSettingsModelAndTeardown) {
  AddTwo();
  LogMessageBox messages;
  auto* waveFile = new SoundCaptureWaveFile(nullptr, CodecFunctions(), messages, SystemClock());
  ASSERT_TRUE(choice.AddWaveFile(std::unique_ptr<SoundCaptureWaveFile>(waveFile)));
  EXPECT_EQ(choice.GetWaveFile(), waveFile);
  EXPECT_EQ(choice.GetWaveFileIndex(), 2);

  // The settings model's view: no current source has no rate and stops nothing.
  EXPECT_EQ(choice.GetInputRate(), 0);
  choice.StopCapture();
  choice.ChooseStartSource();
  choice.StopCapture();
  EXPECT_EQ(waveIn->stops, 1);
  EXPECT_EQ(choice.GetInputRate(), waveIn->GetInputRate());

  // Clearing stops every source before deleting it.
  choice.Clear();
  EXPECT_EQ(choice.GetCount(), 0);
  EXPECT_EQ(choice.GetCurrent(), nullptr);
  EXPECT_EQ(choice.GetWaveFile(), nullptr);
  EXPECT_EQ(choice.GetWaveFileIndex(), -1);
}
