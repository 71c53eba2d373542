// The sample-rate converters, spline and windowed sinc: counts and read
// position, continuity across blocks of any length, exactness on constants
// and straight lines, the clamp, large rate ratios, distortion on sines, and
// the windowed sinc's table of tones (distortion, pass band, alias rejection).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "CaptureTestUtil.h"
#include "capture/RateConverter.h"
#include "capture/SincResampler.h"
#include "capture/SoundResampler.h"
#include "capture/StereoFrames.h"

namespace {

// Feeds stream to the converter in blocks of the given lengths (cycled) and
// returns everything it produced.
template <typename Converter>
std::vector<int16_t> ConvertInBlocks(Converter& converter, const std::vector<int16_t>& stream,
                                     const std::vector<size_t>& lengths) {
  std::vector<int16_t> out;
  const size_t frames = stream.size() / 2;
  size_t at = 0;
  for (size_t b = 0; at < frames; ++b) {
    size_t n = std::min(lengths[b % lengths.size()], frames - at);
    uint32_t bytes = static_cast<uint32_t>(n * capture::BYTES_PER_FRAME);
    int32_t room = converter.OutputBytes(bytes);
    std::vector<int16_t> block(static_cast<size_t>(room) / 2 + 2, 0x5555);
    uint32_t written = 0;
    converter.Convert(stream.data() + 2 * at, bytes, block.data(), &written);
    EXPECT_LE(written, static_cast<uint32_t>(room));
    EXPECT_EQ(written % 4, 0u);
    EXPECT_GE(converter.GetRest(), 0.0);
    out.insert(out.end(), block.begin(), block.begin() + written / 2);
    at += n;
  }
  return out;
}

TEST(SoundResampler, CountAndReadPositionFor480FramesFrom48000To32728) {
  SoundResampler converter;
  converter.Setup(48000, 32728, 2);
  EXPECT_TRUE(converter.IsNeed());
  EXPECT_EQ(converter.OutputBytes(480 * capture::BYTES_PER_FRAME), 327 * capture::BYTES_PER_FRAME);

  std::vector<int16_t> block = StereoSine(1000.0, 48000.0, 10000.0, 480);
  std::vector<int16_t> out(327 * 2);
  uint32_t written = 0;
  converter.Convert(block.data(), 480 * capture::BYTES_PER_FRAME, out.data(), &written);
  // Output frame o sits at input position o x 48000 / 32728; positions at or
  // beyond frame 479 wait for the next block.
  EXPECT_EQ(written, 327u * capture::BYTES_PER_FRAME);
  EXPECT_NEAR(converter.GetRest(), 480.0 - 327 * 48000.0 / 32728.0, 1e-9);

  for (int i = 0; i < 2000; ++i) {
    int32_t room = converter.OutputBytes(480 * capture::BYTES_PER_FRAME);
    out.resize(static_cast<size_t>(room) / 2);
    converter.Convert(block.data(), 480 * capture::BYTES_PER_FRAME, out.data(), &written);
    ASSERT_GE(converter.GetRest(), 0.0);
    ASSERT_LT(converter.GetRest(), 8.0);
  }

  SoundResampler same;
  same.Setup(32728, 32728, 2);
  EXPECT_FALSE(same.IsNeed());
}

// A level in dB as the test reports it ("-inf" for silence).
std::string Decibels(double db, int decimals = 1) {
  if (std::isinf(db)) return db < 0 ? "-inf" : "inf";
  char text[32];
  snprintf(text, sizeof(text), "%.*f", decimals, db);
  return text;
}

const ConverterKind kKinds[] = {ConverterKind::SPLINE, ConverterKind::SINC};

const char* KindName(ConverterKind kind) {
  return kind == ConverterKind::SPLINE ? "spline" : "sinc";
}

// Input frames that the converter holds back before a position can be
// produced: the window's half for the windowed sinc.
double Lookahead(ConverterKind kind, uint32_t inputRate, uint32_t outputRate) {
  if (kind == ConverterKind::SPLINE) return 1.0;
  SincResampler sinc;
  sinc.Setup(inputRate, outputRate, 2);
  return sinc.GetTaps() / 2.0;
}

TEST(SoundResampler, ConstantInputStaysConstant) {
  for (ConverterKind kind : kKinds) {
    RateConverter converter;
    converter.SetKind(kind);
    converter.Setup(44100, 32728, 2);
    std::vector<int16_t> stream(2 * 20000);
    for (size_t i = 0; i < 20000; ++i) {
      stream[2 * i] = 12345;
      stream[2 * i + 1] = -32000;
    }
    // The first block fills the history with the constant.
    std::vector<int16_t> first(stream.begin(), stream.begin() + 2 * 441);
    ConvertInBlocks(converter, first, {441});
    std::vector<int16_t> rest(stream.begin() + 2 * 441, stream.end());
    std::vector<int16_t> out = ConvertInBlocks(converter, rest, {441, 3, 1000, 1, 17});
    ASSERT_GT(out.size(), 2u * 14000);
    for (size_t i = 0; i < out.size(); i += 2) {
      ASSERT_EQ(out[i], 12345) << KindName(kind) << ", frame " << i / 2;
      ASSERT_EQ(out[i + 1], -32000) << KindName(kind) << ", frame " << i / 2;
    }
  }
}

TEST(SoundResampler, ShortBlocksShiftTheHistory) {
  SoundResampler converter;
  converter.Setup(48000, 32728, 2);
  ASSERT_EQ(converter.GetHistoryFrames(), 8u);
  std::vector<int16_t> stream;
  for (int k = 1; k <= 13; ++k) {
    stream.push_back(static_cast<int16_t>(k));
    stream.push_back(static_cast<int16_t>(-k));
  }
  std::vector<int16_t> ten(stream.begin(), stream.begin() + 20);
  std::vector<int16_t> three(stream.begin() + 20, stream.end());
  ConvertInBlocks(converter, ten, {10});
  ConvertInBlocks(converter, three, {3});
  const int16_t* history = converter.GetHistory();
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(history[2 * i], 6 + i);
    EXPECT_EQ(history[2 * i + 1], -(6 + i));
  }
  ConvertInBlocks(converter, std::vector<int16_t>(), {1});
  EXPECT_EQ(converter.GetHistory()[0], 6) << "an empty block keeps the history";
}

// A cubic spline through points on a line is that line, and a symmetric
// low-pass filter with unit gain at DC keeps it, so every output sample must
// lie on it (within the rounding to integers) at its exact position o x in /
// out, however the stream is cut into blocks.
TEST(SoundResampler, ReproducesAStraightLineAtExactPositionsAcrossBlocks) {
  const std::vector<size_t> lengths = {1, 7, 480, 3, 1000, 13, 8, 9, 441, 2};
  for (ConverterKind kind : kKinds) {
    for (auto rates : {std::make_pair(48000u, 32728u), std::make_pair(44100u, 32728u), std::make_pair(22050u, 48000u),
                       std::make_pair(96000u, 16000u)}) {
      const size_t frames = 30000;
      std::vector<int16_t> line(2 * frames);
      for (size_t i = 0; i < frames; ++i) {
        line[2 * i] = static_cast<int16_t>(-30000 + 2 * static_cast<int>(i));
        line[2 * i + 1] = static_cast<int16_t>(30000 - 2 * static_cast<int>(i));
      }
      RateConverter converter;
      converter.SetKind(kind);
      converter.Setup(rates.first, rates.second, 2);
      std::vector<int16_t> out = ConvertInBlocks(converter, line, lengths);
      const double step = static_cast<double>(rates.first) / rates.second;
      const double lookahead = Lookahead(kind, rates.first, rates.second);
      ASSERT_GT(out.size() / 2, static_cast<size_t>((frames - 1 - lookahead) / step) - 1);
      int checked = 0;
      for (size_t o = 0; o < out.size() / 2; ++o) {
        double position = o * step;
        if (position < 16.0 + 2 * lookahead) continue;  // the silent history before the stream
        ASSERT_NEAR(out[2 * o], -30000 + 2 * position, 1.0)
            << KindName(kind) << ", " << rates.first << " to " << rates.second << ", frame " << o;
        ASSERT_NEAR(out[2 * o + 1], 30000 - 2 * position, 1.0);
        ++checked;
      }
      EXPECT_GT(checked, 1000);
    }
  }
}

TEST(SoundResampler, ClampsOvershootToTheStreamRange) {
  std::vector<int16_t> edge(2 * 4000);
  for (size_t i = 0; i < 4000; ++i) {
    int16_t v = (i / 2) % 2 == 0 ? 32767 : -32768;
    edge[2 * i] = v;
    edge[2 * i + 1] = static_cast<int16_t>(-1 - v);
  }
  for (ConverterKind kind : kKinds) {
    RateConverter converter;
    converter.SetKind(kind);
    converter.Setup(44100, 48000, 2);
    std::vector<int16_t> out = ConvertInBlocks(converter, edge, {441});
    int atTop = 0;
    int atBottom = 0;
    for (int16_t v : out) {
      ASSERT_LE(v, 32727) << KindName(kind);
      ASSERT_GE(v, -32728) << KindName(kind);
      atTop += v == 32727;
      atBottom += v == -32728;
    }
    EXPECT_GT(atTop, 100) << KindName(kind);
    EXPECT_GT(atBottom, 100) << KindName(kind);
  }
}

TEST(SoundResampler, LargeRateRatiosKeepTheReadPositionInsideTheHistory) {
  // 384 kHz files played at 16 kHz step 24 input frames per output frame.
  for (auto rates :
       {std::make_pair(384000u, 16000u), std::make_pair(768000u, 16000u), std::make_pair(192000u, 22050u)}) {
    SoundResampler spline;
    spline.Setup(rates.first, rates.second, 2);
    EXPECT_GT(spline.GetHistoryFrames(), rates.first / rates.second);
    for (ConverterKind kind : kKinds) {
      RateConverter converter;
      converter.SetKind(kind);
      converter.Setup(rates.first, rates.second, 2);
      std::vector<int16_t> sine = StereoSine(100.0, rates.first, 10000.0, rates.first / 2);
      std::vector<int16_t> out = ConvertInBlocks(converter, sine, {7680, 5, 31, 100, 3});
      double expected = (rates.first / 2.0 - Lookahead(kind, rates.first, rates.second)) * rates.second / rates.first;
      EXPECT_NEAR(out.size() / 2.0, expected, 2.0) << KindName(kind) << ", " << rates.first;
    }
  }
}

// Distortion plus noise of the converter on sines at -6 dBFS, 48000 to 32728
// Hz, fed in 10 ms blocks as a Core Audio source delivers them.
TEST(SoundResampler, DistortionOfSinesFrom48000To32728) {
  const double amplitude = 32768.0 * std::pow(10.0, -6.0 / 20.0);
  double results[2] = {};
  const double frequencies[2] = {1000.0, 10000.0};
  for (int f = 0; f < 2; ++f) {
    std::vector<int16_t> sine = StereoSine(frequencies[f], 48000.0, amplitude, 48000 * 3);
    SoundResampler converter;
    converter.Setup(48000, 32728, 2);
    std::vector<int16_t> out = ConvertInBlocks(converter, sine, {480});
    results[f] = ThdPlusNoiseDb(out, 0, frequencies[f], 32728.0, 3273);
    EXPECT_NEAR(ThdPlusNoiseDb(out, 1, frequencies[f], 32728.0, 3273), results[f], 0.5);
  }
  printf("THD+N 48000 -> 32728 Hz, -6 dBFS: 1 kHz %.1f dB, 10 kHz %.1f dB\n", results[0], results[1]);
  RecordProperty("thdn_1khz_db", std::to_string(results[0]));
  RecordProperty("thdn_10khz_db", std::to_string(results[1]));
  EXPECT_LE(results[0], -80.0);
  EXPECT_LE(results[1], -30.0);
}

// The windowed sinc's table of tones at -6 dBFS, at the three conversions
// the program makes most: distortion plus noise and level in the pass band,
// and what comes back of tones above the output's Nyquist frequency (their
// alias, measured at the frequency it folds to). The figures are recorded as
// the test's properties (thdn_RATE_HZ, level_RATE_HZ, alias_RATE_HZ) for the
// performance report.
TEST(SincResampler, ToneTable) {
  const double amplitude = 32768.0 * std::pow(10.0, -6.0 / 20.0);
  const double passBand[] = {100.0, 440.0, 1000.0, 3000.0, 5000.0, 8000.0, 10000.0, 12000.0, 13000.0, 14000.0};
  struct Pair {
    uint32_t input;
    std::vector<double> above;  // tones above the output's Nyquist frequency
  };
  const Pair pairs[] = {
      {48000, {16500.0, 17000.0, 18000.0, 20000.0, 22000.0, 23900.0}},
      {44100, {16500.0, 17000.0, 18000.0, 20000.0, 22000.0}},
      {96000, {16500.0, 17000.0, 18000.0, 20000.0, 22000.0, 30000.0, 40000.0, 47900.0}},
  };
  const uint32_t output = 32728;
  for (const Pair& pair : pairs) {
    const size_t frames = pair.input;  // one second
    const size_t skip = output / 20;   // the onset from silence
    printf("%u -> %u Hz:", pair.input, output);
    for (double f : passBand) {
      SincResampler converter;
      converter.Setup(pair.input, output, 2);
      std::vector<int16_t> out = ConvertInBlocks(converter, StereoSine(f, pair.input, amplitude, frames), {480});
      const double thdn = ThdPlusNoiseDb(out, 0, f, output, skip);
      const double level = 20.0 * std::log10(SineAmplitude(out, 1, f, output, skip) / amplitude);
      printf(" %.0f Hz %.1f dB (%+.3f dB)", f, thdn, level);
      const std::string key = std::to_string(pair.input) + "_" + std::to_string(static_cast<int>(f));
      RecordProperty("thdn_" + key, Decibels(thdn));
      RecordProperty("level_" + key, Decibels(level, 3));
      EXPECT_LE(thdn, -85.0) << pair.input << " Hz, tone " << f;
      EXPECT_NEAR(level, 0.0, 0.1) << pair.input << " Hz, tone " << f;
    }
    printf("\n  aliases:");
    for (double f : pair.above) {
      SincResampler converter;
      converter.Setup(pair.input, output, 2);
      std::vector<int16_t> out = ConvertInBlocks(converter, StereoSine(f, pair.input, amplitude, frames), {480});
      double alias = std::fmod(f, output);
      if (alias > output / 2.0) alias = output - alias;
      // An alias below half a step of the output rounds away: the output is
      // silent and its level -inf.
      const double level = 20.0 * std::log10(SineAmplitude(out, 0, alias, output, skip) / amplitude);
      printf(" %.0f Hz %.1f dB", f, level);
      RecordProperty("alias_" + std::to_string(pair.input) + "_" + std::to_string(static_cast<int>(f)),
                     Decibels(level));
      EXPECT_LE(level, -90.0) << pair.input << " Hz, tone " << f << " (alias at " << alias << " Hz)";
    }
    printf("\n");
  }
}

// The stream's output is the same, bit for bit, however it is cut into
// blocks, and each block gives exactly what OutputBytes promised. A stream
// restarted by Setup starts afresh.
TEST(SincResampler, OutputDoesNotDependOnBlockCuts) {
  for (auto rates : {std::make_pair(48000u, 32728u), std::make_pair(44100u, 32728u), std::make_pair(96000u, 32728u),
                     std::make_pair(22050u, 32728u), std::make_pair(384000u, 16000u)}) {
    // Tones, noise and clipped peaks.
    const size_t frames = rates.first / 4;
    std::vector<int16_t> stream = StereoSine(997.0, rates.first, 20000.0, frames);
    uint32_t noise = 2024;
    for (size_t i = 0; i < stream.size(); ++i) {
      noise = noise * 1664525u + 1013904223u;
      int32_t v = stream[i] + static_cast<int32_t>(noise >> 20) - 2048 + (i % 2 == 0 ? 0 : 15000);
      stream[i] = static_cast<int16_t>(std::max(-32768, std::min(32767, v)));
    }
    std::vector<int16_t> reference;
    // One converter for every cut: Setup starts the stream afresh.
    SincResampler converter;
    for (const std::vector<size_t>& lengths :
         {std::vector<size_t>{frames}, std::vector<size_t>{1}, std::vector<size_t>{7}, std::vector<size_t>{480},
          std::vector<size_t>{1, 2000, 0, 13, 4096, 3}}) {
      converter.Setup(rates.first, rates.second, 2);
      std::vector<int16_t> out;
      size_t at = 0;
      for (size_t b = 0; at < frames; ++b) {
        const size_t n = std::min(lengths[b % lengths.size()], frames - at);
        const uint32_t bytes = static_cast<uint32_t>(n * capture::BYTES_PER_FRAME);
        const int32_t room = converter.OutputBytes(bytes);
        std::vector<int16_t> block(static_cast<size_t>(room) / 2);
        uint32_t written = 0;
        converter.Convert(stream.data() + 2 * at, bytes, block.data(), &written);
        ASSERT_EQ(written, static_cast<uint32_t>(room)) << rates.first << ", block " << b;
        out.insert(out.end(), block.begin(), block.end());
        at += n;
      }
      const double expected = (frames - converter.GetTaps() / 2.0) * rates.second / rates.first;
      EXPECT_NEAR(out.size() / 2.0, expected, 1.0) << rates.first;
      if (reference.empty()) {
        reference = out;
      } else {
        ASSERT_EQ(out.size(), reference.size()) << rates.first << ", blocks of " << lengths[0];
        for (size_t i = 0; i < out.size(); ++i) {
          ASSERT_EQ(out[i], reference[i]) << rates.first << ", blocks of " << lengths[0] << ", sample " << i;
        }
      }
    }
  }
}

// Other channel counts take the one-channel path: the same arithmetic as the
// stereo one, so each channel comes out as it would in a stereo stream.
TEST(SincResampler, EveryChannelCountGivesTheStereoResult) {
  const std::vector<int16_t> stereo = StereoSine(5003.0, 44100.0, 30000.0, 8000);
  SincResampler converter;
  converter.Setup(44100, 32728, 2);
  const std::vector<int16_t> reference = ConvertInBlocks(converter, stereo, {441});
  for (uint32_t channels : {1u, 3u}) {
    std::vector<int16_t> input;
    for (size_t i = 0; i < stereo.size(); i += 2) {
      for (uint32_t c = 0; c < channels; ++c) input.push_back(static_cast<int16_t>(stereo[i] / (c + 1)));
    }
    converter.Setup(44100, 32728, channels);
    const uint32_t bytes = static_cast<uint32_t>(input.size() * 2);
    std::vector<int16_t> out(static_cast<size_t>(converter.OutputBytes(bytes)) / 2);
    uint32_t written = 0;
    converter.Convert(input.data(), bytes, out.data(), &written);
    ASSERT_EQ(written / 2 / channels, reference.size() / 2) << channels;
    for (size_t o = 0; o < reference.size() / 2; ++o) ASSERT_EQ(out[o * channels], reference[2 * o]) << channels;
  }
}

// The choice of converter takes effect at the next Setup, never halfway
// through a stream.
TEST(RateConverter, KindChangesAtTheNextSetup) {
  RateConverter converter;
  EXPECT_EQ(converter.GetNextKind(), ConverterKind::SINC);
  converter.Setup(48000, 32728, 2);
  EXPECT_EQ(converter.GetKind(), ConverterKind::SINC);
  converter.SetKind(ConverterKind::SPLINE);
  EXPECT_EQ(converter.GetKind(), ConverterKind::SINC);
  SincResampler sinc;
  sinc.Setup(48000, 32728, 2);
  EXPECT_EQ(converter.OutputBytes(480 * capture::BYTES_PER_FRAME), sinc.OutputBytes(480 * capture::BYTES_PER_FRAME));
  EXPECT_NE(converter.OutputBytes(480 * capture::BYTES_PER_FRAME), 327 * capture::BYTES_PER_FRAME);
  converter.Setup(48000, 32728, 2);
  EXPECT_EQ(converter.GetKind(), ConverterKind::SPLINE);
  EXPECT_EQ(converter.OutputBytes(480 * capture::BYTES_PER_FRAME), 327 * capture::BYTES_PER_FRAME);
  EXPECT_EQ(ConverterKindFromValue(1), ConverterKind::SPLINE);
  EXPECT_EQ(ConverterKindFromValue(0), ConverterKind::SINC);
  EXPECT_EQ(ConverterKindFromValue(7), ConverterKind::SINC);
}

}  // namespace
