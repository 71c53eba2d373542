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

void LongCheck() {
  std::string longName(1000, 'x');
  SetErrorLocation(longName.c_str(), longName.c_str(), 1);
  Check(false, "%s", longName.c_str());
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

TEST(FatalReport, ReportTextHasTheFixedLayout) {
  // The program runs itself with --fatal-probe (see SupportTestMain.cpp).
  std::string command = "\"" + platform::GetProgramPath() + "\" --fatal-probe";
#ifdef _WIN32
  command += " < NUL";
  FILE* pipe = _popen(command.c_str(), "rb");
#else
  command += " < /dev/null";
  FILE* pipe = popen(command.c_str(), "r");
#endif
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
#ifdef _WIN32
  int status = _pclose(pipe);
  EXPECT_EQ(status, 1);
#else
  int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
#endif
#ifdef _WIN32
  // The console stream is in text mode there: line ends come out as CR LF.
  for (size_t at = output.find("\r\n"); at != std::string::npos; at = output.find("\r\n", at)) output.erase(at, 1);
#endif
  EXPECT_EQ(output,
            "===assert===\n\"..\\Source\\Shell\", \"CShell::Execute\", L:27\ntool.exe failed (2)\n\n"
            "Press Enter Key to Exit.");
}

TEST(FatalReport, PassingCheckReturns) {
  Check(true, "never shown %d", 1);
  SUCCEED();
}

TEST(FatalReport, OverlongTextsAreCutNotOverrun) {
  SetWindowedMode(false);
  EXPECT_EXIT(LongCheck(), ::testing::ExitedWithCode(1), "");
}

TEST(Assertions, ReportExpressionSourceNameAndLine) {
  EXPECT_EXIT(FailingAssertion(), ::testing::ExitedWithCode(3),
              "Assertion failed: m_hMutex == 0, file DiagTest, line " + std::to_string(kAssertionLine));
}

TEST(Assertions, PassingAssertionDoesNothing) {
  QASSERT(1 + 1 == 2);
  SUCCEED();
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
  EXPECT_STREQ(SourceName("C:\\src\\link\\SerialChannel.cpp"), "SerialChannel");
  EXPECT_STREQ(SourceName("/x/y/Main.cpp"), "Main");
  EXPECT_STREQ(SourceName("Shell"), "Shell");
}
