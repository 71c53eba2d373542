// Arbitrary bytes as the payload of a CONFIG packet from the device.
//
// Checks beyond "no crash": a payload of another size changes nothing; a
// record keeps the four fields that the PC decides, every list field names an
// entry of its list afterwards, the model can be saved and loaded again, and
// no value outside its item's range (or rounding) is ever taken.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzFolder.h"
#include "settings/SoundConfig.h"

namespace {
// The tokens' wall time, the same on every run.
class FixedClock : public Clock {
 public:
  uint64_t NowMs() override { return 0; }
  uint64_t NowMicros() override { return 0; }
  uint32_t SecondsSince1970() override { return 1234u; }
  void SleepMs(unsigned) override {}
};
void Require(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "settings_record_fuzzer: %s\n", what);
    abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = FuzzFolder();
  bool adpcm = size % 2 == 0;
  SoundConfig config(nullptr, adpcm, folder);
  FixedClock clock;
  config.SetClock(clock);
  config.NewStreamToken();
  SoundConfigData before = config.GetRecord();
  config.ApplyReceived(data, static_cast<int32_t>(size));
  SoundConfigData after = config.GetRecord();
  if (size != SOUND_CONFIG_SIZE) {
    Require(memcmp(&before, &after, sizeof before) == 0, "a payload of another size changed the record");
    if (size < SOUND_CONFIG_SIZE) return 0;
    // The first 280 bytes as a record of their own.
    config.ApplyReceived(data, static_cast<int32_t>(SOUND_CONFIG_SIZE));
    after = config.GetRecord();
  }
  Require(after.streamToken == before.streamToken && after.displayMode == before.displayMode &&
              after.samplingRate == before.samplingRate && after.waveFormat == before.waveFormat,
          "a field that the PC decides was taken over");
  for (int32_t i = 0; i < config.GetCount(); ++i) {
    SoundConfigItem& item = *config.GetItem(i);
    Require(!item.GetValue().empty(), "empty value");
    if (auto* list = dynamic_cast<ConfigList*>(&item)) {
      Require(list->FindEntry(item.GetValue()) >= 0, "a list value outside its list");
      item.StoreToRecord();  // asserts when the value names no entry
    }
  }
  SoundConfig other(nullptr, adpcm, folder);
  Require(other.LoadText(config.SaveText(), "received", true), "the saved record does not load");
  // Every value taken is one its item holds: its own rules leave it as it is
  // (a default is shown as written, "3.0", until a text is set).
  SoundConfig scratch(nullptr, adpcm, folder);
  for (int32_t i = 0; i < config.GetCount(); ++i) {
    const std::string value = config.GetItem(i)->GetValue();
    SoundConfigItem& probe = *scratch.GetItem(i);
    probe.SetText(value);
    Require(probe.GetValue() == value || value == probe.GetDefault(), "a value taken that its item cannot hold");
  }
  return 0;
}
