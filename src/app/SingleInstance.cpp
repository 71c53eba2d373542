#include "app/SingleInstance.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/HandedPath.h"
#include "platform/Platform.h"
#include "platform/WinText.h"
#include "support/Strings.h"

namespace {

// The running program's main window: a top-level window of the class whose
// process was started from the same folder.
struct Search {
  std::wstring className;
  std::string folder;
  HWND found = nullptr;
};

std::string ProcessFolder(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return std::string();
  std::vector<wchar_t> path(32768);
  DWORD size = static_cast<DWORD>(path.size());
  const BOOL ok = QueryFullProcessImageNameW(process, 0, path.data(), &size);
  CloseHandle(process);
  if (!ok) return std::string();
  return GetDirectory(platform::WideToUtf8(path.data(), size));
}

BOOL CALLBACK FindWindowOfFolder(HWND hwnd, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  wchar_t name[256] = {};
  if (GetClassNameW(hwnd, name, 256) == 0 || search->className != name) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == GetCurrentProcessId()) return TRUE;
  if (!platform::SamePath(ProcessFolder(pid), search->folder)) return TRUE;
  search->found = hwnd;
  return FALSE;
}

HWND FindProgramWindow(const std::wstring& className, const std::string& folder) {
  Search search;
  search.className = className;
  search.folder = folder;
  EnumWindows(&FindWindowOfFolder, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void BringToFront(HWND hwnd) {
  if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
  // A dialog of the window's (a message box, the download) comes along.
  HWND popup = GetLastActivePopup(hwnd);
  SetForegroundWindow(popup != nullptr ? popup : hwnd);
}

// The running program queues the path and answers at once; one that hangs
// is given up on after HAND_OVER_MS rather than holding this start.
constexpr UINT HAND_OVER_MS = 10000;

bool SendPath(HWND hwnd, const std::wstring& path) {
  if (path.empty() || path.size() > HANDED_PATH_MAX_CHARS) return false;
  COPYDATASTRUCT data = {};
  data.dwData = HANDED_PATH_TAG;
  data.cbData = static_cast<DWORD>(path.size() * sizeof(wchar_t));
  data.lpData = const_cast<wchar_t*>(path.data());
  DWORD_PTR taken = FALSE;
  if (SendMessageTimeoutW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, HAND_OVER_MS,
                          &taken) == 0) {
    return false;
  }
  return taken == TRUE;
}

}  // namespace

const SingleInstance::System& SingleInstance::SystemCalls() {
  static const System system = {&FindProgramWindow, &BringToFront, &WaitForSingleObject, &SendPath};
  return system;
}

SingleInstance::~SingleInstance() {
  if (m_mutex == nullptr) return;
  if (m_owned) ReleaseMutex(m_mutex);
  CloseHandle(m_mutex);
}

std::wstring SingleInstance::MutexName(const std::string& programFolder) {
  // FNV-1a over the folder in capitals, as UTF-16: names may not hold "\".
  std::wstring folder = platform::Utf8ToWide(programFolder);
  if (!folder.empty()) CharUpperBuffW(&folder[0], static_cast<DWORD>(folder.size()));
  uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : folder) {
    hash = (hash ^ (static_cast<uint64_t>(c) & 0xFF)) * 1099511628211ull;
    hash = (hash ^ (static_cast<uint64_t>(c) >> 8)) * 1099511628211ull;
  }
  wchar_t name[64];
  swprintf(name, 64, L"Local\\VORLANE.Quillon.%016llx", static_cast<unsigned long long>(hash));
  return name;
}

bool SingleInstance::Claim(const std::string& programFolder, const std::wstring& className, DWORD waitMs) {
  m_mutex = CreateMutexW(nullptr, TRUE, MutexName(programFolder).c_str());
  if (m_mutex == nullptr) return true;  // no way to tell: runs, as before
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    m_owned = true;
    return true;
  }
  // Another program holds the folder. Its window may not be up yet: looked
  // for until it is, unless that program ends meanwhile (the mutex then
  // comes to this one).
  for (DWORD waited = 0;; waited += 100) {
    const HWND found = m_system.findWindow(className, programFolder);
    if (found != nullptr) {
      m_running = found;
      m_system.bringToFront(found);
      return false;
    }
    const DWORD r = m_system.wait(m_mutex, 100);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
      m_owned = true;
      return true;
    }
    if (waited >= waitMs) return false;
  }
}

bool SingleInstance::HandOver(const std::vector<std::wstring>& paths) {
  if (paths.empty()) return true;
  if (m_running == nullptr) return false;
  for (const std::wstring& path : paths) {
    if (!m_system.handOver(m_running, path)) return false;
  }
  return true;
}
