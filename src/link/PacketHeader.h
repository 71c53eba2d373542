// The 16-byte header in front of every packet on the serial channel, both
// ways: magic, reserved, type, payload size; little-endian, no padding.
#pragma once

#include <cstdint>

#include "link/PacketChannel.h"

struct PacketHeader {
  // 'QDSP' as a multi-character constant; on the wire 0x50 0x53 0x44 0x51.
  static constexpr uint32_t MAGIC = 0x51445350u;
  static constexpr int32_t SIZE = 16;
  // The payloads accepted from the device, by type (PacketChannel::PacketType):
  // a settings record is exactly CONFIG_PAYLOAD bytes (SoundConfigData, whose
  // size is checked against it); an audio block at most one second of stereo
  // 16-bit PCM at the highest output rate (96000 Hz). Any other type is
  // unknown. A header that claims anything else is a framing fault, and its
  // size is never allocated.
  static constexpr int32_t CONFIG_PAYLOAD = 280;
  static constexpr int32_t AUDIO_PAYLOAD_MAX = 96000 * 4;
  static bool PayloadFits(uint32_t type, int32_t size) {
    if (type == PacketChannel::CONFIG) return size == CONFIG_PAYLOAD;
    if (type == PacketChannel::AUDIO) return size >= 0 && size <= AUDIO_PAYLOAD_MAX;
    return false;
  }

  uint32_t magic;
  uint32_t reserved;
  uint32_t type;
  int32_t size;

  void Encode(uint8_t* out) const {
    Put(out + 0, magic);
    Put(out + 4, reserved);
    Put(out + 8, type);
    Put(out + 12, static_cast<uint32_t>(size));
  }

  static PacketHeader Decode(const uint8_t* in) {
    PacketHeader header;
    header.magic = Get(in + 0);
    header.reserved = Get(in + 4);
    header.type = Get(in + 8);
    const uint32_t size = Get(in + 12);
    // Two's complement without an implementation-defined conversion.
    header.size = size <= 0x7FFFFFFFu ? static_cast<int32_t>(size) : -static_cast<int32_t>(~size) - 1;
    return header;
  }

 private:
  static void Put(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
  }
  static uint32_t Get(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
           static_cast<uint32_t>(in[3]) << 24;
  }
};
