// A thin wrapper of a C runtime stream. Paths are UTF-8 (platform/Platform.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/Log.h"

class CFile {
 public:
  CFile() = default;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  ~CFile() { Close(); }

  // Closes any open stream, then opens path with a C runtime mode ("r", "wb"...).
  // On failure, *missing (when given) tells a file that does not exist from
  // one that exists but cannot be opened.
  bool Open(const char* path, const char* mode, bool* missing = nullptr);
  // Flushes and closes the stream; false when either failed (buffered bytes
  // may be lost) or nothing was open.
  bool Close();
  bool IsOpen() const { return m_file != nullptr; }

  void Printf(const char* format, ...) QUILL_PRINTF(2, 3);
  // Writes bytes as they are (texts that must not be read as formats).
  bool Write(const void* data, size_t size);

  // Writes the stream's buffers and the system's own to the disk.
  bool Flush();

  // The stream's length in bytes, the position kept; -1 when unknown or when
  // the length does not fit an i32.
  int32_t GetSize();
  // The same for files of any size (64-bit offsets in every build); -1 when
  // unknown.
  int64_t GetSize64();
  // Moves to a byte offset from the start; false when it cannot.
  bool Seek(int64_t offset);
  // Reads up to size bytes at the position; the number read.
  size_t Read(void* data, size_t size);
  // Reads size bytes, or the whole stream when size < 1. Returns false when the
  // stream is not open, too large or cannot be read whole.
  bool ReadAll(int32_t size, std::vector<uint8_t>& bytes);
  // The same with one NUL byte appended.
  bool ReadAllText(int32_t size, std::vector<char>& text);

  static bool FileExists(const char* path);
  static bool IsDirectory(const char* path);

 private:
  FILE* m_file = nullptr;
};

// How a whole-file write ended.
enum class FileWriteResult {
  OK,
  OPEN_FAILED,   // the temporary file could not be made
  WRITE_FAILED,  // writing, closing or renaming failed
};

// Replaces the file at path by data without ever leaving a half-written or
// empty file there, also across a power loss: writes path + ".tmp" in the
// same folder, flushes it to the disk and closes it (checking both), then
// renames it over path with write-through, so that path holds either the old
// or the new bytes. On any failure the temporary file is removed and the old
// file stays as it was.
FileWriteResult WriteFileReplacing(const std::string& path, const void* data, size_t size);
