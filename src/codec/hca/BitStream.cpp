#include "hca/BitStream.h"

namespace hca {

uint64_t BitReader::PeekNearEnd(size_t byte) const {
  const size_t limitBytes = m_limitBits >> 3;
  uint64_t window = 0;
  for (size_t i = 0; i < 8; ++i) {
    window <<= 8;
    if (byte + i < limitBytes) window |= m_data[byte + i];
  }
  return window;
}

}  // namespace hca
