// The capture sources' error messages as Win32 message boxes: error icon,
// topmost, owned by the given window.
#pragma once

#include "capture/CaptureServices.h"

class Win32MessageBox : public MessageBoxSink {
 public:
  void ShowError(void* owner, const std::string& text, const std::string& caption) override;
};
