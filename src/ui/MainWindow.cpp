#include "ui/MainWindow.h"

#include <algorithm>
#include <memory>

#include "link/DebuggerSession.h"
#include "link/PacketLink.h"
#include "link/ProgramDownload.h"
#include "platform/WinText.h"
#include "resources/resource.h"
#include "support/Language.h"
#include "support/Strings.h"
#include "ui/ConfigWindow.h"
#include "ui/StreamStatisticsText.h"

// --- The window ------------------------------------------------------------------

MainWindow::MainWindow(const Parts& parts)
    : m_parts(parts),
      m_bxaAutoLoad(parts.preferences->GetBxaAutoLoad()),
      m_converterKind(parts.preferences->GetConverter()),
      m_dpi(parts.dpi > 0 ? parts.dpi : DEFAULT_DPI),
      m_selectors(*parts.sources, *this),
      m_status(*this, m_dpi, CLIENT_WIDTH),
      m_settings(*this, *parts.dialogs, *parts.preferences, parts.programFolder, *parts.config, parts.configWindow) {
  m_status.debuggerName = [this](std::string* name) { return GetDebuggerName(name); };
  m_status.onDebuggerReturned = [this] { AutoLoadBxa(); };
  m_place.Use(parts.preferences, parts.monitors);
  if (parts.configWindow != nullptr) {
    // Files dropped on the settings window are handled as drops on this one.
    parts.configWindow->SetDropHandler([this](HDROP drop) { OnDropFiles(drop); });
    parts.configWindow->SetPlaceMemory(parts.preferences, parts.monitors);
  }
  m_menuTexts = {LoadResourceString(IDS_MENU_FILE),       LoadResourceString(IDS_MENU_CONNECT),
                 LoadResourceString(IDS_MENU_DISCONNECT), LoadResourceString(IDS_MENU_EXIT),
                 LoadResourceString(IDS_MENU_HELP),       LoadResourceString(IDS_MENU_ABOUT),
                 LoadResourceString(IDS_MENU_LOG_FOLDER), LoadResourceString(IDS_MENU_SPLINE),
                 LoadResourceString(IDS_MENU_STREAM_STATS)};
}

MainWindow::~MainWindow() {
  // The window's own WM_DESTROY must still see this object's state.
  if (m_hWnd != nullptr) DestroyWindow(m_hWnd);
}

bool MainWindow::Create(HINSTANCE instance, HICON icon) {
  const std::string name = LoadResourceString(IDS_APP_NAME);
  Register(instance, name, icon, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)));
  if (Window::Create(nullptr, STYLE, nullptr, name) == nullptr) return false;
  SetClientSize(-1, -1, Scaled(CLIENT_WIDTH), Scaled(CLIENT_HEIGHT));
  m_place.Restore(m_hWnd);
  return true;
}

void MainWindow::Show() {
  if (m_hWnd == nullptr) return;
  ShowWindow(m_hWnd, SW_SHOWNORMAL);
  UpdateWindow(m_hWnd);
}

void MainWindow::CreateControls(HFONT font) {
  MakeControls(font);
  m_selectors.Fill();
  // The keyboard starts on the first control, as in a dialog.
  if (GetActiveWindow() == m_hWnd) RestoreFocus();
}

void MainWindow::MakeControls(HFONT font) {
  // Once the window has been moved to another DPI its own font serves.
  if (m_dpiFont.Get() != nullptr) font = m_dpiFont.Get();
  m_font = font;
  // Places and sizes are those of 96 DPI, scaled to the screen's.
  auto reset = std::make_unique<CWCButton>();
  reset->SetStyle((reset->GetStyle() & ~static_cast<DWORD>(BS_TYPEMASK)) | BS_PUSHBUTTON);
  reset->onClicked = [this] { ResetStream(); };
  AddAt(std::move(reset), ID_RESET, Scaled(16), Scaled(8), Scaled(128), Scaled(30), font)
      ->SetText(LoadResourceString(IDS_RESET));

  m_selectors.CreateControls(font, m_dpi);
  m_settings.CreateControls(font, m_dpi);

  // The check box is as wide as its box and text need, kept right of the
  // Reset button and inside the window.
  const std::string bxaText = LoadResourceString(IDS_BXA_AUTOLOAD);
  const int checkWidth = LayoutLength(GetSystemMetrics(SM_CXMENUCHECK), m_dpi);
  const int bxaWidth = std::max(BXA_WIDTH, checkWidth + CHECK_TEXT_ROOM + LayoutTextWidth(font, bxaText, m_dpi));
  const int bxaX = std::max(BXA_MIN_X, std::min(BXA_X, CLIENT_WIDTH - 4 - bxaWidth));
  auto bxa = std::make_unique<CWCCheckBox>();
  bxa->onClicked = [this] { OnBxaAutoLoadClicked(); };
  m_bxa = AddAt(std::move(bxa), ID_BXA_AUTOLOAD, Scaled(bxaX), Scaled(0), Scaled(bxaWidth), Scaled(30), font);
  m_bxa->SetText(bxaText);

  m_status.CreateControls(font);
  m_bxa->SetChecked(m_bxaAutoLoad != 0);
}

LRESULT MainWindow::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  m_place.OnMessage(hwnd, message);
  switch (message) {
    case WM_CREATE:
      m_status.OnCreate();
      OnCreate();
      break;
    case WM_PAINT: {
      // The level display is drawn by the idle tick; a paint puts back what
      // it drew last.
      PAINTSTRUCT paint;
      HDC hdc = BeginPaint(hwnd, &paint);
      m_status.Paint(hdc);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_INITMENUPOPUP:
      if (LOWORD(lParam) == 0) {
        EnableMenuItem(reinterpret_cast<HMENU>(wParam), ID_MENU_DISCONNECT,
                       MF_BYCOMMAND | (IsConnected() ? MF_ENABLED : (MF_GRAYED | MF_DISABLED)));
      }
      break;
    case WM_COMMAND:
      if (lParam == 0 && HIWORD(wParam) == 0 && OnMenuCommand(LOWORD(wParam))) return 0;
      break;
    case WM_DPICHANGED:
      OnDpiChanged(DpiChangedDpi(wParam), reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_COPYDATA:
      return OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam)) ? TRUE : FALSE;
    case WM_OPEN_HANDED_FILES:
      OpenHandedFiles();
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
      m_selectors.Forget();
      m_bxa = nullptr;
      m_status.Forget();
      m_lastFocus = nullptr;
      break;
    default:
      break;
  }
  return Window::WndProc(hwnd, message, wParam, lParam);
}

void MainWindow::OnDpiChanged(int dpi, const RECT* suggested) {
  if (dpi <= 0 || m_hWnd == nullptr) return;
  if (suggested != nullptr) {
    SetWindowPos(m_hWnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const bool rescaled = dpi != m_dpi;
  m_dpi = dpi;
  m_status.SetDpi(dpi);
  // The frame need not scale as the client area does: the client area is
  // set exactly.
  SetClientSize(-1, -1, Scaled(CLIENT_WIDTH), Scaled(CLIENT_HEIGHT));
  if (!rescaled) return;
  // The controls are made again, in the same order, with a font for the new
  // DPI; the one that had the keyboard gets it back. The font made for the
  // DPI before is freed once no control uses it.
  HWND focus = GetFocus();
  const int focusId = focus != nullptr && IsChild(m_hWnd, focus) ? GetDlgCtrlID(focus) : 0;
  const bool hadControls = GetControlCount() > 0;
  DeleteControls();
  m_selectors.Forget();
  m_bxa = nullptr;
  m_status.Forget();
  m_lastFocus = nullptr;
  HFONT font = MakeDialogFont(dpi);
  if (font != nullptr) m_dpiFont.Reset(font);
  if (!hadControls) return;
  MakeControls(m_font);
  m_selectors.ShowChoice();
  if (focusId != 0 && GetDlgItem(m_hWnd, focusId) != nullptr) SetFocus(GetDlgItem(m_hWnd, focusId));
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
  m_parts.config->SetView(&m_settings);
  DragAcceptFiles(m_hWnd, TRUE);
}

void MainWindow::BuildMenu() {
  HMENU bar = CreateMenu();
  HMENU file = CreatePopupMenu();
  AppendMenuA(file, MF_STRING, ID_MENU_CONNECT, m_menuTexts.connect.c_str());
  AppendMenuA(file, MF_STRING, ID_MENU_DISCONNECT, m_menuTexts.disconnect.c_str());
  AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(file, MF_STRING | (m_converterKind == ConverterKind::SPLINE ? MF_CHECKED : MF_UNCHECKED), ID_MENU_SPLINE,
              m_menuTexts.spline.c_str());
  AppendMenuA(file, MF_STRING, ID_MENU_STREAM_STATS, m_menuTexts.streamStats.c_str());
  AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(file, MF_STRING, ID_MENU_EXIT, m_menuTexts.exit.c_str());
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), m_menuTexts.file.c_str());
  HMENU help = CreatePopupMenu();
  AppendMenuA(help, MF_STRING | (m_parts.logFolder.empty() ? MF_GRAYED : 0u), ID_MENU_LOG_FOLDER,
              m_menuTexts.logFolder.c_str());
  AppendMenuA(help, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(help, MF_STRING, ID_MENU_ABOUT, m_menuTexts.about.c_str());
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), m_menuTexts.help.c_str());
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

void MainWindow::ShowNotConnected() {
  m_parts.dialogs->ShowMessage(m_hWnd, LoadResourceString(IDS_BOX_NOT_CONNECTED), LoadResourceString(IDS_APP_NAME),
                               MB_ICONHAND | MB_SETFOREGROUND);
}

void MainWindow::StopCurrent() {
  m_parts.sources->StopCurrent();
}

// --- The link --------------------------------------------------------------------
// Every call of the window into the link.

void MainWindow::Connect() {
  StopCurrent();
  bool listedOnly = false;
  if (m_parts.session->Reconnect(listedOnly)) {
    m_status.UpdateCaption();
    if (!listedOnly) AutoLoadBxa();
  } else if (!listedOnly) {
    ShowNotConnected();
  }
}

void MainWindow::Disconnect() {
  StopCurrent();
  m_parts.session->Disconnect();
}

bool MainWindow::IsConnected() const {
  return m_parts.session->GetDebuggerId() != 0;
}

bool MainWindow::GetDebuggerName(std::string* name) const {
  if (!IsConnected()) return false;
  *name = m_parts.session->GetDisplayName();
  return true;
}

void MainWindow::AutoLoadBxa() {
  m_parts.download->AutoLoad(m_bxaAutoLoad, m_parts.programFolder);
}

void MainWindow::CloseStream() {
  m_parts.link->RequestClose();
}

// --- Buttons -------------------------------------------------------------------------

void MainWindow::ResetStream() {
  StopCurrent();
  CloseStream();
}

void MainWindow::OnBxaAutoLoadClicked() {
  m_bxaAutoLoad = (m_bxa != nullptr && m_bxa->IsChecked()) ? 1 : 0;
  m_parts.preferences->SetBxaAutoLoad(m_bxaAutoLoad);
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
      text += "\n" + StreamStatisticsText(figures);
    }
  }
  m_parts.dialogs->ShowMessage(m_hWnd, text, WithoutMnemonic(m_menuTexts.streamStats), MB_ICONINFORMATION);
}

void MainWindow::OnSplineConverterClicked() {
  m_converterKind = m_converterKind == ConverterKind::SPLINE ? ConverterKind::SINC : ConverterKind::SPLINE;
  m_parts.preferences->SetConverter(m_converterKind);
  ApplyConverterKind();
  CheckMenuItem(GetMenu(m_hWnd), ID_MENU_SPLINE,
                MF_BYCOMMAND | (m_converterKind == ConverterKind::SPLINE ? MF_CHECKED : MF_UNCHECKED));
  StopCurrent();
}
