#include "ui/Gdi.h"

#include <cstring>

void DrawLevelDisplay(HWND hwnd, HFONT font, int x, int y, int dpi, const char* left, const char* right) {
  const int WIDTH = MulDiv(50, dpi, 96);
  const int HEIGHT = MulDiv(34, dpi, 96);
  ScopedWindowDC window(hwnd);
  if (window.Get() == nullptr) return;
  ScopedMemoryDC memory(window.Get());
  if (memory.Get() == nullptr) return;
  ScopedSelect selectFont(memory.Get(), font);
  SetBkColor(memory.Get(), GetSysColor(COLOR_BTNFACE));
  ScopedGdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(window.Get(), WIDTH, HEIGHT));
  if (bitmap.Get() == nullptr) return;
  ScopedSelect selectBitmap(memory.Get(), bitmap.Get());
  RECT all = {0, 0, WIDTH, HEIGHT};
  FillRect(memory.Get(), &all, GetSysColorBrush(COLOR_BTNFACE));
  RECT line1 = {0, 0, WIDTH, MulDiv(14, dpi, 96)};
  DrawTextA(memory.Get(), left, -1, &line1, DT_RIGHT | DT_NOCLIP);
  RECT line2 = {0, MulDiv(20, dpi, 96), WIDTH, HEIGHT};
  DrawTextA(memory.Get(), right, -1, &line2, DT_RIGHT | DT_NOCLIP);
  BitBlt(window.Get(), x, y, WIDTH, HEIGHT, memory.Get(), 0, 0, SRCCOPY);
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
