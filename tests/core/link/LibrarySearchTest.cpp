// The host-I/O library search over real libraries in real folders, steered by
// the environment as the SDK and the KMC debugger set it.
#include <gtest/gtest.h>

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

#include "TestUtil.h"
#include "link/KAVHostIO.h"
#include "link/LinkSystem.h"
#include "platform/Platform.h"
#include "support/Strings.h"

namespace {

#ifdef _WIN32
const char kLibraryPrefix[] = "";
const char kLibrarySuffix[] = ".dll";
#else
const char kLibraryPrefix[] = "";
const char kLibrarySuffix[] = ".so";
#endif

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
  static int Mark(const CKAVHostIO& hostIo) { return hostIo.Functions().host_getversion(); }

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
  // This copy lacks sio_getWritableBytes: loaded all the same, that slot its
  // stand-in.
  EXPECT_EQ(hostIo.BoundSlotCount(), HOSTIO_SLOT_COUNT - 1);
  EXPECT_EQ(hostIo.Functions().sio_getWritableBytes, kHostIoStandIns.sio_getWritableBytes);
  EXPECT_NE(hostIo.Functions().sio_write, kHostIoStandIns.sio_write);
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

TEST_F(LibrarySearchTest, NoLibraryGivesEverySlotItsStandIn) {
  platform::SetEnv("KAVSDK_ROOT", Folder("nowhere").c_str());
  CKAVHostIO hostIo(system);
  EXPECT_FALSE(hostIo.IsLoaded());
  EXPECT_EQ(hostIo.BoundSlotCount(), 0);
  EXPECT_EQ(Mark(hostIo), -1);
}

TEST_F(LibrarySearchTest, ByNameThroughPathsFolders) {
  const std::string list(1, LinkSystem::PathListSeparator());
  platform::SetEnv("PATH", (Folder("byname-proxy") + list + m_path).c_str());
  {
    CKAVHostIO proxy(system);
    EXPECT_EQ(Mark(proxy), 5);
  }
  platform::SetEnv("PATH", (Folder("byname") + list + Folder("byname-proxy") + list + m_path).c_str());
  CKAVHostIO hostIo(system);
  EXPECT_EQ(Mark(hostIo), 6);
}

// Copies of a library that writes a marker file when it is loaded, planted
// where a careless search would find them: in the current folder under the
// host-I/O libraries' names (also reached through a PATH entry ".") and under
// a folder literally named "%KMC_PARTNER_KAVS%" there, where the unexpanded
// pattern of the KMC library points. None of them is ever loaded; the real
// library named by the environment still is.
TEST_F(LibrarySearchTest, LibrariesPlantedInTheCurrentFolderAreNeverLoaded) {
  namespace fs = std::filesystem;
  TempDir current;
  const std::string marker = current.File("planted-was-loaded");
  platform::SetEnv("QUILL_PLANTED_MARKER", marker.c_str());
  const std::string planted = Folder("") + kLibraryPrefix + "planted" + kLibrarySuffix;
  const std::string kmcBin = current.File("%KMC_PARTNER_KAVS%") + LinkSystem::Separator() + "BIN";
  ASSERT_TRUE(platform::MakeDirectory(current.File("%KMC_PARTNER_KAVS%").c_str()));
  ASSERT_TRUE(platform::MakeDirectory(kmcBin.c_str()));
  for (const std::string& copy : {current.File(std::string("kav_hostio32") + kLibrarySuffix),
                                  current.File(std::string("devhio_proxy") + kLibrarySuffix),
                                  kmcBin + LinkSystem::Separator() + "loadrun_kav" + kLibrarySuffix}) {
    fs::copy_file(fs::u8path(planted), fs::u8path(copy));
  }
  const fs::path before = fs::current_path();
  fs::current_path(fs::u8path(current.Path()));
  const std::string list(1, LinkSystem::PathListSeparator());
  platform::SetEnv("PATH", ("." + list + list + m_path).c_str());
  platform::HardenLibrarySearch();

  {
    CKAVHostIO hostIo(system);
    EXPECT_FALSE(hostIo.IsLoaded());
    // The KMC library's pattern, unexpanded: the program's search refuses it.
    const std::string kmc =
        system.ExpandStartupText(LinkSystem::JoinPath({"%KMC_PARTNER_KAVS%", "BIN", "loadrun_kav.dll"}));
    std::string problem;
    EXPECT_FALSE(system.UsablePath(kmc, &problem));
    EXPECT_EQ(problem, "%KMC_PARTNER_KAVS% is not set");
    EXPECT_EQ(system.OpenLibrary(kmc.c_str()), nullptr);
    EXPECT_EQ(system.OpenLibrary((std::string("kav_hostio32") + kLibrarySuffix).c_str()), nullptr);
#ifdef _WIN32
    // What else in the process loads a library by name does not find it in
    // the current folder either.
    HMODULE byName = LoadLibraryW(L"kav_hostio32.dll");
    EXPECT_EQ(byName, nullptr);
    if (byName != nullptr) FreeLibrary(byName);
#endif
  }
  EXPECT_FALSE(platform::PathExists(marker.c_str())) << "a planted library was loaded";

  // The real one, named by the environment, is loaded.
  platform::SetEnv("KAV_HOSTIO_DLL_PATH", Folder("path").c_str());
  {
    CKAVHostIO hostIo(system);
    EXPECT_EQ(Mark(hostIo), 1);
  }
  EXPECT_FALSE(platform::PathExists(marker.c_str()));
  fs::current_path(before);
  platform::SetEnv("QUILL_PLANTED_MARKER", nullptr);
}

}  // namespace
