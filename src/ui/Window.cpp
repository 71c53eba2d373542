#include <windows.h>
#include <commctrl.h>

#include "ui/Window.h"

#include <utility>

#include "support/Diag.h"
#include "support/Log.h"

const WindowFunctions& SystemWindowFunctions() {
  static const WindowFunctions functions = {&RegisterClassExA, &CreateWindowExA};
  return functions;
}

// ---- Window ----

Window::~Window() {
  Close();
}

ATOM Window::Register(HINSTANCE instance, const std::string& className, HICON icon, HBRUSH background) {
  m_instance = instance;
  m_className = className;
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &Window::StaticWndProc;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = background;
  wc.lpszClassName = m_className.c_str();
  ATOM atom = m_functions->registerClass(&wc);
  if (atom == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    Log("RegisterClassEx(%s) failed: %lu\n", m_className.c_str(), static_cast<unsigned long>(GetLastError()));
  }
  return atom;
}

HWND Window::Create(HWND parent, DWORD style, HMENU menuOrId, const std::string& title) {
  if (m_hWnd != nullptr) return m_hWnd;
  m_hasScrollBars = (style & (WS_HSCROLL | WS_VSCROLL)) != 0;
  HWND hwnd = m_functions->createWindow(0, m_className.c_str(), title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, 256,
                                      256, parent, menuOrId, m_instance, this);
  // The handle was recorded at WM_CREATE; a window whose creation failed
  // leaves none.
  if (hwnd == nullptr) {
    Log("CreateWindowEx(%s) failed: %lu\n", m_className.c_str(), static_cast<unsigned long>(GetLastError()));
    m_hWnd = nullptr;
  }
  return m_hWnd;
}

void Window::Close() {
  if (m_hWnd == nullptr) return;
  HWND hwnd = m_hWnd;
  SendMessageA(hwnd, WM_CLOSE, 0, 0);
  m_hWnd = nullptr;
}

void Window::SetClientSize(int x, int y, int width, int height) {
  m_clientWidth = width;
  m_clientHeight = height;
  if (m_hWnd == nullptr) return;
  DWORD style = static_cast<DWORD>(GetWindowLongPtrA(m_hWnd, GWL_STYLE));
  DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE));
  bool hasMenu = (style & WS_CHILD) == 0 && GetMenu(m_hWnd) != nullptr;
  RECT frame = {0, 0, width, height};
  AdjustWindowRectEx(&frame, style, hasMenu ? TRUE : FALSE, exStyle);
  if (x < 0 || y < 0) {
    RECT current = {};
    GetWindowRect(m_hWnd, &current);
    POINT topLeft = {current.left, current.top};
    HWND parent = GetParent(m_hWnd);
    if ((style & WS_CHILD) != 0 && parent != nullptr) ScreenToClient(parent, &topLeft);
    if (x < 0) x = topLeft.x;
    if (y < 0) y = topLeft.y;
  }
  int outerWidth = frame.right - frame.left;
  int outerHeight = frame.bottom - frame.top;
  MoveWindow(m_hWnd, x, y, outerWidth, outerHeight, TRUE);
  // A menu bar that wraps onto a second line takes more than the one line
  // counted above: make up the difference.
  RECT client = {};
  GetClientRect(m_hWnd, &client);
  int missingWidth = width - (client.right - client.left);
  int missingHeight = height - (client.bottom - client.top);
  if (hasMenu && (missingWidth != 0 || missingHeight != 0)) {
    MoveWindow(m_hWnd, x, y, outerWidth + missingWidth, outerHeight + missingHeight, TRUE);
  }
}

CWindowControl* Window::AddControl(std::unique_ptr<CWindowControl> control) {
  if (control == nullptr) return nullptr;
  control->Create(m_instance, m_hWnd);
  m_controls.push_back(std::move(control));
  return m_controls.back().get();
}

CWindowControl* Window::FindControl(int id) const {
  for (const auto& control : m_controls) {
    if (control->GetId() == id) return control.get();
  }
  return nullptr;
}

CWindowControl* Window::FindControlByHwnd(HWND hwnd) const {
  if (hwnd == nullptr) return nullptr;
  for (const auto& control : m_controls) {
    if (control->GetHwnd() == hwnd) return control.get();
  }
  return nullptr;
}

void Window::DeleteControls() {
  // Unlinked first: destroying a control's window sends messages (focus
  // loss, notifications) that must not find controls half deleted.
  std::vector<std::unique_ptr<CWindowControl>> controls;
  controls.swap(m_controls);
  controls.clear();
}

void Window::ForgetWindow() {
  DeleteControls();
  m_hWnd = nullptr;
  m_mouse = MouseState();
}

void Window::ButtonDown() {
  if (++m_mouse.pressed == 1) SetCapture(m_hWnd);
}

void Window::ButtonUp() {
  if (m_mouse.pressed == 0) return;
  if (--m_mouse.pressed == 0 && GetCapture() == m_hWnd) ReleaseCapture();
}

LRESULT CALLBACK Window::StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) {
    const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    Window* window = static_cast<Window*>(create->lpCreateParams);
    if (window != nullptr) {
      window->m_hWnd = hwnd;
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
  }
  Window* window = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (window == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // The last message of the window: the object may be deleted or create a
    // new window from now on.
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    LRESULT result = window->WndProc(hwnd, message, wParam, lParam);
    if (window->m_hWnd == hwnd) window->m_hWnd = nullptr;
    return result;
  }
  return window->WndProc(hwnd, message, wParam, lParam);
}

LRESULT Window::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      m_mouse = MouseState();
      m_mouse.window = hwnd;
      m_active = true;
      return 0;
    case WM_DESTROY:
      ForgetWindow();
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      m_clientWidth = LOWORD(lParam);
      m_clientHeight = HIWORD(lParam);
      return 0;
    case WM_ACTIVATE:
      if (HIWORD(wParam) != 0 || LOWORD(wParam) == WA_INACTIVE) {
        m_active = false;
      } else {
        m_active = true;
      }
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_COMMAND: {
      CWindowControl* control = FindControl(LOWORD(wParam));
      if (control != nullptr && control->OnCommand(wParam, lParam)) return 0;
      break;
    }
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      CWindowControl* control = header != nullptr ? FindControlByHwnd(header->hwndFrom) : nullptr;
      if (control != nullptr && control->OnNotify(wParam, lParam)) return 0;
      break;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      ButtonDown();
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      ButtonUp();
      return 0;
    case WM_CAPTURECHANGED:
      // Another window took the capture (a message box, a switch of
      // application): the buttons pressed here no longer count.
      if (reinterpret_cast<HWND>(lParam) != hwnd) m_mouse.pressed = 0;
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// ---- TabClientWindow ----

TabClientWindow::~TabClientWindow() {
  if (m_hWnd != nullptr && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

ATOM TabClientWindow::Register(HINSTANCE instance, const std::string& className, HICON icon, HBRUSH background) {
  m_focusHolder = nullptr;
  return Window::Register(instance, className, icon, background);
}

LRESULT TabClientWindow::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    DeleteControls();
    m_hWnd = nullptr;
    m_focusHolder = nullptr;
    return 0;
  }
  return Window::WndProc(hwnd, message, wParam, lParam);
}

// ---- TabWindow ----

TabWindow::~TabWindow() = default;

ATOM TabWindow::Register(HINSTANCE instance, const std::string& className, HICON icon, HBRUSH background,
                         TabClientWindow* const* pages, int pageCount) {
  QASSERT(!m_registered);
  m_registered = true;
  if (pageCount < 0) pageCount = 0;
  m_pages.assign(pages, pages + pageCount);
  ATOM atom = Window::Register(instance, className, icon, background);
  for (int i = 0; i < pageCount; ++i) {
    m_pages[i]->Register(instance, className + "TabClient" + std::to_string(i), icon, background);
  }
  return atom;
}

HWND TabWindow::Create(HWND parent, DWORD style, HMENU menuOrId, const std::string& title, int tabId) {
  if (m_hWnd != nullptr) return m_hWnd;
  style = (style & ~static_cast<DWORD>(WS_HSCROLL | WS_VSCROLL)) | WS_CLIPCHILDREN;
  if (Window::Create(parent, style, menuOrId, title) == nullptr) return nullptr;
  auto tab = std::make_unique<CWCTab>();
  tab->SetId(tabId);
  tab->SetRect(0, 0, 4, 4);
  tab->onSelectionChanged = [this](int selected) { ShowPage(selected); };
  m_tab = Add(std::move(tab));
  for (size_t i = 0; i < m_pages.size(); ++i) {
    m_pages[i]->Create(m_tab->GetHwnd(), WS_CHILD | WS_VISIBLE, nullptr, std::string());
    if (i != 0 && m_pages[i]->GetHwnd() != nullptr) ShowWindow(m_pages[i]->GetHwnd(), SW_HIDE);
  }
  LayoutPages();
  return m_hWnd;
}

TabClientWindow* TabWindow::GetPage(int index) const {
  if (index < 0 || index >= GetPageCount()) return nullptr;
  return m_pages[static_cast<size_t>(index)];
}

void TabWindow::ShowPage(int index) {
  for (int i = 0; i < GetPageCount(); ++i) {
    if (i == index) continue;
    TabClientWindow* page = m_pages[static_cast<size_t>(i)];
    if (page->GetHwnd() == nullptr) continue;
    CWindowControl* focused = page->FindControlByHwnd(GetFocus());
    if (focused != nullptr) {
      SendMessageA(focused->GetHwnd(), WM_KILLFOCUS, 0, 0);
      SetFocus(page->GetFocusHolder());
    }
    ShowWindow(page->GetHwnd(), SW_HIDE);
  }
  TabClientWindow* shown = GetPage(index);
  if (shown != nullptr && shown->GetHwnd() != nullptr) ShowWindow(shown->GetHwnd(), SW_SHOW);
}

void TabWindow::LayoutPages() {
  if (m_hWnd == nullptr || m_tab == nullptr || m_tab->GetHwnd() == nullptr) return;
  RECT client = {};
  GetClientRect(m_hWnd, &client);
  m_tab->SetRect(0, 0, client.right - client.left, client.bottom - client.top);
  RECT display = client;
  SendMessageA(m_tab->GetHwnd(), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
  for (TabClientWindow* client : m_pages) {
    HWND page = client->GetHwnd();
    if (page == nullptr) continue;
    MoveWindow(page, display.left, display.top, display.right - display.left, display.bottom - display.top, TRUE);
  }
}

void TabWindow::ForgetTabWindow() {
  DeleteControls();
  m_tab = nullptr;
  ForgetWindow();
}

LRESULT TabWindow::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      DeleteControls();
      m_tab = nullptr;
      break;
    case WM_SIZE:
      Window::WndProc(hwnd, message, wParam, lParam);
      LayoutPages();
      return 0;
    default:
      break;
  }
  return Window::WndProc(hwnd, message, wParam, lParam);
}
