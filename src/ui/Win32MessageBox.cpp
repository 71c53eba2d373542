#include <windows.h>

#include "ui/Win32MessageBox.h"

#include "resources/resource.h"
#include "support/Language.h"

std::string CaptureMessageText(CaptureMessage message) {
  switch (message) {
    case CaptureMessage::NOT_SUPPORTED_FORMAT:
      return LoadResourceString(IDS_NOT_SUPPORTED_FORMAT);
    case CaptureMessage::WAVE_FILE_TOO_LARGE:
      return LoadResourceString(IDS_WAVE_FILE_TOO_LARGE);
    case CaptureMessage::WAVE_FILE_BUSY:
      return LoadResourceString(IDS_WAVE_FILE_BUSY);
  }
  return std::string();
}

CaptureTexts LoadCaptureTexts() {
  CaptureTexts texts;
  texts.fixedDevice = LoadResourceString(IDS_FIXED_DEVICE);
  texts.dropWaveFile = LoadResourceString(IDS_DROP_WAVE_FILE);
  return texts;
}

void Win32MessageBox::ShowError(CaptureMessage message) {
  const std::string text = CaptureMessageText(message);
  const std::string caption = LoadResourceString(IDS_APP_NAME);
  MessageBoxA(m_owner, text.c_str(), caption.c_str(), MB_ICONHAND | MB_TOPMOST);
}
