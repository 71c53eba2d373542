#include <windows.h>
#include <shellapi.h>

#include "ui/ConfigWindow.h"

#include <algorithm>
#include <memory>
#include <string>

#include "resources/resource.h"
#include "support/Diag.h"
#include "support/Language.h"
#include "support/Strings.h"
#include "ui/ConfigControls.h"
#include "ui/Gdi.h"

namespace {

// The window's style: a caption, a system menu and a minimize box. The low
// word's 0x0200 is a class-specific bit that means nothing to this window
// class; the value is kept whole on purpose, as the settings window has
// always been made with it.
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | 0x0200;
static_assert(kWindowStyle == 0x00CA0200, "settings window style");

constexpr int kRowStart = 8;
constexpr int kRowStep = 32;
// Between a text's extent and the width of its control: a static control
// needs no more than the text, a little room keeps rounding from cutting it;
// a label also keeps clear of the box right of it.
constexpr int kTextRoom = 4;
constexpr int kLabelRoom = 8;
// From the box's right edge to the hint, and the least room right of a hint
// column that grew.
constexpr int kHintGap = ConfigWindow::HINT_X - ConfigWindow::BOX_X - ConfigWindow::BOX_WIDTH;
constexpr int kRightMargin = 8;

void AddExStyle(HWND hwnd, LONG_PTR exStyle) {
  if (hwnd == nullptr) return;
  SetWindowLongPtrA(hwnd, GWL_EXSTYLE, GetWindowLongPtrA(hwnd, GWL_EXSTYLE) | exStyle);
}

}  // namespace

const char* const ConfigWindow::TAB_TEXTS[CLIENT_MAX] = {"Param 1", "Param 2", "Reverb A", "Reverb B",
                                                         "Delay A", "Delay B", "Analyzer", "Filter"};

// ---- ConfigClientWindow ----

ConfigClientWindow::~ConfigClientWindow() {
  if (m_hWnd != nullptr && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

LRESULT ConfigClientWindow::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && m_views != nullptr) {
    ConfigSnapshot snapshot = m_views->Model().TakeSnapshot();
    CWindowControl* control = FindControl(LOWORD(wParam));
    if (control != nullptr && control->OnCommand(wParam, lParam)) {
      m_views->Apply(snapshot);
      return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  return TabClientWindow::WndProc(hwnd, message, wParam, lParam);
}

// ---- ConfigWindow ----

ConfigWindow::ConfigWindow(SoundConfig& model) : m_model(model) {}

ConfigWindow::~ConfigWindow() {
  // Closed here, while this class's procedure still handles WM_DESTROY.
  Close();
}

void ConfigWindow::Register(HINSTANCE instance, HICON icon, HFONT font, int dpi) {
  m_font = font;
  m_dpi = dpi > 0 ? dpi : 96;
  QASSERT(m_client == NULL);
  m_client.reset(new ConfigClientWindow[CLIENT_MAX]);
  TabClientWindow* pages[CLIENT_MAX];
  for (int i = 0; i < CLIENT_MAX; ++i) {
    m_client[i].SetViews(&m_views);
    pages[i] = &m_client[i];
  }
  // The class is named by the Settings button's text without its mnemonic.
  TabWindow::Register(instance, WithoutMnemonic(LoadResourceString(IDS_SETTINGS)), icon,
                      reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), pages, CLIENT_MAX);
}

ConfigClientWindow* ConfigWindow::GetClient(int index) const {
  if (!m_client || index < 0 || index >= CLIENT_MAX) return nullptr;
  return &m_client[index];
}

int ConfigWindow::ClientIndexOf(const SoundConfigItem& item) {
  const std::string& top = item.GetPath(0);
  const std::string& bus = item.GetPath(1);
  const std::string& effect = item.GetPath(2);
  if (bus == "AUX_BUS_A" && effect == "Reverb") return 2;
  if (bus == "AUX_BUS_A" && effect == "Delay") return 4;
  if (bus == "AUX_BUS_B" && effect == "Reverb") return 3;
  if (bus == "AUX_BUS_B" && effect == "Delay") return 5;
  if (top == "SoundParam" || top == "Effect") return 1;
  if (top == "Analyzer") return 6;
  if (top == "Filter") return 7;
  return 0;
}

void ConfigWindow::Show() {
  if (m_hWnd != nullptr) {
    ShowWindow(m_hWnd, SW_SHOWNORMAL);
    SetActiveWindow(m_hWnd);
    HWND focus = GetFocus();
    if (focus == nullptr || !IsChild(m_hWnd, focus)) RestoreFocus();
    return;
  }
  CreateWindowAndControls();
}

void ConfigWindow::CreateWindowAndControls() {
  if (!m_client) return;  // never registered
  if (TabWindow::Create(nullptr, kWindowStyle, nullptr, LoadResourceString(IDS_APP_NAME), TAB_ID) == nullptr) return;
  m_layout = MeasureLayout();
  SetClientSize(-1, -1, m_layout.clientWidth, Scaled(CLIENT_HEIGHT));
  m_place.Restore(m_hWnd);

  CWCTab* tab = GetTab();
  // The dialog keyboard handling looks for tab stops inside the tab control
  // and the shown page.
  AddExStyle(tab->GetHwnd(), WS_EX_CONTROLPARENT);
  for (int i = 0; i < CLIENT_MAX; ++i) AddExStyle(m_client[i].GetHwnd(), WS_EX_CONTROLPARENT);
  tab->SetFont(m_font);
  for (int i = 0; i < CLIENT_MAX; ++i) tab->AddTab(TAB_TEXTS[i], i);

  int rows[CLIENT_MAX];  // at 96 DPI
  for (int& y : rows) y = kRowStart;
  m_views.Forget();
  for (int i = 0; i < m_model.GetCount(); ++i) {
    SoundConfigItem* item = m_model.GetItem(i);
    if (item == nullptr) continue;
    int clientIndex = ClientIndexOf(*item);
    QASSERT(clientIndex >= 0 && clientIndex < CLIENT_MAX);
    ConfigClientWindow& page = m_client[clientIndex];
    int y = rows[clientIndex];

    auto madeLabel = std::make_unique<CWCStatic>();
    madeLabel->SetId(LABEL_ID_BASE + i);
    madeLabel->SetRect(Scaled(LABEL_X), Scaled(y + 4), m_layout.labelWidth, Scaled(22));
    CWCStatic* label = page.Add(std::move(madeLabel));
    label->SetText(item->GetKey());
    label->SetFont(m_font);

    ConfigPageFactory factory(page, m_views, m_font);
    m_views.Create(i, factory, CONTROL_ID_BASE + i, m_layout.boxX, Scaled(y), Scaled(BOX_WIDTH), Scaled(22));

    auto madeHint = std::make_unique<CWCStatic>();
    madeHint->SetId(HINT_ID_BASE + i);
    madeHint->SetRect(m_layout.hintX, Scaled(y + 4), m_layout.hintWidth, Scaled(22));
    CWCStatic* hint = page.Add(std::move(madeHint));
    hint->SetText(item->GetHint());
    hint->SetFont(m_font);

    rows[clientIndex] = y + kRowStep;
  }

  m_views.ShowEnabled();
  ShowWindow(m_hWnd, SW_SHOWNORMAL);
  UpdateWindow(m_hWnd);
}

ConfigWindow::Layout ConfigWindow::MeasureLayout() const {
  int widestLabel = 0;
  int widestHint = 0;
  for (int i = 0; i < m_model.GetCount(); ++i) {
    const SoundConfigItem* item = m_model.GetItem(i);
    if (item == nullptr) continue;
    widestLabel = std::max(widestLabel, TextWidth(m_font, item->GetKey().c_str()));
    widestHint = std::max(widestHint, TextWidth(m_font, item->GetHint().c_str()));
  }
  Layout layout;
  layout.labelWidth = std::max(Scaled(LABEL_WIDTH), widestLabel + Scaled(kLabelRoom));
  layout.boxX = Scaled(LABEL_X) + layout.labelWidth;
  layout.hintX = layout.boxX + Scaled(BOX_WIDTH) + Scaled(kHintGap);
  layout.hintWidth = std::max(Scaled(HINT_WIDTH), widestHint + Scaled(kTextRoom));
  layout.clientWidth = std::max(Scaled(CLIENT_WIDTH), layout.hintX + layout.hintWidth + Scaled(kRightMargin));
  return layout;
}

void ConfigWindow::OnDpiChanged(int dpi, const RECT* suggested) {
  if (dpi <= 0 || m_hWnd == nullptr) return;
  if (suggested != nullptr) {
    SetWindowPos(m_hWnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  HFONT font = dpi != m_dpi ? MakeDialogFont(dpi) : nullptr;
  m_dpi = dpi;
  if (font != nullptr) m_font = font;
  m_layout = MeasureLayout();
  // The client area is set exactly (the pages follow it, WM_SIZE); then the
  // rows by the new columns, in the new font.
  SetClientSize(-1, -1, m_layout.clientWidth, Scaled(CLIENT_HEIGHT));
  PlaceRows();
  // No control uses the font made before any more.
  if (font != nullptr) m_dpiFont.Reset(font);
}

void ConfigWindow::PlaceRows() {
  CWCTab* tab = GetTab();
  if (tab != nullptr) tab->SetFont(m_font);
  auto place = [&](CWindowControl* control, int x, int y, int width, int height) {
    if (control == nullptr) return;
    control->SetRect(x, y, width, height);
    control->SetFont(m_font);
  };
  int rows[CLIENT_MAX];  // at 96 DPI, as CreateWindowAndControls makes them
  for (int& y : rows) y = kRowStart;
  for (int i = 0; i < m_model.GetCount(); ++i) {
    const SoundConfigItem* item = m_model.GetItem(i);
    if (item == nullptr) continue;
    const int clientIndex = ClientIndexOf(*item);
    ConfigClientWindow& page = m_client[clientIndex];
    const int y = rows[clientIndex];
    place(page.FindControl(LABEL_ID_BASE + i), Scaled(LABEL_X), Scaled(y + 4), m_layout.labelWidth, Scaled(22));
    CWindowControl* box = page.FindControl(CONTROL_ID_BASE + i);
    place(box, m_layout.boxX, Scaled(y), Scaled(BOX_WIDTH), Scaled(22));
    if (auto* list = dynamic_cast<CWCComboBox*>(box)) list->FitDropDownWidth();
    place(page.FindControl(HINT_ID_BASE + i), m_layout.hintX, Scaled(y + 4), m_layout.hintWidth, Scaled(22));
    rows[clientIndex] = y + kRowStep;
  }
}

CWindowControl* ConfigWindow::FindItemControl(int index) const {
  if (!m_client) return nullptr;
  for (int page = 0; page < CLIENT_MAX; ++page) {
    CWindowControl* control = m_client[page].FindControl(CONTROL_ID_BASE + index);
    if (control != nullptr) return control;
  }
  return nullptr;
}

void ConfigWindow::RefreshControls() {
  if (m_hWnd == nullptr) return;
  m_views.ShowValues();
}

bool ConfigWindow::TranslateDialogMessage(MSG* msg) {
  if (m_hWnd == nullptr || msg == nullptr) return false;
  if (msg->hwnd != m_hWnd && !IsChild(m_hWnd, msg->hwnd)) return false;
  // Ctrl+Tab before the dialog manager, which would take it for a plain Tab.
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB && GetKeyState(VK_CONTROL) < 0) {
    const int count = GetPageCount();
    if (count > 0) SelectPage((GetShownPage() + (GetKeyState(VK_SHIFT) < 0 ? count - 1 : 1)) % count);
    return true;
  }
  // Tab, Shift+Tab, and Esc as IDCANCEL (WM_COMMAND below). An edit box
  // keeps Enter for itself (CWCConfigEdit's WM_GETDLGCODE).
  return IsDialogMessageA(m_hWnd, msg) != FALSE;
}

int ConfigWindow::GetShownPage() const {
  CWCTab* tab = GetTab();
  if (m_hWnd == nullptr || tab == nullptr) return 0;
  const int selected = tab->GetSelection();
  return selected >= 0 && selected < GetPageCount() ? selected : 0;
}

void ConfigWindow::SelectPage(int index) {
  CWCTab* tab = GetTab();
  if (m_hWnd == nullptr || tab == nullptr || index < 0 || index >= GetPageCount()) return;
  tab->SetSelection(index);
  ShowPage(index);
}

void ConfigWindow::ShowPage(int index) {
  TabWindow::ShowPage(index);
  // A click on a tab leaves the keyboard on the tab control, a hidden box
  // leaves it nowhere: it goes to the new page's first item.
  if (m_hWnd != nullptr && GetActiveWindow() == m_hWnd) FocusFirstItem(index);
}

void ConfigWindow::FocusFirstItem(int index) {
  ConfigClientWindow* page = GetClient(index);
  if (page == nullptr || page->GetHwnd() == nullptr) return;
  // The rows were made top to bottom, each box after its label: the page's
  // children in that order are the order of Tab.
  for (HWND child = GetWindow(page->GetHwnd(), GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
    if ((style & WS_TABSTOP) == 0 || (style & WS_VISIBLE) == 0 || (style & WS_DISABLED) != 0) continue;
    SetFocus(child);
    if ((SendMessageA(child, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0) SendMessageA(child, EM_SETSEL, 0, -1);
    return;
  }
  // A page with nothing to type in: the keyboard on the tabs.
  if (GetTab() != nullptr) SetFocus(GetTab()->GetHwnd());
}

void ConfigWindow::RestoreFocus() {
  HWND last = m_lastFocus;
  m_lastFocus = nullptr;
  if (last != nullptr && IsWindow(last) && IsChild(m_hWnd, last) && IsWindowVisible(last) && IsWindowEnabled(last)) {
    SetFocus(last);
    return;
  }
  FocusFirstItem(GetShownPage());
}

LRESULT ConfigWindow::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  m_place.OnMessage(hwnd, message);
  switch (message) {
    case WM_CREATE:
      DragAcceptFiles(hwnd, TRUE);
      break;
    case WM_DPICHANGED:
      OnDpiChanged(DpiChangedDpi(wParam), reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_GETMINMAXINFO: {
      // The window is as large as its rows need at its DPI, even where that
      // is more than the screen's height (200 % on a small screen): the
      // system would cut its rows off.
      RECT frame = {0, 0, m_layout.clientWidth, Scaled(CLIENT_HEIGHT)};
      AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_EXSTYLE)));
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMaxTrackSize.x = std::max<LONG>(limits->ptMaxTrackSize.x, frame.right - frame.left);
      limits->ptMaxTrackSize.y = std::max<LONG>(limits->ptMaxTrackSize.y, frame.bottom - frame.top);
      return 0;
    }
    case WM_DROPFILES: {
      HDROP drop = reinterpret_cast<HDROP>(wParam);
      if (m_dropHandler) {
        m_dropHandler(drop);
      } else {
        DragFinish(drop);
      }
      return 0;
    }
    case WM_COMMAND:
      // Esc (the dialog manager's IDCANCEL, from no control): closed as by
      // the close button, through the same message.
      if (LOWORD(wParam) == IDCANCEL && lParam == 0) {
        SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
      }
      break;
    case WM_ACTIVATE:
      // The keyboard is kept across a switch to another window, as in a
      // dialog box; the default handling would leave it on the frame.
      TabWindow::WndProc(hwnd, message, wParam, lParam);
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd, focus)) m_lastFocus = focus;
      } else if (HIWORD(wParam) == 0) {
        RestoreFocus();
      }
      return 0;
    case WM_DESTROY:
      m_lastFocus = nullptr;
      // The views forget their boxes before the boxes go.
      m_views.Forget();
      ForgetTabWindow();  // no quit message: the program goes on
      return 0;
    default:
      break;
  }
  return TabWindow::WndProc(hwnd, message, wParam, lParam);
}
