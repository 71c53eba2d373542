// quillcodec: its command line, and the pass it runs (conversion, codec
// pass with the sources' own code, delay and SNR).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CaptureTestUtil.h"
#include "QuillCodec.h"
#include "StreamTap.h"
#include "TestUtil.h"
#include "capture/Adpcm.h"
#include "capture/SoundCapture.h"
#include "capture/StereoFrames.h"
#include "codec/include/QuillDll.h"

namespace {

struct ToolRun {
  int code;
  std::string out;
  std::string err;
};

class QuillCodecTest : public ::testing::Test {
 protected:
  ToolRun Main(std::vector<std::string> args) {
    args.insert(args.begin(), "quillcodec");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    FILE* out = fopen(dir.File("stdout.txt").c_str(), "w+b");
    FILE* err = fopen(dir.File("stderr.txt").c_str(), "w+b");
    ToolRun run;
    run.code = QuillCodecMain(static_cast<int>(argv.size()), argv.data(), out, err);
    fclose(out);
    fclose(err);
    run.out = dir.Read("stdout.txt");
    run.err = dir.Read("stderr.txt");
    return run;
  }

  std::string WriteSine(const char* name, uint32_t rate, size_t frames, double frequency = 440.0,
                        double amplitude = 12000.0) {
    WaveDesc waveDesc;
    waveDesc.rate = rate;
    waveDesc.data = Bytes16(StereoSine(frequency, rate, amplitude, frames));
    dir.Write(name, MakeWave(waveDesc));
    return dir.File(name);
  }

  WaveData ReadBack(const std::string& path) {
    WaveData wave;
    EXPECT_TRUE(ReadWaveFile(path, &wave)) << path;
    return wave;
  }

  TempDir dir;
};

TEST_F(QuillCodecTest, BadArgumentsPrintUsageAndExitWith1) {
  const std::string in = WriteSine("in.wav", 32728, 100);
  const std::string out = dir.File("out.wav");
  const std::vector<std::vector<std::string>> bad = {
      {},
      {in},
      {in, out, "extra"},
      {"--format", "MP3", in, out},
      {"--format", "CRI ADX2", in, out},
      {in, in},  // the output would overwrite the input
      {"--format", "CRI ADX", "--stream", in, in, out},
      {"--rate", "15999", in, out},
      {"--rate", "96001", in, out},
      {"--rate", "44.1k", in, out},
      {"--rate"},
      {"--bogus", in, out},
      {"--stream", dir.File("s.bin"), in, out},  // PCM has no stream
  };
  for (const auto& args : bad) {
    ToolRun run = Main(args);
    EXPECT_EQ(run.code, 1) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(run.err.empty());
    EXPECT_TRUE(run.out.empty());
  }
  ToolRun help = Main({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("usage: quillcodec"), std::string::npos);
}

// One message that says what is wrong with the input, checked in the order a
// user would: the file, whether it is a WAV file, then its format.
TEST_F(QuillCodecTest, InputThatCannotBeReadSaysWhyWithExit2) {
  dir.Write("text.wav", "this is not a wave file, just some text of some length");
  dir.Write("short.wav", "RIFF");
  WaveDesc adpcm;
  adpcm.tag = 2;  // a compressed format the decoder does not take
  adpcm.data = std::string(64, '\0');
  dir.Write("adpcm.wav", MakeWave(adpcm));
  const struct {
    const char* file;
    const char* message;
  } cases[] = {
      {"missing.wav", ": cannot be opened\n"},
      {"text.wav", ": not a WAV file\n"},
      {"short.wav", ": not a WAV file\n"},
      {"adpcm.wav", ": a WAV format that cannot be read (unsupported format tag)\n"},
  };
  for (const auto& c : cases) {
    ToolRun run = Main({dir.File(c.file), dir.File("out.wav")});
    EXPECT_EQ(run.code, 2) << c.file;
    EXPECT_EQ(run.err, "quillcodec: " + dir.File(c.file) + c.message);
    EXPECT_TRUE(run.out.empty());
  }
}

// The output may not be the input, also when named through another path;
// format names are taken in any case.
TEST_F(QuillCodecTest, RefusesToWriteOverItsInputAndTakesFormatNamesInAnyCase) {
  const std::string in = WriteSine("in.wav", 32728, 1000);
  const std::string before = dir.Read("in.wav");
  ToolRun same = Main({in, dir.Path() + "." + std::string(1, dir.Path().back()) + "in.wav"});
  EXPECT_EQ(same.code, 1);
  EXPECT_NE(same.err.find("is the input file"), std::string::npos) << same.err;
  EXPECT_EQ(dir.Read("in.wav"), before);

  ToolRun lower = Main({"--format", "cri hca high", in, dir.File("out.wav")});
  EXPECT_EQ(lower.code, 0) << lower.err;
  EXPECT_NE(lower.out.find("format \"CRI HCA HIGH\""), std::string::npos) << lower.out;
}

TEST_F(QuillCodecTest, PcmAtTheSameRateIsBitExact) {
  const std::string in = WriteSine("in.wav", 32728, 10000);
  ToolRun run = Main({in, dir.File("out.wav")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("10000 frames in at 32728 Hz, 10000 frames out at 32728 Hz, format \"PCM\", delay 0 frames"),
            std::string::npos)
      << run.out;
  WaveData original = ReadBack(in);
  WaveData result = ReadBack(dir.File("out.wav"));
  EXPECT_EQ(result.samplingRate, 32728u);
  EXPECT_EQ(result.samples, original.samples);
}

TEST_F(QuillCodecTest, ConvertsToTheRequestedRate) {
  const std::string in = WriteSine("in.wav", 44100, 44100);
  ToolRun run = Main({"--rate", "48000", in, dir.File("out.wav")});
  ASSERT_EQ(run.code, 0) << run.err;
  WaveData result = ReadBack(dir.File("out.wav"));
  EXPECT_EQ(result.samplingRate, 48000u);
  EXPECT_NEAR(result.frames, 48000.0, 3.0);
  // A 440 Hz tone at 48 kHz, clean.
  EXPECT_LT(ThdPlusNoiseDb(result.samples, 0, 440.0, 48000.0, 100), -70.0);
}

// A 20 kHz tone at -6 dBFS in a 48 kHz file, made 32728 Hz: the band-limited
// converter keeps its alias (at 12728 Hz) 90 dB down; the spline, on request,
// lets it through almost whole. Both give the frames of the whole file.
TEST_F(QuillCodecTest, DefaultConverterKeepsAnAliasOutAndTheSplineIsChosenOnRequest) {
  const double amplitude = 32768.0 * std::pow(10.0, -6.0 / 20.0);
  const std::string in = WriteSine("in.wav", 48000, 48000, 20000.0, amplitude);
  struct Case {
    std::vector<std::string> options;
    double lowestDb;
    double highestDb;
  };
  for (const Case& c : {Case{{}, -200.0, -90.0}, Case{{"--spline"}, -10.0, 0.0}}) {
    std::vector<std::string> args = c.options;
    args.push_back(in);
    args.push_back(dir.File("out.wav"));
    ToolRun run = Main(args);
    ASSERT_EQ(run.code, 0) << run.err;
    WaveData result = ReadBack(dir.File("out.wav"));
    EXPECT_EQ(result.frames, 32728u);
    const double alias =
        20.0 * std::log10(SineAmplitude(result.samples, 0, 32728.0 - 20000.0, 32728.0, 1000) / amplitude);
    EXPECT_GE(alias, c.lowestDb) << c.options.size();
    EXPECT_LE(alias, c.highestDb) << c.options.size();
  }
}

TEST_F(QuillCodecTest, AdpcmRunsTheStandInWithItsDelay) {
  const std::string in = WriteSine("in.wav", 48000, 48000);
  ToolRun run = Main({"--format", "ADPCM", in, dir.File("out.wav")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("format \"ADPCM\", delay 100 frames"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
}

// A codec that delays by 333 frames (half a period of the test tone off whole periods): the measured delay and the SNR
// see through it.
std::vector<int16_t> g_line;
int g_handle;
uint32_t DelayOpen(void** handle, const QuillDll::CODECINFO*) {
  g_line.assign(333 * 2, 0);
  *handle = &g_handle;
  return QuillDll::RESULT_SUCCESS;
}
uint32_t DelayPass(void*, void* out, uint32_t, void* in, uint32_t frames, uint32_t* processed) {
  const int16_t* s = static_cast<const int16_t*>(in);
  g_line.insert(g_line.end(), s, s + frames * 2);
  memcpy(out, g_line.data(), frames * capture::BYTES_PER_FRAME);
  g_line.erase(g_line.begin(), g_line.begin() + frames * 2);
  *processed = frames;
  return QuillDll::RESULT_SUCCESS;
}
uint32_t DelayClose(void*) {
  return QuillDll::RESULT_SUCCESS;
}

TEST_F(QuillCodecTest, BestMatchLagFindsAShiftOfTheSignal) {
  CodecFunctions codec;
  codec.Open = &DelayOpen;
  codec.EncodeAndDecode = &DelayPass;
  codec.Close = &DelayClose;
  WaveData wave;
  ASSERT_TRUE(ReadWaveFile(WriteSine("in.wav", 48000, 24000), &wave));
  CodecPassResult result;
  std::string error;
  ASSERT_TRUE(RunCodecPass(wave, 32728, WAVEFMT_CRI_HCA_LOW, nullptr, codec, &result, &error)) << error;
  ASSERT_EQ(result.output.size(), result.converted.size());
  const int32_t delay = BestMatchLag(result.converted, result.output);
  EXPECT_EQ(delay, 333);
  EXPECT_TRUE(std::isinf(AlignedSnrDb(result.converted, result.output, delay)));
  EXPECT_LT(AlignedSnrDb(result.converted, result.output, 0), 10.0);

  CodecFunctions none;
  EXPECT_FALSE(RunCodecPass(wave, 32728, WAVEFMT_CRI_ADX, nullptr, none, &result, &error));
  EXPECT_NE(error.find("CRI ADX"), std::string::npos);
}

TEST_F(QuillCodecTest, PlaysA24BitPlainTagFileWithAPaddedListChunk) {
  // As recorders write them: 24-bit samples under format tag 1, and a LIST
  // chunk of odd size followed by its pad byte before the samples.
  const std::vector<int16_t> sine = StereoSine(1000.0, 48000, 12000.0, 4800);
  WaveDesc waveDesc;
  waveDesc.rate = 48000;
  waveDesc.bits = 24;
  for (int16_t v : sine) {
    waveDesc.data += '\x5A';  // the low byte, below what is kept
    waveDesc.data += static_cast<char>(static_cast<uint16_t>(v) & 0xFF);
    waveDesc.data += static_cast<char>(static_cast<uint16_t>(v) >> 8);
  }
  waveDesc.chunksBefore = MakeChunk("LIST", std::string("INFOISFT\x05\0\0\0tools", 17)) + std::string(1, '\0');
  dir.Write("recorded.wav", MakeWave(waveDesc));
  ToolRun run = Main({"--format", "CRI HCA HIGH", dir.File("recorded.wav"), dir.File("out.wav")});
  ASSERT_EQ(run.code, 0) << run.err;
  WaveData result = ReadBack(dir.File("out.wav"));
  EXPECT_NEAR(result.frames, 4800 * 32728.0 / 48000.0, 3.0);
}

// Every format runs, and the summary's delay is the path's as it is built,
// the same whatever the signal: 20 ms blocks at 32728 Hz are 654 frames, so
// CRI ADX lags 2048 - 654 frames and CRI HCA 1024 + 128.
TEST_F(QuillCodecTest, EveryFormatRunsThroughTheCodecLibraryWithItsBuiltDelay) {
  const std::string in = WriteSine("in.wav", 48000, 20000);
  const std::string tone = WriteSine("tone.wav", 32728, 20000, 440.0);
  const std::string high = WriteSine("high.wav", 32728, 20000, 9000.0, 3000.0);
  for (int format = WAVEFMT_PCM; format < WAVEFMT_COUNT; ++format) {
    ToolRun run = Main({"--format", WaveFormatName(format), in, dir.File("out.wav")});
    if (run.code == 3 && format >= WAVEFMT_CRI_ADX) {
      // A build whose codec library does not offer this codec yet.
      EXPECT_NE(run.err.find("cannot open"), std::string::npos);
      continue;
    }
    ASSERT_EQ(run.code, 0) << WaveFormatName(format) << ": " << run.err;
    WaveData result = ReadBack(dir.File("out.wav"));
    EXPECT_NEAR(result.frames, 20000 * 32728.0 / 48000.0, 3.0) << WaveFormatName(format);
    if (format == WAVEFMT_ADPCM) continue;  // 100 frames with the wave-codec library, else none
    const int delay = format == WAVEFMT_CRI_ADX ? 2048 - 654 : format >= WAVEFMT_CRI_HCA_HIGHEST ? 1152 : 0;
    for (const std::string& signal : {tone, high}) {
      ToolRun at = Main({"--format", WaveFormatName(format), signal, dir.File("out.wav")});
      EXPECT_NE(at.out.find(", delay " + std::to_string(delay) + " frames,"), std::string::npos)
          << WaveFormatName(format) << ": " << at.out;
    }
  }
}

}  // namespace

namespace {

TEST_F(QuillCodecTest, StreamHoldsTheHcaHeaderAndEveryFrameOfThePass) {
  ASSERT_TRUE(StreamTapAvailable(WAVEFMT_CRI_HCA_LOW)) << "quillcodec is built with the codec's objects";
  const std::string in = WriteSine("in.wav", 32728, 10 * 1024 + 500);
  ToolRun plain = Main({"--format", "CRI HCA LOW", in, dir.File("plain.wav")});
  ASSERT_EQ(plain.code, 0) << plain.err;
  ToolRun tapped = Main({"--format", "CRI HCA LOW", "--stream", dir.File("out.hca"), in, dir.File("tapped.wav")});
  ASSERT_EQ(tapped.code, 0) << tapped.err;
  EXPECT_EQ(dir.Read("tapped.wav"), dir.Read("plain.wav")) << "the tap does not change the sound";

  const std::string stream = dir.Read("out.hca");
  ASSERT_GT(stream.size(), 96u);
  EXPECT_EQ(stream.substr(0, 4), std::string("HCA\0", 4));
  // Ten whole frames of 1024 samples, all of one size.
  const size_t frames = 10;
  EXPECT_EQ((stream.size() - 96) % frames, 0u);
  const size_t frameSize = (stream.size() - 96) / frames;
  // 32728 Hz stereo at "LOW" asks for 87274 bit/s: about 341 bytes a frame.
  EXPECT_NEAR(static_cast<double>(frameSize), 87274.0 * 1024 / 32728 / 8, 8.0);

  // ADPCM and PCM have no stream to hand out.
  ToolRun adpcm = Main({"--format", "ADPCM", "--stream", dir.File("out.bin"), in, dir.File("adpcm.wav")});
  EXPECT_NE(adpcm.code, 0);
}

TEST_F(QuillCodecTest, StreamHoldsTheAdxHeaderAndEveryBlockOfThePass) {
  ASSERT_TRUE(StreamTapAvailable(WAVEFMT_CRI_ADX)) << "quillcodec is built with the codec's objects";
  const size_t frames = 20000;
  const std::string in = WriteSine("in.wav", 32728, frames);
  ToolRun plain = Main({"--format", "CRI ADX", in, dir.File("plain.wav")});
  ASSERT_EQ(plain.code, 0) << plain.err;
  ToolRun tapped = Main({"--format", "CRI ADX", "--stream", dir.File("out.adx"), in, dir.File("tapped.wav")});
  ASSERT_EQ(tapped.code, 0) << tapped.err;
  EXPECT_EQ(dir.Read("tapped.wav"), dir.Read("plain.wav")) << "the tap does not change the sound";

  const std::string stream = dir.Read("out.adx");
  ASSERT_GT(stream.size(), 40u);
  auto byte = [&](size_t at) { return static_cast<uint8_t>(stream[at]); };
  EXPECT_EQ(byte(0), 0x80);
  EXPECT_EQ(byte(1), 0x00);
  EXPECT_EQ(byte(2) << 8 | byte(3), 36);  // blocks begin at 40
  EXPECT_EQ(byte(5), 18);                 // block size
  EXPECT_EQ(byte(7), 2);                  // channels
  EXPECT_EQ(static_cast<uint32_t>(byte(8) << 24 | byte(9) << 16 | byte(10) << 8 | byte(11)), 32728u);
  // Whole stereo block groups of 32 samples, each block's scale word a
  // sample block's (top bit clear), covering what came out of the pass:
  // everything that went in but the last 2048 - n frames still in the rings.
  ASSERT_EQ((stream.size() - 40) % 36, 0u);
  const size_t groups = (stream.size() - 40) / 36;
  for (size_t g = 0; g < groups; ++g) {
    ASSERT_EQ(byte(40 + 36 * g) & 0x80, 0) << "group " << g;
    ASSERT_EQ(byte(40 + 36 * g + 18) & 0x80, 0) << "group " << g;
  }
  EXPECT_GE(groups * 32, frames);
  EXPECT_LE(groups * 32, frames + 2048);
}

}  // namespace
