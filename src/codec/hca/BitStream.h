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
  // The buffer must be zero-filled: bits are ORed in.
  BitWriter(uint8_t* buffer, size_t sizeBytes) : m_buffer(buffer), m_limitBits(sizeBytes * 8) {}

  // Writes the low `bits` bits of value (0..32 bits).
  void Write(uint32_t value, int bits);

  size_t BitsWritten() const { return m_position; }
  bool Overflowed() const { return m_overflow; }

 private:
  uint8_t* m_buffer;
  size_t m_limitBits;
  size_t m_position = 0;
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
  uint32_t Peek(int bits) const;
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
  const uint8_t* m_data = nullptr;
  size_t m_limitBits = 0;
  size_t m_position = 0;
};

}  // namespace hca
