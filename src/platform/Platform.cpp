#include "platform/Platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <shlwapi.h>

#include <cwchar>

#include "platform/WinText.h"
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

// --- Text and paths --------------------------------------------------------------

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::string WideToUtf8(const wchar_t* text, size_t length) {
  if (text == nullptr || length == 0) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
  return out;
}

std::string WideToUtf8(const wchar_t* text) {
  return text == nullptr ? std::string() : WideToUtf8(text, wcslen(text));
}

namespace {
const wchar_t kLongPrefix[] = L"\\\\?\\";
const wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

// The path without a long-form prefix, as the program keeps it.
std::wstring WithoutLongPrefix(const std::wstring& path) {
  if (path.compare(0, 8, kLongUncPrefix) == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, kLongPrefix) == 0) return path.substr(4);
  return path;
}

// Text in the ANSI code page; *lossy tells whether a character had to be
// replaced.
std::string WideToAnsiText(const std::wstring& wide, bool* lossy) {
  BOOL usedDefault = FALSE;
  if (lossy != nullptr) *lossy = false;
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  if (n <= 0) {
    if (lossy != nullptr) *lossy = true;
    return std::string();
  }
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr,
                      &usedDefault);
  if (lossy != nullptr) *lossy = usedDefault != FALSE;
  return out;
}

// SetDefaultDllDirectories and the LOAD_LIBRARY_SEARCH_* flags exist (Windows
// 8, or 7 with its update KB2533623).
bool SearchFlagsAvailable() {
  static const bool available =
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories") != nullptr;
  return available;
}
}  // namespace

std::wstring SystemPath(const std::string& path) {
  std::wstring wide = Utf8ToWide(path);
  if (wide.size() < LONG_PATH_FROM || wide.compare(0, 4, kLongPrefix) == 0) return wide;
  // The long form is taken as it is: made absolute and normalised first
  // ("/" and ".." resolved), which GetFullPathNameW does at any length.
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD got = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
  if (got == 0 || got >= needed) return wide;
  full.resize(got);
  if (full.compare(0, 2, L"\\\\") == 0) return kLongUncPrefix + full.substr(2);
  if (full.size() >= 3 && full[1] == L':') return kLongPrefix + full;
  return wide;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  std::wstring path(folder, n);
  path += L"\\";
  path += name;
  const DWORD flags = SearchFlagsAvailable() ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                                             : LOAD_WITH_ALTERED_SEARCH_PATH;
  return LoadLibraryExW(path.c_str(), nullptr, flags);
}

// --- Environment -------------------------------------------------------------

bool GetEnv(const char* name, std::string* value) {
  value->clear();
  const std::wstring wideName = Utf8ToWide(name);
  SetLastError(0);
  DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (needed == 0) {
    // Exists but empty, or missing: the last error tells them apart.
    return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  }
  std::vector<wchar_t> buffer(needed);
  DWORD got = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), needed);
  if (got == 0 || got >= needed) return false;
  *value = WideToUtf8(buffer.data(), got);
  return true;
}

bool SetEnv(const char* name, const char* value) {
  const std::wstring wideName = Utf8ToWide(name);
  if (value == nullptr) return SetEnvironmentVariableW(wideName.c_str(), nullptr) != FALSE;
  return SetEnvironmentVariableW(wideName.c_str(), Utf8ToWide(value).c_str()) != FALSE;
}

namespace {
std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The environment as the process received it, taken before main runs, by
// names in capitals (Windows' names match whatever their case).
const std::map<std::string, std::string>& StartupEnvironment() {
  static const std::map<std::string, std::string> copy = [] {
    std::map<std::string, std::string> m;
    wchar_t* block = GetEnvironmentStringsW();
    if (block == nullptr) return m;
    for (const wchar_t* e = block; *e != 0; e += wcslen(e) + 1) {
      // Entries such as "=C:=C:\\folder" (a drive's current folder) start
      // with '='; the name ends at the first '=' after it.
      const wchar_t* eq = wcschr(e + 1, L'=');
      if (eq == nullptr) continue;
      m.emplace(UpperAscii(WideToUtf8(e, static_cast<size_t>(eq - e))), WideToUtf8(eq + 1));
    }
    FreeEnvironmentStringsW(block);
    return m;
  }();
  return copy;
}
const bool s_startupEnvironmentTaken = (StartupEnvironment(), true);
}  // namespace

const char* GetStartupEnv(const char* name) {
  const auto& env = StartupEnvironment();
  auto it = env.find(UpperAscii(name));
  return it == env.end() ? nullptr : it->second.c_str();
}

// --- Libraries -----------------------------------------------------------------

bool HardenLibrarySearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  const bool defaults = setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) != FALSE;
  // Also where the default directories cannot be set: the current folder
  // leaves the standard search.
  SetDllDirectoryW(L"");
  return defaults;
}

void* LoadLibraryFile(const char* path) {
  if (path == nullptr || !IsFullPath(path)) return nullptr;
  const std::wstring wide = SystemPath(path);
  const DWORD flags = SearchFlagsAvailable() ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
                                             : LOAD_WITH_ALTERED_SEARCH_PATH;
  HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, flags);
  if (module == nullptr && wide.compare(0, 4, kLongPrefix) == 0) {
    // A loader that does not take the long form gets the short one, when
    // the file system keeps short names.
    wchar_t shortPath[MAX_PATH];
    const DWORD n = GetShortPathNameW(wide.c_str(), shortPath, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
      module = LoadLibraryExW(WithoutLongPrefix(std::wstring(shortPath, n)).c_str(), nullptr, flags);
    }
  }
  return reinterpret_cast<void*>(module);
}

void* GetSymbol(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeLibraryHandle(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

KernelHandle::~KernelHandle() {
  if (m_handle != nullptr) CloseHandle(m_handle);
}

// --- Files and folders -----------------------------------------------------------

std::string GetProgramPath() {
  // Any length: a buffer that the name fills is grown until it fits.
  for (DWORD size = MAX_PATH; size <= 32768 * 2; size *= 2) {
    std::vector<wchar_t> path(size);
    SetLastError(0);
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), size);
    if (n == 0) return std::string();
    if (n < size && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      return WideToUtf8(WithoutLongPrefix(std::wstring(path.data(), n)).c_str());
    }
  }
  return std::string();
}

std::string GetSystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return WideToUtf8(folder, n);
}

bool IsRelativePath(const char* path) {
  return PathIsRelativeW(Utf8ToWide(path).c_str()) != FALSE;
}

bool IsFullPath(const char* path) {
  if (path == nullptr) return false;
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  const char letter = static_cast<char>(path[0] | 0x20);
  if (letter >= 'a' && letter <= 'z' && path[1] == ':' && separator(path[2])) return true;
  return separator(path[0]) && separator(path[1]);
}

bool PathExists(const char* path) {
  return GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const char* path) {
  DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(const char* path) {
  return CreateDirectoryW(SystemPath(path).c_str(), nullptr) != FALSE || IsDirectory(path);
}

bool RenameOver(const char* from, const char* to) {
  return MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool RemoveFile(const char* path) {
  return DeleteFileW(SystemPath(path).c_str()) != FALSE;
}

FILE* OpenFile(const char* path, const char* mode, bool* missing) {
  errno = 0;
  FILE* file = _wfopen(SystemPath(path).c_str(), Utf8ToWide(mode).c_str());
  if (missing != nullptr) *missing = file == nullptr && errno == ENOENT;
  return file;
}

bool FlushFile(FILE* file) {
  if (file == nullptr) return false;
  const bool flushed = fflush(file) == 0;
  // _commit is FlushFileBuffers on the stream's handle.
  return _commit(_fileno(file)) == 0 && flushed;
}

bool SamePath(const std::string& a, const std::string& b) {
  const std::wstring wa = Utf8ToWide(a);
  const std::wstring wb = Utf8ToWide(b);
  return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(), static_cast<int>(wb.size()), TRUE) ==
         CSTR_EQUAL;
}

std::string PathToDisplay(const std::string& path) {
  return WideToAnsiText(Utf8ToWide(path), nullptr);
}

std::string AnsiSafePath(const std::string& path) {
  bool lossy = false;
  WideToAnsiText(Utf8ToWide(path), &lossy);
  if (!lossy) return path;
  std::vector<wchar_t> shortPath(32768);
  const DWORD n = GetShortPathNameW(SystemPath(path).c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
  if (n == 0 || n >= shortPath.size()) return std::string();
  const std::wstring form = WithoutLongPrefix(std::wstring(shortPath.data(), n));
  WideToAnsiText(form, &lossy);
  return lossy ? std::string() : WideToUtf8(form.c_str());
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

#endif

}  // namespace platform
