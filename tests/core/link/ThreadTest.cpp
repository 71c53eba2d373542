// The channel shared by capture workers (audio writes) and the main thread
// (state steps, reads, the caption): packets never interleave, and a worker
// whose write fails heals the channel without racing the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "LinkTestUtil.h"

using Status = PacketChannel::Status;

namespace {

class ThreadTest : public ::testing::Test, public ChannelFixture {
 protected:
  void SetUp() override { UseTestResources(); }

  // The main thread's side: what the idle tick does, until told to stop.
  void MainLoop(std::atomic<bool>& stop) {
    while (!stop.load()) {
      channel.Update();
      if (channel.GetStatus() == Status::CONNECTED) {
        uint32_t type = 0, size = 0;
        channel.Read(type, size);
      }
      EXPECT_FALSE(channel.GetDisplayName().empty());
      std::this_thread::yield();
    }
  }
};

TEST_F(ThreadTest, PacketsFromSeveralWritersNeverInterleave) {
  ASSERT_TRUE(BringUp());
  constexpr int kWriters = 4;
  constexpr int kPackets = 150;
  std::atomic<bool> stop{false};
  std::thread main([&] { MainLoop(stop); });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kPackets; ++i) {
        const std::vector<uint8_t> block(static_cast<size_t>(4 * (16 + w * 7 + i % 5)), static_cast<uint8_t>(w + 1));
        EXPECT_TRUE(channel.Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size())));
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
  ASSERT_TRUE(BringUp());
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
      if (channel.GetStatus() == Status::CONNECTED) {
        channel.Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size()));
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
    for (int i = 0; i < 100 && channel.GetStatus() != Status::DISCONNECTED; ++i) {
      channel.Write(PacketChannel::AUDIO, block.data(), static_cast<int32_t>(block.size()));
      std::this_thread::yield();
    }
  });
  last.join();
  stop.store(true);
  main.join();
  EXPECT_EQ(channel.GetStatus(), Status::DISCONNECTED);
  EXPECT_EQ(channel.GetDisplayName(), "Not connected");
  EXPECT_GE(fake.opens, 2);
}

}  // namespace
