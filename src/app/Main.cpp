// The program's entry: start-up in a fixed order, the message loop with its
// idle tick, and shutdown in the reverse order of what start-up made.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/Application.h"
#include "core/CaptureChoice.h"
#include "app/CaptureSources.h"
#include "core/IdleTick.h"
#include "app/RegistryMemory.h"
#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "capture/Adpcm.h"
#include "link/DeviceLink.h"
#include "platform/Platform.h"
#include "platform/WinText.h"
#include "resources/resource.h"
#include "settings/SoundConfig.h"
#include "support/Diag.h"
#include "support/Language.h"
#include "support/Log.h"
#include "support/LogFile.h"
#include "support/Registry.h"
#include "support/Strings.h"
#include "ui/ConfigWindow.h"
#include "ui/DownloadDialog.h"
#include "ui/Gdi.h"
#include "ui/MainWindow.h"
#include "core/Preferences.h"
#include "ui/Win32MessageBox.h"

namespace {

const char kRegistryKey[] = "Software\\VORLANE\\Quillon";

// The process-wide objects, owned here and deleted in a fixed order
// (Shutdown), and the start-up that builds them and starts the program.
class Application {
 public:
  Application(HINSTANCE instance, const StartupSystem& system) : startup(system), m_instance(instance) {}

  // Builds the parts in their order: the link's owner, ADPCM, the settings
  // model, the capture sources, the settings window and the main window,
  // which is handed all of them. False (logged) when no capture source could
  // be made: the program cannot run without one.
  bool Build(const std::string& programFolder, const std::string& logFolder);
  // Makes the main window and performs the start-up steps: the auto-saved
  // settings restored, the first debugger connected and the device program
  // auto-loaded onto it (both before the window is shown, from which on it
  // shows them), the controls made and the command line's files opened, in
  // order. False when the window could not be made.
  bool Start(const std::vector<std::wstring>& openPaths);

  Startup startup;  // the start-up steps, and COM's end
  CRegistry registry;
  RegistryMemory memory{registry};
  Preferences preferences{memory};  // the main window's remembered choices
  std::unique_ptr<MainWindow> mainWindow;
  std::unique_ptr<DeviceLink> deviceLink;
  std::unique_ptr<Adpcm> adpcm;
  std::unique_ptr<SoundConfig> soundConfig;
  std::unique_ptr<ConfigWindow> configWindow;
  CaptureChoice sources{memory};  // the sources and the current one
  ScopedGdiObject<HFONT> dialogFont;
  Win32DownloadUi downloadUi;
  Win32MessageBox messageBox;
  MainWindowDialogs dialogs;
  LogFile* logFile = nullptr;  // not owned; null before it is open

 private:
  HINSTANCE m_instance;
  int m_dpi = 96;
};

void RaiseProcessPriority() {
  HANDLE process = OpenProcess(PROCESS_SET_INFORMATION, FALSE, GetCurrentProcessId());
  if (process == nullptr) return;
  SetPriorityClass(process, HIGH_PRIORITY_CLASS);
  CloseHandle(process);
}

// The screen's DPI (the system's), which the windows start at; the program
// is per-monitor DPI aware where the system offers it (its manifest), and
// each window follows the DPI of the monitor it is moved to
// (WM_DPICHANGED).
int ScreenDpi() {
  return WindowDpi(nullptr);
}

// How long the idle ticks took: all of them, and those that began while a
// capture worker's write had been blocked a while (a device that stopped
// reading), when the main thread must not wait for it.
struct TickTimes {
  static constexpr uint64_t BLOCKED_MS = 100;
  uint64_t longestMs = 0;
  uint64_t longestBlockedMs = 0;
  uint64_t blockedTicks = 0;
};

// Runs one idle tick about every 10 ms while the queue is empty, and handles
// messages as soon as they arrive: between ticks the thread waits for input
// (MsgWaitForMultipleObjectsEx) until the next tick is due, so it neither
// wakes without cause nor keeps a message waiting for a sleep to end. The
// settings window's keys (Tab between boxes, Ctrl+Tab between pages, Enter
// in an edit box, Esc) go to it before the usual translation, and so do the
// main window's (Tab, Space, Enter and the buttons' mnemonics).
WPARAM RunMessageLoop(IdleTick& idle, ConfigWindow& configWindow, HWND mainWindow, const PacketLink& channel,
                      TickTimes* times) {
  constexpr uint64_t TICK_MS = 10;
  MSG msg = {};
  uint64_t nextTick = 0;
  for (;;) {
    uint64_t now = platform::MonotonicMs();
    if (now >= nextTick) {
      const bool blocked = channel.GetWriteBlockedMs() >= TickTimes::BLOCKED_MS;
      idle.Run();
      const uint64_t end = platform::MonotonicMs();
      const uint64_t took = end - now;
      if (took > times->longestMs) times->longestMs = took;
      if (blocked) {
        ++times->blockedTicks;
        if (took > times->longestBlockedMs) times->longestBlockedMs = took;
      }
      // The next tick comes 10 ms after this one ended, as after a sleep.
      now = end;
      nextTick = end + TICK_MS;
    }
    // Input already in the queue ends the wait at once; without input the
    // wait ends when the next tick is due, and the queue is known empty.
    const DWORD woken = MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(nextTick - now), QS_ALLINPUT,
                                                    MWMO_INPUTAVAILABLE);
    if (woken == WAIT_TIMEOUT) continue;
    // A wait the system refuses would spin: the loop sleeps instead, as it once did.
    if (woken == WAIT_FAILED) Sleep(static_cast<DWORD>(TICK_MS));
    // Every message waiting is handled before the next tick.
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return msg.wParam;
      if (configWindow.TranslateDialogMessage(&msg)) continue;
      if (mainWindow != nullptr && IsDialogMessageA(mainWindow, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

void Shutdown(Application& app, UINT exitCode) {
  if (app.deviceLink != nullptr && !app.deviceLink->Shutdown()) {
    // A capture worker is still blocked in a write to a device that stopped
    // reading: it uses the channel, its source and the host-I/O library, so
    // none of them may be freed. The settings and the log are written, then
    // the process ends at once: ExitProcess would run the libraries' unload
    // while the worker is cut off inside the host-I/O library, and an unload
    // that waits would hang the process invisibly, holding the debugger.
    Log("Shutdown: a write to the device is still blocked; the program ends without freeing the link\n");
    if (app.soundConfig != nullptr) app.soundConfig->SaveAutoSave();
    app.registry.Close();
    Log("Shutdown: settings and log written; ending with TerminateProcess (exit code %u)\n", exitCode);
    if (app.logFile != nullptr) app.logFile->Close();
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), exitCode);
  }
  app.sources.Clear();
  app.configWindow.reset();
  app.soundConfig.reset();
  app.deviceLink.reset();
  app.mainWindow.reset();
  app.adpcm.reset();

  app.registry.Close();
  app.dialogFont.Reset();
  app.startup.UninitializeCom();
}

bool Application::Build(const std::string& programFolder, const std::string& logFolder) {
  deviceLink = std::make_unique<DeviceLink>();
  deviceLink->Download().SetUi(&downloadUi);
  deviceLink->Init(0);
  adpcm = std::make_unique<Adpcm>();
  adpcm->Load();
  soundConfig = std::make_unique<SoundConfig>(&deviceLink->Link(), adpcm->IsLoaded(), programFolder);
  soundConfig->SetCapture(&sources);
  if (!startup.CreateSources(sources, adpcm.get(), &deviceLink->Link(), messageBox, LoadCaptureTexts())) {
    // Without a capture source the program cannot run: the log says why.
    Log("Start-up: no capture source; the program ends\n");
    return false;
  }
  sources.ChooseStartSource();
  configWindow = std::make_unique<ConfigWindow>(*soundConfig);

  m_dpi = ScreenDpi();
  MainWindow::Parts parts;
  parts.sources = &sources;
  parts.link = &deviceLink->Link();
  parts.session = &deviceLink->Session();
  parts.download = &deviceLink->Download();
  parts.config = soundConfig.get();
  parts.configWindow = configWindow.get();
  parts.preferences = &preferences;
  parts.dialogs = &dialogs;
  parts.programFolder = programFolder;
  parts.logFolder = logFolder;
  parts.dpi = m_dpi;
  mainWindow = std::make_unique<MainWindow>(parts);
  downloadUi.SetOwner(mainWindow.get());
  return true;
}

bool Application::Start(const std::vector<std::wstring>& openPaths) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  HICON icon = LoadIconA(m_instance, MAKEINTRESOURCEA(IDI_QUILLON));
  if (!mainWindow->Create(m_instance, icon)) return false;
  Startup::RestoreSettingsAndConnect(*mainWindow, *soundConfig, deviceLink->Session());
  mainWindow->Show();
  // The window owns the sources' message boxes (a dropped file that cannot
  // be played).
  messageBox.SetOwner(mainWindow->GetHwnd());
  dialogFont.Reset(MakeDialogFont(m_dpi));
  configWindow->Register(m_instance, icon, dialogFont.Get(), m_dpi);
  mainWindow->CreateControls(dialogFont.Get());
  // The command line's files are opened as dropped ones, in order.
  std::vector<std::string> files;
  for (const std::wstring& path : openPaths) files.push_back(platform::WideToUtf8(path.c_str(), path.size()));
  mainWindow->OpenFiles(files);
  return true;
}

}  // namespace

int RunApplication(HINSTANCE instance, const StartupSystem& system) {
  Application app(instance, system);

  SetWindowedMode(true);
  SetResourceInstance(instance);

  // The program's folder (the wide functions, the long form where needed);
  // without it the program says so and ends.
  const std::string programFolder = app.startup.FindProgramFolder();
  if (programFolder.empty()) return Startup::UNKNOWN_FOLDER_EXIT;

  // The files the program was asked to open, made full from the current
  // folder of this start.
  const std::vector<std::wstring> openPaths = Startup::CommandLinePaths(GetCommandLineW());

  // One program per folder: a second start brings the running one to the
  // front, hands it the files to open and ends, before it touches the log or
  // the settings (with 0, or HAND_OVER_FAILED_EXIT when the files did not
  // reach it).
  SingleInstance single;
  if (!single.Claim(programFolder, platform::Utf8ToWide(LoadResourceString(IDS_APP_NAME)))) {
    return single.HandOver(openPaths) ? 0 : SingleInstance::HAND_OVER_FAILED_EXIT;
  }

  // Diagnostics also go to a file, for a program started without a console.
  LogFile logFile;
  logFile.Open(LogFile::ProgramLogFolders(programFolder));
  ScopedLogSink logSink(logFile.IsOpen() ? &logFile : nullptr);
  app.logFile = &logFile;

  app.startup.ClearDebuggerVariables();

  RaiseProcessPriority();

  app.startup.InitializeCom();

  app.registry.Open(kRegistryKey);

  if (!app.Build(programFolder, logFile.GetFolder())) {
    Shutdown(app, Startup::NO_SOURCE_EXIT);
    return Startup::NO_SOURCE_EXIT;
  }

  WPARAM exitCode = 0;
  if (app.Start(openPaths)) {
    IdleTick idle(app.mainWindow->GetStatus(), app.deviceLink->Link(), app.deviceLink->Session(),
                  app.deviceLink->Download(), *app.soundConfig, app.sources, SystemClock());
    TickTimes times;
    exitCode = RunMessageLoop(idle, *app.configWindow, app.mainWindow->GetHwnd(), app.deviceLink->Link(), &times);
    Log("Idle ticks: %llu\n", static_cast<unsigned long long>(idle.GetTickCount()));
    Log("Longest idle tick: %llu ms; during blocked writes: %llu ms over %llu ticks\n",
        static_cast<unsigned long long>(times.longestMs), static_cast<unsigned long long>(times.longestBlockedMs),
        static_cast<unsigned long long>(times.blockedTicks));
    app.sources.StopCurrent();
  } else {
    // Without its window the program can do nothing: it says so and ends.
    app.startup.ReportNoWindow();
    exitCode = static_cast<WPARAM>(Startup::NO_WINDOW_EXIT);
  }

  Shutdown(app, static_cast<UINT>(exitCode));
  return static_cast<int>(exitCode);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything else loads: no library is looked for in the current
  // folder (a project share, Downloads) from here on.
  platform::HardenLibrarySearch();
  return RunApplication(instance, SystemStartup());
}
