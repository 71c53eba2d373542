// The Windows text and path conversions of platform/WinText.h (UTF-8 and
// UTF-16, the long path form) and the loading of the system's own libraries.
// Built in the Windows builds only.
#include "platform/WinText.h"

#include <cwchar>

#include "platform/Platform.h"

namespace platform {

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
}  // namespace

bool HasLongPrefix(const std::wstring& path) {
  return path.compare(0, 4, kLongPrefix) == 0;
}

std::wstring WithoutLongPrefix(const std::wstring& path) {
  if (path.compare(0, 8, kLongUncPrefix) == 0) return L"\\\\" + path.substr(8);
  if (HasLongPrefix(path)) return path.substr(4);
  return path;
}

bool LibrarySearchFlagsAvailable() {
  static const bool available =
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories") != nullptr;
  return available;
}

std::wstring SystemPath(const std::string& path) {
  std::wstring wide = Utf8ToWide(path);
  if (wide.size() < LONG_PATH_FROM || HasLongPrefix(wide)) return wide;
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
  const DWORD flags = LibrarySearchFlagsAvailable() ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                                                    : LOAD_WITH_ALTERED_SEARCH_PATH;
  return LoadLibraryExW(path.c_str(), nullptr, flags);
}

}  // namespace platform
