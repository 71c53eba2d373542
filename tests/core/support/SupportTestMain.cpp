// The support tests' entry. Started with "--fatal-probe" the program instead
// makes one failing check in console mode, so that a test can read the report
// that the fatal-error routine prints: "--fatal-probe long-location" with a
// 1000-character file and function, "--fatal-probe long-message" with a
// 1000-character message. Without either, a lock is made between the check's
// location and the check: making one leaves the location alone.
//
// The path helper tests need variables in the environment the process starts
// with (later changes are not seen by the expansion): the program starts
// itself again with them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "platform/Mutex.h"
#include "support/Diag.h"

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "--fatal-probe") == 0) {
    SetWindowedMode(false);
    const std::string which = argc > 2 ? argv[2] : "";
    if (which == "long-location") {
      SetErrorLocation(std::string(1000, 'f').c_str(), std::string(1000, 'g').c_str(), 1);
      Check(false, "short");
    } else if (which == "long-message") {
      SetErrorLocation("Shell", "Run", 2);
      Check(false, "%s", std::string(1000, 'm').c_str());
    }
    SetErrorLocation("..\\Source\\Shell", "CShell::Execute", 27);
    Mutex lock;
    Check(false, "%s failed (%d)", "tool.exe", 2);
    return 0;  // not reached
  }
  static const char* const variables[][2] = {
      {"QUILL_TEST_SDK", "C:\\sdk"}, {"QUILL_TEST_LOOP", "%QUILL_TEST_LOOP%"}, {"QUILL_TEST_PERCENT", "5%%A"}};
#ifdef _WIN32
  if (GetEnvironmentVariableA(variables[0][0], nullptr, 0) == 0) {
    for (const auto& v : variables) SetEnvironmentVariableA(v[0], v[1]);
    std::wstring command = GetCommandLineW();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
      return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
  }
#else
  if (getenv(variables[0][0]) == nullptr) {
    for (const auto& v : variables) setenv(v[0], v[1], 1);
    execv("/proc/self/exe", argv);
  }
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
