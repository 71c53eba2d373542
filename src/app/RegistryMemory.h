// What the program remembers in its registry key (Windows): the capture
// choice's names as strings, the main window's preferences as numbers
// (REG_DWORD) and paths.
#pragma once

#include <string>

#include "core/CaptureChoice.h"
#include "support/Registry.h"
#include "core/Preferences.h"

class RegistryMemory : public ChoiceMemory, public PreferenceStore {
 public:
  // registry (not owned) is open on the program's key and outlives this.
  explicit RegistryMemory(CRegistry& registry) : m_registry(registry) {}
  bool Recall(const std::string& name, std::string* value) override {
    return m_registry.GetString(name.c_str(), *value);
  }
  void Remember(const std::string& name, const std::string& value) override {
    m_registry.SetString(name.c_str(), value);
  }
  bool RecallNumber(const std::string& name, uint32_t* value) override {
    return m_registry.GetDword(name.c_str(), *value);
  }
  void RememberNumber(const std::string& name, uint32_t value) override { m_registry.SetDword(name.c_str(), value); }
  bool RecallPath(const std::string& name, std::string* value) override {
    return m_registry.GetPath(name.c_str(), *value);
  }
  void RememberPath(const std::string& name, const std::string& value) override {
    m_registry.SetPath(name.c_str(), value);
  }

 private:
  CRegistry& m_registry;
};
