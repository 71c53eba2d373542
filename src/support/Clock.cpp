#include "support/Clock.h"

#include <chrono>
#include <ctime>

#include "platform/Platform.h"

namespace {
class PlatformClock : public Clock {
 public:
  uint64_t NowMs() override { return platform::MonotonicMs(); }
  uint64_t NowMicros() override {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
  }
  uint32_t SecondsSince1970() override { return static_cast<uint32_t>(std::time(nullptr)); }
  void SleepMs(unsigned ms) override { platform::SleepMs(ms); }
};
}  // namespace

Clock& SystemClock() {
  static PlatformClock clock;
  return clock;
}
