#include "capture/CaptureServices.h"

#include "platform/Platform.h"
#include "support/Log.h"

namespace {
class PlatformClock : public CaptureClock {
 public:
  uint64_t NowMs() override { return platform::MonotonicMs(); }
  void SleepMs(unsigned ms) override { platform::SleepMs(ms); }
};
}  // namespace

CaptureClock& SystemClock() {
  static PlatformClock clock;
  return clock;
}

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
