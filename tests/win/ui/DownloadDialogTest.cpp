// The download dialog (resource IDD_DOWNLOAD) and its procedure: the
// template as it is stored, a box download over the fake library with the
// real modal dialog (needs a display: run by with-display on Xvfb), and the
// text of a loader that could not be started.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "FakeHostIo.h"
#include "TestUtil.h"
#include "UiTestUtil.h"
#include "link/KAVHostIO.h"
#include "link/DeviceLink.h"
#include "resources/resource.h"
#include "support/Language.h"
#include "ui/DownloadDialog.h"
#include "ui/DownloadDialogIds.h"

namespace {

// --- The template ---------------------------------------------------------------

// Reads a 16-bit word and moves on.
uint16_t Word(const uint8_t*& p) {
  uint16_t v;
  memcpy(&v, p, 2);
  p += 2;
  return v;
}
uint32_t Dword(const uint8_t*& p) {
  uint32_t v;
  memcpy(&v, p, 4);
  p += 4;
  return v;
}
// A resource string or ordinal: "#n" for an ordinal.
std::string SzOrOrd(const uint8_t*& p) {
  uint16_t first = Word(p);
  if (first == 0xFFFF) return "#" + std::to_string(Word(p));
  std::string text;
  for (uint16_t c = first; c != 0; c = Word(p)) text += static_cast<char>(c);
  return text;
}
void AlignDword(const uint8_t*& p, const uint8_t* base) {
  while ((p - base) % 4 != 0) ++p;
}

TEST(DownloadDialogTemplate, LayoutAndItems) {
  HRSRC found = FindResourceA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_DOWNLOAD), MAKEINTRESOURCEA(5));
  ASSERT_NE(found, nullptr);
  const auto* base = static_cast<const uint8_t*>(LockResource(LoadResource(GetModuleHandleA(nullptr), found)));
  ASSERT_NE(base, nullptr);
  const uint8_t* p = base;
  EXPECT_EQ(Word(p), 1);       // dlgVer
  EXPECT_EQ(Word(p), 0xFFFF);  // DLGTEMPLATEEX
  Dword(p);                    // helpID
  Dword(p);                    // exStyle
  const uint32_t style = Dword(p);
  EXPECT_NE(style & DS_MODALFRAME, 0u);
  EXPECT_NE(style & DS_CENTERMOUSE, 0u);
  EXPECT_NE(style & WS_POPUP, 0u);
  EXPECT_EQ(style & WS_CAPTION, 0u);
  EXPECT_EQ(style & WS_VISIBLE, 0u);  // shown by its procedure
  EXPECT_EQ(Word(p), 3);              // items
  Word(p);
  Word(p);
  EXPECT_EQ(Word(p), 145);
  EXPECT_EQ(Word(p), 41);
  EXPECT_EQ(SzOrOrd(p), "");  // menu
  EXPECT_EQ(SzOrOrd(p), "");  // class
  EXPECT_EQ(SzOrOrd(p), "");  // no caption
  EXPECT_EQ(Word(p), 9);      // point size
  Word(p);                    // weight
  Word(p);                    // italic, charset
  EXPECT_EQ(SzOrOrd(p), "MS UI Gothic");

  struct Item {
    uint32_t id;
    std::string cls;
    std::string text;
    uint32_t style;
    uint16_t x, y, cx, cy;
  } items[3];
  for (Item& item : items) {
    AlignDword(p, base);
    Dword(p);  // helpID
    Dword(p);  // exStyle
    item.style = Dword(p);
    item.x = Word(p);
    item.y = Word(p);
    item.cx = Word(p);
    item.cy = Word(p);
    item.id = Dword(p);
    item.cls = SzOrOrd(p);
    item.text = SzOrOrd(p);
    p += Word(p);  // creation data
  }
  // The bar, the byte count and the title. The compiler may upper-case the
  // bar's class name; a static is the ordinal #130. The style is compared
  // under the mask: the bar's smooth bit, the statics' alignment.
  const struct Expected {
    uint32_t id;
    const char* cls;
    const char* text;
    uint32_t styleMask, style;
    uint16_t x, y, cx, cy;
  } expected[3] = {
      {2001, "msctls_progress32", "", PBS_SMOOTH, PBS_SMOOTH, 8, 12, 128, 18},
      {2002, "#130", "0/0", SS_TYPEMASK, SS_RIGHT, 9, 32, 126, 8},
      {2003, "#130", "", SS_TYPEMASK, SS_LEFT, 9, 2, 126, 8},
  };
  for (int i = 0; i < 3; ++i) {
    const Item& item = items[i];
    const Expected& want = expected[i];
    SCOPED_TRACE("item " + std::to_string(i));
    EXPECT_EQ(item.id, want.id);
    EXPECT_EQ(_stricmp(item.cls.c_str(), want.cls), 0) << item.cls;
    EXPECT_EQ(item.text, want.text);
    EXPECT_EQ(item.style & want.styleMask, want.style);
    EXPECT_EQ(item.x, want.x);
    EXPECT_EQ(item.y, want.y);
    EXPECT_EQ(item.cx, want.cx);
    EXPECT_EQ(item.cy, want.cy);
  }
}

TEST(DownloadDialogText, LoaderFailureNamesTheToolAndTheCode) {
  UseTestResources();
  EXPECT_EQ(
      Win32DownloadUi::LoaderFailureText("C:\\sdk\\kav_loadrun32.exe", 2),
      "Could not start the loader \"C:\\sdk\\kav_loadrun32.exe\" (2).\r\nThe program was not loaded onto the device.");
}

// --- The dialog at work -----------------------------------------------------------

bool HaveDisplay() {
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  return true;
}

std::string ItemText(HWND dialog, int id) {
  char text[128] = {};
  GetDlgItemTextA(dialog, id, text, sizeof(text));
  return text;
}

// What the download thread saw of the dialog while it ran.
struct Seen {
  Win32DownloadUi* ui = nullptr;
  bool visible = false;
  std::string title;
  std::string bytesMidway;
  LRESULT positionMidway = -1;
  int ticksMidway = 0;
  LRESULT positionAfterTenSeconds = -1;
  std::string bytesAtEnd;
  // The dialog at each DPI it was moved to (WM_DPICHANGED): 96, 144, 192, 96.
  struct AtDpi {
    int dpi = 0;
    SIZE client = {};
    RECT bar = {};
    LONG fontHeight = 0;
    std::vector<std::string> cut;  // texts wider than their box
    bool fontFreed = false;        // the font of the DPI before
  };
  std::vector<AtDpi> steps;
} s_seen;

Seen::AtDpi ReadDialogAtDpi(HWND dialog, int dpi) {
  Seen::AtDpi seen;
  seen.dpi = dpi;
  RECT client = {};
  GetClientRect(dialog, &client);
  seen.client = {client.right, client.bottom};
  GetWindowRect(GetDlgItem(dialog, IDC_DOWNLOAD_PROGRESS), &seen.bar);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&seen.bar), 2);
  LOGFONTA font = {};
  GetObjectA(reinterpret_cast<HFONT>(SendDlgItemMessageA(dialog, IDC_DOWNLOAD_TITLE, WM_GETFONT, 0, 0)), sizeof(font),
             &font);
  seen.fontHeight = font.lfHeight;
  for (int id : {IDC_DOWNLOAD_TITLE, IDC_DOWNLOAD_BYTES}) {
    const std::string text = ItemText(dialog, id);
    if (!TextFitsInDialog(dialog, id, text)) seen.cut.push_back(text);
  }
  return seen;
}

// Moves the dialog to monitors of 144, 192 and 96 DPI, from the DPI it was
// made at (the screen's, 96), and reads it at each.
void MoveAcrossDpis(HWND dialog) {
  s_seen.steps.push_back(ReadDialogAtDpi(dialog, 96));
  for (int dpi : {144, 192, 96}) {
    const HGDIOBJ before = reinterpret_cast<HGDIOBJ>(SendDlgItemMessageA(dialog, IDC_DOWNLOAD_TITLE, WM_GETFONT, 0, 0));
    RECT frame = {};
    GetWindowRect(dialog, &frame);
    const int from = s_seen.steps.back().dpi;
    RECT suggested = {frame.left, frame.top, frame.left + MulDiv(frame.right - frame.left, dpi, from),
                      frame.top + MulDiv(frame.bottom - frame.top, dpi, from)};
    SendMessageA(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    s_seen.steps.push_back(ReadDialogAtDpi(dialog, dpi));
    s_seen.steps.back().fontFreed = GetObjectType(before) == 0;
  }
}

int32_t HOSTIO_CALL SlowDownload(void*, const char*, hostio::DownloadProgressFn progress, void* context) {
  // The thread starts before the dialog is up: wait for it.
  HWND dialog = nullptr;
  while ((dialog = s_seen.ui->GetDialog()) == nullptr) Sleep(5);
  for (uint64_t done = 0; done <= 5000; done += 1000) {
    progress(context, done, 5000);
    Sleep(80);
    if (done == 2000) {
      s_seen.visible = IsWindowVisible(dialog) != FALSE;
      s_seen.title = ItemText(dialog, IDC_DOWNLOAD_TITLE);
      s_seen.bytesMidway = ItemText(dialog, IDC_DOWNLOAD_BYTES);
      s_seen.positionMidway = SendDlgItemMessageA(dialog, IDC_DOWNLOAD_PROGRESS, PBM_GETPOS, 0, 0);
      s_seen.ticksMidway = s_seen.ui->GetTicks();
      MoveAcrossDpis(dialog);
    }
  }
  // Ten seconds of the clock: the bar is full and stays full.
  for (int i = 0; i < 1100; ++i) SendMessageA(dialog, WM_TIMER, DOWNLOAD_TIMER_ID, 0);
  s_seen.positionAfterTenSeconds = SendDlgItemMessageA(dialog, IDC_DOWNLOAD_PROGRESS, PBM_GETPOS, 0, 0);
  s_seen.bytesAtEnd = ItemText(dialog, IDC_DOWNLOAD_BYTES);
  return 1;
}

// A small program image in the temporary folder; its path, or empty.
std::string WriteTempImage(const char* name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string image = std::string(temp) + name;
  FILE* f = fopen(image.c_str(), "wb");
  if (f == nullptr) return "";
  fputs("image", f);
  fclose(f);
  return image;
}

// A device link connected to one box of the fake library, whose downloads run
// the given function, with the real dialog as its download window.
class DownloadDialog : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!m_image.empty()) remove(m_image.c_str());
  }
  // Connect, and a program image of that name in the temporary folder; its
  // path.
  std::string ConnectWithImage(const char* name,
                               int32_t(HOSTIO_CALL* download)(void*, const char*, hostio::DownloadProgressFn, void*)) {
    m_image = WriteTempImage(name);
    EXPECT_FALSE(m_image.empty());
    Connect(download);
    return m_image;
  }

  void Connect(int32_t(HOSTIO_CALL* download)(void*, const char*, hostio::DownloadProgressFn, void*)) {
    UseTestResources();
    fake.listed = {12345678};
    fake.downloadProgram = download;
    channel.Init(0, fake.MakeHostIo(system));
    s_seen = Seen();
    s_seen.ui = &ui;
    channel.Download().SetUi(&ui);
    ASSERT_TRUE(channel.Session().ConnectFirst(true));
  }

  FakeHostIo fake;
  PlatformLinkSystem system;
  DeviceLink channel{system};
  Win32DownloadUi ui;
  std::string m_image;  // removed at the end of the test
};

TEST_F(DownloadDialog, BoxDownloadShowsProgressAndEnds) {
  if (!HaveDisplay()) GTEST_SKIP() << "no display";
  const std::string image = ConnectWithImage("quillon-dialog-test.bxa", &SlowDownload);
  if (HasFailure()) return;

  LogCapture log;
  channel.Download().Go(image);

  EXPECT_TRUE(s_seen.visible);
  // In the user's language (a Japanese run sets QUILL_EXPECT_JAPANESE).
  EXPECT_EQ(s_seen.title, LoadResourceString(IDS_LOADING_BXA));
  if (getenv("QUILL_EXPECT_JAPANESE") == nullptr) {
    EXPECT_EQ(s_seen.title, "Loading bxa...");
  }
  EXPECT_EQ(s_seen.bytesMidway, "2000/5000");
  EXPECT_GE(s_seen.ticksMidway, 1);
  EXPECT_GE(s_seen.positionMidway, 10);
  EXPECT_LE(s_seen.positionMidway, static_cast<LRESULT>(ui.GetTicks()) * 10);
  EXPECT_EQ(s_seen.positionAfterTenSeconds, 10000);
  EXPECT_EQ(s_seen.bytesAtEnd, "5000/5000");
  // Moved to monitors of 144, 192 and 96 DPI again: the dialog, its bar and
  // its font scale from those it was made with, the font made for the DPI
  // before is freed (the template's stays), and no text is cut.
  ASSERT_EQ(s_seen.steps.size(), 4u);
  const Seen::AtDpi& at96 = s_seen.steps[0];
  for (const Seen::AtDpi& step : s_seen.steps) {
    SCOPED_TRACE("DPI " + std::to_string(step.dpi));
    auto scaled = [&](LONG length) { return MulDiv(length, step.dpi, 96); };
    EXPECT_EQ(step.client.cx, scaled(at96.client.cx));
    EXPECT_EQ(step.client.cy, scaled(at96.client.cy));
    EXPECT_EQ(step.bar.left, scaled(at96.bar.left));
    EXPECT_EQ(step.bar.top, scaled(at96.bar.top));
    EXPECT_EQ(step.bar.right - step.bar.left, scaled(at96.bar.right - at96.bar.left));
    EXPECT_EQ(step.fontHeight, scaled(at96.fontHeight));
    // Of the four moves, the first leaves the template's font, which stays.
    EXPECT_EQ(step.fontFreed, &step != &at96 && &step != &s_seen.steps[1]);
    EXPECT_TRUE(step.cut.empty()) << step.cut.front();
  }
  EXPECT_EQ(ui.GetDialog(), nullptr);
  EXPECT_FALSE(channel.Download().IsRunning());
  EXPECT_NE(log.Text().find("5000/5000\nDownloadGo success\n"), std::string::npos) << log.Text();
}

int32_t HOSTIO_CALL QuickDownload(void*, const char*, hostio::DownloadProgressFn progress, void* context) {
  progress(context, 7, 7);
  return 1;
}

// The download may end before the dialog is up, or after: either way the
// dialog ends, the thread is joined, and the next download works the same.
TEST_F(DownloadDialog, ADownloadThatEndsBeforeTheDialogIsUpStillEndsIt) {
  if (!HaveDisplay()) GTEST_SKIP() << "no display";
  const std::string image = ConnectWithImage("quillon-dialog-quick.bxa", &QuickDownload);
  if (HasFailure()) return;
  LogCapture log;
  for (int round = 0; round < 5; ++round) {
    channel.Download().Go(image);
    EXPECT_EQ(ui.GetDialog(), nullptr);
    EXPECT_FALSE(channel.Download().IsRunning());
  }
  size_t successes = 0;
  for (size_t at = log.Text().find("7/7\nDownloadGo success\n"); at != std::string::npos;
       at = log.Text().find("7/7\nDownloadGo success\n", at + 1)) {
    ++successes;
  }
  EXPECT_EQ(successes, 5u) << log.Text();
}

TEST_F(DownloadDialog, MissingImageShowsNoDialog) {
  Connect(&SlowDownload);
  if (HasFatalFailure()) return;
  LogCapture log;
  channel.Download().Go("Z:\\no\\such\\Quillon.bxa");
  EXPECT_EQ(s_seen.title, "");
  EXPECT_NE(log.Text().find("DownloadGo file \"Z:\\no\\such\\Quillon.bxa\"not exist\n"), std::string::npos);
}

}  // namespace
