#include "link/DownloadDialog.h"

#include <commctrl.h>

#include "link/DownloadDialogIds.h"
#include "link/SerialChannel.h"
#include "resources/resource.h"
#include "support/Language.h"
#include "support/Log.h"
#include "support/Shell.h"

void Win32DownloadUi::RunDownloadDialog(SerialChannel& channel, void* instance, void* parent) {
  Context context = {this, &channel};
  const INT_PTR result =
      DialogBoxParamA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(IDD_DOWNLOAD), static_cast<HWND>(parent),
                      &Win32DownloadUi::DialogProc, reinterpret_cast<LPARAM>(&context));
  if (result == -1) Log("DownloadGo dialog failed: last error is %lu\n", GetLastError());
  m_dialog.store(nullptr, std::memory_order_relaxed);
}

INT_PTR CALLBACK Win32DownloadUi::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* context = reinterpret_cast<Context*>(lParam);
      SetWindowLongPtrA(dialog, GWLP_USERDATA, static_cast<LONG_PTR>(lParam));
      if (!context->channel->BeginDownload(dialog)) {
        EndDialog(dialog, 2);
        return TRUE;
      }
      context->ui->m_dialog.store(dialog, std::memory_order_relaxed);
      SetDlgItemTextA(dialog, IDC_DOWNLOAD_TITLE, LoadResourceString(IDS_LOADING_BXA).c_str());
      ShowWindow(dialog, SW_SHOW);
      context->ui->m_ticks.store(0, std::memory_order_relaxed);
      SetTimer(dialog, DOWNLOAD_TIMER_ID, DOWNLOAD_TIMER_MS, nullptr);
      return TRUE;
    }
    case WM_TIMER: {
      auto* context = reinterpret_cast<Context*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
      if (wParam != DOWNLOAD_TIMER_ID || context == nullptr) return FALSE;
      // A clock, not a measure of the transfer: full after ten seconds.
      const int ticks = context->ui->m_ticks.load(std::memory_order_relaxed) + 1;
      context->ui->m_ticks.store(ticks, std::memory_order_relaxed);
      const int position = ticks < DOWNLOAD_PROGRESS_MAX / DOWNLOAD_PROGRESS_STEP ? ticks * DOWNLOAD_PROGRESS_STEP
                                                                                  : DOWNLOAD_PROGRESS_MAX;
      SendDlgItemMessageA(dialog, IDC_DOWNLOAD_PROGRESS, PBM_SETRANGE32, 0, DOWNLOAD_PROGRESS_MAX);
      SendDlgItemMessageA(dialog, IDC_DOWNLOAD_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
      return TRUE;
    }
    case WM_DOWNLOAD_DONE:
      KillTimer(dialog, DOWNLOAD_TIMER_ID);
      EndDialog(dialog, 1);
      return TRUE;
    default:
      return FALSE;
  }
}

void Win32DownloadUi::SetDownloadText(void* dialog, const char* text) {
  if (dialog != nullptr) SetDlgItemTextA(static_cast<HWND>(dialog), IDC_DOWNLOAD_BYTES, text);
}

void Win32DownloadUi::EndDownloadDialog(void* dialog) {
  // Timers and the dialog's end belong to the dialog's own thread: ask it.
  HWND window = static_cast<HWND>(dialog);
  if (window == nullptr) return;
  while (!PostMessageA(window, WM_DOWNLOAD_DONE, 0, 0) && IsWindow(window)) Sleep(10);
}

void Win32DownloadUi::StartLoader(const std::string& tool, const std::string& parameters, void* parent) {
  CShell shell;
  shell.SetFile(tool);
  shell.SetParameters(parameters);
  shell.m_info.hwnd = static_cast<HWND>(parent);
  shell.m_info.nShow = SW_SHOWMINIMIZED;
  shell.Execute(false);
}
