// The packet link's state machine and packet framing over the fake library.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "LinkTestUtil.h"
#include "link/KAVHostIO.h"
#include "link/LinkStates.h"

using Status = PacketChannel::Status;

namespace {

class PacketLinkTest : public ::testing::Test, public DeviceLinkFixture {};

// --- The state table -------------------------------------------------------------

// Every transition from every state: an allowed one moves to its state, any
// other is refused, logged, and leaves the state as it was.
TEST(LinkStatesTest, EveryTransitionFromEveryState) {
  using T = LinkStates::Transition;
  constexpr Status NO = static_cast<Status>(-1);  // refused
  constexpr Status DIS = Status::DISCONNECTED;
  constexpr Status CPO = Status::CLOSED_PENDING_OPEN;
  constexpr Status ERR = Status::CLOSE_ERROR;
  constexpr Status OPN = Status::OPEN;
  constexpr Status CON = Status::CONNECTED;
  const struct {
    Status state;
    const char* name;
    std::vector<T> path;  // from a fresh table (DISCONNECTED)
  } states[] = {
      {DIS, "DISCONNECTED", {}},
      {CPO, "CLOSED_PENDING_OPEN", {T::DebuggerConnected}},
      {ERR, "CLOSE_ERROR", {T::DebuggerConnected, T::CloseFailed}},
      {OPN, "OPEN", {T::DebuggerConnected, T::ChannelOpened}},
      {CON, "CONNECTED", {T::DebuggerConnected, T::ChannelOpened, T::ProgramAttached}},
  };
  const struct {
    T transition;
    const char* name;
    Status to[5];  // from DIS, CPO, ERR, OPN, CON (the order of states[])
  } rows[] = {
      {T::DebuggerConnected, "DebuggerConnected", {CPO, CPO, CPO, CPO, CPO}},
      {T::ChannelOpened, "ChannelOpened", {NO, OPN, NO, NO, NO}},
      {T::ProgramAttached, "ProgramAttached", {NO, NO, NO, CON, NO}},
      {T::ChannelClosing, "ChannelClosing", {NO, CPO, CPO, CPO, CPO}},
      {T::CloseFailed, "CloseFailed", {NO, ERR, NO, NO, NO}},
      {T::DebuggerLost, "DebuggerLost", {NO, DIS, DIS, DIS, DIS}},
      {T::Disconnected, "Disconnected", {DIS, DIS, DIS, DIS, DIS}},
  };
  for (const auto& row : rows) {
    for (size_t i = 0; i < 5; ++i) {
      const auto& from = states[i];
      SCOPED_TRACE(std::string(row.name) + " from " + from.name);
      LinkStates table;
      for (T step : from.path) ASSERT_TRUE(table.Apply(step));
      ASSERT_EQ(table.Get(), from.state);
      LogCapture log;
      const bool allowed = row.to[i] != NO;
      EXPECT_EQ(table.Apply(row.transition), allowed);
      EXPECT_EQ(table.Get(), allowed ? row.to[i] : from.state);
      const std::vector<std::string> refusal = {std::string(row.name) + " refused in " + from.name};
      EXPECT_EQ(LinkLines(log.Text()), allowed ? std::vector<std::string>{} : refusal);
      if (!allowed) {
        EXPECT_EQ(LinkTagOf(log.Text(), row.name), "LinkStates");
      }
    }
  }
}

// The transitions the session and the owner ask the link for by name go
// through the same table.
TEST(LinkStatesTest, TheLinksNamedTransitionsFollowTheTable) {
  LogCapture log;
  PacketLink link;
  EXPECT_FALSE(link.DebuggerLost());
  EXPECT_EQ(link.GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(LinkLines(log.Text()), (std::vector<std::string>{"DebuggerLost refused in DISCONNECTED"}));
  EXPECT_TRUE(link.DebuggerConnected());
  EXPECT_EQ(link.GetStatus(), Status::CLOSED_PENDING_OPEN);
  EXPECT_TRUE(link.DebuggerLost());
  EXPECT_EQ(link.GetStatus(), Status::DISCONNECTED);
  EXPECT_TRUE(link.DebuggerConnected());
  EXPECT_TRUE(link.Disconnected());
  EXPECT_EQ(link.GetStatus(), Status::DISCONNECTED);
  EXPECT_TRUE(link.Disconnected());
  EXPECT_EQ(LinkLines(log.Text()).size(), 1u);
}

TEST_F(PacketLinkTest, FreshChannelIsDisconnectedAndUpdateDoesNothing) {
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(fake.opens, 0);
  EXPECT_EQ(fake.waits, 0);
  EXPECT_EQ(deviceLink.Link().GetChannel(), 0);
}

TEST_F(PacketLinkTest, OneUpdateGoesFromCloseToConnected) {
  fake.listed = {12345678};
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  log.Clear();
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  EXPECT_EQ(fake.opens, 1);
  EXPECT_EQ(fake.waits, 1);
  EXPECT_EQ(LinkLines(log.Text()), (std::vector<std::string>{"OpenSio", "Connected"}));
}

TEST_F(PacketLinkTest, WaitsForTheDeviceProgramOverSeveralUpdates) {
  fake.listed = {12345678};
  fake.waitResults = {0, 0};
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::OPEN);
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::OPEN);
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  EXPECT_EQ(fake.opens, 1);
  EXPECT_EQ(fake.waits, 3);
}

TEST_F(PacketLinkTest, WaitFailureClosesAndTheNextUpdateOpensAgain) {
  fake.listed = {12345678};
  fake.waitResults = {-3};
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(CountLinkLines(log.Text(), "WaitSio Error"), 1);
  EXPECT_EQ(CountLinkLines(log.Text(), "Closed"), 1);
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  EXPECT_EQ(fake.opens, 2);
}

TEST_F(PacketLinkTest, OpenFailureKeepsCloseWhileTheDebuggerIsListed) {
  fake.listed = {12345678};
  fake.openResult = -1;
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  const std::string text = log.Text();
  EXPECT_EQ(CountLinkLines(text, "Open Error"), 1);
  EXPECT_EQ(CountLinkLines(text, "Disconnect Debugger If Not Found"), 1);
  EXPECT_EQ(CountLinkLines(text, "Disconnect Debugger Cancel. Debugger Find"), 1);
  fake.openResult = 0;
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
}

TEST_F(PacketLinkTest, OpenFailureDropsADebuggerThatIsNoLongerListed) {
  fake.listed = {12345678};
  ASSERT_TRUE(deviceLink.Session().ConnectFirst(true));
  fake.listed.clear();
  fake.openResult = -1;
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(deviceLink.Session().GetDebuggerId(), 0u);
  EXPECT_EQ(deviceLink.Session().GetSerial(), "");
  EXPECT_EQ(fake.disconnects, 1);
  EXPECT_EQ(CountLinkLines(log.Text(), "Disconnect Debugger"), 1);
}

TEST_F(PacketLinkTest, MissingSlotsOpenAndCloseCountAsSuccessWaitKeepsOpen) {
  HostIoFunctions table = fake.Table();
  table.sio_open = nullptr;
  table.sio_close = nullptr;
  table.sio_wait = nullptr;
  DeviceLink bare(system);
  bare.Init(0, fake.MakeHostIo(system, table));
  fake.listed = {12345678};
  ASSERT_TRUE(bare.Session().ConnectFirst(true));
  bare.Link().Update();
  EXPECT_EQ(bare.Link().GetStatus(), Status::OPEN);
  bare.Link().RequestClose();
  EXPECT_EQ(bare.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(CountLinkLines(log.Text(), "Closed"), 1);
}

TEST_F(PacketLinkTest, CloseFailureRetriesFromCloseErrorOnUpdate) {
  ASSERT_TRUE(BringUp());
  fake.closeResult = -1;
  deviceLink.Link().RequestClose();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSE_ERROR);
  EXPECT_EQ(CountLinkLines(log.Text(), "CloseSio Error"), 1);
  deviceLink.Link().Update();  // closes again, fails again
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSE_ERROR);
  fake.closeResult = 0;
  deviceLink.Link().Update();  // the close works; the next Update opens
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
}

TEST_F(PacketLinkTest, CloseFailureWithTheDebuggerGoneDisconnects) {
  ASSERT_TRUE(BringUp());
  fake.closeResult = -1;
  fake.listed.clear();
  deviceLink.Link().RequestClose();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  deviceLink.Link().RequestClose();  // nothing to do while disconnected
  EXPECT_EQ(fake.closes, 1);
}

// --- Write ---------------------------------------------------------------------

TEST_F(PacketLinkTest, WriteSendsHeaderAndPayload) {
  ASSERT_TRUE(BringUp());
  const std::vector<uint8_t> payload = Bytes(280);
  ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, payload.data(), 280));
  ASSERT_EQ(fake.written.size(), 16u + 280u);
  const uint8_t header[16] = {0x50, 0x53, 0x44, 0x51, 0, 0, 0, 0, 0, 0, 0, 0, 0x18, 0x01, 0, 0};
  EXPECT_EQ(memcmp(fake.written.data(), header, 16), 0);
  EXPECT_EQ(memcmp(fake.written.data() + 16, payload.data(), 280), 0);
  EXPECT_EQ(fake.writeSizes, (std::vector<int32_t>{16, 280}));

  fake.written.clear();
  const std::vector<uint8_t> audio = Bytes(4 * 100);
  ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::AUDIO, audio.data(), 400));
  EXPECT_EQ(fake.written[8], 1);
  EXPECT_EQ(fake.written[12], 400 & 0xFF);
  EXPECT_EQ(fake.written[13], 400 >> 8);
}

TEST_F(PacketLinkTest, ZeroSizeWriteSendsOnlyTheHeader) {
  ASSERT_TRUE(BringUp());
  ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, nullptr, 0));
  EXPECT_EQ(fake.written.size(), 16u);
  EXPECT_EQ(fake.writeSizes, (std::vector<int32_t>{16}));
}

TEST_F(PacketLinkTest, ShortHeaderWriteClosesTheChannel) {
  ASSERT_TRUE(BringUpStreaming());
  fake.writeResults = {5};
  const std::vector<uint8_t> payload = Bytes(8);
  EXPECT_FALSE(deviceLink.Link().Write(PacketChannel::AUDIO, payload.data(), 8));
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(CountLinkLines(log.Text(), "WriteSio Error, 5 < 16"), 1);
  EXPECT_EQ(fake.writeSizes.size(), 1u);  // the payload is not attempted
}

TEST_F(PacketLinkTest, ShortPayloadWriteEndsInCloseCloseErrorOrDisconnected) {
  const std::vector<uint8_t> payload = Bytes(8);
  ASSERT_TRUE(BringUpStreaming());
  fake.writeResults = {16, 3};
  EXPECT_FALSE(deviceLink.Link().Write(PacketChannel::AUDIO, payload.data(), 8));
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(CountLinkLines(log.Text(), "WriteSio Error 3 < 8"), 1);

  deviceLink.Link().Update();
  ASSERT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  ASSERT_TRUE(SendRecord());
  fake.writeResults = {16, -1};
  fake.closeResult = -1;
  EXPECT_FALSE(deviceLink.Link().Write(PacketChannel::AUDIO, payload.data(), 8));
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSE_ERROR);

  fake.closeResult = 0;
  deviceLink.Link().Update();
  deviceLink.Link().Update();
  ASSERT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  ASSERT_TRUE(SendRecord());
  fake.writeResults = {16, 7};
  fake.closeResult = -1;
  fake.listed.clear();
  EXPECT_FALSE(deviceLink.Link().Write(PacketChannel::AUDIO, payload.data(), 8));
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
}

TEST_F(PacketLinkTest, WriteWithoutTheSlotFailsWithMinusOne) {
  HostIoFunctions table = fake.Table();
  table.sio_write = nullptr;
  DeviceLink bare(system);
  bare.Init(0, fake.MakeHostIo(system, table));
  fake.listed = {12345678};
  ASSERT_TRUE(bare.Session().ConnectFirst(true));
  bare.Link().Update();
  EXPECT_FALSE(bare.Link().Write(PacketChannel::CONFIG, nullptr, 0));
  EXPECT_EQ(CountLinkLines(log.Text(), "WriteSio Error, -1 < 16"), 1);
  EXPECT_EQ(bare.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
}

TEST_F(PacketLinkTest, NegativeSizeIsRefusedWithoutTouchingTheWire) {
  ASSERT_TRUE(BringUp());
  const uint8_t byte = 0;
  EXPECT_FALSE(deviceLink.Link().Write(PacketChannel::AUDIO, &byte, -4));
  EXPECT_FALSE(deviceLink.Link().Write(PacketChannel::AUDIO, nullptr, 4));
  EXPECT_TRUE(fake.written.empty());
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
}

// --- Read ----------------------------------------------------------------------

TEST_F(PacketLinkTest, ReadsAWholeSettingsPacket) {
  ASSERT_TRUE(BringUp());
  const std::vector<uint8_t> payload = Bytes(280, 7);
  fake.PushPacket(PacketChannel::CONFIG, payload);
  uint32_t type = 99, size = 99;
  std::unique_ptr<uint8_t[]> data = deviceLink.Link().Read(type, size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(type, 0u);
  EXPECT_EQ(size, 280u);
  EXPECT_EQ(memcmp(data.get(), payload.data(), 280), 0);
  EXPECT_EQ(fake.PendingBytes(), 0u);

  data = deviceLink.Link().Read(type, size);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(type, PacketChannel::NO_PACKET);
  EXPECT_EQ(size, 0u);
}

TEST_F(PacketLinkTest, FewerThanSixteenReadableBytesConsumeNothing) {
  ASSERT_TRUE(BringUp());
  fake.PushPacket(PacketChannel::CONFIG, Bytes(280));
  fake.readableLimit = 15;
  uint32_t type = 0, size = 0;
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_EQ(type, PacketChannel::NO_PACKET);
  EXPECT_EQ(fake.reads, 0);
  EXPECT_EQ(fake.PendingBytes(), 296u);
}

TEST_F(PacketLinkTest, IncompletePayloadIsReturnedWholeLaterWithoutReadingTheHeaderAgain) {
  ASSERT_TRUE(BringUp());
  const std::vector<uint8_t> payload = Bytes(280, 3);
  fake.PushPacket(PacketChannel::CONFIG, payload);
  fake.readableLimit = 100;
  uint32_t type = 0, size = 0;
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_EQ(type, PacketChannel::NO_PACKET);
  EXPECT_EQ(fake.reads, 1);  // the header only
  EXPECT_EQ(fake.PendingBytes(), 280u);
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_EQ(fake.reads, 1);

  fake.readableLimit = -1;
  std::unique_ptr<uint8_t[]> data = deviceLink.Link().Read(type, size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(fake.reads, 2);
  EXPECT_EQ(type, 0u);
  EXPECT_EQ(size, 280u);
  EXPECT_EQ(memcmp(data.get(), payload.data(), 280), 0);
}

// A payload that is still incomplete 2 s after its header (a corrupt size, a
// device that stopped half-way) is a fault: the channel closes and opens
// again. One that completes within the time is read as usual.
TEST_F(PacketLinkTest, APayloadNotCompleteWithinTwoSecondsClosesTheChannel) {
  ASSERT_TRUE(BringUp());
  fake.PushPacket(PacketChannel::CONFIG, Bytes(280, 7));
  fake.readableLimit = 100;
  uint32_t type = 0, size = 0;
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  clock.ms += PacketLink::PAYLOAD_DEADLINE_MS;
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED) << "the deadline itself is still in time";
  fake.readableLimit = -1;
  ASSERT_NE(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_EQ(size, 280u);

  fake.PushPacket(PacketChannel::AUDIO, Bytes(4000));
  fake.readableLimit = 1000;
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  clock.ms += PacketLink::PAYLOAD_DEADLINE_MS + 1;
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_EQ(type, PacketChannel::NO_PACKET);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(CountLinkLines(log.Text(), "ReadSio Error, payload of 4000 bytes not complete after 2001 ms (1000 there)"),
            1)
      << log.Text();
  // The next attach starts afresh, without the old header.
  fake.readableLimit = -1;
  fake.ClearIncoming();
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  fake.PushPacket(PacketChannel::CONFIG, Bytes(280, 9));
  std::unique_ptr<uint8_t[]> data = deviceLink.Link().Read(type, size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data[0], 9);
}

TEST_F(PacketLinkTest, ZeroSizeAudioPacketGivesTypeAndNoBuffer) {
  ASSERT_TRUE(BringUp());
  fake.PushHeader(PacketHeader::MAGIC, 0, PacketChannel::AUDIO, 0);
  fake.PushPacket(PacketChannel::AUDIO, Bytes(8));
  uint32_t type = 99, size = 99;
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(size, 0u);
  // The next packet follows normally.
  std::unique_ptr<uint8_t[]> data = deviceLink.Link().Read(type, size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(size, 8u);
}

struct WrongHeader {
  const char* name;
  uint32_t magic;
  uint32_t reserved;
  uint32_t type;
  int32_t size;
};

class WrongHeaderTest : public ::testing::TestWithParam<WrongHeader>, public DeviceLinkFixture {};

TEST_P(WrongHeaderTest, ClosesAndTheDeviceProgramMustAttachAgain) {
  ASSERT_TRUE(BringUp());
  const WrongHeader& h = GetParam();
  fake.PushHeader(h.magic, h.reserved, h.type, h.size);
  fake.PushBytes(Bytes(64).data(), 64);
  uint32_t type = 0, size = 0;
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_EQ(type, PacketChannel::NO_PACKET);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(CountLinkLines(log.Text(), "Wrong header"), 1);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(fake.closes, 1);

  fake.waitResults = {0};
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::OPEN);
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  EXPECT_EQ(fake.opens, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, WrongHeaderTest,
    ::testing::Values(WrongHeader{"Magic", 0x51445351u, 0, 0, 280},
                      WrongHeader{"Reserved", PacketHeader::MAGIC, 1, 0, 280},
                      WrongHeader{"Type2", PacketHeader::MAGIC, 0, 2, 280},
                      WrongHeader{"TypeNoPacket", PacketHeader::MAGIC, 0, PacketChannel::NO_PACKET, 0},
                      WrongHeader{"NegativeSize", PacketHeader::MAGIC, 0, 1, -1},
                      WrongHeader{"AudioPastItsBound", PacketHeader::MAGIC, 0, 1, PacketHeader::AUDIO_PAYLOAD_MAX + 1},
                      WrongHeader{"MaxSize", PacketHeader::MAGIC, 0, 1, 0x7FFFFFFF},
                      // A settings record is exactly 280 bytes.
                      WrongHeader{"EmptySettings", PacketHeader::MAGIC, 0, 0, 0},
                      WrongHeader{"ShortSettings", PacketHeader::MAGIC, 0, 0, 279},
                      WrongHeader{"LongSettings", PacketHeader::MAGIC, 0, 0, 281},
                      WrongHeader{"HugeSettings", PacketHeader::MAGIC, 0, 0, 1 << 20}),
    [](const ::testing::TestParamInfo<WrongHeader>& info) { return std::string(info.param.name); });

TEST_F(PacketLinkTest, PayloadUpToTheBoundIsAccepted) {
  ASSERT_TRUE(BringUp());
  fake.PushPacket(PacketChannel::AUDIO, std::vector<uint8_t>(PacketHeader::AUDIO_PAYLOAD_MAX, 0x5A));
  uint32_t type = 0, size = 0;
  std::unique_ptr<uint8_t[]> data = deviceLink.Link().Read(type, size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(size, static_cast<uint32_t>(PacketHeader::AUDIO_PAYLOAD_MAX));
  EXPECT_EQ(data[PacketHeader::AUDIO_PAYLOAD_MAX - 1], 0x5A);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
}

TEST_F(PacketLinkTest, LibraryFailuresWhileReadingClose) {
  uint32_t type = 0, size = 0;
  ASSERT_TRUE(BringUp());
  fake.readableError = -5;
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_EQ(CountLinkLines(log.Text(), "GetReadableBytesSio Error, -5"), 1);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  fake.readableError = 0;

  deviceLink.Link().Update();
  fake.PushPacket(PacketChannel::CONFIG, Bytes(280));
  fake.readResults = {-2};
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_EQ(CountLinkLines(log.Text(), "ReadSio Error, -2"), 1);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);

  deviceLink.Link().Update();
  fake.PushPacket(PacketChannel::CONFIG, Bytes(280));
  fake.readResults = {10};
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_EQ(CountLinkLines(log.Text(), "ReadSio Error, 10 < 16"), 1);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);

  // The payload read falls short.
  deviceLink.Link().Update();
  fake.PushPacket(PacketChannel::CONFIG, Bytes(280));
  fake.readResults = {16, 200};
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);
  EXPECT_EQ(CountLinkLines(log.Text(), "ReadSio Error, 200 < 280"), 1);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(type, PacketChannel::NO_PACKET);
}

TEST_F(PacketLinkTest, ReopeningForgetsAPendingHeader) {
  ASSERT_TRUE(BringUp());
  fake.PushHeader(PacketHeader::MAGIC, 0, PacketChannel::CONFIG, 280);
  uint32_t type = 0, size = 0;
  EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr);  // header pending, payload missing
  deviceLink.Link().RequestClose();
  deviceLink.Link().Update();
  ASSERT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  fake.PushPacket(PacketChannel::AUDIO, Bytes(4));
  std::unique_ptr<uint8_t[]> data = deviceLink.Link().Read(type, size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(size, 4u);
}

TEST(PacketHeaderTest, RoundTripsAndDecodesNegativeSizes) {
  uint8_t bytes[16];
  PacketHeader{PacketHeader::MAGIC, 0, 1, -2}.Encode(bytes);
  EXPECT_EQ(bytes[0], 0x50);
  EXPECT_EQ(bytes[3], 0x51);
  PacketHeader h = PacketHeader::Decode(bytes);
  EXPECT_EQ(h.magic, PacketHeader::MAGIC);
  EXPECT_EQ(h.type, 1u);
  EXPECT_EQ(h.size, -2);
  PacketHeader{0, 0, 0, INT32_MIN}.Encode(bytes);
  EXPECT_EQ(PacketHeader::Decode(bytes).size, INT32_MIN);
}

}  // namespace
