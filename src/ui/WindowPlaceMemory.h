// Where a top-level window was left, kept in the preferences: put back when
// the window is made, onto a monitor that is still there (PlaceWindow), and
// stored when the user has moved the window and when the window goes.
// Main thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "core/Preferences.h"
#include "core/WindowPlacement.h"

// The work areas of the monitors there are now (each monitor less its task
// bars), in screen pixels.
using MonitorWorkAreas = std::function<std::vector<ScreenRect>()>;
// The system's: EnumDisplayMonitors and GetMonitorInfo.
std::vector<ScreenRect> SystemMonitorWorkAreas();

class WindowPlaceMemory {
 public:
  explicit WindowPlaceMemory(Preferences::PlacedWindow which) : m_which(which) {}

  // The preferences (not owned, outlive this; null: nothing is remembered)
  // and the monitors (empty: the system's).
  void Use(Preferences* preferences, MonitorWorkAreas workAreas);
  // Moves the window, made at its size and not yet shown, to where it was
  // left, or onto the nearest monitor when none shows it there (PlaceWindow,
  // with the system's title bar metrics); leaves it where the system put it
  // when nothing is stored or no monitor is known.
  void Restore(HWND hwnd);
  // Every message of the window, before the window handles it: notes where
  // the window is after each move (not while it is minimized) and stores
  // that when the user ends a move (WM_EXITSIZEMOVE) and when the window is
  // destroyed (a window closed minimized stores where it was before).
  void OnMessage(HWND hwnd, UINT message);

 private:
  void Note(HWND hwnd);
  void Store();

  const Preferences::PlacedWindow m_which;
  Preferences* m_preferences = nullptr;
  MonitorWorkAreas m_workAreas;
  bool m_noted = false;
  POINT m_topLeft = {0, 0};
};
