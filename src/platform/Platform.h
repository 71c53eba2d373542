// The few operating-system services that the portable core needs: a clock,
// sleeping, the environment, shared libraries, the program's own path, the
// last system error and the error box of the fatal-error routine.
// Win32 on Windows, POSIX elsewhere; this folder and the Win32 shell are the
// only places that include system headers.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Milliseconds from an arbitrary start; never goes backwards.
uint64_t MonotonicMs();
void SleepMs(unsigned ms);

// The process environment as it is now (Windows: GetEnvironmentVariableA).
// Returns false when the variable does not exist.
bool GetEnv(const char* name, std::string* value);
// Sets a variable; a null value removes it.
bool SetEnv(const char* name, const char* value);
// The C runtime's copy of the environment, as the process received it at start:
// later SetEnv calls are not seen. Null when the variable did not exist.
const char* GetStartupEnv(const char* name);

// Shared libraries. The path is used as given (Windows: LoadLibraryExA with no
// flags). Natively a trailing ".dll" is replaced by ".so", so that one name
// serves both builds.
void* LoadLibraryFile(const char* path);
void* GetSymbol(void* library, const char* name);
void FreeLibraryHandle(void* library);

// Full path of the running program; empty when it cannot be had.
std::string GetProgramPath();
// PathIsRelativeA on Windows; natively, not starting with '/'.
bool IsRelativePath(const char* path);
// The path exists and is a directory.
bool IsDirectory(const char* path);
// Makes one directory (its parent must exist); true when it exists afterwards.
bool MakeDirectory(const char* path);
// Renames from to to, replacing an existing file to in one step (Windows:
// MoveFileExA with MOVEFILE_REPLACE_EXISTING; natively rename). Both paths
// should name the same folder. False, with to untouched, when it fails.
bool RenameOver(const char* from, const char* to);
// Deletes a file; false when it cannot (or does not exist).
bool RemoveFile(const char* path);

// GetLastError on Windows, errno elsewhere.
unsigned LastError();
void ClearLastError();

// Shows a modal error box without owner (Windows: MB_ICONHAND |
// MB_SETFOREGROUND). Natively the text goes to standard error.
void ShowErrorBox(const char* text, const char* caption);

// Converts UTF-16 (Windows) or wide text to the system's ANSI code page.
std::string WideToAnsi(const wchar_t* text);

}  // namespace platform
