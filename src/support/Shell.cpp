#include "support/Shell.h"

#ifdef _WIN32
#include "platform/ShellWindow.h"

#include <shellapi.h>
#endif

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
}

void CShell::SetParameters(const std::string& text) {
  m_parameters = text;
}

CShell::~CShell() = default;

#ifdef _WIN32

CShell::CShell() : m_native(std::make_unique<Native>()) {}

bool CShell::Start(bool wait, int* code) {
  const std::wstring file = platform::Utf8ToWide(m_file);
  const std::wstring parameters = platform::Utf8ToWide(m_parameters);
  const std::wstring directory = platform::Utf8ToWide(m_directory);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = wait ? SEE_MASK_NOCLOSEPROCESS : 0;
  info.hwnd = m_native->owner;
  info.lpFile = m_file.empty() ? nullptr : file.c_str();
  info.lpParameters = m_parameters.empty() ? nullptr : parameters.c_str();
  info.lpDirectory = m_file.empty() ? nullptr : directory.c_str();
  info.nShow = m_minimized ? SW_SHOWMINIMIZED : SW_SHOWNORMAL;
  BOOL ok = ShellExecuteExW(&info);
  INT_PTR instance = reinterpret_cast<INT_PTR>(info.hInstApp);
  if (ok && instance > 32) {
    if (wait && info.hProcess != nullptr) {
      WaitForSingleObject(info.hProcess, INFINITE);
      CloseHandle(info.hProcess);
    }
    return true;
  }
  *code = static_cast<int>(instance);
  return false;
}

#else

struct CShell::Native {};

CShell::CShell() : m_native(std::make_unique<Native>()) {}

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
