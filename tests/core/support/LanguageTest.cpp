#include "support/Language.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "resources/resource.h"

namespace {
class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_saved = GetResourceInstance();
    UseTestResources();
#ifndef _WIN32
    SetResourceLanguage(ResourceLanguage::English);
#endif
  }
  void TearDown() override {
    SetResourceInstance(m_saved);
#ifndef _WIN32
    SetResourceLanguage(ResourceLanguage::FromEnvironment);
#endif
  }
  void* m_saved = nullptr;
};
}  // namespace

TEST_F(LanguageTest, EnglishTextsAreAsTabled) {
  EXPECT_EQ(LoadResourceString(IDS_APP_NAME), "Quillon");
  EXPECT_EQ(LoadResourceString(IDS_LINK_ACTIVE), "active");
  EXPECT_EQ(LoadResourceString(IDS_FIXED_DEVICE), "Fixed Device");
  EXPECT_EQ(LoadResourceString(IDS_COULD_NOT_OPEN), "\n Could not open \"%1!s!\" ");
  EXPECT_EQ(LoadResourceString(IDS_COULD_NOT_OPEN_SAVE), "\n Could not open\"%1!s!\" ");
  EXPECT_EQ(LoadResourceString(IDS_MENU_EXIT), "E&xit");
}

TEST_F(LanguageTest, MissingStringIsEmpty) {
  EXPECT_EQ(LoadResourceString(4242), "");
}

TEST_F(LanguageTest, FormatInsertsTheArgument) {
  EXPECT_EQ(FormatResourceString(IDS_NOT_SETTINGS_FILE, "C:\\x\\a.cfg"), "\r\n\"C:\\x\\a.cfg\" is not a settings file");
  EXPECT_EQ(FormatResourceString(IDS_COULD_NOT_OPEN, "b.cfg"), "\r\n Could not open \"b.cfg\" ");
  // A path with percent signs is inserted as it is, not read as a format.
  EXPECT_EQ(FormatResourceString(IDS_NOT_SETTINGS_FILE, "%1!s!%%.cfg"), "\r\n\"%1!s!%%.cfg\" is not a settings file");
}

#ifndef _WIN32
// Under Wine the Japanese table is checked by the Windows tests with a
// Japanese locale; natively the conversion to code page 932 is checked here.
TEST_F(LanguageTest, JapaneseTextsArriveInCodePage932) {
  SetResourceLanguage(ResourceLanguage::Japanese);
  EXPECT_EQ(LoadResourceString(IDS_LINK_ACTIVE), "\x92\xca\x90\x4d\x92\x86");
  EXPECT_EQ(LoadResourceString(IDS_MULTIPLE_BY_160), "160\x82\xcc\x94\x7b\x90\x94");
  EXPECT_EQ(LoadResourceString(IDS_APP_NAME), "Quillon");
  EXPECT_EQ(FormatResourceString(IDS_NOT_SETTINGS_FILE, "a.cfg"),
            "\r\n\"a.cfg\" \x82\xcd\x90\xdd\x92\xe8\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xc5\x82\xcd\x82\xa0\x82\xe8"
            "\x82\xdc\x82\xb9\x82\xf1\x81\x42");
}
#endif
