// The unanswered writes of one stand-in connection that come through a
// shared ring (SharedRing) instead of the connection: a thread of the
// connection's own takes them every few milliseconds, and the connection
// takes those already there before each of its own requests, so that the
// device sees the writes in the order they were made.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../common/SharedRing.h"
#include "Device.h"

namespace sim {

class RingReader {
 public:
  explicit RingReader(Device* device) : m_device(device) {}
  RingReader(const RingReader&) = delete;
  RingReader& operator=(const RingReader&) = delete;
  ~RingReader() { Stop(); }

  // OP_SIO_RING: a new ring; the nonce (> 0) with its Unix path in *out,
  // or -1.
  int32_t Create(std::vector<uint8_t>* out);
  // OP_SIO_RING_READY: 1 once the writer's acknowledgement is seen (the
  // thread then starts), else 0 and the ring is given up.
  int32_t Ready();
  // Takes every write that the ring holds; how many records it took.
  size_t Drain();
  // After an answered write on the connection: its grant (the answer's
  // payload) goes to the ring.
  void Granted(const std::vector<uint8_t>& answer);
  // Ends the thread and takes what is left.
  void Stop();

 private:
  void Run();
  void RemoveFile();
  void GrantFrom(const std::vector<uint8_t>& answer);

  Device* m_device;
  std::mutex m_mutex;  // one taker at a time, in order
  SharedRing m_ring;
  std::string m_path;  // of the ring's file, as this process names it
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  Device::Transfer m_transfer;  // unused by writes; Handle wants one
  uint32_t m_writesTaken = 0;   // from the ring
};

}  // namespace sim
