// The operating-system services the device link uses: the environment,
// shared libraries and file checks. The program hands the link the platform's
// own (PlatformLinkSystem); tests hand it a fake to watch the library search
// and the KMC paths without touching the process.
//
// Libraries and tools are only ever loaded or started by a full path: a bare
// name is looked for by the link itself in the folders of LibraryFolders,
// never in the current folder, and a path that still holds %NAME% after its
// expansion, or that is not a full path, is not used (UsablePath).
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

class LinkSystem {
 public:
  virtual ~LinkSystem() = default;

  // The process environment as it is now. False when the variable is missing.
  virtual bool GetEnv(const char* name, std::string* value) = 0;
  // Sets a variable in the process environment.
  virtual void SetEnv(const char* name, const char* value) = 0;
  // Expands %NAME% from the environment the process started with.
  virtual std::string ExpandStartupText(const std::string& text) = 0;

  // Loads a shared library by its full path; null on failure (and for any
  // path that is not a full one).
  virtual void* OpenLibrary(const char* path) = 0;
  virtual void* FindSymbol(void* library, const char* name) = 0;
  virtual void CloseLibrary(void* library) = 0;

  // The file can be opened for reading.
  virtual bool IsReadable(const char* path) = 0;
  // The path names one place whatever the current folder is.
  virtual bool IsFullPath(const char* path) = 0;
  // The program's own folder and the system's library folder, without a
  // trailing separator; empty when unknown (natively there is no system
  // folder).
  virtual std::string ProgramFolder() = 0;
  virtual std::string SystemFolder() = 0;

  // Where a library named without a folder is looked for, in this order: the
  // program's folder, the system folder, the folders of PATH. Only full
  // paths, each once; never the current folder (a relative PATH entry such
  // as "." is left out, as is one with an unexpanded %NAME%).
  std::vector<std::string> LibraryFolders();
  // A path made from an expanded pattern can be used: false, with the reason
  // for the log, when it still holds a %NAME% reference (the variable is not
  // set: "%NAME% is not set") or is not a full path.
  bool UsablePath(const std::string& path, std::string* problem);

  // The separator between a folder and a name in the paths the link builds:
  // "\" on Windows, "/" natively.
  static const char* Separator() {
#ifdef _WIN32
    return "\\";
#else
    return "/";
#endif
  }
  // Between the folders of PATH: ';' on Windows, ':' natively.
  static char PathListSeparator() {
#ifdef _WIN32
    return ';';
#else
    return ':';
#endif
  }
  // The parts joined by the separator: "%NAME%\a\b...".
  static std::string JoinPath(std::initializer_list<const char*> parts);
};

// The process's own services, over the platform layer.
class PlatformLinkSystem : public LinkSystem {
 public:
  bool GetEnv(const char* name, std::string* value) override;
  void SetEnv(const char* name, const char* value) override;
  std::string ExpandStartupText(const std::string& text) override;
  void* OpenLibrary(const char* path) override;
  void* FindSymbol(void* library, const char* name) override;
  void CloseLibrary(void* library) override;
  bool IsReadable(const char* path) override;
  bool IsFullPath(const char* path) override;
  std::string ProgramFolder() override;
  std::string SystemFolder() override;
};
