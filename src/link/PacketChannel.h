// What the rest of the program uses of the serial channel to the device
// program: its connection state and packet writes. SerialChannel implements
// it; tests hand capture sources and the settings model a fake.
#pragma once

#include <cstdint>

class PacketChannel {
 public:
  // Connection state; the numbers are fixed.
  enum class Status : int32_t {
    DISCONNECTED = 0,  // no debugger connected
    CLOSE = 1,         // debugger connected, channel closed, to be opened
    CLOSE_ERROR = 2,   // closing failed; retried
    OPEN = 3,          // channel open, waiting for the device program
    CONNECTED = 4,     // device program attached; packets flow
  };

  // Packet types of the 16-byte header.
  enum PacketType : uint32_t {
    CONFIG = 0,  // the 280-byte settings record
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
