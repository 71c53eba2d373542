// The check of a path handed over by a second start: what it takes (full
// paths in any language, of up to the longest length) and every way of
// data that it refuses, leaving the path alone.
#include "core/HandedPath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// UTF-16 text as the sender's memory holds it: little-endian bytes.
std::vector<unsigned char> Bytes(const std::u16string& text) {
  std::vector<unsigned char> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<unsigned char>(c & 0xFF));
    bytes.push_back(static_cast<unsigned char>(c >> 8));
  }
  return bytes;
}

HandedPathFault Read(const std::u16string& text, std::string* path, uint64_t tag = HANDED_PATH_TAG) {
  const std::vector<unsigned char> bytes = Bytes(text);
  return ReadHandedPath(tag, bytes.data(), bytes.size(), path);
}

TEST(HandedPath, FullPathsInAnyLanguageAreTakenAsUtf8) {
  struct Case {
    std::u16string sent;
    std::string taken;
  };
  const Case cases[] = {
      {u"C:\\Sounds\\loop.wav", "C:\\Sounds\\loop.wav"},
      {u"z:/tmp/a b/settings.cfg", "z:/tmp/a b/settings.cfg"},
      {u"\\\\server\\share\\x.cfg", "\\\\server\\share\\x.cfg"},
      {u"\\\\?\\C:\\long\\x.wav", "\\\\?\\C:\\long\\x.wav"},
      // Japanese (three UTF-8 bytes each), "Été" (two) and an emoji (a
      // surrogate pair, four).
      {u"C:\\音の設定\\ソ表能.cfg", u8"C:\\音の設定\\ソ表能.cfg"},
      {u"D:\\Été\\\U0001F3B5.wav", u8"D:\\Été\\\U0001F3B5.wav"},
      // Quotes and spaces are part of a name as the sender split it.
      {u"C:\\it's \"here\"\\x.cfg", "C:\\it's \"here\"\\x.cfg"},
  };
  for (const Case& c : cases) {
    std::string path = "unchanged";
    EXPECT_EQ(HandedPathFault::NONE, Read(c.sent, &path)) << c.taken;
    EXPECT_EQ(c.taken, path);
  }
}

TEST(HandedPath, UntrustedDataAreRefusedAndThePathLeftAlone) {
  std::u16string longest = u"C:\\";
  longest.append(HANDED_PATH_MAX_CHARS - longest.size(), u'a');
  const std::u16string tooLong = longest + u"a";
  struct Case {
    const char* what;
    std::u16string sent;
    HandedPathFault fault;
  };
  const Case cases[] = {
      {"empty", u"", HandedPathFault::EMPTY},
      {"too long", tooLong, HandedPathFault::TOO_LONG},
      {"NUL inside", std::u16string(u"C:\\a\0b.cfg", 10), HandedPathFault::NUL_INSIDE},
      {"NUL at the end", std::u16string(u"C:\\a.cfg\0", 9), HandedPathFault::NUL_INSIDE},
      {"lone high surrogate", u"C:\\a\xD83C.cfg", HandedPathFault::BROKEN_UTF16},
      {"high surrogate at the end", u"C:\\a\xD83C", HandedPathFault::BROKEN_UTF16},
      {"lone low surrogate", u"C:\\\xDFB5.cfg", HandedPathFault::BROKEN_UTF16},
      {"relative", u"sounds\\a.wav", HandedPathFault::NOT_FULL},
      {"drive-relative", u"C:a.wav", HandedPathFault::NOT_FULL},
      {"root of the current drive", u"\\a.wav", HandedPathFault::NOT_FULL},
      {"a network path without its name", u"\\\\", HandedPathFault::NOT_FULL},
      {"not a drive letter", u"1:\\a.wav", HandedPathFault::NOT_FULL},
  };
  for (const Case& c : cases) {
    std::string path = "unchanged";
    EXPECT_EQ(c.fault, Read(c.sent, &path)) << c.what;
    EXPECT_EQ("unchanged", path) << c.what;
    EXPECT_STRNE("a path", HandedPathFaultText(c.fault)) << c.what;
  }
  std::string path;
  EXPECT_EQ(HandedPathFault::NONE, Read(longest, &path));
  EXPECT_EQ(HANDED_PATH_MAX_CHARS, path.size());

  // The tag first: another program's message is not looked into.
  path = "unchanged";
  EXPECT_EQ(HandedPathFault::WRONG_TAG, Read(u"C:\\a.cfg", &path, HANDED_PATH_TAG + 1));
  EXPECT_EQ(HandedPathFault::WRONG_TAG, Read(u"C:\\a.cfg", &path, 0));
  // A byte count that splits a character, or no data.
  const std::vector<unsigned char> bytes = Bytes(u"C:\\a.cfg");
  EXPECT_EQ(HandedPathFault::ODD_SIZE, ReadHandedPath(HANDED_PATH_TAG, bytes.data(), bytes.size() - 1, &path));
  EXPECT_EQ(HandedPathFault::EMPTY, ReadHandedPath(HANDED_PATH_TAG, nullptr, 0, &path));
  EXPECT_EQ(HandedPathFault::EMPTY, ReadHandedPath(HANDED_PATH_TAG, nullptr, 16, &path));
  EXPECT_EQ("unchanged", path);
}

// The data need not be aligned: a path at an odd address reads the same.
TEST(HandedPath, UnalignedDataReadTheSame) {
  const std::vector<unsigned char> bytes = Bytes(u"C:\\音.wav");
  std::vector<unsigned char> shifted(bytes.size() + 1);
  std::copy(bytes.begin(), bytes.end(), shifted.begin() + 1);
  std::string path;
  EXPECT_EQ(HandedPathFault::NONE, ReadHandedPath(HANDED_PATH_TAG, shifted.data() + 1, bytes.size(), &path));
  EXPECT_EQ(u8"C:\\音.wav", path);
}

}  // namespace
