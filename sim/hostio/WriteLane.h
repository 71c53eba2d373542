// The stand-in library's channel writes, all on one connection of their own
// so that they reach the simulator in the order they were made. The answer
// to a write grants how many of the next writes may go without waiting for
// an answer (none while the device stalls, none past a short write that is
// due) and names the session of the channel they go to, as a library over a
// driver's buffer takes writes. Those go through a ring that the simulator
// shares (a copy into memory, no system call), where the simulator renews
// the grant as it takes them, or, without a ring, one send each. A posted
// write counts as taken whole; when its session ends before it arrives it
// is lost, as in a broken link, and the next answered write fails, so that
// the writer learns of it. The lane knows nothing of what the writes carry.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "../common/SharedRing.h"
#include "../common/SimClient.h"

namespace sim {

class WriteLane {
 public:
  // kind: the library's (KIND_BOX, KIND_KMC).
  explicit WriteLane(uint32_t kind) : m_kind(kind) {}
  WriteLane(const WriteLane&) = delete;
  WriteLane& operator=(const WriteLane&) = delete;

  // One write to channel of debugger id: the bytes taken, or -1.
  int32_t Write(int32_t id, int32_t channel, const void* source, int32_t size);

  // Before the channel closes: grants nothing more, and tells the close how
  // many writes went to which session (8 bytes for the request), so that
  // the simulator takes the posted ones before it closes. The connection
  // ends after what it carries (the next write opens another). A writer
  // blocked in its write is not waited for: its write ends with the channel.
  void Closing(uint8_t* written);

 private:
  // A write that waits for the simulator's answer, which grants the next
  // posts.
  int32_t Answered(const std::string& address, int32_t id, int32_t channel, const void* source, uint32_t length);
  // How many more writes may go without an answer: the ring's grant, which
  // the simulator renews as it takes them, or what the last answer granted.
  uint32_t Credit() const { return m_ring.Valid() ? m_ring.Credit(m_session) : m_posts; }
  // One posted write, through the ring when there is one and it has room,
  // else over the connection (whose next request the simulator takes after
  // what the ring holds).
  bool Post(int32_t id, int32_t channel, const void* source, uint32_t length);
  // Asks the simulator for a ring for this connection's posted writes.
  void StartRing(int32_t id, int32_t channel);
  // The connection ends, and its ring with it.
  void EndConnection();

  const uint32_t m_kind;
  std::mutex m_mutex;  // one write at a time: the connection's order is the writes' order
  Socket m_socket;
  std::string m_address;  // of the connection
  int32_t m_id = 0;       // the debugger and channel written to
  int32_t m_channel = 0;
  uint32_t m_posts = 0;      // writes that may still go without an answer
  uint32_t m_session = 0;    // the channel's session that the writes went to
  uint32_t m_written = 0;    // writes sent to that session (answered or posted)
  bool m_posted = false;     // writes were posted since the last answer
  SharedRing m_ring;         // the connection's posted writes, when the simulator gave one
  bool m_ringAsked = false;  // for this connection
};

}  // namespace sim
