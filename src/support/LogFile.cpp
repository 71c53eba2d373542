#include "support/LogFile.h"

#include <chrono>
#include <cstring>
#include <ctime>

#include "platform/Platform.h"

namespace {
#ifdef _WIN32
constexpr const char* kLineEnd = "\r\n";
constexpr const char* kSeparator = "\\";
#else
constexpr const char* kLineEnd = "\n";
constexpr const char* kSeparator = "/";
#endif
}  // namespace

LogFile::LogFile(Stamp stamp, uint64_t sizeLimit) : m_stamp(std::move(stamp)), m_sizeLimit(sizeLimit) {}

LogFile::~LogFile() {
  Close();
}

bool LogFile::Open(const std::vector<std::string>& folders) {
  ScopedMutex lock(m_lock);
  if (m_file != nullptr) return true;
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    std::string bare = folder.substr(0, folder.size() - 1);
    if (!platform::IsDirectory(bare.c_str()) && !platform::MakeDirectory(bare.c_str())) continue;
    if (OpenIn(folder, true)) {
      m_atLineStart = true;
      return true;
    }
  }
  return false;
}

void LogFile::Close() {
  ScopedMutex lock(m_lock);
  if (m_file != nullptr) fclose(m_file);
  m_file = nullptr;
  m_folder.clear();
  m_size = 0;
}

std::string LogFile::GetFolder() const {
  ScopedMutex lock(m_lock);
  return m_folder;
}

bool LogFile::OpenIn(const std::string& folder, bool keepPrevious) {
  const std::string path = folder + FILE_NAME;
  const std::string previous = folder + PREVIOUS_FILE_NAME;
  // A file that cannot be moved aside (another instance has it open) is
  // continued rather than emptied.
  bool continueOld = false;
  if (keepPrevious) {
    platform::RemoveFile(previous.c_str());
    if (platform::PathExists(path.c_str()) && !platform::RenameOver(path.c_str(), previous.c_str())) {
      continueOld = true;
    }
  }
  FILE* file = platform::OpenFile(path.c_str(), continueOld ? "ab" : "wb");
  if (file == nullptr) return false;
  uint64_t size = 0;
  if (continueOld) {
    long end = (fseek(file, 0, SEEK_END) == 0) ? ftell(file) : -1;
    if (end < 0 || static_cast<uint64_t>(end) >= m_sizeLimit) {
      fclose(file);
      return false;
    }
    size = static_cast<uint64_t>(end);
  }
  m_file = file;
  m_folder = folder;
  m_size = size;
  return true;
}

void LogFile::Write(const char* text) {
  if (text == nullptr) return;
  ScopedMutex lock(m_lock);
  const char* p = text;
  while (*p != 0 && m_file != nullptr) {
    const char* end = strchr(p, '\n');
    const size_t length = end != nullptr ? static_cast<size_t>(end - p) : strlen(p);
    size_t content = length;
    if (end != nullptr && content > 0 && p[content - 1] == '\r') --content;
    std::string piece;
    if (m_atLineStart && m_stamp) piece = m_stamp();
    piece.append(p, content);
    if (end != nullptr) piece += kLineEnd;
    Put(piece.data(), piece.size());
    m_atLineStart = end != nullptr;
    p += length + (end != nullptr ? 1 : 0);
  }
}

void LogFile::Put(const char* data, size_t length) {
  if (m_size > 0 && m_size + length > m_sizeLimit) {
    // Full: this file becomes the previous one and a new one begins.
    const std::string folder = m_folder;
    fclose(m_file);
    m_file = nullptr;
    if (!OpenIn(folder, true)) {
      m_folder.clear();
      return;
    }
  }
  // A single text longer than the whole limit is cut.
  if (length > m_sizeLimit) length = static_cast<size_t>(m_sizeLimit);
  const size_t written = fwrite(data, 1, length, m_file);
  fflush(m_file);
  m_size += written;
}

std::string LogFile::LocalTimeStamp() {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  using std::chrono::system_clock;
  const system_clock::time_point now = system_clock::now();
  const time_t seconds = system_clock::to_time_t(now);
  const long long ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  struct tm local {};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char text[48];
  snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%03lld ", local.tm_year + 1900, local.tm_mon + 1,
           local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ms);
  return text;
}

std::vector<std::string> LogFile::ProgramLogFolders(const std::string& programFolder) {
  std::vector<std::string> folders;
  if (!programFolder.empty()) folders.push_back(programFolder);
  std::string appData;
  if (platform::GetEnv("LOCALAPPDATA", &appData) && !appData.empty()) {
    if (appData.back() != '\\' && appData.back() != '/') appData += kSeparator;
    folders.push_back(appData + "Quillon" + kSeparator);
  }
  return folders;
}
