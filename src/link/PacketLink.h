// The packet link over one serial channel (sio) of the host-I/O library: the
// connection state machine that opens the channel and waits for the device
// program, the packet framing, and the lock that serialises every channel
// operation. Portable over the table of host-I/O entry points.
//
// Threads: the main thread (Update, Read, settings records) and capture
// workers (audio Write). Every library call of the link is made under the
// lock (the debugger session's calls: DebuggerSession.h); the lock is
// re-entrant, so an operation that calls another (Write calling CloseSio)
// takes it again on the same thread. The state is read by any thread
// without it.
//
// The link alone moves its state (LinkStates, with the table of allowed
// transitions): its own steps open the channel, attach the device program
// and close it; the debugger session and the device link ask it for a
// transition by name (DebuggerConnected, DebuggerLost, Disconnected) or for
// a close (CloseChannel), under the lock.
//
// The main thread never waits behind a writer: a device that stops reading
// blocks a worker inside sio_write with the lock held, so Update and Read
// only try the lock and skip their step while it is taken, and a settings
// record is posted (a newer one replaces an older one) and sent by whoever
// holds the lock next: the capture worker before its next audio block, or
// Update when no worker streams. A write blocked longer than the deadline is
// a fault once it returns (the channel is closed and opens again).
//
// After every attach, no audio block goes out before the settings record of
// that connection: the device learns the new stream token first. Blocks
// written before it are dropped and counted.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/HostIo.h"
#include "link/LinkStates.h"
#include "link/PacketChannel.h"
#include "link/PacketHeader.h"
#include "platform/Mutex.h"
#include "support/Clock.h"

class CKAVHostIO;

// Told when opening or closing the channel failed: the debugger session
// drops a debugger that is no longer listed.
class LinkFailureHandler {
 public:
  virtual ~LinkFailureHandler() = default;
  virtual void OnLinkFailure() = 0;
};

class PacketLink : public PacketPump {
 public:
  PacketLink() = default;
  PacketLink(const PacketLink&) = delete;
  PacketLink& operator=(const PacketLink&) = delete;

  // The library table (not owned; null: every slot its stand-in) and the
  // channel number. Main thread, with no operation running.
  void Bind(const CKAVHostIO* hostIo, int32_t channel);
  // Told of open and close failures (not owned; may be null).
  void SetFailureHandler(LinkFailureHandler* handler) { m_failureHandler = handler; }

  // A write (header and payload) blocked longer than this is a fault.
  static constexpr uint64_t WRITE_DEADLINE_MS = 1000;
  // An audio block written within this time means a capture worker streams:
  // a posted settings record is left to it.
  static constexpr uint64_t STREAMING_MS = 500;
  // A payload not complete this long after its header was read is a fault
  // (a corrupt size, a device that stopped half-way): the channel is closed
  // and opens again.
  static constexpr uint64_t PAYLOAD_DEADLINE_MS = 2000;

  // The clock of the write and payload deadlines; the system's unless a
  // test gives its own. Before use.
  void SetClock(Clock& clock) { m_clock = &clock; }

  // The lock every channel operation holds; the debugger session takes it
  // for its own operations so that they never interleave with a packet.
  Mutex& GetLock() const { return m_lock; }

  Status GetStatus() const override { return m_states.Get(); }
  int32_t GetChannel() const { return m_channel; }

  // The transitions the debugger session and the device link ask for, each
  // under the lock (the link's state table: LinkStates). False, and logged,
  // when the current state does not allow it.
  // host_connect accepted a debugger: the next Update opens the channel.
  bool DebuggerConnected() { return Transit(LinkStates::Transition::DebuggerConnected); }
  // A debugger no longer listed after a library failure was dropped.
  bool DebuggerLost() { return Transit(LinkStates::Transition::DebuggerLost); }
  // No debugger is connected: none found, a refused connect, the user's
  // Disconnect, the library bound or unbound.
  bool Disconnected() { return Transit(LinkStates::Transition::Disconnected); }

  // One step of the state machine (every idle tick): CLOSED_PENDING_OPEN
  // opens, OPEN waits for the device program, CLOSE_ERROR closes again; one
  // call can go from CLOSED_PENDING_OPEN to CONNECTED. Then a posted settings
  // record goes out when no worker streams. Skipped while another thread
  // holds the lock.
  void Update() override;
  // Closes the channel now, waiting for the lock (the next Update opens it
  // again): the debugger session's Disconnect and the device link's
  // Shutdown. Does nothing while DISCONNECTED.
  void CloseChannel() { CloseSio(); }
  // The close for the main thread: done at once when the lock is free, else
  // by the thread that holds it, once its write has returned.
  void RequestClose();

  // The payload of one complete packet from the device, or null. type and
  // size are NO_PACKET and 0 when nothing was read; a packet without payload
  // gives its type, size 0 and null. Never blocks on data: an incomplete
  // header or payload stays in the library until it is whole, for at most
  // PAYLOAD_DEADLINE_MS. A header of an unknown type, or whose size its type
  // does not allow (PacketHeader::PayloadFits), closes the channel. Reads
  // nothing while another thread holds the lock.
  std::unique_ptr<uint8_t[]> Read(uint32_t& type, uint32_t& size) override;
  // AUDIO: sends a posted settings record first, then the 16-byte header and
  // the payload, blocking while the library takes them. False when the block
  // did not go out: not connected, dropped before the connection's settings
  // record (counted), or a failure, after which the channel is closed (it
  // re-opens on the next Update).
  // CONFIG: posts the record and sends it at once when the lock is free and
  // no worker streams; true when it was sent or posted, false when the
  // channel is not connected or the send failed.
  bool Write(uint32_t type, const void* data, int32_t size) override;

  // Audio blocks dropped because the connection's settings record had not
  // gone out yet; any thread, without the lock.
  uint64_t GetDroppedAudioBlocks() const override { return m_droppedAudio.load(std::memory_order_relaxed); }
  // True while a thread is inside sio_write; how long it has been there.
  bool IsWriteInProgress() const { return m_writeStartMs.load(std::memory_order_relaxed) != 0; }
  uint64_t GetWriteBlockedMs() const;
  // A write blocked beyond the deadline: the main thread must not call the
  // library (it would wait behind it).
  bool IsWriteStuck() const { return GetWriteBlockedMs() > WRITE_DEADLINE_MS; }
  // How many times the device program attached (CONNECTED was reached).
  uint32_t GetConnectionCount() const override { return m_connection.load(std::memory_order_relaxed); }
  // A settings record waits to be sent.
  bool HasPostedConfig() const;

 private:
  bool Transit(LinkStates::Transition transition);
  // The steps of Update, and the close of every failure; under the lock.
  bool OpenSio();
  bool WaitSio();
  void CloseSio();
  void ClearPendingHeader();
  void ReportFailure();
  // The state machine's step and the posted record's send, under the lock.
  void Step();
  // Header and payload through sio_write, timed; under the lock.
  bool SendPacket(uint32_t type, const void* data, int32_t size);
  // Sends the posted record when it belongs to this connection; false only
  // when its send failed. Under the lock.
  bool SendPostedConfig();
  bool PostConfig(const void* data, int32_t size);
  // A close the main thread asked for while the lock was taken.
  void CloseRequested();
  bool IsStreaming() const;
  uint64_t Now() const;

  mutable Mutex m_lock;
  const CKAVHostIO* m_hostIo = nullptr;            // not owned
  LinkFailureHandler* m_failureHandler = nullptr;  // not owned
  int32_t m_channel = 0;
  LinkStates m_states;  // moved under the lock
  PacketHeader m_header = {PacketHeader::MAGIC, 0, NO_PACKET, 0};
  uint64_t m_headerReadMs = 0;      // when the pending header was read; under the lock
  Clock* m_clock = &SystemClock();  // not owned

  // Counts attaches; the settings record of the current one has gone out
  // when m_configSentFor equals it. Both change under the lock.
  std::atomic<uint32_t> m_connection{0};
  uint32_t m_configSentFor = 0;
  // The posted settings record and the connection it was posted in, under
  // their own lock (never held across a library call).
  mutable Mutex m_postLock;
  std::vector<uint8_t> m_posted;
  bool m_hasPosted = false;
  uint32_t m_postedFor = 0;

  // When the current sio_write began (0: none), and the last audio write.
  std::atomic<uint64_t> m_writeStartMs{0};
  std::atomic<uint64_t> m_lastAudioMs{0};
  std::atomic<uint64_t> m_droppedAudio{0};
  std::atomic<bool> m_closeRequested{false};
  bool m_dropLogged = false;  // under the lock
};
