// Bit writer and reader of HCA frames: most significant bit first, over a
// caller buffer of fixed size. Neither ever touches a byte outside its buffer:
// the writer counts what does not fit as overflow, the reader reads zeros past
// the end and counts that as overrun.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hca {

class BitWriter {
 public:
  // Whole 32-bit words are stored as they fill up; Flush stores the rest (the
  // last byte's unused low bits zero), and writing may go on after it. Bytes
  // past the written bits are not touched.
  BitWriter(uint8_t* buffer, size_t sizeBytes) : m_buffer(buffer), m_limitBits(sizeBytes * 8) {}

  // Writes the low `bits` bits of value (0..32 bits).
  void Write(uint32_t value, int bits) {
    if (bits <= 0) return;
    if (m_position + static_cast<size_t>(bits) > m_limitBits) {
      m_overflow = true;
      m_position += static_cast<size_t>(bits);
      return;
    }
    const uint64_t v = bits < 32 ? (value & ((1u << bits) - 1u)) : value;
    m_pending = (m_pending << bits) | v;  // at most 31 + 32 bits pending
    m_pendingBits += bits;
    m_position += static_cast<size_t>(bits);
    if (m_pendingBits >= 32) {
      m_pendingBits -= 32;
      const auto word = static_cast<uint32_t>(m_pending >> m_pendingBits);
      uint8_t* p = m_buffer + m_byte;
      p[0] = static_cast<uint8_t>(word >> 24);
      p[1] = static_cast<uint8_t>(word >> 16);
      p[2] = static_cast<uint8_t>(word >> 8);
      p[3] = static_cast<uint8_t>(word);
      m_byte += 4;
    }
  }
  void Flush() {
    while (m_pendingBits >= 8) {
      m_pendingBits -= 8;
      m_buffer[m_byte++] = static_cast<uint8_t>(m_pending >> m_pendingBits);
    }
    if (m_pendingBits > 0) m_buffer[m_byte] = static_cast<uint8_t>(m_pending << (8 - m_pendingBits));
  }

  size_t BitsWritten() const { return m_position; }
  bool Overflowed() const { return m_overflow; }

 private:
  uint8_t* m_buffer;
  size_t m_limitBits;
  size_t m_position = 0;   // bits written or refused
  size_t m_byte = 0;       // next whole byte to store
  uint64_t m_pending = 0;  // bits not yet stored (the low m_pendingBits)
  int m_pendingBits = 0;
  bool m_overflow = false;
};

class BitReader {
 public:
  BitReader() = default;
  BitReader(const uint8_t* data, size_t sizeBytes) { Reset(data, sizeBytes); }

  void Reset(const uint8_t* data, size_t sizeBytes) {
    m_data = data;
    m_limitBits = sizeBytes * 8;
    m_position = 0;
  }

  // The next `bits` bits (0..24) without consuming them; zeros past the end.
  uint32_t Peek(int bits) const {
    if (bits <= 0) return 0;
    const size_t byte = m_position >> 3;
    const uint64_t window = byte + 8 <= (m_limitBits >> 3) ? LoadBigEndian64(m_data + byte) : PeekNearEnd(byte);
    return static_cast<uint32_t>((window << (m_position & 7)) >> (64 - bits));
  }
  // Reads `bits` bits (0..24).
  uint32_t Read(int bits) {
    uint32_t v = Peek(bits);
    m_position += static_cast<size_t>(bits);
    return v;
  }
  void Skip(int bits) { m_position += static_cast<size_t>(bits); }

  size_t Position() const { return m_position; }
  void Seek(size_t bitPosition) { m_position = bitPosition; }
  // True once anything past the end has been consumed.
  bool Overrun() const { return m_position > m_limitBits; }

 private:
  static uint64_t LoadBigEndian64(const uint8_t* p) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t v;
    __builtin_memcpy(&v, p, sizeof(v));
    return __builtin_bswap64(v);
#else
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
    return v;
#endif
  }
  // The eight bytes from `byte` on, zeros for those past the end.
  uint64_t PeekNearEnd(size_t byte) const;

  const uint8_t* m_data = nullptr;
  size_t m_limitBits = 0;
  size_t m_position = 0;
};

}  // namespace hca
