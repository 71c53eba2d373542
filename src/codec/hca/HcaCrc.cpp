#include "hca/HcaCrc.h"

namespace hca {

namespace {

struct CrcTable {
  uint16_t entry[256];
  constexpr CrcTable() : entry() {
    for (int i = 0; i < 256; ++i) {
      uint16_t c = static_cast<uint16_t>(i << 8);
      for (int bit = 0; bit < 8; ++bit) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x8005 : (c << 1));
      entry[i] = c;
    }
  }
};

constexpr CrcTable CRC_TABLE;

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t size) {
  uint16_t crc = 0;
  for (size_t i = 0; i < size; ++i)
    crc = static_cast<uint16_t>((crc << 8) ^ CRC_TABLE.entry[((crc >> 8) ^ data[i]) & 0xFF]);
  return crc;
}

}  // namespace hca
