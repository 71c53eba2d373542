#include "support/Shell.h"

#include "platform/Platform.h"
#include "platform/WinText.h"
#include "support/Diag.h"
#include "support/Strings.h"

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

// "Failed to start %s." in code page 932. Kept as these bytes on purpose, in
// every language: the fatal report has always shown them, and the support
// notes quote them.
static const char kStartFailed[] =
    "%s\x82\xcc\x8b\x4e\x93\xae\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42(%d)";

void CShell::SetFile(const std::string& path) {
  m_file = path;
  m_directory = MakeAbsolute(::GetDirectory(path));
#ifdef _WIN32
  m_wideFile = platform::Utf8ToWide(m_file);
  m_wideDirectory = platform::Utf8ToWide(m_directory);
  m_info.lpFile = m_wideFile.c_str();
  m_info.lpDirectory = m_wideDirectory.c_str();
#endif
}

void CShell::SetParameters(const std::string& text) {
  m_parameters = text;
#ifdef _WIN32
  m_wideParameters = platform::Utf8ToWide(m_parameters);
  m_info.lpParameters = m_wideParameters.c_str();
#endif
}

#ifdef _WIN32

CShell::CShell() {
  ZeroMemory(&m_info, sizeof(m_info));
  m_info.cbSize = sizeof(m_info);
  m_info.nShow = SW_SHOWNORMAL;
}

bool CShell::Start(bool wait, int* code) {
  if (wait) m_info.fMask |= SEE_MASK_NOCLOSEPROCESS;
  BOOL ok = ShellExecuteExW(&m_info);
  INT_PTR instance = reinterpret_cast<INT_PTR>(m_info.hInstApp);
  if (ok && instance > 32) {
    if (wait && m_info.hProcess != nullptr) {
      WaitForSingleObject(m_info.hProcess, INFINITE);
      CloseHandle(m_info.hProcess);
      m_info.hProcess = nullptr;
    }
    m_info.fMask &= ~static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS);
    return true;
  }
  m_info.fMask &= ~static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS);
  *code = static_cast<int>(instance);
  return false;
}

#else

CShell::CShell() = default;

bool CShell::Start(bool wait, int* code) {
  // The parameters are split by the shell, as a command line would be.
  std::string command = "cd '" + m_directory + "' 2>/dev/null; exec '" + m_file + "' " + m_parameters;
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  int rc = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ);
  if (rc == 0 && access(m_file.c_str(), X_OK) == 0) {
    if (wait) {
      int status = 0;
      waitpid(pid, &status, 0);
    }
    return true;
  }
  if (rc == 0) waitpid(pid, nullptr, 0);
  *code = rc == 0 ? 2 : rc;
  return false;
}

#endif

bool CShell::Execute(bool wait) {
  int code = 0;
  if (Start(wait, &code)) return true;
  // The report's source name "Shell" and function are kept on purpose: the
  // support notes match the report by them.
  SetErrorLocation("Shell", "CShell::Execute", __LINE__);
  Check(false, kStartFailed, platform::PathToDisplay(m_file).c_str(), code);
  return false;
}
