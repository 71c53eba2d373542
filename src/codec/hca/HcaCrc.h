// CRC-16 of HCA headers and frames: polynomial 0x8005, initial value 0, most
// significant bit first, no reflection, no final XOR. A block followed by its
// CRC (big-endian) has CRC 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hca {

uint16_t Crc16(const uint8_t* data, size_t size);

}  // namespace hca
