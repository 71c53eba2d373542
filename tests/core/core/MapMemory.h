// The capture choice's memory as a map, standing in for the registry.
#pragma once

#include <map>
#include <string>

#include "core/CaptureChoice.h"

class MapMemory : public ChoiceMemory {
 public:
  bool Recall(const std::string& name, std::string* value) override {
    auto found = values.find(name);
    if (found == values.end()) return false;
    *value = found->second;
    return true;
  }
  void Remember(const std::string& name, const std::string& value) override { values[name] = value; }

  std::map<std::string, std::string> values;
};
