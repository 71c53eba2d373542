#include "capture/CaptureServices.h"

#include "support/Log.h"

const char* CaptureMessageName(CaptureMessage message) {
  switch (message) {
    case CaptureMessage::NOT_SUPPORTED_FORMAT:
      return "NOT_SUPPORTED_FORMAT";
    case CaptureMessage::WAVE_FILE_TOO_LARGE:
      return "WAVE_FILE_TOO_LARGE";
    case CaptureMessage::WAVE_FILE_BUSY:
      return "WAVE_FILE_BUSY";
  }
  return "?";
}

void LogMessageBox::ShowError(CaptureMessage message) {
  Log("Capture message: %s\n", CaptureMessageName(message));
}
