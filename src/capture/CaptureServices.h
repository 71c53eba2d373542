// What capture sources need of their surroundings besides the serial channel:
// a clock to pace playback and a way to tell the user about a file that cannot
// be played. The application hands in the real ones; tests hand in fakes.
#pragma once

#include <cstdint>
#include <string>

class CaptureClock {
 public:
  virtual ~CaptureClock() = default;
  // Milliseconds from an arbitrary start; never goes backwards.
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(unsigned ms) = 0;
};

// The platform's monotonic clock. One shared instance without state.
CaptureClock& SystemClock();

class MessageBoxSink {
 public:
  virtual ~MessageBoxSink() = default;
  // A modal error message owned by owner (a window handle, may be null).
  virtual void ShowError(void* owner, const std::string& text, const std::string& caption) = 0;
};

// Writes the message to the log (for programs without windows).
class LogMessageBox : public MessageBoxSink {
 public:
  void ShowError(void* owner, const std::string& text, const std::string& caption) override;
};
