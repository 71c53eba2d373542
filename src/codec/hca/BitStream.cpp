#include "hca/BitStream.h"

namespace hca {

// The four bytes from `byte` on, zeros for those past the end.
uint32_t BitReader::PeekNearEnd(size_t byte) const {
  const size_t limitBytes = m_limitBits >> 3;
  uint32_t window = 0;
  for (size_t i = 0; i < 4; ++i) {
    window <<= 8;
    if (byte + i < limitBytes) window |= m_data[byte + i];
  }
  return window;
}

}  // namespace hca
