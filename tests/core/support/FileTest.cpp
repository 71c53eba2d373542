#include "support/File.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Platform.h"

#include "TestUtil.h"

TEST(CFileTest, ReadsWholeStreamsAndKeepsThePosition) {
  TempDir dir;
  dir.Write("a.bin", std::string("\x00\x01\x02\x03\x04", 5));
  CFile file;
  ASSERT_TRUE(file.Open(dir.File("a.bin").c_str(), "rb"));
  EXPECT_EQ(file.GetSize(), 5);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(file.ReadAll(0, bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 1, 2, 3, 4}));

  ASSERT_TRUE(file.Open(dir.File("a.bin").c_str(), "rb"));
  std::vector<char> text;
  ASSERT_TRUE(file.ReadAllText(3, text));
  EXPECT_EQ(text, (std::vector<char>{0, 1, 2, 0}));
  EXPECT_EQ(file.GetSize(), 5);
  ASSERT_TRUE(file.ReadAll(2, bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{3, 4}));
  EXPECT_FALSE(file.ReadAll(1, bytes)) << "nothing left to read";
}

TEST(CFileTest, PrintfWritesFormattedTextAndWriteWritesBytesAsTheyAre) {
  TempDir dir;
  {
    CFile file;
    ASSERT_TRUE(file.Open(dir.File("t.txt").c_str(), "wb"));
    file.Printf("%s=%d\n", "Volume", 7);
    const char raw[] = "100%s\n";
    EXPECT_TRUE(file.Write(raw, sizeof(raw) - 1));
  }
  EXPECT_EQ(dir.Read("t.txt"), "Volume=7\n100%s\n");
}

TEST(CFileTest, MissingFilesAndFolders) {
  TempDir dir;
  CFile file;
  EXPECT_FALSE(file.Open(dir.File("missing").c_str(), "rb"));
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(file.ReadAll(0, bytes));
  EXPECT_EQ(file.GetSize(), -1);
  EXPECT_FALSE(CFile::FileExists(dir.File("missing").c_str()));
  dir.Write("here", "x");
  EXPECT_TRUE(CFile::FileExists(dir.File("here").c_str()));
  EXPECT_TRUE(CFile::IsDirectory(dir.Path().c_str()));
  EXPECT_FALSE(CFile::IsDirectory(dir.File("here").c_str()));
  EXPECT_FALSE(CFile::IsDirectory(dir.File("missing").c_str()));
}

// Each case prepares the folder; afterwards the target holds either the new
// bytes or exactly what it held before, and no temporary file is left.
TEST(WriteFileReplacingTest, ReplacesWholeOrLeavesTheOldFile) {
  struct Case {
    const char* what;
    std::string target;  // relative to the folder
    bool hasOld;         // target.cfg holds "old" before
    FileWriteResult expected;
  };
  const Case cases[] = {
      {"a new file", "new.cfg", false, FileWriteResult::OK},
      {"an old file replaced", "old.cfg", true, FileWriteResult::OK},
      {"a missing folder", "missing/x.cfg", false, FileWriteResult::OPEN_FAILED},
      {"a folder in the way of the rename", "folder", false, FileWriteResult::WRITE_FAILED},
#ifndef _WIN32
      // The temporary name leads to a device that takes no bytes: the flush
      // at the close fails.
      {"a write that fails", "full.cfg", true, FileWriteResult::WRITE_FAILED},
#endif
  };
  for (const Case& c : cases) {
    TempDir dir;
    ASSERT_TRUE(platform::MakeDirectory(dir.File("folder").c_str()));
    dir.Write("folder/inside", "kept");
    if (c.hasOld) dir.Write(c.target, "old");
#ifndef _WIN32
    if (c.target == "full.cfg") {
      if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "needs /dev/full";
      std::filesystem::create_symlink("/dev/full", dir.File("full.cfg.tmp"));
    }
#endif
    const std::string path = dir.File(c.target);
    EXPECT_EQ(WriteFileReplacing(path, "new\r\n", 5), c.expected) << c.what;
    if (c.expected == FileWriteResult::OK) {
      EXPECT_EQ(dir.Read(c.target), "new\r\n") << c.what;
    } else if (c.hasOld) {
      EXPECT_EQ(dir.Read(c.target), "old") << c.what;
    }
    EXPECT_EQ(dir.Read("folder/inside"), "kept") << c.what;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path + ".tmp"))) << c.what;
  }
}
