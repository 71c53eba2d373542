// Arbitrary bytes as a handed-over path. The first byte chooses the tag (the
// program's or another); the rest is the message's data.
//
// Checks beyond "no crash": a path is taken only with the program's tag, an
// even byte count within the limit and no NUL; what is taken is valid UTF-8
// that turns back into exactly the data; and a refused message leaves the
// path as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/HandedPath.h"

namespace {
void Require(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "handed_path_fuzz: %s\n", what);
    abort();
  }
}

// UTF-8 back to UTF-16 little-endian bytes; false on a malformed sequence.
bool ToUtf16(const std::string& text, std::vector<uint8_t>* out) {
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<uint8_t>(text[i]);
    uint32_t c = 0;
    size_t more = 0;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      more = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      more = 2;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      more = 3;
    } else {
      return false;
    }
    if (i + more >= text.size()) return false;  // cut off
    for (size_t k = 1; k <= more; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    // The shortest form only, and no surrogate written as a character.
    static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (c < kLeast[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += more + 1;
    if (c >= 0x10000) {
      const uint32_t v = c - 0x10000;
      const uint32_t hi = 0xD800 + (v >> 10), lo = 0xDC00 + (v & 0x3FF);
      out->insert(out->end(), {static_cast<uint8_t>(hi & 0xFF), static_cast<uint8_t>(hi >> 8),
                               static_cast<uint8_t>(lo & 0xFF), static_cast<uint8_t>(lo >> 8)});
    } else {
      out->insert(out->end(), {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)});
    }
  }
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint64_t tag = (data[0] & 1) != 0 ? HANDED_PATH_TAG : data[0];
  // Copied, so that a read past the data is caught.
  std::vector<uint8_t> bytes(data + 1, data + size);
  std::string path = "unchanged";
  const HandedPathFault fault = ReadHandedPath(tag, bytes.empty() ? nullptr : bytes.data(), bytes.size(), &path);
  Require(HandedPathFaultText(fault) != nullptr, "a fault without words");
  if (fault != HandedPathFault::NONE) {
    Require(path == "unchanged", "a refused message changed the path");
    return 0;
  }
  Require(tag == HANDED_PATH_TAG, "taken with another tag");
  Require(!bytes.empty() && bytes.size() % 2 == 0, "taken with an odd or empty byte count");
  Require(bytes.size() / 2 <= HANDED_PATH_MAX_CHARS, "taken past the limit");
  Require(path.find('\0') == std::string::npos, "a NUL in the path");
  Require(path.size() >= 3, "a path too short to be full");
  std::vector<uint8_t> back;
  Require(ToUtf16(path, &back), "the path is not valid UTF-8");
  Require(back == bytes, "the path does not turn back into the data");
  return 0;
}
