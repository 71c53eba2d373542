// Starts another program through the shell (Windows: ShellExecuteExW, the
// UTF-8 texts converted; natively a child process started with the same file,
// parameters and folder). The file is started by the path given: callers give
// a full path, so that nothing is looked for in the current folder.
//
// Portable: the Windows-only part (the window that owns the shell's messages)
// is set through platform/ShellWindow.h.
#pragma once

#include <memory>
#include <string>

class CShell {
 public:
  CShell();
  ~CShell();
  CShell(const CShell&) = delete;
  CShell& operator=(const CShell&) = delete;

  // The file to start; the working folder becomes its folder, made absolute.
  void SetFile(const std::string& path);
  void SetParameters(const std::string& text);
  // The program's window is shown minimized rather than normally (Windows).
  void SetMinimized(bool minimized) { m_minimized = minimized; }
  // Starts the file; with wait, waits for the program to end. A failure to
  // start is fatal: the program's error report, exit code 1.
  bool Execute(bool wait);
  // The same, but a failure to start is the caller's to handle: false, with
  // the system's code in *code (not null).
  bool Start(bool wait, int* code);

  const std::string& GetFile() const {
    return m_file;
  }
  const std::string& GetParameters() const {
    return m_parameters;
  }
  const std::string& GetDirectory() const {
    return m_directory;
  }

  // The platform's part, defined by platform/ShellWindow.h on Windows.
  struct Native;
  Native& GetNative() { return *m_native; }

 private:
  std::string m_file;
  std::string m_parameters;
  std::string m_directory;
  bool m_minimized = false;
  std::unique_ptr<Native> m_native;
};
