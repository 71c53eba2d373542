// Starts another program through the shell (Windows: ShellExecuteExW, the
// UTF-8 texts converted; natively a child process started with the same file,
// parameters and folder). The file is started by the path given: callers give
// a full path, so that nothing is looked for in the current folder.
#pragma once

#include <string>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

class CShell {
 public:
  CShell();
  CShell(const CShell&) = delete;
  CShell& operator=(const CShell&) = delete;

  // The file to start; the working folder becomes its folder, made absolute.
  void SetFile(const std::string& path);
  void SetParameters(const std::string& text);
  // Starts the file; with wait, waits for the program to end. A failure to
  // start is fatal: the program's error report, exit code 1.
  bool Execute(bool wait);
  // The same, but a failure to start is the caller's to handle: false, with
  // the system's code in *code (not null).
  bool Start(bool wait, int* code);

#ifdef _WIN32
  // The owner window and show state are set by the caller directly here.
  SHELLEXECUTEINFOW m_info;
#endif

  const std::string& GetFile() const {
    return m_file;
  }
  const std::string& GetParameters() const {
    return m_parameters;
  }
  const std::string& GetDirectory() const {
    return m_directory;
  }

 private:
  std::string m_file;
  std::string m_parameters;
  std::string m_directory;
#ifdef _WIN32
  // What m_info points into.
  std::wstring m_wideFile;
  std::wstring m_wideParameters;
  std::wstring m_wideDirectory;
#endif
};
