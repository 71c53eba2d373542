#include "settings/SoundConfigItem.h"

#include <cmath>
#include <cstdio>

#include "resources/resource.h"
#include "support/Diag.h"
#include "support/Language.h"

// ---- SoundConfigItem ----

const char* SoundConfigItem::HintRangeSeparator() {
  return GetAnsiCodePage() == 932 ? WAVE_DASH : "~";
}

const std::string& SoundConfigItem::GetPath(size_t index) const {
  QASSERT(index < DEPTH_MAX);
  return m_path[index];
}

void SoundConfigItem::SetPath(const std::string (&path)[DEPTH_MAX]) {
  for (size_t i = 0; i < DEPTH_MAX; ++i) m_path[i] = path[i];
}

bool SoundConfigItem::HasPath(const std::string (&path)[DEPTH_MAX]) const {
  for (size_t i = 0; i < DEPTH_MAX; ++i) {
    if (m_path[i] != path[i]) return false;
  }
  return true;
}

SoundConfigData& SoundConfigItem::Record() const {
  QASSERT(m_record != nullptr);
  return *m_record;
}

// ---- ConfigNumberItem ----

std::string ConfigNumberItem::GetHint() const {
  return GetDefault() + " " + RangeText(HintRangeSeparator());
}

std::string ConfigNumberItem::GetRange() const {
  return RangeText(WAVE_DASH);
}

// ---- ConfigInteger ----

std::string ConfigInteger::RangeText(const char* separator) const {
  int32_t min = GetMin();
  int32_t max = GetMax();
  if (min == CONFIG_INT_UNBOUNDED && max == CONFIG_INT_UNBOUNDED) return std::string();
  std::string range = "[";
  if (min != CONFIG_INT_UNBOUNDED) range += IntToText(min);
  range += separator;
  if (max != CONFIG_INT_UNBOUNDED) range += IntToText(max);
  return range + "]";
}

void ConfigInteger::StoreToRecord() {
  SetRecordS32(Record(), m_offset, TextToInt(m_value));
}

void ConfigInteger::LoadFromRecord() {
  m_value = IntToText(GetRecordS32(Record(), m_offset));
}

bool ConfigInteger::TakeReceived(const SoundConfigData& received, std::string* refused) {
  const int32_t v = GetRecordS32(received, m_offset);
  const int32_t min = GetMin();
  const int32_t max = GetMax();
  const bool inRange = (min == CONFIG_INT_UNBOUNDED || v >= min) && (max == CONFIG_INT_UNBOUNDED || v <= max);
  if (!inRange || !Holds(v)) {
    *refused = IntToText(v);
    return false;
  }
  SetRecordS32(Record(), m_offset, v);
  m_value = IntToText(v);
  return true;
}

bool ConfigInteger::ReadClamped(const std::string& text, int32_t* value) const {
  if (!IsNumberText(text, false)) return false;
  int32_t v = TextToInt(text);
  int32_t min = GetMin();
  int32_t max = GetMax();
  if (min != CONFIG_INT_UNBOUNDED && v < min) v = min;
  if (max != CONFIG_INT_UNBOUNDED && v > max) v = max;
  *value = v;
  return true;
}

void ConfigInteger::SetText(const std::string& text) {
  SetRounded(text, [](int32_t v) { return v; });
}

// ---- ConfigReverbFilterSize ----

std::string ConfigReverbFilterSize::GetNote() const {
  return LoadResourceString(IDS_MULTIPLE_BY_160);
}

void ConfigReverbFilterSize::SetText(const std::string& text) {
  SetRounded(text, [](int32_t v) { return v / STEP * STEP; });
}

// ---- ConfigFloat ----

std::string ConfigFloat::RangeText(const char* separator) const {
  double min = GetMin();
  double max = GetMax();
  bool hasMin = min != CONFIG_FLOAT_UNBOUNDED;
  bool hasMax = max != CONFIG_FLOAT_UNBOUNDED;
  if (!hasMin && !hasMax) return std::string();
  std::string range = "[";
  if (hasMin) range += FloatToText(min, GetDecimals());
  range += separator;
  if (hasMax) range += FloatToText(max, GetDecimals());
  return range + "]";
}

void ConfigFloat::StoreToRecord() {
  SetRecordF32(Record(), m_offset, NarrowToFloat(TextToFloat(m_value)));
}

void ConfigFloat::LoadFromRecord() {
  m_value = FloatToText(GetRecordF32(Record(), m_offset), GetDecimals());
}

bool ConfigFloat::TakeReceived(const SoundConfigData& received, std::string* refused) {
  const float v = GetRecordF32(received, m_offset);
  const double min = GetMin();
  const double max = GetMax();
  // NaN and the infinities are in no range.
  const bool inRange = std::isfinite(v) && (min == CONFIG_FLOAT_UNBOUNDED || v >= NarrowToFloat(min)) &&
                       (max == CONFIG_FLOAT_UNBOUNDED || v <= NarrowToFloat(max));
  if (!inRange) {
    char text[64];
    snprintf(text, sizeof(text), "%g", static_cast<double>(v));
    *refused = text;
    return false;
  }
  SetRecordF32(Record(), m_offset, v);
  m_value = FloatToText(v, GetDecimals());
  return true;
}

void ConfigFloat::SetText(const std::string& text) {
  if (!IsNumberText(text, false)) {
    m_value = GetDefault();
    return;
  }
  float v = NarrowToFloat(TextToFloat(text));
  double min = GetMin();
  double max = GetMax();
  if (min != CONFIG_FLOAT_UNBOUNDED && v < min) v = NarrowToFloat(min);
  if (max != CONFIG_FLOAT_UNBOUNDED && v > max) v = NarrowToFloat(max);
  m_value = FloatToText(v, GetDecimals());
}

// ---- ConfigList ----

namespace {
// No list comes near this; it only bounds the walks over GetEntry.
constexpr uint32_t LIST_MAX = 256;
}  // namespace

uint32_t ConfigList::GetEntryCount() const {
  uint32_t count = 0;
  while (count < LIST_MAX && !GetEntry(count).empty()) ++count;
  return count;
}

int32_t ConfigList::FindEntry(const std::string& text) const {
  for (uint32_t i = 0; i < LIST_MAX; ++i) {
    std::string entry = GetEntry(i);
    if (entry.empty()) break;
    if (entry == text) return static_cast<int32_t>(i);
  }
  return -1;
}

std::string ConfigList::GetHint() const {
  return GetDefault();
}

std::string ConfigList::GetRange() const {
  std::string range = "[";
  for (uint32_t i = 0; i < LIST_MAX; ++i) {
    std::string entry = GetEntry(i);
    if (entry.empty()) break;
    if (i > 0) range += "/";
    range += entry;
  }
  return range + "]";
}

void ConfigList::StoreToRecord() {
  int32_t index = FindEntry(m_value);
  if (index < 0) QASSERT(0);
  SetCode(static_cast<uint32_t>(index));
}

void ConfigList::LoadFromRecord() {
  uint32_t code = GetCode();
  std::string entry = GetEntry(code);
  if (entry.empty()) {
    UseDefaultForBadCode(code);
    return;
  }
  m_value = entry;
}

bool ConfigList::TakeReceived(const SoundConfigData& received, std::string* refused) {
  const uint32_t code = GetRecordU32(received, m_offset);
  const std::string entry = GetEntry(code);
  if (entry.empty()) {
    *refused = "code " + std::to_string(code);
    return false;
  }
  SetCode(code);
  m_value = entry;
  return true;
}

void ConfigList::UseDefaultForBadCode(uint32_t code) {
  Log("%s: code %u is not in the list; using %s\n", GetKey().c_str(), static_cast<unsigned>(code),
      GetDefault().c_str());
  m_value = GetDefault();
  StoreToRecord();
}

void ConfigList::SetText(const std::string& text) {
  m_value = FindEntry(text) >= 0 ? text : GetDefault();
}

uint32_t ConfigList::GetCode() const {
  return GetRecordU32(Record(), m_offset);
}

void ConfigList::SetCode(uint32_t code) {
  SetRecordU32(Record(), m_offset, code);
}

std::string ConfigList::EntryOf(const char* const* entries, size_t count, uint32_t index) {
  return index < count ? std::string(entries[index]) : std::string();
}

// ---- commit steps of the edit controls ----

EditCommit CommitEditText(SoundConfigItem& item, const std::string& typed) {
  EditCommit commit;
  std::string before = item.GetValue();
  commit.boxText = typed;
  if (typed == before) return commit;
  item.SetText(typed);
  std::string after = item.GetValue();
  commit.boxText = after;
  commit.rewriteBox = after != typed;
  if (after != before) {
    item.StoreToRecord();
    commit.changed = true;
  }
  return commit;
}

bool CommitListChoice(ConfigList& item, int selection) {
  if (selection < 0) return false;
  std::string text = item.GetEntry(static_cast<uint32_t>(selection));
  if (text.empty() || text == item.GetValue()) return false;
  item.SetText(text);
  item.StoreToRecord();
  return true;
}
