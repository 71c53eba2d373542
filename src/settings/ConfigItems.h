// The catalogue of sound settings: one class per item, with its key, default,
// bounds or choices and record field. SoundConfig makes them in catalogue
// order; the effect items exist once per AUX bus.
#pragma once

#include <cstddef>

#include "settings/SoundConfigItem.h"

// An integer item: class, key, default text, bounds, record field.
#define QUILL_CONFIG_INTEGER(Class, key, defaultText, min, max, field) \
  class Class final : public ConfigInteger {                           \
   public:                                                             \
    Class() : ConfigInteger(offsetof(SoundConfigData, field)) {}       \
    std::string GetDefault() const override { return defaultText; }    \
    std::string GetKey() const override { return key; }                \
    int32_t GetMin() const override { return min; }                    \
    int32_t GetMax() const override { return max; }                    \
  }

// A decimal item with two decimals.
#define QUILL_CONFIG_FLOAT(Class, key, defaultText, min, max, field) \
  class Class final : public ConfigFloat {                           \
   public:                                                           \
    Class() : ConfigFloat(offsetof(SoundConfigData, field)) {}       \
    std::string GetDefault() const override { return defaultText; }  \
    std::string GetKey() const override { return key; }              \
    double GetMin() const override { return min; }                   \
    double GetMax() const override { return max; }                   \
  }

// A list item; the code of an entry is its position among the choices.
#define QUILL_CONFIG_LIST(Class, key, defaultText, field, ...)            \
  class Class final : public ConfigList {                                 \
   public:                                                                \
    Class() : ConfigList(offsetof(SoundConfigData, field)) {}             \
    std::string GetDefault() const override { return defaultText; }       \
    std::string GetKey() const override { return key; }                   \
    std::string GetEntry(uint32_t index) const override {                 \
      static const char* const entries[] = {__VA_ARGS__};                 \
      return EntryOf(entries, sizeof entries / sizeof entries[0], index); \
    }                                                                     \
  }

// The effect items of one AUX bus (0 = A, 1 = B) read and write that bus's
// effect block.
#define QUILL_CONFIG_EFFECT(Family, Class, key, defaultText, Bound, min, max, field)                           \
  class Class final : public Family {                                                                          \
   public:                                                                                                     \
    explicit Class(uint32_t bus) : Family(EffectFieldOffset(bus, offsetof(EffectBlock, field))), m_bus(bus) {} \
    std::string GetDefault() const override { return defaultText; }                                            \
    std::string GetKey() const override { return key; }                                                        \
    Bound GetMin() const override { return min; }                                                              \
    Bound GetMax() const override { return max; }                                                              \
    uint32_t GetBus() const { return m_bus; }                                                                  \
                                                                                                               \
   private:                                                                                                    \
    uint32_t m_bus;                                                                                            \
  }

#define QUILL_CONFIG_EFFECT_LIST(Class, key, field)                                                                \
  class Class final : public ConfigList {                                                                          \
   public:                                                                                                         \
    explicit Class(uint32_t bus) : ConfigList(EffectFieldOffset(bus, offsetof(EffectBlock, field))), m_bus(bus) {} \
    std::string GetDefault() const override { return "OFF"; }                                                      \
    std::string GetKey() const override { return key; }                                                            \
    std::string GetEntry(uint32_t index) const override {                                                          \
      static const char* const entries[] = {"OFF", "ON"};                                                          \
      return EntryOf(entries, 2, index);                                                                           \
    }                                                                                                              \
    uint32_t GetBus() const { return m_bus; }                                                                      \
                                                                                                                   \
   private:                                                                                                        \
    uint32_t m_bus;                                                                                                \
  }

// ---- DisplayMode, SamplingMode ----

// "Analyzer" or "Config"; without the wave-codec library only "Analyzer".
class DisplayMode final : public ConfigList {
 public:
  explicit DisplayMode(bool adpcmLoaded)
      : ConfigList(offsetof(SoundConfigData, displayMode)), m_adpcmLoaded(adpcmLoaded) {}
  std::string GetDefault() const override { return "Analyzer"; }
  std::string GetKey() const override { return "DisplayMode"; }
  std::string GetEntry(uint32_t index) const override;

 private:
  bool m_adpcmLoaded;
};

QUILL_CONFIG_INTEGER(SamplingRate, "SamplingRate", "32728", 16000, 96000, samplingRate);

// The codec of the stream. Without the wave-codec library "ADPCM" is not
// offered, but the record keeps the codes of the full list: 0 PCM, 1 ADPCM,
// 2 CRI ADX, 3 to 7 CRI HCA HIGHEST to LOWEST.
class WaveFormat_ final : public ConfigList {
 public:
  static constexpr uint32_t CODE_ADPCM = 1;

  explicit WaveFormat_(bool adpcmLoaded)
      : ConfigList(offsetof(SoundConfigData, waveFormat)), m_adpcmLoaded(adpcmLoaded) {}
  std::string GetDefault() const override { return "PCM"; }
  std::string GetKey() const override { return "WaveFormat"; }
  std::string GetEntry(uint32_t index) const override;
  void StoreToRecord() override;
  void LoadFromRecord() override;
  // The record's codes are those of the full list, not of the offered one.
  bool TakeReceived(const SoundConfigData& received, std::string* refused) override;

  // The name of a code in the full list; empty for an unknown code.
  static std::string NameOfCode(uint32_t code);

 private:
  bool m_adpcmLoaded;
};

// ---- OutputMode ----

QUILL_CONFIG_LIST(OutputMode, "OutputMode", "CONFIG", outputMode, "MONO", "STEREO", "SURROUND", "CONFIG");
QUILL_CONFIG_LIST(ClippingMode, "ClippingMode", "SOFT", clippingMode, "NORMAL", "SOFT");
QUILL_CONFIG_FLOAT(SurroundDepth, "SurroundDepth", "1.00", 0.0, 1.0, surroundDepth);
QUILL_CONFIG_LIST(SurroundSpeakerPosition, "SpeakerPosition", "SQUARE", speakerPosition, "SQUARE", "WIDE");

class SrcType final : public ConfigList {
 public:
  SrcType() : ConfigList(offsetof(SoundConfigData, srcType)) {}
  std::string GetDefault() const override { return "4TAP"; }
  std::string GetKey() const override { return "SrcType"; }
  std::string GetNote() const override { return "SamplingRateConverterType"; }
  std::string GetEntry(uint32_t index) const override {
    static const char* const entries[] = {"NONE", "LINEAR", "4TAP"};
    return EntryOf(entries, 3, index);
  }
};

// ---- SoundParam ----

QUILL_CONFIG_FLOAT(Volume, "Volume", "1.00", 0.0, 2.0, volume);
QUILL_CONFIG_LIST(PanMode, "PanMode", "DUAL", panMode, "DUAL", "BALANCE");
QUILL_CONFIG_LIST(PanCurve, "PanCurve", "SQRT", panCurve, "SQRT", "SQRT_0DB", "SQRT_0DB_CLAMP", "SINCOS", "SINCOS_0DB",
                  "SINCOS_0DB_CLAMP", "LINEAR", "LINEAR_0DB", "LINEAR_0DB_CLAMP");
QUILL_CONFIG_FLOAT(Pan, "Pan", "0.00", -1.0, 1.0, pan);
QUILL_CONFIG_FLOAT(SurroundPan, "SurroundPan", "0.00", -2.0, 2.0, surroundPan);
QUILL_CONFIG_LIST(FrontBypassFlag, "FrontBypassFlag", "OFF", frontBypass, "OFF", "ON");
QUILL_CONFIG_FLOAT(MainSend, "MainSend", "0.00", -1.0, 0.0, mainSend);
QUILL_CONFIG_FLOAT(FxSendA, "FxSendA", "1.00", -1.0, 1.0, fxSendA);
QUILL_CONFIG_FLOAT(FxSendB, "FxSendB", "1.00", -1.0, 1.0, fxSendB);

// ---- Effect ----

QUILL_CONFIG_LIST(AuxBusA, "AuxBusA", "NONE", auxBusA, "NONE", "REVERB", "DELAY");
QUILL_CONFIG_LIST(AuxBusB, "AuxBusB", "NONE", auxBusB, "NONE", "REVERB", "DELAY");

QUILL_CONFIG_EFFECT(ConfigInteger, ReverbEarlyReflectionTime, "EarlyReflectionTime", "60", int32_t, 5, 10000,
                    earlyReflectionTime);
QUILL_CONFIG_EFFECT(ConfigInteger, ReverbFusedTime, "FusedTime", "4000", int32_t, 1, 40000, fusedTime);
QUILL_CONFIG_EFFECT(ConfigInteger, ReverbPreDelayTime, "PreDelayTime", "100", int32_t, 5, 10000, preDelayTime);
QUILL_CONFIG_EFFECT(ConfigFloat, ReverbColoration, "Coloration", "0.50", double, 0.0, 1.0, coloration);
QUILL_CONFIG_EFFECT(ConfigFloat, ReverbDamping, "Damping", "0.40", double, 0.0, 1.0, reverbDamping);
QUILL_CONFIG_EFFECT(ConfigReverbFilterSize, ReverbComb0, "Comb0", "3040", int32_t, 160, 16000, comb0);
QUILL_CONFIG_EFFECT(ConfigReverbFilterSize, ReverbComb1, "Comb1", "3680", int32_t, 160, 16000, comb1);
QUILL_CONFIG_EFFECT(ConfigReverbFilterSize, ReverbAllPass, "AllPass", "2080", int32_t, 160, 16000, allPass);
QUILL_CONFIG_EFFECT(ConfigFloat, ReverbEarlyGain, "EarlyGain", "0.60", double, 0.0, 1.0, earlyGain);
QUILL_CONFIG_EFFECT(ConfigFloat, ReverbFusedGain, "FusedGain", "0.40", double, 0.0, 1.0, fusedGain);
QUILL_CONFIG_EFFECT_LIST(ReverbIsEnableSurround, "IsEnableSurround", reverbSurround);
QUILL_CONFIG_EFFECT_LIST(ReverbUseHpfDamping, "UseHpfDamping", useHpfDamping);
QUILL_CONFIG_EFFECT(ConfigInteger, DelayDelayTime, "DelayTime", "250", int32_t, 0, 10000, delayTime);
QUILL_CONFIG_EFFECT(ConfigFloat, DelayFeedbackGain, "FeedbackGain", "0.40", double, 0.0, 1.0, feedbackGain);
QUILL_CONFIG_EFFECT(ConfigFloat, DelayDamping, "Damping", "0.50", double, 0.0, 1.0, delayDamping);
QUILL_CONFIG_EFFECT_LIST(DelayIsEnableSurround, "IsEnableSurround", delaySurround);

// ---- Analyzer ----

QUILL_CONFIG_LIST(AnalyzerWave, "Wave", "MIXED", analyzerWave, "ORIGINAL", "MIXED");
QUILL_CONFIG_LIST(AnalyzerAxis, "Axis", "LOGARITHMIC1", analyzerAxis, "LINEAR", "LOGARITHMIC1", "LOGARITHMIC2",
                  "AMPLIFICATION");
QUILL_CONFIG_INTEGER(AnalyzerCurrent, "Current", "0", 0, 48000, analyzerCurrent);

// Rounded down to a multiple of 1000 from 1000 on, of 100 below.
class AnalyzerAmplificationRange final : public ConfigInteger {
 public:
  AnalyzerAmplificationRange() : ConfigInteger(offsetof(SoundConfigData, amplificationRange)) {}
  std::string GetDefault() const override { return "1000"; }
  std::string GetKey() const override { return "AmplificationRange"; }
  int32_t GetMin() const override { return 100; }
  int32_t GetMax() const override { return 8000; }
  void SetText(const std::string& text) override;
  bool Holds(int32_t value) const override { return value % (value >= 1000 ? 1000 : 100) == 0; }
};

// Rounded toward zero to a multiple of 20.
class AnalyzerMinDecibel final : public ConfigInteger {
 public:
  AnalyzerMinDecibel() : ConfigInteger(offsetof(SoundConfigData, minDecibel)) {}
  std::string GetDefault() const override { return "-80"; }
  std::string GetKey() const override { return "MinDecibel"; }
  int32_t GetMin() const override { return -140; }
  int32_t GetMax() const override { return -60; }
  void SetText(const std::string& text) override;
  bool Holds(int32_t value) const override { return value % 20 == 0; }
};

QUILL_CONFIG_LIST(AnalyzerView, "View", "BOTH", analyzerView, "BOTH", "LEFT", "RIGHT");
QUILL_CONFIG_LIST(AnalyzerWindowFunction, "WindowFunction", "HAMMING", windowFunction, "RECTANGULAR", "HANN", "HAMMING",
                  "BLACKMAN", "BLACKMAN_HARRIS", "FLAT_TOP");
// The record holds the position in the list, not the number of samples.
QUILL_CONFIG_LIST(AnalyzerSampleUnit, "SampleUnit", "512", sampleUnit, "128", "256", "512", "1024", "2048", "4096");
QUILL_CONFIG_LIST(AnalyzerAggregate, "Aggregate", "AVERAGE", aggregate, "AVERAGE", "MAX");
QUILL_CONFIG_LIST(AnalyzerBackground, "Background", "ANALYSIS", background, "OFF", "ANALYSIS", "DISPLAY");

// ---- Filter ----

QUILL_CONFIG_FLOAT(LowPassFilter, "LowPassFilter", "0.00", -1.0, 0.0, lowPassFilter);
// The biquad stage's filter. Its code tells which of the filter items the
// device uses: the five [PL7X] filters take one value (BiquadValue), LPF to
// HSF take frequency, gain and Q (FilterF0, FilterGain, FilterQ).
class BiquadType final : public ConfigList {
 public:
  static constexpr uint32_t FIRST_ONE_VALUE = 1;   // "[PL7X] LPF"
  static constexpr uint32_t LAST_ONE_VALUE = 5;    // "[PL7X] BPF_2048"
  static constexpr uint32_t FIRST_PARAMETRIC = 6;  // "LPF"
  static constexpr uint32_t LAST_PARAMETRIC = 10;  // "HSF"
  static bool TakesValue(uint32_t code) { return code >= FIRST_ONE_VALUE && code <= LAST_ONE_VALUE; }
  static bool TakesParameters(uint32_t code) { return code >= FIRST_PARAMETRIC && code <= LAST_PARAMETRIC; }

  BiquadType() : ConfigList(offsetof(SoundConfigData, biquadType)) {}
  std::string GetDefault() const override { return "NONE"; }
  std::string GetKey() const override { return "BiquadType"; }
  std::string GetEntry(uint32_t index) const override {
    static const char* const entries[] = {
        "NONE",    "[PL7X] LPF", "[PL7X] HPF", "[PL7X] BPF_512", "[PL7X] BPF_1024", "[PL7X] BPF_2048", "LPF", "HPF",
        "Peaking", "LSF",        "HSF"};
    return EntryOf(entries, sizeof entries / sizeof entries[0], index);
  }
};
QUILL_CONFIG_FLOAT(BiquadValue, "BiquadValue", "0.00", 0.0, 1.0, biquadValue);
QUILL_CONFIG_LIST(VisibleFilterResponse, "Visible Response", "OFF", visibleResponse, "OFF", "ON");
QUILL_CONFIG_INTEGER(FilterF0, "Center Frequency", "5000", 100, 20000, filterF0);
// The defaults "3.0" and "1.0" are shown as they are until a SetText or a
// received record puts them into the two-decimal form.
QUILL_CONFIG_FLOAT(FilterGain, "Gain", "3.0", -24.0, 24.0, filterGain);
QUILL_CONFIG_FLOAT(FilterQ, "Q", "1.0", 0.1, 20.0, filterQ);

#undef QUILL_CONFIG_INTEGER
#undef QUILL_CONFIG_FLOAT
#undef QUILL_CONFIG_LIST
#undef QUILL_CONFIG_EFFECT
#undef QUILL_CONFIG_EFFECT_LIST
