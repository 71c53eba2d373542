#include "EventLog.h"

#include <chrono>
#include <cmath>

#include "../common/SimSocket.h"

namespace sim {

std::string JsonEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char esc[8];
      snprintf(esc, sizeof(esc), "\\u%04x", u);
      out += esc;
    } else {
      out += c;
    }
  }
  return out;
}

EventFields& EventFields::Add(const char* name, int64_t value) {
  m_text += ",\"" + std::string(name) + "\":" + std::to_string(value);
  return *this;
}

EventFields& EventFields::Add(const char* name, uint64_t value) {
  m_text += ",\"" + std::string(name) + "\":" + std::to_string(value);
  return *this;
}

EventFields& EventFields::Add(const char* name, double value) {
  char text[64];
  if (std::isfinite(value)) {
    snprintf(text, sizeof(text), "%.6g", value);
  } else {
    snprintf(text, sizeof(text), "null");
  }
  m_text += ",\"" + std::string(name) + "\":" + text;
  return *this;
}

EventFields& EventFields::Add(const char* name, bool value) {
  m_text += ",\"" + std::string(name) + "\":" + (value ? "true" : "false");
  return *this;
}

EventFields& EventFields::Add(const char* name, const char* value) {
  m_text += ",\"" + std::string(name) + "\":\"" + JsonEscape(value) + "\"";
  return *this;
}

EventFields& EventFields::AddRaw(const char* name, const std::string& json) {
  m_text += ",\"" + std::string(name) + "\":" + json;
  return *this;
}

EventLog::~EventLog() {
  if (m_file != nullptr) fclose(m_file);
}

bool EventLog::Open(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_file = fopen(path.c_str(), "w");
  return m_file != nullptr;
}

void EventLog::Write(const char* event, const EventFields& fields) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_file == nullptr) return;
  const uint64_t ms = NowMs() - m_startMs;
  // "wall": the system clock in seconds since 1970, so that scripts can set
  // what the device received against when a sound was played on the PC.
  const long long wall = static_cast<long long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count());
  fprintf(m_file, "{\"t\":%llu.%03llu,\"wall\":%lld.%03lld,\"event\":\"%s\"%s}\n",
          static_cast<unsigned long long>(ms / 1000), static_cast<unsigned long long>(ms % 1000), wall / 1000,
          wall % 1000, event, fields.Text().c_str());
  fflush(m_file);
}

void EventLog::Flush() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_file != nullptr) fflush(m_file);
}

}  // namespace sim
