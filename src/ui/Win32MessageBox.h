// The capture sources' messages and the names of their entries that are not
// devices, in the user's language from the string table; the messages as
// Win32 message boxes: error icon, topmost, owned by the program's window.
#pragma once

#include <windows.h>

#include <string>

#include "capture/CaptureServices.h"

// The text of a message as the string table has it.
std::string CaptureMessageText(CaptureMessage message);
// The entry names of the string table.
CaptureTexts LoadCaptureTexts();

class Win32MessageBox : public MessageBoxSink {
 public:
  // The window that owns the boxes from now on (null: none).
  void SetOwner(HWND owner) { m_owner = owner; }
  void ShowError(CaptureMessage message) override;

 private:
  HWND m_owner = nullptr;
};
