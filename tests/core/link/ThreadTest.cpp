// The channel shared by capture workers (audio writes) and the main thread
// (state steps, reads, the caption): packets never interleave, and a worker
// whose write fails heals the channel without racing the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "LinkTestUtil.h"

using Status = PacketChannel::Status;

namespace {

class ThreadTest : public ::testing::Test, public DeviceLinkFixture {
 protected:
  void SetUp() override { UseTestResources(); }

  // The main thread's side: what the idle tick does, until told to stop;
  // every new attach gets its settings record.
  void MainLoop(std::atomic<bool>& stop) {
    const std::vector<uint8_t> record = Bytes(280);
    while (!stop.load()) {
      const uint32_t attaches = deviceLink.Link().GetConnectionCount();
      deviceLink.Link().Update();
      if (deviceLink.Link().GetConnectionCount() != attaches && deviceLink.Link().GetStatus() == Status::CONNECTED) {
        deviceLink.Link().Write(PacketChannel::CONFIG, record.data(), static_cast<int32_t>(record.size()));
      }
      if (deviceLink.Link().GetStatus() == Status::CONNECTED) {
        uint32_t type = 0, size = 0;
        deviceLink.Link().Read(type, size);
      }
      // A box's name ("nnnnnnn-n"), or none while a failed write has the
      // box dropped.
      const std::string name = deviceLink.Session().GetDisplayName();
      EXPECT_TRUE(name.empty() || name.size() == 9) << name;
      std::this_thread::yield();
    }
  }
};

TEST_F(ThreadTest, PacketsFromSeveralWritersNeverInterleave) {
  ASSERT_TRUE(BringUpStreaming());
  constexpr int kWriters = 4;
  constexpr int kPackets = 150;
  std::atomic<bool> stop{false};
  std::thread main([&] { MainLoop(stop); });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kPackets; ++i) {
        const std::vector<uint8_t> block(static_cast<size_t>(4 * (16 + w * 7 + i % 5)), static_cast<uint8_t>(w + 1));
        EXPECT_TRUE(deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size())));
      }
    });
  }
  for (auto& t : writers) t.join();
  stop.store(true);
  main.join();

  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> packets;
  ASSERT_TRUE(fake.ParseWritten(&packets));
  ASSERT_EQ(packets.size(), static_cast<size_t>(kWriters * kPackets));
  int perWriter[kWriters] = {};
  for (const auto& p : packets) {
    ASSERT_EQ(p.first, 1u);
    ASSERT_FALSE(p.second.empty());
    const uint8_t w = p.second[0];
    ASSERT_GE(w, 1);
    ASSERT_LE(w, kWriters);
    for (uint8_t b : p.second) ASSERT_EQ(b, w);
    ++perWriter[w - 1];
  }
  for (int n : perWriter) EXPECT_EQ(n, kPackets);
}

TEST_F(ThreadTest, FailingWritesOnAWorkerHealWhileTheMainThreadSteps) {
  ASSERT_TRUE(BringUpStreaming());
  {
    std::lock_guard<std::mutex> lock(fake.lock);
    for (int i = 0; i < 20; ++i) fake.writeResults.push_back(i % 4 == 3 ? 2 : 16);
  }
  std::atomic<bool> stop{false};
  std::thread main([&] { MainLoop(stop); });
  std::thread worker([&] {
    // Writes until every scripted failure was taken and the channel was
    // re-opened at least once (bounded, so that a stuck channel fails below).
    const std::vector<uint8_t> block(64, 9);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int i = 0; std::chrono::steady_clock::now() < deadline; ++i) {
      if (i >= 300) {
        std::lock_guard<std::mutex> lock(fake.lock);
        if (fake.writeResults.empty() && fake.opens >= 2) break;
      }
      if (deviceLink.Link().GetStatus() == Status::CONNECTED) {
        deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size()));
      }
      std::this_thread::yield();
    }
  });
  worker.join();
  // The debugger goes away while the worker writes: the worker drops it.
  {
    std::lock_guard<std::mutex> lock(fake.lock);
    fake.listed.clear();
    fake.closeResult = -1;
    fake.writeResults.push_back(0);
  }
  std::thread last([&] {
    const std::vector<uint8_t> block(64, 9);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (deviceLink.Link().GetStatus() != Status::DISCONNECTED && std::chrono::steady_clock::now() < deadline) {
      if (deviceLink.Link().GetStatus() == Status::CONNECTED) {
        deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size()));
      }
      std::this_thread::yield();
    }
  });
  last.join();
  stop.store(true);
  main.join();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(deviceLink.Session().GetDisplayName(), "");
  EXPECT_GE(fake.opens, 2);
}

// --- A device that stops reading ---------------------------------------------------

using Packets = std::vector<std::pair<uint32_t, std::vector<uint8_t>>>;

// Milliseconds the call took.
template <typename F>
double Timed(F&& call) {
  const auto start = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The idle tick's link operations while a worker is blocked in sio_write:
// none waits for it or calls the library, and a settings record posted
// meanwhile goes out before the worker's next block.
TEST_F(ThreadTest, MainThreadNeverWaitsBehindAWriteTheDeviceHoldsUp) {
  ASSERT_TRUE(BringUpStreaming());
  const std::vector<uint8_t> block(64, 9), next(32, 5), record = Bytes(280, 40);
  fake.BlockWrites();
  std::thread worker([&] { EXPECT_TRUE(deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), 64)); });
  ASSERT_TRUE(fake.WaitForBlockedWrite());
  clock.ms += 600;  // blocked so long, within the deadline
  EXPECT_TRUE(deviceLink.Link().IsWriteInProgress());
  EXPECT_FALSE(deviceLink.Link().IsWriteStuck());
  int opens = 0, waits = 0, reads = 0;
  {
    std::lock_guard<std::mutex> lock(fake.lock);
    opens = fake.opens, waits = fake.waits, reads = fake.reads;
  }

  uint32_t type = 0, size = 0;
  const double update = Timed([&] { deviceLink.Link().Update(); });
  const double read = Timed([&] { EXPECT_EQ(deviceLink.Link().Read(type, size), nullptr); });
  const double post = Timed([&] { EXPECT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, record.data(), 280)); });
  printf("main thread during the stall: Update %.3f ms, Read %.3f ms, settings post %.3f ms\n", update, read, post);
  // Generous bounds: the calls take microseconds, a machine under load
  // must not fail them; waiting for the worker would take forever here.
  const double bound = 200.0 * TimeScale();
  EXPECT_LT(update, bound);
  EXPECT_LT(read, bound);
  EXPECT_LT(post, bound);
  EXPECT_EQ(type, PacketChannel::NO_PACKET);
  EXPECT_TRUE(deviceLink.Link().HasPostedConfig());
  {
    std::lock_guard<std::mutex> lock(fake.lock);
    EXPECT_EQ(fake.opens, opens);
    EXPECT_EQ(fake.waits, waits);
    EXPECT_EQ(fake.reads, reads);
    EXPECT_TRUE(fake.writeSizes.empty()) << "the worker's header is still inside the library";
  }

  fake.ReleaseWrites();
  worker.join();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  ASSERT_TRUE(deviceLink.Link().Write(PacketChannel::AUDIO, next.data(), 32));
  Packets packets;
  ASSERT_TRUE(fake.ParseWritten(&packets));
  EXPECT_EQ(packets,
            (Packets{{PacketChannel::AUDIO, block}, {PacketChannel::CONFIG, record}, {PacketChannel::AUDIO, next}}));
  EXPECT_FALSE(deviceLink.Link().HasPostedConfig());
  EXPECT_EQ(deviceLink.Link().GetDroppedAudioBlocks(), 0u);
}

// The reset button during a stall: the close is left to the writer.
TEST_F(ThreadTest, CloseDuringABlockedWriteIsDoneByTheWriter) {
  ASSERT_TRUE(BringUpStreaming());
  const std::vector<uint8_t> block(64, 9);
  fake.BlockWrites();
  std::thread worker(
      [&] { EXPECT_TRUE(deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), 64)) << "it went out"; });
  ASSERT_TRUE(fake.WaitForBlockedWrite());
  EXPECT_LT(Timed([&] { deviceLink.Link().RequestClose(); }), 200.0 * TimeScale());
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  fake.ReleaseWrites();
  worker.join();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  EXPECT_EQ(fake.closes, 1);
  deviceLink.Link().Update();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  EXPECT_EQ(fake.closes, 1) << "closed once";
}

// A write blocked past the deadline is a fault once it returns: the channel
// opens again, a record posted for the old connection is not sent, and the
// worker's audio waits (dropped, counted) for the new connection's record.
// Shutdown meanwhile gives up rather than free the library under the writer.
TEST_F(ThreadTest, WriteBlockedPastTheDeadlineReopensAndAudioWaitsForTheNewRecord) {
  ASSERT_TRUE(BringUpStreaming());
  const std::vector<uint8_t> block(64, 9), stale = Bytes(280, 20), fresh = Bytes(280, 77);
  fake.BlockWrites();
  std::thread worker([&] { EXPECT_FALSE(deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), 64)); });
  ASSERT_TRUE(fake.WaitForBlockedWrite());
  clock.ms += 2000;
  EXPECT_TRUE(deviceLink.Link().IsWriteStuck());
  EXPECT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, stale.data(), 280));
  bool shutdown = true;
  EXPECT_LT(Timed([&] { shutdown = deviceLink.Shutdown(); }), 200.0 * TimeScale());
  EXPECT_FALSE(shutdown);
  EXPECT_NE(deviceLink.GetHostIo(), nullptr);
  EXPECT_EQ(CountLinkLines(log.Text(), "Shutdown skipped: a write has been blocked for 2000 ms"), 1);

  fake.ReleaseWrites();
  worker.join();
  EXPECT_EQ(CountLinkLines(log.Text(), "WriteSio blocked 2000 ms"), 1);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CLOSED_PENDING_OPEN);
  {
    std::lock_guard<std::mutex> lock(fake.lock);
    fake.written.clear();
  }

  const uint32_t attaches = deviceLink.Link().GetConnectionCount();
  deviceLink.Link().Update();
  ASSERT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
  EXPECT_EQ(deviceLink.Link().GetConnectionCount(), attaches + 1);
  EXPECT_FALSE(deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), 64));
  EXPECT_FALSE(deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), 64));
  EXPECT_EQ(deviceLink.Link().GetDroppedAudioBlocks(), 2u);
  EXPECT_EQ(CountLinkLines(log.Text(), "Audio before the settings record dropped"), 1);
  EXPECT_TRUE(fake.written.empty()) << "neither the stale record nor audio";

  EXPECT_TRUE(deviceLink.Link().Write(PacketChannel::CONFIG, fresh.data(), 280));
  EXPECT_TRUE(deviceLink.Link().Write(PacketChannel::AUDIO, block.data(), 64));
  Packets packets;
  ASSERT_TRUE(fake.ParseWritten(&packets));
  EXPECT_EQ(packets, (Packets{{PacketChannel::CONFIG, fresh}, {PacketChannel::AUDIO, block}}));
  EXPECT_EQ(deviceLink.Link().GetDroppedAudioBlocks(), 2u);
  EXPECT_TRUE(deviceLink.Shutdown());
}

}  // namespace
