// What the rest of the program uses of the packet link to the device
// program: its connection state and packet writes (PacketChannel), and the
// steps and reads of the idle pump (PacketPump). PacketLink implements both;
// tests hand capture sources, the settings model and the idle tick fakes.
#pragma once

#include <cstdint>
#include <memory>

class PacketChannel {
 public:
  // Connection state; the numbers are fixed.
  enum class Status : int32_t {
    DISCONNECTED = 0,         // no debugger connected
    CLOSED_PENDING_OPEN = 1,  // debugger connected, channel closed, to be opened
    CLOSE_ERROR = 2,          // closing failed; retried
    OPEN = 3,                 // channel open, waiting for the device program
    CONNECTED = 4,            // device program attached; packets flow
  };

  // Packet types of the 16-byte header (PacketHeader.h); the numbers are
  // fixed.
  enum PacketType : uint32_t {
    CONFIG = 0,  // the settings record (PacketHeader::CONFIG_PAYLOAD bytes)
    AUDIO = 1,   // one block of 16-bit stereo PCM
  };

  // In a pending header: none pending; in the results of a read: nothing read.
  static constexpr uint32_t NO_PACKET = 0x7FFFFFFF;

  virtual ~PacketChannel() = default;

  // Read by any thread without the channel's lock; a stale value only delays
  // a reaction by one tick.
  virtual Status GetStatus() const = 0;
  bool IsConnected() const { return GetStatus() == Status::CONNECTED; }

  // Sends one packet (header and payload under one hold of the channel's
  // lock). An audio block blocks until the library has taken the bytes; a
  // settings record may be posted and sent later by the channel, without
  // waiting. False when the packet did not go out; after a failure the
  // channel has been closed and will re-open by itself.
  virtual bool Write(uint32_t type, const void* data, int32_t size) = 0;

  // Audio blocks the channel dropped because the settings record of the
  // current connection had not gone out yet. Any thread.
  virtual uint64_t GetDroppedAudioBlocks() const { return 0; }
};

// The packet channel as the main thread's idle pump drives it.
class PacketPump : public PacketChannel {
 public:
  // One step of the connection state machine.
  virtual void Update() = 0;
  // How many times the device program attached so far. A new attach is seen
  // by this count: a worker's failed write may close the link just before a
  // step that opens it again, with the state CONNECTED before and after.
  virtual uint32_t GetConnectionCount() const = 0;
  // The next whole packet, or null; type and size describe it.
  virtual std::unique_ptr<uint8_t[]> Read(uint32_t& type, uint32_t& size) = 0;
};
