#include "settings/ConfigItems.h"

#include "settings/WaveFormatNames.h"
#include "support/Diag.h"

namespace {
const char* const DISPLAY_MODES[] = {"Analyzer", "Config"};
}  // namespace

// Without the wave-codec library the entry at position 1 is hidden and every
// later entry moves up by one (for DisplayMode, none is left after it).
std::string DisplayMode::GetEntry(uint32_t index) const {
  if (!m_adpcmLoaded && index >= 1) return std::string();
  return EntryOf(DISPLAY_MODES, 2, index);
}

std::string WaveFormat_::GetEntry(uint32_t index) const {
  if (!m_adpcmLoaded && index >= 1) {
    return index < WAVE_FORMAT_COUNT - 1 ? std::string(WAVE_FORMAT_NAMES[index + 1]) : std::string();
  }
  return EntryOf(WAVE_FORMAT_NAMES, WAVE_FORMAT_COUNT, index);
}

std::string WaveFormat_::NameOfCode(uint32_t code) {
  return EntryOf(WAVE_FORMAT_NAMES, WAVE_FORMAT_COUNT, code);
}

void WaveFormat_::StoreToRecord() {
  int32_t index = FindEntry(m_value);
  if (index < 0) QASSERT(0);
  uint32_t code = static_cast<uint32_t>(index);
  if (!m_adpcmLoaded && code >= 1) ++code;
  SetCode(code);
}

void WaveFormat_::LoadFromRecord() {
  uint32_t code = GetCode();
  std::string name = NameOfCode(code);
  if (name.empty() || (!m_adpcmLoaded && code == CODE_ADPCM)) {
    UseDefaultForBadCode(code);
    return;
  }
  m_value = name;
}

bool WaveFormat_::TakeReceived(const SoundConfigData& received, std::string* refused) {
  const uint32_t code = received.waveFormat;
  const std::string name = NameOfCode(code);
  if (name.empty() || (!m_adpcmLoaded && code == CODE_ADPCM)) {
    *refused = "code " + std::to_string(code);
    return false;
  }
  SetCode(code);
  m_value = name;
  return true;
}

void AnalyzerAmplificationRange::SetText(const std::string& text) {
  SetRounded(text, [](int32_t v) { return v >= 1000 ? v / 1000 * 1000 : v / 100 * 100; });
}

void AnalyzerMinDecibel::SetText(const std::string& text) {
  SetRounded(text, [](int32_t v) { return v / 20 * 20; });
}
