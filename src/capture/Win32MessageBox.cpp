#include <windows.h>

#include "capture/Win32MessageBox.h"

void Win32MessageBox::ShowError(void* owner, const std::string& text, const std::string& caption) {
  MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), MB_ICONHAND | MB_TOPMOST);
}
