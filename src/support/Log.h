// The program's diagnostic log: printf-style lines on standard output.
// Callers supply the line end themselves. Safe from any thread: each call
// writes its whole text at once.
#pragma once

#ifdef __MINGW32__
#define QUILL_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define QUILL_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

void Log(const char* format, ...) QUILL_PRINTF(1, 2);

// Log with the "%s, %d, " prefix of the device link: the file's log tag and
// the line. A file that uses LOG_AT names its tag once, after its includes:
//   QUILL_LOG_TAG("DeviceLink")
// The tag is explicit so that moving code between files keeps the lines that
// log readers match.
void LogAt(const char* tag, int line, const char* format, ...) QUILL_PRINTF(3, 4);
#define QUILL_LOG_TAG(tag)          \
  namespace {                       \
  constexpr char kLogTag[] = tag;   \
  }
#define LOG_AT(...) LogAt(kLogTag, __LINE__, __VA_ARGS__)

// A second destination of every text that Log writes (the log file). Write
// is called from any thread that logs.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void Write(const char* text) = 0;
};
// Sets the sink (not owned; null for none). The sink must outlive every
// Log call made while it is set.
void SetLogSink(LogSink* sink);

// Keeps a sink set for its own life.
class ScopedLogSink {
 public:
  explicit ScopedLogSink(LogSink* sink) { SetLogSink(sink); }
  ~ScopedLogSink() { SetLogSink(nullptr); }
  ScopedLogSink(const ScopedLogSink&) = delete;
  ScopedLogSink& operator=(const ScopedLogSink&) = delete;
};

// Tests watch the log through this hook; it sees every text that Log writes.
using LogHook = void (*)(void* context, const char* text);
void SetLogHook(LogHook hook, void* context);

// The name of a source file without its folder and extension, as the
// diagnostics print it: ".../link/DeviceLink.cpp" gives "DeviceLink".
// The result points into a small per-thread buffer.
const char* SourceName(const char* file);
