// The operating-system services the device link uses: the environment,
// shared libraries and file checks. The program hands the link the platform's
// own (PlatformLinkSystem); tests hand it a fake to watch the library search
// and the KMC paths without touching the process.
#pragma once

#include <initializer_list>
#include <string>

class LinkSystem {
 public:
  virtual ~LinkSystem() = default;

  // The process environment as it is now. False when the variable is missing.
  virtual bool GetEnv(const char* name, std::string* value) = 0;
  // Sets a variable in the process environment.
  virtual void SetEnv(const char* name, const char* value) = 0;
  // Expands %NAME% from the environment the process started with.
  virtual std::string ExpandStartupText(const std::string& text) = 0;

  // Loads a shared library by path or name; null on failure.
  virtual void* OpenLibrary(const char* path) = 0;
  virtual void* FindSymbol(void* library, const char* name) = 0;
  virtual void CloseLibrary(void* library) = 0;

  // The file can be opened for reading.
  virtual bool IsReadable(const char* path) = 0;

  // The separator between a folder and a name in the paths the link builds:
  // "\" on Windows, "/" natively.
  static const char* Separator() {
#ifdef _WIN32
    return "\\";
#else
    return "/";
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
};
