#include <windows.h>
#include <commctrl.h>

#include "ui/WindowControl.h"

#include <vector>

#include "support/Diag.h"
#include "support/Strings.h"
#include "ui/Gdi.h"

CWindowControl::~CWindowControl() {
  if (m_hWnd == nullptr) return;
  if (m_previousProc != nullptr && IsWindow(m_hWnd)) {
    // The object is going: messages of the dying window must not reach it.
    SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previousProc));
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
  }
  if (IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
}

LRESULT CWindowControl::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallPrevious(hwnd, message, wParam, lParam);
}

LRESULT CWindowControl::CallPrevious(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_previousProc == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
  return CallWindowProcA(m_previousProc, hwnd, message, wParam, lParam);
}

HWND CWindowControl::Create(HINSTANCE instance, HWND parent) {
  if (m_hWnd != nullptr) return m_hWnd;
  m_hWnd = CreateWindowExA(m_exStyle, GetClassName(), GetTitle(), m_style, m_x, m_y, m_width, m_height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(m_id)), instance, nullptr);
  return m_hWnd;
}

bool CWindowControl::OnCommand(WPARAM, LPARAM) {
  return false;
}

bool CWindowControl::OnNotify(WPARAM, LPARAM) {
  return false;
}

void CWindowControl::SetRect(int x, int y, int width, int height) {
  m_x = x;
  m_y = y;
  m_width = width;
  m_height = height;
  if (m_hWnd != nullptr) MoveWindow(m_hWnd, x, y, width, height, TRUE);
}

bool CWindowControl::HasFocus() const {
  return m_hWnd != nullptr && GetFocus() == m_hWnd;
}

void CWindowControl::SetFont(HFONT font) {
  SendMessageA(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void CWindowControl::Subclass() {
  QASSERT(m_hWnd);
  if (m_previousProc != nullptr) return;
  SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  m_previousProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWindowControl::ControlProc)));
}

LRESULT CALLBACK CWindowControl::ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWindowControl* inst = reinterpret_cast<CWindowControl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  QASSERT(inst);
  return inst->WndProc(hwnd, message, wParam, lParam);
}

void CWindowControl::SetWindowTextTo(const std::string& text) {
  SetWindowTextA(m_hWnd, text.c_str());
}

std::string CWindowControl::GetWindowTextOf() const {
  if (m_hWnd == nullptr) return std::string();
  int length = GetWindowTextLengthA(m_hWnd);
  if (length <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  int got = GetWindowTextA(m_hWnd, buffer.data(), length + 1);
  if (got < 0) got = 0;
  return std::string(buffer.data(), static_cast<size_t>(got));
}

// ---- CWCEdit ----

void CWCEdit::SetText(const std::string& text) {
  std::string converted = text;
  ConvertLineEnds(converted);
  SetWindowTextA(m_hWnd, "");
  SendMessageA(m_hWnd, EM_SETSEL, static_cast<WPARAM>(-1), -1);
  SendMessageA(m_hWnd, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(converted.c_str()));
}

// ---- buttons, check boxes and radio buttons ----

bool CWCButton::OnCommand(WPARAM wParam, LPARAM) {
  if (!onClicked) return false;
  if (HIWORD(wParam) == BN_CLICKED) onClicked();
  return true;
}

bool CWCRadioButton::IsChecked() const {
  return SendMessageA(m_hWnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void CWCRadioButton::SetChecked(bool checked) {
  SendMessageA(m_hWnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool CWCCheckBox::IsChecked() const {
  return SendMessageA(m_hWnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void CWCCheckBox::SetChecked(bool checked) {
  SendMessageA(m_hWnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

// ---- CWCComboBox ----

void CWCComboBox::Clear() {
  while (GetCount() > 0) {
    if (SendMessageA(m_hWnd, CB_DELETESTRING, 0, 0) == CB_ERR) break;
  }
}

int CWCComboBox::AddString(const std::string& text) {
  return static_cast<int>(SendMessageA(m_hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int CWCComboBox::GetCount() const {
  if (m_hWnd == nullptr) return 0;
  LRESULT count = SendMessageA(m_hWnd, CB_GETCOUNT, 0, 0);
  return count > 0 ? static_cast<int>(count) : 0;
}

std::string CWCComboBox::GetItemText(int index) const {
  if (index < 0 || m_hWnd == nullptr) return std::string();
  LRESULT length = SendMessageA(m_hWnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length < 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  LRESULT got = SendMessageA(m_hWnd, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
  if (got == CB_ERR || got < 0 || got > length) return std::string();
  return std::string(buffer.data(), static_cast<size_t>(got));
}

int CWCComboBox::GetSelection() const {
  if (m_hWnd == nullptr) return -1;
  LRESULT selection = SendMessageA(m_hWnd, CB_GETCURSEL, 0, 0);
  return selection == CB_ERR ? -1 : static_cast<int>(selection);
}

void CWCComboBox::SetSelection(int index) {
  SendMessageA(m_hWnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void CWCComboBox::FitDropDownWidth() {
  if (m_hWnd == nullptr) return;
  ScopedWindowDC dc(m_hWnd);
  if (dc.Get() == nullptr) return;
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
  ScopedSelect select(dc.Get(), font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
  LONG widest = 0;
  int count = GetCount();
  for (int i = 0; i < count; ++i) {
    std::string text = GetItemText(i);
    SIZE size = {};
    if (GetTextExtentPoint32A(dc.Get(), text.c_str(), static_cast<int>(text.size()), &size) && size.cx > widest) {
      widest = size.cx;
    }
  }
  SendMessageA(m_hWnd, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + 32), 0);
}

bool CWCComboBox::OnCommand(WPARAM wParam, LPARAM) {
  if (!onSelectionChanged && !onDropDown) return false;
  if (HIWORD(wParam) == CBN_SELCHANGE && onSelectionChanged) {
    onSelectionChanged();
  } else if (HIWORD(wParam) == CBN_DROPDOWN && onDropDown) {
    onDropDown();
  }
  return true;
}

// ---- CWCTab ----

void CWCTab::AddTab(const std::string& text, int index) {
  TCITEMA item = {};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<char*>(text.c_str());
  SendMessageA(m_hWnd, TCM_INSERTITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

int CWCTab::GetTabCount() const {
  return static_cast<int>(SendMessageA(m_hWnd, TCM_GETITEMCOUNT, 0, 0));
}

int CWCTab::GetSelection() const {
  return static_cast<int>(SendMessageA(m_hWnd, TCM_GETCURSEL, 0, 0));
}

void CWCTab::SetSelection(int index) {
  SendMessageA(m_hWnd, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
}

bool CWCTab::OnNotify(WPARAM, LPARAM lParam) {
  const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
  if (header == nullptr || header->code != static_cast<UINT>(TCN_SELCHANGE)) return false;
  int selected = GetSelection();
  if (onSelectionChanged) onSelectionChanged(selected);
  return true;
}
