// The support tests' entry. Started with "--fatal-probe" the program instead
// makes one failing check in console mode, so that a test can read the report
// that the fatal-error routine prints.
//
// The path helper tests need variables in the environment the process starts
// with (later changes are not seen by the expansion): natively the program
// starts itself again with them; on Windows the C runtime's copy is set.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "support/Diag.h"

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "--fatal-probe") == 0) {
    SetWindowedMode(false);
    SetErrorLocation("..\\Source\\Shell", "CShell::Execute", 27);
    Check(false, "%s failed (%d)", "tool.exe", 2);
    return 0;  // not reached
  }
  static const char* const variables[][2] = {
      {"QUILL_TEST_SDK", "C:\\sdk"}, {"QUILL_TEST_LOOP", "%QUILL_TEST_LOOP%"}, {"QUILL_TEST_PERCENT", "5%%A"}};
#ifdef _WIN32
  for (const auto& v : variables) {
    std::string entry = std::string(v[0]) + "=" + v[1];
    _putenv(entry.c_str());
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
