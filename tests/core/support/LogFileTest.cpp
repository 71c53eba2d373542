// The log file: stamped lines, the previous run's log, the size limit, the
// folder it falls back to, and whole lines from several threads.
#include "support/LogFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"

namespace {

#ifdef _WIN32
const std::string kEnd = "\r\n";
#else
const std::string kEnd = "\n";
#endif

// Stamps "[n] " with n counting the lines, so that every line can be told apart.
LogFile::Stamp CountingStamp() {
  auto count = std::make_shared<int>(0);
  return [count] { return "[" + std::to_string(++*count) + "] "; };
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(kEnd, start)) != std::string::npos; start = end + kEnd.size()) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

TEST(LogFileTest, EveryLineBeginsWithItsStamp) {
  TempDir dir;
  LogFile log(CountingStamp());
  ASSERT_TRUE(log.Open({dir.Path()}));
  EXPECT_EQ(log.GetFolder(), dir.Path());
  // Texts as the program logs them: whole lines, several lines at once, a
  // line written in pieces, a CR LF of the caller's own, an empty line.
  for (const char* text : {"Open COM\n", "one\ntwo\n", "Change ", "Device ", "Speakers\n", "crlf\r\n", "\n", "tail"}) {
    log.Write(text);
  }
  log.Close();
  EXPECT_EQ(dir.Read(LogFile::FILE_NAME), "[1] Open COM" + kEnd + "[2] one" + kEnd + "[3] two" + kEnd +
                                              "[4] Change Device Speakers" + kEnd + "[5] crlf" + kEnd + "[6] " + kEnd +
                                              "[7] tail");
  EXPECT_EQ(log.GetFolder(), "");
  log.Write("after closing\n");  // goes nowhere
}

TEST(LogFileTest, KeepsThePreviousRunsLog) {
  TempDir dir;
  dir.Write(LogFile::PREVIOUS_FILE_NAME, "two runs ago\n");
  dir.Write(LogFile::FILE_NAME, "last run\n");
  LogFile log(CountingStamp());
  ASSERT_TRUE(log.Open({dir.Path()}));
  log.Write("this run\n");
  log.Close();
  EXPECT_EQ(dir.Read(LogFile::PREVIOUS_FILE_NAME), "last run\n");
  EXPECT_EQ(dir.Read(LogFile::FILE_NAME), "[1] this run" + kEnd);
}

TEST(LogFileTest, NeverGrowsPastItsLimit) {
  TempDir dir;
  constexpr uint64_t kLimit = 100;
  LogFile log(CountingStamp(), kLimit);
  ASSERT_TRUE(log.Open({dir.Path()}));
  for (int i = 1; i <= 40; ++i) {
    log.Write(("line " + std::to_string(i) + "\n").c_str());
    EXPECT_LE(dir.Read(LogFile::FILE_NAME).size(), kLimit) << i;
  }
  // The newest lines are in the log, the ones before them in the previous
  // file, each file holding whole lines.
  const std::vector<std::string> current = Lines(dir.Read(LogFile::FILE_NAME));
  const std::vector<std::string> previous = Lines(dir.Read(LogFile::PREVIOUS_FILE_NAME));
  ASSERT_FALSE(current.empty());
  ASSERT_FALSE(previous.empty());
  EXPECT_EQ(current.back(), "[40] line 40");
  const int firstCurrent = std::stoi(current.front().substr(1));
  EXPECT_EQ(previous.back(), "[" + std::to_string(firstCurrent - 1) + "] line " + std::to_string(firstCurrent - 1));
  EXPECT_LE(dir.Read(LogFile::PREVIOUS_FILE_NAME).size(), kLimit);

  // One text longer than the limit is cut to it.
  log.Write((std::string(300, 'x') + "\n").c_str());
  log.Close();
  EXPECT_EQ(dir.Read(LogFile::FILE_NAME).size(), kLimit);
}

TEST(LogFileTest, FallsBackToTheNextFolderAndMakesIt) {
  TempDir dir;
  dir.Write("plain-file", "not a folder");
  const std::string sep = dir.Path().substr(dir.Path().size() - 1);
  const std::string unusable[] = {
      dir.Path() + "missing" + sep + "deeper" + sep,  // its parent is missing too
      dir.Path() + "plain-file" + sep,                // a file, not a folder
  };
  const std::string fallback = dir.Path() + "appdata" + sep;
  LogFile log(CountingStamp());
  ASSERT_TRUE(log.Open({"", unusable[0], unusable[1], fallback}));
  EXPECT_EQ(log.GetFolder(), fallback);
  log.Write("here\n");
  log.Close();
  EXPECT_EQ(dir.Read("appdata" + sep + LogFile::FILE_NAME), "[1] here" + kEnd);

  LogFile none(CountingStamp());
  EXPECT_FALSE(none.Open({unusable[0], unusable[1]}));
  EXPECT_FALSE(none.IsOpen());
  none.Write("nowhere\n");
}

TEST(LogFileTest, ProgramLogGoesBesideTheProgramThenToLocalAppData) {
  const std::vector<std::string> folders = LogFile::ProgramLogFolders("C:\\Tools\\Quillon\\");
  ASSERT_FALSE(folders.empty());
  EXPECT_EQ(folders[0], "C:\\Tools\\Quillon\\");
  const char* appData = getenv("LOCALAPPDATA");
  if (appData == nullptr || appData[0] == '\0') {
    EXPECT_EQ(folders.size(), 1u);
  } else {
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_NE(folders[1].find(appData), std::string::npos);
    EXPECT_EQ(folders[1].substr(folders[1].size() - 8, 7), "Quillon");
  }
}

TEST(LogFileTest, LocalTimeStampShape) {
  EXPECT_TRUE(std::regex_match(LogFile::LocalTimeStamp(),
                               std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} ")))
      << LogFile::LocalTimeStamp();
}

// Log writes every text to the sink as well, from any thread, and each
// line arrives whole.
TEST(LogFileTest, LogLinesFromSeveralThreadsArriveWhole) {
  TempDir dir;
  LogFile log([] { return std::string("T "); });
  ASSERT_TRUE(log.Open({dir.Path()}));
  constexpr int kThreads = 4;
  constexpr int kLines = 50;
  {
    ScopedLogSink sink(&log);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        for (int i = 0; i < kLines; ++i) Log("thread %d line %d\n", t, i);
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  Log("not in the file\n");
  log.Close();
  const std::vector<std::string> lines = Lines(dir.Read(LogFile::FILE_NAME));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  const std::regex shape("T thread ([0-9]) line ([0-9]+)");
  for (const std::string& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    const int t = std::stoi(m[1]);
    EXPECT_EQ(std::stoi(m[2]), next[static_cast<size_t>(t)]++) << line;  // in order per thread
  }
}

}  // namespace
