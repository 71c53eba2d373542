// Finding and connecting the debugger, its name, and the program download,
// over the fake library and a fake environment.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "LinkTestUtil.h"
#include "link/DebuggerSession.h"
#include "link/KAVHostIO.h"
#include "link/PacketLink.h"
#include "link/DownloadUi.h"

using Status = PacketChannel::Status;

namespace {

class DiscoveryTest : public ::testing::Test, public ChannelFixture {
 protected:
  void SetUp() override { UseTestResources(); }
};

// --- Start-up and the File menu ------------------------------------------------

TEST_F(DiscoveryTest, StartUpWithoutDebuggerIsNotAnError) {
  EXPECT_TRUE(channel.Session().ConnectFirst(true));
  EXPECT_EQ(channel.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(channel.Session().GetDebuggerId(), 0u);
  EXPECT_EQ(LinkLines(log.Text()), (std::vector<std::string>{"Find Debugger", "0 devices found"}));
  EXPECT_EQ(channel.Session().GetDisplayName(), "");
  EXPECT_FALSE(channel.Session().ConnectFirst(false));
}

TEST_F(DiscoveryTest, WithoutALibraryNothingIsFound) {
  SerialChannel bare(system);
  bare.Init(0, fake.MakeHostIo(system, HostIoFunctions{}));
  EXPECT_TRUE(bare.Session().ConnectFirst(true));
  EXPECT_EQ(CountLinkLines(log.Text(), "-1 devices found"), 1);
  bool listedOnly = true;
  EXPECT_FALSE(bare.Session().Reconnect(listedOnly));
  EXPECT_FALSE(listedOnly);
  EXPECT_EQ(bare.Link().GetStatus(), Status::DISCONNECTED);
}

TEST_F(DiscoveryTest, BoxIsNamedBySerialText) {
  fake.listed = {12345678};
  EXPECT_TRUE(channel.Session().ConnectFirst(true));
  EXPECT_EQ(channel.Link().GetStatus(), Status::CLOSE);
  EXPECT_EQ(fake.connectedIds, (std::vector<int32_t>{12345678}));
  EXPECT_EQ(channel.Session().GetSerial(), "1234567-8");
  EXPECT_EQ(channel.Session().GetDisplayName(), "1234567-8");
  EXPECT_EQ(LinkLines(log.Text()), (std::vector<std::string>{"Find Debugger", "Connect Debugger"}));
}

TEST_F(DiscoveryTest, ShortAndLargeBoxIds) {
  fake.listed = {42};
  ASSERT_TRUE(channel.Session().ConnectFirst(true));
  EXPECT_EQ(channel.Session().GetDisplayName(), "0000004-2");
  fake.listed = {static_cast<int32_t>(0xFFFFFFFFu)};
  channel.Session().Disconnect();
  ASSERT_TRUE(channel.Session().ConnectFirst(true));
  EXPECT_EQ(channel.Session().GetDisplayName(), "429496729-5");
}

TEST_F(DiscoveryTest, RefusedConnectionIsAnError) {
  fake.listed = {12345678};
  fake.connectResult = -1;
  EXPECT_FALSE(channel.Session().ConnectFirst(true));
  EXPECT_EQ(channel.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(channel.Session().GetDebuggerId(), 0u);
  EXPECT_EQ(CountLinkLines(log.Text(), "Connect Error"), 1);
}

TEST_F(DiscoveryTest, KmcDebuggerWithoutItsLibraryIsNamedByItsId) {
  fake.dllType = 2;
  fake.listed = {42};
  system.startupEnv["KMC_PARTNER_KAVS"] = "/kmc";
  ASSERT_TRUE(channel.Session().ConnectFirst(true));
  EXPECT_EQ(channel.Session().GetSerial(), "");
  EXPECT_EQ(channel.Session().GetDisplayName(), "00000042");
  const std::string expected =
      std::string("/kmc") + LinkSystem::Separator() + "BIN" + LinkSystem::Separator() + "loadrun_kav.dll";
  EXPECT_EQ(system.loadAttempts, (std::vector<std::string>{expected}));
  // A failed load is tried again next time.
  channel.Session().UpdateSerial();
  EXPECT_EQ(system.loadAttempts.size(), 2u);
}

int32_t HOSTIO_CALL SerialOf(uint32_t id, char* text) {
  if (id == 7) return -1;
  snprintf(text, 32, "KMC-%u", id);
  return 0;
}

int32_t HOSTIO_CALL OverlongSerial(uint32_t, char* text) {
  memset(text, 'x', 40);
  text[40] = 0;
  return 0;
}

TEST_F(DiscoveryTest, KmcLibraryIsOnlyLoadedFromAFullPath) {
  fake.dllType = 2;
  fake.listed = {42};
  const std::string sep = LinkSystem::Separator();
  // A library planted where the unexpanded or relative pattern would point
  // (a folder named "%KMC_PARTNER_KAVS%" in the current one) is never tried.
  system.libraries["%KMC_PARTNER_KAVS%" + sep + "BIN" + sep + "loadrun_kav.dll"].symbols["LRKAV_id2serialno"] =
      reinterpret_cast<void*>(&SerialOf);
  system.libraries["kmc" + sep + "BIN" + sep + "loadrun_kav.dll"].symbols["LRKAV_id2serialno"] =
      reinterpret_cast<void*>(&SerialOf);
  ASSERT_TRUE(channel.Session().ConnectFirst(true));
  EXPECT_EQ(channel.Session().GetDisplayName(), "00000042");
  EXPECT_TRUE(system.loadAttempts.empty());
  EXPECT_EQ(CountLinkLines(log.Text(), "loadrun_kav.dll not loaded: %KMC_PARTNER_KAVS% is not set"), 1) << log.Text();

  system.startupEnv["KMC_PARTNER_KAVS"] = "kmc";
  channel.Session().UpdateSerial();
  EXPECT_TRUE(system.loadAttempts.empty());
  EXPECT_EQ(CountLinkLines(log.Text(), "loadrun_kav.dll not loaded: \"kmc" + sep + "BIN" + sep +
                                           "loadrun_kav.dll\" is not a full path"),
            1);
  EXPECT_EQ(channel.Session().GetSerial(), "");
}

TEST_F(DiscoveryTest, KmcSerialComesFromTheVendorLibraryLoadedOnce) {
  fake.dllType = 2;
  fake.listed = {42};
  system.startupEnv["KMC_PARTNER_KAVS"] = "/kmc";
  const std::string path =
      std::string("/kmc") + LinkSystem::Separator() + "BIN" + LinkSystem::Separator() + "loadrun_kav.dll";
  system.libraries[path].symbols["LRKAV_id2serialno"] = reinterpret_cast<void*>(&SerialOf);
  ASSERT_TRUE(channel.Session().ConnectFirst(true));
  EXPECT_EQ(channel.Session().GetSerial(), "KMC-42");
  EXPECT_EQ(channel.Session().GetDisplayName(), "KMC-42");
  channel.Session().UpdateSerial();
  EXPECT_EQ(system.loadAttempts.size(), 1u);

  fake.listed = {7};
  bool listedOnly = false;
  ASSERT_TRUE(channel.Session().Reconnect(listedOnly));
  EXPECT_EQ(channel.Session().GetSerial(), "");
  EXPECT_EQ(channel.Session().GetDisplayName(), "00000007");

  system.libraries[path].symbols["LRKAV_id2serialno"] = reinterpret_cast<void*>(&OverlongSerial);
  channel.Session().UpdateSerial();
  EXPECT_EQ(channel.Session().GetSerial(), std::string(31, 'x'));

  channel.Shutdown();
  EXPECT_EQ(system.openLibraries, 0);
}

TEST_F(DiscoveryTest, ConnectWithTheSameUsableBoxChangesNothing) {
  ASSERT_TRUE(BringUp());
  const int connects = fake.connects;
  bool listedOnly = true;
  EXPECT_TRUE(channel.Session().Reconnect(listedOnly));
  EXPECT_FALSE(listedOnly);
  EXPECT_EQ(fake.connects, connects);
  EXPECT_EQ(channel.Link().GetStatus(), Status::CONNECTED);
}

TEST_F(DiscoveryTest, ConnectWithTheSameUnusableBoxConnectsAgain) {
  ASSERT_TRUE(BringUp());
  fake.boxUsable = false;
  bool listedOnly = true;
  EXPECT_TRUE(channel.Session().Reconnect(listedOnly));
  EXPECT_FALSE(listedOnly);
  EXPECT_EQ(fake.connects, 2);
  EXPECT_EQ(channel.Link().GetStatus(), Status::CLOSE);
  EXPECT_EQ(fake.closes, 0);  // the channel is not closed first
}

TEST_F(DiscoveryTest, ConnectWithAnotherDebuggerSwitches) {
  ASSERT_TRUE(BringUp());
  fake.listed = {22222222, 12345678};
  bool listedOnly = true;
  EXPECT_TRUE(channel.Session().Reconnect(listedOnly));
  EXPECT_EQ(channel.Session().GetDebuggerId(), 22222222u);
  EXPECT_EQ(channel.Session().GetSerial(), "2222222-2");
  EXPECT_EQ(channel.Link().GetStatus(), Status::CLOSE);
}

TEST_F(DiscoveryTest, ListedOnlyReconnectKeepsAUsableDebugger) {
  ASSERT_TRUE(BringUp());
  fake.directFindFails = true;
  bool listedOnly = false;
  EXPECT_TRUE(channel.Session().Reconnect(listedOnly));
  EXPECT_TRUE(listedOnly);
  EXPECT_EQ(channel.Link().GetStatus(), Status::CONNECTED);
  EXPECT_EQ(fake.connects, 1);
  EXPECT_EQ(CountLinkLines(log.Text(), "1 devices found"), 1);
}

TEST_F(DiscoveryTest, ListedOnlyReconnectDropsAnUnusableDebugger) {
  ASSERT_TRUE(BringUp());
  fake.directFindFails = true;
  fake.boxUsable = false;
  bool listedOnly = false;
  EXPECT_FALSE(channel.Session().Reconnect(listedOnly));
  EXPECT_TRUE(listedOnly);
  EXPECT_EQ(channel.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(channel.Session().GetDebuggerId(), 0u);
}

TEST_F(DiscoveryTest, ReconnectWithNothingFoundAndNothingBefore) {
  bool listedOnly = true;
  EXPECT_FALSE(channel.Session().Reconnect(listedOnly));
  EXPECT_FALSE(listedOnly);
  EXPECT_EQ(channel.Link().GetStatus(), Status::DISCONNECTED);
}

TEST_F(DiscoveryTest, ReconnectAfterAFailedConnect) {
  fake.listed = {12345678};
  fake.connectResult = -1;
  bool listedOnly = false;
  EXPECT_FALSE(channel.Session().Reconnect(listedOnly));
  EXPECT_FALSE(listedOnly);
  EXPECT_EQ(CountLinkLines(log.Text(), "Connect Error"), 1);
  fake.connectResult = 0;
  EXPECT_TRUE(channel.Session().Reconnect(listedOnly));
  EXPECT_EQ(channel.Link().GetStatus(), Status::CLOSE);
}

TEST_F(DiscoveryTest, DisconnectClosesAnOpenChannelAndKeepsTheSerial) {
  ASSERT_TRUE(BringUp());
  log.Clear();
  channel.Session().Disconnect();
  EXPECT_EQ(channel.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(fake.closes, 1);
  EXPECT_EQ(fake.disconnects, 1);
  EXPECT_EQ(channel.Session().GetSerial(), "1234567-8");
  EXPECT_EQ(channel.Session().GetDisplayName(), "");
  EXPECT_EQ(LinkLines(log.Text()), (std::vector<std::string>{"Close", "Closed", "Disconnect Debugger"}));
  channel.Session().Disconnect();
  EXPECT_EQ(fake.disconnects, 1);
}

TEST_F(DiscoveryTest, DisconnectFromCloseDoesNotCloseAgainAndReportsFailure) {
  fake.listed = {12345678};
  ASSERT_TRUE(channel.Session().ConnectFirst(true));
  fake.disconnectResult = -1;
  channel.Session().Disconnect();
  EXPECT_EQ(fake.closes, 0);
  EXPECT_EQ(CountLinkLines(log.Text(), "Disconnect Error"), 1);
  EXPECT_EQ(channel.Link().GetStatus(), Status::DISCONNECTED);
}

TEST_F(DiscoveryTest, DisconnectIfNotFound) {
  ASSERT_TRUE(BringUp());
  channel.Session().DisconnectIfNotFound();
  EXPECT_EQ(channel.Link().GetStatus(), Status::CONNECTED);
  EXPECT_EQ(CountLinkLines(log.Text(), "Disconnect Debugger Cancel. Debugger Find"), 1);
  fake.listed = {1, 2, 3};
  channel.Session().DisconnectIfNotFound();
  EXPECT_EQ(channel.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(channel.Session().GetSerial(), "");
  EXPECT_EQ(fake.disconnects, 1);
  channel.Session().DisconnectIfNotFound();  // nothing left to drop
  EXPECT_EQ(fake.disconnects, 1);
}

// --- A debugger that went away without the user asking ---------------------------

// Dropped after a failure, the debugger is awaited: each look lists the
// debuggers and connects it once its own id is back; another debugger in its
// place, or a refused connection, leaves it awaited.
TEST_F(DiscoveryTest, LostDebuggerIsConnectedWhenItsIdIsListedAgain) {
  ASSERT_TRUE(BringUp());
  EXPECT_FALSE(channel.Session().IsAwaitingDebugger());
  fake.listed = {};
  channel.Session().DisconnectIfNotFound();
  ASSERT_EQ(channel.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_TRUE(channel.Session().IsAwaitingDebugger());
  EXPECT_EQ(CountLinkLines(log.Text(), "Waiting For Debugger 12345678"), 1);

  const int finds = fake.finds;
  EXPECT_FALSE(channel.Session().ConnectLost());  // nothing listed
  EXPECT_EQ(fake.finds, finds + 1);
  fake.listed = {777};
  EXPECT_FALSE(channel.Session().ConnectLost());  // another debugger is not taken
  fake.listed = {777, 12345678};
  fake.connectResult = -1;
  EXPECT_FALSE(channel.Session().ConnectLost());  // refused this time
  EXPECT_TRUE(channel.Session().IsAwaitingDebugger());
  EXPECT_EQ(channel.Link().GetStatus(), Status::DISCONNECTED);
  fake.connectResult = 0;
  EXPECT_TRUE(channel.Session().ConnectLost());
  EXPECT_FALSE(channel.Session().IsAwaitingDebugger());
  EXPECT_EQ(channel.Link().GetStatus(), Status::CLOSE);
  EXPECT_EQ(channel.Session().GetDebuggerId(), 12345678u);
  EXPECT_EQ(channel.Session().GetDisplayName(), "1234567-8");
  EXPECT_EQ(fake.connectedIds, (std::vector<int32_t>{12345678, 12345678, 12345678}));
  EXPECT_FALSE(channel.Session().ConnectLost());  // connected: nothing to look for
  channel.Link().Update();
  EXPECT_EQ(channel.Link().GetStatus(), Status::CONNECTED);
}

// File, Disconnect ends the waiting; File, Connect connects as before, and a
// later loss is awaited again. A debugger the user disconnected is not.
TEST_F(DiscoveryTest, DisconnectStopsTheWaitingUntilTheNextLoss) {
  ASSERT_TRUE(BringUp());
  fake.listed = {};
  channel.Session().DisconnectIfNotFound();
  ASSERT_TRUE(channel.Session().IsAwaitingDebugger());
  channel.Session().Disconnect();
  EXPECT_FALSE(channel.Session().IsAwaitingDebugger());
  EXPECT_EQ(CountLinkLines(log.Text(), "Stop Waiting For Debugger"), 1);
  fake.listed = {12345678};
  const int finds = fake.finds;
  EXPECT_FALSE(channel.Session().ConnectLost());
  EXPECT_EQ(fake.finds, finds);  // not even looked for
  EXPECT_EQ(channel.Link().GetStatus(), Status::DISCONNECTED);

  bool listedOnly = true;
  ASSERT_TRUE(channel.Session().Reconnect(listedOnly));
  channel.Link().Update();
  ASSERT_EQ(channel.Link().GetStatus(), Status::CONNECTED);
  channel.Session().Disconnect();  // the user's own: nothing awaited
  EXPECT_FALSE(channel.Session().IsAwaitingDebugger());
  ASSERT_TRUE(channel.Session().Reconnect(listedOnly));
  fake.listed = {};
  channel.Session().DisconnectIfNotFound();
  EXPECT_TRUE(channel.Session().IsAwaitingDebugger());
  channel.Shutdown();
  EXPECT_FALSE(channel.Session().IsAwaitingDebugger());
}

// The look never waits for the link: while another thread holds the lock
// (a capture worker in a blocked write) it does nothing and says so.
TEST_F(DiscoveryTest, LookForTheLostDebuggerSkipsABusyLink) {
  PacketLink link;
  DebuggerSession session(link, system);
  std::unique_ptr<CKAVHostIO> hostIo = fake.MakeHostIo(system);
  link.Bind(hostIo.get(), 0);
  session.Bind(hostIo.get());
  link.SetFailureHandler(&session);
  fake.listed = {12345678};
  ASSERT_TRUE(session.ConnectFirst(true));
  fake.listed = {};
  session.DisconnectIfNotFound();
  ASSERT_TRUE(session.IsAwaitingDebugger());
  fake.listed = {12345678};

  std::mutex m;
  std::condition_variable cv;
  bool held = false, release = false;
  std::thread worker([&] {
    ScopedMutex lock(link.GetLock());
    std::unique_lock<std::mutex> guard(m);
    held = true;
    cv.notify_all();
    cv.wait(guard, [&] { return release; });
  });
  {
    std::unique_lock<std::mutex> guard(m);
    cv.wait(guard, [&] { return held; });
  }
  const int finds = fake.finds;
  EXPECT_FALSE(session.ConnectLost());
  EXPECT_EQ(fake.finds, finds);
  EXPECT_TRUE(session.IsAwaitingDebugger());
  {
    std::lock_guard<std::mutex> guard(m);
    release = true;
  }
  cv.notify_all();
  worker.join();
  EXPECT_TRUE(session.ConnectLost());
  EXPECT_EQ(link.GetStatus(), Status::CLOSE);
  session.Shutdown();
}

TEST_F(DiscoveryTest, OnlyTheFirstSixteenListedIdsCount) {
  fake.listed = {12345678};
  ASSERT_TRUE(channel.Session().ConnectFirst(true));
  EXPECT_TRUE(channel.Session().IsDebuggerListed());
  fake.listed.assign(16, 5);
  fake.listed.push_back(12345678);  // 17th entry: beyond the capacity
  EXPECT_FALSE(channel.Session().IsDebuggerListed());
  fake.listed[15] = 12345678;
  EXPECT_TRUE(channel.Session().IsDebuggerListed());
}

// --- Program download ----------------------------------------------------------

// Runs the "dialog" on the calling thread: returns when the download thread
// has ended it, or at once when it ended first (as the real dialog does).
class FakeDownloadUi : public DownloadUi {
 public:
  void PrepareDownloadDialog() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++prepares;
    endedFlag = false;
  }
  void RunDownloadDialog() override {
    runs++;
    if (dialogFails) return;
    std::unique_lock<std::mutex> lock(mutex);
    ended.wait(lock, [this] { return endedFlag; });
  }
  void SetDownloadText(const char* text) override {
    std::lock_guard<std::mutex> lock(mutex);
    texts.push_back(text);
  }
  void EndDownloadDialog() override {
    std::lock_guard<std::mutex> lock(mutex);
    endedFlag = true;
    ended.notify_all();
  }
  bool StartLoader(const std::string& tool, const std::string& parameters, int* code) override {
    loaderTool = tool;
    loaderParameters = parameters;
    *code = loaderCode;
    return loaderCode == 0;
  }
  void ShowLoaderFailure(const std::string& tool, int code) override { failures.push_back({tool, code}); }

  int runs = 0;
  int prepares = 0;
  bool dialogFails = false;
  std::vector<std::string> texts;
  std::string loaderTool, loaderParameters;
  int loaderCode = 0;  // non-zero: the loader does not start, with this code
  struct Failure {
    std::string tool;
    int code;
  };
  std::vector<Failure> failures;
  std::mutex mutex;
  std::condition_variable ended;
  bool endedFlag = false;
};

std::atomic<int> s_downloadCalls{0};
std::string s_downloadedPath;

int32_t HOSTIO_CALL FakeDownload(void* box, const char* path, hostio::DownloadProgressFn progress, void* context) {
  ++s_downloadCalls;
  s_downloadedPath = path;
  EXPECT_NE(box, nullptr);
  for (uint64_t done = 0; done <= 300; done += 100) {
    if (progress(context, done, 300) != 1) return 0;
  }
  return 1;
}

int32_t HOSTIO_CALL FailingDownload(void*, const char*, hostio::DownloadProgressFn, void*) {
  return 0;
}

class DownloadTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    s_downloadCalls = 0;
    channel.Download().SetUi(&ui);
    fake.downloadProgram = &FakeDownload;
    system.readableFiles.insert(image);
  }
  FakeDownloadUi ui;
  const std::string image = std::string("/app") + LinkSystem::Separator() + "Quillon.bxa";
};

TEST_F(DownloadTest, BoxDownloadRunsTheDialogAndReportsProgress) {
  ASSERT_TRUE(BringUp());
  log.Clear();
  channel.Download().Go(image);
  EXPECT_EQ(ui.runs, 1);
  EXPECT_EQ(s_downloadCalls, 1);
  EXPECT_EQ(s_downloadedPath, image);
  EXPECT_EQ(ui.texts, (std::vector<std::string>{"0/300", "100/300", "200/300", "300/300"}));
  EXPECT_FALSE(channel.Download().IsRunning());
  const std::string text = log.Text();
  EXPECT_EQ(CountLinkLines(text, "DownloadGo QD-KAV-BOX"), 1);
  EXPECT_NE(text.find("\n0/300\n100/300\n200/300\n300/300\nDownloadGo success\n"), std::string::npos) << text;
  // A second download works the same (the dialog and thread were released).
  channel.Download().Go(image);
  EXPECT_EQ(s_downloadCalls, 2);
}

TEST_F(DownloadTest, FailuresArePrintedAndTheDialogCloses) {
  ASSERT_TRUE(BringUp());
  fake.downloadProgram = &FailingDownload;
  channel.Download().Go(image);
  fake.downloadProgram = nullptr;
  channel.Download().Go(image);
  EXPECT_EQ(ui.runs, 2);
  const std::string text = log.Text();
  size_t first = text.find("DownloadGo failed\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(text.find("DownloadGo failed\n", first + 1), std::string::npos);
}

// A missing image is printed and remembered for the window's link text until
// an image is found or the automatic download is switched off.
TEST_F(DownloadTest, MissingImageIsPrintedWithoutDialogAndRemembered) {
  ASSERT_TRUE(BringUp());
  EXPECT_FALSE(channel.Download().IsImageMissing());
  channel.Download().Go("/app/none.bxa");
  EXPECT_EQ(ui.runs, 0);
  EXPECT_EQ(CountLinkLines(log.Text(), "DownloadGo file \"/app/none.bxa\"not exist"), 1);
  EXPECT_TRUE(channel.Download().IsImageMissing());
  EXPECT_TRUE(channel.Download().AutoLoad(1, "/app"));
  EXPECT_FALSE(channel.Download().IsImageMissing()) << "found beside the program";

  system.readableFiles.erase(image);
  EXPECT_TRUE(channel.Download().AutoLoad(1, "/app"));
  EXPECT_TRUE(channel.Download().IsImageMissing());
  EXPECT_EQ(ui.runs, 1);
  EXPECT_FALSE(channel.Download().AutoLoad(0, "/app"));
  EXPECT_FALSE(channel.Download().IsImageMissing()) << "nothing is to be downloaded";
}

TEST_F(DownloadTest, UnusableBoxDownloadsNothingSilently) {
  ASSERT_TRUE(BringUp());
  fake.boxUsable = false;
  channel.Download().Go(image);
  fake.boxUsable = true;
  fake.rawData = false;
  channel.Download().Go(image);
  EXPECT_EQ(ui.runs, 0);
  EXPECT_TRUE(LinkLines(log.Text()).size() == 4u);  // only the bring-up lines
}

// A dialog that cannot be shown returns at once: the download still runs to
// its end and its thread is joined before DownloadGo returns.
TEST_F(DownloadTest, DialogThatCannotBeShownStillEndsTheDownloadCleanly) {
  ASSERT_TRUE(BringUp());
  ui.dialogFails = true;
  channel.Download().Go(image);
  EXPECT_EQ(ui.runs, 1);
  EXPECT_EQ(ui.prepares, 1);
  EXPECT_EQ(s_downloadCalls, 1);
  EXPECT_FALSE(channel.Download().IsRunning());
  EXPECT_NE(log.Text().find("DownloadGo success\n"), std::string::npos);
}

TEST_F(DownloadTest, KmcDownloadStartsTheLoaderTool) {
  fake.dllType = 2;
  fake.listed = {42};
  const std::string sep = LinkSystem::Separator();
  system.startupEnv["KMC_PARTNER_KAVS"] = "/kmc";
  system.libraries["/kmc" + sep + "BIN" + sep + "loadrun_kav.dll"].symbols["LRKAV_id2serialno"] =
      reinterpret_cast<void*>(&SerialOf);
  const std::string tool = "/sdk" + sep + "tools" + sep + "CommandLineTools" + sep + "kav_loadrun32.exe";
  ASSERT_TRUE(BringUp());

  // Without the SDK's variable, or with a relative one, the tool's pattern
  // names no place: nothing is checked or started (a tool planted in a
  // folder "%KAVSDK_ROOT%" of the current one would be).
  const std::string planted = "%KAVSDK_ROOT%" + sep + "tools" + sep + "CommandLineTools" + sep + "kav_loadrun32.exe";
  system.readableFiles.insert(planted);
  system.readableFiles.insert("sdk" + sep + "tools" + sep + "CommandLineTools" + sep + "kav_loadrun32.exe");
  channel.Download().Go(image);
  EXPECT_EQ(CountLinkLines(log.Text(), "DownloadGo loadrun not started: %KAVSDK_ROOT% is not set"), 1) << log.Text();
  system.startupEnv["KAVSDK_ROOT"] = "sdk";
  channel.Download().Go(image);
  EXPECT_EQ(CountLinkLines(log.Text(), "DownloadGo loadrun not started: \"sdk" + sep + "tools" + sep +
                                           "CommandLineTools" + sep + "kav_loadrun32.exe\" is not a full path"),
            1);
  EXPECT_EQ(ui.loaderTool, "");

  system.startupEnv["KAVSDK_ROOT"] = "/sdk";
  channel.Download().Go(image);
  EXPECT_EQ(CountLinkLines(log.Text(), "DownloadGo loadrun \"" + tool + "\"not exist"), 1);
  EXPECT_EQ(ui.loaderTool, "");

  system.readableFiles.insert(tool);
  channel.Download().Go(image);
  EXPECT_EQ(ui.loaderTool, tool);
  EXPECT_EQ(ui.loaderParameters, "\"" + image + "\" -d KMC-42 -c esc -c reset --no-wait");
  EXPECT_EQ(ui.runs, 0);
}

// A loader that cannot be started (today's layout of a broken SDK) is
// logged and shown; the program goes on and the next download works. Without
// a user interface the start goes through the shell and is only logged.
TEST_F(DownloadTest, KmcLoaderThatCannotStartIsReportedAndTheProgramGoesOn) {
  fake.dllType = 2;
  fake.listed = {42};
  const std::string sep = LinkSystem::Separator();
  system.startupEnv["KMC_PARTNER_KAVS"] = "/kmc";
  system.libraries["/kmc" + sep + "BIN" + sep + "loadrun_kav.dll"].symbols["LRKAV_id2serialno"] =
      reinterpret_cast<void*>(&SerialOf);
  system.startupEnv["KAVSDK_ROOT"] = "/nonexistent-sdk";
  const std::string tool = "/nonexistent-sdk" + sep + "tools" + sep + "CommandLineTools" + sep + "kav_loadrun32.exe";
  system.readableFiles.insert(tool);
  ASSERT_TRUE(BringUp());

  ui.loaderCode = 2;
  channel.Download().Go(image);
  EXPECT_EQ(CountLinkLines(log.Text(), "DownloadGo loadrun \"" + tool + "\" failed to start (2)"), 1);
  ASSERT_EQ(ui.failures.size(), 1u);
  EXPECT_EQ(ui.failures[0].tool, tool);
  EXPECT_EQ(ui.failures[0].code, 2);
  EXPECT_EQ(channel.Link().GetStatus(), Status::CONNECTED);

  ui.loaderCode = 0;
  channel.Download().Go(image);
  EXPECT_EQ(ui.failures.size(), 1u);

  // The shell cannot start a tool that is not there: logged, not fatal.
  channel.Download().SetUi(nullptr);
  log.Clear();
  channel.Download().Go(image);
  EXPECT_EQ(CountLinkLines(log.Text(), "DownloadGo loadrun \"" + tool + "\" failed to start (2)"), 1) << log.Text();
  EXPECT_EQ(channel.Link().GetStatus(), Status::CONNECTED);
}

TEST_F(DownloadTest, KmcDownloadNeedsASerial) {
  fake.dllType = 2;
  fake.listed = {42};
  system.startupEnv["KAVSDK_ROOT"] = "/sdk";
  ASSERT_TRUE(BringUp());
  log.Clear();
  channel.Download().Go(image);
  EXPECT_EQ(ui.loaderTool, "");
  EXPECT_TRUE(LinkLines(log.Text()).empty());
}

TEST_F(DownloadTest, AutoLoadOnlyWhenEnabledAndConnected) {
  EXPECT_FALSE(channel.Download().AutoLoad(1, "/app/"));  // disconnected
  ASSERT_TRUE(BringUp());
  EXPECT_FALSE(channel.Download().AutoLoad(0, "/app/"));
  EXPECT_EQ(ui.runs, 0);
  EXPECT_TRUE(channel.Download().AutoLoad(1, "/app"));
  EXPECT_EQ(ui.runs, 1);
  EXPECT_EQ(s_downloadedPath, image);
}

TEST_F(DownloadTest, WithoutUserInterfaceTheBoxDownloadRunsHeadless) {
  ASSERT_TRUE(BringUp());
  channel.Download().SetUi(nullptr);
  channel.Download().Go(image);
  EXPECT_EQ(s_downloadCalls, 1);
  EXPECT_FALSE(channel.Download().IsRunning());
  EXPECT_NE(log.Text().find("DownloadGo success\n"), std::string::npos);
}

}  // namespace
