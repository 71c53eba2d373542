// The main window's files to open: dropped on it (or on the settings
// window), named on the command line, or handed over by a second start of
// the program (WM_COPYDATA). All of them are opened by DropFiles.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "capture/SoundCaptureWaveFile.h"
#include "core/HandedPath.h"
#include "platform/Platform.h"
#include "platform/WinText.h"
#include "support/Log.h"
#include "support/Strings.h"
#include "ui/MainWindow.h"

void MainWindow::OnDropFiles(HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    // Wide, so that a name in any language comes whole. A name that cannot
    // be had, or that would not fit whole, is skipped rather than cut to
    // another file's name.
    const UINT needed = DragQueryFileW(drop, i, nullptr, 0);
    if (needed == 0 || needed >= DROP_PATH_CHARS) continue;
    std::vector<wchar_t> path(needed + 1, L'\0');
    const UINT length = DragQueryFileW(drop, i, path.data(), needed + 1);
    if (length == 0 || length != needed) continue;
    paths.push_back(platform::WideToUtf8(path.data(), length));
  }
  DragFinish(drop);
  DropFiles(paths);
}

void MainWindow::DropFiles(const std::vector<std::string>& paths) {
  CaptureChoice& choice = *m_parts.sources;
  SoundCaptureWaveFile* wave = choice.GetWaveFile();
  bool switchToWave = false;
  for (const std::string& path : paths) {
    if (GetExtension(path) == "wav") {
      if (wave != nullptr && wave->LoadWaveFile(path)) {
        wave->EnumerateDevices();
        switchToWave = true;
      }
    } else {
      // Anything else, "X.WAV" too, is taken for a settings file.
      m_parts.config->LoadAndApply(path);
    }
  }
  if (!switchToWave) return;
  if (wave == GetCurrentSource()) {
    m_selectors.RefreshDevices("");
  } else if (m_selectors.Exist()) {
    choice.SelectSource(choice.GetWaveFileIndex());
  }
}

bool MainWindow::OnCopyData(const COPYDATASTRUCT* data) {
  if (data == nullptr) return false;
  std::string path;
  const HandedPathFault fault = ReadHandedPath(data->dwData, data->lpData, data->cbData, &path);
  if (fault != HandedPathFault::NONE) {
    Log("Handed-over path refused: %s (%u bytes)\n", HandedPathFaultText(fault), static_cast<unsigned>(data->cbData));
    return false;
  }
  if (m_handedPaths.size() >= MAX_HANDED_PATHS) {
    Log("Handed-over path refused: %u are waiting already\n", static_cast<unsigned>(m_handedPaths.size()));
    return false;
  }
  Log("Handed over: %s\n", platform::PathToDisplay(path).c_str());
  // Opened after the sender has its answer: opening may show a message box,
  // which must not hold the other process.
  if (m_handedPaths.empty()) PostMessageA(m_hWnd, WM_OPEN_HANDED_FILES, 0, 0);
  m_handedPaths.push_back(std::move(path));
  return true;
}

void MainWindow::OpenHandedFiles() {
  // A message box of the window's creation may let the message through
  // before the controls exist: OpenFiles opens them then. Paths handed over
  // while files are being opened (a message box up) wait for the loop below.
  if (m_openingFiles || !m_selectors.Exist()) return;
  m_openingFiles = true;
  while (!m_handedPaths.empty()) {
    std::vector<std::string> paths;
    paths.swap(m_handedPaths);
    DropFiles(paths);
  }
  m_openingFiles = false;
}

void MainWindow::OpenFiles(const std::vector<std::string>& paths) {
  DropFiles(paths);
  OpenHandedFiles();
}
