#include "SimProcess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/Platform.h"
#include "support/Strings.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {
constexpr int kStartMs = 60000;
constexpr int kStopMs = 15000;
}  // namespace

std::string SimBinFolder() {
  const std::string bin = GetDirectory(platform::GetProgramPath());
#ifdef _WIN32
  return bin + "..\\sim-bin\\";
#else
  return bin + "../sim-bin/";
#endif
}

std::string LibraryName(const std::string& base) {
#ifdef _WIN32
  return base + ".dll";
#else
  return base + ".so";
#endif
}

std::string SimulatorName() {
#ifdef _WIN32
  return "quill-devsim.exe";
#else
  return "quill-devsim";
#endif
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool CopyFileBytes(const std::string& from, const std::string& to, bool executable) {
  {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!in || !out) return false;
    out << in.rdbuf();
    if (!out) return false;
  }
#ifndef _WIN32
  if (executable) chmod(to.c_str(), 0755);
#else
  (void)executable;
#endif
  return true;
}

bool MakeFolder(const std::string& path) {
#ifdef _WIN32
  return CreateDirectoryA(path.c_str(), nullptr) != FALSE || GetLastError() == ERROR_ALREADY_EXISTS;
#else
  return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
#endif
}

std::string SimProcess::Output() const {
  return ReadFileText(m_workDir + "devsim.log");
}

bool SimProcess::Start(const std::string& simBin, const std::vector<std::string>& arguments,
                       const std::string& workDir) {
  Stop();
  m_workDir = workDir;
  const std::string portFile = workDir + "devsim.port";
  const std::string stopFile = workDir + "devsim.stop";
  const std::string logFile = workDir + "devsim.log";
  remove(portFile.c_str());
  remove(stopFile.c_str());
  std::vector<std::string> args = {
      simBin + SimulatorName(), "--listen", "127.0.0.1:0", "--port-file", portFile, "--stop-file", stopFile};
  args.insert(args.end(), arguments.begin(), arguments.end());

#ifdef _WIN32
  std::string commandLine;
  for (const std::string& a : args) commandLine += "\"" + a + "\" ";
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE log = CreateFileA(logFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "SimProcess: cannot create %s (error %lu)\n", logFile.c_str(), GetLastError());
    return false;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = log;
  startup.hStdError = log;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION info = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  const BOOL ok =
      CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
  const DWORD error = GetLastError();
  CloseHandle(log);
  if (!ok) {
    fprintf(stderr, "SimProcess: cannot start %s (error %lu)\n", args[0].c_str(), error);
    return false;
  }
  CloseHandle(info.hThread);
  m_process = info.hProcess;
#else
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const int rc = posix_spawn(&m_pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    fprintf(stderr, "SimProcess: cannot start %s (%s)\n", args[0].c_str(), strerror(rc));
    m_pid = 0;
    return false;
  }
#endif

  for (int waited = 0; waited < kStartMs; waited += 20) {
    const std::string text = ReadFileText(portFile);
    if (!text.empty() && text.back() == '\n') {
      m_port = static_cast<uint16_t>(std::stoul(text));
      return true;
    }
    platform::SleepMs(20);
  }
  fprintf(stderr, "SimProcess: no port in %s after %d ms\n", portFile.c_str(), kStartMs);
  Stop();
  return false;
}

void SimProcess::Kill() {
#ifdef _WIN32
  if (m_process == nullptr) return;
  TerminateProcess(m_process, 9);
  WaitForSingleObject(m_process, INFINITE);
  CloseHandle(m_process);
  m_process = nullptr;
#else
  if (m_pid == 0) return;
  kill(m_pid, SIGKILL);
  waitpid(m_pid, nullptr, 0);
  m_pid = 0;
#endif
}

bool SimProcess::Stop() {
  bool clean = true;
#ifdef _WIN32
  if (m_process == nullptr) return true;
  { std::ofstream(m_workDir + "devsim.stop") << "stop\n"; }
  if (WaitForSingleObject(m_process, kStopMs) != WAIT_OBJECT_0) {
    TerminateProcess(m_process, 9);
    WaitForSingleObject(m_process, INFINITE);
    clean = false;
  }
  CloseHandle(m_process);
  m_process = nullptr;
#else
  if (m_pid == 0) return true;
  { std::ofstream(m_workDir + "devsim.stop") << "stop\n"; }
  int status = 0;
  int waited = 0;
  while (waitpid(m_pid, &status, WNOHANG) == 0) {
    if (waited >= kStopMs) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, &status, 0);
      clean = false;
      break;
    }
    platform::SleepMs(20);
    waited += 20;
  }
  m_pid = 0;
#endif
  return clean;
}
