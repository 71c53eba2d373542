// The platform layer on POSIX systems (the native build): the clock,
// sleeping, the environment, shared libraries (dlopen), the program's own
// path, files and folders, errno, and the error box on standard error.
// Built in the native build only; PlatformWin.cpp is the Windows half.
#include "platform/Platform.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

extern char** environ;

namespace platform {

uint64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void SleepMs(unsigned ms) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ms / 1000);
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool GetEnv(const char* name, std::string* value) {
  const char* v = getenv(name);
  if (v == nullptr) {
    value->clear();
    return false;
  }
  value->assign(v);
  return true;
}

bool SetEnv(const char* name, const char* value) {
  if (value == nullptr) return unsetenv(name) == 0;
  return setenv(name, value, 1) == 0;
}

namespace {
// The environment as the process received it, taken before main runs.
const std::map<std::string, std::string>& StartupEnvironment() {
  static const std::map<std::string, std::string> copy = [] {
    std::map<std::string, std::string> m;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
      const char* eq = strchr(*e, '=');
      if (eq != nullptr) m.emplace(std::string(*e, static_cast<size_t>(eq - *e)), std::string(eq + 1));
    }
    return m;
  }();
  return copy;
}
const bool s_startupEnvironmentTaken = (StartupEnvironment(), true);
}  // namespace

const char* GetStartupEnv(const char* name) {
  const auto& env = StartupEnvironment();
  auto it = env.find(name);
  return it == env.end() ? nullptr : it->second.c_str();
}

bool HardenLibrarySearch() {
  return true;
}

void* LoadLibraryFile(const char* path) {
  if (path == nullptr || !IsFullPath(path)) return nullptr;
  std::string p(path);
  if (p.size() > 4 && p.compare(p.size() - 4, 4, ".dll") == 0) p.replace(p.size() - 4, 4, ".so");
  return dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetSymbol(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return dlsym(library, name);
}

void FreeLibraryHandle(void* library) {
  if (library != nullptr) dlclose(library);
}

KernelHandle::~KernelHandle() = default;  // none are made here

std::string GetProgramPath() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return std::string();
  return std::string(path, static_cast<size_t>(n));
}

std::string GetSystemFolder() {
  return std::string();
}

bool IsRelativePath(const char* path) {
  return path == nullptr || path[0] != '/';
}

bool IsFullPath(const char* path) {
  return path != nullptr && path[0] == '/';
}

bool PathExists(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0;
}

bool IsDirectory(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const char* path) {
  return mkdir(path, 0777) == 0 || IsDirectory(path);
}

bool RenameOver(const char* from, const char* to) {
  return rename(from, to) == 0;
}

bool RemoveFile(const char* path) {
  return unlink(path) == 0;
}

FILE* OpenFile(const char* path, const char* mode, bool* missing) {
  errno = 0;
  FILE* file = fopen(path, mode);
  if (missing != nullptr) *missing = file == nullptr && errno == ENOENT;
  return file;
}

bool FlushFile(FILE* file) {
  if (file == nullptr) return false;
  const bool flushed = fflush(file) == 0;
  return fsync(fileno(file)) == 0 && flushed;
}

bool SamePath(const std::string& a, const std::string& b) {
  return a == b;
}

std::string PathToDisplay(const std::string& path) {
  return path;
}

std::string AnsiSafePath(const std::string& path) {
  return path;
}

unsigned LastError() {
  return static_cast<unsigned>(errno);
}

void ClearLastError() {
  errno = 0;
}

void ShowErrorBox(const char* text, const char* caption) {
  fprintf(stderr, "[%s] %s\n", caption, text);
}

std::string WideToAnsi(const wchar_t* text) {
  // Natively the system has no ANSI code page: wide text becomes UTF-8, as
  // paths are. (The string table's texts have a code page of their own,
  // GetAnsiCodePage in support/Language.h.)
  std::string out;
  if (text == nullptr) return out;
  for (; *text != 0; ++text) {
    uint32_t c = static_cast<uint32_t>(*text);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace platform
