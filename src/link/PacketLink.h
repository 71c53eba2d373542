// The packet link over one serial channel (sio) of the host-I/O library: the
// connection state machine that opens the channel and waits for the device
// program, the packet framing, and the lock that serialises every channel
// operation. Portable over the table of host-I/O entry points.
//
// Threads: the main thread (Update, Read, settings writes) and capture
// workers (audio Write). Every operation holds the lock for its whole run;
// the lock is re-entrant, so an operation that calls another (Write calling
// CloseSio) takes it again on the same thread. The state is read by any
// thread without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "link/HostIo.h"
#include "link/PacketChannel.h"
#include "link/PacketHeader.h"
#include "platform/Mutex.h"

class CKAVHostIO;

// Told when opening or closing the channel failed: the debugger session
// drops a debugger that is no longer listed.
class LinkFailureHandler {
 public:
  virtual ~LinkFailureHandler() = default;
  virtual void OnLinkFailure() = 0;
};

class PacketLink : public PacketChannel {
 public:
  PacketLink() = default;
  PacketLink(const PacketLink&) = delete;
  PacketLink& operator=(const PacketLink&) = delete;

  // The library table (not owned; null: every slot missing) and the channel
  // number. Main thread, with no operation running.
  void Bind(const CKAVHostIO* hostIo, int32_t channel);
  // Told of open and close failures (not owned; may be null).
  void SetFailureHandler(LinkFailureHandler* handler) { m_failureHandler = handler; }

  // The lock every channel operation holds; the debugger session takes it
  // for its own operations so that they never interleave with a packet.
  Mutex& GetLock() const { return m_lock; }

  Status GetStatus() const override { return m_status.load(std::memory_order_relaxed); }
  void SetStatus(Status status) { m_status.store(status, std::memory_order_relaxed); }
  int32_t GetChannel() const { return m_channel; }

  // One step of the state machine (every idle tick): CLOSE opens, OPEN
  // waits for the device program, CLOSE_ERROR closes again; one call can go
  // from CLOSE to CONNECTED.
  void Update();
  bool OpenSio();
  bool WaitSio();
  // Closes the channel (the next Update opens it again). Does nothing while
  // DISCONNECTED.
  void CloseSio();

  // The payload of one complete packet from the device, or null. type and
  // size are NO_PACKET and 0 when nothing was read; a packet without payload
  // gives its type, size 0 and null. Never blocks on data: an incomplete
  // header or payload stays in the library until it is whole.
  std::unique_ptr<uint8_t[]> Read(uint32_t& type, uint32_t& size);
  // Sends the 16-byte header and the payload. False on failure, with the
  // channel closed (it re-opens on the next Update).
  bool Write(uint32_t type, const void* data, int32_t size) override;

 private:
  // The slots, or a table of nulls while unbound.
  const HostIoFunctions& Fn() const;
  void ClearPendingHeader();
  void ReportFailure();

  mutable Mutex m_lock;
  const CKAVHostIO* m_hostIo = nullptr;  // not owned
  LinkFailureHandler* m_failureHandler = nullptr;  // not owned
  int32_t m_channel = 0;
  std::atomic<Status> m_status{Status::DISCONNECTED};
  PacketHeader m_header = {PacketHeader::MAGIC, 0, NO_PACKET, 0};
};
