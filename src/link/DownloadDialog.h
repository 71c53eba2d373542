// The Win32 side of program downloads: the modal download dialog (resource
// IDD_DOWNLOAD) with its 10 ms clock, and the loader tool started through the
// shell. The application makes one and hands it to the serial channel.
#pragma once

#include <windows.h>

#include <atomic>

#include "link/DownloadUi.h"

class Win32DownloadUi : public DownloadUi {
 public:
  // Message the download thread posts to end the dialog on its own thread.
  static constexpr UINT WM_DOWNLOAD_DONE = WM_APP + 0x51;

  void RunDownloadDialog(SerialChannel& channel, void* instance, void* parent) override;
  void SetDownloadText(void* dialog, const char* text) override;
  void EndDownloadDialog(void* dialog) override;
  void StartLoader(const std::string& tool, const std::string& parameters, void* parent) override;

  // The dialog while it runs (null otherwise), and its clock's ticks since it
  // opened.
  HWND GetDialog() const { return m_dialog.load(std::memory_order_relaxed); }
  int GetTicks() const { return m_ticks.load(std::memory_order_relaxed); }

 private:
  struct Context {
    Win32DownloadUi* ui;
    SerialChannel* channel;
  };
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

  std::atomic<HWND> m_dialog{nullptr};
  std::atomic<int> m_ticks{0};
};
