// The few operating-system services that the portable core needs: a clock,
// sleeping, the environment, shared libraries, the program's own path, files
// and folders, the last system error and the error box of the fatal-error
// routine. PlatformWin.cpp defines them on Windows (the Windows builds only,
// with WinText.cpp beside it), PlatformPosix.cpp in the native build.
//
// Which files of src include <windows.h> themselves (scripts/check-layout
// keeps the list): this folder, the Win32 shell (src/ui, src/app), and the
// Windows-only thin files of the capture and the support code:
// src/capture/SoundCaptureWaveIn.cpp, SoundCaptureCoreAudio.cpp and
// WaveInFunctions.h, src/support/Registry.cpp, and src/support/Language.cpp
// in its Windows branch (the string table's loader). src/support/Shell.cpp
// gets it in its Windows branch through this folder's ShellWindow.h and
// WinText.h. Natively, besides this folder, src/support/Shell.cpp includes
// the POSIX process headers and src/support/Language.cpp <iconv.h>.
//
// Paths are UTF-8 text in every build. On Windows this layer hands them to the
// system's wide (UTF-16) functions, in the long form ("\\?\") once they reach
// LONG_PATH_FROM characters, so that a folder named in any language, or a deep
// one, works whatever the system's ANSI code page. Paths become ANSI text only
// to be shown (PathToDisplay) or handed to a library that takes narrow paths
// (AnsiSafePath).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Milliseconds from an arbitrary start; never goes backwards.
uint64_t MonotonicMs();
void SleepMs(unsigned ms);

// The process environment as it is now (Windows: GetEnvironmentVariableW),
// names and values in UTF-8. Returns false when the variable does not exist.
bool GetEnv(const char* name, std::string* value);
// Sets a variable; a null value removes it.
bool SetEnv(const char* name, const char* value);
// The environment as the process received it at start: later SetEnv calls
// are not seen. Null when the variable did not exist. Windows: names match
// whatever their case.
const char* GetStartupEnv(const char* name);

// Before anything else loads (the program's first step): libraries loaded by
// name are no longer looked for in the current folder (Windows:
// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) where kernel32
// has it, and SetDllDirectoryW("") in any case). True when the default
// directories could be set. Natively nothing to do.
bool HardenLibrarySearch();
// Shared libraries, by full path only: a relative path or a bare name (which
// the system would look for in the current folder among others) loads
// nothing. Windows: LoadLibraryExW with LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
// LOAD_LIBRARY_SEARCH_DEFAULT_DIRS where the system has them (the library's
// own dependencies come from its folder and the system's), else
// LOAD_WITH_ALTERED_SEARCH_PATH. Natively a trailing ".dll" is replaced by
// ".so", so that one name serves both builds.
void* LoadLibraryFile(const char* path);
void* GetSymbol(void* library, const char* name);
void FreeLibraryHandle(void* library);

// A kernel object's handle (the capture workers' events), owned: closed
// when the holder goes. Only Windows hands out such handles.
class KernelHandle {
 public:
  explicit KernelHandle(void* handle = nullptr) : m_handle(handle) {}
  ~KernelHandle();
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;
  void* Get() const { return m_handle; }

 private:
  void* m_handle;
};

// A library loaded by LoadLibraryFile, owned: freed when the holder goes or
// is reset.
class Library {
 public:
  Library() = default;
  ~Library() { Reset(); }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  void* Get() const { return m_handle; }
  void Reset(void* handle = nullptr) {
    if (m_handle != nullptr) FreeLibraryHandle(m_handle);
    m_handle = handle;
  }

 private:
  void* m_handle = nullptr;
};

// The longest path handed to the system in its plain form; longer ones go in
// the long form (CreateDirectory's limit, MAX_PATH - 12).
constexpr size_t LONG_PATH_FROM = 248;

// Full path of the running program, of any length; empty when it cannot be had.
std::string GetProgramPath();
// The system's library folder (Windows: GetSystemDirectoryW), without a
// trailing separator; natively empty.
std::string GetSystemFolder();
// PathIsRelativeW on Windows; natively, not starting with '/'.
bool IsRelativePath(const char* path);
// A path that names one place whatever the current folder and drive are:
// "X:\..." or "\\server\..." on Windows, "/..." natively.
bool IsFullPath(const char* path);
// The file or folder exists (its attributes can be read).
bool PathExists(const char* path);
// The path exists and is a directory.
bool IsDirectory(const char* path);
// Makes one directory (its parent must exist); true when it exists afterwards.
bool MakeDirectory(const char* path);
// Renames from to to, replacing an existing file to in one step and only
// returning once the change is on disk (Windows: MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH; natively rename). Both
// paths should name the same folder. False, with to untouched, when it fails.
bool RenameOver(const char* from, const char* to);
// Deletes a file; false when it cannot (or does not exist).
bool RemoveFile(const char* path);
// fopen for a UTF-8 path (Windows: _wfopen). On failure, *missing (when
// given) tells a file that does not exist from one that exists but cannot be
// opened (locked, no access, an offline placeholder).
FILE* OpenFile(const char* path, const char* mode, bool* missing = nullptr);
// Flushes a stream's buffers and the system's own to the disk (Windows:
// FlushFileBuffers; natively fsync). False when either failed.
bool FlushFile(FILE* file);
// The two paths name the same file (Windows: compared without regard to case).
bool SamePath(const std::string& a, const std::string& b);

// A path as text to show: in the system's ANSI code page, characters it lacks
// as '?'. Natively unchanged.
std::string PathToDisplay(const std::string& path);
// The path in a form whose characters all exist in the system's ANSI code
// page, still UTF-8, for a library or a program that takes narrow paths: the
// path itself when it has no other characters, else its short (8.3) form.
// Empty when there is no such form. Natively unchanged.
std::string AnsiSafePath(const std::string& path);

// GetLastError on Windows, errno elsewhere.
unsigned LastError();
void ClearLastError();

// Shows a modal error box without owner (Windows: MB_ICONHAND |
// MB_SETFOREGROUND). Natively the text goes to standard error.
void ShowErrorBox(const char* text, const char* caption);

// Converts UTF-16 to the system's ANSI code page (Windows). Natively, where
// the system has no ANSI code page, wide text becomes UTF-8, as paths are.
std::string WideToAnsi(const wchar_t* text);

}  // namespace platform
