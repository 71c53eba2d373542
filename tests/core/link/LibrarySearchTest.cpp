// The host-I/O library search over real libraries in real folders, steered by
// the environment as the SDK and the KMC debugger set it.
#include <gtest/gtest.h>

#include "link/KAVHostIO.h"
#include "link/LinkSystem.h"
#include "platform/Platform.h"
#include "support/Strings.h"

namespace {

const char* const kVariables[] = {"KAV_HOSTIO_DLL_PATH", "KAVSDK_ROOT", "QD_KAV_DIR", "KMC_KAVHOSTIO",
                                  "KMC_KAVHOSTIO_ORIGINAL"};

class LibrarySearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kVariables) platform::SetEnv(name, nullptr);
    m_hadPath = platform::GetEnv("PATH", &m_path);
  }
  void TearDown() override {
    for (const char* name : kVariables) platform::SetEnv(name, nullptr);
    platform::SetEnv("PATH", m_hadPath ? m_path.c_str() : nullptr);
  }

  // A folder of the test libraries, without trailing separator.
  static std::string Folder(const std::string& relative) {
    std::string path = GetDirectory(platform::GetProgramPath()) + "link-testlibs";
    for (char c : "/" + relative) path += c == '/' ? *LinkSystem::Separator() : c;
    return path;
  }
  static int Mark(const CKAVHostIO& hostIo) {
    return hostIo.Functions().host_getversion != nullptr ? hostIo.Functions().host_getversion() : 0;
  }

  PlatformLinkSystem system;
  std::string m_path;
  bool m_hadPath = false;
};

TEST_F(LibrarySearchTest, DllPathVariableWinsOverTheSdkVariables) {
  platform::SetEnv("KAV_HOSTIO_DLL_PATH", Folder("path").c_str());
  platform::SetEnv("KAVSDK_ROOT", Folder("sdk").c_str());
  platform::SetEnv("QD_KAV_DIR", Folder("qd").c_str());
  CKAVHostIO hostIo(system);
  EXPECT_EQ(Mark(hostIo), 1);
  EXPECT_EQ(hostIo.BoundSlotCount(), HOSTIO_SLOT_COUNT);
}

TEST_F(LibrarySearchTest, FolderWithoutTheLibraryPassesToTheSdkRoot) {
  platform::SetEnv("KAV_HOSTIO_DLL_PATH", Folder("kmc").c_str());
  platform::SetEnv("KAVSDK_ROOT", Folder("sdk").c_str());
  platform::SetEnv("QD_KAV_DIR", Folder("qd").c_str());
  CKAVHostIO hostIo(system);
  EXPECT_EQ(Mark(hostIo), 2);
  // This copy lacks sio_getWritableBytes: loaded all the same, that slot null.
  EXPECT_EQ(hostIo.BoundSlotCount(), HOSTIO_SLOT_COUNT - 1);
  EXPECT_EQ(hostIo.Functions().sio_getWritableBytes, nullptr);
  EXPECT_NE(hostIo.Functions().sio_write, nullptr);
}

TEST_F(LibrarySearchTest, QdKavDir) {
  platform::SetEnv("KAVSDK_ROOT", Folder("nowhere").c_str());
  platform::SetEnv("QD_KAV_DIR", Folder("qd").c_str());
  CKAVHostIO hostIo(system);
  EXPECT_EQ(Mark(hostIo), 3);
}

TEST_F(LibrarySearchTest, ProxyFromTheKmcFolder) {
  platform::SetEnv("KMC_KAVHOSTIO", Folder("kmc").c_str());
  CKAVHostIO hostIo(system);
  EXPECT_EQ(Mark(hostIo), 4);
  EXPECT_EQ(hostIo.BoundSlotCount(), HOSTIO_SLOT_COUNT);
  std::string original;
  ASSERT_TRUE(platform::GetEnv("KMC_KAVHOSTIO_ORIGINAL", &original));
  EXPECT_EQ(original, Folder("kmc"));
}

TEST_F(LibrarySearchTest, FirstKmcValueWins) {
  platform::SetEnv("KMC_KAVHOSTIO_ORIGINAL", Folder("kmc").c_str());
  platform::SetEnv("KMC_KAVHOSTIO", Folder("nowhere").c_str());
  CKAVHostIO hostIo(system);
  EXPECT_EQ(Mark(hostIo), 4);
  std::string value;
  ASSERT_TRUE(platform::GetEnv("KMC_KAVHOSTIO", &value));
  EXPECT_EQ(value, Folder("kmc"));
}

TEST_F(LibrarySearchTest, NoLibraryLeavesEverySlotNull) {
  platform::SetEnv("KAVSDK_ROOT", Folder("nowhere").c_str());
  CKAVHostIO hostIo(system);
  EXPECT_FALSE(hostIo.IsLoaded());
  EXPECT_EQ(hostIo.BoundSlotCount(), 0);
}

TEST_F(LibrarySearchTest, ByNameThroughTheSystemSearch) {
#ifndef _WIN32
  GTEST_SKIP() << "the native loader reads its search path only at start-up";
#else
  platform::SetEnv("PATH", (Folder("byname-proxy") + ";" + m_path).c_str());
  {
    CKAVHostIO proxy(system);
    EXPECT_EQ(Mark(proxy), 5);
  }
  platform::SetEnv("PATH", (Folder("byname") + ";" + Folder("byname-proxy") + ";" + m_path).c_str());
  CKAVHostIO hostIo(system);
  EXPECT_EQ(Mark(hostIo), 6);
#endif
}

}  // namespace
