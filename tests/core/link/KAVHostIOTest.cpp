// The host-I/O library search and binding, over a fake environment and
// fake libraries (the real libraries: LibrarySearchTest.cpp).
#include <gtest/gtest.h>

#include <cstring>

#include "FakeHostIo.h"
#include "TestUtil.h"
#include "link/KAVHostIO.h"

namespace {

std::string Join(std::initializer_list<std::string> parts) {
  std::string out;
  for (const std::string& p : parts) {
    if (!out.empty()) out += LinkSystem::Separator();
    out += p;
  }
  return out;
}

int32_t HOSTIO_CALL Marker() {
  return 77;
}

// A library exporting every slot under prefix, except the names in missing.
FakeLinkSystem::Library MakeLibrary(const std::string& prefix, std::initializer_list<std::string> missing = {}) {
  FakeLinkSystem::Library library;
  for (const char* name : kHostIoSlotNames) {
    bool skip = false;
    for (const std::string& m : missing) skip = skip || m == name;
    if (!skip) library.symbols[prefix + name] = reinterpret_cast<void*>(&Marker);
  }
  return library;
}

class KAVHostIOTest : public ::testing::Test {
 protected:
  // The attempts of the search by name for one library: the program's
  // folder, the system folder, then the folders of PATH given here.
  std::vector<std::string> ByName(const std::string& name, std::initializer_list<std::string> pathFolders = {}) {
    std::vector<std::string> attempts = {Join({"/program", name}), Join({"/system", name})};
    for (const std::string& folder : pathFolders) attempts.push_back(Join({folder, name}));
    return attempts;
  }
  static std::vector<std::string> Then(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }

  FakeLinkSystem system;
  const std::string sdkLibrary = Join({"/sdk", "libraries", "Win32-x86", "kav_hostio32.dll"});
  const std::string qdLibrary = Join({"/qd", "x86", "bin", "kav_hostio32.dll"});
  const std::string pathLibrary = Join({"/hio", "kav_hostio32.dll"});
};

TEST_F(KAVHostIOTest, DllPathVariableWinsOverTheOthers) {
  system.env = {{"KAV_HOSTIO_DLL_PATH", "/hio"}, {"KAVSDK_ROOT", "/sdk"}, {"QD_KAV_DIR", "/qd"}};
  system.libraries[pathLibrary] = MakeLibrary("KAVHIO_");
  system.libraries[sdkLibrary] = MakeLibrary("KAVHIO_");
  CKAVHostIO hostIo(system);
  EXPECT_TRUE(hostIo.IsLoaded());
  EXPECT_EQ(system.loadAttempts, (std::vector<std::string>{pathLibrary}));
  EXPECT_EQ(hostIo.BoundSlotCount(), HOSTIO_SLOT_COUNT);
  ASSERT_EQ(system.symbolLookups.size(), 22u);
  EXPECT_EQ(system.symbolLookups.front(), "KAVHIO_host_find");
  EXPECT_EQ(system.symbolLookups.back(), "KAVHIO_getRawDllData");
  ASSERT_NE(hostIo.Functions().getDllType, nullptr);
  EXPECT_EQ(hostIo.Functions().getDllType(), 77);
}

TEST_F(KAVHostIOTest, SearchGoesOnThroughTheSdkVariablesToTheName) {
  system.env = {{"KAV_HOSTIO_DLL_PATH", "/hio"}, {"KAVSDK_ROOT", "/sdk"}, {"QD_KAV_DIR", "/qd"}};
  system.libraries[sdkLibrary] = MakeLibrary("KAVHIO_");
  {
    CKAVHostIO hostIo(system);
    EXPECT_EQ(system.loadAttempts, (std::vector<std::string>{pathLibrary, sdkLibrary}));
    EXPECT_EQ(hostIo.BoundSlotCount(), HOSTIO_SLOT_COUNT);
  }
  // By name: the library is looked for by the program itself, by full path,
  // in its own folder, the system folder and PATH's folders.
  system.libraries.clear();
  system.loadAttempts.clear();
  system.env["PATH"] = "/tools";
  system.libraries[Join({"/tools", "kav_hostio32.dll"})] = MakeLibrary("KAVHIO_");
  CKAVHostIO byName(system);
  EXPECT_EQ(system.loadAttempts, Then({pathLibrary, sdkLibrary, qdLibrary}, ByName("kav_hostio32.dll", {"/tools"})));
  EXPECT_EQ(byName.BoundSlotCount(), HOSTIO_SLOT_COUNT);
}

TEST_F(KAVHostIOTest, ByNameTheProgramsFolderComesFirstAndTheCurrentFolderNever) {
  struct Case {
    const char* what;
    std::string path;                      // PATH
    std::vector<std::string> pathFolders;  // the folders of PATH that are searched
  };
  const std::string s(1, LinkSystem::PathListSeparator());
  const Case cases[] = {
      {"no PATH", "", {}},
      {"relative entries, the current folder among them", "." + s + "bin" + s + "" + s + "/a", {"/a"}},
      {"an unexpanded variable", "%SystemRoot%" + s + "/b", {"/b"}},
      {"quotes, trailing separators and repeats", "\"/c\"" + s + "/c/" + s + "/program", {"/c"}},
  };
  for (const Case& c : cases) {
    FakeLinkSystem fresh;
    if (!c.path.empty()) fresh.env["PATH"] = c.path;
    CKAVHostIO hostIo(fresh);
    std::vector<std::string> expected;
    for (const char* name : {"kav_hostio32.dll", "devhio_proxy.dll"}) {
      expected.push_back(Join({"/program", name}));
      expected.push_back(Join({"/system", name}));
      for (const std::string& folder : c.pathFolders) expected.push_back(Join({folder, name}));
    }
    EXPECT_EQ(fresh.loadAttempts, expected) << c.what;
  }

  // The program's folder wins over the system's and PATH's.
  system.env["PATH"] = "/tools";
  system.libraries[Join({"/program", "kav_hostio32.dll"})] = MakeLibrary("KAVHIO_");
  system.libraries[Join({"/tools", "kav_hostio32.dll"})] = MakeLibrary("KAVHIO_");
  CKAVHostIO hostIo(system);
  EXPECT_EQ(system.loadAttempts, (std::vector<std::string>{Join({"/program", "kav_hostio32.dll"})}));
}

TEST_F(KAVHostIOTest, RelativeFoldersOfTheVariablesAreNotLoaded) {
  LogCapture log;
  system.env = {{"KAV_HOSTIO_DLL_PATH", "hio"}, {"KAVSDK_ROOT", "."}, {"KMC_KAVHOSTIO", "kmc"}};
  CKAVHostIO hostIo(system);
  EXPECT_FALSE(hostIo.IsLoaded());
  EXPECT_EQ(system.loadAttempts, Then(ByName("kav_hostio32.dll"), ByName("devhio_proxy.dll")));
  const std::string text = log.Text();
  EXPECT_NE(text.find("kav_hostio32.dll: \"" + Join({"hio", "kav_hostio32.dll"}) + "\" is not a full path"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("devhio_proxy.dll: \"" + Join({"kmc", "BIN", "devhio_proxy.dll"}) + "\" is not a full path"),
            std::string::npos)
      << text;
}

TEST_F(KAVHostIOTest, ProxyIsBoundWithItsOwnPrefix) {
  system.env = {{"KMC_KAVHOSTIO", "/kmc"}};
  const std::string proxy = Join({"/kmc", "BIN", "devhio_proxy.dll"});
  system.libraries[proxy] = MakeLibrary("DEVHIO_");
  CKAVHostIO hostIo(system);
  EXPECT_EQ(system.loadAttempts, Then(ByName("kav_hostio32.dll"), {proxy}));
  EXPECT_EQ(hostIo.BoundSlotCount(), HOSTIO_SLOT_COUNT);
  EXPECT_EQ(system.symbolLookups.front(), "DEVHIO_host_find");
}

TEST_F(KAVHostIOTest, ProxyByNameWhenTheKmcFolderLacksIt) {
  system.env = {{"KMC_KAVHOSTIO", "/kmc"}};
  system.libraries[Join({"/program", "devhio_proxy.dll"})] = MakeLibrary("DEVHIO_");
  CKAVHostIO hostIo(system);
  EXPECT_EQ(system.loadAttempts.back(), Join({"/program", "devhio_proxy.dll"}));
  EXPECT_EQ(hostIo.BoundSlotCount(), HOSTIO_SLOT_COUNT);
}

TEST_F(KAVHostIOTest, NoLibraryGivesEverySlotItsStandIn) {
  CKAVHostIO hostIo(system);
  EXPECT_FALSE(hostIo.IsLoaded());
  EXPECT_EQ(hostIo.BoundSlotCount(), 0);
  EXPECT_EQ(memcmp(&hostIo.Functions(), &kHostIoStandIns, sizeof(HostIoFunctions)), 0);
  EXPECT_EQ(system.loadAttempts, Then(ByName("kav_hostio32.dll"), ByName("devhio_proxy.dll")));
  EXPECT_TRUE(system.symbolLookups.empty());
}

TEST_F(KAVHostIOTest, MissingExportGetsOnlyItsSlotsStandIn) {
  system.libraries[Join({"/program", "kav_hostio32.dll"})] = MakeLibrary("KAVHIO_", {"sio_getWritableBytes"});
  CKAVHostIO hostIo(system);
  EXPECT_EQ(hostIo.BoundSlotCount(), HOSTIO_SLOT_COUNT - 1);
  EXPECT_EQ(hostIo.Functions().sio_getWritableBytes, kHostIoStandIns.sio_getWritableBytes);
  EXPECT_EQ(hostIo.Functions().sio_getWritableBytes(0, 0), -1);
  EXPECT_NE(hostIo.Functions().sio_write, kHostIoStandIns.sio_write);
  EXPECT_NE(hostIo.Functions().getRawDllData, kHostIoStandIns.getRawDllData);
}

TEST_F(KAVHostIOTest, CallersNullSlotsGetTheirStandIns) {
  HostIoFunctions table = {};
  table.host_getversion = &Marker;
  CKAVHostIO hostIo(system, table);
  EXPECT_EQ(hostIo.BoundSlotCount(), 1);
  EXPECT_EQ(hostIo.Functions().host_getversion(), 77);
  EXPECT_EQ(hostIo.Functions().sio_open, kHostIoStandIns.sio_open);
  EXPECT_EQ(&CKAVHostIO::FunctionsOf(nullptr), &kHostIoStandIns);
}

// A stand-in does nothing and answers what the link and the session take a
// missing entry point to mean: a failure, except that the channel's open and
// close are done and the wait for the device program goes on.
TEST(HostIoStandInTest, EachAnswersAsAMissingEntryPoint) {
  const HostIoFunctions& fn = kHostIoStandIns;
  int32_t ids[2] = {5, 6};
  uint8_t bytes[4] = {9, 9, 9, 9};
  const struct {
    const char* slot;
    int32_t answer;
    int32_t expected;
  } cases[] = {
      {"host_find", fn.host_find(ids, 2), -1},
      {"host_connect", fn.host_connect(5), -1},
      {"host_disconnect", fn.host_disconnect(), -1},
      {"host_getconnectid", fn.host_getconnectid(), -1},
      {"host_getversion", fn.host_getversion(), -1},
      {"sio_open", fn.sio_open(0), 0},
      {"sio_close", fn.sio_close(0), 0},
      {"sio_connect", fn.sio_connect(0), -1},
      {"sio_wait", fn.sio_wait(0, 1), 0},
      {"sio_disconnect", fn.sio_disconnect(0), -1},
      {"sio_flush", fn.sio_flush(0), -1},
      {"sio_read", fn.sio_read(0, bytes, 4, 1), -1},
      {"sio_write", fn.sio_write(0, bytes, 4, 1), -1},
      {"sio_getReadableBytes", fn.sio_getReadableBytes(0, 0), -1},
      {"sio_getWritableBytes", fn.sio_getWritableBytes(0, 0), -1},
      {"smem_open", fn.smem_open(0), -1},
      {"smem_close", fn.smem_close(0), -1},
      {"smem_getsize", fn.smem_getsize(0), -1},
      {"smem_read", fn.smem_read(0, bytes, 4), -1},
      {"smem_write", fn.smem_write(0, bytes, 4), -1},
      {"getDllType", fn.getDllType(), -1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.answer, c.expected) << c.slot;
  EXPECT_NE(fn.getDllType(), hostio::DLL_TYPE_BOX);
  EXPECT_EQ(fn.getRawDllData(), nullptr);
  EXPECT_EQ(ids[0], 5);
  EXPECT_EQ(ids[1], 6);
  for (uint8_t b : bytes) EXPECT_EQ(b, 9);
}

TEST_F(KAVHostIOTest, KmcVariableKeepsItsFirstValue) {
  system.env = {{"KMC_KAVHOSTIO", "/first"}};
  {
    CKAVHostIO hostIo(system);
    EXPECT_EQ(system.env["KMC_KAVHOSTIO_ORIGINAL"], "/first");
  }
  // A later session changed the variable: the proxy search uses the first value.
  system.env["KMC_KAVHOSTIO"] = "/second";
  system.loadAttempts.clear();
  {
    CKAVHostIO hostIo(system);
    EXPECT_EQ(system.env["KMC_KAVHOSTIO"], "/first");
    EXPECT_EQ(system.loadAttempts[2], Join({"/first", "BIN", "devhio_proxy.dll"}));
  }
  // ...but only when no kav_hostio32.dll was loaded.
  system.env["KMC_KAVHOSTIO"] = "/second";
  system.libraries[Join({"/system", "kav_hostio32.dll"})] = MakeLibrary("KAVHIO_");
  CKAVHostIO hostIo(system);
  EXPECT_EQ(system.env["KMC_KAVHOSTIO"], "/second");
}

TEST_F(KAVHostIOTest, CandidatesLongerThanThePathBufferAreSkipped) {
  const std::string longFolder = "/" + std::string(CKAVHostIO::PATH_BUFFER - 1 - 1 - 17, 'd');  // fits exactly
  system.env = {{"KAV_HOSTIO_DLL_PATH", longFolder}, {"KAVSDK_ROOT", "/" + std::string(300, 's')}};
  ASSERT_EQ((longFolder + "/kav_hostio32.dll").size(), CKAVHostIO::PATH_BUFFER - 1);
  CKAVHostIO fits(system);
  EXPECT_EQ(system.loadAttempts.front(), Join({longFolder, "kav_hostio32.dll"}));
  // The overlong SDK value is skipped.
  EXPECT_EQ(system.loadAttempts, Then({Join({longFolder, "kav_hostio32.dll"})},
                                      Then(ByName("kav_hostio32.dll"), ByName("devhio_proxy.dll"))));

  system.loadAttempts.clear();
  system.env["KAV_HOSTIO_DLL_PATH"] = longFolder + "x";
  CKAVHostIO tooLong(system);
  EXPECT_EQ(system.loadAttempts, Then(ByName("kav_hostio32.dll"), ByName("devhio_proxy.dll")));
}

TEST_F(KAVHostIOTest, EmptyVariablesCountAsMissing) {
  system.env = {{"KAV_HOSTIO_DLL_PATH", ""}, {"KMC_KAVHOSTIO", "/kmc"}, {"KMC_KAVHOSTIO_ORIGINAL", ""}};
  CKAVHostIO hostIo(system);
  EXPECT_EQ(system.loadAttempts.front(), Join({"/program", "kav_hostio32.dll"}));
  EXPECT_EQ(system.env["KMC_KAVHOSTIO_ORIGINAL"], "/kmc");
}

TEST_F(KAVHostIOTest, DestructionFreesTheLibrary) {
  system.libraries[Join({"/program", "kav_hostio32.dll"})] = MakeLibrary("KAVHIO_");
  {
    CKAVHostIO hostIo(system);
    EXPECT_EQ(system.openLibraries, 1);
  }
  EXPECT_EQ(system.openLibraries, 0);
}

}  // namespace
