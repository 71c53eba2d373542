// The platform layer on Windows: the clock, sleeping, the environment,
// shared libraries, the program's own path, files and folders through the
// wide functions (paths converted by WinText.cpp), the last error and the
// error box. Built in the Windows builds only; PlatformPosix.cpp is the
// native half.
#include "platform/Platform.h"

#include <windows.h>
#include <io.h>
#include <shlwapi.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <map>
#include <vector>

#include "platform/WinText.h"

namespace platform {

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

namespace {
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
}  // namespace

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
  const DWORD flags = LibrarySearchFlagsAvailable()
                          ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
                          : LOAD_WITH_ALTERED_SEARCH_PATH;
  HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, flags);
  if (module == nullptr && HasLongPrefix(wide)) {
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

}  // namespace platform
