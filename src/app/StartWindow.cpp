#include "app/StartWindow.h"

#include "resources/resource.h"
#include "support/Language.h"
#include "ui/Gdi.h"

StartWindow::~StartWindow() {
  if (m_hwnd != nullptr) DestroyWindow(m_hwnd);
}

bool StartWindow::Create(HINSTANCE instance, HICON icon) {
  std::string name = LoadResourceString(IDS_APP_NAME);
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = StaticWndProc;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = name.c_str();
  if (RegisterClassExA(&wc) == 0) return false;
  RECT rect = {0, 0, 300, 100};
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  AdjustWindowRect(&rect, style, FALSE);
  CreateWindowExA(0, name.c_str(), name.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, rect.right - rect.left,
                  rect.bottom - rect.top, nullptr, nullptr, instance, this);
  return m_hwnd != nullptr;
}

void StartWindow::CreateControls(HFONT font) {
  m_font = font;
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(m_hwnd, GWLP_HINSTANCE));
  m_linkText = CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 10, 30, 100, 14, m_hwnd,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(LINK_TEXT_ID)), instance, nullptr);
  SendMessageA(m_linkText, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void StartWindow::DrawLevels(const std::string& left, const std::string& right) {
  if (m_hwnd != nullptr) DrawLevelDisplay(m_hwnd, m_font, 226, 30, left.c_str(), right.c_str());
}

bool StartWindow::GetLinkText(std::string* text) {
  HWND control = m_hwnd != nullptr ? GetDlgItem(m_hwnd, LINK_TEXT_ID) : nullptr;
  if (control == nullptr) return false;
  char buffer[256] = {};
  GetWindowTextA(control, buffer, sizeof(buffer));
  *text = buffer;
  return true;
}

void StartWindow::SetLinkText(const std::string& text) {
  if (m_linkText != nullptr) SetWindowTextA(m_linkText, text.c_str());
}

void StartWindow::UpdateCaption() {
  if (m_hwnd == nullptr) return;
  std::string caption = LoadResourceString(IDS_NOT_CONNECTED) + " - " + LoadResourceString(IDS_APP_NAME);
  char shown[256] = {};
  GetWindowTextA(m_hwnd, shown, sizeof(shown));
  if (caption != shown) SetWindowTextA(m_hwnd, caption.c_str());
}

LRESULT CALLBACK StartWindow::StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* self = static_cast<StartWindow*>(create->lpCreateParams);
    self->m_hwnd = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<StartWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self != nullptr) return self->WndProc(hwnd, message, wParam, lParam);
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT StartWindow::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      m_hwnd = nullptr;
      m_linkText = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}
