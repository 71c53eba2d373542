// Windows only: the conversions between the program's UTF-8 paths and the
// system's UTF-16 ones, and libraries of the system bound at run time. Used
// by the platform layer and the Win32 shell (drops, file dialogs, registry).
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
// A library of the system (name such as L"winmm.dll"), loaded by its full
// path in the system folder, never found anywhere else. Null when missing.
HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace platform

#endif
