// The diagnostic log kept in a file, for a program started without a console:
// every text that Log writes, each line behind a time stamp, in "Quillon.log"
// of the first folder that takes it. The log of the run before is kept as
// "Quillon.1.log". The file never grows past its size limit: when a text
// would take it over, the file becomes "Quillon.1.log" (the older one goes)
// and a new one is begun.
//
// Write is called from every thread that logs; the file's state is kept
// under the object's lock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/Mutex.h"
#include "support/Log.h"

class LogFile : public LogSink {
 public:
  static constexpr const char* FILE_NAME = "Quillon.log";
  static constexpr const char* PREVIOUS_FILE_NAME = "Quillon.1.log";
  static constexpr uint64_t DEFAULT_SIZE_LIMIT = 5u * 1024u * 1024u;
  // The text put before every line.
  using Stamp = std::function<std::string()>;

  explicit LogFile(Stamp stamp = LocalTimeStamp, uint64_t sizeLimit = DEFAULT_SIZE_LIMIT);
  ~LogFile() override;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Begins the log in the first of the folders (each with its trailing
  // separator) where the file can be written; a missing folder is made
  // (its parent must exist). False when no folder takes it.
  bool Open(const std::vector<std::string>& folders);
  void Close();
  bool IsOpen() const { return m_file != nullptr; }
  // The folder of the open log, with its trailing separator; empty when
  // none is open.
  std::string GetFolder() const;

  // LogSink: appends the text; lines end in CR LF on Windows.
  void Write(const char* text) override;

  // "YYYY-MM-DD hh:mm:ss.mmm " in local time.
  static std::string LocalTimeStamp();
  // Where the program's log goes: its own folder, else "Quillon\" in the
  // user's local application-data folder (%LOCALAPPDATA%) when there is one.
  static std::vector<std::string> ProgramLogFolders(const std::string& programFolder);

 private:
  // Opens FILE_NAME in folder; when keepPrevious, the file already there
  // becomes PREVIOUS_FILE_NAME first.
  bool OpenIn(const std::string& folder, bool keepPrevious);
  void Put(const char* data, size_t length);

  Stamp m_stamp;
  uint64_t m_sizeLimit;
  mutable Mutex m_lock;
  FILE* m_file = nullptr;
  std::string m_folder;
  uint64_t m_size = 0;
  bool m_atLineStart = true;
};
