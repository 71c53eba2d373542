// The program's top-level window: the capture API, device and channel
// selectors, the stream reset, the settings buttons, the bxa check box, the
// level display and link text, the File and Help menus, and dropped files.
// It is a view of the capture choice (the sources, the current one, its
// device and channel), what the idle tick shows its status in (IdleView) and
// what the settings model shows its messages through (ConfigView).
//
// Main thread only. The window object lives from start-up to shutdown; the
// objects it is given are not owned and must outlive it.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/CaptureChoice.h"
#include "core/IdleTick.h"
#include "capture/SoundCapture.h"
#include "settings/SoundConfig.h"
#include "ui/Gdi.h"
#include "ui/Window.h"

class CRegistry;
class ConfigWindow;
class DebuggerSession;
class PacketLink;
class ProgramDownload;

// The main window's modal windows: message boxes, the settings-file dialogs
// and the About dialog; and the shell's window on the log folder. The program uses this class as it is; tests derive
// from it to answer instead of a user.
class MainWindowDialogs {
 public:
  virtual ~MainWindowDialogs() = default;
  // MessageBoxA with the given style.
  virtual void ShowMessage(HWND owner, const std::string& text, const std::string& caption, UINT style);
  // Room for the path the file dialogs return (characters).
  static constexpr size_t FILE_DIALOG_CHARS = 32768;
  // The open (save false) or save (save true) dialog for settings files,
  // starting in initialFolder (UTF-8). True with the chosen path (UTF-8) on OK.
  virtual bool AskSettingsFile(HWND owner, bool save, const std::string& initialFolder, std::string* path);
  virtual void RunAbout(HINSTANCE instance, HWND owner);
  // Shows a folder in the shell's file window.
  virtual void OpenFolder(HWND owner, const std::string& folder);
};

class MainWindow : public Window, public CaptureChoiceView, public IdleView, public ConfigView {
 public:
  // Control ids.
  static constexpr int ID_BXA_AUTOLOAD = 105;
  static constexpr int ID_RESET = 106;
  static constexpr int ID_API = 107;
  static constexpr int ID_DEVICE = 108;
  static constexpr int ID_CHANNEL = 109;
  static constexpr int ID_SETTINGS = 110;
  static constexpr int ID_LOAD = 111;
  static constexpr int ID_SAVE = 112;
  static constexpr int ID_DEFAULT = 113;
  static constexpr int ID_LEFT_LABEL = 114;
  static constexpr int ID_RIGHT_LABEL = 116;
  static constexpr int ID_HIO_LABEL = 118;
  static constexpr int ID_LINK_TEXT = 119;
  // Menu items.
  static constexpr int ID_MENU_CONNECT = 120;
  static constexpr int ID_MENU_DISCONNECT = 121;
  static constexpr int ID_MENU_EXIT = 122;
  static constexpr int ID_MENU_ABOUT = 123;
  static constexpr int ID_MENU_LOG_FOLDER = 127;
  // Checked: the sources convert with the spline instead of the band-limited
  // converter.
  static constexpr int ID_MENU_SPLINE = 124;
  // Shows the figures of the current (or last) stream in a message box.
  static constexpr int ID_MENU_STREAM_STATS = 128;

  // Fixed on purpose: the window tests and the program's screenshots rely on
  // this frame. 0x200 has no name among the window styles; it has always
  // been part of the value and is kept.
  static constexpr DWORD STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | 0x00000200;
  static_assert(STYLE == 0x00CA0200, "the main window's style");
  // At 96 DPI; every place and size of the window is scaled by the screen's
  // DPI / 96 (450 x 381 at 144 DPI).
  static constexpr int DEFAULT_DPI = 96;
  static constexpr int CLIENT_WIDTH = 300;
  static constexpr int CLIENT_HEIGHT = 254;
  // The level display, painted by the idle tick.
  static constexpr int LEVELS_X = 226;
  static constexpr int LEVELS_Y = 30;
  static constexpr int CAPTION_MAX = 63;
  // Control sizes that grow with their texts: the narrowest settings-file
  // button, the check box's usual place and width and the leftmost place
  // that keeps it clear of the Reset button.
  static constexpr int FILE_BUTTON_WIDTH = 64;
  static constexpr int BXA_X = 156;
  static constexpr int BXA_MIN_X = 148;
  static constexpr int BXA_WIDTH = 128;
  // Room beside a text: a push button's frame and margins, and the gap from
  // a check box's box to its text and after it.
  static constexpr int BUTTON_TEXT_ROOM = 16;
  static constexpr int CHECK_TEXT_ROOM = 10;
  // The HIO line: the label and the link text right-aligned beside it. A text
  // wider than its box grows to the left, over the label (hidden meanwhile),
  // as far as the free room after the API selector, then to the right up to
  // the window's edge.
  static constexpr int HIO_X = 174;
  static constexpr int HIO_Y = 70;
  static constexpr int LINK_TEXT_X = 226;
  static constexpr int LINK_TEXT_WIDTH = 50;
  static constexpr int LINK_TEXT_MIN_X = 148;
  // The longest dropped path taken (characters, the long form's limit).
  static constexpr unsigned DROP_PATH_CHARS = 32768;

  // What the window works with; none of it is owned.
  struct Parts {
    CaptureChoice* sources = nullptr;  // the sources and the current one
    PacketLink* link = nullptr;  // the device link's parts
    DebuggerSession* session = nullptr;
    ProgramDownload* download = nullptr;
    SoundConfig* config = nullptr;
    ConfigWindow* configWindow = nullptr;  // may be null
    CRegistry* registry = nullptr;         // open on the program's key
    MainWindowDialogs* dialogs = nullptr;
    // The program's folder with its trailing separator: "Quillon.bxa" is
    // loaded from it, and the settings-file dialogs fall back on it.
    std::string programFolder;
    // The "Bxa Auto Load" value read at start-up.
    uint32_t bxaAutoLoad = 1;
    // The folder of the program's log file (Help, Open Log Folder); empty
    // when there is none, and the menu item is grayed.
    std::string logFolder;
    // The "Converter" value read at start-up (see ConverterKind).
    uint32_t converter = 0;
    // The screen's DPI, which the program is aware of: places, sizes and the
    // font grow with it.
    int dpi = DEFAULT_DPI;
  };

  explicit MainWindow(const Parts& parts);
  ~MainWindow() override;

  // The parts made after this object (not owned).
  void SetLink(PacketLink* link, DebuggerSession* session, ProgramDownload* download) {
    m_parts.link = link;
    m_parts.session = session;
    m_parts.download = download;
  }
  void SetConfig(SoundConfig* config) { m_parts.config = config; }
  // The settings window, when it is made after this object (not owned);
  // files dropped on it are handled as drops on this window.
  void SetConfigWindow(ConfigWindow* configWindow);

  // Registers the window class (named by the product name) and creates the
  // window with its 300 x 254 client area (scaled), shown. Its WM_CREATE restores the
  // auto-saved settings and connects the first debugger.
  bool Create(HINSTANCE instance, HICON icon);
  // Makes the controls, each with the dialog font (not owned, made for the
  // same DPI). The buttons have mnemonics; Tab, Space, Enter and the
  // mnemonics work once the message loop offers the window's messages to
  // IsDialogMessage.
  void CreateControls(HFONT font);
  // A 96-DPI length in the screen's pixels.
  int Scaled(int length) const { return MulDiv(length, m_dpi, DEFAULT_DPI); }

  void OnDropFiles(HDROP drop);
  // The dropped files by path, as OnDropFiles handles them.
  void DropFiles(const std::vector<std::string>& paths);
  void AutoLoadBxa();

  void RefreshDeviceList(const std::string& preferred);
  void OnDeviceChange();
  void OnApiChange();
  void OnChannelChange();

  // The buttons' commands.
  void ResetStream();
  void ShowSettings();
  void LoadSettings();
  void SaveSettings();
  void DefaultSettings();
  void OnBxaAutoLoadClicked();
  // The spline menu item: switches the sources' converter, stores the choice
  // and stops the current source (the next idle tick restarts it).
  void OnSplineConverterClicked();
  // The stream statistics menu item.
  void ShowStreamStatistics();
  // Hands the chosen converter to every source (it applies at their next start).
  void ApplyConverterKind();
  ConverterKind GetConverterKind() const { return m_converterKind; }

  const DeviceEntry& GetSelectedDevice() const { return m_parts.sources->GetSelectedDevice(); }
  const DeviceEntry& GetSelectedChannel() const { return m_parts.sources->GetSelectedChannel(); }
  uint32_t GetBxaAutoLoad() const { return m_bxaAutoLoad; }
  SoundCapture* GetCurrentSource() const { return m_parts.sources->GetCurrent(); }

  // CaptureChoiceView: the selectors follow the choice.
  void OnSourceChanged(SoundCapture& source) override;
  void OnDevicesChanged() override;
  void OnChannelsChanged() override;

  // IdleView
  void RefreshChannelList() override;
  void ResetChannelList() override;
  void DrawLevels(const std::string& left, const std::string& right) override;
  bool SetLinkText(const std::string& text) override;
  // The link text as the control shows it; false without the control.
  bool GetLinkText(std::string* text);
  void UpdateCaption() override;
  // As after connecting at start-up: the caption, and the automatic download.
  void OnDebuggerReturned() override;

  // ConfigView
  void ShowError(const std::string& text, const std::string& caption, bool foreground) override;
  void RefreshControls() override;

  LRESULT WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void OnCreate();
  void BuildMenu();
  bool OnMenuCommand(int id);
  void Connect();
  void Disconnect();
  void StopCurrent();
  void ShowNotConnected();
  // The id of the button that Enter presses.
  int DefaultButtonId() const;
  // Gives the keyboard back to the control that had it, else the first tab stop.
  void RestoreFocus();
  std::string SettingsFolder() const;
  void RememberSettingsFolder(const std::string& path);

  Parts m_parts;
  uint32_t m_bxaAutoLoad;
  ConverterKind m_converterKind;
  HFONT m_font = nullptr;  // the dialog font; not owned
  const int m_dpi;
  HWND m_lastFocus = nullptr;  // the child that had the keyboard when the window was left
  LevelDisplay m_levels;
  // The caption as UpdateCaption last set it.
  std::string m_caption;
  // The menu texts, loaded once.
  std::string m_menuTexts[9];

  // Controls, owned by the window's control list while it exists.
  CWCComboBox* m_api = nullptr;
  CWCComboBox* m_device = nullptr;
  CWCComboBox* m_channel = nullptr;
  CWCCheckBox* m_bxa = nullptr;
};
