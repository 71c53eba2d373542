// The wave-file source's error message as Windows shows it: a message box with
// the text and caption given, the error icon, owned by the window.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "TestUtil.h"
#include "capture/SoundCaptureWaveFile.h"
#include "capture/Win32MessageBox.h"

namespace {

struct SeenBox {
  bool found = false;
  HWND owner = nullptr;
  std::string text;
  bool hasIcon = false;
};

// Waits for a message box captioned caption, notes what it shows and closes it.
void CloseBoxWhenShown(const char* caption, SeenBox* seen) {
  for (int i = 0; i < 1000; ++i) {
    HWND box = FindWindowA("#32770", caption);
    // Read it once it is shown: the box is found while it is still being set up.
    if (box != nullptr && IsWindowVisible(box)) {
      seen->found = true;
      seen->owner = GetWindow(box, GW_OWNER);
      char text[256] = {};
      GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
      seen->text = text;
      // The icon is a static control with SS_ICON.
      for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) seen->hasIcon = true;
      }
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      return;
    }
    Sleep(10);
  }
}

TEST(Win32MessageBox, ShowsTheErrorOwnedByTheWindow) {
  HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (owner == nullptr) GTEST_SKIP() << "no display";
  SeenBox seen;
  std::thread closer(CloseBoxWhenShown, "Quillon test", &seen);
  Win32MessageBox().ShowError(owner, "Not Supported Format", "Quillon test");
  closer.join();
  DestroyWindow(owner);
  ASSERT_TRUE(seen.found);
  // MB_TOPMOST is not checked: Wine does not mark message boxes topmost.
  EXPECT_EQ(seen.owner, owner);
  EXPECT_EQ(seen.text, "Not Supported Format");
  EXPECT_TRUE(seen.hasIcon);
}

TEST(Win32MessageBox, WaveFileSourceShowsNotSupportedFormatForABadFile) {
  HWND probe = CreateWindowExA(0, "STATIC", "probe", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (probe == nullptr) GTEST_SKIP() << "no display";
  DestroyWindow(probe);
  UseTestResources();
  TempDir dir;
  dir.Write("bad.wav", "not a wave file");
  Win32MessageBox messages;
  SoundCaptureWaveFile source(nullptr, CodecFunctions(), messages, SystemClock());
  SeenBox seen;
  std::thread closer(CloseBoxWhenShown, "Quillon", &seen);
  EXPECT_FALSE(source.LoadWaveFile(dir.File("bad.wav")));
  closer.join();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.text, "Not Supported Format");
  EXPECT_EQ(seen.owner, nullptr);
}

}  // namespace
