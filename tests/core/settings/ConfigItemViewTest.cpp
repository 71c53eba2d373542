// The views of the settings window's items (src/ui/ConfigItemViews.h) over
// fake controls: which control each kind of item gets, what it shows, which
// boxes follow the filter type, and a box whose list no longer agrees with
// its item.
#include "ui/ConfigItemViews.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "SettingsFakes.h"
#include "TestUtil.h"
#include "settings/ConfigItems.h"
#include "settings/SoundConfig.h"

namespace {
enum : int32_t {
  VOLUME = 8,
  PAN_CURVE = 10,
  FRONT_BYPASS = 13,
  BIQUAD_TYPE = 62,
  BIQUAD_VALUE = 63,
  FILTER_F0 = 65,
  FILTER_GAIN = 66,
  FILTER_Q = 67,
};

// An edit box or a combo box of the settings window.
class FakeControl : public ConfigControl {
 public:
  void SetText(const std::string& value) override {
    text = value;
    ++textWrites;
  }
  void SetEnabled(bool value) override { enabled = value; }
  int GetEntryCount() override { return static_cast<int>(entries.size()); }
  std::string GetEntryText(int index) override { return entries[static_cast<size_t>(index)]; }
  void SelectEntry(int index) override { selected = index; }

  std::string text;
  int textWrites = 0;
  bool enabled = true;
  std::vector<std::string> entries;
  int selected = -1;
};

// Makes fake controls the way the settings window makes its real ones: a
// combo box gets every entry of its item.
class FakeFactory : public ConfigControlFactory {
 public:
  ConfigControl* CreateEdit(SoundConfigItem&, int id, int, int, int, int height) override { return Make(id, height); }
  ConfigControl* CreateList(ConfigList& item, int id, int, int, int, int height) override {
    FakeControl* control = Make(id, height);
    for (uint32_t i = 0; !item.GetEntry(i).empty(); ++i) control->entries.push_back(item.GetEntry(i));
    return control;
  }

  FakeControl* Make(int id, int height) {
    controls.push_back(std::make_unique<FakeControl>());
    ids.push_back(id);
    heights.push_back(height);
    return controls.back().get();
  }
  std::vector<std::unique_ptr<FakeControl>> controls;
  std::vector<int> ids;
  std::vector<int> heights;
};

class ConfigItemViewTest : public ::testing::Test {
 protected:
  void SetUp() override { UseTestResources(); }
  ConfigControl* Create(int32_t index, int y = 8) { return views.Create(index, factory, 500 + index, 136, y, 128, 22); }

  TempDir dir;
  FakeChannel channel;
  SoundConfig config{&channel, true, dir.Path()};
  ConfigItemViews views{config};
  FakeFactory factory;
};
}  // namespace

TEST_F(ConfigItemViewTest, EachKindGetsItsControlShowingTheValue) {
  ConfigControl* curve = Create(PAN_CURVE);
  ConfigControl* bypass = Create(FRONT_BYPASS, 40);
  ConfigControl* volume = Create(VOLUME, 72);
  ASSERT_NE(curve, nullptr);
  ASSERT_NE(bypass, nullptr);
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ(factory.ids, (std::vector<int>{500 + PAN_CURVE, 500 + FRONT_BYPASS, 500 + VOLUME}));
  EXPECT_EQ(factory.heights[0], 154);  // nine entries
  EXPECT_EQ(factory.heights[1], 56);   // two entries
  EXPECT_EQ(factory.heights[2], 22);
  EXPECT_EQ(factory.controls[0]->selected, 0);
  EXPECT_EQ(factory.controls[2]->text, "1.00");

  config.GetItem(PAN_CURVE)->SetText("LINEAR");
  config.GetItem(VOLUME)->SetText("0.25");
  views.ShowValues();
  EXPECT_EQ(factory.controls[0]->selected, 6);
  EXPECT_EQ(factory.controls[2]->text, "0.25");

  // After the window closed the views leave the destroyed controls alone.
  views.Forget();
  const int writes = factory.controls[2]->textWrites;
  config.GetItem(VOLUME)->SetText("0.5");
  views.ShowValues();
  EXPECT_EQ(factory.controls[2]->textWrites, writes);
}

TEST_F(ConfigItemViewTest, FilterBoxesFollowTheBiquadType) {
  for (int32_t i : {BIQUAD_VALUE, FILTER_F0, FILTER_GAIN, FILTER_Q}) Create(i);
  auto enabled = [this]() {
    std::string flags;
    for (auto& control : factory.controls) flags += control->enabled ? '1' : '0';
    return flags;
  };
  struct Case {
    const char* type;
    const char* flags;
  } cases[] = {{"NONE", "0000"}, {"[PL7X] LPF", "1000"}, {"[PL7X] BPF_2048", "1000"},
               {"LPF", "0111"},  {"Peaking", "0111"},    {"HSF", "0111"}};
  for (const Case& c : cases) {
    ConfigSnapshot snapshot = config.TakeSnapshot();
    config.GetItem(BIQUAD_TYPE)->SetText(c.type);
    config.GetItem(BIQUAD_TYPE)->StoreToRecord();
    views.Apply(snapshot);
    EXPECT_EQ(enabled(), c.flags) << c.type;
  }
  // A combo box is never grayed.
  ConfigControl* type = Create(BIQUAD_TYPE);
  type->SetEnabled(true);
  views.ShowEnabled();
  EXPECT_TRUE(factory.controls.back()->enabled);
}

// A combo box whose entries no longer hold the item's value (a list that
// changed under the window) is left as it is and the mismatch logged; the
// program goes on.
TEST_F(ConfigItemViewTest, ABoxWithoutTheValueIsLeftAsItIs) {
  Create(PAN_CURVE);
  FakeControl& box = *factory.controls[0];
  box.entries = {"ONE", "TWO"};
  box.selected = 1;
  LogCapture log;
  views.ShowValues();
  EXPECT_EQ(box.selected, 1);
  EXPECT_NE(log.Text().find("ConfigListView: PanCurve: the box has no entry \"" + config.GetItem(PAN_CURVE)->GetValue() +
                            "\"; its choice is left as it is\n"),
            std::string::npos)
      << log.Text();
}
