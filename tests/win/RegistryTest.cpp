#include "support/Registry.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {
const char kKey[] = "Software\\VORLANE\\QuillonTest";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    ASSERT_TRUE(m_registry.Open(kKey));
  }
  void TearDown() override {
    m_registry.Close();
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
  }
  // The raw stored value, as another program would read it.
  bool Raw(const char* name, DWORD* type, std::string* bytes) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char data[256];
    DWORD size = sizeof(data);
    LONG rc = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    bytes->assign(data, size);
    return true;
  }
  CRegistry m_registry;
};
}  // namespace

TEST_F(RegistryTest, StringIsStoredWithoutTerminatorAndReadBack) {
  ASSERT_TRUE(m_registry.SetString("API", "waveIn"));
  DWORD type = 0;
  std::string raw;
  ASSERT_TRUE(Raw("API", &type, &raw));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(raw.size(), 6u) << "byte count is the length, no NUL";
  std::string value = "old";
  EXPECT_TRUE(m_registry.GetString("API", value));
  EXPECT_EQ(value, "waveIn");
}

TEST_F(RegistryTest, StringStopsAtTheFirstNul) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &key), ERROR_SUCCESS);
  const char data[] = "ab\0cd";
  RegSetValueExA(key, "Nul", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), 5);
  RegCloseKey(key);
  std::string value;
  EXPECT_TRUE(m_registry.GetString("Nul", value));
  EXPECT_EQ(value, "ab");
}

TEST_F(RegistryTest, DwordRoundTrip) {
  ASSERT_TRUE(m_registry.SetDword("Bxa Auto Load", 0));
  uint32_t value = 7;
  EXPECT_TRUE(m_registry.GetDword("Bxa Auto Load", value));
  EXPECT_EQ(value, 0u);
  ASSERT_TRUE(m_registry.SetDword("Bxa Auto Load", 0xFFFFFFFFu));
  EXPECT_TRUE(m_registry.GetDword("Bxa Auto Load", value));
  EXPECT_EQ(value, 0xFFFFFFFFu);
}

TEST_F(RegistryTest, MissingOrWronglyTypedValuesReadAsEmptyAndFalse) {
  uint32_t number = 5;
  std::string text = "x";
  EXPECT_FALSE(m_registry.GetDword("Missing", number));
  EXPECT_EQ(number, 0u);
  EXPECT_FALSE(m_registry.GetString("Missing", text));
  EXPECT_EQ(text, "");

  ASSERT_TRUE(m_registry.SetString("Text", "12"));
  ASSERT_TRUE(m_registry.SetDword("Number", 12));
  number = 5;
  text = "x";
  EXPECT_FALSE(m_registry.GetDword("Text", number));
  EXPECT_EQ(number, 0u);
  EXPECT_FALSE(m_registry.GetString("Number", text));
  EXPECT_EQ(text, "");
}

TEST_F(RegistryTest, ClosedKeyReadsNothingAndWritesNothing) {
  m_registry.Close();
  uint32_t number = 1;
  EXPECT_FALSE(m_registry.GetDword("Bxa Auto Load", number));
  EXPECT_FALSE(m_registry.SetDword("Bxa Auto Load", 1));
  EXPECT_FALSE(m_registry.SetString("API", "waveIn"));
}

TEST_F(RegistryTest, PathsInAnyLanguageAreStoredWhole) {
  // Japanese, and 表 whose second byte under code page 932 is a "\".
  const std::string path = u8"C:\\Users\\表示\\日本語の設定\\";
  ASSERT_TRUE(m_registry.SetPath("Path Config", path));
  std::string value;
  EXPECT_TRUE(m_registry.GetPath("Path Config", value));
  EXPECT_EQ(value, path);
  // A value stored by SetString (as before) reads the same through GetPath.
  ASSERT_TRUE(m_registry.SetString("Old", "C:\\cfg\\"));
  EXPECT_TRUE(m_registry.GetPath("Old", value));
  EXPECT_EQ(value, "C:\\cfg\\");
  EXPECT_FALSE(m_registry.GetPath("Missing", value));
  EXPECT_EQ(value, "");
}
