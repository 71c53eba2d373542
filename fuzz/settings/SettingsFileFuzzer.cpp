// Arbitrary bytes as a settings file. The first byte chooses whether the
// wave-codec library counts as loaded; the rest is the file.
//
// Checks beyond "no crash": the load succeeds exactly when the text starts
// with the product name (after a UTF-8 byte-order mark, if any); every value
// it leaves is one that SetText keeps (or the default as written); and
// saving, loading and saving again is stable.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzFolder.h"
#include "settings/SoundConfig.h"

namespace {
void Require(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "settings_file_fuzzer: %s\n", what);
    abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string& folder = FuzzFolder();
  bool adpcm = (data[0] & 1) != 0;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  FILE* file = fopen((folder + "fuzz.cfg").c_str(), "wb");
  if (file == nullptr) return 0;
  fwrite(text.data(), 1, text.size(), file);
  fclose(file);

  SoundConfig config(nullptr, adpcm, folder);
  bool loaded = config.LoadFile("fuzz.cfg", true);
  std::string visible = text.substr(0, text.find('\0'));
  if (visible.compare(0, 3, "\xEF\xBB\xBF") == 0) visible.erase(0, 3);  // a UTF-8 byte-order mark is skipped
  Require(loaded == (visible.compare(0, 7, "Quillon") == 0), "load result does not follow the header");
  if (!loaded) return 0;

  for (int32_t i = 0; i < config.GetCount(); ++i) {
    SoundConfigItem& item = *config.GetItem(i);
    std::string value = item.GetValue();
    Require(!value.empty(), "empty value");
    item.SetText(value);
    Require(item.GetValue() == value || value == item.GetDefault(), "a loaded value that SetText changes");
  }

  std::string first = config.SaveText();
  SoundConfig second(nullptr, adpcm, folder);
  Require(second.LoadText(first, "first", true), "a saved text does not load");
  SoundConfigData a = config.GetRecord();
  SoundConfigData b = second.GetRecord();
  Require(memcmp(&a, &b, sizeof a) == 0, "the record changed over save and load");
  std::string again = second.SaveText();
  SoundConfig third(nullptr, adpcm, folder);
  Require(third.LoadText(again, "again", true), "a saved text does not load");
  Require(third.SaveText() == again, "save, load, save is not stable");
  return 0;
}
