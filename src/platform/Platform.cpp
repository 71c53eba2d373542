#include "platform/Platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shlwapi.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
extern char** environ;
#endif

namespace platform {

#ifdef _WIN32

uint64_t MonotonicMs() {
  // The performance counter: GetTickCount64 moves in steps of up to 16 ms.
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart / frequency * 1000 + now.QuadPart % frequency * 1000 / frequency);
}

void SleepMs(unsigned ms) {
  Sleep(ms);
}

bool GetEnv(const char* name, std::string* value) {
  value->clear();
  DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0) {
    // Exists but empty, or missing: the last error tells them apart.
    return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  }
  std::vector<char> buffer(needed);
  DWORD got = GetEnvironmentVariableA(name, buffer.data(), needed);
  if (got == 0 || got >= needed) return false;
  value->assign(buffer.data(), got);
  return true;
}

bool SetEnv(const char* name, const char* value) {
  return SetEnvironmentVariableA(name, value) != FALSE;
}

const char* GetStartupEnv(const char* name) {
  return getenv(name);
}

void* LoadLibraryFile(const char* path) {
  return reinterpret_cast<void*>(LoadLibraryExA(path, nullptr, 0));
}

void* GetSymbol(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeLibraryHandle(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

std::string GetProgramPath() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return std::string(path, n);
}

bool IsRelativePath(const char* path) {
  return PathIsRelativeA(path) != FALSE;
}

bool IsDirectory(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(const char* path) {
  return CreateDirectoryA(path, nullptr) != FALSE || IsDirectory(path);
}

bool RenameOver(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool RemoveFile(const char* path) {
  return DeleteFileA(path) != FALSE;
}

unsigned LastError() {
  return GetLastError();
}

void ClearLastError() {
  SetLastError(0);
}

void ShowErrorBox(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_ICONHAND | MB_SETFOREGROUND);
}

std::string WideToAnsi(const wchar_t* text) {
  if (text == nullptr) return std::string();
  int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 1) return std::string();
  std::vector<char> buffer(static_cast<size_t>(needed));
  WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), needed, nullptr, nullptr);
  return std::string(buffer.data());
}

#else  // POSIX

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

void* LoadLibraryFile(const char* path) {
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

std::string GetProgramPath() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return std::string();
  return std::string(path, static_cast<size_t>(n));
}

bool IsRelativePath(const char* path) {
  return path == nullptr || path[0] != '/';
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
  // Natively the "ANSI" code page is UTF-8.
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

#endif

}  // namespace platform
