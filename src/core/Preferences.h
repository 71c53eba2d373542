// The choices the main window remembers from one run to the next: the
// folder the settings-file dialogs start in, the automatic download of the
// device program on connecting, and the sources' converter. They are kept as
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

  // The names of the values in the store.
  static constexpr const char* BXA_AUTO_LOAD = "Bxa Auto Load";
  static constexpr const char* CONVERTER = "Converter";
  static constexpr const char* SETTINGS_FOLDER = "Path Config";

 private:
  PreferenceStore& m_store;
};
