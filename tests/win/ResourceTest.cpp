// The string table as the program's resources give it, in the language that
// Wine picks from the user locale (QUILL_EXPECT_JAPANESE marks the run with a
// Japanese locale).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "resources/resource.h"
#include "support/Language.h"

namespace {
bool ExpectJapanese() {
  return getenv("QUILL_EXPECT_JAPANESE") != nullptr;
}

class Resources : public ::testing::Test {
 protected:
  void SetUp() override { SetResourceInstance(GetModuleHandleA(nullptr)); }
};
}  // namespace

TEST_F(Resources, TextsComeFromTheTableOfTheUserInterfaceLanguage) {
  if (ExpectJapanese()) {
    ASSERT_EQ(GetACP(), 932u);
    EXPECT_EQ(LoadResourceString(IDS_LINK_ACTIVE), "\x92\xca\x90\x4d\x92\x86");
    EXPECT_EQ(LoadResourceString(IDS_MENU_FILE), "\x83\x74\x83\x40\x83\x43\x83\x8b(&F)");
    EXPECT_EQ(LoadResourceString(IDS_MULTIPLE_BY_160), "160\x82\xcc\x94\x7b\x90\x94");
    EXPECT_EQ(LoadResourceString(IDS_BOX_NOT_CONNECTED),
              "QD-KAV-BOX \x82\xaa\x90\xda\x91\xb1\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1\x81"
              "B");
  } else {
    EXPECT_EQ(LoadResourceString(IDS_LINK_ACTIVE), "active");
    EXPECT_EQ(LoadResourceString(IDS_MENU_FILE), "&File");
    EXPECT_EQ(LoadResourceString(IDS_MULTIPLE_BY_160), "Multiple by 160");
    EXPECT_EQ(LoadResourceString(IDS_BOX_NOT_CONNECTED), "QD-KAV-BOX is not connected.");
  }
  EXPECT_EQ(LoadResourceString(IDS_APP_NAME), "Quillon");
  EXPECT_EQ(LoadResourceString(4242), "");
}

TEST_F(Resources, EscapesInTheScriptSurvive) {
  if (ExpectJapanese()) {
    EXPECT_EQ(LoadResourceString(IDS_COULD_NOT_OPEN),
              "\n\"%1!s!\" \x82\xaa\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd\x81\x42");
  } else {
    EXPECT_EQ(LoadResourceString(IDS_COULD_NOT_OPEN), "\n Could not open \"%1!s!\" ");
    EXPECT_EQ(LoadResourceString(IDS_COULD_NOT_OPEN_SAVE), "\n Could not open\"%1!s!\" ");
  }
}

TEST_F(Resources, FormatResourceStringInsertsThePath) {
  std::string text = FormatResourceString(IDS_NOT_SETTINGS_FILE, "C:\\cfg\\x.cfg");
  if (ExpectJapanese()) {
    const std::string start = "\r\n\"C:\\cfg\\x.cfg\" ";
    EXPECT_EQ(text.substr(0, start.size()), start);
  } else {
    EXPECT_EQ(text, "\r\n\"C:\\cfg\\x.cfg\" is not a settings file");
  }
  // A path with percent signs and inserts of its own is inserted as it is.
  EXPECT_NE(FormatResourceString(IDS_NOT_SETTINGS_FILE, "%1!s!%%").find("\"%1!s!%%\""), std::string::npos);
}

// The program's manifest (linked into this test program as into the
// program): it runs with the rights of whoever starts it, never elevated and
// never redirected to the virtual store.
TEST_F(Resources, ManifestAsksToRunAsInvoker) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  HGLOBAL loaded = LoadResource(nullptr, found);
  ASSERT_NE(loaded, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(loaded)), SizeofResource(nullptr, found));
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"), std::string::npos);
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  // DPI aware: per monitor (version 2) where the system offers it, else
  // system aware (also for systems that read only the older element).
  EXPECT_NE(manifest.find(">PerMonitorV2, system</dpiAwareness>"), std::string::npos);
  EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
}
