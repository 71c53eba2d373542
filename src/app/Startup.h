// The program's start-up steps that meet the system before its windows (the
// folder, the command line, the environment, COM, the capture sources), the
// steps once the main window exists (the settings restored, the first
// debugger connected), and the reports of a start-up that cannot go on. The
// system calls come in one table, so that every path of the steps runs in a
// test with fakes (Windows only).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class Adpcm;
class CaptureChoice;
class DebuggerSession;
class MainWindow;
class MessageBoxSink;
class PacketChannel;
class SoundConfig;
struct CaptureTexts;

struct StartupSystem {
  // The program file's full path; empty when it cannot be had.
  std::string (*programPath)();
  int(WINAPI* messageBox)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
  HRESULT(WINAPI* initializeCom)(LPVOID reserved, DWORD model);
  void(WINAPI* uninitializeCom)();
  // Sets a variable of the process's environment; null removes it.
  bool (*setEnv)(const char* name, const char* value);
  // Makes the capture sources into choice (CreateCaptureSources).
  void (*createSources)(CaptureChoice& choice, const Adpcm* adpcm, PacketChannel* channel, MessageBoxSink& messages,
                        const CaptureTexts& texts);
};

// The system's: platform::GetProgramPath, MessageBoxA, CoInitializeEx,
// CoUninitialize, platform::SetEnv and CreateCaptureSources.
const StartupSystem& SystemStartup();

class Startup {
 public:
  // The debugger vendor's variables, removed at start: the host-I/O loader
  // must not see values inherited from a debugger session that started this
  // program.
  static const char* const CLEARED_VARIABLES[4];

  // system (not owned) outlives the object.
  explicit Startup(const StartupSystem& system) : m_system(system) {}

  // The program's folder, of any length and in any language: the auto-save
  // file, the log, Quillon.bxa and the wave-codec library are there. Without
  // it they would be looked for in the current folder: refused. Empty when
  // it is unknown; the user has then been told, and the program ends with
  // exit code 1 (UNKNOWN_FOLDER_EXIT).
  static constexpr int UNKNOWN_FOLDER_EXIT = 1;
  std::string FindProgramFolder();

  // The files the program was asked to open (dropped on its icon, "Open
  // with", a shortcut's argument): the arguments of commandLine (as
  // GetCommandLineW gives it) split as Windows splits them
  // (CommandLineToArgvW: quotes, spaces, any language), the program's own
  // name left out and empty ones skipped, each made full from the current
  // folder (GetFullPathNameW), so that another process can open it too.
  static std::vector<std::wstring> CommandLinePaths(const wchar_t* commandLine);

  // Removes CLEARED_VARIABLES from the environment.
  void ClearDebuggerVariables();

  // COM for this thread (apartment threaded). A failure is logged and
  // start-up goes on without it (the Core Audio sources are then not
  // offered); true when COM was initialised.
  bool InitializeCom();
  // Ends COM on this thread if InitializeCom started it (once).
  void UninitializeCom();

  // Makes the capture sources into choice; false (logged) when none is
  // offered. The program then ends with NO_SOURCE_EXIT.
  static constexpr int NO_SOURCE_EXIT = 1;
  bool CreateSources(CaptureChoice& choice, const Adpcm* adpcm, PacketChannel* channel, MessageBoxSink& messages,
                     const CaptureTexts& texts);

  // Once the main window exists, before it is shown: the auto-saved
  // settings restored (SoundConfig::RestoreAutoSave), the first debugger
  // connected and the device program auto-loaded onto it, or the user told
  // that no box is connected; the caption then shows the link.
  static void RestoreSettingsAndConnect(MainWindow& window, SoundConfig& config, DebuggerSession& session);

  // The main window could not be made: logged, and the user told. The
  // program ends with NO_WINDOW_EXIT.
  static constexpr int NO_WINDOW_EXIT = 1;
  void ReportNoWindow();

 private:
  void ShowError(unsigned textId);

  const StartupSystem& m_system;
  bool m_comInitialised = false;
};
