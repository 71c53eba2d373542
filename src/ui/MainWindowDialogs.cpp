#include "ui/MainWindowDialogs.h"

#include <commdlg.h>
#include <shellapi.h>

#include <vector>

#include "platform/WinText.h"
#include "ui/AboutDialog.h"

void MainWindowDialogs::ShowMessage(HWND owner, const std::string& text, const std::string& caption, UINT style) {
  MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}

bool MainWindowDialogs::AskSettingsFile(HWND owner, bool save, const std::string& initialFolder, std::string* path) {
  // Filter pairs, each text ended by a NUL, the list by a second one.
  static const wchar_t kFilter[] = L"*.cfg\0*.cfg\0All files(*.*)\0*.*\0";
  // Wide, so that a path in any language comes back whole; room for long
  // paths as well.
  std::vector<wchar_t> file(FILE_DIALOG_CHARS, L'\0');
  const std::wstring folder = platform::Utf8ToWide(initialFolder);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = kFilter;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = folder.c_str();
  ofn.lpstrDefExt = L"cfg";
  ofn.Flags = save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST;
  BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (!ok) return false;
  *path = platform::WideToUtf8(file.data());
  return true;
}

void MainWindowDialogs::RunAbout(HINSTANCE instance, HWND owner) {
  RunAboutDialog(instance, owner);
}

void MainWindowDialogs::OpenFolder(HWND owner, const std::string& folder) {
  ShellExecuteW(owner, L"open", platform::Utf8ToWide(folder).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
