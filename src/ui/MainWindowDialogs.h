// The main window's modal windows: message boxes, the settings-file dialogs
// and the About dialog; and the shell's window on the log folder. The program
// uses this class as it is; tests derive from it to answer instead of a user.
// Main thread only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

class MainWindowDialogs {
 public:
  virtual ~MainWindowDialogs() = default;
  // MessageBoxA with the given style.
  virtual void ShowMessage(HWND owner, const std::string& text, const std::string& caption, UINT style);
  // Room for the path the file dialogs return (characters).
  static constexpr size_t FILE_DIALOG_CHARS = 32768;
  // The open (save false) or save (save true) dialog for settings files,
  // starting in initialFolder (UTF-8). True with the chosen path (UTF-8) on OK.
  virtual bool AskSettingsFile(HWND owner, bool save, const std::string& initialFolder, std::string* path);
  virtual void RunAbout(HINSTANCE instance, HWND owner);
  // Shows a folder in the shell's file window.
  virtual void OpenFolder(HWND owner, const std::string& folder);
};
