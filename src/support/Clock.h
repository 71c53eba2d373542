// The one way a class is given time. A class that reads the time or paces
// itself by it takes a Clock& (or keeps a Clock* that a setter changes); a
// short yield that measures nothing may stay on the system. The program hands
// in SystemClock(), tests hand in a clock they move themselves, so a 4 s
// stall or a deadline is tested without waiting for it.
#pragma once

#include <cstdint>

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds of a monotonic clock from an arbitrary start; never goes back.
  virtual uint64_t NowMs() = 0;
  // Microseconds of a monotonic clock (times short calls such as a write).
  virtual uint64_t NowMicros() = 0;
  // Seconds since 1970-01-01 00:00 UTC of the wall clock, cut to 32 bits.
  virtual uint32_t SecondsSince1970() = 0;
  virtual void SleepMs(unsigned ms) = 0;
};

// The system's clocks. One shared instance without state.
Clock& SystemClock();
