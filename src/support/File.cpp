#include "support/File.h"

#include <cstdarg>
#include <limits>

#include "platform/Platform.h"

#ifdef _WIN32
#define QUILL_FSEEK64 _fseeki64
#define QUILL_FTELL64 _ftelli64
#else
#define QUILL_FSEEK64 fseeko
#define QUILL_FTELL64 ftello
#endif

bool CFile::Open(const char* path, const char* mode, bool* missing) {
  Close();
  m_file = platform::OpenFile(path, mode, missing);
  return m_file != nullptr;
}

bool CFile::Flush() {
  return platform::FlushFile(m_file);
}

int64_t CFile::GetSize64() {
  if (m_file == nullptr) return -1;
  const int64_t position = QUILL_FTELL64(m_file);
  if (position < 0 || QUILL_FSEEK64(m_file, 0, SEEK_END) != 0) return -1;
  const int64_t end = QUILL_FTELL64(m_file);
  QUILL_FSEEK64(m_file, position, SEEK_SET);
  return end;
}

bool CFile::Seek(int64_t offset) {
  return m_file != nullptr && offset >= 0 && QUILL_FSEEK64(m_file, offset, SEEK_SET) == 0;
}

size_t CFile::Read(void* data, size_t size) {
  if (m_file == nullptr || size == 0) return 0;
  return fread(data, 1, size, m_file);
}

bool CFile::Close() {
  if (m_file == nullptr) return false;
  bool flushed = fflush(m_file) == 0;
  bool closed = fclose(m_file) == 0;
  m_file = nullptr;
  return flushed && closed;
}

void CFile::Printf(const char* format, ...) {
  if (m_file == nullptr) return;
  va_list args;
  va_start(args, format);
  vfprintf(m_file, format, args);
  va_end(args);
}

bool CFile::Write(const void* data, size_t size) {
  if (m_file == nullptr) return false;
  return fwrite(data, 1, size, m_file) == size;
}

int32_t CFile::GetSize() {
  const int64_t size = GetSize64();
  if (size < 0 || size > std::numeric_limits<int32_t>::max()) return -1;
  return static_cast<int32_t>(size);
}

bool CFile::ReadAll(int32_t size, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (m_file == nullptr) return false;
  if (size < 1) {
    size = GetSize();
    if (size < 0) return false;
  }
  bytes.resize(static_cast<size_t>(size));
  if (size > 0 && fread(bytes.data(), 1, bytes.size(), m_file) != bytes.size()) {
    bytes.clear();
    return false;
  }
  return true;
}

bool CFile::ReadAllText(int32_t size, std::vector<char>& text) {
  std::vector<uint8_t> bytes;
  text.clear();
  if (!ReadAll(size, bytes)) return false;
  text.assign(bytes.begin(), bytes.end());
  text.push_back('\0');
  return true;
}

bool CFile::FileExists(const char* path) {
  CFile file;
  return file.Open(path, "rb");
}

bool CFile::IsDirectory(const char* path) {
  return platform::IsDirectory(path);
}

FileWriteResult WriteFileReplacing(const std::string& path, const void* data, size_t size) {
  const std::string temporary = path + ".tmp";
  CFile file;
  if (!file.Open(temporary.c_str(), "wb")) return FileWriteResult::OPEN_FAILED;
  bool written = file.Write(data, size);
  // On the disk before the rename: a power loss after it must not leave an
  // empty file in the old one's place.
  written = file.Flush() && written;
  // Closed in every case, so that the temporary file can be removed.
  written = file.Close() && written;
  if (written && platform::RenameOver(temporary.c_str(), path.c_str())) return FileWriteResult::OK;
  platform::RemoveFile(temporary.c_str());
  return FileWriteResult::WRITE_FAILED;
}
