// Where a top-level window reopens: at the place it was left, unless no
// monitor shows enough of it any more (a second screen unplugged, a laptop
// taken off its dock), in which case it moves onto the nearest monitor.
// Portable arithmetic on screen rectangles; the monitors' work areas (each
// monitor's screen less its task bars) come from the caller.
//
// The rule: a window stays where it was left when, on one work area, its
// title bar (its top titleHeight pixels) shows its whole height and at least
// minVisibleWidth pixels of its width (its whole width, when it is narrower):
// enough to take it with the mouse and move it, as a window partly pushed off
// the screen by hand may be. Otherwise it goes onto the work area nearest to
// it (the one it overlaps most; when it overlaps none, the closest one), moved
// by the least that puts it whole inside; a window larger than that area is
// put at the area's top-left corner, so that its title bar shows. Its size
// never changes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// A rectangle in screen pixels: left and top inside, right and bottom just
// outside (as a Win32 RECT). The primary monitor's top-left corner is 0, 0;
// other monitors may lie at negative coordinates.
struct ScreenRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  int64_t Width() const { return static_cast<int64_t>(right) - left; }
  int64_t Height() const { return static_cast<int64_t>(bottom) - top; }
  bool operator==(const ScreenRect& other) const {
    return left == other.left && top == other.top && right == other.right && bottom == other.bottom;
  }
  bool operator!=(const ScreenRect& other) const { return !(*this == other); }
};

// How much of a window's title bar must show for it to stay where it was left.
struct TitleBarRule {
  int32_t titleHeight = 0;
  int32_t minVisibleWidth = 0;
};

// Where a window goes whose place when it was left is stored (its size is
// the window's as now made), over the work areas of the monitors there are
// now. Nothing stored, or no work area known: nothing (the system's default
// place). A stored rectangle with no area, or more than 16777216 pixels wide
// or high (a damaged store), is taken as nothing stored.
std::optional<ScreenRect> PlaceWindow(const std::optional<ScreenRect>& stored, const std::vector<ScreenRect>& workAreas,
                                      const TitleBarRule& rule);
