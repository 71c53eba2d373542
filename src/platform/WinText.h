// Windows only: the conversions between the program's UTF-8 paths and the
// system's UTF-16 ones, and libraries of the system bound at run time. Used
// by the platform layer and the Win32 shell (drops, file dialogs, registry).
// Defined in WinText.cpp.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <string>

namespace platform {

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const wchar_t* text);
std::string WideToUtf8(const wchar_t* text, size_t length);
// The path as the wide file functions take it: the long form ("\\?\" or
// "\\?\UNC\", made absolute) once it reaches LONG_PATH_FROM characters.
std::wstring SystemPath(const std::string& path);
// The path starts with the long form's "\\?\".
bool HasLongPrefix(const std::wstring& path);
// The path without a long-form prefix ("\\?\" or "\\?\UNC\"), as the
// program keeps it.
std::wstring WithoutLongPrefix(const std::wstring& path);
// SetDefaultDllDirectories and the LOAD_LIBRARY_SEARCH_* flags exist (Windows
// 8, or 7 with its update KB2533623).
bool LibrarySearchFlagsAvailable();
// A library of the system (name such as L"winmm.dll"), loaded by its full
// path in the system folder, never found anywhere else. Null when missing.
HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace platform

#endif
