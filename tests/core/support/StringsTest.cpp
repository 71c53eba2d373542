#include "support/Strings.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Platform.h"
#include "support/Language.h"

TEST(PathHelpers, DirectoryAndFileNameSplitAtTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(GetDirectory("C:\\sdk\\tools\\a.exe"), "C:\\sdk\\tools\\");
  EXPECT_EQ(GetDirectory("/usr/lib/x.so"), "/usr/lib/");
  EXPECT_EQ(GetDirectory("C:\\mixed/dir\\file"), "C:\\mixed/dir\\");
  EXPECT_EQ(GetDirectory("file.txt"), "");
  EXPECT_EQ(GetFileName("C:\\music\\loop.wav"), "loop.wav");
  EXPECT_EQ(GetFileName("a/b/c.cfg"), "c.cfg");
  EXPECT_EQ(GetFileName("plain"), "plain");
  EXPECT_EQ(GetFileName("ends\\"), "");
}

TEST(PathHelpers, ExtensionIsTheTextAfterTheLastDotAnywhere) {
  EXPECT_EQ(GetExtension("C:\\dir.d\\file"), "d\\file");
  EXPECT_EQ(GetExtension(".cfg"), "");
  EXPECT_EQ(GetExtension("a.WAV"), "WAV");
  EXPECT_EQ(GetExtension("archive.tar.gz"), "gz");
  EXPECT_EQ(GetExtension("noext"), "");
  EXPECT_EQ(GetExtension("trailing."), "");
}

TEST(PathHelpers, MakeAbsoluteUsesTheProgramsFolderNotTheCurrentOne) {
  std::string program = platform::GetProgramPath();
  ASSERT_FALSE(program.empty());
  std::string folder = GetDirectory(program);
  EXPECT_EQ(MakeAbsolute("file.txt"), folder + "file.txt");
  EXPECT_EQ(MakeAbsolute(""), folder);
#ifdef _WIN32
  EXPECT_EQ(MakeAbsolute("C:\\x\\y.cfg"), "C:\\x\\y.cfg");
#else
  EXPECT_EQ(MakeAbsolute("/x/y.cfg"), "/x/y.cfg");
#endif
}

TEST(PathHelpers, NumberToStringIsDecimal) {
  EXPECT_EQ(NumberToString(0), "0");
  EXPECT_EQ(NumberToString(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(NumberToString(32728), "32728");
}

TEST(PathHelpers, LineEndsBecomeCarriageReturnLineFeedOnce) {
  std::string text = "a\nb\r\nc\n\n";
  ConvertLineEnds(text);
  EXPECT_EQ(text, "a\r\nb\r\nc\r\n\r\n");
  std::string leading = "\nx";
  ConvertLineEnds(leading);
  EXPECT_EQ(leading, "\r\nx");
}

TEST(PathHelpers, MnemonicMarksAndJapaneseMnemonicsAreRemoved) {
  struct Case {
    const char* text;
    const char* drawn;    // RemoveMnemonicMarks
    const char* caption;  // WithoutMnemonic
  };
  const Case cases[] = {
      {"&Reset", "Reset", "Reset"},
      {"Sa&ve", "Save", "Save"},
      {"Stream S&tatistics", "Stream Statistics", "Stream Statistics"},
      {"Drag && drop", "Drag & drop", "Drag & drop"},
      {"trailing&", "trailing", "trailing"},
      {"plain", "plain", "plain"},
      {"", "", ""},
      // Code page 932: "設定(&S)", whose second bytes are no "&" or "(".
      {"\x90\xdd\x92\xe8(&S)", "\x90\xdd\x92\xe8(S)", "\x90\xdd\x92\xe8"},
      {"(&&)", "(&)", "(&)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RemoveMnemonicMarks(c.text), c.drawn) << c.text;
    EXPECT_EQ(WithoutMnemonic(c.text), c.caption) << c.text;
  }
}

// What each code page can carry: code page 932 the Japanese (with 0x5C as the
// second byte of ソ and 表), 1252 the Western accents. A character the code
// page lacks comes out as the system's nearest letter where it has one (é and
// © as "e" and "c" under 932), else as "?". Natively the "ANSI" text is UTF-8.
// The Windows runs: the default one in a Western locale,
// support_tests_japanese in a Japanese one (QUILL_EXPECT_JAPANESE).
TEST(PathHelpers, WideToAnsiKeepsWhatTheCodePageCanCarry) {
  struct Case {
    const wchar_t* text;
    const char* cp932;
    const char* cp1252;
    const char* utf8;
  };
  const Case cases[] = {
      {L"Null Output", "Null Output", "Null Output", "Null Output"},
      {L"", "", "", ""},
      {L"\u8a2d\u5b9a", "\x90\xdd\x92\xe8", "??", "\xe8\xa8\xad\xe5\xae\x9a"},  // 設定
      {L"\u30bd\u8868.wav", "\x83\x5c\x95\x5c.wav", "??.wav", "\xe3\x82\xbd\xe8\xa1\xa8.wav"},  // ソ表
      {L"\uff7f", "\xbf", "?", "\xef\xbd\xbf"},  // half-width ｿ: one byte in code page 932
      {L"Caf\u00e9 \u00a9", "Cafe c", "Caf\xe9 \xa9", "Caf\xc3\xa9 \xc2\xa9"},  // é ©
      {L"\ud55c", "?", "?", "\xed\x95\x9c"},  // 한: in neither
  };
#ifdef _WIN32
  const bool japanese = getenv("QUILL_EXPECT_JAPANESE") != nullptr;
  ASSERT_EQ(GetAnsiCodePage(), japanese ? 932u : 1252u);
#endif
  for (const Case& c : cases) {
#ifdef _WIN32
    EXPECT_EQ(WideToAnsi(c.text), japanese ? c.cp932 : c.cp1252) << c.cp1252;
#else
    EXPECT_EQ(WideToAnsi(c.text), c.utf8) << c.cp1252;
#endif
  }
}

// The variables below are in the environment the test program starts with
// (SupportTestMain.cpp), because expansion reads that, not later changes.
TEST(ExpandEnvironmentText, ReplacesKnownAndKeepsUnknownReferences) {
  ASSERT_NE(platform::GetStartupEnv("QUILL_TEST_SDK"), nullptr);
  EXPECT_EQ(ExpandEnvironmentText("%QUILL_TEST_SDK%\\tools"), "C:\\sdk\\tools");
  EXPECT_EQ(ExpandEnvironmentText("%QUILL_TEST_UNSET%\\tools"), "%QUILL_TEST_UNSET%\\tools");
  EXPECT_EQ(ExpandEnvironmentText("%QUILL_TEST_UNSET%QUILL_TEST_SDK%"), "%QUILL_TEST_UNSET%QUILL_TEST_SDK%");
  EXPECT_EQ(ExpandEnvironmentText("a%QUILL_TEST_SDK%b%QUILL_TEST_SDK%c"), "aC:\\sdkbC:\\sdkc");
  EXPECT_EQ(ExpandEnvironmentText("50% off"), "50% off");
  EXPECT_EQ(ExpandEnvironmentText("%%"), "%%");
}

TEST(ExpandEnvironmentText, InsertedValuesAreNotExpandedAgain) {
  // QUILL_TEST_LOOP's value is "%QUILL_TEST_LOOP%": expanding again would never end.
  ASSERT_NE(platform::GetStartupEnv("QUILL_TEST_LOOP"), nullptr);
  EXPECT_EQ(ExpandEnvironmentText("<%QUILL_TEST_LOOP%>"), "<%QUILL_TEST_LOOP%>");
  EXPECT_EQ(ExpandEnvironmentText("%QUILL_TEST_PERCENT%x"), "5%%Ax");
}

TEST(ExpandEnvironmentText, ReadsTheStartupEnvironmentNotLaterChanges) {
  platform::SetEnv("QUILL_TEST_SDK", nullptr);
  EXPECT_EQ(ExpandEnvironmentText("%QUILL_TEST_SDK%"), "C:\\sdk");
  platform::SetEnv("QUILL_TEST_SDK", "C:\\sdk");
}
