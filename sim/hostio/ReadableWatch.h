// The stand-in library's count of the bytes that the device holds for the
// PC, kept current by a thread that asks the simulator to answer only when
// the count moves (OP_SIO_WATCH). A caller polling the channel (the program
// does on every tick) then finds "nothing to read" without a round trip to
// the simulator, as a library over a driver's buffer would. Only a zero is
// taken from here: a count or a failure is always asked directly, so a
// count that has just moved is never trusted.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "../common/SimClient.h"

namespace sim {

class ReadableWatch {
 public:
  // kind: the library's (KIND_BOX, KIND_KMC); connectedId: the debugger
  // that the library has connected, read for every watch request; client:
  // the library's connections, which end a watch.
  ReadableWatch(uint32_t kind, const std::atomic<int32_t>& connectedId, SimClient& client);
  ReadableWatch(const ReadableWatch&) = delete;
  ReadableWatch& operator=(const ReadableWatch&) = delete;

  // True when the watch knows the channel holds nothing; starts the watch
  // on its first use.
  bool NothingToRead(int32_t channel);
  // Ends the watch (channel closed, debugger disconnected); the next poll
  // starts it again.
  void Stop();

 private:
  static constexpr int32_t UNKNOWN = -2;

  // Tokens tell this process's watches from another's at the simulator.
  static uint32_t NewToken();
  void Run();

  const uint32_t m_kind;
  const std::atomic<int32_t>& m_connectedId;
  SimClient& m_client;
  std::mutex m_mutex;  // guards starting and stopping
  std::thread m_thread;
  Socket m_socket;  // the watch's own connection; the thread's while it runs
  int32_t m_channel = 0;
  uint32_t m_token = 0;  // of the watch running
  std::atomic<bool> m_stop{false};
  std::atomic<int32_t> m_known{UNKNOWN};
  std::atomic<bool> m_ended{false};  // Run has returned
};

}  // namespace sim
