#include "hca/BitStream.h"

namespace hca {

void BitWriter::Write(uint32_t value, int bits) {
  if (bits <= 0) return;
  if (m_position + static_cast<size_t>(bits) > m_limitBits) {
    m_overflow = true;
    m_position += static_cast<size_t>(bits);
    return;
  }
  if (bits < 32) value &= (1u << bits) - 1u;
  while (bits > 0) {
    size_t byte = m_position >> 3;
    int used = static_cast<int>(m_position & 7);
    int room = 8 - used;
    int take = bits < room ? bits : room;
    uint32_t part = (value >> (bits - take)) & ((1u << take) - 1u);
    m_buffer[byte] = static_cast<uint8_t>(m_buffer[byte] | (part << (room - take)));
    bits -= take;
    m_position += static_cast<size_t>(take);
  }
}

uint32_t BitReader::Peek(int bits) const {
  if (bits <= 0) return 0;
  // Gather the four bytes that cover the bits (at most 24 bits from any offset).
  size_t byte = m_position >> 3;
  size_t limitBytes = m_limitBits >> 3;
  uint32_t window = 0;
  for (size_t i = 0; i < 4; ++i) {
    window <<= 8;
    if (byte + i < limitBytes) window |= m_data[byte + i];
  }
  int offset = static_cast<int>(m_position & 7);
  return (window << offset) >> (32 - bits);
}

}  // namespace hca
