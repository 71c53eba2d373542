// Where a window reopens over the monitors there are now: left alone while
// enough of its title bar shows on one of them, else moved whole onto the
// nearest one.
#include "core/WindowPlacement.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

namespace {

ScreenRect At(int32_t left, int32_t top, int32_t width, int32_t height) {
  ScreenRect rect;
  rect.left = left;
  rect.top = top;
  rect.right = left + width;
  rect.bottom = top + height;
  return rect;
}

// The primary monitor's work area (1920 x 1080 less a 40-pixel task bar at
// the bottom) and a second monitor left of it and higher up, all of it at
// negative coordinates.
const ScreenRect kPrimary = At(0, 0, 1920, 1040);
const ScreenRect kLeftOfIt = At(-1280, -200, 1280, 1024);
// 30 pixels of title bar, at least 100 of them showing.
const TitleBarRule kRule = {30, 100};

}  // namespace

// Found by the test's messages through the rectangle's namespace.
void PrintTo(const ScreenRect& rect, std::ostream* out);
void PrintTo(const ScreenRect& rect, std::ostream* out) {
  *out << "(" << rect.left << ", " << rect.top << ") - (" << rect.right << ", " << rect.bottom << ")";
}

TEST(WindowPlacement, StaysWhileItsTitleBarShowsElseMovesWholeOntoTheNearestMonitor) {
  const std::vector<ScreenRect> one = {kPrimary};
  const std::vector<ScreenRect> two = {kPrimary, kLeftOfIt};
  struct Case {
    const char* what;
    std::optional<ScreenRect> stored;
    std::vector<ScreenRect> areas;
    std::optional<ScreenRect> expected;  // nothing: the system's default place
  };
  const Case cases[] = {
      {"nothing stored", std::nullopt, two, std::nullopt},
      {"no monitor known", At(100, 100, 400, 300), {}, std::nullopt},
      {"on the monitor", At(100, 100, 400, 300), one, At(100, 100, 400, 300)},
      {"in a corner", At(1520, 740, 400, 300), one, At(1520, 740, 400, 300)},
      // Partly off, kept: 150 pixels of title bar show on the right, or the
      // title bar shows whole though the rest hangs below the screen.
      {"partly off the right, enough shows", At(1770, 100, 400, 300), one, At(1770, 100, 400, 300)},
      {"partly off the left, enough shows", At(-300, 100, 400, 300), one, At(-300, 100, 400, 300)},
      {"hanging below, title bar shows", At(100, 1010, 400, 300), one, At(100, 1010, 400, 300)},
      // Partly off, moved by the least that brings it whole inside.
      {"partly off the right, too little shows", At(1830, 100, 400, 300), one, At(1520, 100, 400, 300)},
      {"title bar cut at the bottom", At(100, 1011, 400, 300), one, At(100, 740, 400, 300)},
      {"title bar above the top", At(100, -1, 400, 300), one, At(100, 0, 400, 300)},
      // A window narrower than the width asked for: all of its title bar.
      {"narrow, whole title bar shows, hanging below", At(1840, 1010, 80, 60), one, At(1840, 1010, 80, 60)},
      {"narrow, one pixel off", At(1841, 1010, 80, 60), one, At(1840, 980, 80, 60)},
      // Off every monitor.
      {"off to the right", At(3000, 100, 400, 300), one, At(1520, 100, 400, 300)},
      {"off to the left", At(-2000, 100, 400, 300), one, At(0, 100, 400, 300)},
      {"off above", At(100, -1000, 400, 300), one, At(100, 0, 400, 300)},
      {"off below", At(100, 5000, 400, 300), one, At(100, 740, 400, 300)},
      {"off below and right", At(2500, 2000, 400, 300), one, At(1520, 740, 400, 300)},
      // The second monitor at negative coordinates, there and gone.
      {"on the left monitor", At(-1000, -100, 400, 300), two, At(-1000, -100, 400, 300)},
      {"left monitor unplugged", At(-1000, -100, 400, 300), one, At(0, 0, 400, 300)},
      {"off both, nearer the left one", At(-1500, 900, 400, 300), two, At(-1280, 524, 400, 300)},
      {"off both, nearer the primary", At(2100, 1200, 400, 300), two, At(1520, 740, 400, 300)},
      {"over both, title bar above, more on the left one", At(-200, -300, 400, 300), two, At(-400, -200, 400, 300)},
      {"across both, title bar shows on both", At(-200, 10, 400, 300), two, At(-200, 10, 400, 300)},
      // Larger than the work area: its top-left corner at the area's, so its
      // title bar shows; its size kept.
      {"larger, off to the right", At(3000, 50, 2000, 1200), one, At(0, 0, 2000, 1200)},
      {"larger, title bar on the monitor", At(-50, 0, 2000, 1200), one, At(-50, 0, 2000, 1200)},
      {"larger, title bar above", At(10, -20, 2000, 1200), one, At(0, 0, 2000, 1200)},
      // What a damaged store may hold.
      {"far out", At(INT32_MAX - 400, INT32_MAX - 300, 400, 300), two, At(1520, 740, 400, 300)},
      {"far out, negative", At(INT32_MIN, INT32_MIN, 400, 300), two, At(-1280, -200, 400, 300)},
      {"no area", At(100, 100, 0, 300), one, std::nullopt},
      {"turned over", At(100, 100, -400, 300), one, std::nullopt},
      {"impossibly large", At(0, 0, INT32_MAX, 300), one, std::nullopt},
      // A monitor reported with no area is not one to go on.
      {"an empty work area", At(3000, 100, 400, 300), {At(0, 0, 0, 0), kPrimary}, At(1520, 100, 400, 300)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<ScreenRect> placed = PlaceWindow(c.stored, c.areas, kRule);
    ASSERT_EQ(placed.has_value(), c.expected.has_value());
    if (!placed) continue;
    EXPECT_EQ(*placed, *c.expected);
    // Where it was moved, the window lies whole on one work area when it
    // fits there.
    if (*placed != *c.stored && c.stored->right - c.stored->left <= 1920) {
      bool whole = false;
      for (const ScreenRect& area : c.areas) {
        whole = whole || (placed->left >= area.left && placed->top >= area.top && placed->right <= area.right &&
                          placed->bottom <= area.bottom);
      }
      EXPECT_TRUE(whole);
    }
  }
}
