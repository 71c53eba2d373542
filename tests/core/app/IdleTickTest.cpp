#include "app/IdleTick.h"

#include <gtest/gtest.h>

#include <vector>

#include "TestUtil.h"

namespace {
class FakeView : public IdleView {
 public:
  void RefreshChannelList() override { ++refreshes; }
  void ResetChannelList() override { ++resets; }
  void DrawLevels(const std::string& left, const std::string& right) override { levels.push_back(left + "|" + right); }
  bool GetLinkText(std::string* text) override {
    if (!hasLinkControl) return false;
    *text = linkText;
    return true;
  }
  void SetLinkText(const std::string& text) override {
    linkText = text;
    ++linkWrites;
  }
  void UpdateCaption() override { ++captions; }

  bool hasLinkControl = true;
  std::string linkText;
  int linkWrites = 0;
  int refreshes = 0;
  int resets = 0;
  int captions = 0;
  std::vector<std::string> levels;
};

class IdleTickTest : public ::testing::Test {
 protected:
  void SetUp() override { UseTestResources(); }
};
}  // namespace

TEST_F(IdleTickTest, LevelDisplayIsRedrawnEveryTenthTick) {
  FakeView view;
  IdleTick idle(view);
  for (int i = 0; i < 9; ++i) idle.Run();
  EXPECT_TRUE(view.levels.empty());
  idle.Run();
  ASSERT_EQ(view.levels.size(), 1u);
  EXPECT_EQ(view.levels[0], "-|-") << "no active source shows the no-level text";
  for (int i = 0; i < 20; ++i) idle.Run();
  EXPECT_EQ(view.levels.size(), 3u);
  EXPECT_EQ(idle.GetStatusCounter(), 0);
}

TEST_F(IdleTickTest, LinkTextIsWrittenOnlyWhenItDiffers) {
  FakeView view;
  view.linkText = "stale";
  IdleTick idle(view);
  for (int i = 0; i < 5; ++i) idle.Run();
  EXPECT_EQ(view.linkText, "-");
  EXPECT_EQ(view.linkWrites, 1);
}

TEST_F(IdleTickTest, WindowWithoutLinkControlIsLeftAlone) {
  FakeView view;
  view.hasLinkControl = false;
  IdleTick idle(view);
  idle.Run();
  EXPECT_EQ(view.linkWrites, 0);
  EXPECT_EQ(view.captions, 1) << "while no debugger is chosen the caption is refreshed";
}
