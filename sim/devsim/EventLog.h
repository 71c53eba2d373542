// The simulator's event file: one JSON object per line, flushed at once,
// each with "t" (seconds since start), "wall" (system clock, seconds since
// 1970) and "event".
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace sim {

// Builds the fields of one event: Add("frames", 512).Add("via", "box").
class EventFields {
 public:
  EventFields& Add(const char* name, int64_t value);
  EventFields& Add(const char* name, uint64_t value);
  EventFields& Add(const char* name, int32_t value) { return Add(name, static_cast<int64_t>(value)); }
  EventFields& Add(const char* name, uint32_t value) { return Add(name, static_cast<uint64_t>(value)); }
  EventFields& Add(const char* name, double value);
  EventFields& Add(const char* name, bool value);
  EventFields& Add(const char* name, const char* value);
  EventFields& Add(const char* name, const std::string& value) { return Add(name, value.c_str()); }
  // A value that is already JSON (an object).
  EventFields& AddRaw(const char* name, const std::string& json);
  const std::string& Text() const { return m_text; }

 private:
  std::string m_text;
};

class EventLog {
 public:
  explicit EventLog(uint64_t startMs) : m_startMs(startMs) {}
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;
  ~EventLog();

  bool Open(const std::string& path);
  void Write(const char* event, const EventFields& fields = EventFields());
  void Flush();

 private:
  uint64_t m_startMs;
  std::mutex m_mutex;
  FILE* m_file = nullptr;  // owned
};

std::string JsonEscape(const std::string& text);

}  // namespace sim
