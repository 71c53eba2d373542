// Helpers shared by the tests of the portable code.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "support/Clock.h"
#include "support/Log.h"

// A clock that moves only when the test moves it: by setting its readings,
// or by a sleep, which adds to the milliseconds (and lets other threads run
// for a real millisecond, so that a worker that polls does not spin).
class ManualClock : public Clock {
 public:
  uint64_t NowMs() override { return ms.load(); }
  uint64_t NowMicros() override { return micros.load(); }
  uint32_t SecondsSince1970() override { return seconds.load(); }
  void SleepMs(unsigned slept) override;

  std::atomic<uint64_t> ms{0};
  std::atomic<uint64_t> micros{0};
  std::atomic<uint32_t> seconds{0};
};

// Collects everything the log prints while it lives.
class LogCapture {
 public:
  LogCapture() { SetLogHook(&LogCapture::Hook, this); }
  ~LogCapture() { SetLogHook(nullptr, nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_text;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_text.clear();
  }

 private:
  static void Hook(void* context, const char* text) {
    auto* self = static_cast<LogCapture*>(context);
    std::lock_guard<std::mutex> lock(self->m_mutex);
    self->m_text += text;
  }
  std::mutex m_mutex;
  std::string m_text;
};

// The factor by which wall-clock bounds of the tests are stretched where the
// code runs slowly: QUILL_TIME_SCALE (set by the test stage that runs the
// 32-bit build under user-mode emulation), 1 when unset or not a number >= 1.
double TimeScale();

// Points the string loader at the test program's own table (Windows: the
// resources linked into every test program; natively the compiled-in table).
void UseTestResources();

// A fresh folder for one test, removed with its contents afterwards. Paths
// are UTF-8, as the program's.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The folder with a trailing separator.
  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + name; }
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;

 private:
  std::string m_path;
};
