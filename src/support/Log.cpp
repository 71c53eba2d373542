#include "support/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
std::atomic<LogHook> s_hook{nullptr};
std::atomic<void*> s_hookContext{nullptr};
std::atomic<LogSink*> s_sink{nullptr};

void Emit(const char* text) {
  fputs(text, stdout);
  fflush(stdout);
  LogSink* sink = s_sink.load(std::memory_order_acquire);
  if (sink != nullptr) sink->Write(text);
  LogHook hook = s_hook.load(std::memory_order_acquire);
  if (hook != nullptr) hook(s_hookContext.load(std::memory_order_acquire), text);
}

QUILL_PRINTF(1, 0) std::string Format(const char* format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(small, sizeof(small), format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof(small)) return std::string(small, static_cast<size_t>(n));
  std::vector<char> big(static_cast<size_t>(n) + 1);
  vsnprintf(big.data(), big.size(), format, args);
  return std::string(big.data(), static_cast<size_t>(n));
}
}  // namespace

void Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = Format(format, args);
  va_end(args);
  Emit(text.c_str());
}

void LogAt(const char* tag, int line, const char* format, ...) {
  char prefix[300];
  snprintf(prefix, sizeof(prefix), "%s, %d, ", SourceName(tag), line);
  va_list args;
  va_start(args, format);
  std::string text = prefix + Format(format, args);
  va_end(args);
  Emit(text.c_str());
}

void SetLogSink(LogSink* sink) {
  s_sink.store(sink, std::memory_order_release);
}

void SetLogHook(LogHook hook, void* context) {
  s_hookContext.store(context, std::memory_order_release);
  s_hook.store(hook, std::memory_order_release);
}

const char* SourceName(const char* file) {
  thread_local char name[128];
  const char* base = file;
  for (const char* p = file; *p != 0; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  size_t length = strlen(base);
  const char* dot = strrchr(base, '.');
  if (dot != nullptr) length = static_cast<size_t>(dot - base);
  if (length >= sizeof(name)) length = sizeof(name) - 1;
  memcpy(name, base, length);
  name[length] = 0;
  return name;
}
