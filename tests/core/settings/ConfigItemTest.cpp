// The items of the catalogue: record fields, value rules, texts, commits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SettingsFakes.h"
#include "TestUtil.h"
#include "settings/ConfigItems.h"
#include "settings/SoundConfig.h"
#include "support/Language.h"

namespace {
// Indices of the catalogue.
enum : int32_t {
  DISPLAY_MODE = 0,
  SAMPLING_RATE = 1,
  WAVE_FORMAT = 2,
  SRC_TYPE = 7,
  VOLUME = 8,
  PAN_CURVE = 10,
  FRONT_BYPASS = 13,
  EARLY_REFLECTION_A = 19,
  COMB0_A = 24,
  DELAY_TIME_A = 31,
  AMPLIFICATION_RANGE = 54,
  MIN_DECIBEL = 55,
  SAMPLE_UNIT = 58,
  BIQUAD_TYPE = 62,
  BIQUAD_VALUE = 63,
  FILTER_F0 = 65,
  FILTER_GAIN = 66,
  FILTER_Q = 67,
};

class ConfigItemTest : public ::testing::Test {
 protected:
  void SetUp() override { UseTestResources(); }

  SoundConfigItem& Item(int32_t index) { return *config.GetItem(index); }
  ConfigList& List(int32_t index) { return dynamic_cast<ConfigList&>(Item(index)); }
  std::string SetAndGet(int32_t index, const std::string& text) {
    Item(index).SetText(text);
    return Item(index).GetValue();
  }

  TempDir dir;
  FakeChannel channel;
  SoundConfig config{&channel, true, dir.Path()};
};

// The record offset that each item of the catalogue owns, in table order.
const size_t FIELD_OFFSETS[68] = {4,   8,   16,  20,  24,  28,  32,  36,  40,  44,  48,  52,  56,  60,  80,  84,  88,
                                  92,  96,  100, 104, 108, 112, 116, 120, 124, 128, 132, 136, 140, 144, 148, 152, 156,
                                  160, 164, 168, 172, 176, 180, 184, 188, 192, 196, 200, 204, 208, 212, 216, 220, 224,
                                  228, 232, 236, 240, 244, 248, 252, 256, 260, 264, 64,  68,  72,  76,  268, 272, 276};
}  // namespace

TEST_F(ConfigItemTest, FreshRecord) {
  ASSERT_EQ(config.GetCount(), 68);
  SoundConfigData r = config.GetRecord();
  EXPECT_EQ(r.streamToken, 0u);
  EXPECT_EQ(r.inputRate, 0);
  EXPECT_EQ(r.displayMode, 0u);
  EXPECT_EQ(r.samplingRate, 32728);
  EXPECT_EQ(r.waveFormat, 0u);
  EXPECT_EQ(r.outputMode, 3u);
  EXPECT_EQ(r.clippingMode, 1u);
  EXPECT_EQ(r.srcType, 2u);
  EXPECT_EQ(r.volume, 1.0f);
  EXPECT_EQ(r.panCurve, 0u);
  for (const EffectBlock& e : r.effect) {
    EXPECT_EQ(e.earlyReflectionTime, 60);
    EXPECT_EQ(e.fusedTime, 4000);
    EXPECT_EQ(e.comb0, 3040);
    EXPECT_EQ(e.comb1, 3680);
    EXPECT_EQ(e.allPass, 2080);
    EXPECT_EQ(e.reverbDamping, 0.4f);
    EXPECT_EQ(e.delayTime, 250);
    EXPECT_EQ(e.delayDamping, 0.5f);
  }
  EXPECT_EQ(r.analyzerAxis, 1u);
  EXPECT_EQ(r.amplificationRange, 1000);
  EXPECT_EQ(r.minDecibel, -80);
  EXPECT_EQ(r.windowFunction, 2u);
  EXPECT_EQ(r.sampleUnit, 2u);
  EXPECT_EQ(r.background, 1u);
  EXPECT_EQ(r.filterF0, 5000);
  EXPECT_EQ(r.filterGain, 3.0f);
  EXPECT_EQ(r.filterQ, 1.0f);
  // The default texts stay as written until a SetText reformats them.
  EXPECT_EQ(Item(FILTER_GAIN).GetValue(), "3.0");
  EXPECT_EQ(Item(FILTER_Q).GetValue(), "1.0");
}

TEST_F(ConfigItemTest, EveryItemWritesOnlyItsOwnField) {
  for (int32_t i = 0; i < config.GetCount(); ++i) {
    SoundConfigItem& item = Item(i);
    // A valid value other than the default.
    std::string other;
    if (auto* list = dynamic_cast<ConfigList*>(&item)) {
      other = list->GetEntry(0) == item.GetDefault() ? list->GetEntry(1) : list->GetEntry(0);
    } else if (auto* integer = dynamic_cast<ConfigInteger*>(&item)) {
      other = IntToText(integer->GetMin());
      if (other == item.GetDefault()) other = IntToText(integer->GetMax());
    } else {
      auto& decimal = dynamic_cast<ConfigFloat&>(item);
      other = FloatToText(decimal.GetMin(), 2);
      if (other == item.GetDefault()) other = FloatToText(decimal.GetMax(), 2);
    }
    SoundConfigData before = config.GetRecord();
    item.SetText(other);
    ASSERT_NE(item.GetValue(), item.GetDefault()) << i;
    item.StoreToRecord();
    SoundConfigData after = config.GetRecord();
    for (size_t offset = 0; offset < SOUND_CONFIG_SIZE; offset += 4) {
      bool changed = GetRecordU32(before, offset) != GetRecordU32(after, offset);
      EXPECT_EQ(changed, offset == FIELD_OFFSETS[i]) << "item " << i << " " << item.GetKey() << " offset " << offset;
    }
    // And reads it back.
    item.SetText(item.GetDefault());
    item.LoadFromRecord();
    EXPECT_EQ(item.GetValue(), other) << i;
  }
}

TEST_F(ConfigItemTest, IntegerRules) {
  EXPECT_EQ(SetAndGet(DELAY_TIME_A, "abc"), "250");  // not a number: the default
  EXPECT_EQ(SetAndGet(DELAY_TIME_A, "-5"), "0");     // bounded 0 and 10000
  EXPECT_EQ(SetAndGet(DELAY_TIME_A, "99999999999"), "10000");
  EXPECT_EQ(SetAndGet(DELAY_TIME_A, "0x20"), "32");
  EXPECT_EQ(SetAndGet(DELAY_TIME_A, "12.7"), "12");
  EXPECT_EQ(SetAndGet(DELAY_TIME_A, ""), "250");
  EXPECT_EQ(SetAndGet(SAMPLING_RATE, "-99999999999"), "16000");
  EXPECT_EQ(SetAndGet(COMB0_A, "3040"), "3040");
  EXPECT_EQ(SetAndGet(COMB0_A, "3100"), "3040");
  EXPECT_EQ(SetAndGet(COMB0_A, "100"), "160");  // clamped to 160 before rounding
  EXPECT_EQ(SetAndGet(COMB0_A, "20000"), "16000");
  EXPECT_EQ(SetAndGet(MIN_DECIBEL, "7"), "-60");
  EXPECT_EQ(SetAndGet(MIN_DECIBEL, "-85"), "-80");
  EXPECT_EQ(SetAndGet(MIN_DECIBEL, "-139"), "-120");
  EXPECT_EQ(SetAndGet(MIN_DECIBEL, "-140"), "-140");
  EXPECT_EQ(SetAndGet(AMPLIFICATION_RANGE, "1234"), "1000");
  EXPECT_EQ(SetAndGet(AMPLIFICATION_RANGE, "999"), "900");
  EXPECT_EQ(SetAndGet(AMPLIFICATION_RANGE, "8000"), "8000");
  EXPECT_EQ(SetAndGet(AMPLIFICATION_RANGE, "50"), "100");
}

TEST_F(ConfigItemTest, DecimalRules) {
  EXPECT_EQ(SetAndGet(VOLUME, "0.456"), "0.46");
  EXPECT_EQ(SetAndGet(VOLUME, "1.2.3"), "1.23");
  EXPECT_EQ(SetAndGet(VOLUME, "1"), "1.00");
  EXPECT_EQ(SetAndGet(VOLUME, "5"), "2.00");
  EXPECT_EQ(SetAndGet(VOLUME, "-1"), "0.00");
  EXPECT_EQ(SetAndGet(VOLUME, "1e5"), "1.00");  // not a number here: the default
  EXPECT_EQ(SetAndGet(VOLUME, "9" + std::string(500, '9')), "2.00");
  EXPECT_EQ(SetAndGet(FILTER_Q, "0"), "0.10");
  EXPECT_EQ(SetAndGet(FILTER_GAIN, "3.0"), "3.00");
}

TEST_F(ConfigItemTest, ListRules) {
  EXPECT_EQ(SetAndGet(PAN_CURVE, "LINEAR_0DB"), "LINEAR_0DB");
  EXPECT_EQ(SetAndGet(PAN_CURVE, "linear_0db"), "SQRT");  // case matters
  EXPECT_EQ(SetAndGet(PAN_CURVE, "LINEAR_0DB "), "SQRT");
  Item(SAMPLE_UNIT).SetText("4096");
  Item(SAMPLE_UNIT).StoreToRecord();
  EXPECT_EQ(config.GetRecord().sampleUnit, 5u);
}

TEST_F(ConfigItemTest, WaveFormatCodesWithTheAdpcmLibrary) {
  ConfigList& format = List(WAVE_FORMAT);
  const char* names[] = {"PCM",          "ADPCM",          "CRI ADX",     "CRI HCA HIGHEST",
                         "CRI HCA HIGH", "CRI HCA MIDDLE", "CRI HCA LOW", "CRI HCA LOWEST"};
  for (uint32_t code = 0; code < 8; ++code) {
    format.SetText(names[code]);
    format.StoreToRecord();
    EXPECT_EQ(config.GetRecord().waveFormat, code) << names[code];
  }
}

TEST(ConfigItemsWithoutAdpcm, CodesKeepTheirFullListPositions) {
  UseTestResources();
  TempDir dir;
  SoundConfig config(nullptr, false, dir.Path());
  auto& format = dynamic_cast<ConfigList&>(*config.GetItem(WAVE_FORMAT));
  EXPECT_EQ(format.GetRange(), "[PCM/CRI ADX/CRI HCA HIGHEST/CRI HCA HIGH/CRI HCA MIDDLE/CRI HCA LOW/CRI HCA LOWEST]");
  EXPECT_EQ(format.GetEntryCount(), 7u);
  const char* names[] = {"PCM",          "ADPCM",          "CRI ADX",     "CRI HCA HIGHEST",
                         "CRI HCA HIGH", "CRI HCA MIDDLE", "CRI HCA LOW", "CRI HCA LOWEST"};
  for (uint32_t code = 0; code < 8; ++code) {
    format.SetText(names[code]);
    format.StoreToRecord();
    // ADPCM is not offered: it falls back to PCM.
    EXPECT_EQ(config.GetRecord().waveFormat, code == 1 ? 0u : code) << names[code];
  }
  format.SetText("CRI ADX");
  format.StoreToRecord();
  EXPECT_EQ(config.GetRecord().waveFormat, 2u);
  format.SetText("PCM");
  format.LoadFromRecord();
  EXPECT_EQ(format.GetValue(), "CRI ADX");

  auto& display = dynamic_cast<ConfigList&>(*config.GetItem(DISPLAY_MODE));
  EXPECT_EQ(display.GetRange(), "[Analyzer]");
  display.SetText("Config");
  EXPECT_EQ(display.GetValue(), "Analyzer");
}

// A record from the device is taken item by item: a value that its item
// cannot hold (outside the range, a code beyond the list, a length that is
// no multiple of 160, NaN or an infinity) is logged and leaves that item, its
// record field (and so what is auto-saved) as they were; the other items of
// the same record are taken.
TEST_F(ConfigItemTest, ReceivedValuesOutsideTheirItemsLeaveThoseItems) {
  struct Case {
    const char* what;
    void (*set)(SoundConfigData&);
    int32_t item;
    size_t offset;
    const char* logged;  // the refused value in the log line
  };
  const Case cases[] = {
      {"above the maximum", [](SoundConfigData& r) { r.volume = 7.5f; }, VOLUME, 40, "Volume 7.5"},
      {"below the minimum", [](SoundConfigData& r) { r.effect[0].delayTime = -1; }, DELAY_TIME_A, 148, "DelayTime -1"},
      {"NaN", [](SoundConfigData& r) { r.filterGain = std::nanf(""); }, FILTER_GAIN, 272, "Gain nan"},
      {"an infinity", [](SoundConfigData& r) { r.volume = HUGE_VALF; }, VOLUME, 40, "Volume inf"},
      {"no multiple of 160", [](SoundConfigData& r) { r.effect[0].comb0 = 3000; }, COMB0_A, 120, "Comb0 3000"},
      {"no multiple of 20", [](SoundConfigData& r) { r.minDecibel = -90; }, MIN_DECIBEL, 244, "MinDecibel -90"},
      {"one past the list", [](SoundConfigData& r) { r.panCurve = 9; }, PAN_CURVE, 48, "PanCurve code 9"},
      {"far past the list", [](SoundConfigData& r) { r.biquadType = 0xFFFFFFFF; }, BIQUAD_TYPE, 68,
       "BiquadType code 4294967295"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SoundConfigData before = config.GetRecord();
    const std::string value = Item(c.item).GetValue();
    SoundConfigData r = before;
    r.filterQ = 0.3f;  // a value the item holds, in the same record
    c.set(r);
    LogCapture log;
    Receive(config, r);
    EXPECT_EQ(Item(c.item).GetValue(), value);
    const SoundConfigData after = config.GetRecord();
    EXPECT_EQ(memcmp(reinterpret_cast<const uint8_t*>(&after) + c.offset,
                     reinterpret_cast<const uint8_t*>(&before) + c.offset, 4),
              0);
    EXPECT_NE(
        log.Text().find(std::string("ApplyReceived: ") + c.logged + " is out of its range; it stays " + value + "\n"),
        std::string::npos)
        << log.Text();
    EXPECT_EQ(Item(FILTER_Q).GetValue(), "0.30");
    EXPECT_EQ(after.filterQ, 0.3f);
  }
  // Values at the bounds and codes of the list are taken as they came.
  SoundConfigData r = config.GetRecord();
  r.volume = 2.0f;
  r.effect[0].comb0 = 16000;
  r.panCurve = 8;
  r.sampleUnit = 4;
  r.amplificationRange = 800;
  Receive(config, r);
  EXPECT_EQ(Item(VOLUME).GetValue(), "2.00");
  EXPECT_EQ(Item(COMB0_A).GetValue(), "16000");
  EXPECT_EQ(Item(PAN_CURVE).GetValue(), "LINEAR_0DB_CLAMP");
  EXPECT_EQ(Item(SAMPLE_UNIT).GetValue(), "2048");
  EXPECT_EQ(Item(AMPLIFICATION_RANGE).GetValue(), "800");
}

// Ranges are checked with the file layout; the hints are what the window
// shows: their bounds joined by the wave dash under code page 932 only, "~"
// under any other (the files keep the wave dash, ReverbNoteFollowsTheLanguage).
TEST_F(ConfigItemTest, Hints) {
#ifdef _WIN32
  // Under wine the code page follows the locale the test runs in.
  const bool languages[] = {getenv("QUILL_EXPECT_JAPANESE") != nullptr};
#else
  const bool languages[] = {false, true};
#endif
  for (bool japanese : languages) {
#ifndef _WIN32
    SetResourceLanguage(japanese ? ResourceLanguage::Japanese : ResourceLanguage::English);
#endif
    const std::string dash = japanese ? "\x81\x60" : "~";
    EXPECT_EQ(GetAnsiCodePage() == 932, japanese);
    EXPECT_EQ(Item(EARLY_REFLECTION_A).GetHint(), "60 [5" + dash + "10000]") << japanese;
    EXPECT_EQ(Item(FILTER_GAIN).GetHint(), "3.0 [-24.00" + dash + "24.00]") << japanese;
    EXPECT_EQ(Item(FRONT_BYPASS).GetHint(), "OFF");
    EXPECT_EQ(Item(SRC_TYPE).GetHint(), "4TAP");
  }
#ifndef _WIN32
  SetResourceLanguage(ResourceLanguage::FromEnvironment);
#endif
}

TEST_F(ConfigItemTest, ReverbNoteFollowsTheLanguage) {
#ifdef _WIN32
  // Under wine the table follows the locale the test runs in.
  bool japanese = getenv("QUILL_EXPECT_JAPANESE") != nullptr;
#else
  SetResourceLanguage(ResourceLanguage::Japanese);
  bool japanese = true;
#endif
  std::string note = Item(COMB0_A).GetNote();
  if (japanese) {
    EXPECT_EQ(note, "160\x82\xcc\x94\x7b\x90\x94");
  } else {
    EXPECT_EQ(note, "Multiple by 160");
  }
  // The wave dash is the same two bytes whatever the language.
  EXPECT_EQ(Item(COMB0_A).GetRange(),
            "[160\x81\x60"
            "16000]");
#ifndef _WIN32
  SetResourceLanguage(ResourceLanguage::English);
  EXPECT_EQ(Item(COMB0_A).GetNote(), "Multiple by 160");
  SetResourceLanguage(ResourceLanguage::FromEnvironment);
#endif
}

TEST_F(ConfigItemTest, EditCommits) {
  SoundConfigItem& delay = Item(DELAY_TIME_A);
  // Enter, then the focus leaves the box: the second commit finds nothing new.
  EditCommit enter = CommitEditText(delay, "300");
  EXPECT_TRUE(enter.changed);
  EXPECT_FALSE(enter.rewriteBox);
  EXPECT_EQ(config.GetRecord().effect[0].delayTime, 300);
  EXPECT_FALSE(CommitEditText(delay, "300").changed);

  // Replaced by the default: the box shows it.
  EditCommit bad = CommitEditText(delay, "abc");
  EXPECT_TRUE(bad.changed);
  EXPECT_TRUE(bad.rewriteBox);
  EXPECT_EQ(bad.boxText, "250");
  EXPECT_EQ(config.GetRecord().effect[0].delayTime, 250);

  // 1.00 over 1.00 is no change; 1.0 over 1.00 rewrites the box, stores nothing.
  SoundConfigItem& volume = Item(VOLUME);
  EXPECT_FALSE(CommitEditText(volume, "1.00").changed);
  SoundConfigData r = config.GetRecord();
  r.volume = 0.25f;  // a record field that only a store would overwrite
  Receive(config, r);
  volume.SetText("1.00");
  EditCommit reformatted = CommitEditText(volume, "1.0");
  EXPECT_FALSE(reformatted.changed);
  EXPECT_TRUE(reformatted.rewriteBox);
  EXPECT_EQ(reformatted.boxText, "1.00");
  EXPECT_EQ(config.GetRecord().volume, 0.25f);

  // A clamped value that lands on the current one changes nothing either.
  delay.SetText("10000");
  EditCommit clamped = CommitEditText(delay, "12000");
  EXPECT_FALSE(clamped.changed);
  EXPECT_TRUE(clamped.rewriteBox);
}

TEST_F(ConfigItemTest, ListCommits) {
  ConfigList& curve = List(PAN_CURVE);
  EXPECT_FALSE(CommitListChoice(curve, 0));  // the same entry again
  EXPECT_TRUE(CommitListChoice(curve, 3));
  EXPECT_EQ(curve.GetValue(), "SINCOS");
  EXPECT_EQ(config.GetRecord().panCurve, 3u);
  EXPECT_FALSE(CommitListChoice(curve, -1));
  EXPECT_FALSE(CommitListChoice(curve, 9));
}

