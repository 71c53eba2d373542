#include "ui/MainWindow.h"

#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "capture/SoundCaptureWaveFile.h"
#include "link/DebuggerSession.h"
#include "link/PacketLink.h"
#include "link/ProgramDownload.h"
#include "platform/Platform.h"
#include "platform/WinText.h"
#include "resources/resource.h"
#include "support/Language.h"
#include "support/Log.h"
#include "support/Registry.h"
#include "support/Strings.h"
#include "ui/AboutDialog.h"
#include "ui/ConfigWindow.h"
#include "ui/Gdi.h"

// --- The main window's controls ------------------------------------------------
// Each hands its commands to the window; each returns true so that no control
// command reaches DefWindowProc.

class CWCButtonReset : public CWCButton {
 public:
  explicit CWCButtonReset(MainWindow& window) : m_window(window) {}
  bool OnCommand(WPARAM wParam, LPARAM) override {
    if (HIWORD(wParam) == BN_CLICKED) m_window.ResetStream();
    return true;
  }

 private:
  MainWindow& m_window;
};

class CWCComboBoxAPI : public CWCComboBox {
 public:
  explicit CWCComboBoxAPI(MainWindow& window) : m_window(window) {}
  bool OnCommand(WPARAM wParam, LPARAM) override {
    if (HIWORD(wParam) == CBN_SELCHANGE) m_window.OnApiChange();
    return true;
  }

 private:
  MainWindow& m_window;
};

class CWCComboBoxDevice : public CWCComboBox {
 public:
  explicit CWCComboBoxDevice(MainWindow& window) : m_window(window) {}
  bool OnCommand(WPARAM wParam, LPARAM) override {
    if (HIWORD(wParam) == CBN_SELCHANGE) {
      m_window.OnDeviceChange();
    } else if (HIWORD(wParam) == CBN_DROPDOWN) {
      // The list is enumerated afresh each time it opens.
      m_window.RefreshDeviceList("");
    }
    return true;
  }

 private:
  MainWindow& m_window;
};

class CWCComboBoxChannel : public CWCComboBox {
 public:
  explicit CWCComboBoxChannel(MainWindow& window) : m_window(window) {}
  bool OnCommand(WPARAM wParam, LPARAM) override {
    if (HIWORD(wParam) == CBN_SELCHANGE) m_window.OnChannelChange();
    return true;
  }

 private:
  MainWindow& m_window;
};

class CWCButtonConfig : public CWCButton {
 public:
  explicit CWCButtonConfig(MainWindow& window) : m_window(window) {}
  bool OnCommand(WPARAM, LPARAM) override {
    m_window.ShowSettings();
    return true;
  }

 private:
  MainWindow& m_window;
};

class CWCButtonConfigLoad : public CWCButton {
 public:
  explicit CWCButtonConfigLoad(MainWindow& window) : m_window(window) {}
  bool OnCommand(WPARAM, LPARAM) override {
    m_window.LoadSettings();
    return true;
  }

 private:
  MainWindow& m_window;
};

class CWCButtonConfigSave : public CWCButton {
 public:
  explicit CWCButtonConfigSave(MainWindow& window) : m_window(window) {}
  bool OnCommand(WPARAM, LPARAM) override {
    m_window.SaveSettings();
    return true;
  }

 private:
  MainWindow& m_window;
};

class CWCButtonConfigDefault : public CWCButton {
 public:
  explicit CWCButtonConfigDefault(MainWindow& window) : m_window(window) {}
  bool OnCommand(WPARAM, LPARAM) override {
    m_window.DefaultSettings();
    return true;
  }

 private:
  MainWindow& m_window;
};

class CWCCheckBoxBxaAutoLoad : public CWCCheckBox {
 public:
  explicit CWCCheckBoxBxaAutoLoad(MainWindow& window) : m_window(window) {}
  bool OnCommand(WPARAM wParam, LPARAM) override {
    if (HIWORD(wParam) == BN_CLICKED) m_window.OnBxaAutoLoadClicked();
    return true;
  }

 private:
  MainWindow& m_window;
};

// --- Modal windows -------------------------------------------------------------

void MainWindowDialogs::ShowMessage(HWND owner, const std::string& text, const std::string& caption, UINT style) {
  MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}

bool MainWindowDialogs::AskSettingsFile(HWND owner, bool save, const std::string& initialFolder, std::string* path) {
  // Filter pairs, each text ended by a NUL, the list by a second one.
  static const wchar_t kFilter[] = L"*.cfg\0*.cfg\0All files(*.*)\0*.*\0";
  // Wide, so that a path in any language comes back whole; room for long
  // paths as well.
  std::vector<wchar_t> file(FILE_DIALOG_CHARS, L'\0');
  const std::wstring folder = platform::Utf8ToWide(initialFolder);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = kFilter;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = folder.c_str();
  ofn.lpstrDefExt = L"cfg";
  ofn.Flags = save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST;
  BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (!ok) return false;
  *path = platform::WideToUtf8(file.data());
  return true;
}

void MainWindowDialogs::RunAbout(HINSTANCE instance, HWND owner) {
  RunAboutDialog(instance, owner);
}

void MainWindowDialogs::OpenFolder(HWND owner, const std::string& folder) {
  ShellExecuteW(owner, L"open", platform::Utf8ToWide(folder).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// --- The window ------------------------------------------------------------------

MainWindow::MainWindow(const Parts& parts)
    : m_parts(parts),
      m_bxaAutoLoad(parts.bxaAutoLoad),
      m_converterKind(ConverterKindFromValue(parts.converter)),
      m_dpi(parts.dpi > 0 ? parts.dpi : DEFAULT_DPI) {
  m_parts.sources->AddView(this);
  SetConfigWindow(parts.configWindow);
  const uint32_t ids[9] = {IDS_MENU_FILE,       IDS_MENU_CONNECT, IDS_MENU_DISCONNECT,
                           IDS_MENU_EXIT,       IDS_MENU_HELP,    IDS_MENU_ABOUT,
                           IDS_MENU_LOG_FOLDER, IDS_MENU_SPLINE,  IDS_MENU_STREAM_STATS};
  for (int i = 0; i < 9; ++i) m_menuTexts[i] = LoadResourceString(ids[i]);
}

void MainWindow::SetConfigWindow(ConfigWindow* configWindow) {
  m_parts.configWindow = configWindow;
  // Files dropped on the settings window are handled as drops on this one.
  if (configWindow != nullptr) configWindow->SetDropHandler([this](HDROP drop) { OnDropFiles(drop); });
}

MainWindow::~MainWindow() {
  // The window's own WM_DESTROY must still see this object's state.
  if (m_hWnd != nullptr) DestroyWindow(m_hWnd);
  m_parts.sources->RemoveView(this);
}

bool MainWindow::Create(HINSTANCE instance, HICON icon) {
  const std::string name = LoadResourceString(IDS_APP_NAME);
  Register(instance, name, icon, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)));
  if (Window::Create(nullptr, STYLE, nullptr, name) == nullptr) return false;
  SetClientSize(-1, -1, Scaled(CLIENT_WIDTH), Scaled(CLIENT_HEIGHT));
  ShowWindow(m_hWnd, SW_SHOWNORMAL);
  UpdateWindow(m_hWnd);
  return true;
}

void MainWindow::CreateControls(HFONT font) {
  m_font = font;
  // Places and sizes are those of 96 DPI, scaled to the screen's.
  auto add = [&](CWindowControl* control, int id, int x, int y, int width, int height) {
    control->SetId(id);
    control->SetRect(Scaled(x), Scaled(y), Scaled(width), Scaled(height));
    AddControl(control);
    control->SetFont(font);
  };
  // A text's width in 96-DPI pixels, as drawn (without the mnemonic's mark),
  // rounded up.
  auto textWidth = [&](const std::string& text) {
    return (TextWidth(font, RemoveMnemonicMarks(text).c_str()) * DEFAULT_DPI + m_dpi - 1) / m_dpi;
  };
  // Settings is the window's one default button (Enter); the others are
  // plain push buttons.
  auto pushButton = [](CWCButton* button) {
    button->SetStyle((button->GetStyle() & ~static_cast<DWORD>(BS_TYPEMASK)) | BS_PUSHBUTTON);
    return button;
  };

  auto* reset = pushButton(new CWCButtonReset(*this));
  add(reset, ID_RESET, 16, 8, 128, 30);
  reset->SetText(LoadResourceString(IDS_RESET));

  m_api = new CWCComboBoxAPI(*this);
  add(m_api, ID_API, 16, 54, 128, 84);
  m_device = new CWCComboBoxDevice(*this);
  add(m_device, ID_DEVICE, 16, 92, 266, 98);
  m_channel = new CWCComboBoxChannel(*this);
  add(m_channel, ID_CHANNEL, 16, 130, 266, 98);

  auto* settings = new CWCButtonConfig(*this);
  add(settings, ID_SETTINGS, 16, 168, 128, 30);
  settings->SetText(LoadResourceString(IDS_SETTINGS));
  // The three settings-file buttons share one width, wide enough for the
  // widest of their texts in this font.
  const std::string fileTexts[3] = {LoadResourceString(IDS_LOAD), LoadResourceString(IDS_SAVE),
                                    LoadResourceString(IDS_DEFAULT)};
  int fileButtonWidth = FILE_BUTTON_WIDTH;
  for (const std::string& text : fileTexts) {
    fileButtonWidth = std::max(fileButtonWidth, textWidth(text) + BUTTON_TEXT_ROOM);
  }
  const int fileButtonStep = fileButtonWidth + 6;
  auto* load = pushButton(new CWCButtonConfigLoad(*this));
  add(load, ID_LOAD, 16, 210, fileButtonWidth, 30);
  load->SetText(fileTexts[0]);
  auto* save = pushButton(new CWCButtonConfigSave(*this));
  add(save, ID_SAVE, 16 + fileButtonStep, 210, fileButtonWidth, 30);
  save->SetText(fileTexts[1]);
  auto* defaults = pushButton(new CWCButtonConfigDefault(*this));
  add(defaults, ID_DEFAULT, 16 + 2 * fileButtonStep, 210, fileButtonWidth, 30);
  defaults->SetText(fileTexts[2]);

  // The check box is as wide as its box and text need, kept right of the
  // Reset button and inside the window.
  const std::string bxaText = LoadResourceString(IDS_BXA_AUTOLOAD);
  const int checkWidth = (GetSystemMetrics(SM_CXMENUCHECK) * DEFAULT_DPI + m_dpi - 1) / m_dpi;
  const int bxaWidth = std::max(BXA_WIDTH, checkWidth + CHECK_TEXT_ROOM + textWidth(bxaText));
  const int bxaX = std::max(BXA_MIN_X, std::min(BXA_X, CLIENT_WIDTH - 4 - bxaWidth));
  m_bxa = new CWCCheckBoxBxaAutoLoad(*this);
  add(m_bxa, ID_BXA_AUTOLOAD, bxaX, 0, bxaWidth, 30);
  m_bxa->SetText(bxaText);

  auto addLabel = [&](int id, uint32_t text, int x, int y, DWORD extraStyle) {
    auto* label = new CWCStatic();
    label->SetStyle(label->GetStyle() | extraStyle);
    add(label, id, x, y, 50, 14);
    label->SetText(LoadResourceString(text));
    return label;
  };
  addLabel(ID_LEFT_LABEL, IDS_LEFT, 174, 30, 0);
  addLabel(ID_RIGHT_LABEL, IDS_RIGHT, 174, 50, 0);
  addLabel(ID_HIO_LABEL, IDS_HIO, HIO_X, HIO_Y, 0);
  addLabel(ID_LINK_TEXT, IDS_LINK_NONE, LINK_TEXT_X, HIO_Y, SS_RIGHT);

  const CaptureChoice& sources = *m_parts.sources;
  for (int32_t i = 0; i < sources.GetCount(); ++i) {
    m_api->AddString(sources.GetSource(i)->GetName());
    if (sources.GetSource(i) == GetCurrentSource()) m_api->SetSelection(i);
  }
  m_api->FitDropDownWidth();

  m_parts.sources->RefreshDevicesFromMemory();
  m_bxa->SetChecked(m_bxaAutoLoad != 0);
  // The keyboard starts on the first control, as in a dialog.
  if (GetActiveWindow() == m_hWnd) RestoreFocus();
}

LRESULT MainWindow::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      m_caption.clear();
      OnCreate();
      break;
    case WM_PAINT: {
      // The level display is drawn by the idle tick; a paint puts back what
      // it drew last.
      PAINTSTRUCT paint;
      HDC hdc = BeginPaint(hwnd, &paint);
      m_levels.Paint(hdc);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_INITMENUPOPUP:
      if (LOWORD(lParam) == 0) {
        const bool connected = m_parts.session->GetDebuggerId() != 0;
        EnableMenuItem(reinterpret_cast<HMENU>(wParam), ID_MENU_DISCONNECT,
                       MF_BYCOMMAND | (connected ? MF_ENABLED : (MF_GRAYED | MF_DISABLED)));
      }
      break;
    case WM_COMMAND:
      if (lParam == 0 && HIWORD(wParam) == 0 && OnMenuCommand(LOWORD(wParam))) return 0;
      break;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        // The control that had the keyboard gets it back on return.
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(m_hWnd, focus)) m_lastFocus = focus;
      } else if (HIWORD(wParam) == 0) {
        RestoreFocus();
      }
      break;
    case DM_GETDEFID:
      // Enter: the push button that has the keyboard, else Settings.
      return MAKELRESULT(DefaultButtonId(), DC_HASDEFID);
    case WM_CLOSE:
      StopCurrent();
      break;
    case WM_DESTROY:
      if (m_parts.configWindow != nullptr && m_parts.configWindow->Exists()) {
        m_parts.configWindow->Close();
      }
      m_api = m_device = m_channel = nullptr;
      m_bxa = nullptr;
      m_levels.Release();
      m_lastFocus = nullptr;
      break;
    default:
      break;
  }
  return Window::WndProc(hwnd, message, wParam, lParam);
}

int MainWindow::DefaultButtonId() const {
  HWND focus = GetFocus();
  if (focus != nullptr && IsChild(m_hWnd, focus)) {
    const int id = GetDlgCtrlID(focus);
    if (id == ID_RESET || id == ID_SETTINGS || id == ID_LOAD || id == ID_SAVE || id == ID_DEFAULT) return id;
  }
  return ID_SETTINGS;
}

void MainWindow::RestoreFocus() {
  HWND target = m_lastFocus;
  if (target == nullptr || !IsWindow(target) || !IsChild(m_hWnd, target) || !IsWindowEnabled(target)) {
    target = GetNextDlgTabItem(m_hWnd, nullptr, FALSE);
  }
  if (target != nullptr) SetFocus(target);
}

void MainWindow::OnCreate() {
  BuildMenu();
  // Every source converts with the stored choice.
  ApplyConverterKind();
  // The settings model's messages are owned by this window from now on.
  m_parts.config->SetView(this);
  m_parts.config->RestoreAutoSave();
  DragAcceptFiles(m_hWnd, TRUE);
  if (m_parts.session->ConnectFirst(true)) {
    AutoLoadBxa();
  } else {
    ShowNotConnected();
  }
  UpdateCaption();
}

void MainWindow::BuildMenu() {
  HMENU bar = CreateMenu();
  HMENU file = CreatePopupMenu();
  AppendMenuA(file, MF_STRING, ID_MENU_CONNECT, m_menuTexts[1].c_str());
  AppendMenuA(file, MF_STRING, ID_MENU_DISCONNECT, m_menuTexts[2].c_str());
  AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(file, MF_STRING | (m_converterKind == ConverterKind::SPLINE ? MF_CHECKED : MF_UNCHECKED), ID_MENU_SPLINE,
              m_menuTexts[7].c_str());
  AppendMenuA(file, MF_STRING, ID_MENU_STREAM_STATS, m_menuTexts[8].c_str());
  AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(file, MF_STRING, ID_MENU_EXIT, m_menuTexts[3].c_str());
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), m_menuTexts[0].c_str());
  HMENU help = CreatePopupMenu();
  AppendMenuA(help, MF_STRING | (m_parts.logFolder.empty() ? MF_GRAYED : 0u), ID_MENU_LOG_FOLDER,
              m_menuTexts[6].c_str());
  AppendMenuA(help, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(help, MF_STRING, ID_MENU_ABOUT, m_menuTexts[5].c_str());
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), m_menuTexts[4].c_str());
  // The menu belongs to the window from here on and is destroyed with it.
  SetMenu(m_hWnd, bar);
}

bool MainWindow::OnMenuCommand(int id) {
  switch (id) {
    case ID_MENU_CONNECT:
      Connect();
      return false;
    case ID_MENU_DISCONNECT:
      Disconnect();
      return false;
    case ID_MENU_EXIT:
      SendMessageA(m_hWnd, WM_CLOSE, 0, 0);
      return false;
    case ID_MENU_ABOUT:
      m_parts.dialogs->RunAbout(m_instance, m_hWnd);
      return true;
    case ID_MENU_LOG_FOLDER:
      if (!m_parts.logFolder.empty()) m_parts.dialogs->OpenFolder(m_hWnd, m_parts.logFolder);
      return true;
    case ID_MENU_SPLINE:
      OnSplineConverterClicked();
      return true;
    case ID_MENU_STREAM_STATS:
      ShowStreamStatistics();
      return true;
    default:
      return false;
  }
}

void MainWindow::Connect() {
  StopCurrent();
  bool listedOnly = false;
  if (m_parts.session->Reconnect(listedOnly)) {
    UpdateCaption();
    if (!listedOnly) AutoLoadBxa();
  } else if (!listedOnly) {
    ShowNotConnected();
  }
}

void MainWindow::Disconnect() {
  StopCurrent();
  m_parts.session->Disconnect();
}

void MainWindow::ShowNotConnected() {
  m_parts.dialogs->ShowMessage(m_hWnd, LoadResourceString(IDS_BOX_NOT_CONNECTED), LoadResourceString(IDS_APP_NAME),
                               MB_ICONHAND | MB_SETFOREGROUND);
}

void MainWindow::StopCurrent() {
  m_parts.sources->StopCurrent();
}

void MainWindow::OnDebuggerReturned() {
  UpdateCaption();
  AutoLoadBxa();
}

void MainWindow::AutoLoadBxa() {
  m_parts.download->AutoLoad(m_bxaAutoLoad, m_parts.programFolder);
}

// Set only when it changes; compared with what was set last, not read back.
void MainWindow::UpdateCaption() {
  if (m_hWnd == nullptr) return;
  std::string name = m_parts.session->GetDebuggerId() != 0 ? m_parts.session->GetDisplayName() : std::string();
  if (name.empty()) name = LoadResourceString(IDS_NOT_CONNECTED);
  char caption[CAPTION_MAX + 1] = {};
  snprintf(caption, sizeof(caption), "%s - %s", name.c_str(), LoadResourceString(IDS_APP_NAME).c_str());
  if (m_caption != caption && SetWindowTextA(m_hWnd, caption)) m_caption = caption;
}

// --- Sources, devices and channels ---------------------------------------------
// The choice decides; the selectors show what it decided.

void MainWindow::RefreshDeviceList(const std::string& preferred) {
  if (m_device == nullptr) return;
  m_parts.sources->RefreshDevices(preferred);
}

void MainWindow::OnDeviceChange() {
  if (m_device == nullptr) return;
  m_parts.sources->SelectDevice(m_device->GetSelection());
}

void MainWindow::OnApiChange() {
  if (m_api == nullptr) return;
  m_parts.sources->SelectSource(m_api->GetSelection());
}

void MainWindow::RefreshChannelList() {
  if (m_channel == nullptr) return;
  m_parts.sources->RefreshChannels();
}

void MainWindow::ResetChannelList() {
  if (m_channel == nullptr) return;
  m_parts.sources->ResetChannels();
}

void MainWindow::OnChannelChange() {
  if (m_channel == nullptr) return;
  m_parts.sources->SelectChannel(m_channel->GetSelection());
}

void MainWindow::OnSourceChanged(SoundCapture&) {
  if (m_api != nullptr) m_api->SetSelection(m_parts.sources->GetCurrentIndex());
}

void MainWindow::OnDevicesChanged() {
  if (m_device == nullptr) return;
  const CaptureChoice& choice = *m_parts.sources;
  m_device->Clear();
  if (choice.GetDevicesShown() == CaptureChoice::ListShown::NONE_FOUND) {
    m_device->AddString(LoadResourceString(IDS_NO_DEVICE_FOUND));
    m_device->SetSelection(0);
  } else {
    for (const DeviceEntry& entry : choice.GetDevices()) m_device->AddString(entry.name);
    m_device->SetSelection(choice.GetDeviceIndex());
  }
  m_device->FitDropDownWidth();
}

void MainWindow::OnChannelsChanged() {
  if (m_channel == nullptr) return;
  const CaptureChoice& choice = *m_parts.sources;
  m_channel->Clear();
  switch (choice.GetChannelsShown()) {
    case CaptureChoice::ListShown::DISABLED:
      EnableWindow(m_channel->GetHwnd(), FALSE);
      break;
    case CaptureChoice::ListShown::NONE_FOUND:
      EnableWindow(m_channel->GetHwnd(), TRUE);
      m_channel->AddString(LoadResourceString(IDS_NO_CHANNEL_FOUND));
      m_channel->SetSelection(0);
      break;
    case CaptureChoice::ListShown::LISTED:
      EnableWindow(m_channel->GetHwnd(), TRUE);
      for (const DeviceEntry& entry : choice.GetChannels()) m_channel->AddString(entry.name);
      m_channel->SetSelection(choice.GetChannelIndex());
      break;
  }
  m_channel->FitDropDownWidth();
}

// --- Dropped files -----------------------------------------------------------------

void MainWindow::OnDropFiles(HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    // Wide, so that a name in any language comes whole. A name that cannot
    // be had, or that would not fit whole, is skipped rather than cut to
    // another file's name.
    const UINT needed = DragQueryFileW(drop, i, nullptr, 0);
    if (needed == 0 || needed >= DROP_PATH_CHARS) continue;
    std::vector<wchar_t> path(needed + 1, L'\0');
    const UINT length = DragQueryFileW(drop, i, path.data(), needed + 1);
    if (length == 0 || length != needed) continue;
    paths.push_back(platform::WideToUtf8(path.data(), length));
  }
  DragFinish(drop);
  DropFiles(paths);
}

void MainWindow::DropFiles(const std::vector<std::string>& paths) {
  CaptureChoice& choice = *m_parts.sources;
  SoundCaptureWaveFile* wave = choice.GetWaveFile();
  bool switchToWave = false;
  for (const std::string& path : paths) {
    if (GetExtension(path) == "wav") {
      if (wave != nullptr && wave->LoadWaveFile(path)) {
        wave->EnumerateDevices();
        switchToWave = true;
      }
    } else {
      // Anything else, "X.WAV" too, is taken for a settings file.
      m_parts.config->LoadAndApply(path);
    }
  }
  if (!switchToWave) return;
  if (wave == GetCurrentSource()) {
    RefreshDeviceList("");
  } else if (m_api != nullptr) {
    choice.SelectSource(choice.GetWaveFileIndex());
  }
}

// --- Buttons -------------------------------------------------------------------------

void MainWindow::ResetStream() {
  StopCurrent();
  m_parts.link->RequestClose();
}

void MainWindow::ShowSettings() {
  if (m_parts.configWindow != nullptr) m_parts.configWindow->Show();
}

std::string MainWindow::SettingsFolder() const {
  std::string folder;
  if (!m_parts.registry->GetPath("Path Config", folder)) folder.clear();
  folder = m_parts.config->ResolvePath(folder);
  if (!platform::IsDirectory(folder.c_str())) folder = m_parts.programFolder;
  return folder;
}

void MainWindow::RememberSettingsFolder(const std::string& path) {
  m_parts.registry->SetPath("Path Config", GetDirectory(path));
  // The dialog may have moved the current folder; relative paths of the
  // program mean its own folder.
  if (!m_parts.programFolder.empty()) SetCurrentDirectoryW(platform::SystemPath(m_parts.programFolder).c_str());
}

void MainWindow::LoadSettings() {
  std::string path;
  if (!m_parts.dialogs->AskSettingsFile(m_hWnd, false, SettingsFolder(), &path)) return;
  m_parts.config->LoadAndApply(path);
  RememberSettingsFolder(path);
}

void MainWindow::SaveSettings() {
  std::string path;
  if (!m_parts.dialogs->AskSettingsFile(m_hWnd, true, SettingsFolder(), &path)) return;
  m_parts.config->SaveFile(path);
  RememberSettingsFolder(path);
}

void MainWindow::DefaultSettings() {
  m_parts.config->ApplyDefaults();
}

void MainWindow::OnBxaAutoLoadClicked() {
  m_bxaAutoLoad = (m_bxa != nullptr && m_bxa->IsChecked()) ? 1 : 0;
  m_parts.registry->SetDword("Bxa Auto Load", m_bxaAutoLoad);
  AutoLoadBxa();
}

void MainWindow::ApplyConverterKind() {
  for (int32_t i = 0; i < m_parts.sources->GetCount(); ++i) {
    SoundCapture* source = m_parts.sources->GetSource(i);
    if (source != nullptr) source->SetConverterKind(m_converterKind);
  }
}

void MainWindow::ShowStreamStatistics() {
  const SoundCapture* source = GetCurrentSource();
  std::string text;
  if (source == nullptr) {
    text = LoadResourceString(IDS_STATS_NONE);
  } else {
    const StreamFigures figures = source->GetStreamFigures();
    const std::string name = source->GetName();
    if (!figures.valid) {
      text = LoadResourceString(IDS_STATS_NONE);
    } else {
      text = FormatResourceString(figures.running ? IDS_STATS_CURRENT : IDS_STATS_LAST, name.c_str());
      text += "\n" + FormatStreamFigures(figures);
    }
  }
  m_parts.dialogs->ShowMessage(m_hWnd, text, WithoutMnemonic(m_menuTexts[8]), MB_ICONINFORMATION);
}

void MainWindow::OnSplineConverterClicked() {
  m_converterKind = m_converterKind == ConverterKind::SPLINE ? ConverterKind::SINC : ConverterKind::SPLINE;
  m_parts.registry->SetDword("Converter", static_cast<uint32_t>(m_converterKind));
  ApplyConverterKind();
  CheckMenuItem(GetMenu(m_hWnd), ID_MENU_SPLINE,
                MF_BYCOMMAND | (m_converterKind == ConverterKind::SPLINE ? MF_CHECKED : MF_UNCHECKED));
  StopCurrent();
}

// --- Status -------------------------------------------------------------------------

void MainWindow::DrawLevels(const std::string& left, const std::string& right) {
  if (m_hWnd != nullptr) {
    m_levels.Show(m_hWnd, m_font, Scaled(LEVELS_X), Scaled(LEVELS_Y), m_dpi, left.c_str(), right.c_str());
  }
}

bool MainWindow::GetLinkText(std::string* text) {
  if (m_hWnd == nullptr) return false;
  auto* control = static_cast<CWCStatic*>(FindControl(ID_LINK_TEXT));
  if (control == nullptr) return false;
  *text = control->GetText();
  return true;
}

bool MainWindow::SetLinkText(const std::string& text) {
  if (m_hWnd == nullptr) return false;
  auto* control = static_cast<CWCStatic*>(FindControl(ID_LINK_TEXT));
  if (control == nullptr) return false;
  // In the screen's pixels.
  const int width = m_font != nullptr ? TextWidth(m_font, text.c_str()) + Scaled(2) : 0;
  int x = Scaled(LINK_TEXT_X);
  int right = Scaled(LINK_TEXT_X + LINK_TEXT_WIDTH);
  if (width > right - x) {
    x = std::max(Scaled(LINK_TEXT_MIN_X), right - width);
    right = std::min(Scaled(CLIENT_WIDTH - 4), std::max(right, x + width));
  }
  if (x != control->GetX() || right - x != control->GetWidth()) {
    CWindowControl* label = FindControl(ID_HIO_LABEL);
    if (label != nullptr && label->GetHwnd() != nullptr) {
      ShowWindow(label->GetHwnd(), x < Scaled(LINK_TEXT_X) ? SW_HIDE : SW_SHOW);
    }
    control->SetRect(x, Scaled(HIO_Y), right - x, control->GetHeight());
  }
  control->SetText(text);
  return true;
}

// --- The settings model's view ---------------------------------------------------

void MainWindow::ShowError(const std::string& text, const std::string& caption, bool foreground) {
  m_parts.dialogs->ShowMessage(m_hWnd, text, caption, MB_ICONHAND | (foreground ? MB_SETFOREGROUND : 0u));
}

void MainWindow::RefreshControls() {
  if (m_parts.configWindow != nullptr && m_parts.configWindow->Exists()) {
    m_parts.configWindow->RefreshControls();
  }
}
