// A thin wrapper of a C runtime stream.
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
  bool Open(const char* path, const char* mode);
  // Flushes and closes the stream; false when either failed (buffered bytes
  // may be lost) or nothing was open.
  bool Close();
  bool IsOpen() const { return m_file != nullptr; }

  void Printf(const char* format, ...) QUILL_PRINTF(2, 3);
  // Writes bytes as they are (texts that must not be read as formats).
  bool Write(const void* data, size_t size);

  // The stream's length in bytes, the position kept; -1 when unknown or when
  // the length does not fit an i32.
  int32_t GetSize();
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

// Replaces the file at path by data without ever leaving a half-written file
// there: writes path + ".tmp" in the same folder, flushes and closes it
// (checking both), then renames it over path. On any failure the temporary
// file is removed and the old file stays as it was.
FileWriteResult WriteFileReplacing(const std::string& path, const void* data, size_t size);
