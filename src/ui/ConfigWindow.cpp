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
  if (message == WM_COMMAND && m_model != nullptr) {
    ConfigSnapshot snapshot = m_model->TakeSnapshot();
    CWindowControl* control = FindControl(LOWORD(wParam));
    if (control != nullptr && control->OnCommand(wParam, lParam)) {
      m_model->Apply(snapshot);
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
    m_client[i].SetModel(&m_model);
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
    SetFocus(m_hWnd);
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

    ConfigPageFactory factory(page, m_model, m_font);
    item->CreateControl(factory, CONTROL_ID_BASE + i, m_layout.boxX, Scaled(y), Scaled(BOX_WIDTH), Scaled(22));

    auto madeHint = std::make_unique<CWCStatic>();
    madeHint->SetId(HINT_ID_BASE + i);
    madeHint->SetRect(m_layout.hintX, Scaled(y + 4), m_layout.hintWidth, Scaled(22));
    CWCStatic* hint = page.Add(std::move(madeHint));
    hint->SetText(item->GetHint());
    hint->SetFont(m_font);

    rows[clientIndex] = y + kRowStep;
  }

  m_model.UpdateFilterControls();
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
  for (int i = 0; i < m_model.GetCount(); ++i) {
    SoundConfigItem* item = m_model.GetItem(i);
    ConfigControl* control = dynamic_cast<ConfigControl*>(FindItemControl(i));
    if (item != nullptr && control != nullptr) item->AttachControl(control);
  }
}

bool ConfigWindow::TranslateDialogMessage(MSG* msg) {
  if (m_hWnd == nullptr || msg == nullptr) return false;
  if (msg->hwnd != m_hWnd && !IsChild(m_hWnd, msg->hwnd)) return false;
  return IsDialogMessageA(m_hWnd, msg) != FALSE;
}

LRESULT ConfigWindow::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  m_place.OnMessage(hwnd, message);
  switch (message) {
    case WM_CREATE:
      DragAcceptFiles(hwnd, TRUE);
      break;
    case WM_DROPFILES: {
      HDROP drop = reinterpret_cast<HDROP>(wParam);
      if (m_dropHandler) {
        m_dropHandler(drop);
      } else {
        DragFinish(drop);
      }
      return 0;
    }
    case WM_DESTROY:
      // The items forget their boxes before the boxes go.
      m_model.DetachControls();
      ForgetTabWindow();  // no quit message: the program goes on
      return 0;
    default:
      break;
  }
  return TabWindow::WndProc(hwnd, message, wParam, lParam);
}
