// The main window as the program makes it, driven from inside the test
// process on a virtual display: the real window and controls, the real
// settings model, device link (over the in-process stand-in of the host-I/O
// library) and wave-file source, two fake capture sources, and dialogs that
// answer instead of a user. Registry values go to a key of the test's own.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "FakeHostIo.h"
#include "TestUtil.h"
#include "../ui/UiTestUtil.h"
#include "core/CaptureChoice.h"
#include "core/HandedPath.h"
#include "core/MapMemory.h"
#include "app/RegistryMemory.h"
#include "app/Startup.h"
#include "core/ScriptedSource.h"
#include "capture/CaptureServices.h"
#include "capture/SoundCaptureWaveFile.h"
#include "link/KAVHostIO.h"
#include "link/DeviceLink.h"
#include "platform/Platform.h"
#include "platform/WinText.h"
#include "resources/resource.h"
#include "settings/SoundConfig.h"
#include "support/Language.h"
#include "support/File.h"
#include "support/Registry.h"
#include "support/Strings.h"
#include "ui/AboutDialog.h"
#include "ui/ConfigWindow.h"
#include "ui/MainWindow.h"
#include "core/Preferences.h"
#include "core/WindowPlacement.h"
#include "ui/WindowPlaceMemory.h"

namespace {

const char kTestKey[] = "Software\\VORLANE\\QuillonMainWindowTest";

bool ExpectJapanese() {
  return getenv("QUILL_EXPECT_JAPANESE") != nullptr;
}

using FakeSource = ScriptedSource;

class NoMessages : public MessageBoxSink {
 public:
  void ShowError(CaptureMessage message) override { shown.push_back(message); }
  std::vector<CaptureMessage> shown;
};

// Answers the main window's modal windows.
class FakeDialogs : public MainWindowDialogs {
 public:
  void ShowMessage(HWND owner, const std::string& text, const std::string& caption, UINT style) override {
    messages.push_back(text);
    captions.push_back(caption);
    styles.push_back(style);
    if (onMessage) onMessage(owner);
  }
  bool AskSettingsFile(HWND, bool save, const std::string& initialFolder, std::string* path) override {
    asked.push_back(save ? "save" : "open");
    folders.push_back(initialFolder);
    if (answer.empty()) return false;
    *path = answer;
    return true;
  }
  void RunAbout(HINSTANCE, HWND) override { ++abouts; }
  void OpenFolder(HWND, const std::string& folder) override { opened.push_back(folder); }

  std::string answer;
  std::function<void(HWND owner)> onMessage;  // while the box would be up
  std::vector<std::string> messages, captions, asked, folders, opened;
  std::vector<UINT> styles;
  int abouts = 0;
};

// A RIFF/WAVE file of 16-bit stereo PCM at 44100 Hz with frames of silence.
std::string WaveBytes(uint32_t frames) {
  auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [](uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
  const uint32_t data = frames * 4;
  std::string bytes = "RIFF" + u32(36 + data) + "WAVE";
  bytes += "fmt " + u32(16) + u16(1) + u16(2) + u32(44100) + u32(44100 * 4) + u16(4) + u16(16);
  bytes += "data" + u32(data) + std::string(data, '\0');
  return bytes;
}

// A drop handle as the shell makes it, over the given paths.
HDROP MakeDrop(const std::vector<std::string>& paths) {
  size_t size = sizeof(DROPFILES) + 1;
  for (const std::string& path : paths) size += path.size() + 1;
  HGLOBAL memory = GlobalAlloc(GHND, size);
  auto* files = static_cast<DROPFILES*>(GlobalLock(memory));
  files->pFiles = sizeof(DROPFILES);
  files->fWide = FALSE;
  char* text = reinterpret_cast<char*>(files + 1);
  for (const std::string& path : paths) {
    memcpy(text, path.c_str(), path.size() + 1);
    text += path.size() + 1;
  }
  *text = '\0';
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

// The same with wide names (DragQueryFileW hands them on whole), from UTF-8.
HDROP MakeWideDrop(const std::vector<std::string>& paths) {
  std::vector<std::wstring> wide;
  size_t size = sizeof(DROPFILES) + sizeof(wchar_t);
  for (const std::string& path : paths) {
    wide.push_back(platform::Utf8ToWide(path));
    size += (wide.back().size() + 1) * sizeof(wchar_t);
  }
  HGLOBAL memory = GlobalAlloc(GHND, size);
  auto* files = static_cast<DROPFILES*>(GlobalLock(memory));
  files->pFiles = sizeof(DROPFILES);
  files->fWide = TRUE;
  wchar_t* text = reinterpret_cast<wchar_t*>(files + 1);
  for (const std::wstring& path : wide) {
    memcpy(text, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    text += path.size() + 1;
  }
  *text = L'\0';
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

std::string RegistryString(CRegistry& registry, const char* name) {
  std::string value;
  if (!registry.GetString(name, value)) return "(missing)";
  return value;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestResources();
    SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
    ASSERT_TRUE(registry.Open(kTestKey));

    channel.reset(new DeviceLink(linkSystem));
    channel->Init(0, host.MakeHostIo(linkSystem));
    config.reset(new SoundConfig(&channel->Link(), false, folder.Path()));

    waveIn = new FakeSource("waveIn", {{"Fixed Device", DeviceEntry::FIXED_DEVICE_ID}, {"Mic A", 0}, {"Mic B", 1}});
    sources.Add(std::unique_ptr<SoundCapture>(waveIn));
    coreAudio = new FakeSource("Core Audio", {});
    sources.Add(std::unique_ptr<SoundCapture>(coreAudio));
    waveFile = new SoundCaptureWaveFile(nullptr, CodecFunctions(), waveMessages, SystemClock());
    waveFile->Initialize();
    sources.AddWaveFile(std::unique_ptr<SoundCaptureWaveFile>(waveFile));
    sources.ChooseStartSource();
  }

  SoundCapture* Current() const { return sources.GetCurrent(); }

  void TearDown() override {
    window.reset();
    configWindow.reset();
    // The window's WM_DESTROY posts the quit message: take it off the queue.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    channel->Shutdown();
    registry.Close();
    SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
  }

  // With the real settings window, registered as at start-up.
  void OpenWithSettings() {
    configWindow.reset(new ConfigWindow(*config));
    configWindow->Register(GetModuleHandleA(nullptr), nullptr, static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
    Open();
  }

  // The font defaults to the stock one; the program's own is DialogFont().
  void Open(HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT))) {
    MainWindow::Parts parts;
    parts.configWindow = configWindow.get();
    parts.sources = &sources;
    parts.link = &channel->Link();
    parts.session = &channel->Session();
    parts.download = &channel->Download();
    parts.config = config.get();
    parts.preferences = &preferences;
    parts.dialogs = &dialogs;
    parts.programFolder = folder.Path();
    parts.logFolder = logFolder;
    parts.dpi = dpi;
    if (!monitorAreas.empty()) parts.monitors = [this] { return monitorAreas; };
    window.reset(new MainWindow(parts));
    // As the program starts it: the start-up steps before the window shows.
    ASSERT_TRUE(window->Create(GetModuleHandleA(nullptr), nullptr));
    Startup::RestoreSettingsAndConnect(*window, *config, channel->Session());
    window->Show();
    if (makeControls) window->CreateControls(font);
  }

  HWND Hwnd() const { return window->GetHwnd(); }
  HWND Item(int id) const { return GetDlgItem(Hwnd(), id); }
  std::string Text(int id) const {
    char text[256] = {};
    GetWindowTextA(Item(id), text, sizeof(text));
    return text;
  }
  std::string Caption() const {
    char text[256] = {};
    GetWindowTextA(Hwnd(), text, sizeof(text));
    return text;
  }
  int Selection(int id) const { return static_cast<int>(SendMessageA(Item(id), CB_GETCURSEL, 0, 0)); }
  int Count(int id) const { return static_cast<int>(SendMessageA(Item(id), CB_GETCOUNT, 0, 0)); }
  std::string ItemText(int id, int index) const {
    char text[256] = {};
    SendMessageA(Item(id), CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
  }
  // The user picks entry index of a combo box.
  void Choose(int id, int index) {
    SendMessageA(Item(id), CB_SETCURSEL, index, 0);
    SendMessageA(Hwnd(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(id)));
  }
  void Click(int id) {
    SendMessageA(Hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
  }
  void Menu(int id) { SendMessageA(Hwnd(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }

  int dpi = 96;                          // the screen's, as start-up reads it
  std::vector<ScreenRect> monitorAreas;  // empty: the system's monitors
  // Open makes the controls too.
  bool makeControls = true;
  TempDir folder;
  CRegistry registry;
  FakeHostIo host;
  FakeLinkSystem linkSystem;
  std::unique_ptr<DeviceLink> channel;
  std::unique_ptr<SoundConfig> config;
  NoMessages waveMessages;
  RegistryMemory memory{registry};
  Preferences preferences{memory};
  CaptureChoice sources{memory};  // owns the three below
  FakeSource* waveIn = nullptr;
  FakeSource* coreAudio = nullptr;
  SoundCaptureWaveFile* waveFile = nullptr;
  FakeDialogs dialogs;
  std::string logFolder;
  std::unique_ptr<ConfigWindow> configWindow;
  std::unique_ptr<MainWindow> window;
};

// The font the program gives its windows: the default GUI font, 14 pixels
// high at 96 DPI.
class DialogFont {
 public:
  explicit DialogFont(int dpi = 96) {
    LOGFONTA font = {};
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
    font.lfHeight = MulDiv(14, dpi, 96);
    font.lfWidth = 0;
    m_font = CreateFontIndirectA(&font);
  }
  ~DialogFont() { DeleteObject(m_font); }
  DialogFont(const DialogFont&) = delete;
  DialogFont& operator=(const DialogFont&) = delete;
  HFONT Get() const { return m_font; }

 private:
  HFONT m_font;
};

}  // namespace

TEST_F(MainWindowTest, ControlsSitAtTheirPlacesWithTheirTexts) {
  Open();
  RECT client = {};
  GetClientRect(Hwnd(), &client);
  EXPECT_EQ(client.right, 300);
  EXPECT_EQ(client.bottom, 254);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(Hwnd(), GWL_STYLE)) & 0x00CF0200u, 0x00CA0200u);
  char className[64] = {};
  GetClassNameA(Hwnd(), className, sizeof(className));
  EXPECT_STREQ(className, "Quillon");

  struct Expected {
    int id;
    const char* className;
    int x, y, width, height;  // height: a combo box's dropped height
    uint32_t text;            // 0: not checked here
  };
  const Expected expected[] = {
      {106, "Button", 16, 8, 128, 30, IDS_RESET},
      {107, "ComboBox", 16, 54, 128, 84, 0},
      {108, "ComboBox", 16, 92, 266, 98, 0},
      {109, "ComboBox", 16, 130, 266, 98, 0},
      {110, "Button", 16, 168, 128, 30, IDS_SETTINGS},
      {111, "Button", 16, 210, 64, 30, IDS_LOAD},
      {112, "Button", 86, 210, 64, 30, IDS_SAVE},
      {113, "Button", 156, 210, 64, 30, IDS_DEFAULT},
      {105, "Button", 156, 0, 128, 30, IDS_BXA_AUTOLOAD},
      {114, "Static", 174, 30, 50, 14, IDS_LEFT},
      {116, "Static", 174, 50, 50, 14, IDS_RIGHT},
      {118, "Static", 174, 70, 50, 14, IDS_HIO},
      {119, "Static", 226, 70, 50, 14, IDS_LINK_NONE},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.id);
    HWND item = Item(e.id);
    ASSERT_NE(item, nullptr);
    GetClassNameA(item, className, sizeof(className));
    EXPECT_STREQ(className, e.className);
    RECT rect = {};
    GetWindowRect(item, &rect);
    MapWindowPoints(nullptr, Hwnd(), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, e.x);
    EXPECT_EQ(rect.top, e.y);
    if (e.id == MainWindow::ID_BXA_AUTOLOAD) {
      // Sized to its text where the font needs more than its 128 pixels
      // (the text's width depends on the font Wine finds), never past the
      // window's edge.
      EXPECT_GE(rect.right - rect.left, e.width);
      EXPECT_LE(rect.right, client.right);
    } else {
      EXPECT_EQ(rect.right - rect.left, e.width);
    }
    if (strcmp(e.className, "ComboBox") == 0) {
      // The height a combo box is made with is that of its dropped list.
      EXPECT_EQ(window->FindControl(e.id)->GetHeight(), e.height);
    } else {
      EXPECT_EQ(rect.bottom - rect.top, e.height);
    }
    if (e.text != 0) {
      EXPECT_EQ(Text(e.id), LoadResourceString(e.text));
    }
  }
  EXPECT_NE(GetWindowLongPtrA(Item(119), GWL_STYLE) & SS_RIGHT, 0);
  EXPECT_EQ(SendMessageA(Item(105), BM_GETCHECK, 0, 0), BST_CHECKED);

  // The sources in the application's order, the current one chosen; its
  // listed devices without the ones of id -1.
  ASSERT_EQ(Count(107), 3);
  EXPECT_EQ(ItemText(107, 0), "waveIn");
  EXPECT_EQ(ItemText(107, 2), "WaveFile");
  EXPECT_EQ(Selection(107), 0);
  ASSERT_EQ(Count(108), 3);
  EXPECT_EQ(ItemText(108, 1), "Mic A");
  EXPECT_EQ(Selection(108), 0);
  EXPECT_EQ(window->GetSelectedDevice().id, DeviceEntry::FIXED_DEVICE_ID);
  EXPECT_EQ(RegistryString(registry, "waveIn"), "Fixed Device");
}

TEST_F(MainWindowTest, NotConnectedCaptionAndDisconnectGrayedWithoutDebugger) {
  Open();
  const std::string expected = ExpectJapanese() ? "\x96\xa2\x90\xda\x91\xb1 - Quillon" : "Not connected - Quillon";
  EXPECT_EQ(Caption(), expected);
  EXPECT_TRUE(dialogs.messages.empty()) << "no debugger at start is not an error";

  HMENU file = GetSubMenu(GetMenu(Hwnd()), 0);
  ASSERT_NE(file, nullptr);
  SendMessageA(Hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(file), MAKELPARAM(0, FALSE));
  EXPECT_NE(GetMenuState(file, MainWindow::ID_MENU_DISCONNECT, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_EQ(GetMenuState(file, MainWindow::ID_MENU_CONNECT, MF_BYCOMMAND) & MF_GRAYED, 0u);

  // A box that is found and connects: the caption names it, Disconnect is enabled.
  host.listed = {12345678};
  Menu(MainWindow::ID_MENU_CONNECT);
  EXPECT_EQ(Caption(), "1234567-8 - Quillon");
  SendMessageA(Hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(file), MAKELPARAM(0, FALSE));
  EXPECT_EQ(GetMenuState(file, MainWindow::ID_MENU_DISCONNECT, MF_BYCOMMAND) & MF_GRAYED, 0u);

  Menu(MainWindow::ID_MENU_DISCONNECT);
  EXPECT_EQ(channel->Session().GetDebuggerId(), 0u);
  window->GetStatus().UpdateCaption();
  EXPECT_EQ(Caption(), expected);
}

// At start the auto-saved settings are restored first; the message comes
// before the window is shown.
TEST_F(MainWindowTest, ARefusedConnectionShowsTheBoxMessage) {
  host.listed = {42};
  host.connectResult = -1;
  folder.Write(SoundConfig::AUTOSAVE_FILE, "Quillon\r\n*SoundParam\r\nVolume:   0.25\r\n");
  std::string volumeThen;
  bool shownThen = true;
  dialogs.onMessage = [&](HWND owner) {
    volumeThen = config->GetItem(8)->GetValue();
    shownThen = IsWindowVisible(owner) != FALSE;
  };
  Open();
  EXPECT_EQ(volumeThen, "0.25");
  EXPECT_FALSE(shownThen);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], "QD-KAV-BOX is not connected.");
  EXPECT_EQ(dialogs.captions[0], "Quillon");
  EXPECT_EQ(dialogs.styles[0], static_cast<UINT>(MB_ICONHAND | MB_SETFOREGROUND));
}

TEST_F(MainWindowTest, ChoosingTheSameApiDoesNothing) {
  Open();
  LogCapture log;
  const int stops = waveIn->stops;
  Choose(107, 0);
  EXPECT_EQ(waveIn->stops, stops);
  EXPECT_EQ(log.Text().find("Chapge API"), std::string::npos);
  EXPECT_EQ(Current(), waveIn);
}

TEST_F(MainWindowTest, ApiChangeStopsTheSourceAndShowsNoDeviceFound) {
  Open();
  Choose(108, 2);  // Mic B
  LogCapture log;
  const int stops = waveIn->stops;
  Choose(107, 1);
  EXPECT_EQ(Current(), coreAudio);
  EXPECT_EQ(waveIn->stops, stops + 1);
  EXPECT_NE(log.Text().find("Chapge API Core Audio\n"), std::string::npos);
  EXPECT_EQ(RegistryString(registry, "API"), "Core Audio");
  EXPECT_EQ(RegistryString(registry, "waveIn"), "Mic B");

  // No devices: the one entry "No Device Found", nothing selected, nothing written.
  ASSERT_EQ(Count(108), 1);
  EXPECT_EQ(ItemText(108, 0), LoadResourceString(IDS_NO_DEVICE_FOUND));
  EXPECT_EQ(window->GetSelectedDevice().id, DeviceEntry::NO_DEVICE_ID);
  EXPECT_EQ(window->GetSelectedDevice().name, "");
  EXPECT_EQ(RegistryString(registry, "Core Audio"), "(missing)");

  // Back: the device stored for the source is chosen again.
  Choose(107, 0);
  EXPECT_EQ(window->GetSelectedDevice().name, "Mic B");
}

TEST_F(MainWindowTest, DeviceChangeStopsTheSourceAndWritesTheRegistry) {
  Open();
  LogCapture log;
  const int stops = waveIn->stops;
  Choose(108, 1);
  EXPECT_EQ(waveIn->stops, stops + 1);
  EXPECT_EQ(window->GetSelectedDevice().name, "Mic A");
  EXPECT_EQ(window->GetSelectedDevice().id, 0);
  EXPECT_EQ(RegistryString(registry, "waveIn"), "Mic A");
  EXPECT_NE(log.Text().find("Change Device Mic A\n"), std::string::npos);

  // The same device again changes nothing.
  Choose(108, 1);
  EXPECT_EQ(waveIn->stops, stops + 1);

  // Opening the list enumerates afresh; a device that went away gives way to
  // the first one, which is written back.
  waveIn->devices = {{"Fixed Device", DeviceEntry::FIXED_DEVICE_ID}, {"Mic B", 1}};
  SendMessageA(Hwnd(), WM_COMMAND, MAKEWPARAM(108, CBN_DROPDOWN), reinterpret_cast<LPARAM>(Item(108)));
  EXPECT_EQ(Count(108), 2);
  EXPECT_EQ(window->GetSelectedDevice().name, "Fixed Device");
  EXPECT_EQ(RegistryString(registry, "waveIn"), "Fixed Device");
  EXPECT_EQ(waveIn->stops, stops + 2);
}

// A channel stored by an earlier version under "<source>@<device>" is left
// as it is and does not stand in the way of the stored device.
TEST_F(MainWindowTest, TheStoredDeviceIsPreferredAtStart) {
  registry.SetString("waveIn", "Mic B");
  registry.SetString("waveIn@Mic B", "Rear");
  Open();
  EXPECT_EQ(Selection(108), 2);
  EXPECT_EQ(window->GetSelectedDevice().name, "Mic B");
  EXPECT_EQ(RegistryString(registry, "waveIn@Mic B"), "Rear");
}

// No source has channels: the channel list is empty and grayed from the
// start, whatever source or device is chosen.
TEST_F(MainWindowTest, ChannelListStaysEmptyAndGrayed) {
  Open();
  const auto expectGrayedAndEmpty = [this](const char* when) {
    EXPECT_FALSE(IsWindowEnabled(Item(MainWindow::ID_CHANNEL))) << when;
    EXPECT_EQ(Count(MainWindow::ID_CHANNEL), 0) << when;
  };
  expectGrayedAndEmpty("at start");
  Choose(108, 2);
  expectGrayedAndEmpty("after a device change");
  Choose(107, 1);
  expectGrayedAndEmpty("on a source without devices");
  Choose(107, 0);
  SendMessageA(Hwnd(), WM_COMMAND, MAKEWPARAM(108, CBN_DROPDOWN), reinterpret_cast<LPARAM>(Item(108)));
  expectGrayedAndEmpty("after the devices were listed afresh");
}

TEST_F(MainWindowTest, AnUpperCaseWavIsLoadedAsASettingsFile) {
  Open();
  folder.Write("X.WAV", WaveBytes(100));
  DragAcceptFiles(Hwnd(), TRUE);
  SendMessageA(Hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({folder.File("X.WAV")})), 0);
  // Taken for a settings file, which it is not: the settings model's message.
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find("X.WAV"), std::string::npos);
  EXPECT_EQ(Current(), waveIn);
  EXPECT_TRUE(waveMessages.shown.empty());
  EXPECT_EQ(waveFile->GetFileName(), "");

  // A path of any length is taken whole: a settings file deeper than 260
  // characters loads.
  std::string deep = folder.Path() + "deep";
  ASSERT_TRUE(platform::MakeDirectory(deep.c_str()));
  while (deep.size() < 300) {
    deep += "\\a-folder-of-a-long-path";
    ASSERT_TRUE(platform::MakeDirectory(deep.c_str()));
  }
  ASSERT_EQ(WriteFileReplacing(deep + "\\quiet.cfg", "Quillon\r\n*SoundParam\r\nVolume:   0.25\r\n", 40),
            FileWriteResult::OK);
  SendMessageA(Hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeWideDrop({deep + "\\quiet.cfg"})), 0);
  EXPECT_EQ(dialogs.messages.size(), 1u);
  ASSERT_EQ(config->GetItem(8)->GetKey(), "Volume");
  EXPECT_EQ(config->GetItem(8)->GetValue(), "0.25");

  // A real settings file under a name of any extension loads and applies.
  folder.Write("loud.txt", "Quillon\r\n*SoundParam\r\nVolume:   0.50\r\n");
  SendMessageA(Hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({folder.File("loud.txt")})), 0);
  EXPECT_EQ(dialogs.messages.size(), 1u);
  ASSERT_EQ(config->GetItem(8)->GetKey(), "Volume");
  EXPECT_EQ(config->GetItem(8)->GetValue(), "0.50");
  EXPECT_NE(folder.Read("Quillon.autogen.cfg").find("0.50"), std::string::npos);
}

// A path handed over by a second start (WM_COPYDATA) opens as a dropped
// file: after the sender has its answer (from a posted message), and only
// once the controls exist (after the command line's files). Data that are
// not a full path with the program's tag are refused and open nothing.
TEST_F(MainWindowTest, HandedOverPathsOpenAsDroppedFiles) {
  makeControls = false;
  Open();
  folder.Write("loud.cfg", "Quillon\r\n*SoundParam\r\nVolume:   0.50\r\n");
  folder.Write("one.wav", WaveBytes(4410));
  const std::string japanese = folder.File(u8"音ソ");
  ASSERT_TRUE(platform::MakeDirectory(japanese.c_str()));
  const std::string wave = WaveBytes(2205);
  ASSERT_EQ(WriteFileReplacing(japanese + u8"\\表 能.wav", wave.data(), wave.size()), FileWriteResult::OK);
  auto send = [this](uint64_t tag, const std::wstring& text, size_t bytes) {
    COPYDATASTRUCT data = {};
    data.dwData = static_cast<ULONG_PTR>(tag);
    data.cbData = static_cast<DWORD>(bytes);
    data.lpData = const_cast<wchar_t*>(text.data());
    return SendMessageW(Hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  };
  auto hand = [&](const std::string& path) {
    const std::wstring wide = platform::Utf8ToWide(path);
    return send(HANDED_PATH_TAG, wide, wide.size() * sizeof(wchar_t));
  };
  auto pump = [] {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  };
  ASSERT_EQ(config->GetItem(8)->GetKey(), "Volume");
  const std::string volume = config->GetItem(8)->GetValue();
  ASSERT_NE(volume, "0.50");

  EXPECT_EQ(TRUE, hand(folder.File("loud.cfg")));
  pump();
  EXPECT_EQ(volume, config->GetItem(8)->GetValue()) << "opened before the controls existed";
  window->CreateControls(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
  // The command line's wave file first, then the settings file handed over.
  window->OpenFiles({folder.File("one.wav")});
  EXPECT_EQ("0.50", config->GetItem(8)->GetValue());
  EXPECT_EQ(waveFile->GetFileName(), "one.wav");
  EXPECT_EQ(Current(), waveFile);

  // A path in Japanese with a space, handed over once the window runs.
  EXPECT_EQ(TRUE, hand(japanese + u8"\\表 能.wav"));
  EXPECT_EQ(waveFile->GetFileName(), "one.wav") << "opened before the sender had its answer";
  pump();
  EXPECT_EQ(waveFile->GetFileName(), u8"表 能.wav");
  EXPECT_EQ(waveFile->GetFrameCount(), 2205u);
  EXPECT_EQ(ItemText(108, 0), platform::PathToDisplay(u8"表 能.wav"));

  // Refused: another tag, a byte count that splits a character, a NUL
  // inside, a relative path; nothing opens.
  const std::wstring other = platform::Utf8ToWide(folder.File("one.wav"));
  const std::wstring withNul = other + std::wstring(1, L'\0') + L"x";
  EXPECT_EQ(FALSE, send(HANDED_PATH_TAG + 1, other, other.size() * sizeof(wchar_t)));
  EXPECT_EQ(FALSE, send(HANDED_PATH_TAG, other, other.size() * sizeof(wchar_t) - 1));
  EXPECT_EQ(FALSE, send(HANDED_PATH_TAG, withNul, withNul.size() * sizeof(wchar_t)));
  EXPECT_EQ(FALSE, hand("one.wav"));
  EXPECT_EQ(FALSE, SendMessageW(Hwnd(), WM_COPYDATA, 0, 0));
  pump();
  EXPECT_EQ(waveFile->GetFileName(), u8"表 能.wav");
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(waveMessages.shown.empty());
}

TEST_F(MainWindowTest, TwoDroppedWaveFilesTheLastAcceptedStays) {
  Open();
  folder.Write("one.wav", WaveBytes(4410));
  folder.Write("two.wav", WaveBytes(8820));
  LogCapture log;
  SendMessageA(Hwnd(), WM_DROPFILES,
               reinterpret_cast<WPARAM>(MakeDrop({folder.File("one.wav"), folder.File("two.wav")})), 0);
  EXPECT_EQ(waveFile->GetFileName(), "two.wav");
  EXPECT_EQ(waveFile->GetFrameCount(), 8820u);
  EXPECT_EQ(Current(), waveFile);
  EXPECT_EQ(Selection(107), 2);
  EXPECT_EQ(RegistryString(registry, "API"), "WaveFile");
  EXPECT_NE(log.Text().find("Chapge API WaveFile\n"), std::string::npos);
  ASSERT_EQ(Count(108), 1);
  EXPECT_EQ(ItemText(108, 0), "two.wav");

  // A file the source rejects leaves the loaded one; already current, the
  // device list is refreshed.
  folder.Write("bad.wav", "RIFF----WAVEjunk");
  folder.Write("three.wav", WaveBytes(100));
  SendMessageA(Hwnd(), WM_DROPFILES,
               reinterpret_cast<WPARAM>(MakeDrop({folder.File("three.wav"), folder.File("bad.wav")})), 0);
  EXPECT_EQ(waveMessages.shown.size(), 1u);
  EXPECT_EQ(waveFile->GetFileName(), "three.wav");
  EXPECT_EQ(ItemText(108, 0), "three.wav");

  // A file in a folder named in any language plays, whatever the code page:
  // under code page 932 the second byte of ソ is 0x5C, a "\".
  const std::string japanese = folder.File(u8"音ソ表能");
  ASSERT_TRUE(platform::MakeDirectory(japanese.c_str()));
  const std::string wave = WaveBytes(2205);
  ASSERT_EQ(WriteFileReplacing(japanese + u8"\\ソ.wav", wave.data(), wave.size()), FileWriteResult::OK);
  SendMessageA(Hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeWideDrop({japanese + u8"\\ソ.wav"})), 0);
  EXPECT_EQ(waveMessages.shown.size(), 1u);
  EXPECT_EQ(waveFile->GetFileName(), u8"ソ.wav");
  EXPECT_EQ(waveFile->GetFrameCount(), 2205u);
  // The list shows it in the code page's text.
  EXPECT_EQ(ItemText(108, 0), platform::PathToDisplay(u8"ソ.wav"));
}

TEST_F(MainWindowTest, SettingsFileButtons) {
  Open();
  // Cancelled: nothing changes, nothing is stored.
  Click(111);
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_EQ(dialogs.asked[0], "open");
  EXPECT_EQ(dialogs.folders[0], folder.Path()) << "no stored folder: the program's";
  EXPECT_EQ(RegistryString(registry, "Path Config"), "(missing)");

  // Save into a sub-folder: the folder is remembered and offered next time.
  CreateDirectoryA(folder.File("cfg").c_str(), nullptr);
  dialogs.answer = folder.File("cfg\\mine.cfg");
  Click(112);
  EXPECT_EQ(dialogs.asked.back(), "save");
  EXPECT_EQ(RegistryString(registry, "Path Config"), folder.File("cfg\\"));
  const std::string saved = folder.Read("cfg\\mine.cfg");
  EXPECT_EQ(saved.substr(0, 9), "Quillon\r\n");

  // Load a file that is not a settings file: the message, in front, in the
  // user's language; the folder stored anyway.
  folder.Write("other.cfg", "nothing\r\n");
  dialogs.answer = folder.File("other.cfg");
  Click(111);
  EXPECT_EQ(dialogs.folders.back(), folder.File("cfg\\"));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], "\r\n\"" + folder.File("other.cfg") +
                                     (ExpectJapanese() ? "\" \x82\xcd\x90\xdd\x92\xe8\x83\x74\x83\x40\x83\x43\x83\x8b"
                                                         "\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x81\x42"
                                                       : "\" is not a settings file"));
  EXPECT_EQ(dialogs.captions[0], "Quillon");
  EXPECT_EQ(dialogs.styles[0], static_cast<UINT>(MB_ICONHAND | MB_SETFOREGROUND));
  EXPECT_EQ(RegistryString(registry, "Path Config"), folder.Path());

  // A folder named in any language is stored and offered whole.
  const std::string japanese = folder.File(u8"設定ソ表");
  ASSERT_TRUE(platform::MakeDirectory(japanese.c_str()));
  dialogs.answer = japanese + "\\mine.cfg";
  Click(112);
  std::string stored;
  EXPECT_TRUE(registry.GetPath("Path Config", stored));
  EXPECT_EQ(stored, japanese + "\\");
  EXPECT_EQ(folder.Read(u8"設定ソ表\\mine.cfg").substr(0, 9), "Quillon\r\n");
  dialogs.answer.clear();
  Click(111);
  EXPECT_EQ(dialogs.folders.back(), japanese + "\\");

  // A stored folder that no longer exists: the program's folder.
  registry.SetString("Path Config", folder.File("gone\\"));
  dialogs.answer.clear();
  Click(111);
  EXPECT_EQ(dialogs.folders.back(), folder.Path());
}

// What the settings model tells about a settings file becomes an error box
// owned by the window, with the path in the code page's text (per cent signs
// in it are text like any other).
TEST_F(MainWindowTest, SettingsFileMessages) {
  Open();
  folder.Write("other.cfg", "nothing\r\n");
  const std::string missing = folder.File("missing%s%n.cfg");
  const std::string unwritable = folder.File("no folder%s%n%d") + "\\out.cfg";
  struct Case {
    const char* what;
    std::function<void()> act;
    std::string text;
    UINT style;
  };
  const Case cases[] = {
      {"missing", [&] { config->LoadAndApply(missing); }, "\r\n Could not open \"" + missing + "\" ", MB_ICONHAND},
      {"not settings", [&] { config->LoadAndApply(folder.File("other.cfg")); },
       "\r\n\"" + folder.File("other.cfg") + "\" is not a settings file", MB_ICONHAND | MB_SETFOREGROUND},
      {"cannot save", [&] { config->SaveFile(unwritable); }, "\r\n Could not open\"" + unwritable + "\" ",
       MB_ICONHAND},
  };
  for (const Case& c : cases) {
    dialogs.messages.clear();
    dialogs.captions.clear();
    dialogs.styles.clear();
    c.act();
    ASSERT_EQ(dialogs.messages.size(), 1u) << c.what;
    EXPECT_EQ(dialogs.messages[0], c.text) << c.what;
    EXPECT_EQ(dialogs.captions[0], "Quillon") << c.what;
    EXPECT_EQ(dialogs.styles[0], c.style) << c.what;
  }
}

TEST_F(MainWindowTest, SettingsWindowOpensOnceFollowsDefaultsTakesDropsAndClosesWithTheMainWindow) {
  OpenWithSettings();
  Click(110);
  HWND settings = configWindow->GetHwnd();
  ASSERT_NE(settings, nullptr);
  Click(110);
  EXPECT_EQ(configWindow->GetHwnd(), settings) << "a second click only brings it forward";

  // Default while the window is open: the boxes show the defaults.
  auto* volumeBox = configWindow->FindItemControl(8);
  ASSERT_NE(volumeBox, nullptr);
  config->GetItem(8)->SetText("0.25");
  configWindow->RefreshControls();
  char text[32] = {};
  GetWindowTextA(volumeBox->GetHwnd(), text, sizeof(text));
  ASSERT_STREQ(text, "0.25");
  Click(113);
  GetWindowTextA(volumeBox->GetHwnd(), text, sizeof(text));
  EXPECT_STREQ(text, "1.00");

  // A file dropped on the settings window goes the main window's way.
  folder.Write("two.wav", WaveBytes(441));
  SendMessageA(settings, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({folder.File("two.wav")})), 0);
  EXPECT_EQ(Current(), waveFile);

  SendMessageA(Hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(configWindow->Exists());
  EXPECT_FALSE(IsWindow(settings));
}

// Both windows reopen where they were left while a monitor there is now shows
// them, else whole on the nearest one; the end of a move by the user, and
// closing (minimized too), store where they are. Over a fake monitor list:
// one right of the test display's screen and one at negative coordinates.
// Both lie off that screen, where the windows close at once: Wine, without a
// window manager, waits two seconds for a window shown on it to go.
TEST_F(MainWindowTest, WindowsReopenWhereTheyWereLeftOnAMonitorThatIsThere) {
  const ScreenRect right = {1100, 0, 2124, 736};
  const ScreenRect second = {-800, -100, 0, 500};
  struct Target {
    const char* what;
    const char* left;  // the values it is stored under
    const char* top;
  };
  const Target main = {"main window", "Main Window Left", "Main Window Top"};
  const Target settings = {"settings window", "Config Window Left", "Config Window Top"};
  // Opens the main window, or the settings window from it.
  auto open = [&](const Target& target) -> HWND {
    if (&target == &main) {
      Open();
      return Hwnd();
    }
    if (!window) OpenWithSettings();
    Click(MainWindow::ID_SETTINGS);
    return configWindow->GetHwnd();
  };
  auto close = [&](const Target& target) {
    if (&target == &settings) {
      configWindow->Close();
      return;
    }
    window.reset();
    MSG msg;  // the quit message of WM_DESTROY
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  };
  auto stored = [&](const Target& target) {
    uint32_t left = 0, top = 0;
    if (!registry.GetDword(target.left, left) || !registry.GetDword(target.top, top)) return std::string("(none)");
    return std::to_string(static_cast<int32_t>(left)) + "," + std::to_string(static_cast<int32_t>(top));
  };

  constexpr int32_t kFlushRight = INT32_MIN;  // expected: the right edge on the right monitor's
  struct Case {
    const char* what;
    std::vector<ScreenRect> areas;
    int32_t left, top;                  // stored
    int32_t expectedLeft, expectedTop;  // where it opens
  };
  const Case cases[] = {
      {"on the right monitor", {right, second}, 1200, 120, 1200, 120},
      {"on the second, at negative coordinates", {right, second}, -700, -50, -700, -50},
      {"off every monitor to the right", {right, second}, 3000, 100, kFlushRight, 100},
      {"off every monitor to the left", {right, second}, -5000, -50, -800, -50},
      {"its monitor unplugged", {right}, -700, -50, 1100, 0},
  };
  for (const Target* target : {&main, &settings}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(target->what) + ", " + c.what);
      monitorAreas = c.areas;
      registry.SetDword(target->left, static_cast<uint32_t>(c.left));
      registry.SetDword(target->top, static_cast<uint32_t>(c.top));
      HWND hwnd = open(*target);
      ASSERT_NE(hwnd, nullptr);
      RECT rect = {};
      GetWindowRect(hwnd, &rect);
      EXPECT_EQ(rect.left, c.expectedLeft == kFlushRight ? right.right - (rect.right - rect.left) : c.expectedLeft);
      EXPECT_EQ(rect.top, c.expectedTop);
      bool whole = false;
      for (const ScreenRect& area : c.areas) {
        whole = whole || (rect.left >= area.left && rect.top >= area.top && rect.right <= area.right &&
                          rect.bottom <= area.bottom);
      }
      EXPECT_TRUE(whole) << "whole on one monitor";
      close(*target);
    }

    // Moved by the user: stored when the move ends, and again on closing.
    SCOPED_TRACE(target->what);
    monitorAreas = {right, second};
    HWND hwnd = open(*target);
    SetWindowPos(hwnd, nullptr, 1300, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SendMessageA(hwnd, WM_EXITSIZEMOVE, 0, 0);
    EXPECT_EQ(stored(*target), "1300,150");
    SetWindowPos(hwnd, nullptr, -600, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    // Closed minimized: where it was before.
    ShowWindow(hwnd, SW_MINIMIZE);
    EXPECT_TRUE(IsIconic(hwnd));
    close(*target);
    EXPECT_EQ(stored(*target), "-600,30");
    hwnd = open(*target);
    RECT rect = {};
    GetWindowRect(hwnd, &rect);
    EXPECT_EQ(rect.left, -600);
    EXPECT_EQ(rect.top, 30);
    close(*target);
  }

  // The system's monitors: the one screen of the test's display.
  RECT work = {};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const std::vector<ScreenRect> system = SystemMonitorWorkAreas();
  ASSERT_EQ(system.size(), 1u);
  EXPECT_EQ(system[0], (ScreenRect{work.left, work.top, work.right, work.bottom}));
}

TEST_F(MainWindowTest, BxaCheckBoxStoresTheFlag) {
  Open();
  SendMessageA(Item(105), BM_SETCHECK, BST_UNCHECKED, 0);
  Click(105);
  uint32_t flag = 7;
  EXPECT_TRUE(registry.GetDword("Bxa Auto Load", flag));
  EXPECT_EQ(flag, 0u);
  EXPECT_EQ(window->GetBxaAutoLoad(), 0u);
  SendMessageA(Item(105), BM_SETCHECK, BST_CHECKED, 0);
  Click(105);
  EXPECT_TRUE(registry.GetDword("Bxa Auto Load", flag));
  EXPECT_EQ(flag, 1u);
}

// The spline menu item reflects the stored choice, hands the converter kind to
// every source, stores it and restarts the stream; unknown values are the
// band-limited default.
TEST_F(MainWindowTest, SplineMenuItemChoosesTheSourcesConverter) {
  struct Case {
    uint32_t stored;
    ConverterKind atStart;
  };
  for (const Case& c : {Case{0, ConverterKind::SINC}, Case{1, ConverterKind::SPLINE}, Case{9, ConverterKind::SINC}}) {
    registry.SetDword("Converter", c.stored);
    Open();
    HMENU file = GetSubMenu(GetMenu(Hwnd()), 0);
    const bool checked = c.atStart == ConverterKind::SPLINE;
    EXPECT_EQ((GetMenuState(file, MainWindow::ID_MENU_SPLINE, MF_BYCOMMAND) & MF_CHECKED) != 0, checked) << c.stored;
    for (SoundCapture* source : {static_cast<SoundCapture*>(waveIn), static_cast<SoundCapture*>(coreAudio),
                                 static_cast<SoundCapture*>(waveFile)}) {
      EXPECT_EQ(source->GetConverterKind(), c.atStart) << c.stored;
    }

    const int stops = waveIn->stops;
    Menu(MainWindow::ID_MENU_SPLINE);
    const ConverterKind toggled = checked ? ConverterKind::SINC : ConverterKind::SPLINE;
    EXPECT_EQ(window->GetConverterKind(), toggled);
    EXPECT_EQ((GetMenuState(file, MainWindow::ID_MENU_SPLINE, MF_BYCOMMAND) & MF_CHECKED) != 0, !checked);
    EXPECT_EQ(waveFile->GetConverterKind(), toggled);
    EXPECT_EQ(coreAudio->GetConverterKind(), toggled);
    EXPECT_EQ(waveIn->stops, stops + 1) << "the stream restarts with the new converter";
    uint32_t stored = 7;
    EXPECT_TRUE(registry.GetDword("Converter", stored));
    EXPECT_EQ(stored, static_cast<uint32_t>(toggled));
    window.reset();
    MSG msg;  // the quit message of WM_DESTROY
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
}

TEST_F(MainWindowTest, ResetStopsTheSourceAndClosesTheChannel) {
  host.listed = {12345678};
  Open();
  channel->Link().Update();
  const PacketChannel::Status open = channel->Link().GetStatus();
  ASSERT_TRUE(open == PacketChannel::Status::OPEN || open == PacketChannel::Status::CONNECTED);
  const int stops = waveIn->stops;
  const int closes = host.closes;
  Click(106);
  EXPECT_EQ(waveIn->stops, stops + 1);
  EXPECT_EQ(channel->Link().GetStatus(), PacketChannel::Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(host.closes, closes + 1) << "the channel is closed through the kit, once";
}

TEST_F(MainWindowTest, StatusDisplaysAndAbout) {
  Open();
  std::string link;
  ASSERT_TRUE(window->GetStatus().GetLinkText(&link));
  EXPECT_EQ(link, "-");
  window->GetStatus().SetLinkText(LinkState::ACTIVE);
  EXPECT_EQ(Text(119), "active");
  // The level display: two right-aligned numbers in the 50 x 34 area at (226,30).
  window->GetStatus().DrawLevels(88, 88);
  HDC dc = GetDC(Hwnd());
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  int inked = 0, inkedRightHalf = 0;
  for (int y = 30; y < 64; ++y) {
    for (int x = 226; x < 276; ++x) {
      if (GetPixel(dc, x, y) != face) {
        ++inked;
        if (x >= 251) ++inkedRightHalf;
      }
    }
  }
  ReleaseDC(Hwnd(), dc);
  EXPECT_GT(inked, 0);
  EXPECT_EQ(inked, inkedRightHalf) << "right-aligned";

  Menu(MainWindow::ID_MENU_ABOUT);
  EXPECT_EQ(dialogs.abouts, 1);
  EXPECT_NE(IsWindow(Hwnd()), 0);

  // Exit closes the window: the source stops.
  const int stops = waveIn->stops;
  Menu(MainWindow::ID_MENU_EXIT);
  EXPECT_EQ(window->GetHwnd(), nullptr);
  EXPECT_EQ(waveIn->stops, stops + 1);
}

// The idle tick's codes in words: the link text whole, a notice of the level
// display in its two lines (the settings model's notice comes as a text id).
TEST_F(MainWindowTest, StatusCodesInWords) {
  Open();
  const struct {
    LinkState state;
    const char* text;
  } links[] = {
      {LinkState::NONE, "-"},
      {LinkState::ACTIVE, "active"},
      {LinkState::WAITING, "waiting for debugger"},
      {LinkState::NO_LIBRARY, "no HIO library"},
      {LinkState::NO_IMAGE, "no Quillon.bxa"},
  };
  for (const auto& link : links) {
    ASSERT_TRUE(window->GetStatus().SetLinkText(link.state));
    EXPECT_EQ(Text(119), link.text);
  }
  StatusTexts texts;
  const struct {
    LevelNotice notice;
    const char* first;
    const char* second;
  } notices[] = {
      {LevelNotice::NONE_ACTIVE, "-", "-"},           {LevelNotice::NO_DEVICE, "No", "device"},
      {LevelNotice::DEVICE_GONE, "Device", "gone"},   {LevelNotice::FORMAT_REFUSED, "Format", "refused"},
      {LevelNotice::START_FAILED, "Cannot", "start"}, {LevelNotice::DEFAULT_DEVICE, "Default", "device"},
  };
  for (const auto& notice : notices) {
    EXPECT_EQ(texts.Notice(notice.notice), StatusTexts::Lines(notice.first, notice.second))
        << static_cast<int>(notice.notice);
  }
  EXPECT_EQ(texts.Notice(ConfigNotice::AUTOSAVE_UNREAD), StatusTexts::Lines("Settings", "unread"));
}

TEST_F(MainWindowTest, MenusAndLabelsComeFromTheLanguageTable) {
  Open();
  HMENU bar = GetMenu(Hwnd());
  char text[64] = {};
  GetMenuStringA(bar, 0, text, sizeof(text), MF_BYPOSITION);
  const std::string file = text;
  GetMenuStringA(GetSubMenu(bar, 0), MainWindow::ID_MENU_CONNECT, text, sizeof(text), MF_BYCOMMAND);
  const std::string connect = text;
  GetMenuStringA(bar, 1, text, sizeof(text), MF_BYPOSITION);
  const std::string help = text;
  GetMenuStringA(GetSubMenu(bar, 0), MainWindow::ID_MENU_SPLINE, text, sizeof(text), MF_BYCOMMAND);
  const std::string spline = text;
  if (ExpectJapanese()) {
    EXPECT_EQ(file, "\x83\x74\x83\x40\x83\x43\x83\x8b(&F)");
    EXPECT_EQ(connect, "\x90\xda\x91\xb1(&C)");
    EXPECT_EQ(Text(106), "\x83\x8a\x83\x5a\x83\x62\x83\x67(&R)");
    EXPECT_EQ(Text(110), "\x90\xdd\x92\xe8(&S)");
  } else {
    EXPECT_EQ(file, "&File");
    EXPECT_EQ(connect, "&Connect");
    EXPECT_EQ(help, "&Help");
    EXPECT_EQ(spline, "&Spline Converter (No Low-Pass Filter)");
    EXPECT_EQ(Text(106), "&Reset");
    EXPECT_EQ(Text(110), "&Settings");
    EXPECT_EQ(Text(105), "&Autoloading of bxa");
  }
}

// Every button, check box and label shows its whole text in the program's
// font, inside the window and clear of its neighbours; at 96 DPI and, with
// the font and every place and size scaled, at 144 and 192. Run in both
// languages.
// The window opens at 96 DPI and is moved to monitors of 144, 192 and 96 DPI
// again (WM_DPICHANGED): at each its client area and controls are those of
// 96 DPI scaled, every text fits its box, and the font made for the DPI
// before is freed.
TEST_F(MainWindowTest, MenusAndLabelsFitTheirBoxes) {
  DialogFont font(96);
  Open(font.Get());
  HFONT previousFont = font.Get();
  int previousDpi = 96;
  for (int screenDpi : {96, 144, 192, 96}) {
    SCOPED_TRACE("DPI " + std::to_string(screenDpi));
    auto scaled = [&](int length) { return MulDiv(length, screenDpi, 96); };
    if (screenDpi != previousDpi) {
      // What the link text and the selectors show stays over the move, and
      // the source is neither listed afresh nor restarted.
      window->GetStatus().SetLinkText(LinkState::WAITING);
      const std::string waiting = Text(119);
      const uint32_t restarts = sources.GetRestartRequests();
      const int api = Selection(MainWindow::ID_API), apis = Count(MainWindow::ID_API);
      const std::string device = Text(MainWindow::ID_DEVICE);
      RECT frame = {};
      GetWindowRect(Hwnd(), &frame);
      RECT suggested = {frame.left + 10, frame.top + 20,
                        frame.left + 10 + MulDiv(frame.right - frame.left, screenDpi, previousDpi),
                        frame.top + 20 + MulDiv(frame.bottom - frame.top, screenDpi, previousDpi)};
      EXPECT_EQ(
          SendMessageA(Hwnd(), WM_DPICHANGED, MAKEWPARAM(screenDpi, screenDpi), reinterpret_cast<LPARAM>(&suggested)),
          0);
      RECT moved = {};
      GetWindowRect(Hwnd(), &moved);
      EXPECT_EQ(moved.left, suggested.left);
      EXPECT_EQ(moved.top, suggested.top);
      EXPECT_EQ(window->GetDpi(), screenDpi);
      EXPECT_EQ(Text(119), waiting);
      EXPECT_EQ(sources.GetRestartRequests(), restarts);
      EXPECT_EQ(Selection(MainWindow::ID_API), api);
      EXPECT_EQ(Count(MainWindow::ID_API), apis);
      EXPECT_EQ(Text(MainWindow::ID_DEVICE), device);
      EXPECT_FALSE(IsWindowEnabled(Item(MainWindow::ID_CHANNEL))) << "the channel list made again is grayed";
      EXPECT_EQ(Count(MainWindow::ID_CHANNEL), 0);
      window->GetStatus().SetLinkText(LinkState::NONE);
      const HFONT now = reinterpret_cast<HFONT>(SendMessageA(Item(106), WM_GETFONT, 0, 0));
      EXPECT_NE(now, previousFont);
      // The test's own font stays; each one the window made is freed when
      // it makes the next.
      EXPECT_EQ(GetObjectType(previousFont), previousFont == font.Get() ? static_cast<DWORD>(OBJ_FONT) : 0u);
      LOGFONTA made = {};
      GetObjectA(now, sizeof(made), &made);
      EXPECT_EQ(made.lfHeight, scaled(14));
      previousFont = now;
      previousDpi = screenDpi;
    }
    RECT area = {};
    GetClientRect(Hwnd(), &area);
    EXPECT_EQ(area.right, scaled(300));
    EXPECT_EQ(area.bottom, scaled(254));
    struct Room {
      int id;
      int besideText;  // what the control draws beside its text, at 96 DPI
    };
    const int check = GetSystemMetrics(SM_CXMENUCHECK) + scaled(4);
    const Room rooms[] = {{106, 6}, {110, 6}, {111, 6}, {112, 6}, {113, 6},
                          {105, 0}, {114, 0}, {116, 0}, {118, 0}, {119, 0}};
    std::vector<RECT> places;
    for (const Room& room : rooms) {
      const std::string text = Text(room.id);
      SCOPED_TRACE(std::to_string(room.id) + " \"" + text + "\"");
      ASSERT_FALSE(text.empty());
      RECT client = {};
      GetClientRect(Item(room.id), &client);
      const int beside = room.id == 105 ? check : scaled(room.besideText);
      EXPECT_LE(TextExtent(Item(room.id), RemoveMnemonicMarks(text)) + beside, client.right);
      RECT place = {};
      GetWindowRect(Item(room.id), &place);
      MapWindowPoints(nullptr, Hwnd(), reinterpret_cast<POINT*>(&place), 2);
      EXPECT_GE(place.left, 0);
      EXPECT_LE(place.right, area.right);
      for (const RECT& other : places) {
        RECT overlap = {};
        EXPECT_FALSE(IntersectRect(&overlap, &place, &other)) << "overlaps a control made before it";
      }
      places.push_back(place);
    }
    // The link text is shown whole once the link is up.
    window->GetStatus().SetLinkText(LinkState::ACTIVE);
    RECT link = {};
    GetClientRect(Item(119), &link);
    EXPECT_LE(TextExtent(Item(119), Text(119)), link.right);
    // So are the wait for a lost debugger and the two missing files, over the
    // HIO label and clear of the API selector; the label is back with the
    // short texts.
    for (LinkState state : {LinkState::WAITING, LinkState::NO_LIBRARY, LinkState::NO_IMAGE}) {
      SCOPED_TRACE(static_cast<int>(state));
      window->GetStatus().SetLinkText(state);
      GetClientRect(Item(119), &link);
      EXPECT_LE(TextExtent(Item(119), Text(119)), link.right);
      RECT wide = {};
      GetWindowRect(Item(119), &wide);
      MapWindowPoints(nullptr, Hwnd(), reinterpret_cast<POINT*>(&wide), 2);
      EXPECT_GE(wide.left, scaled(16 + 128));
      EXPECT_LE(wide.right, area.right);
      EXPECT_FALSE(IsWindowVisible(Item(118)));
    }
    window->GetStatus().SetLinkText(LinkState::NONE);
    RECT usual = {};
    GetWindowRect(Item(119), &usual);
    MapWindowPoints(nullptr, Hwnd(), reinterpret_cast<POINT*>(&usual), 2);
    EXPECT_EQ(usual.left, scaled(226));
    EXPECT_EQ(usual.right, scaled(276));
    EXPECT_TRUE(IsWindowVisible(Item(118)));
    // The level display's reasons, in the labels' font: each of the two lines
    // within the display's 50 pixels (scaled).
    StatusTexts texts;
    std::vector<StatusTexts::Lines> notices = {texts.Notice(ConfigNotice::AUTOSAVE_UNREAD)};
    for (LevelNotice notice : {LevelNotice::NO_DEVICE, LevelNotice::DEVICE_GONE, LevelNotice::FORMAT_REFUSED,
                               LevelNotice::START_FAILED, LevelNotice::DEFAULT_DEVICE}) {
      notices.push_back(texts.Notice(notice));
    }
    for (const StatusTexts::Lines& lines : notices) {
      ASSERT_FALSE(lines.second.empty()) << lines.first;
      for (const std::string& line : {lines.first, lines.second}) {
        EXPECT_LE(TextExtent(Item(114), line), scaled(50)) << "\"" << line << "\"";
      }
    }
  }
}

// The window answers the keyboard as a dialog does once its messages go
// through IsDialogMessage, as the program's message loop sends them: Tab
// and Shift+Tab walk the controls that take the keyboard, Enter presses the
// focused push button or else Settings (the one default button), and each
// button has its own mnemonic.
TEST_F(MainWindowTest, KeyboardWalksTheControlsAndPressesTheButtons) {
  Open();
  // The keyboard starts on the first control, as in a dialog.
  EXPECT_EQ(GetFocus(), Item(MainWindow::ID_RESET));
  // One default push button, the others plain ones.
  for (int id : {MainWindow::ID_RESET, MainWindow::ID_SETTINGS, MainWindow::ID_LOAD, MainWindow::ID_SAVE,
                 MainWindow::ID_DEFAULT}) {
    const LONG_PTR type = GetWindowLongPtrA(Item(id), GWL_STYLE) & BS_TYPEMASK;
    EXPECT_EQ(type, id == MainWindow::ID_SETTINGS ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) << id;
  }

  // The tab order: every enabled control that takes the keyboard, in the
  // order they were made (the channel list is grayed: no source has channels).
  std::vector<int> order;
  HWND first = GetNextDlgTabItem(Hwnd(), nullptr, FALSE);
  for (HWND at = first; at != nullptr;) {
    order.push_back(GetDlgCtrlID(at));
    at = GetNextDlgTabItem(Hwnd(), at, FALSE);
    if (at == first) break;
  }
  EXPECT_EQ(order, (std::vector<int>{106, 107, 108, 110, 111, 112, 113, 105}));

  // Every button and the check box has a mnemonic, each a different letter.
  std::string letters;
  for (int id : {106, 110, 111, 112, 113, 105}) {
    const std::string text = Text(id);
    const size_t mark = text.find('&');
    ASSERT_NE(mark, std::string::npos) << id << " \"" << text << "\"";
    ASSERT_LT(mark + 1, text.size());
    const char letter = static_cast<char>(toupper(static_cast<unsigned char>(text[mark + 1])));
    EXPECT_EQ(letters.find(letter), std::string::npos) << "\"" << text << "\" shares its mnemonic";
    letters += letter;
  }
  EXPECT_EQ(letters.find_first_of("FH"), std::string::npos) << "the File and Help menus keep theirs";

  // Enter on a focused push button presses that one.
  SetFocus(Item(MainWindow::ID_LOAD));
  EXPECT_EQ(SendMessageA(Hwnd(), DM_GETDEFID, 0, 0), MAKELRESULT(MainWindow::ID_LOAD, DC_HASDEFID));
  SetFocus(Item(MainWindow::ID_API));
  EXPECT_EQ(SendMessageA(Hwnd(), DM_GETDEFID, 0, 0), MAKELRESULT(MainWindow::ID_SETTINGS, DC_HASDEFID));
}

// At a higher DPI the window and every control are those of 96 DPI scaled:
// 450 x 381 at 144 DPI.
TEST_F(MainWindowTest, AtHigherDpiPlacesAndSizesScale) {
  dpi = 144;
  DialogFont font(dpi);
  Open(font.Get());
  RECT client = {};
  GetClientRect(Hwnd(), &client);
  EXPECT_EQ(client.right, 450);
  EXPECT_EQ(client.bottom, 381);
  struct Place {
    int id, x, y, width, height;
  };
  for (const Place& p : {Place{106, 24, 12, 192, 45}, Place{110, 24, 252, 192, 45}, Place{114, 261, 45, 75, 21},
                         Place{118, 261, 105, 75, 21}, Place{119, 339, 105, 75, 21}}) {
    SCOPED_TRACE(p.id);
    RECT rect = {};
    GetWindowRect(Item(p.id), &rect);
    MapWindowPoints(nullptr, Hwnd(), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, p.x);
    EXPECT_EQ(rect.top, p.y);
    EXPECT_EQ(rect.right - rect.left, p.width);
    EXPECT_EQ(rect.bottom - rect.top, p.height);
  }
  // The level display is drawn at (339,45), 75 x 51.
  window->GetStatus().DrawLevels(88, 88);
  HDC dc = GetDC(Hwnd());
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  int inked = 0, outside = 0;
  // Right of the labels and below the check box, above the HIO line.
  for (int y = 45; y < 105; ++y) {
    for (int x = 339; x < 440; ++x) {
      if (GetPixel(dc, x, y) == face) continue;
      if (x < 339 + 75 && y < 45 + 51) {
        ++inked;
      } else {
        ++outside;
      }
    }
  }
  ReleaseDC(Hwnd(), dc);
  EXPECT_GT(inked, 0);
  EXPECT_EQ(outside, 0);
}

TEST_F(MainWindowTest, HelpOpensTheLogFolder) {
  // Without a log file the item is there, grayed.
  Open();
  HMENU help = GetSubMenu(GetMenu(Hwnd()), 1);
  ASSERT_NE(help, nullptr);
  EXPECT_NE(GetMenuState(help, MainWindow::ID_MENU_LOG_FOLDER, MF_BYCOMMAND) & MF_GRAYED, 0u);
  char text[64] = {};
  GetMenuStringA(help, MainWindow::ID_MENU_LOG_FOLDER, text, sizeof(text), MF_BYCOMMAND);
  EXPECT_EQ(std::string(text), LoadResourceString(IDS_MENU_LOG_FOLDER));
  Menu(MainWindow::ID_MENU_LOG_FOLDER);
  EXPECT_TRUE(dialogs.opened.empty());

  window.reset();
  logFolder = folder.Path();
  Open();
  help = GetSubMenu(GetMenu(Hwnd()), 1);
  EXPECT_EQ(GetMenuState(help, MainWindow::ID_MENU_LOG_FOLDER, MF_BYCOMMAND) & MF_GRAYED, 0u);
  Menu(MainWindow::ID_MENU_LOG_FOLDER);
  ASSERT_EQ(dialogs.opened.size(), 1u);
  EXPECT_EQ(dialogs.opened[0], folder.Path());
  EXPECT_NE(IsWindow(Hwnd()), 0);
}

namespace {

// The width of a line in the font of message boxes, at the screen's DPI.
int MessageTextWidth(const std::string& text) {
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return -1;
  HFONT font = CreateFontIndirectA(&metrics.lfMessageFont);
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size = {};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  return size.cx;
}

}  // namespace

// File, Stream Statistics: the running stream's figures, else the last
// stream's, else a line that there has been none.
TEST_F(MainWindowTest, StreamStatisticsShowTheCurrentOrLastStream) {
  Open();
  HMENU file = GetSubMenu(GetMenu(Hwnd()), 0);
  char text[64] = {};
  GetMenuStringA(file, MainWindow::ID_MENU_STREAM_STATS, text, sizeof(text), MF_BYCOMMAND);
  EXPECT_EQ(std::string(text), LoadResourceString(IDS_MENU_STREAM_STATS));
  SoundCapture* current = sources.GetCurrent();
  ASSERT_TRUE(current == waveIn || current == coreAudio);
  auto* source = static_cast<FakeSource*>(current);
  source->Stop();
  source->keepsFigures = true;
  Menu(MainWindow::ID_MENU_STREAM_STATS);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], LoadResourceString(IDS_STATS_NONE));
  if (!ExpectJapanese()) {
    EXPECT_EQ(dialogs.captions[0], "Stream Statistics");
  }
  EXPECT_EQ(dialogs.captions[0].find_first_of("&("), std::string::npos) << "no mnemonic in a caption";
  EXPECT_EQ(dialogs.styles[0], static_cast<UINT>(MB_ICONINFORMATION));

  struct Step {
    bool running;
    uint32_t header;
  } steps[] = {{true, IDS_STATS_CURRENT}, {false, IDS_STATS_LAST}};
  for (const Step& step : steps) {
    if (step.running) {
      ASSERT_TRUE(source->Start(DeviceEntry(), 48000, WAVEFMT_PCM));
    } else {
      source->Stop();
    }
    source->CountRestart();
    Menu(MainWindow::ID_MENU_STREAM_STATS);
    const std::string shown = dialogs.messages.back();
    const std::string header = FormatResourceString(step.header, source->GetName().c_str());
    EXPECT_EQ(shown.substr(0, header.size() + 1), header + "\n") << shown;
    // The figures in the user's language, from the string table.
    const std::string writes = FormatResourceString(IDS_STATS_WRITES, "0", "0", "0.000", "0.000");
    const std::string restarts = FormatResourceString(IDS_STATS_RESTARTS, step.running ? "1" : "2", "0");
    EXPECT_NE(shown.find("\n" + writes + "\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\n" + restarts + "\n"), std::string::npos) << shown;
    if (ExpectJapanese()) {
      EXPECT_EQ(shown.find("Blocks"), std::string::npos) << "English figures in the Japanese box: " << shown;
    }
    // Every line stays within 600 pixels in the message font at 96 DPI, so
    // that a message box on a 1024-pixel screen shows it on one line.
    size_t from = 0;
    for (size_t end; (end = shown.find('\n', from)) != std::string::npos; from = end + 1)
      EXPECT_LE(MessageTextWidth(shown.substr(from, end - from)), 600) << shown.substr(from, end - from);
  }
}

// --- The About dialog -------------------------------------------------------------

namespace {
struct AboutSeen {
  std::string caption, name, version, line1;
  bool hasBitmap = false;
  bool hasIcon = false;
  // The dialog at each DPI it was moved to (WM_DPICHANGED): 96, 144, 192, 96.
  struct AtDpi {
    int dpi = 0;
    SIZE client = {}, bitmap = {}, bitmapBox = {};
    LONG nameFontHeight = 0;
    std::vector<std::string> cut;  // texts wider than their box
    bool bitmapFreed = false;      // the bitmap of the DPI before
  };
  std::vector<AtDpi> steps;
};
AboutSeen s_aboutSeen;

AboutSeen::AtDpi ReadAboutAtDpi(HWND dialog, int dpi) {
  AboutSeen::AtDpi seen;
  seen.dpi = dpi;
  RECT client = {};
  GetClientRect(dialog, &client);
  seen.client = {client.right, client.bottom};
  BITMAP bitmap = {};
  GetObjectA(reinterpret_cast<HBITMAP>(SendDlgItemMessageA(dialog, IDC_ABOUT_BITMAP, STM_GETIMAGE, IMAGE_BITMAP, 0)),
             sizeof(bitmap), &bitmap);
  seen.bitmap = {bitmap.bmWidth, bitmap.bmHeight};
  RECT box = {};
  GetClientRect(GetDlgItem(dialog, IDC_ABOUT_BITMAP), &box);
  seen.bitmapBox = {box.right, box.bottom};
  LOGFONTA font = {};
  GetObjectA(reinterpret_cast<HFONT>(SendDlgItemMessageA(dialog, IDC_ABOUT_NAME, WM_GETFONT, 0, 0)), sizeof(font),
             &font);
  seen.nameFontHeight = font.lfHeight;
  for (int id : {IDC_ABOUT_NAME, IDC_ABOUT_VERSION, IDC_ABOUT_LINE1, IDC_ABOUT_LINE2}) {
    char text[256] = {};
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    if (!TextFitsInDialog(dialog, id, text)) seen.cut.push_back(text);
  }
  return seen;
}

// Runs inside the dialog's modal loop: reads the dialog and closes it.
void CALLBACK ReadAboutAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = FindWindowA("#32770", nullptr);
  if (dialog == nullptr) return;
  KillTimer(nullptr, timer);
  char text[256] = {};
  GetWindowTextA(dialog, text, sizeof(text));
  s_aboutSeen.caption = text;
  GetDlgItemTextA(dialog, IDC_ABOUT_NAME, text, sizeof(text));
  s_aboutSeen.name = text;
  GetDlgItemTextA(dialog, IDC_ABOUT_VERSION, text, sizeof(text));
  s_aboutSeen.version = text;
  GetDlgItemTextA(dialog, IDC_ABOUT_LINE1, text, sizeof(text));
  s_aboutSeen.line1 = text;
  s_aboutSeen.hasBitmap = SendDlgItemMessageA(dialog, IDC_ABOUT_BITMAP, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0;
  s_aboutSeen.hasIcon = SendDlgItemMessageA(dialog, IDC_ABOUT_ICON, STM_GETICON, 0, 0) != 0;
  s_aboutSeen.steps.push_back(ReadAboutAtDpi(dialog, 96));
  for (int dpi : {144, 192, 96}) {
    const HGDIOBJ before =
        reinterpret_cast<HGDIOBJ>(SendDlgItemMessageA(dialog, IDC_ABOUT_BITMAP, STM_GETIMAGE, IMAGE_BITMAP, 0));
    RECT frame = {};
    GetWindowRect(dialog, &frame);
    const int from = s_aboutSeen.steps.back().dpi;
    RECT suggested = {frame.left, frame.top, frame.left + MulDiv(frame.right - frame.left, dpi, from),
                      frame.top + MulDiv(frame.bottom - frame.top, dpi, from)};
    SendMessageA(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    s_aboutSeen.steps.push_back(ReadAboutAtDpi(dialog, dpi));
    s_aboutSeen.steps.back().bitmapFreed = GetObjectType(before) == 0;
  }
  PostMessageA(dialog, WM_CLOSE, 0, 0);
}
}  // namespace

// The choices the window remembers, over the map standing in for the
// registry: what each reads with nothing stored, with a value stored and with
// a value of another kind under its name; and what each change stores.
TEST(Preferences, ReadTheStoredChoicesOrTheirDefaults) {
  using Placed = Preferences::PlacedWindow;
  struct Case {
    const char* what;
    std::map<std::string, uint32_t> numbers;
    std::map<std::string, std::string> texts;
    uint32_t bxaAutoLoad;
    ConverterKind converter;
    std::string settingsFolder;
    // The windows' top-left corners; empty: none stored.
    std::vector<int32_t> mainPlace = {};
    std::vector<int32_t> settingsPlace = {};
  };
  const Case cases[] = {
      {"nothing stored", {}, {}, 1, ConverterKind::SINC, ""},
      {"bxa off", {{"Bxa Auto Load", 0}}, {}, 0, ConverterKind::SINC, ""},
      {"bxa kept as stored", {{"Bxa Auto Load", 2}}, {}, 2, ConverterKind::SINC, ""},
      {"bxa as a text", {}, {{"Bxa Auto Load", "0"}}, 1, ConverterKind::SINC, ""},
      {"spline", {{"Converter", 1}}, {}, 1, ConverterKind::SPLINE, ""},
      {"unknown converter", {{"Converter", 9}}, {}, 1, ConverterKind::SINC, ""},
      {"settings folder", {}, {{"Path Config", "C:\\cfg\\"}}, 1, ConverterKind::SINC, "C:\\cfg\\"},
      {"settings folder as a number", {{"Path Config", 3}}, {}, 1, ConverterKind::SINC, ""},
      {"main window at negative coordinates",
       {{"Main Window Left", 0xFFFFFD44u}, {"Main Window Top", 0xFFFFFFCEu}},
       {},
       1,
       ConverterKind::SINC,
       "",
       {-700, -50}},
      {"settings window",
       {{"Config Window Left", 10}, {"Config Window Top", 20}},
       {},
       1,
       ConverterKind::SINC,
       "",
       {},
       {10, 20}},
      {"only a left", {{"Main Window Left", 10}, {"Config Window Left", 10}}, {}, 1, ConverterKind::SINC, ""},
      {"place as texts", {}, {{"Main Window Left", "10"}, {"Main Window Top", "20"}}, 1, ConverterKind::SINC, ""},
  };
  for (const Case& c : cases) {
    MapMemory memory;
    memory.numbers = c.numbers;
    memory.values = c.texts;
    const Preferences preferences(memory);
    EXPECT_EQ(preferences.GetBxaAutoLoad(), c.bxaAutoLoad) << c.what;
    EXPECT_EQ(preferences.GetConverter(), c.converter) << c.what;
    EXPECT_EQ(preferences.GetSettingsFolder(), c.settingsFolder) << c.what;
    for (Placed placed : {Placed::MAIN, Placed::SETTINGS}) {
      int32_t left = 7, top = 7;
      std::vector<int32_t> place;
      if (preferences.GetWindowPosition(placed, &left, &top)) place = {left, top};
      EXPECT_EQ(place, placed == Placed::MAIN ? c.mainPlace : c.settingsPlace) << c.what;
    }
  }

  MapMemory memory;
  Preferences preferences(memory);
  preferences.SetBxaAutoLoad(0);
  preferences.SetConverter(ConverterKind::SPLINE);
  preferences.SetSettingsFolder("D:\\settings\\");
  preferences.SetWindowPosition(Placed::MAIN, -700, -50);
  preferences.SetWindowPosition(Placed::SETTINGS, 10, 20);
  EXPECT_EQ(memory.numbers, (std::map<std::string, uint32_t>{{"Bxa Auto Load", 0},
                                                             {"Converter", 1},
                                                             {"Main Window Left", 0xFFFFFD44u},
                                                             {"Main Window Top", 0xFFFFFFCEu},
                                                             {"Config Window Left", 10},
                                                             {"Config Window Top", 20}}));
  EXPECT_EQ(memory.values, (std::map<std::string, std::string>{{"Path Config", "D:\\settings\\"}}));
  EXPECT_EQ(preferences.GetBxaAutoLoad(), 0u);
  EXPECT_EQ(preferences.GetConverter(), ConverterKind::SPLINE);
  EXPECT_EQ(preferences.GetSettingsFolder(), "D:\\settings\\");
}

TEST(AboutDialog, VersionText) {
  EXPECT_EQ(FormatVersionText(2, 10, 30, 400), "Version 2.10.0030.0400");
  EXPECT_EQ(FormatVersionText(1, 2, 3, 4), "Version 1.02.0003.0004");
  EXPECT_EQ(FormatVersionText(65535, 65535, 65535, 65535), "Version 65535.65535.65535.65535");
}

TEST(AboutDialog, ShowsNameVersionAndBitmapAndCanOpenAgain) {
  UseTestResources();
  for (int round = 0; round < 2; ++round) {
    s_aboutSeen = AboutSeen();
    SetTimer(nullptr, 0, 50, ReadAboutAndClose);
    RunAboutDialog(GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(s_aboutSeen.caption, LoadResourceString(IDS_ABOUT));
    EXPECT_EQ(s_aboutSeen.name, "Quillon");
    EXPECT_EQ(s_aboutSeen.version, GetModuleVersionText(GetModuleHandleA(nullptr)));
    // The test program carries the program's own version resource.
    EXPECT_TRUE(std::regex_match(s_aboutSeen.version, std::regex(R"(Version \d+\.\d{2}\.\d{4}\.\d{4})")))
        << s_aboutSeen.version;
    EXPECT_FALSE(s_aboutSeen.line1.empty());
    EXPECT_TRUE(s_aboutSeen.hasBitmap);
    EXPECT_TRUE(s_aboutSeen.hasIcon);
    // Moved to monitors of 144, 192 and 96 DPI again: the dialog, its fonts
    // and its bitmap scale from those of 96 DPI (the bitmap 22 x 21 there,
    // its box as large), the bitmap of the DPI before freed, no text cut.
    ASSERT_EQ(s_aboutSeen.steps.size(), 4u);
    const AboutSeen::AtDpi& at96 = s_aboutSeen.steps[0];
    for (const AboutSeen::AtDpi& step : s_aboutSeen.steps) {
      SCOPED_TRACE("DPI " + std::to_string(step.dpi));
      auto scaled = [&](LONG length) { return MulDiv(length, step.dpi, 96); };
      EXPECT_EQ(step.client.cx, scaled(at96.client.cx));
      EXPECT_EQ(step.client.cy, scaled(at96.client.cy));
      EXPECT_EQ(step.bitmap.cx, scaled(22));
      EXPECT_EQ(step.bitmap.cy, scaled(21));
      EXPECT_EQ(step.bitmapBox.cx, step.bitmap.cx);
      EXPECT_EQ(step.bitmapBox.cy, step.bitmap.cy);
      EXPECT_EQ(step.nameFontHeight, scaled(12));
      EXPECT_EQ(step.bitmapFreed, &step != &at96);
      EXPECT_TRUE(step.cut.empty()) << step.cut.front();
    }
  }
}
