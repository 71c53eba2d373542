#include "ui/Gdi.h"

#include <cstring>

#include "support/Strings.h"

void LevelDisplay::Show(HWND hwnd, HFONT font, int x, int y, int dpi, const char* left, const char* right) {
  if (m_drawn && font == m_font && x == m_x && y == m_y && dpi == m_dpi && m_left == left && m_right == right) return;
  ScopedWindowDC window(hwnd);
  if (window.Get() == nullptr) return;
  if (dpi != m_dpi) Release();
  m_x = x;
  m_y = y;
  m_dpi = dpi;
  m_width = MulDiv(50, dpi, 96);
  m_height = MulDiv(34, dpi, 96);
  if (m_memory == nullptr) {
    m_memory = CreateCompatibleDC(window.Get());
    if (m_memory == nullptr) return;
    m_bitmap = CreateCompatibleBitmap(window.Get(), m_width, m_height);
    if (m_bitmap == nullptr) {
      Release();
      return;
    }
    m_oldBitmap = SelectObject(m_memory, m_bitmap);
  }
  if (font != m_font || m_oldFont == nullptr) {
    HGDIOBJ previous = SelectObject(m_memory, font);
    if (m_oldFont == nullptr) m_oldFont = previous;
    m_font = font;
  }
  SetBkColor(m_memory, GetSysColor(COLOR_BTNFACE));
  RECT all = {0, 0, m_width, m_height};
  FillRect(m_memory, &all, GetSysColorBrush(COLOR_BTNFACE));
  RECT line1 = {0, 0, m_width, MulDiv(14, dpi, 96)};
  DrawTextA(m_memory, left, -1, &line1, DT_RIGHT | DT_NOCLIP);
  RECT line2 = {0, MulDiv(20, dpi, 96), m_width, m_height};
  DrawTextA(m_memory, right, -1, &line2, DT_RIGHT | DT_NOCLIP);
  BitBlt(window.Get(), m_x, m_y, m_width, m_height, m_memory, 0, 0, SRCCOPY);
  m_left = left;
  m_right = right;
  m_drawn = true;
}

void LevelDisplay::Paint(HDC hdc) const {
  if (m_drawn && hdc != nullptr) BitBlt(hdc, m_x, m_y, m_width, m_height, m_memory, 0, 0, SRCCOPY);
}

void LevelDisplay::Release() {
  if (m_memory != nullptr) {
    if (m_oldFont != nullptr) SelectObject(m_memory, m_oldFont);
    if (m_oldBitmap != nullptr) SelectObject(m_memory, m_oldBitmap);
    DeleteDC(m_memory);
  }
  if (m_bitmap != nullptr) DeleteObject(m_bitmap);
  m_memory = nullptr;
  m_bitmap = nullptr;
  m_oldBitmap = nullptr;
  m_oldFont = nullptr;
  m_font = nullptr;
  m_dpi = 0;
  m_drawn = false;
  m_left.clear();
  m_right.clear();
}

int TextWidth(HFONT font, const char* text) {
  if (text == nullptr || text[0] == '\0') return 0;
  ScopedWindowDC screen(nullptr);
  if (screen.Get() == nullptr) return 0;
  ScopedSelect selectFont(screen.Get(),
                          font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
  SIZE size = {};
  if (!GetTextExtentPoint32A(screen.Get(), text, static_cast<int>(strlen(text)), &size)) return 0;
  return size.cx;
}

int LayoutTextWidth(HFONT font, const std::string& text, int dpi) {
  return LayoutLength(TextWidth(font, RemoveMnemonicMarks(text).c_str()), dpi);
}

HFONT MakeDialogFont(int dpi) {
  LOGFONTA font = {};
  GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
  font.lfHeight = ScaledLength(14, dpi > 0 ? dpi : LAYOUT_DPI);
  font.lfWidth = 0;
  return CreateFontIndirectA(&font);
}

int WindowDpi(HWND hwnd) {
  // Looked up, not imported: Windows 7 and 8 have no such function.
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  if (hwnd != nullptr && getDpiForWindow != nullptr) {
    const int dpi = static_cast<int>(getDpiForWindow(hwnd));
    if (dpi > 0) return dpi;
  }
  ScopedWindowDC screen(nullptr);
  const int dpi = screen.Get() != nullptr ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
  return dpi > 0 ? dpi : LAYOUT_DPI;
}

void MoveDialogToDpi(HWND dialog, const RECT* suggested, SIZE madeClient, int madeDpi, int dpi) {
  if (suggested != nullptr) {
    SetWindowPos(dialog, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT frame = {0, 0, MulDiv(madeClient.cx, dpi, madeDpi), MulDiv(madeClient.cy, dpi, madeDpi)};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_EXSTYLE)));
  SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
