// The serial channel, the owner of the link's parts: binding a library and
// shutting the parts down, over the fake library.
#include <gtest/gtest.h>

#include <memory>

#include "LinkTestUtil.h"
#include "link/KAVHostIO.h"

using Status = PacketChannel::Status;

namespace {

class SerialChannelTest : public ::testing::Test, public ChannelFixture {};

TEST_F(SerialChannelTest, ShutdownClosesDisconnectsAndIsIdempotent) {
  ASSERT_TRUE(BringUp());
  EXPECT_TRUE(channel.Session().HasLibrary());
  channel.Shutdown();
  EXPECT_FALSE(channel.Session().HasLibrary());
  EXPECT_EQ(channel.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(fake.closes, 1);
  EXPECT_EQ(fake.disconnects, 1);
  EXPECT_EQ(channel.GetHostIo(), nullptr);
  channel.Shutdown();
  EXPECT_EQ(fake.disconnects, 1);
  // Operations after the end fail quietly instead of reaching a freed library.
  uint32_t type = 0, size = 0;
  EXPECT_EQ(channel.Link().Read(type, size), nullptr);
  EXPECT_FALSE(channel.Link().Write(PacketChannel::CONFIG, nullptr, 0));
}

// A log line leads to the file that printed it: each part logs under its own
// class's name.
TEST_F(SerialChannelTest, EachPartLogsUnderItsOwnName) {
  ASSERT_TRUE(BringUp());
  channel.Download().Go("/no/such/Quillon.bxa");
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
TEST(SerialChannelLibraryTest, NoEntryPointIsNoLibrary) {
  FakeLinkSystem system;
  SerialChannel channel(system);
  EXPECT_FALSE(channel.Session().HasLibrary()) << "before Init";
  channel.Init(0, std::make_unique<CKAVHostIO>(system, HostIoFunctions{}));
  EXPECT_FALSE(channel.Session().HasLibrary());
  EXPECT_EQ(channel.Link().GetStatus(), Status::DISCONNECTED);
}

}  // namespace
