// The capture choice's memory and the main window's preferences as maps,
// standing in for the registry.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "core/CaptureChoice.h"
#include "core/Preferences.h"

class MapMemory : public ChoiceMemory, public PreferenceStore {
 public:
  bool Recall(const std::string& name, std::string* value) override {
    auto found = values.find(name);
    if (found == values.end()) return false;
    *value = found->second;
    return true;
  }
  void Remember(const std::string& name, const std::string& value) override { values[name] = value; }
  bool RecallNumber(const std::string& name, uint32_t* value) override {
    auto found = numbers.find(name);
    if (found == numbers.end()) return false;
    *value = found->second;
    return true;
  }
  void RememberNumber(const std::string& name, uint32_t value) override { numbers[name] = value; }
  // Paths are texts, as in the registry.
  bool RecallPath(const std::string& name, std::string* value) override { return Recall(name, value); }
  void RememberPath(const std::string& name, const std::string& value) override { Remember(name, value); }

  std::map<std::string, std::string> values;
  std::map<std::string, uint32_t> numbers;
};
