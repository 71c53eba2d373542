// Linked into every test program: when the program's tests have run, it
// prints one line per skipped and per failed test and one line of counts,
// each beginning with "[ quill-result ]", for scripts/test's summary
// (tests/tools/test-summary). A Windows test program is one ctest entry, so
// ctest alone cannot see the skips inside it. The listener registers itself
// before main runs; nothing else in the program refers to it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// The message of a skip or of the first failure, on one line.
std::string OneLine(const testing::TestResult& result, bool skip) {
  for (int i = 0; i < result.total_part_count(); ++i) {
    const testing::TestPartResult& part = result.GetTestPartResult(i);
    if (skip ? !part.skipped() : !part.failed()) continue;
    std::string text = part.message();
    for (char& c : text) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
  return std::string();
}

class ResultLines : public testing::EmptyTestEventListener {
 public:
  void OnTestEnd(const testing::TestInfo& info) override {
    const testing::TestResult& result = *info.result();
    if (!result.Skipped() && !result.Failed()) return;
    const bool skipped = result.Skipped();
    std::printf("[ quill-result ] %s %s.%s: %s\n", skipped ? "skipped" : "failed", info.test_suite_name(),
                info.name(), OneLine(result, skipped).c_str());
    std::fflush(stdout);
  }
  void OnTestProgramEnd(const testing::UnitTest& unit) override {
    std::printf("[ quill-result ] passed %d failed %d skipped %d\n", unit.successful_test_count(),
                unit.failed_test_count(), unit.skipped_test_count());
    std::fflush(stdout);
  }
};

[[maybe_unused]] const bool registered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new ResultLines);
  return true;
}();

}  // namespace
