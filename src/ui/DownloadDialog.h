// The Win32 side of program downloads: the modal download dialog (resource
// IDD_DOWNLOAD) with its 10 ms clock, and the loader tool started through the
// shell, both owned by the program's main window. The application makes one
// and hands it to the program download; the download thread reports to it,
// and what it reports before the dialog is up is kept until it is.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "link/DownloadUi.h"
#include "platform/Mutex.h"
#include "ui/Gdi.h"

class Window;

class Win32DownloadUi : public DownloadUi {
 public:
  // Message the download thread posts to end the dialog on its own thread.
  static constexpr UINT WM_DOWNLOAD_DONE = WM_APP + 0x51;

  // The window that owns the dialog, the loader tool and the message box,
  // and whose module holds the dialog (not owned; it may not have been
  // created yet). Null: no owner, and the program's own module.
  void SetOwner(const Window* owner) { m_owner = owner; }

  void PrepareDownloadDialog() override;
  void RunDownloadDialog() override;
  void SetDownloadText(const char* text) override;
  void EndDownloadDialog() override;
  bool StartLoader(const std::string& tool, const std::string& parameters, int* code) override;
  void ShowLoaderFailure(const std::string& tool, int code) override;

  // What the message box says when the loader tool (its path as shown)
  // could not be started, with the system's code.
  static std::string LoaderFailureText(const std::string& tool, int code);

  // The dialog while it runs (null otherwise), and its clock's ticks since it
  // opened.
  HWND GetDialog() const { return m_dialog.load(std::memory_order_relaxed); }
  int GetTicks() const { return m_ticks.load(std::memory_order_relaxed); }

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  // WM_INITDIALOG: false when the download already ended.
  bool OnDialogUp(HWND dialog);
  // WM_DPICHANGED: the dialog takes the suggested place; its client area,
  // controls and font are scaled from those it was made with (the font made
  // for the DPI before is freed).
  void OnDpiChanged(HWND dialog, int dpi, const RECT* suggested);
  HWND OwnerWindow() const;

  const Window* m_owner = nullptr;  // not owned; main thread

  // The dialog as it was made, which every other DPI scales, and the font
  // made for the DPI of the monitor it was moved to (freed when the dialog
  // ends). The dialog's thread only.
  static constexpr int ITEM_COUNT = 3;
  struct MadeLayout {
    int dpi = LAYOUT_DPI;
    SIZE client = {};
    RECT items[ITEM_COUNT] = {};
    LOGFONTA font = {};
  };
  MadeLayout m_made;
  ScopedGdiObject<HFONT> m_dpiFont;

  // Shared by the dialog's thread and the download thread.
  Mutex m_lock;
  HWND m_up = nullptr;   // the dialog once it is up, until it ends
  bool m_ended = false;  // the download reported its end
  std::string m_text;    // the last byte-count text reported
  std::atomic<HWND> m_dialog{nullptr};
  std::atomic<int> m_ticks{0};
};
