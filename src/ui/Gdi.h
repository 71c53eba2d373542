// Small owners of GDI and other user-interface handles: each releases its
// handle in its destructor, one type per kind of handle.
#pragma once

#include <windows.h>

#include <string>

// A window's device context from GetDC, released with ReleaseDC.
class ScopedWindowDC {
 public:
  explicit ScopedWindowDC(HWND hwnd) : m_hwnd(hwnd), m_hdc(GetDC(hwnd)) {}
  ~ScopedWindowDC() {
    if (m_hdc != nullptr) ReleaseDC(m_hwnd, m_hdc);
  }
  ScopedWindowDC(const ScopedWindowDC&) = delete;
  ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;
  HDC Get() const { return m_hdc; }

 private:
  HWND m_hwnd;
  HDC m_hdc;
};

// A memory device context from CreateCompatibleDC, deleted with DeleteDC.
class ScopedMemoryDC {
 public:
  explicit ScopedMemoryDC(HDC compatibleWith) : m_hdc(CreateCompatibleDC(compatibleWith)) {}
  ~ScopedMemoryDC() {
    if (m_hdc != nullptr) DeleteDC(m_hdc);
  }
  ScopedMemoryDC(const ScopedMemoryDC&) = delete;
  ScopedMemoryDC& operator=(const ScopedMemoryDC&) = delete;
  HDC Get() const { return m_hdc; }

 private:
  HDC m_hdc;
};

// A handle freed with the function its kind is freed with: an icon made by
// LoadImage (DestroyIcon), a module loaded by this program (FreeLibrary).
template <typename T, BOOL(WINAPI* Free)(T)>
class ScopedHandle {
 public:
  explicit ScopedHandle(T handle = nullptr) : m_handle(handle) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  T Get() const { return m_handle; }
  void Reset(T handle = nullptr) {
    if (m_handle != nullptr) Free(m_handle);
    m_handle = handle;
  }

 private:
  T m_handle;
};
using ScopedIcon = ScopedHandle<HICON, DestroyIcon>;

// A GDI object (font, bitmap, brush, pen) owned and deleted with DeleteObject.
template <typename T>
BOOL WINAPI DeleteGdiObject(T object) {
  return DeleteObject(object);
}
template <typename T>
using ScopedGdiObject = ScopedHandle<T, DeleteGdiObject<T>>;
using ScopedModule = ScopedHandle<HMODULE, FreeLibrary>;

// Selects an object into a device context and puts the previous one back.
class ScopedSelect {
 public:
  ScopedSelect(HDC hdc, HGDIOBJ object) : m_hdc(hdc), m_previous(SelectObject(hdc, object)) {}
  ~ScopedSelect() {
    if (m_previous != nullptr) SelectObject(m_hdc, m_previous);
  }
  ScopedSelect(const ScopedSelect&) = delete;
  ScopedSelect& operator=(const ScopedSelect&) = delete;

 private:
  HDC m_hdc;
  HGDIOBJ m_previous;
};

// The level display: two right-aligned lines in a 50 x 34 bitmap (at 96
// DPI; scaled by dpi / 96) on the button-face colour, shown in a window's
// client area at (x, y). The bitmap and its memory context are kept from one
// redraw to the next; a redraw whose lines are those shown already draws
// nothing, and the window's paint copies the kept bitmap back.
class LevelDisplay {
 public:
  LevelDisplay() = default;
  ~LevelDisplay() { Release(); }
  LevelDisplay(const LevelDisplay&) = delete;
  LevelDisplay& operator=(const LevelDisplay&) = delete;

  // Shows the two lines in hwnd with font, unless they are shown already.
  void Show(HWND hwnd, HFONT font, int x, int y, int dpi, const char* left, const char* right);
  // Copies what was drawn last into a paint context of the window.
  void Paint(HDC hdc) const;
  // Frees the bitmap and its context (the window is going); the next Show
  // makes them again.
  void Release();

 private:
  int m_x = 0;
  int m_y = 0;
  int m_dpi = 0;
  int m_width = 0;
  int m_height = 0;
  HDC m_memory = nullptr;
  HBITMAP m_bitmap = nullptr;
  HGDIOBJ m_oldBitmap = nullptr;
  HGDIOBJ m_oldFont = nullptr;
  HFONT m_font = nullptr;  // selected into m_memory; not owned
  bool m_drawn = false;
  std::string m_left;
  std::string m_right;
};

// The width in pixels of a one-line text drawn with font (0 for no text or
// when it cannot be measured).
int TextWidth(HFONT font, const char* text);

// The windows' places and sizes are drawn at 96 DPI and scaled to the
// screen's.
constexpr int LAYOUT_DPI = 96;
// A 96-DPI length in pixels at dpi.
inline int ScaledLength(int length, int dpi) {
  return MulDiv(length, dpi, LAYOUT_DPI);
}
// A width in pixels at dpi as a 96-DPI length, rounded up.
inline int LayoutLength(int pixels, int dpi) {
  return (pixels * LAYOUT_DPI + dpi - 1) / dpi;
}
// A text's width as drawn with font (without the mnemonic's mark), as a
// 96-DPI length at dpi.
int LayoutTextWidth(HFONT font, const std::string& text, int dpi);
// The dialog font of the windows: the default GUI font, 14 pixels high at 96
// DPI, scaled to dpi. The caller owns it.
HFONT MakeDialogFont(int dpi);
// The DPI of the monitor the window is on, where the system says it (per
// monitor, Windows 10 1607 and later); else the screen's (the system DPI);
// 96 when neither can be read.
int WindowDpi(HWND hwnd);
// A dialog's answer to WM_DPICHANGED, before its controls: it goes to the
// place the system suggests (when given), and its client area becomes
// madeClient (its size when made at madeDpi) scaled to dpi.
void MoveDialogToDpi(HWND dialog, const RECT* suggested, SIZE madeClient, int madeDpi, int dpi);
// The new DPI a WM_DPICHANGED message gives (its wParam's low word; the high
// word is the same); 0 for none.
inline int DpiChangedDpi(WPARAM wParam) {
  return static_cast<int>(LOWORD(wParam));
}
