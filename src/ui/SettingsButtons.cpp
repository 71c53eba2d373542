#include "ui/SettingsButtons.h"

#include <algorithm>
#include <memory>

#include "platform/Platform.h"
#include "platform/WinText.h"
#include "resources/resource.h"
#include "support/Language.h"
#include "support/Strings.h"
#include "ui/ConfigWindow.h"
#include "ui/Gdi.h"

void SettingsButtons::CreateControls(HFONT font, int dpi) {
  auto add = [&](int id, int x, int y, int width, bool push, const std::string& text,
                 std::function<void()> onClicked) {
    auto button = std::make_unique<CWCButton>();
    if (push) button->SetStyle((button->GetStyle() & ~static_cast<DWORD>(BS_TYPEMASK)) | BS_PUSHBUTTON);
    button->onClicked = std::move(onClicked);
    CWCButton* added = m_window.AddAt(std::move(button), id, ScaledLength(x, dpi), ScaledLength(y, dpi),
                                      ScaledLength(width, dpi), ScaledLength(30, dpi), font);
    added->SetText(text);
  };
  add(ID_SETTINGS, 16, 168, 128, false, LoadResourceString(IDS_SETTINGS), [this] { ShowSettings(); });
  // The three settings-file buttons share one width, wide enough for the
  // widest of their texts in this font.
  const std::string fileTexts[3] = {LoadResourceString(IDS_LOAD), LoadResourceString(IDS_SAVE),
                                    LoadResourceString(IDS_DEFAULT)};
  int width = FILE_BUTTON_WIDTH;
  for (const std::string& text : fileTexts) width = std::max(width, LayoutTextWidth(font, text, dpi) + BUTTON_TEXT_ROOM);
  const int step = width + 6;
  add(ID_LOAD, 16, 210, width, true, fileTexts[0], [this] { LoadSettings(); });
  add(ID_SAVE, 16 + step, 210, width, true, fileTexts[1], [this] { SaveSettings(); });
  add(ID_DEFAULT, 16 + 2 * step, 210, width, true, fileTexts[2], [this] { DefaultSettings(); });
}

void SettingsButtons::ShowSettings() {
  if (m_configWindow != nullptr) m_configWindow->Show();
}

std::string SettingsButtons::SettingsFolder() const {
  std::string folder = m_config.ResolvePath(m_preferences.GetSettingsFolder());
  if (!platform::IsDirectory(folder.c_str())) folder = m_programFolder;
  return folder;
}

void SettingsButtons::RememberSettingsFolder(const std::string& path) {
  m_preferences.SetSettingsFolder(GetDirectory(path));
  // The dialog may have moved the current folder; relative paths of the
  // program mean its own folder.
  if (!m_programFolder.empty()) SetCurrentDirectoryW(platform::SystemPath(m_programFolder).c_str());
}

void SettingsButtons::LoadSettings() {
  std::string path;
  if (!m_dialogs.AskSettingsFile(m_window.GetHwnd(), false, SettingsFolder(), &path)) return;
  m_config.LoadAndApply(path);
  RememberSettingsFolder(path);
}

void SettingsButtons::SaveSettings() {
  std::string path;
  if (!m_dialogs.AskSettingsFile(m_window.GetHwnd(), true, SettingsFolder(), &path)) return;
  m_config.SaveFile(path);
  RememberSettingsFolder(path);
}

void SettingsButtons::DefaultSettings() {
  m_config.ApplyDefaults();
}

void SettingsButtons::Tell(ConfigMessage message, const std::string& path) {
  unsigned textId = IDS_COULD_NOT_OPEN;
  bool foreground = false;
  switch (message) {
    case ConfigMessage::CANNOT_OPEN:
      textId = IDS_COULD_NOT_OPEN;
      break;
    case ConfigMessage::NOT_SETTINGS_FILE:
      textId = IDS_NOT_SETTINGS_FILE;
      foreground = true;
      break;
    case ConfigMessage::CANNOT_SAVE:
      textId = IDS_COULD_NOT_OPEN_SAVE;
      break;
  }
  // The path is UTF-8; the message is ANSI text.
  m_dialogs.ShowMessage(m_window.GetHwnd(), FormatResourceString(textId, platform::PathToDisplay(path).c_str()),
                        LoadResourceString(IDS_APP_NAME), MB_ICONHAND | (foreground ? MB_SETFOREGROUND : 0u));
}

void SettingsButtons::RefreshControls() {
  if (m_configWindow != nullptr && m_configWindow->Exists()) m_configWindow->RefreshControls();
}
