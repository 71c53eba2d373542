#include "support/Diag.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Platform.h"

namespace {
constexpr size_t TEXT_MAX = 256;

std::atomic<bool> s_windowed{false};

// Where the next Check is made.
char s_errorFile[TEXT_MAX];
char s_errorFunction[TEXT_MAX];
int s_errorLine = 0;

void CopyCut(char* to, const char* from) {
  if (from == nullptr) from = "";
  size_t n = strlen(from);
  if (n >= TEXT_MAX) n = TEXT_MAX - 1;
  memcpy(to, from, n);
  to[n] = 0;
}

[[noreturn]] void EndProcess(int code) {
  fflush(stdout);
  fflush(stderr);
  std::_Exit(code);
}

// The report of a failed check; ends the process. Only buffers of the
// caller's stack are written, so reports of two threads do not mix.
[[noreturn]] void ReportFailedCheck(const char* file, const char* function, int line, const char* message) {
  Fatal("===assert===\n\"%s\", \"%s\", L:%d\n%s\n", file, function, line, message);
}
}  // namespace

void AssertFailed(const char* expression, const char* file, int line) {
  char text[512];
  snprintf(text, sizeof(text), "Assertion failed: %s, file %s, line %d", expression, SourceName(file), line);
  fprintf(stderr, "%s\n", text);
  if (s_windowed.load(std::memory_order_relaxed)) platform::ShowErrorBox(text, "Assertion failed");
  EndProcess(3);
}

void SetWindowedMode(bool windowed) {
  s_windowed.store(windowed, std::memory_order_relaxed);
}

bool IsWindowedMode() {
  return s_windowed.load(std::memory_order_relaxed);
}

void SetErrorLocation(const char* file, const char* function, int line) {
  CopyCut(s_errorFile, file);
  CopyCut(s_errorFunction, function);
  s_errorLine = line;
}

namespace {

// The failed check's message formatted, then reported at the location.
[[noreturn]] void ReportFailedCheckV(const char* file, const char* function, int line, const char* format, va_list args)
    QUILL_PRINTF(4, 0);
void ReportFailedCheckV(const char* file, const char* function, int line, const char* format, va_list args) {
  char message[TEXT_MAX];
  vsnprintf(message, sizeof(message), format, args);
  ReportFailedCheck(file, function, line, message);
}

}  // namespace

void CheckAt(const char* file, const char* function, int line, bool condition, const char* format, ...) {
  if (condition) return;
  va_list args;
  va_start(args, format);
  ReportFailedCheckV(file, function, line, format, args);
  va_end(args);
}

void Check(bool condition, const char* format, ...) {
  if (condition) return;
  va_list args;
  va_start(args, format);
  ReportFailedCheckV(s_errorFile, s_errorFunction, s_errorLine, format, args);
  va_end(args);
}

void Fatal(const char* format, ...) {
  char report[TEXT_MAX];
  va_list args;
  va_start(args, format);
  vsnprintf(report, sizeof(report), format, args);
  va_end(args);
  if (s_windowed.load(std::memory_order_relaxed)) {
    platform::ShowErrorBox(report, "Error");
  } else {
    printf("%s\n", report);
    printf("Press Enter Key to Exit.");
    fflush(stdout);
    (void)getchar();
  }
  EndProcess(1);
}
