// A private folder for the files that the fuzzed model reads and writes,
// removed when the fuzzer exits. Also points the string loader at the table.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "support/Language.h"

inline const std::string& FuzzFolder() {
  static const std::string folder = [] {
    static int module;
    SetResourceInstance(&module);
    static char name[] = "/tmp/quillon-fuzz-XXXXXX";
    if (mkdtemp(name) == nullptr) abort();
    atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(name, ec);
    });
    return std::string(name) + "/";
  }();
  return folder;
}
