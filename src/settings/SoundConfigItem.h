// One sound setting: its section path and key, its value as text, its default,
// range or choices, the rules that turn a typed or loaded text into a valid
// value, and the field of the settings record it owns.
//
// Families: ConfigInteger (s32 field), ConfigReverbFilterSize (an integer
// rounded to a multiple of 160), ConfigFloat (f32 field, fixed decimals), the
// first three shown in an edit box (ConfigNumberItem), and ConfigList (u32
// field, the position of the chosen entry). The concrete items
// are in ConfigItems.h; SoundConfig makes and owns them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/ConfigNumber.h"
#include "settings/SoundConfigData.h"

class SoundConfigItem {
 public:
  static constexpr size_t DEPTH_MAX = 4;
  // Written between the bounds of a range in settings files: the wave dash
  // of code page 932. Kept as these bytes on purpose, in every language:
  // stored settings files carry them (the window's hints show "~" instead
  // under other code pages).
  static constexpr const char* WAVE_DASH = "\x81\x60";
  // Between the bounds in the window's hints: the wave dash under code page
  // 932, "~" under any other (where those two bytes are no wave dash).
  static const char* HintRangeSeparator();

  SoundConfigItem() = default;
  SoundConfigItem(const SoundConfigItem&) = delete;
  SoundConfigItem& operator=(const SoundConfigItem&) = delete;
  virtual ~SoundConfigItem() = default;

  virtual std::string GetDefault() const = 0;
  // The key of files, also the label in the settings window.
  virtual std::string GetKey() const = 0;
  virtual std::string GetValue() const { return m_value; }
  // The text shown right of the control.
  virtual std::string GetHint() const { return std::string(); }
  // The range, or the list of choices.
  virtual std::string GetRange() const { return std::string(); }
  // An extra remark for the settings file.
  virtual std::string GetNote() const { return std::string(); }
  virtual void StoreToRecord() = 0;
  virtual void LoadFromRecord() = 0;
  // The item's field of a record the device sent: taken into the item's
  // value and record when it is a value the item can hold (within its range,
  // an entry of its list, a multiple of 160 where asked); otherwise nothing
  // changes, false is returned and *refused describes the value for the log.
  virtual bool TakeReceived(const SoundConfigData& received, std::string* refused) = 0;
  // Validates a proposed text and sets the value: a text that is not valid
  // gives the default, numbers are clamped and rounded.
  virtual void SetText(const std::string& text) = 0;

  // Section path, level 0 to DEPTH_MAX - 1; deeper unused levels are empty.
  const std::string& GetPath(size_t index) const;
  void SetPath(const std::string (&path)[DEPTH_MAX]);
  bool HasPath(const std::string (&path)[DEPTH_MAX]) const;

  // The record of the owning model; not owned.
  void SetRecord(SoundConfigData* record) { m_record = record; }
  // Sets the value text as it is, without validation (defaults).
  void SetValueUnchecked(const std::string& value) { m_value = value; }

 protected:
  SoundConfigData& Record() const;
  std::string m_value;

 private:
  std::string m_path[DEPTH_MAX];
  SoundConfigData* m_record = nullptr;
};

// Marks "no bound" on one side of an integer range.
constexpr int32_t CONFIG_INT_UNBOUNDED = 0x7FFFFFFF;
// Marks "no bound" on one side of a decimal range.
constexpr double CONFIG_FLOAT_UNBOUNDED = 65536.0;

// What the two number families share: a hint and a range made of the bounds
// (RangeText with the separator of each).
class ConfigNumberItem : public SoundConfigItem {
 public:
  std::string GetHint() const override;
  std::string GetRange() const override;

 protected:
  // The range with the given text between its bounds; empty when neither
  // side is bounded.
  virtual std::string RangeText(const char* separator) const = 0;
};

class ConfigInteger : public ConfigNumberItem {
 public:
  // offset: byte offset of the item's s32 field in the record.
  explicit ConfigInteger(size_t offset) : m_offset(offset) {}

  void StoreToRecord() override;
  void LoadFromRecord() override;
  bool TakeReceived(const SoundConfigData& received, std::string* refused) override;
  void SetText(const std::string& text) override;

  virtual int32_t GetMin() const = 0;
  virtual int32_t GetMax() const = 0;
  // A value within the range that the item can hold (all of them, unless a
  // family asks more).
  virtual bool Holds(int32_t) const { return true; }

 protected:
  std::string RangeText(const char* separator) const override;
  // The text as a clamped number; false when it is not number-shaped.
  bool ReadClamped(const std::string& text, int32_t* value) const;
  // Sets the value from a text, with v rounded by round(v) after clamping.
  template <typename Round>
  void SetRounded(const std::string& text, Round round) {
    int32_t v;
    m_value = ReadClamped(text, &v) ? IntToText(round(v)) : GetDefault();
  }

 private:
  size_t m_offset;
};

// Reverb delay-line lengths: integers rounded down to a multiple of 160.
class ConfigReverbFilterSize : public ConfigInteger {
 public:
  static constexpr int32_t STEP = 160;
  using ConfigInteger::ConfigInteger;
  std::string GetNote() const override;
  void SetText(const std::string& text) override;
  bool Holds(int32_t value) const override { return value % STEP == 0; }
};

class ConfigFloat : public ConfigNumberItem {
 public:
  // offset: byte offset of the item's f32 field in the record.
  explicit ConfigFloat(size_t offset) : m_offset(offset) {}

  void StoreToRecord() override;
  void LoadFromRecord() override;
  bool TakeReceived(const SoundConfigData& received, std::string* refused) override;
  void SetText(const std::string& text) override;

  virtual int32_t GetDecimals() const { return 2; }
  virtual double GetMin() const = 0;
  virtual double GetMax() const = 0;

 protected:
  std::string RangeText(const char* separator) const override;

 private:
  size_t m_offset;
};

class ConfigList : public SoundConfigItem {
 public:
  // offset: byte offset of the item's u32 field in the record.
  explicit ConfigList(size_t offset) : m_offset(offset) {}

  std::string GetHint() const override;
  std::string GetRange() const override;
  void StoreToRecord() override;
  void LoadFromRecord() override;
  bool TakeReceived(const SoundConfigData& received, std::string* refused) override;
  void SetText(const std::string& text) override;

  // The choice at index, counted from 0; the empty text after the last one.
  virtual std::string GetEntry(uint32_t index) const = 0;

  uint32_t GetEntryCount() const;
  // The index of the first entry equal to text, or -1.
  int32_t FindEntry(const std::string& text) const;

 protected:
  uint32_t GetCode() const;
  void SetCode(uint32_t code);
  // A received code that names no entry: the item falls back to its default,
  // in its value and in the record.
  void UseDefaultForBadCode(uint32_t code);
  // The entry at index of a fixed list of count texts.
  static std::string EntryOf(const char* const* entries, size_t count, uint32_t index);

 private:
  size_t m_offset;
};

// The result of committing an edit box.
struct EditCommit {
  bool changed = false;     // the value changed and was stored into the record
  bool rewriteBox = false;  // the box must show boxText instead of what was typed
  std::string boxText;
};

// The commit step of an edit box showing item, run on Enter and on focus
// loss, with the text the box holds. Equal texts change nothing; otherwise the
// text goes through SetText, and the record is stored only when the value
// really changed ("1.0" over "1.00" rewrites the box and changes nothing).
EditCommit CommitEditText(SoundConfigItem& item, const std::string& typed);

// The commit step of a combo box on a new selection: true when the item's
// value changed (and was stored). A selection outside the list gives false.
bool CommitListChoice(ConfigList& item, int selection);
