#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "QuillMatch.h"

namespace quillmatch {
namespace {

constexpr uint32_t RATE = 32728;

// A recording that holds the sweep from a fractional frame on, with noise,
// is found at that frame and measured at the noise's level.
TEST(QuillMatch, FindsTheSoundToAFractionOfAFrameAndMeasuresTheNoise) {
  SignalDesc sig;
  sig.seconds = 2.0;
  const Wave reference = Generate(sig, RATE);
  const double offset = 0.1234567;
  const Wave recording = Generate(sig, RATE, offset, 0.005);
  const Match m = Compare(reference, recording);
  ASSERT_TRUE(m.found);
  EXPECT_NEAR(m.lagFrames, offset * RATE, 0.05);
  EXPECT_NEAR(m.channel[0].gain, 1.0, 0.01);
  // Half-scale sine (RMS 0.354, less the fades) against noise of RMS 0.005.
  EXPECT_NEAR(m.channel[0].snrDb, 36.9, 1.0);
  EXPECT_NEAR(m.channel[1].snrDb, 36.9, 1.0);
}

TEST(QuillMatch, ReportsGainAndCatchesSwappedChannels) {
  SignalDesc sig;
  sig.seconds = 1.0;
  const Wave reference = Generate(sig, RATE);
  Wave quiet = Generate(sig, RATE, 0.05);
  for (int16_t& s : quiet.samples) s = static_cast<int16_t>(s / 2);
  Match m = Compare(reference, quiet);
  ASSERT_TRUE(m.found);
  EXPECT_NEAR(m.channel[0].gain, 0.5, 0.01);
  EXPECT_GT(m.SnrDb(), 40.0);

  Wave swapped = Generate(sig, RATE, 0.05);
  for (size_t i = 0; i + 1 < swapped.samples.size(); i += 2) std::swap(swapped.samples[i], swapped.samples[i + 1]);
  m = Compare(reference, swapped);
  EXPECT_LT(m.found ? m.SnrDb() : -100.0, 3.0);
}

TEST(QuillMatch, SilenceOrATooShortRecordingIsNoMatch) {
  SignalDesc sig;
  sig.seconds = 1.0;
  const Wave reference = Generate(sig, RATE);
  Wave silence;
  silence.rate = RATE;
  silence.channels = 2;
  silence.samples.assign(RATE * 2 * 2, 0);
  EXPECT_FALSE(Compare(reference, silence).found);
  silence.samples.resize(100);
  EXPECT_FALSE(Compare(reference, silence).found);
}

TEST(QuillMatch, ClickIsFoundAtItsFrame) {
  SignalDesc sig;
  sig.kind = Signal::Click;
  sig.seconds = 1.0;
  sig.clickAt = 0.25;
  const Wave wave = Generate(sig, 48000, 0.5);
  const int64_t frame = FindClick(wave, 0.25);
  // The burst's envelope reaches a quarter scale within its first 0.2 ms.
  EXPECT_GE(frame, 36000);
  EXPECT_LE(frame, 36000 + 10);
  // From a later frame on, that click is not seen (the measurement finds each
  // of several clicks of one stream after the one before).
  EXPECT_EQ(FindClick(wave, 0.25, frame + 480), -1);
  EXPECT_EQ(FindClick(wave, 0.25, frame), frame);
  const Levels levels = MeasureLevels(wave);
  EXPECT_GT(levels.peakDbfs[0], -2.0);
  EXPECT_LT(levels.peakDbfs[0], -0.9);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(QuillMatch, WaveFilesRoundTripAndACutRecordingReadsWhatIsThere) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("quillmatch-" + std::to_string(std::random_device{}()) + ".wav"))
          .string();
  SignalDesc sig;
  sig.seconds = 0.1;
  const Wave wave = Generate(sig, RATE);
  std::string error;
  ASSERT_TRUE(WriteWave(path, wave, &error)) << error;
  Wave back;
  ASSERT_TRUE(ReadWave(path, &back, &error)) << error;
  EXPECT_EQ(back.rate, RATE);
  EXPECT_EQ(back.samples, wave.samples);

  // Cut in the middle of the data, the header still claiming it all.
  std::string bytes = ReadAll(path);
  bytes.resize(44 + 4 * 100 + 2);
  WriteAll(path, bytes);
  ASSERT_TRUE(ReadWave(path, &back, &error)) << error;
  EXPECT_EQ(back.Frames(), 100u);

  WriteAll(path, std::string("RIFF\x04\0\0\0WAVE", 12));
  EXPECT_FALSE(ReadWave(path, &back, &error));
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace quillmatch
