// The main window's settings buttons: Settings (the settings window), and
// Load, Save and Default for settings files. It is the view the settings
// model shows its messages through (ConfigView), and remembers the folder of
// the last settings file in the preferences.
//
// Main thread only. Nothing given is owned; all of it outlives this object.
// The buttons are owned by the window's control list.
#pragma once

#include <windows.h>

#include <string>

#include "settings/SoundConfig.h"
#include "ui/MainWindowDialogs.h"
#include "core/Preferences.h"
#include "ui/Window.h"

class ConfigWindow;

class SettingsButtons : public ConfigView {
 public:
  static constexpr int ID_SETTINGS = 110;
  static constexpr int ID_LOAD = 111;
  static constexpr int ID_SAVE = 112;
  static constexpr int ID_DEFAULT = 113;
  // The narrowest settings-file button, and the room beside a push button's
  // text for its frame and margins (96 DPI).
  static constexpr int FILE_BUTTON_WIDTH = 64;
  static constexpr int BUTTON_TEXT_ROOM = 16;

  // programFolder: "Quillon.bxa"'s folder with its trailing separator; the
  // settings-file dialogs fall back on it. configWindow may be null (no
  // settings window).
  SettingsButtons(Window& window, MainWindowDialogs& dialogs, Preferences& preferences,
                  const std::string& programFolder, SoundConfig& config, ConfigWindow* configWindow)
      : m_window(window),
        m_dialogs(dialogs),
        m_preferences(preferences),
        m_programFolder(programFolder),
        m_config(config),
        m_configWindow(configWindow) {}

  // Makes the four buttons with font at the screen's dpi; Settings is the
  // window's default button, the others plain push buttons.
  void CreateControls(HFONT font, int dpi);

  // The buttons' commands.
  void ShowSettings();
  void LoadSettings();
  void SaveSettings();
  void DefaultSettings();

  // ConfigView: each message in an error box with the hand icon, captioned
  // with the program's name; "not a settings file" also brought to the
  // foreground.
  void Tell(ConfigMessage message, const std::string& path) override;
  void RefreshControls() override;

 private:
  std::string SettingsFolder() const;
  void RememberSettingsFolder(const std::string& path);

  Window& m_window;
  MainWindowDialogs& m_dialogs;
  Preferences& m_preferences;
  const std::string m_programFolder;
  SoundConfig& m_config;
  ConfigWindow* m_configWindow;
};
