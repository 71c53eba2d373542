// The capture sources' messages as Windows shows them: a message box with the
// message's text and the program's name, the error icon, owned by the window.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "TestUtil.h"
#include "capture/SoundCaptureWaveFile.h"
#include "ui/Win32MessageBox.h"

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

// Each message's text as the string table has it.
TEST(Win32MessageBox, MessagesHaveTheirTexts) {
  UseTestResources();
  const struct {
    CaptureMessage message;
    const char* text;
  } cases[] = {
      {CaptureMessage::NOT_SUPPORTED_FORMAT, "Not Supported Format"},
      {CaptureMessage::WAVE_FILE_TOO_LARGE, "The file is too large to play"},
      {CaptureMessage::WAVE_FILE_BUSY, "The previous file is still being sent to the device.\nTry again in a moment."},
  };
  for (const auto& c : cases) EXPECT_EQ(CaptureMessageText(c.message), c.text) << CaptureMessageName(c.message);
  const CaptureTexts texts = LoadCaptureTexts();
  EXPECT_EQ(texts.fixedDevice, "Fixed Device");
  EXPECT_EQ(texts.dropWaveFile, "Drop a Wave File");
}

TEST(Win32MessageBox, ShowsTheErrorOwnedByTheWindow) {
  HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (owner == nullptr) GTEST_SKIP() << "no display";
  UseTestResources();
  SeenBox seen;
  std::thread closer(CloseBoxWhenShown, "Quillon", &seen);
  Win32MessageBox box;
  box.SetOwner(owner);
  box.ShowError(CaptureMessage::NOT_SUPPORTED_FORMAT);
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
