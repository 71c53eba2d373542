#include "hca/HcaCrc.h"

namespace hca {

namespace {

// entry[k][i]: the CRC of byte i followed by k zero bytes, from 0. The CRC
// is linear, so four bytes a step combine four lookups.
struct CrcTable {
  uint16_t entry[4][256];
  constexpr CrcTable() : entry() {
    for (int i = 0; i < 256; ++i) {
      uint16_t c = static_cast<uint16_t>(i << 8);
      for (int bit = 0; bit < 8; ++bit) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x8005 : (c << 1));
      entry[0][i] = c;
    }
    for (int k = 1; k < 4; ++k)
      for (int i = 0; i < 256; ++i) {
        const uint16_t c = entry[k - 1][i];
        entry[k][i] = static_cast<uint16_t>((c << 8) ^ entry[0][c >> 8]);
      }
  }
};

constexpr CrcTable CRC_TABLE;

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t size) {
  const auto& t = CRC_TABLE.entry;
  uint16_t crc = 0;
  size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    const unsigned x = crc ^ (static_cast<unsigned>(data[i]) << 8 | data[i + 1]);
    crc = static_cast<uint16_t>(t[3][x >> 8] ^ t[2][x & 0xFF] ^ t[1][data[i + 2]] ^ t[0][data[i + 3]]);
  }
  for (; i < size; ++i) crc = static_cast<uint16_t>((crc << 8) ^ t[0][((crc >> 8) ^ data[i]) & 0xFF]);
  return crc;
}

}  // namespace hca
