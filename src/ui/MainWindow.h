// The program's top-level window. It composes three views, each making and
// handling its own controls: the source selectors (the capture choice's
// view), the link status (the level display, the link text and the caption:
// the idle tick's view) and the settings buttons (the settings model's
// view). The window itself holds the stream reset, the bxa check box, the
// File and Help menus and dropped files, and is the one place that calls the
// link. The user's choices it remembers are in the preferences.
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
#include "capture/SoundCapture.h"
#include "settings/SoundConfig.h"
#include "ui/Gdi.h"
#include "ui/LinkStatusView.h"
#include "ui/MainWindowDialogs.h"
#include "core/Preferences.h"
#include "ui/SettingsButtons.h"
#include "ui/SourceSelectors.h"
#include "ui/Window.h"
#include "ui/WindowPlaceMemory.h"

class ConfigWindow;
class DebuggerSession;
class PacketLink;
class ProgramDownload;

class MainWindow : public Window {
 public:
  // Control ids.
  static constexpr int ID_BXA_AUTOLOAD = 105;
  static constexpr int ID_RESET = 106;
  static constexpr int ID_API = SourceSelectors::ID_API;
  static constexpr int ID_DEVICE = SourceSelectors::ID_DEVICE;
  static constexpr int ID_CHANNEL = SourceSelectors::ID_CHANNEL;
  static constexpr int ID_SETTINGS = SettingsButtons::ID_SETTINGS;
  static constexpr int ID_LOAD = SettingsButtons::ID_LOAD;
  static constexpr int ID_SAVE = SettingsButtons::ID_SAVE;
  static constexpr int ID_DEFAULT = SettingsButtons::ID_DEFAULT;
  static constexpr int ID_LEFT_LABEL = LinkStatusView::ID_LEFT_LABEL;
  static constexpr int ID_RIGHT_LABEL = LinkStatusView::ID_RIGHT_LABEL;
  static constexpr int ID_HIO_LABEL = LinkStatusView::ID_HIO_LABEL;
  static constexpr int ID_LINK_TEXT = LinkStatusView::ID_LINK_TEXT;
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
  static constexpr int DEFAULT_DPI = LAYOUT_DPI;
  static constexpr int CLIENT_WIDTH = 300;
  static constexpr int CLIENT_HEIGHT = 254;
  // The check box grows with its text: its usual place and width and the
  // leftmost place that keeps it clear of the Reset button; the gap from its
  // box to its text and after it.
  static constexpr int BXA_X = 156;
  static constexpr int BXA_MIN_X = 148;
  static constexpr int BXA_WIDTH = 128;
  static constexpr int CHECK_TEXT_ROOM = 10;
  // The longest dropped path taken (characters, the long form's limit).
  static constexpr unsigned DROP_PATH_CHARS = 32768;

  // What the window works with, all made before it; none of it is owned.
  struct Parts {
    CaptureChoice* sources = nullptr;  // the sources and the current one
    PacketLink* link = nullptr;        // the device link's parts
    DebuggerSession* session = nullptr;
    ProgramDownload* download = nullptr;
    SoundConfig* config = nullptr;
    ConfigWindow* configWindow = nullptr;  // may be null
    Preferences* preferences = nullptr;    // the user's remembered choices
    MainWindowDialogs* dialogs = nullptr;
    // The program's folder with its trailing separator: "Quillon.bxa" is
    // loaded from it, and the settings-file dialogs fall back on it.
    std::string programFolder;
    // The folder of the program's log file (Help, Open Log Folder); empty
    // when there is none, and the menu item is grayed.
    std::string logFolder;
    // The screen's DPI, which the program is aware of: places, sizes and the
    // font grow with it.
    int dpi = DEFAULT_DPI;
    // The monitors the window and the settings window reopen on where they
    // were left (in the preferences); empty: the system's.
    MonitorWorkAreas monitors;
  };

  // Every part but configWindow must be given. Files dropped on the settings
  // window are handled as drops on this window, and it reopens where it was
  // left through this window's preferences and monitors.
  explicit MainWindow(const Parts& parts);
  ~MainWindow() override;

  // Registers the window class (named by the product name) and creates the
  // window with its 300 x 254 client area (scaled), where it was left, not
  // shown yet. Its WM_CREATE makes the menu, hands every source the stored
  // converter and makes this window the settings model's view.
  bool Create(HINSTANCE instance, HICON icon);
  // Shows the window made by Create.
  void Show();
  // Makes the controls, each with the dialog font (not owned, made for the
  // same DPI; once the window has been moved to another DPI, with the font
  // it made for that one instead). The buttons have mnemonics; Tab, Space, Enter and the
  // mnemonics work once the message loop offers the window's messages to
  // IsDialogMessage.
  void CreateControls(HFONT font);
  // A 96-DPI length in the screen's pixels.
  int Scaled(int length) const { return ScaledLength(length, m_dpi); }
  int GetDpi() const { return m_dpi; }
  // WM_DPICHANGED: the window was moved to a monitor of another scale. It
  // takes the suggested place (when there is one), sizes its client area
  // for the new DPI and makes its controls again at that DPI, with a font of
  // its own made for it (the one it had made before is freed). Before the
  // controls exist it only sizes the window and makes the font.
  void OnDpiChanged(int dpi, const RECT* suggested);

  // The link status view, which the idle tick shows its status in.
  LinkStatusView& GetStatus() { return m_status; }

  // Files to open (MainWindowFiles.cpp). Every way of opening a file comes
  // to DropFiles: a file dropped on the window, the command line's (OpenFiles)
  // and those a second start hands over (OnCopyData).
  void OnDropFiles(HDROP drop);
  // The files by path, in order: a ".wav" becomes the wave-file source's
  // file and that source the current one; anything else is loaded as a
  // settings file. A file that cannot be opened says so in a message box.
  void DropFiles(const std::vector<std::string>& paths);
  // A WM_COPYDATA message: a path handed over by a second start of the
  // program (core/HandedPath.h), checked and queued; it is opened when the
  // WM_OPEN_HANDED_FILES posted here arrives and the controls exist. False
  // (and logged) when the data are not such a path, or MAX_HANDED_PATHS wait.
  bool OnCopyData(const COPYDATASTRUCT* data);
  static constexpr UINT WM_OPEN_HANDED_FILES = WM_APP + 0x52;
  static constexpr size_t MAX_HANDED_PATHS = 256;
  // At start, once the controls exist: the command line's paths, then those
  // handed over meanwhile.
  void OpenFiles(const std::vector<std::string>& paths);
  // Loads "Quillon.bxa" onto the device when the check box says so.
  void AutoLoadBxa();
  // Tells the user that no box could be connected (an error box).
  void ShowNotConnected();

  // The buttons' and menu items' commands.
  void ResetStream();
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
  uint32_t GetBxaAutoLoad() const { return m_bxaAutoLoad; }
  SoundCapture* GetCurrentSource() const { return m_parts.sources->GetCurrent(); }

  LRESULT WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void OnCreate();
  // Makes the controls with font, at the window's DPI, without filling them.
  void MakeControls(HFONT font);
  void BuildMenu();
  bool OnMenuCommand(int id);
  void StopCurrent();
  // The id of the button that Enter presses.
  int DefaultButtonId() const;
  // Gives the keyboard back to the control that had it, else the first tab stop.
  void RestoreFocus();
  // Opens the paths handed over, in the order they came.
  void OpenHandedFiles();

  // The link, as the window uses it.
  void Connect();
  void Disconnect();
  bool IsConnected() const;
  bool GetDebuggerName(std::string* name) const;
  void CloseStream();

  Parts m_parts;
  uint32_t m_bxaAutoLoad;
  ConverterKind m_converterKind;
  int m_dpi;
  // The font the controls were made with last (not owned), and the one this
  // window made for a DPI it was moved to (owned; null before).
  HFONT m_font = nullptr;
  ScopedGdiObject<HFONT> m_dpiFont;
  HWND m_lastFocus = nullptr;  // the child that had the keyboard when the window was left
  SourceSelectors m_selectors;
  LinkStatusView m_status;
  SettingsButtons m_settings;
  // The menu texts by their place in the menus, loaded once.
  struct MenuTexts {
    std::string file, connect, disconnect, exit, help, about, logFolder, spline, streamStats;
  };
  MenuTexts m_menuTexts;

  // Owned by the window's control list while it exists.
  CWCCheckBox* m_bxa = nullptr;
  WindowPlaceMemory m_place{Preferences::PlacedWindow::MAIN};
  // Paths handed over and not opened yet; true while they are being opened.
  std::vector<std::string> m_handedPaths;
  bool m_openingFiles = false;
};
