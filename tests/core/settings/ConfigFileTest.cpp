// Settings files: the layout that SaveFile writes and what LoadFile takes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "platform/WinText.h"
#endif

#include "SettingsFakes.h"
#include "TestUtil.h"
#include "platform/Platform.h"
#include "settings/SoundConfig.h"
#include "support/File.h"
#include "support/Language.h"

#define WD "\x81\x60"

namespace {
// The file that a model holding the defaults writes, line by line: the
// lines before the two auxiliary buses, each bus's lines (the same for both),
// and the lines after them.
const char* const DEFAULT_LINES[] = {
    "Quillon",
    "",
    "*DisplayMode",
    "DisplayMode:                Analyzer            // Analyzer[Analyzer/Config]",
    "",
    "*SamplingMode",
    "SamplingRate:               32728               // 32728  [16000" WD "96000]",
    "WaveFormat:                 PCM                 // PCM    [PCM/ADPCM/CRI ADX/CRI HCA HIGHEST/CRI HCA HIGH/CRI HCA "
    "MIDDLE/CRI HCA LOW/CRI HCA LOWEST]",
    "",
    "*OutputMode",
    "OutputMode:                 CONFIG              // CONFIG [MONO/STEREO/SURROUND/CONFIG]",
    "ClippingMode:               SOFT                // SOFT   [NORMAL/SOFT]",
    "SurroundDepth:              1.00                // 1.00   [0.00" WD "1.00]",
    "SpeakerPosition:            SQUARE              // SQUARE [SQUARE/WIDE]",
    "SrcType:                    4TAP                // 4TAP   [NONE/LINEAR/4TAP] SamplingRateConverterType",
    "",
    "*SoundParam",
    "Volume:                     1.00                // 1.00   [0.00" WD "2.00]",
    "PanMode:                    DUAL                // DUAL   [DUAL/BALANCE]",
    "PanCurve:                   SQRT                // SQRT   "
    "[SQRT/SQRT_0DB/SQRT_0DB_CLAMP/SINCOS/SINCOS_0DB/SINCOS_0DB_CLAMP/LINEAR/LINEAR_0DB/LINEAR_0DB_CLAMP]",
    "Pan:                        0.00                // 0.00   [-1.00" WD "1.00]",
    "SurroundPan:                0.00                // 0.00   [-2.00" WD "2.00]",
    "FrontBypassFlag:            OFF                 // OFF    [OFF/ON]",
    "MainSend:                   0.00                // 0.00   [-1.00" WD "0.00]",
    "FxSendA:                    1.00                // 1.00   [-1.00" WD "1.00]",
    "FxSendB:                    1.00                // 1.00   [-1.00" WD "1.00]",
    "",
    "*Effect",
    "AuxBusA:                    NONE                // NONE   [NONE/REVERB/DELAY]",
    "AuxBusB:                    NONE                // NONE   [NONE/REVERB/DELAY]",
};

const char* const DEFAULT_BUS_LINES[] = {
    "***Reverb",
    "EarlyReflectionTime:        60                  // 60     [5" WD "10000]",
    "FusedTime:                  4000                // 4000   [1" WD "40000]",
    "PreDelayTime:               100                 // 100    [5" WD "10000]",
    "Coloration:                 0.50                // 0.50   [0.00" WD "1.00]",
    "Damping:                    0.40                // 0.40   [0.00" WD "1.00]",
    "Comb0:                      3040                // 3040   [160" WD "16000] Multiple by 160",
    "Comb1:                      3680                // 3680   [160" WD "16000] Multiple by 160",
    "AllPass:                    2080                // 2080   [160" WD "16000] Multiple by 160",
    "EarlyGain:                  0.60                // 0.60   [0.00" WD "1.00]",
    "FusedGain:                  0.40                // 0.40   [0.00" WD "1.00]",
    "IsEnableSurround:           OFF                 // OFF    [OFF/ON]",
    "UseHpfDamping:              OFF                 // OFF    [OFF/ON]",
    "***Delay",
    "DelayTime:                  250                 // 250    [0" WD "10000]",
    "FeedbackGain:               0.40                // 0.40   [0.00" WD "1.00]",
    "Damping:                    0.50                // 0.50   [0.00" WD "1.00]",
    "IsEnableSurround:           OFF                 // OFF    [OFF/ON]",
};

const char* const DEFAULT_TAIL_LINES[] = {
    "",
    "*Analyzer",
    "Wave:                       MIXED               // MIXED  [ORIGINAL/MIXED]",
    "Axis:                       LOGARITHMIC1        // LOGARITHMIC1[LINEAR/LOGARITHMIC1/LOGARITHMIC2/AMPLIFICATION]",
    "Current:                    0                   // 0      [0" WD "48000]",
    "AmplificationRange:         1000                // 1000   [100" WD "8000]",
    "MinDecibel:                 -80                 // -80    [-140" WD "-60]",
    "View:                       BOTH                // BOTH   [BOTH/LEFT/RIGHT]",
    "WindowFunction:             HAMMING             // "
    "HAMMING[RECTANGULAR/HANN/HAMMING/BLACKMAN/BLACKMAN_HARRIS/FLAT_TOP]",
    "SampleUnit:                 512                 // 512    [128/256/512/1024/2048/4096]",
    "Aggregate:                  AVERAGE             // AVERAGE[AVERAGE/MAX]",
    "Background:                 ANALYSIS            // ANALYSIS[OFF/ANALYSIS/DISPLAY]",
    "",
    "*Filter",
    "LowPassFilter:              0.00                // 0.00   [-1.00" WD "0.00]",
    "BiquadType:                 NONE                // NONE   [NONE/[PL7X] LPF/[PL7X] HPF/[PL7X] BPF_512/[PL7X] "
    "BPF_1024/[PL7X] BPF_2048/LPF/HPF/Peaking/LSF/HSF]",
    "BiquadValue:                0.00                // 0.00   [0.00" WD "1.00]",
    "Visible Response:           OFF                 // OFF    [OFF/ON]",
    "Center Frequency:           5000                // 5000   [100" WD "20000]",
    "Gain:                       3.0                 // 3.0    [-24.00" WD "24.00]",
    "Q:                          1.0                 // 1.0    [0.10" WD "20.00]",
};

std::string DefaultsFile() {
  std::string text;
  auto add = [&text](const char* line) { text += std::string(line) + "\r\n"; };
  for (const char* line : DEFAULT_LINES) add(line);
  for (const char* bus : {"**AUX_BUS_A", "**AUX_BUS_B"}) {
    add(bus);
    for (const char* line : DEFAULT_BUS_LINES) add(line);
  }
  for (const char* line : DEFAULT_TAIL_LINES) add(line);
  return text;
}

// Catalogue indices used below.
enum : int32_t {
  WAVE_FORMAT = 2,
  VOLUME = 8,
  PAN_CURVE = 10,
  REVERB_DAMPING_A = 23,
  DELAY_DAMPING_A = 33,
  REVERB_DAMPING_B = 39,
  DELAY_DAMPING_B = 49,
  BIQUAD_TYPE = 62,
  VISIBLE_RESPONSE = 64,
  FILTER_F0 = 65,
  FILTER_GAIN = 66,
  FILTER_Q = 67,
};

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestResources();
    config.SetView(&view);
  }

  bool Load(const std::string& text, bool quiet = false) {
    dir.Write("in.cfg", text);
    return config.LoadFile(dir.File("in.cfg"), quiet);
  }
  std::string Value(int32_t index) { return config.GetItem(index)->GetValue(); }
  // Gives a few items values other than their defaults.
  void ChangeSome() {
    config.GetItem(VOLUME)->SetText("0.3");
    config.GetItem(PAN_CURVE)->SetText("SINCOS");
    config.GetItem(DELAY_DAMPING_B)->SetText("0.9");
    config.GetItem(FILTER_F0)->SetText("150");
    for (int32_t i = 0; i < config.GetCount(); ++i) config.GetItem(i)->StoreToRecord();
  }
  bool RecordIs(const SoundConfigData& expected) {
    SoundConfigData now = config.GetRecord();
    return memcmp(&now, &expected, sizeof now) == 0;
  }

  TempDir dir;
  FakeView view;
  SoundConfig config{nullptr, true, dir.Path()};
};
}  // namespace

TEST_F(ConfigFileTest, DefaultsFileByteForByte) {
  config.SaveFile("out.cfg");  // relative: in the program's folder
  EXPECT_EQ(dir.Read("out.cfg"), DefaultsFile());
  EXPECT_TRUE(view.errors.empty());
}

TEST_F(ConfigFileTest, LayoutOfTheKeyLines) {
  std::string text = config.SaveText();
  std::string displayMode =
      "DisplayMode:" + std::string(16, ' ') + "Analyzer" + std::string(12, ' ') + "// Analyzer[Analyzer/Config]\r\n";
  std::string offList =
      "FrontBypassFlag:" + std::string(12, ' ') + "OFF" + std::string(17, ' ') + "// OFF    [OFF/ON]\r\n";
  std::string comb0 = "Comb0:" + std::string(22, ' ') + "3040" + std::string(16, ' ') +
                      "// 3040   [160" WD "16000] Multiple by 160\r\n";
  EXPECT_EQ(text.compare(0, 9 + 2 + 14, "Quillon\r\n\r\n*DisplayMode\r\n"), 0);
  EXPECT_NE(text.find("\r\n*DisplayMode\r\n" + displayMode), std::string::npos);
  EXPECT_NE(text.find(offList), std::string::npos);
  EXPECT_NE(text.find("***Reverb\r\n"), std::string::npos);
  // Comb0 of bus A is the first Comb0 line, under **AUX_BUS_A and ***Reverb.
  size_t busA = text.find("**AUX_BUS_A\r\n***Reverb\r\n");
  ASSERT_NE(busA, std::string::npos);
  EXPECT_EQ(text.find("Comb0:"), text.find(comb0));
  EXPECT_GT(text.find(comb0), busA);
}

TEST_F(ConfigFileTest, SaveLoadSave) {
  SoundConfigData fresh = config.GetRecord();
  config.SaveFile("a.cfg");
  ASSERT_TRUE(config.LoadFile("a.cfg", false));
  EXPECT_TRUE(RecordIs(fresh));
  // Only the two defaults that are not in two-decimal form change their text.
  EXPECT_EQ(Value(FILTER_GAIN), "3.00");
  EXPECT_EQ(Value(FILTER_Q), "1.00");
  config.SaveFile("b.cfg");
  std::string expected = DefaultsFile();
  expected.replace(expected.find("\r\nGain:") + 2 + 28, 4, "3.00");
  expected.replace(expected.find("\r\nQ:") + 2 + 28, 4, "1.00");
  EXPECT_EQ(dir.Read("b.cfg"), expected);
  ASSERT_TRUE(config.LoadFile("b.cfg", false));
  config.SaveFile("c.cfg");
  EXPECT_EQ(dir.Read("c.cfg"), dir.Read("b.cfg"));

  // Other values travel to another model unchanged.
  ChangeSome();
  config.GetItem(WAVE_FORMAT)->SetText("CRI HCA HIGH");
  config.GetItem(BIQUAD_TYPE)->SetText("[PL7X] BPF_1024");
  config.GetItem(VISIBLE_RESPONSE)->SetText("ON");
  for (int32_t i = 0; i < config.GetCount(); ++i) config.GetItem(i)->StoreToRecord();
  config.SaveFile("d.cfg");
  SoundConfig other(nullptr, true, dir.Path());
  ASSERT_TRUE(other.LoadFile("d.cfg", true));
  for (int32_t i = 0; i < config.GetCount(); ++i) EXPECT_EQ(other.GetItem(i)->GetValue(), Value(i)) << i;
  SoundConfigData a = config.GetRecord();
  SoundConfigData b = other.GetRecord();
  EXPECT_EQ(memcmp(&a, &b, sizeof a), 0);
  EXPECT_EQ(other.SaveText(), config.SaveText());
}

TEST_F(ConfigFileTest, HeaderLine) {
  ChangeSome();
  // Only the header: every item to its default.
  ASSERT_TRUE(Load("Quillon\r\n"));
  for (int32_t i = 0; i < config.GetCount(); ++i) {
    EXPECT_EQ(Value(i), config.GetItem(i)->GetDefault()) << i;
  }
  EXPECT_EQ(config.GetRecord().volume, 1.0f);
  EXPECT_TRUE(Load("Quillon settings of the sound test\n*SoundParam\nVolume: 0.75\n"));
  EXPECT_EQ(Value(VOLUME), "0.75");
  // A UTF-8 byte-order mark before the header is skipped.
  EXPECT_TRUE(Load("\xEF\xBB\xBFQuillon\r\n*SoundParam\r\nVolume: 0.5\r\n"));
  EXPECT_EQ(Value(VOLUME), "0.50");
  EXPECT_TRUE(view.errors.empty());
  EXPECT_EQ(view.refreshes, 3);
}

TEST_F(ConfigFileTest, NotASettingsFile) {
  ChangeSome();
  SoundConfigData before = config.GetRecord();
  for (const char* text : {"", "\n", "quillon\n", "Quill\n*SoundParam\nVolume: 0.5\n", " Quillon\n"}) {
    view.errors.clear();
    EXPECT_FALSE(Load(text)) << text;
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0].message, ConfigMessage::NOT_SETTINGS_FILE);
    EXPECT_EQ(view.errors[0].path, dir.File("in.cfg"));
  }
  EXPECT_TRUE(RecordIs(before));
  EXPECT_EQ(Value(VOLUME), "0.30");
  view.errors.clear();
  EXPECT_FALSE(Load("", true));
  EXPECT_TRUE(view.errors.empty());
  EXPECT_EQ(view.refreshes, 0);
}

TEST_F(ConfigFileTest, SectionsChooseTheItem) {
  const std::string delayB = "Quillon\n*Effect\n**AUX_BUS_B\n***Delay\n";
  ASSERT_TRUE(Load(delayB + "Damping: 0.9\n"));
  EXPECT_EQ(Value(DELAY_DAMPING_B), "0.90");
  EXPECT_EQ(Value(DELAY_DAMPING_A), "0.50");
  EXPECT_EQ(Value(REVERB_DAMPING_A), "0.40");
  EXPECT_EQ(Value(REVERB_DAMPING_B), "0.40");
  EXPECT_FLOAT_EQ(config.GetRecord().effect[1].delayDamping, 0.9f);

  // Before any section line no item has that path.
  ASSERT_TRUE(Load("Quillon\nDamping: 0.9\nVolume: 0.2\n"));
  EXPECT_EQ(Value(DELAY_DAMPING_B), "0.50");
  EXPECT_EQ(Value(VOLUME), "1.00");

  // Five stars: ignored, the path stays; a lone star too.
  ASSERT_TRUE(Load(delayB + "*****Reverb\n*\n***\nDamping: 0.8\n"));
  EXPECT_EQ(Value(DELAY_DAMPING_B), "0.80");

  // Four stars set level 3, which no item uses; going back up clears it.
  ASSERT_TRUE(Load(delayB + "****Deeper\nDamping: 0.7\n***Delay\nFeedbackGain: 0.1\n"));
  EXPECT_EQ(Value(DELAY_DAMPING_B), "0.50");
  EXPECT_EQ(Value(DELAY_DAMPING_B - 1), "0.10");

  // A new top level clears the deeper ones; words after the name are ignored.
  ASSERT_TRUE(Load(delayB + "*SoundParam of the PC\nVolume: 0.2\n"));
  EXPECT_EQ(Value(VOLUME), "0.20");
}

TEST_F(ConfigFileTest, KeyLines) {
  ASSERT_TRUE(
      Load("Quillon\n"
           "*SamplingMode\n"
           "WaveFormat:   CRI HCA HIGH   // three words\n"
           "*SoundParam\n"
           "Volume: 0.50 // a comment after the value\n"
           "PanCurve:SINCOS\n"
           "Pan\t:\t-0.25\n"
           "SurroundPan:\n"
           ": 1.5\n"
           "FxSendA 0.5\n"
           "//Volume: 0.1\n"
           "*Filter\n"
           "Visible Response: ON\n"
           "Center   Frequency: 30000\n"
           "Q: 0.5\r\n"
           "Gain: 2"));
  EXPECT_EQ(Value(WAVE_FORMAT), "CRI HCA HIGH");
  EXPECT_EQ(config.GetRecord().waveFormat, 4u);
  EXPECT_EQ(Value(VOLUME), "0.50");
  EXPECT_EQ(Value(PAN_CURVE), "SINCOS");
  EXPECT_EQ(Value(PAN_CURVE + 1), "-0.25");
  EXPECT_EQ(Value(PAN_CURVE + 2), "0.00");
  EXPECT_EQ(Value(15), "1.00");
  EXPECT_EQ(Value(VISIBLE_RESPONSE), "ON");
  EXPECT_EQ(Value(FILTER_F0), "20000");
  EXPECT_EQ(Value(FILTER_Q), "0.50");
  // The last line has no line end; it is read all the same.
  EXPECT_EQ(Value(FILTER_GAIN), "2.00");

  ASSERT_TRUE(Load("Quillon\n*SamplingMode\nWaveFormat: cri adx\nSamplingRate: 8000 Hz\n"));
  EXPECT_EQ(Value(WAVE_FORMAT), "PCM");
  // "8000 Hz" is not a number: the default, not the clamped 16000.
  EXPECT_EQ(Value(WAVE_FORMAT - 1), "32728");

  // The text ends at a NUL.
  const char withNul[] = "Quillon\n*SoundParam\nVolume: 0.4\n\0Pan: 0.5\n";
  ASSERT_TRUE(Load(std::string(withNul, sizeof withNul - 1)));
  EXPECT_EQ(Value(VOLUME), "0.40");
  EXPECT_EQ(Value(PAN_CURVE + 1), "0.00");
}

TEST_F(ConfigFileTest, UnreadableFilesLeaveTheModelAlone) {
  ChangeSome();
  SoundConfigData before = config.GetRecord();
  std::string missing = dir.File("missing.cfg");
  EXPECT_FALSE(config.LoadFile(missing, false));
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_EQ(view.errors[0].message, ConfigMessage::CANNOT_OPEN);
  EXPECT_EQ(view.errors[0].path, missing);
  EXPECT_FALSE(config.LoadFile(missing, true));
  EXPECT_EQ(view.errors.size(), 1u);
  EXPECT_FALSE(config.LoadFile(dir.Path(), true));  // a folder

  // Far larger than any settings file: refused without reading it.
  EXPECT_FALSE(Load("Quillon\n" + std::string(SoundConfig::FILE_SIZE_MAX, ' ')));
  EXPECT_EQ(view.errors.back().message, ConfigMessage::NOT_SETTINGS_FILE);
  EXPECT_EQ(view.errors.back().path, dir.File("in.cfg"));
  EXPECT_TRUE(RecordIs(before));
  EXPECT_EQ(Value(PAN_CURVE), "SINCOS");
  EXPECT_EQ(view.refreshes, 0);
}

TEST_F(ConfigFileTest, SaveFailure) {
  std::string path = dir.File("no folder%s%n%d") + "/out.cfg";
  config.SaveFile(path);
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_EQ(view.errors[0].message, ConfigMessage::CANNOT_SAVE);
  EXPECT_EQ(view.errors[0].path, path);
  // Per cent signs in a path are text like any other.
  config.SaveFile(dir.File("100%s.cfg"));
  EXPECT_EQ(dir.Read("100%s.cfg"), DefaultsFile());
}

// The new text replaces the old file only once it was written whole. A write
// that fails later than the open (here the rename, a folder being in the way)
// leaves what was there and no temporary file; the user's own save gets the
// box, the auto-save, which runs after every change, only the log line.
TEST_F(ConfigFileTest, FailedWritesKeepWhatWasThere) {
  struct Case {
    const char* what;
    std::function<void(SoundConfig&)> save;
    std::string name;
    size_t boxes;
  };
  const Case cases[] = {
      {"the user's save", [](SoundConfig& c) { c.SaveFile("mine.cfg"); }, "mine.cfg", 1},
      {"the auto-save", [](SoundConfig& c) { c.Apply(c.TakeSnapshot()); }, SoundConfig::AUTOSAVE_FILE, 0},
  };
  for (const Case& c : cases) {
    view.errors.clear();
    const std::string path = dir.File(c.name);
    ASSERT_TRUE(platform::MakeDirectory(path.c_str()));
    dir.Write(c.name + "/inside", "kept");
    LogCapture log;
    c.save(config);
    EXPECT_EQ(dir.Read(c.name + "/inside"), "kept") << c.what;
    EXPECT_FALSE(CFile::FileExists((path + ".tmp").c_str())) << c.what;
    EXPECT_NE(log.Text().find("SaveFile: writing " + path + " failed\n"), std::string::npos) << c.what;
    ASSERT_EQ(view.errors.size(), c.boxes) << c.what;
    if (c.boxes > 0) {
      EXPECT_EQ(view.errors[0].message, ConfigMessage::CANNOT_SAVE);
      EXPECT_EQ(view.errors[0].path, path);
    }
  }

  // A successful save replaces the old file and leaves no temporary file.
  dir.Write("old.cfg", "Quillon\nold\n");
  config.SaveFile("old.cfg");
  EXPECT_EQ(dir.Read("old.cfg"), DefaultsFile());
  EXPECT_FALSE(CFile::FileExists(dir.File("old.cfg.tmp").c_str()));
}

TEST_F(ConfigFileTest, LogLinesNameThePathAsPassed) {
  LogCapture log;
  config.SaveFile("x.cfg");
  config.LoadFile("x.cfg", true);
  EXPECT_NE(log.Text().find("SaveFile(x.cfg)\n"), std::string::npos);
  EXPECT_NE(log.Text().find("LoadFile(x.cfg)\n"), std::string::npos);
}

// Natively the table's language is chosen here; under wine it follows the
// locale the test program runs in (the Japanese run sets QUILL_EXPECT_JAPANESE).
TEST_F(ConfigFileTest, JapaneseTexts) {
#ifdef _WIN32
  if (getenv("QUILL_EXPECT_JAPANESE") == nullptr) GTEST_SKIP() << "needs a Japanese locale";
#else
  SetResourceLanguage(ResourceLanguage::Japanese);
#endif
  std::string text = config.SaveText();
#ifndef _WIN32
  SetResourceLanguage(ResourceLanguage::FromEnvironment);
#endif
  // The note in code page 932; the wave dash is the same two bytes as ever.
  // (The messages' texts are the main window's: MainWindowTest.)
  EXPECT_NE(text.find("// 3040   [160" WD "16000] 160\x82\xcc\x94\x7b\x90\x94\r\n"), std::string::npos);
}

TEST_F(ConfigFileTest, AutoSaveFile) {
  // Missing: written with the defaults, silently.
  config.RestoreAutoSave();
  EXPECT_EQ(dir.Read(SoundConfig::AUTOSAVE_FILE), DefaultsFile());
  const std::string bad = std::string(SoundConfig::AUTOSAVE_FILE) + SoundConfig::AUTOSAVE_BAD_SUFFIX;
  EXPECT_FALSE(CFile::FileExists(dir.File(bad).c_str())) << "nothing to keep";
  // Foreign: kept aside (an older one replaced), then replaced, silently.
  for (const char* foreign : {"something else\n", "another\n"}) {
    dir.Write(SoundConfig::AUTOSAVE_FILE, foreign);
    config.RestoreAutoSave();
    EXPECT_EQ(dir.Read(SoundConfig::AUTOSAVE_FILE), DefaultsFile());
    EXPECT_EQ(dir.Read(bad), foreign);
  }
  // A settings file: its values are taken and written back.
  dir.Write(SoundConfig::AUTOSAVE_FILE, "Quillon\n*SoundParam\nVolume: 0.6\n");
  config.RestoreAutoSave();
  EXPECT_EQ(Value(VOLUME), "0.60");
  EXPECT_NE(dir.Read(SoundConfig::AUTOSAVE_FILE).find("Volume:                     0.60 "), std::string::npos);
  EXPECT_EQ(dir.Read(bad), "another\n") << "a good file is not kept aside";
  EXPECT_TRUE(view.errors.empty());
}

// An auto-save file that exists but cannot be read at start (here a folder in
// its place; on Windows also a file another program holds open without
// sharing) is never written over: the settings stay the defaults, the log
// and the level display say why once, and the auto-save waits until the
// file has been loaded or saved over by the user.
TEST_F(ConfigFileTest, AnAutoSaveFileThatCannotBeReadIsNeverWrittenOver) {
  const std::string path = dir.File(SoundConfig::AUTOSAVE_FILE);
  ASSERT_TRUE(platform::MakeDirectory(path.c_str()));
  dir.Write(std::string(SoundConfig::AUTOSAVE_FILE) + "/inside", "kept");
  LogCapture log;
  config.RestoreAutoSave();
  EXPECT_TRUE(config.IsAutoSaveHeld());
  EXPECT_EQ(config.TakeNotice(), ConfigNotice::AUTOSAVE_UNREAD);
  EXPECT_EQ(config.TakeNotice(), ConfigNotice::NONE) << "said once";
  EXPECT_EQ(Value(VOLUME), "1.00");
  config.GetItem(VOLUME)->SetText("0.3");
  config.Apply(config.TakeSnapshot());
  config.Apply(config.TakeSnapshot());
  EXPECT_TRUE(platform::IsDirectory(path.c_str()));
  EXPECT_EQ(dir.Read(std::string(SoundConfig::AUTOSAVE_FILE) + "/inside"), "kept");
  const std::string text = log.Text();
  size_t lines = 0;
  for (size_t at = text.find("RestoreAutoSave: "); at != std::string::npos;
       at = text.find("RestoreAutoSave: ", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 1u) << text;
  EXPECT_NE(text.find("RestoreAutoSave: " + path + " exists but"), std::string::npos) << text;
  EXPECT_TRUE(view.errors.empty());

  // Once the file can be read and the user loads it, the auto-save goes on.
  std::filesystem::remove_all(std::filesystem::u8path(path));
  dir.Write(SoundConfig::AUTOSAVE_FILE, "Quillon\n*SoundParam\nVolume: 0.7\n");
  ASSERT_TRUE(config.LoadAndApply(path));
  EXPECT_FALSE(config.IsAutoSaveHeld());
  EXPECT_NE(dir.Read(SoundConfig::AUTOSAVE_FILE).find("Volume:                     0.70 "), std::string::npos);

#ifdef _WIN32
  // Held open without sharing by another program: its settings survive.
  const std::string settings = "Quillon\r\n*SoundParam\r\nVolume: 0.4\r\n";
  dir.Write(SoundConfig::AUTOSAVE_FILE, settings);
  HANDLE locked = CreateFileW(platform::Utf8ToWide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  SoundConfig fresh{nullptr, true, dir.Path()};
  fresh.RestoreAutoSave();
  EXPECT_TRUE(fresh.IsAutoSaveHeld());
  EXPECT_EQ(fresh.GetItem(VOLUME)->GetValue(), "1.00");
  fresh.GetItem(VOLUME)->SetText("0.3");
  fresh.Apply(fresh.TakeSnapshot());
  CloseHandle(locked);
  fresh.Apply(fresh.TakeSnapshot());
  EXPECT_EQ(dir.Read(SoundConfig::AUTOSAVE_FILE), settings);
  // The user's explicit save over it: written, and the auto-save goes on.
  fresh.SaveFile(SoundConfig::AUTOSAVE_FILE);
  EXPECT_FALSE(fresh.IsAutoSaveHeld());
  EXPECT_NE(dir.Read(SoundConfig::AUTOSAVE_FILE).find("Volume:                     0.30 "), std::string::npos);
#endif
}

// Every replacement of the auto-save file keeps the previous good copy as
// NAME.bak; at start, a file that is empty (a power loss) or not a settings
// file is kept as NAME.bad and the previous copy is taken, with a log line.
// An empty or foreign file never replaces the good copy.
TEST_F(ConfigFileTest, AutoSaveKeepsThePreviousGoodCopyAndFallsBackToIt) {
  const std::string name = SoundConfig::AUTOSAVE_FILE;
  const std::string backup = name + SoundConfig::AUTOSAVE_BACKUP_SUFFIX;
  const std::string bad = name + SoundConfig::AUTOSAVE_BAD_SUFFIX;
  config.RestoreAutoSave();
  EXPECT_FALSE(CFile::FileExists(dir.File(backup).c_str())) << "no previous copy yet";
  config.GetItem(VOLUME)->SetText("0.5");
  config.Apply(config.TakeSnapshot());
  EXPECT_EQ(dir.Read(backup), DefaultsFile());
  const std::string half = dir.Read(name);
  config.GetItem(VOLUME)->SetText("0.25");
  config.Apply(config.TakeSnapshot());
  EXPECT_EQ(dir.Read(backup), half);
  // Saving what is already there writes nothing, and keeps the copy.
  config.Apply(config.TakeSnapshot());
  EXPECT_EQ(dir.Read(backup), half);

  for (const std::string& broken : {std::string(), std::string(4, '\0'), std::string("garbage\n")}) {
    SCOPED_TRACE(broken.size());
    dir.Write(name, broken);
    SoundConfig fresh{nullptr, true, dir.Path()};
    LogCapture log;
    fresh.RestoreAutoSave();
    EXPECT_EQ(fresh.GetItem(VOLUME)->GetValue(), "0.50");
    EXPECT_NE(log.Text().find("RestoreAutoSave: the previous copy " + dir.File(backup) + " is used"), std::string::npos)
        << log.Text();
    EXPECT_EQ(dir.Read(bad), broken);
    EXPECT_NE(dir.Read(name).find("Volume:                     0.50 "), std::string::npos);
    EXPECT_EQ(dir.Read(backup), half);
  }
  dir.Write(name, "");
  config.Apply(config.TakeSnapshot());
  EXPECT_EQ(dir.Read(backup), half) << "an empty file does not replace the good copy";

  // A missing file is not taken from the copy: deleting it resets.
  std::filesystem::remove(std::filesystem::u8path(dir.File(name)));
  SoundConfig fresh{nullptr, true, dir.Path()};
  fresh.RestoreAutoSave();
  EXPECT_EQ(fresh.GetItem(VOLUME)->GetValue(), "1.00");
  EXPECT_EQ(dir.Read(name), DefaultsFile());
}

TEST_F(ConfigFileTest, LoadAndDefaultButtons) {
  FakeCapture capture;
  FakeChannel channel;
  channel.status = PacketChannel::Status::CONNECTED;
  SoundConfig model(&channel, true, dir.Path());
  model.SetCapture(&capture);
  model.SetView(&view);

  // A failed load applies nothing.
  EXPECT_FALSE(model.LoadAndApply("missing.cfg"));
  EXPECT_EQ(view.errors.size(), 1u);
  EXPECT_TRUE(channel.packets.empty());
  EXPECT_EQ(dir.Read(SoundConfig::AUTOSAVE_FILE), "");

  // A load that changes the rate: applied, capture restarted, record sent.
  dir.Write("rate.cfg", "Quillon\n*SamplingMode\nSamplingRate: 48000\n");
  EXPECT_TRUE(model.LoadAndApply("rate.cfg"));
  EXPECT_EQ(model.GetSamplingRate(), 48000);
  EXPECT_EQ(capture.stops, 1);
  EXPECT_EQ(channel.packets.size(), 1u);
  EXPECT_NE(dir.Read(SoundConfig::AUTOSAVE_FILE).find("SamplingRate:               48000 "), std::string::npos);

  // Default: back to 32728, controls refreshed, applied.
  int refreshes = view.refreshes;
  model.ApplyDefaults();
  EXPECT_EQ(model.GetSamplingRate(), 32728);
  EXPECT_EQ(view.refreshes, refreshes + 1);
  EXPECT_EQ(capture.stops, 2);
  EXPECT_EQ(channel.packets.size(), 2u);
  EXPECT_EQ(dir.Read(SoundConfig::AUTOSAVE_FILE), DefaultsFile());
}
