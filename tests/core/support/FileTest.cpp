#include "support/File.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Platform.h"
#include "support/Language.h"
#include "support/LogFile.h"
#include "support/Strings.h"

#include "TestUtil.h"

namespace {
std::string LinkSeparator() {
#ifdef _WIN32
  return "\\";
#else
  return "/";
#endif
}
}  // namespace

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

// Folders named in any language and deep ones: every file operation of the
// program works there whatever the system's code page (under code page 932
// as well, where the second bytes of ソ, 表 and 能 are 0x5C, a "\"), and the
// path helpers split such paths at their separators only. Paths are UTF-8.
TEST(PathsTest, FoldersNamedInAnyLanguageAndDeepOnes) {
  TempDir dir;
  const std::string sep = LinkSeparator();
  std::string deep = dir.Path() + "deep";
  while (deep.size() < 300) deep += sep + "folder-of-a-long-path";
  const struct {
    const char* what;
    std::string folder;
  } cases[] = {
      {"Japanese", dir.Path() + u8"日本語の音"},
      {"0x5C second bytes under code page 932", dir.Path() + u8"ソ表能"},
      {"deeper than 260 characters", deep},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Made one level at a time, as a user's folders are.
    std::string made;
    for (size_t at = dir.Path().size(); at != std::string::npos;) {
      at = c.folder.find(sep, at + 1);
      made = c.folder.substr(0, at);
      ASSERT_TRUE(platform::MakeDirectory(made.c_str())) << made;
    }
    ASSERT_TRUE(platform::IsDirectory(c.folder.c_str()));
    const std::string file = c.folder + sep + u8"設定.cfg";
    EXPECT_EQ(GetDirectory(file), c.folder + sep);
    EXPECT_EQ(GetFileName(file), u8"設定.cfg");
    EXPECT_EQ(GetExtension(file), "cfg");

    EXPECT_EQ(WriteFileReplacing(file, "Quillon\r\n", 9), FileWriteResult::OK);
    EXPECT_EQ(WriteFileReplacing(file, "Quillon 2\r\n", 11), FileWriteResult::OK);
    CFile in;
    ASSERT_TRUE(in.Open(file.c_str(), "rb"));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(in.ReadAll(0, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "Quillon 2\r\n");
    in.Close();
    EXPECT_TRUE(CFile::FileExists(file.c_str()));
    EXPECT_TRUE(platform::PathExists(file.c_str()));
    EXPECT_FALSE(platform::PathExists((file + ".tmp").c_str()));
    const std::string renamed = c.folder + sep + u8"能.cfg";
    EXPECT_TRUE(platform::RenameOver(file.c_str(), renamed.c_str()));
    bool missing = false;
    EXPECT_FALSE(in.Open(file.c_str(), "rb", &missing));
    EXPECT_TRUE(missing);
    EXPECT_TRUE(platform::RemoveFile(renamed.c_str()));

    LogFile log;
    ASSERT_TRUE(log.Open({c.folder + sep}));
    EXPECT_EQ(log.GetFolder(), c.folder + sep);
    log.Write("a line\n");
    log.Close();
    CFile written;
    ASSERT_TRUE(written.Open((c.folder + sep + LogFile::FILE_NAME).c_str(), "rb"));
    EXPECT_GT(written.GetSize(), 0);
  }
}

// Shown to the user, a path is ANSI text: the system's code page, characters
// it lacks as '?'. A library that takes narrow paths gets one whose
// characters all survive that (the short form when needed).
TEST(PathsTest, PathsAreShownInTheAnsiCodePage) {
  EXPECT_EQ(platform::PathToDisplay("C:\\Quillon\\a.cfg"), "C:\\Quillon\\a.cfg");
  EXPECT_EQ(platform::AnsiSafePath("C:\\Quillon\\a.cfg"), "C:\\Quillon\\a.cfg");
#ifdef _WIN32
  if (GetAnsiCodePage() == 932) {
    // 表 is 0x95 0x5C in code page 932.
    EXPECT_EQ(platform::PathToDisplay(u8"C:\\表\\a"), "C:\\\x95\x5C\\a");
  } else {
    EXPECT_EQ(platform::PathToDisplay(u8"C:\\表\\a"), "C:\\?\\a");
  }
  TempDir dir;
  const std::string folder = dir.Path() + u8"日本語の音";
  ASSERT_TRUE(platform::MakeDirectory(folder.c_str()));
  const std::string safe = platform::AnsiSafePath(folder);
  if (GetAnsiCodePage() == 932) {
    EXPECT_EQ(safe, folder);
  } else if (!safe.empty()) {
    // The short form: the same folder, in characters of any code page.
    EXPECT_NE(safe, folder);
    EXPECT_TRUE(platform::IsDirectory(safe.c_str()));
    EXPECT_EQ(platform::PathToDisplay(safe).find('?'), std::string::npos) << platform::PathToDisplay(safe);
  }
#endif
}
