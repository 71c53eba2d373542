// The capture choice's memory in the program's registry key (Windows).
#pragma once

#include <string>

#include "core/CaptureChoice.h"
#include "support/Registry.h"

class RegistryMemory : public ChoiceMemory {
 public:
  // registry (not owned) is open on the program's key and outlives this.
  explicit RegistryMemory(CRegistry& registry) : m_registry(registry) {}
  bool Recall(const std::string& name, std::string* value) override {
    return m_registry.GetString(name.c_str(), *value);
  }
  void Remember(const std::string& name, const std::string& value) override {
    m_registry.SetString(name.c_str(), value);
  }

 private:
  CRegistry& m_registry;
};
