// Assertions and the fatal-error routine.
//
// QASSERT stays active in every build. A failed assertion prints
// "Assertion failed: <expression>, file <source>, line <n>" (source = the
// file name without folder and extension, e.g. "DeviceLink"), shows it in
// an error box in windowed mode, and ends the process with exit code 3.
//
// CheckAt, Check and Fatal form the program's own fatal report:
//   CheckAt("Mutex", "Mutex::Mutex", __LINE__, m_impl != nullptr, "recursive_mutex failed: no memory");
// prints (console) or shows (windowed) "===assert===\n\"<file>\", \"<function>\", L:<line>\n<message>\n"
// and ends the process with exit code 1 when the condition is false. Check
// reports the location that SetErrorLocation last set (process-wide, for one
// thread's use: a class passes its location to CheckAt instead):
//   SetErrorLocation("Shell", "CShell::Execute", __LINE__);
//   Check(false, "%s failed (%d)", file, code);
// Texts longer than the routine's 256-character buffers are cut.
#pragma once

#include "support/Log.h"

[[noreturn]] void AssertFailed(const char* expression, const char* file, int line);

#define QASSERT(expression) ((expression) ? (void)0 : AssertFailed(#expression, __FILE__, __LINE__))
// The same reporting the file's log tag (QUILL_LOG_TAG) as the source, for
// files whose reports keep the name of the file their code came from.
#define QASSERT_TAGGED(expression) ((expression) ? (void)0 : AssertFailed(#expression, kLogTag, __LINE__))

// True: fatal reports go to an error box. False (the default): to the console.
void SetWindowedMode(bool windowed);
bool IsWindowedMode();

void CheckAt(const char* file, const char* function, int line, bool condition, const char* format, ...)
    QUILL_PRINTF(5, 6);
void SetErrorLocation(const char* file, const char* function, int line);
void Check(bool condition, const char* format, ...) QUILL_PRINTF(2, 3);
[[noreturn]] void Fatal(const char* format, ...) QUILL_PRINTF(1, 2);
