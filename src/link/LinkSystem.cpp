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

bool PlatformLinkSystem::IsFullPath(const char* path) {
  return platform::IsFullPath(path);
}

std::string PlatformLinkSystem::ProgramFolder() {
  std::string folder = GetDirectory(platform::GetProgramPath());
  if (!folder.empty()) folder.pop_back();
  return folder;
}

std::string PlatformLinkSystem::SystemFolder() {
  return platform::GetSystemFolder();
}

std::string LinkSystem::JoinPath(std::initializer_list<const char*> parts) {
  std::string path;
  for (const char* part : parts) {
    if (!path.empty()) path += Separator();
    path += part;
  }
  return path;
}

namespace {
// A folder as PATH may give it: without surrounding quotes and trailing
// separators.
std::string CleanFolder(std::string folder) {
  if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"') folder = folder.substr(1, folder.size() - 2);
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}
}  // namespace

std::vector<std::string> LinkSystem::LibraryFolders() {
  std::vector<std::string> candidates = {ProgramFolder(), SystemFolder()};
  std::string path;
  if (GetEnv("PATH", &path)) {
    size_t from = 0;
    while (from <= path.size()) {
      size_t end = path.find(PathListSeparator(), from);
      if (end == std::string::npos) end = path.size();
      candidates.push_back(path.substr(from, end - from));
      from = end + 1;
    }
  }
  std::vector<std::string> folders;
  for (const std::string& candidate : candidates) {
    const std::string folder = CleanFolder(candidate);
    if (folder.empty() || folder.find('%') != std::string::npos || !IsFullPath(folder.c_str())) continue;
    bool known = false;
    for (const std::string& f : folders) known = known || f == folder;
    if (!known) folders.push_back(folder);
  }
  return folders;
}

bool LinkSystem::UsablePath(const std::string& path, std::string* problem) {
  std::string name;
  if (FindUnexpandedVariable(path, &name)) {
    *problem = "%" + name + "% is not set";
    return false;
  }
  if (!IsFullPath(path.c_str())) {
    *problem = "\"" + platform::PathToDisplay(path) + "\" is not a full path";
    return false;
  }
  return true;
}
