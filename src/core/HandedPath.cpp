#include "core/HandedPath.h"

#include <utility>

namespace {

bool IsHighSurrogate(uint32_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

void AppendUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// A path from a drive's root ("C:\", "c:/") or a network or long-form path
// ("\\" and a name).
bool IsFullWindowsPath(const std::string& path) {
  if (path.size() >= 3 && path[0] == '\\' && path[1] == '\\') return true;
  if (path.size() < 3 || path[1] != ':' || (path[2] != '\\' && path[2] != '/')) return false;
  const char drive = path[0];
  return (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
}

}  // namespace

HandedPathFault ReadHandedPath(uint64_t tag, const void* data, size_t bytes, std::string* path) {
  if (tag != HANDED_PATH_TAG) return HandedPathFault::WRONG_TAG;
  if (bytes == 0 || data == nullptr) return HandedPathFault::EMPTY;
  if (bytes % 2 != 0) return HandedPathFault::ODD_SIZE;
  const size_t count = bytes / 2;
  if (count > HANDED_PATH_MAX_CHARS) return HandedPathFault::TOO_LONG;

  // The characters as the sender's memory holds them (little-endian, as
  // every Windows machine); read byte by byte, the data need no alignment.
  const auto* raw = static_cast<const unsigned char*>(data);
  auto unit = [raw](size_t i) { return static_cast<uint32_t>(raw[2 * i] | (raw[2 * i + 1] << 8)); };
  std::string text;
  text.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = unit(i);
    if (c == 0) return HandedPathFault::NUL_INSIDE;
    if (IsLowSurrogate(c)) return HandedPathFault::BROKEN_UTF16;
    if (IsHighSurrogate(c)) {
      if (i + 1 >= count || !IsLowSurrogate(unit(i + 1))) return HandedPathFault::BROKEN_UTF16;
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    }
    AppendUtf8(c, &text);
  }
  if (!IsFullWindowsPath(text)) return HandedPathFault::NOT_FULL;
  *path = std::move(text);
  return HandedPathFault::NONE;
}

const char* HandedPathFaultText(HandedPathFault fault) {
  switch (fault) {
    case HandedPathFault::NONE:
      return "a path";
    case HandedPathFault::WRONG_TAG:
      return "not a path of this program's";
    case HandedPathFault::EMPTY:
      return "no path";
    case HandedPathFault::ODD_SIZE:
      return "an odd number of bytes";
    case HandedPathFault::TOO_LONG:
      return "longer than a path can be";
    case HandedPathFault::NUL_INSIDE:
      return "a NUL character inside";
    case HandedPathFault::BROKEN_UTF16:
      return "a broken UTF-16 character";
    case HandedPathFault::NOT_FULL:
      return "not a full path";
  }
  return "unknown";
}
