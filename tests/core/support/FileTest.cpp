#include "support/File.h"

#include <gtest/gtest.h>

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
