// The path that a second start of the program hands to the one already
// running from its folder (a file opened from Explorer, a shortcut or "Open
// with" while the program runs): one WM_COPYDATA message per path, tagged
// with HANDED_PATH_TAG, whose data are the path's UTF-16 characters without a
// terminating NUL. The data come from another process and are not trusted:
// ReadHandedPath takes them only when they are a whole full path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The message's tag (COPYDATASTRUCT's dwData): "QHP1".
constexpr uint32_t HANDED_PATH_TAG = 0x51485031;
// The longest path taken, in UTF-16 characters (the long form's limit).
constexpr size_t HANDED_PATH_MAX_CHARS = 32767;

enum class HandedPathFault {
  NONE,
  WRONG_TAG,     // another tag: not a message of this program's
  EMPTY,         // no data
  ODD_SIZE,      // a byte count that is not a whole number of characters
  TOO_LONG,      // more than HANDED_PATH_MAX_CHARS characters
  NUL_INSIDE,    // a NUL character anywhere in it
  BROKEN_UTF16,  // a surrogate without its other half
  NOT_FULL,      // not "X:\..." nor "\\...": relative to a folder the receiver does not know
};

// Checks the message's tag and data (bytes long, at data, which may be null
// when bytes is 0) and, when they are a path, sets *path to it in UTF-8.
// *path is left alone otherwise.
HandedPathFault ReadHandedPath(uint64_t tag, const void* data, size_t bytes, std::string* path);

// The fault in words, for the log.
const char* HandedPathFaultText(HandedPathFault fault);
