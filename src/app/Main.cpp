// The program's entry: start-up in a fixed order, the message loop with its
// idle tick, and shutdown in the reverse order of what start-up made.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/Application.h"
#include "app/IdleTick.h"
#include "app/StartWindow.h"
#include "platform/Platform.h"
#include "resources/resource.h"
#include "support/Diag.h"
#include "support/Language.h"
#include "support/Log.h"
#include "support/Registry.h"

namespace {

const char kRegistryKey[] = "Software\\VORLANE\\Quillon";

// The debugger vendor's variables: the host-I/O loader must not see values
// inherited from a debugger session that started this program.
const char* const kClearedVariables[] = {"KMC_PARTNER_KAVS", "KMC_KAVHOSTIO", "KMC_KAVHOSTIO_ORIGINAL",
                                         "KMC_KAVHOSTIO_IS_OLD_DLL"};

// The process-wide objects, owned here and deleted in a fixed order.
struct Application {
  HINSTANCE instance = nullptr;
  bool comInitialised = false;
  CRegistry registry;
  uint32_t bxaAutoLoad = 1;
  StartWindow* mainWindow = nullptr;
  HFONT dialogFont = nullptr;
};

void RaiseProcessPriority() {
  HANDLE process = OpenProcess(PROCESS_SET_INFORMATION, FALSE, GetCurrentProcessId());
  if (process == nullptr) return;
  SetPriorityClass(process, HIGH_PRIORITY_CLASS);
  CloseHandle(process);
}

HFONT MakeDialogFont() {
  LOGFONTA font = {};
  GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
  font.lfHeight = 14;
  font.lfWidth = 0;
  return CreateFontIndirectA(&font);
}

// Polls the queue; runs one idle tick and sleeps 10 ms whenever it is empty.
WPARAM RunMessageLoop(IdleTick& idle) {
  MSG msg = {};
  for (;;) {
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      idle.Run();
      Sleep(10);
      continue;
    }
    if (GetMessageA(&msg, nullptr, 0, 0) == 0 || msg.message == WM_QUIT) break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return msg.wParam;
}

}  // namespace

int RunApplication(HINSTANCE instance) {
  Application app;
  app.instance = instance;

  SetWindowedMode(true);
  SetResourceInstance(instance);

  for (const char* name : kClearedVariables) platform::SetEnv(name, nullptr);

  RaiseProcessPriority();

  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    Log("CoInitialize failed: hr = 0x%08x\n", static_cast<unsigned>(hr));
  } else {
    app.comInitialised = true;
  }

  app.registry.Open(kRegistryKey);
  if (!app.registry.GetDword("Bxa Auto Load", app.bxaAutoLoad)) app.bxaAutoLoad = 1;

  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  app.mainWindow = new StartWindow();

  HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUILLON));
  WPARAM exitCode = 0;
  if (app.mainWindow->Create(instance, icon)) {
    ShowWindow(app.mainWindow->GetHwnd(), SW_SHOW);
    UpdateWindow(app.mainWindow->GetHwnd());
    app.dialogFont = MakeDialogFont();
    app.mainWindow->CreateControls(app.dialogFont);

    IdleTick idle(*app.mainWindow);
    exitCode = RunMessageLoop(idle);
    Log("Idle ticks: %llu\n", static_cast<unsigned long long>(idle.GetTickCount()));
  }

  delete app.mainWindow;
  app.mainWindow = nullptr;

  app.registry.Close();
  if (app.dialogFont != nullptr) DeleteObject(app.dialogFont);
  if (app.comInitialised) CoUninitialize();
  return static_cast<int>(exitCode);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return RunApplication(instance);
}
