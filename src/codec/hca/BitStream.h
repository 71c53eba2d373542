// Bit writer and reader of HCA frames: most significant bit first, over a
// caller buffer of fixed size. Neither ever touches a byte outside its buffer:
// the writer counts what does not fit as overflow, the reader reads zeros past
// the end and counts that as overrun. Both go a word at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__)
#define HCA_BITS_INLINE inline __attribute__((always_inline))
#else
#define HCA_BITS_INLINE inline
#endif

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
    FlushWord();
  }
  // True when `bits` more bits fit.
  bool HasRoom(size_t bits) const { return m_position + bits <= m_limitBits; }
  // Write for a caller that has checked the room (HasRoom) and gives a value
  // of `bits` bits (0..32) with nothing above them.
  HCA_BITS_INLINE void WriteCode(uint32_t value, int bits) {
    m_pending = (m_pending << bits) | value;
    m_pendingBits += bits;
    m_position += static_cast<size_t>(bits);
    FlushWord();
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
  // Stores the oldest 32 pending bits, big-endian, once that many are pending.
  HCA_BITS_INLINE void FlushWord() {
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
    m_limitBytes = sizeBytes;
    Seek(0);
  }

  // The next `bits` bits (0..32) without consuming them; zeros past the end.
  uint32_t Peek(int bits) {
    if (bits <= 0) return 0;
    if (m_cached < bits) Refill();
    return static_cast<uint32_t>(m_cache >> (64 - bits));
  }
  // Reads `bits` bits (0..32).
  uint32_t Read(int bits) {
    const uint32_t v = Peek(bits);
    Skip(bits);
    return v;
  }
  void Skip(int bits) {
    if (bits <= 0) return;
    if (bits < m_cached) {
      m_cache <<= bits;
      m_cached -= bits;
    } else {
      Seek(Position() + static_cast<size_t>(bits));
    }
  }

  size_t Position() const { return m_next * 8 - static_cast<size_t>(m_cached); }
  void Seek(size_t bitPosition) {
    m_next = bitPosition >> 3;
    m_cache = 0;
    m_cached = 0;
    const int within = static_cast<int>(bitPosition & 7);
    if (within != 0) {
      Refill();
      m_cache <<= within;
      m_cached -= within;
    }
  }
  // True once anything past the end has been consumed.
  bool Overrun() const { return Position() > m_limitBytes * 8; }

  // For readers of many short codes: at least the next 32 bits, from the
  // most significant on (zeros past the end); Drop then consumes up to 32 of them.
  HCA_BITS_INLINE uint64_t Window() {
    if (m_cached < 32) Refill();
    return m_cache;
  }
  HCA_BITS_INLINE void Drop(int bits) {
    m_cache <<= bits;
    m_cached -= bits;
  }

 private:
  // Fills the cache to at least 57 bits: four bytes at once where they lie
  // inside the data, zeros past its end.
  HCA_BITS_INLINE void Refill() {
    if (m_cached <= 32 && m_next < m_limitBytes && m_limitBytes - m_next >= 4) {
      const uint8_t* p = m_data + m_next;
      const uint64_t word = static_cast<uint64_t>(p[0]) << 24 | static_cast<uint64_t>(p[1]) << 16 |
                            static_cast<uint64_t>(p[2]) << 8 | p[3];
      m_cache |= word << (32 - m_cached);
      m_cached += 32;
      m_next += 4;
    }
    while (m_cached <= 56) {
      const uint64_t byte = m_next < m_limitBytes ? m_data[m_next] : 0;
      m_cache |= byte << (56 - m_cached);
      m_cached += 8;
      ++m_next;
    }
  }

  const uint8_t* m_data = nullptr;
  size_t m_limitBytes = 0;
  size_t m_next = 0;     // the next byte to take into the cache
  uint64_t m_cache = 0;  // the next bits, from the most significant on
  int m_cached = 0;      // bits in the cache
};

}  // namespace hca
