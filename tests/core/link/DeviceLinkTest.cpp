// The device link, the owner of the link's parts: binding a library and
// shutting the parts down, over the fake library.
#include <gtest/gtest.h>

#include <memory>

#include "LinkTestUtil.h"
#include "link/KAVHostIO.h"

using Status = PacketChannel::Status;

namespace {

class DeviceLinkTest : public ::testing::Test, public DeviceLinkFixture {};

TEST_F(DeviceLinkTest, ShutdownClosesDisconnectsAndIsIdempotent) {
  ASSERT_TRUE(BringUp());
  EXPECT_TRUE(deviceLink.Session().HasLibrary());
  deviceLink.Shutdown();
  EXPECT_FALSE(deviceLink.Session().HasLibrary());
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(fake.closes, 1);
  EXPECT_EQ(fake.disconnects, 1);
  EXPECT_EQ(deviceLink.GetHostIo(), nullptr);
  deviceLink.Shutdown();
  EXPECT_EQ(fake.disconnects, 1);
  // Operations after the end fail quietly instead of reaching a freed library.
  uint32_t type = 0, size = 0;
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_FALSE(deviceLink.Link().Write(PacketChannel::CONFIG, nullptr, 0));
}

// A log line leads to the file that printed it: each part logs under its own
// class's name.
TEST_F(DeviceLinkTest, EachPartLogsUnderItsOwnName) {
  ASSERT_TRUE(BringUp());
  deviceLink.Download().Go("/no/such/Quillon.bxa");
  system.env = {{"KAV_HOSTIO_DLL_PATH", "relative"}};
  CKAVHostIO searched(system);
  const struct {
    const char* start;
    const char* tag;
  } cases[] = {
      {"Connect Debugger", "DebuggerSession"},
      {"OpenSio", "PacketLink"},
      {"Connected", "PacketLink"},
      {"DownloadGo file", "ProgramDownload"},
      {"kav_hostio32.dll: ", "CKAVHostIO"},
  };
  for (const auto& c : cases) EXPECT_EQ(LinkTagOf(log.Text(), c.start), c.tag) << c.start << "\n" << log.Text();
}

// A library with no entry point the program knows is as good as none: the
// window says that no host-I/O library was found.
TEST(DeviceLinkLibraryTest, NoEntryPointIsNoLibrary) {
  FakeLinkSystem system;
  DeviceLink deviceLink(system);
  EXPECT_FALSE(deviceLink.Session().HasLibrary()) << "before Init";
  deviceLink.Init(0, std::make_unique<CKAVHostIO>(system, HostIoFunctions{}));
  EXPECT_FALSE(deviceLink.Session().HasLibrary());
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
}

}  // namespace
