// The stand-in device program image "Quillon.bxa" that the build makes
// (make_bxa.cmake): a header line with the block count, that many numbered
// block lines, and an end line. The simulator starts only such an image.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace sim {

constexpr uint32_t BXA_MAX_BLOCKS = 1u << 20;

inline std::string BxaBlockLine(uint32_t index) {
  char line[64];
  snprintf(line, sizeof(line), "QUILLON DEVICE PROGRAM BLOCK %06u\n", index);
  return line;
}

// True when image is a whole, intact stand-in image.
inline bool IsBxaImage(const std::vector<uint8_t>& image) {
  static const char kHead[] = "QUILLON-BXA/1 blocks=";
  const size_t headLength = sizeof(kHead) - 1;
  if (image.size() < headLength || memcmp(image.data(), kHead, headLength) != 0) return false;
  size_t at = headLength;
  uint32_t blocks = 0;
  size_t digits = 0;
  while (at < image.size() && image[at] >= '0' && image[at] <= '9' && digits < 8) {
    blocks = blocks * 10 + static_cast<uint32_t>(image[at] - '0');
    ++at;
    ++digits;
  }
  if (digits == 0 || blocks == 0 || blocks > BXA_MAX_BLOCKS || at >= image.size() || image[at] != '\n') return false;
  ++at;
  for (uint32_t i = 0; i < blocks; ++i) {
    const std::string line = BxaBlockLine(i);
    if (image.size() - at < line.size() || memcmp(&image[at], line.data(), line.size()) != 0) return false;
    at += line.size();
  }
  return image.size() - at == 4 && memcmp(&image[at], "END\n", 4) == 0;
}

}  // namespace sim
