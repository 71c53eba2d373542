// The choices the main window remembers from one run to the next: the
// folder the settings-file dialogs start in, the automatic download of the
// device program on connecting, the sources' converter, and where the main
// window and the settings window were left. They are kept as
// named values in a store: the program's registry key (RegistryMemory), a map
// in tests. Portable; main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "capture/RateConverter.h"

// Named numbers and paths.
class PreferenceStore {
 public:
  virtual ~PreferenceStore() = default;
  // False when no number is stored under name.
  virtual bool RecallNumber(const std::string& name, uint32_t* value) = 0;
  virtual void RememberNumber(const std::string& name, uint32_t value) = 0;
  // A path in UTF-8, stored so that a folder named in any language survives.
  // False when none is stored under name.
  virtual bool RecallPath(const std::string& name, std::string* value) = 0;
  virtual void RememberPath(const std::string& name, const std::string& value) = 0;
};

class Preferences {
 public:
  // The store is not owned and outlives this object.
  explicit Preferences(PreferenceStore& store) : m_store(store) {}

  // Whether the device program is downloaded on connecting: the stored value
  // as it is (0 is off), 1 when none is stored.
  uint32_t GetBxaAutoLoad() const {
    uint32_t value = 0;
    return m_store.RecallNumber(BXA_AUTO_LOAD, &value) ? value : 1;
  }
  void SetBxaAutoLoad(uint32_t value) { m_store.RememberNumber(BXA_AUTO_LOAD, value); }

  // The converter the sources use; the band-limited one when none is stored.
  ConverterKind GetConverter() const {
    uint32_t value = 0;
    return ConverterKindFromValue(m_store.RecallNumber(CONVERTER, &value) ? value : 0);
  }
  void SetConverter(ConverterKind kind) { m_store.RememberNumber(CONVERTER, static_cast<uint32_t>(kind)); }

  // The folder of the last settings file loaded or saved; empty when none is
  // stored.
  std::string GetSettingsFolder() const {
    std::string folder;
    if (!m_store.RecallPath(SETTINGS_FOLDER, &folder)) folder.clear();
    return folder;
  }
  void SetSettingsFolder(const std::string& folder) { m_store.RememberPath(SETTINGS_FOLDER, folder); }

  // The windows whose places are remembered.
  enum class PlacedWindow { MAIN, SETTINGS };
  // The top-left corner of the window where it was last left, in screen
  // pixels (negative on a monitor left of or above the primary one). False
  // when either number is missing.
  bool GetWindowPosition(PlacedWindow window, int32_t* left, int32_t* top) const {
    uint32_t x = 0;
    uint32_t y = 0;
    if (!m_store.RecallNumber(LeftName(window), &x) || !m_store.RecallNumber(TopName(window), &y)) return false;
    *left = static_cast<int32_t>(x);
    *top = static_cast<int32_t>(y);
    return true;
  }
  void SetWindowPosition(PlacedWindow window, int32_t left, int32_t top) {
    m_store.RememberNumber(LeftName(window), static_cast<uint32_t>(left));
    m_store.RememberNumber(TopName(window), static_cast<uint32_t>(top));
  }

  // The names of the values in the store.
  static constexpr const char* BXA_AUTO_LOAD = "Bxa Auto Load";
  static constexpr const char* CONVERTER = "Converter";
  static constexpr const char* SETTINGS_FOLDER = "Path Config";
  // Each a number, the coordinate's 32 bits as they are.
  static constexpr const char* MAIN_WINDOW_LEFT = "Main Window Left";
  static constexpr const char* MAIN_WINDOW_TOP = "Main Window Top";
  static constexpr const char* SETTINGS_WINDOW_LEFT = "Config Window Left";
  static constexpr const char* SETTINGS_WINDOW_TOP = "Config Window Top";

 private:
  static const char* LeftName(PlacedWindow window) {
    return window == PlacedWindow::MAIN ? MAIN_WINDOW_LEFT : SETTINGS_WINDOW_LEFT;
  }
  static const char* TopName(PlacedWindow window) {
    return window == PlacedWindow::MAIN ? MAIN_WINDOW_TOP : SETTINGS_WINDOW_TOP;
  }

  PreferenceStore& m_store;
};
