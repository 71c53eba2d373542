// The debugger session: finding and connecting the debugger, its name, and
// looking for one that went away, over the fake library and a fake
// environment.
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

using Status = PacketChannel::Status;

namespace {

class DiscoveryTest : public ::testing::Test, public DeviceLinkFixture {
 protected:
  void SetUp() override { UseTestResources(); }
};

// --- Start-up and the File menu ------------------------------------------------

TEST_F(DiscoveryTest, StartUpWithoutDebuggerIsNotAnError) {
  EXPECT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(deviceLink.Session().GetDebuggerId(), 0u);
  EXPECT_EQ(LinkLines(log.Text()), (std::vector<std::string>{"Find Debugger", "0 devices found"}));
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "");
  EXPECT_FALSE(deviceLink.Session().ConnectFirst(false));
}

TEST_F(DiscoveryTest, WithoutALibraryNothingIsFound) {
  DeviceLink bare(system);
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
  EXPECT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(fake.connectedIds, (std::vector<int32_t>{12345678}));
  EXPECT_EQ(deviceLink.Session().GetSerial(), "1234567-8");
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "1234567-8");
  EXPECT_EQ(LinkLines(log.Text()), (std::vector<std::string>{"Find Debugger", "Connect Debugger"}));
}

TEST_F(DiscoveryTest, ShortAndLargeBoxIds) {
  fake.listed = {42};
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "0000004-2");
  fake.listed = {static_cast<int32_t>(0xFFFFFFFFu)};
  deviceLink.Session().Disconnect();
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "429496729-5");
}

TEST_F(DiscoveryTest, RefusedConnectionIsAnError) {
  fake.listed = {12345678};
  fake.connectResult = -1;
  EXPECT_FALSE(deviceLink.Session().ConnectFirst(true));
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(deviceLink.Session().GetDebuggerId(), 0u);
  EXPECT_EQ(CountLinkLines(log.Text(), "Connect Error"), 1);
}

TEST_F(DiscoveryTest, KmcDebuggerWithoutItsLibraryIsNamedByItsId) {
  fake.dllType = 2;
  fake.listed = {42};
  system.startupEnv["KMC_PARTNER_KAVS"] = "/kmc";
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_EQ(deviceLink.Session().GetSerial(), "");
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "00000042");
  const std::string expected =
      std::string("/kmc") + LinkSystem::Separator() + "BIN" + LinkSystem::Separator() + "loadrun_kav.dll";
  EXPECT_EQ(system.loadAttempts, (std::vector<std::string>{expected}));
  // A failed load is tried again next time.
  deviceLink.Session().UpdateSerial();
  EXPECT_EQ(system.loadAttempts.size(), 2u);
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
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "00000042");
  EXPECT_TRUE(system.loadAttempts.empty());
  EXPECT_EQ(CountLinkLines(log.Text(), "loadrun_kav.dll not loaded: %KMC_PARTNER_KAVS% is not set"), 1) << log.Text();

  system.startupEnv["KMC_PARTNER_KAVS"] = "kmc";
  deviceLink.Session().UpdateSerial();
  EXPECT_TRUE(system.loadAttempts.empty());
  EXPECT_EQ(CountLinkLines(log.Text(), "loadrun_kav.dll not loaded: \"kmc" + sep + "BIN" + sep +
                                           "loadrun_kav.dll\" is not a full path"),
            1);
  EXPECT_EQ(deviceLink.Session().GetSerial(), "");
}

TEST_F(DiscoveryTest, KmcSerialComesFromTheVendorLibraryLoadedOnce) {
  fake.dllType = 2;
  fake.listed = {42};
  system.startupEnv["KMC_PARTNER_KAVS"] = "/kmc";
  const std::string path =
      std::string("/kmc") + LinkSystem::Separator() + "BIN" + LinkSystem::Separator() + "loadrun_kav.dll";
  system.libraries[path].symbols["LRKAV_id2serialno"] = reinterpret_cast<void*>(&SerialOf);
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_EQ(deviceLink.Session().GetSerial(), "KMC-42");
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "KMC-42");
  deviceLink.Session().UpdateSerial();
  EXPECT_EQ(system.loadAttempts.size(), 1u);

  fake.listed = {7};
  bool listedOnly = false;
  ASSERT_TRUE(deviceLink.Session().Reconnect(listedOnly));
  EXPECT_EQ(deviceLink.Session().GetSerial(), "");
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "00000007");

  system.libraries[path].symbols["LRKAV_id2serialno"] = reinterpret_cast<void*>(&OverlongSerial);
  deviceLink.Session().UpdateSerial();
  EXPECT_EQ(deviceLink.Session().GetSerial(), std::string(31, 'x'));

  deviceLink.Shutdown();
  EXPECT_EQ(system.openLibraries, 0);
}

TEST_F(DiscoveryTest, ConnectWithTheSameUsableBoxChangesNothing) {
  ASSERT_TRUE(BringUp());
  const int connects = fake.connects;
  bool listedOnly = true;
  EXPECT_TRUE(deviceLink.Session().Reconnect(listedOnly));
  EXPECT_FALSE(listedOnly);
  EXPECT_EQ(fake.connects, connects);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
}

TEST_F(DiscoveryTest, ConnectWithTheSameUnusableBoxConnectsAgain) {
  ASSERT_TRUE(BringUp());
  fake.boxUsable = false;
  bool listedOnly = true;
  EXPECT_TRUE(deviceLink.Session().Reconnect(listedOnly));
  EXPECT_FALSE(listedOnly);
  EXPECT_EQ(fake.connects, 2);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(fake.closes, 0);  // the channel is not closed first
}

TEST_F(DiscoveryTest, ConnectWithAnotherDebuggerSwitches) {
  ASSERT_TRUE(BringUp());
  fake.listed = {22222222, 12345678};
  bool listedOnly = true;
  EXPECT_TRUE(deviceLink.Session().Reconnect(listedOnly));
  EXPECT_EQ(deviceLink.Session().GetDebuggerId(), 22222222u);
  EXPECT_EQ(deviceLink.Session().GetSerial(), "2222222-2");
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
}

TEST_F(DiscoveryTest, ListedOnlyReconnectKeepsAUsableDebugger) {
  ASSERT_TRUE(BringUp());
  fake.directFindFails = true;
  bool listedOnly = false;
  EXPECT_TRUE(deviceLink.Session().Reconnect(listedOnly));
  EXPECT_TRUE(listedOnly);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  EXPECT_EQ(fake.connects, 1);
  EXPECT_EQ(CountLinkLines(log.Text(), "1 devices found"), 1);
}

TEST_F(DiscoveryTest, ListedOnlyReconnectDropsAnUnusableDebugger) {
  ASSERT_TRUE(BringUp());
  fake.directFindFails = true;
  fake.boxUsable = false;
  bool listedOnly = false;
  EXPECT_FALSE(deviceLink.Session().Reconnect(listedOnly));
  EXPECT_TRUE(listedOnly);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(deviceLink.Session().GetDebuggerId(), 0u);
}

TEST_F(DiscoveryTest, ReconnectWithNothingFoundAndNothingBefore) {
  bool listedOnly = true;
  EXPECT_FALSE(deviceLink.Session().Reconnect(listedOnly));
  EXPECT_FALSE(listedOnly);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
}

TEST_F(DiscoveryTest, ReconnectAfterAFailedConnect) {
  fake.listed = {12345678};
  fake.connectResult = -1;
  bool listedOnly = false;
  EXPECT_FALSE(deviceLink.Session().Reconnect(listedOnly));
  EXPECT_FALSE(listedOnly);
  EXPECT_EQ(CountLinkLines(log.Text(), "Connect Error"), 1);
  fake.connectResult = 0;
  EXPECT_TRUE(deviceLink.Session().Reconnect(listedOnly));
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
}

TEST_F(DiscoveryTest, DisconnectClosesAnOpenChannelAndKeepsTheSerial) {
  ASSERT_TRUE(BringUp());
  log.Clear();
  deviceLink.Session().Disconnect();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(fake.closes, 1);
  EXPECT_EQ(fake.disconnects, 1);
  EXPECT_EQ(deviceLink.Session().GetSerial(), "1234567-8");
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "");
  EXPECT_EQ(LinkLines(log.Text()), (std::vector<std::string>{"Close", "Closed", "Disconnect Debugger"}));
  deviceLink.Session().Disconnect();
  EXPECT_EQ(fake.disconnects, 1);
}

TEST_F(DiscoveryTest, DisconnectFromCloseDoesNotCloseAgainAndReportsFailure) {
  fake.listed = {12345678};
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  fake.disconnectResult = -1;
  deviceLink.Session().Disconnect();
  EXPECT_EQ(fake.closes, 0);
  EXPECT_EQ(CountLinkLines(log.Text(), "Disconnect Error"), 1);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
}

TEST_F(DiscoveryTest, DisconnectIfNotFound) {
  ASSERT_TRUE(BringUp());
  deviceLink.Session().DisconnectIfNotFound();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  EXPECT_EQ(CountLinkLines(log.Text(), "Disconnect Debugger Cancel. Debugger Find"), 1);
  fake.listed = {1, 2, 3};
  deviceLink.Session().DisconnectIfNotFound();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(deviceLink.Session().GetSerial(), "");
  EXPECT_EQ(fake.disconnects, 1);
  deviceLink.Session().DisconnectIfNotFound();  // nothing left to drop
  EXPECT_EQ(fake.disconnects, 1);
}

// --- A debugger that went away without the user asking ---------------------------

// Dropped after a failure, the debugger is awaited: each look lists the
// debuggers and connects it once its own id is back; another debugger in its
// place, or a refused connection, leaves it awaited.
TEST_F(DiscoveryTest, LostDebuggerIsConnectedWhenItsIdIsListedAgain) {
  ASSERT_TRUE(BringUp());
  EXPECT_FALSE(deviceLink.Session().IsAwaitingDebugger());
  fake.listed = {};
  deviceLink.Session().DisconnectIfNotFound();
  ASSERT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_TRUE(deviceLink.Session().IsAwaitingDebugger());
  EXPECT_EQ(CountLinkLines(log.Text(), "Waiting For Debugger 12345678"), 1);

  const int finds = fake.finds;
  EXPECT_FALSE(deviceLink.Session().ConnectLost());  // nothing listed
  EXPECT_EQ(fake.finds, finds + 1);
  fake.listed = {777};
  EXPECT_FALSE(deviceLink.Session().ConnectLost());  // another debugger is not taken
  fake.listed = {777, 12345678};
  fake.connectResult = -1;
  EXPECT_FALSE(deviceLink.Session().ConnectLost());  // refused this time
  EXPECT_TRUE(deviceLink.Session().IsAwaitingDebugger());
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  fake.connectResult = 0;
  EXPECT_TRUE(deviceLink.Session().ConnectLost());
  EXPECT_FALSE(deviceLink.Session().IsAwaitingDebugger());
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(deviceLink.Session().GetDebuggerId(), 12345678u);
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "1234567-8");
  EXPECT_EQ(fake.connectedIds, (std::vector<int32_t>{12345678, 12345678, 12345678}));
  EXPECT_FALSE(deviceLink.Session().ConnectLost());  // connected: nothing to look for
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
}

// File, Disconnect ends the waiting; File, Connect connects as before, and a
// later loss is awaited again. A debugger the user disconnected is not.
TEST_F(DiscoveryTest, DisconnectStopsTheWaitingUntilTheNextLoss) {
  ASSERT_TRUE(BringUp());
  fake.listed = {};
  deviceLink.Session().DisconnectIfNotFound();
  ASSERT_TRUE(deviceLink.Session().IsAwaitingDebugger());
  deviceLink.Session().Disconnect();
  EXPECT_FALSE(deviceLink.Session().IsAwaitingDebugger());
  EXPECT_EQ(CountLinkLines(log.Text(), "Stop Waiting For Debugger"), 1);
  fake.listed = {12345678};
  const int finds = fake.finds;
  EXPECT_FALSE(deviceLink.Session().ConnectLost());
  EXPECT_EQ(fake.finds, finds);  // not even looked for
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);

  bool listedOnly = true;
  ASSERT_TRUE(deviceLink.Session().Reconnect(listedOnly));
  deviceLink.Link().Update();
  ASSERT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  deviceLink.Session().Disconnect();  // the user's own: nothing awaited
  EXPECT_FALSE(deviceLink.Session().IsAwaitingDebugger());
  ASSERT_TRUE(deviceLink.Session().Reconnect(listedOnly));
  fake.listed = {};
  deviceLink.Session().DisconnectIfNotFound();
  EXPECT_TRUE(deviceLink.Session().IsAwaitingDebugger());
  deviceLink.Shutdown();
  EXPECT_FALSE(deviceLink.Session().IsAwaitingDebugger());
}

// The user's Disconnect whose close fails while the debugger is no longer
// listed: the failure drops the debugger, and the Disconnect still leaves
// nothing awaited (it is not connected again when it comes back).
TEST_F(DiscoveryTest, DisconnectWhoseCloseFailsAwaitsNothing) {
  ASSERT_TRUE(BringUp());
  fake.closeResult = -1;
  fake.listed = {};
  deviceLink.Session().Disconnect();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(deviceLink.Session().GetDebuggerId(), 0u);
  EXPECT_FALSE(deviceLink.Session().IsAwaitingDebugger());
  fake.listed = {12345678};
  EXPECT_FALSE(deviceLink.Session().ConnectLost());
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
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
  EXPECT_EQ(link.GetStatus(), Status::CLOSED_PENDING_OPEN);
  session.Shutdown();
}

// The session's host_* calls never interleave with a packet: each is made
// under the link's lock, also when a test or the failure report calls in.
TEST_F(DiscoveryTest, EveryDebuggerCallHoldsTheLinksLock) {
  fake.linkLock = &deviceLink.Link().GetLock();
  fake.listed = {12345678};
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_TRUE(deviceLink.Session().IsDebuggerListed());
  bool listedOnly = false;
  EXPECT_TRUE(deviceLink.Session().Reconnect(listedOnly));
  fake.listed.clear();
  deviceLink.Session().DisconnectIfNotFound();
  fake.listed = {12345678};
  EXPECT_TRUE(deviceLink.Session().ConnectLost());
  deviceLink.Session().Disconnect();
  EXPECT_GE(fake.finds, 5);
  EXPECT_EQ(fake.disconnects, 2);
  EXPECT_EQ(fake.hostCallsWithoutLinkLock, 0);
}

TEST_F(DiscoveryTest, OnlyTheFirstSixteenListedIdsCount) {
  fake.listed = {12345678};
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_TRUE(deviceLink.Session().IsDebuggerListed());
  fake.listed.assign(16, 5);
  fake.listed.push_back(12345678);  // 17th entry: beyond the capacity
  EXPECT_FALSE(deviceLink.Session().IsDebuggerListed());
  fake.listed[15] = 12345678;
  EXPECT_TRUE(deviceLink.Session().IsDebuggerListed());
}

}  // namespace
