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

void LogMessageBox::ShowError(void*, const std::string& text, const std::string& caption) {
  Log("%s: %s\n", caption.c_str(), text.c_str());
}
