// One running program per program folder (Windows only). Two programs from
// the same folder would share the auto-save file, its temporary file, the log
// and the device link: a second start brings the running one's window to the
// front, hands it the files it was asked to open (HandOver) and ends, as
// Windows tools do.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class SingleInstance {
 public:
  // What Claim asks of the system besides the mutex (tests give fakes).
  struct System {
    // The running program's main window: a top-level window of class
    // className whose process (not this one) was started from folder; null
    // when there is none (yet).
    HWND (*findWindow)(const std::wstring& className, const std::string& folder);
    // Restores the window and brings it (or its last active popup) to the front.
    void (*bringToFront)(HWND window);
    // WaitForSingleObject.
    DWORD(WINAPI* wait)(HANDLE object, DWORD ms);
    // Hands one path to the window (WM_COPYDATA tagged HANDED_PATH_TAG, the
    // UTF-16 characters without their NUL); true when the window took it.
    bool (*handOver)(HWND window, const std::wstring& path);
  };
  // The system's: EnumWindows, SetForegroundWindow, WaitForSingleObject,
  // SendMessageTimeoutW.
  static const System& SystemCalls();

  explicit SingleInstance(const System& system = SystemCalls()) : m_system(system) {}
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;
  // Releases the claim (the system does so at the process's end anyway).
  ~SingleInstance();

  // Claims the program folder through a named mutex of the session
  // ("Local\VORLANE.Quillon.<hash of the folder>"). True when this program
  // is the only one there (or the one before has ended meanwhile). False
  // when another one runs from the folder: its main window (class
  // className) has been brought to the front, or did not appear within
  // waitMs (looked for every 100 ms of waiting for the mutex); the caller
  // then ends. A program before that ended without releasing the claim
  // (crashed: the mutex abandoned) leaves it to this one.
  bool Claim(const std::string& programFolder, const std::wstring& className, DWORD waitMs = 10000);

  // After a Claim that returned false: hands the paths (full ones) to the
  // running program's window, one message each, in order; it opens each as
  // a dropped file. True when there were none or the window took them all;
  // false when its window was not found or refused one (the rest are not
  // sent).
  bool HandOver(const std::vector<std::wstring>& paths);
  // The exit code of a second start whose paths did not reach the running
  // program.
  static constexpr int HAND_OVER_FAILED_EXIT = 1;

  // The mutex's name for a folder: the same for every spelling of it that
  // differs only in case.
  static std::wstring MutexName(const std::string& programFolder);

 private:
  System m_system;
  HANDLE m_mutex = nullptr;
  bool m_owned = false;
  HWND m_running = nullptr;  // the running program's window, once found
};
