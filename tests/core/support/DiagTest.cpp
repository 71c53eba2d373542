#include "support/Diag.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "TestUtil.h"
#include "platform/Platform.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {
void FailingCheck() {
  SetErrorLocation("..\\Source\\Shell", "CShell::Execute", 27);
  Check(false, "%s failed (%d)", "tool.exe", 2);
}

constexpr int kAssertionLine = __LINE__ + 3;
void FailingAssertion() {
  int m_hMutex = 1;
  QASSERT(m_hMutex == 0);
}
}  // namespace

TEST(FatalReport, CheckPrintsTheReportInConsoleModeAndExitsWithOne) {
  SetWindowedMode(false);
  EXPECT_EXIT(FailingCheck(), ::testing::ExitedWithCode(1), "");
}

namespace {
// Runs the program itself with "--fatal-probe <which>" (see
// SupportTestMain.cpp) and gives what it printed, with LF line ends.
void RunFatalProbe(const std::string& which, std::string* output) {
  std::string command = "\"" + platform::GetProgramPath() + "\" --fatal-probe " + which;
#ifdef _WIN32
  command += " < NUL";
  FILE* pipe = _popen(command.c_str(), "rb");
#else
  command += " < /dev/null";
  FILE* pipe = popen(command.c_str(), "r");
#endif
  ASSERT_NE(pipe, nullptr);
  char buffer[256];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output->append(buffer, n);
#ifdef _WIN32
  int status = _pclose(pipe);
  EXPECT_EQ(status, 1) << which;
  // The console stream is in text mode there: line ends come out as CR LF.
  for (size_t at = output->find("\r\n"); at != std::string::npos; at = output->find("\r\n", at)) output->erase(at, 1);
#else
  int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status)) << which;
  EXPECT_EQ(WEXITSTATUS(status), 1) << which;
#endif
}
}  // namespace

TEST(FatalReport, ReportTextHasTheFixedLayout) {
  std::string output;
  RunFatalProbe("", &output);
  EXPECT_EQ(output,
            "===assert===\n\"..\\Source\\Shell\", \"CShell::Execute\", L:27\ntool.exe failed (2)\n\n"
            "Press Enter Key to Exit.");
}

TEST(FatalReport, PassingCheckReturns) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  Check(true, "never shown %d", 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

// The report is cut to its 255 characters (its buffer's 256 with the end
// mark), whichever part is too long; the prompt follows on its own line.
TEST(FatalReport, OverlongTextsAreCutNotOverrun) {
  const std::string prompt = "\nPress Enter Key to Exit.";
  struct Case {
    const char* probe;
    std::string report;
  };
  const Case cases[] = {
      {"long-location", "===assert===\n\"" + std::string(241, 'f')},
      {"long-message", "===assert===\n\"Shell\", \"Run\", L:2\n" + std::string(222, 'm')},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.report.size(), 255u);
    std::string output;
    RunFatalProbe(c.probe, &output);
    EXPECT_EQ(output, c.report + prompt) << c.probe;
  }
}

TEST(Assertions, ReportExpressionSourceNameAndLine) {
  EXPECT_EXIT(FailingAssertion(), ::testing::ExitedWithCode(3),
              "Assertion failed: m_hMutex == 0, file DiagTest, line " + std::to_string(kAssertionLine));
}

// A passing assertion prints nothing and evaluates its expression once.
TEST(Assertions, PassingAssertionDoesNothing) {
  int evaluated = 0;
  ::testing::internal::CaptureStderr();
  QASSERT(++evaluated == 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(evaluated, 1);
}

QUILL_LOG_TAG("DiagTest")

TEST(LogLines, LogAtPrefixesTheFilesTagAndLine) {
  LogCapture capture;
  LOG_AT("OpenSio\n");
  int line = __LINE__ - 1;
  EXPECT_EQ(capture.Text(), "DiagTest, " + std::to_string(line) + ", OpenSio\n");
}

TEST(LogLines, LongLinesArePrintedWhole) {
  LogCapture capture;
  std::string text(700, 'q');
  Log("%s\n", text.c_str());
  EXPECT_EQ(capture.Text(), text + "\n");
}

TEST(LogLines, SourceNameDropsFolderAndExtension) {
  EXPECT_STREQ(SourceName("C:\\src\\link\\DeviceLink.cpp"), "DeviceLink");
  EXPECT_STREQ(SourceName("/x/y/Main.cpp"), "Main");
  EXPECT_STREQ(SourceName("Shell"), "Shell");
}
