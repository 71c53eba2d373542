#include "core/WindowPlacement.h"

#include <algorithm>

namespace {

// Computed in 64 bits: a stored place comes from the registry and may be any
// 32-bit value.
int64_t Overlap(int64_t aFrom, int64_t aTo, int64_t bFrom, int64_t bTo) {
  return std::max<int64_t>(0, std::min(aTo, bTo) - std::max(aFrom, bFrom));
}

// A window larger than this either way is taken for a damaged store.
constexpr int64_t kLargest = int64_t{1} << 24;

// How far apart two ranges are; 0 when they touch or overlap.
int64_t Gap(int64_t aFrom, int64_t aTo, int64_t bFrom, int64_t bTo) {
  if (aTo <= bFrom) return bFrom - aTo;
  if (bTo <= aFrom) return aFrom - bTo;
  return 0;
}

bool TitleBarShows(const ScreenRect& window, const ScreenRect& area, const TitleBarRule& rule) {
  const int64_t titleBottom = static_cast<int64_t>(window.top) + rule.titleHeight;
  if (window.top < area.top || titleBottom > area.bottom) return false;
  const int64_t needed = std::min<int64_t>(rule.minVisibleWidth, window.Width());
  return Overlap(window.left, window.right, area.left, area.right) >= needed;
}

// The start of a range of length size moved by the least into [from, to); at
// from when it is longer than the range.
int64_t Inside(int64_t start, int64_t size, int64_t from, int64_t to) {
  return std::max(from, std::min(start, to - size));
}

}  // namespace

std::optional<ScreenRect> PlaceWindow(const std::optional<ScreenRect>& stored, const std::vector<ScreenRect>& workAreas,
                                      const TitleBarRule& rule) {
  if (!stored || stored->Width() <= 0 || stored->Height() <= 0) return std::nullopt;
  if (stored->Width() > kLargest || stored->Height() > kLargest) return std::nullopt;
  const ScreenRect& window = *stored;
  const ScreenRect* nearest = nullptr;
  double nearestGap = 0;  // squared: a gap may take 33 bits, its square more than 64
  int64_t nearestOverlap = 0;
  for (const ScreenRect& area : workAreas) {
    if (area.Width() <= 0 || area.Height() <= 0) continue;
    if (TitleBarShows(window, area, rule)) return window;
    const int64_t dx = Gap(window.left, window.right, area.left, area.right);
    const int64_t dy = Gap(window.top, window.bottom, area.top, area.bottom);
    const double gap = static_cast<double>(dx) * dx + static_cast<double>(dy) * dy;
    const int64_t overlap = Overlap(window.left, window.right, area.left, area.right) *
                            Overlap(window.top, window.bottom, area.top, area.bottom);
    if (nearest == nullptr || gap < nearestGap || (gap == nearestGap && overlap > nearestOverlap)) {
      nearest = &area;
      nearestGap = gap;
      nearestOverlap = overlap;
    }
  }
  if (nearest == nullptr) return std::nullopt;
  const int64_t left = Inside(window.left, window.Width(), nearest->left, nearest->right);
  const int64_t top = Inside(window.top, window.Height(), nearest->top, nearest->bottom);
  // Inside the area, and the size at most kLargest: all of it fits 32 bits.
  ScreenRect placed;
  placed.left = static_cast<int32_t>(left);
  placed.top = static_cast<int32_t>(top);
  placed.right = static_cast<int32_t>(left + window.Width());
  placed.bottom = static_cast<int32_t>(top + window.Height());
  return placed;
}
