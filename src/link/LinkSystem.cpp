#include "link/LinkSystem.h"

#include "platform/Platform.h"
#include "support/File.h"
#include "support/Strings.h"

bool PlatformLinkSystem::GetEnv(const char* name, std::string* value) {
  return platform::GetEnv(name, value);
}

void PlatformLinkSystem::SetEnv(const char* name, const char* value) {
  platform::SetEnv(name, value);
}

std::string PlatformLinkSystem::ExpandStartupText(const std::string& text) {
  return ExpandEnvironmentText(text);
}

void* PlatformLinkSystem::OpenLibrary(const char* path) {
  return platform::LoadLibraryFile(path);
}

void* PlatformLinkSystem::FindSymbol(void* library, const char* name) {
  return platform::GetSymbol(library, name);
}

void PlatformLinkSystem::CloseLibrary(void* library) {
  platform::FreeLibraryHandle(library);
}

bool PlatformLinkSystem::IsReadable(const char* path) {
  return CFile::FileExists(path);
}

std::string LinkSystem::JoinPath(std::initializer_list<const char*> parts) {
  std::string path;
  for (const char* part : parts) {
    if (!path.empty()) path += Separator();
    path += part;
  }
  return path;
}
