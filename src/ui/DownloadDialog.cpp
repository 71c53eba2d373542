#include "ui/DownloadDialog.h"

#include <commctrl.h>

#include "resources/resource.h"
#include "support/Language.h"
#include "support/Log.h"
#include "platform/ShellWindow.h"
#include "ui/DownloadDialogIds.h"
#include "ui/Window.h"

void Win32DownloadUi::PrepareDownloadDialog() {
  ScopedMutex lock(m_lock);
  m_up = nullptr;
  m_ended = false;
  m_text.clear();
}

HWND Win32DownloadUi::OwnerWindow() const {
  return m_owner != nullptr ? m_owner->GetHwnd() : nullptr;
}

void Win32DownloadUi::RunDownloadDialog() {
  const HINSTANCE instance = m_owner != nullptr ? m_owner->GetInstance() : GetModuleHandleA(nullptr);
  const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_DOWNLOAD), OwnerWindow(),
                                         &Win32DownloadUi::DialogProc, reinterpret_cast<LPARAM>(this));
  if (result == -1) Log("DownloadGo dialog failed: last error is %lu\n", GetLastError());
  m_dpiFont.Reset();
  ScopedMutex lock(m_lock);
  m_up = nullptr;
  m_dialog.store(nullptr, std::memory_order_relaxed);
}

bool Win32DownloadUi::OnDialogUp(HWND dialog) {
  std::string text;
  {
    ScopedMutex lock(m_lock);
    if (m_ended) return false;
    m_up = dialog;
    text = m_text;
  }
  m_dialog.store(dialog, std::memory_order_relaxed);
  SetDlgItemTextA(dialog, IDC_DOWNLOAD_TITLE, LoadResourceString(IDS_LOADING_BXA).c_str());
  if (!text.empty()) SetDlgItemTextA(dialog, IDC_DOWNLOAD_BYTES, text.c_str());
  // What a move to another DPI scales from.
  m_made = MadeLayout();
  m_made.dpi = WindowDpi(dialog);
  RECT client = {};
  GetClientRect(dialog, &client);
  m_made.client = {client.right, client.bottom};
  const int ids[ITEM_COUNT] = {IDC_DOWNLOAD_PROGRESS, IDC_DOWNLOAD_BYTES, IDC_DOWNLOAD_TITLE};
  for (int i = 0; i < ITEM_COUNT; ++i) {
    GetWindowRect(GetDlgItem(dialog, ids[i]), &m_made.items[i]);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&m_made.items[i]), 2);
  }
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
  if (font == nullptr || GetObjectA(font, sizeof(m_made.font), &m_made.font) == 0) {
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(m_made.font), &m_made.font);
  }
  return true;
}

void Win32DownloadUi::OnDpiChanged(HWND dialog, int dpi, const RECT* suggested) {
  if (dpi <= 0) return;
  MoveDialogToDpi(dialog, suggested, m_made.client, m_made.dpi, dpi);
  auto scale = [&](LONG length) { return MulDiv(length, dpi, m_made.dpi); };
  LOGFONTA made = m_made.font;
  made.lfHeight = scale(made.lfHeight);
  made.lfWidth = 0;
  HFONT font = CreateFontIndirectA(&made);
  const int ids[ITEM_COUNT] = {IDC_DOWNLOAD_PROGRESS, IDC_DOWNLOAD_BYTES, IDC_DOWNLOAD_TITLE};
  for (int i = 0; i < ITEM_COUNT; ++i) {
    const RECT& item = m_made.items[i];
    HWND control = GetDlgItem(dialog, ids[i]);
    MoveWindow(control, scale(item.left), scale(item.top), scale(item.right - item.left), scale(item.bottom - item.top),
               TRUE);
    if (font != nullptr) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  // The dialog's own font stays its template's (the dialog frees that one);
  // the one made for the DPI before is freed now that no control holds it.
  if (font != nullptr) m_dpiFont.Reset(font);
}

INT_PTR CALLBACK Win32DownloadUi::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* ui = reinterpret_cast<Win32DownloadUi*>(lParam);
      SetWindowLongPtrA(dialog, GWLP_USERDATA, static_cast<LONG_PTR>(lParam));
      if (!ui->OnDialogUp(dialog)) {
        // The download ended before the dialog came up.
        EndDialog(dialog, 1);
        return TRUE;
      }
      ShowWindow(dialog, SW_SHOW);
      ui->m_ticks.store(0, std::memory_order_relaxed);
      SetTimer(dialog, DOWNLOAD_TIMER_ID, DOWNLOAD_TIMER_MS, nullptr);
      return TRUE;
    }
    case WM_TIMER: {
      auto* ui = reinterpret_cast<Win32DownloadUi*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
      if (wParam != DOWNLOAD_TIMER_ID || ui == nullptr) return FALSE;
      // A clock, not a measure of the transfer: full after ten seconds.
      const int ticks = ui->m_ticks.load(std::memory_order_relaxed) + 1;
      ui->m_ticks.store(ticks, std::memory_order_relaxed);
      const int position = ticks < DOWNLOAD_PROGRESS_MAX / DOWNLOAD_PROGRESS_STEP ? ticks * DOWNLOAD_PROGRESS_STEP
                                                                                  : DOWNLOAD_PROGRESS_MAX;
      SendDlgItemMessageA(dialog, IDC_DOWNLOAD_PROGRESS, PBM_SETRANGE32, 0, DOWNLOAD_PROGRESS_MAX);
      SendDlgItemMessageA(dialog, IDC_DOWNLOAD_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
      return TRUE;
    }
    case WM_DPICHANGED: {
      auto* ui = reinterpret_cast<Win32DownloadUi*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
      if (ui != nullptr) ui->OnDpiChanged(dialog, DpiChangedDpi(wParam), reinterpret_cast<const RECT*>(lParam));
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

void Win32DownloadUi::SetDownloadText(const char* text) {
  HWND up = nullptr;
  {
    ScopedMutex lock(m_lock);
    m_text = text;
    up = m_up;
  }
  // Outside the lock: the text is sent to the dialog's own thread.
  if (up != nullptr) SetDlgItemTextA(up, IDC_DOWNLOAD_BYTES, text);
}

void Win32DownloadUi::EndDownloadDialog() {
  HWND up = nullptr;
  {
    ScopedMutex lock(m_lock);
    m_ended = true;
    up = m_up;
  }
  // Timers and the dialog's end belong to the dialog's own thread: ask it.
  if (up == nullptr) return;
  while (!PostMessageA(up, WM_DOWNLOAD_DONE, 0, 0) && IsWindow(up)) Sleep(10);
}

bool Win32DownloadUi::StartLoader(const std::string& tool, const std::string& parameters, int* code) {
  CShell shell;
  shell.SetFile(tool);
  shell.SetParameters(parameters);
  shell.GetNative().owner = OwnerWindow();
  shell.SetMinimized(true);
  return shell.Start(false, code);
}

std::string Win32DownloadUi::LoaderFailureText(const std::string& tool, int code) {
  return FormatResourceString(IDS_LOADER_FAILED, tool.c_str(), code);
}

void Win32DownloadUi::ShowLoaderFailure(const std::string& tool, int code) {
  const std::string text = LoaderFailureText(tool, code);
  MessageBoxA(OwnerWindow(), text.c_str(), LoadResourceString(IDS_APP_NAME).c_str(), MB_ICONHAND | MB_SETFOREGROUND);
}
