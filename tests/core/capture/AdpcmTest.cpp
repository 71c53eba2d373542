// The ADPCM adapter: loading with its messages (missing library, missing
// functions), and the encode-and-decode pass over the stand-in codec.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "CaptureTestUtil.h"
#include "TestUtil.h"
#include "capture/Adpcm.h"
#include "platform/Platform.h"
#include "support/Strings.h"

namespace {

std::string TestLibraryFolder(const char* name) {
  return GetDirectory(platform::GetProgramPath()) + "adpcm-test/" + name + "/";
}

TEST(Adpcm, MissingLibraryStaysUnloadedWithOneMessage) {
  LogCapture log;
  Adpcm adpcm;
  adpcm.LoadFrom(TestLibraryFolder("adpcm_missing"));
  EXPECT_FALSE(adpcm.IsLoaded());
  EXPECT_EQ(log.Text(), "LoadLibrary WaveCodecKav.dll failed\n");
}

TEST(Adpcm, LibraryWithoutPcmBufferSizeReportsEveryLaterLookup) {
  LogCapture log;
  Adpcm adpcm;
  adpcm.LoadFrom(TestLibraryFolder("adpcm_no_pcm_buffer"));
  EXPECT_FALSE(adpcm.IsLoaded());
  EXPECT_EQ(log.Text(),
            "GetProcAddress getBytesForPcmBuffer failed\n"
            "GetProcAddress getBytesForPcmSamples failed\n"
            "GetProcAddress encode failed\n"
            "GetProcAddress decode failed\n");
}

TEST(Adpcm, LibraryWithoutDecodeReportsOnlyDecode) {
  LogCapture log;
  Adpcm adpcm;
  adpcm.LoadFrom(TestLibraryFolder("adpcm_no_decode"));
  EXPECT_FALSE(adpcm.IsLoaded());
  EXPECT_EQ(log.Text(), "GetProcAddress decode failed\n");
}

TEST(Adpcm, LoadsTheStandInBesideTheProgramAndUnloads) {
  LogCapture log;
  Adpcm adpcm;
  adpcm.Load();
  EXPECT_TRUE(adpcm.IsLoaded());
  EXPECT_EQ(log.Text(), "");
  adpcm.Unload();
  EXPECT_FALSE(adpcm.IsLoaded());
  // Loaded again after an unload.
  adpcm.Load();
  EXPECT_TRUE(adpcm.IsLoaded());
}

// The stand-in codec itself: a real 4-bit codec that keeps the sound.
TEST(Adpcm, StandInCodecKeepsSinesSilenceAndFullScale) {
  Adpcm adpcm;
  adpcm.Load();
  ASSERT_TRUE(adpcm.IsLoaded());
  const int32_t cut = 100;
  struct Case {
    double frequency;
    double amplitude;
    double minSnr;
  };
  for (Case c : {Case{100.0, 20000.0, 30.0}, Case{1000.0, 16000.0, 25.0}, Case{5000.0, 8000.0, 15.0}}) {
    std::vector<int16_t> signal = StereoSine(c.frequency, 32728.0, c.amplitude, 2 * cut + 4000);
    std::vector<int16_t> history(signal.begin(), signal.begin() + 4 * cut);
    std::vector<int16_t> block(signal.begin() + 4 * cut, signal.end());
    adpcm.EncodeDecode(block.data(), 4000, 2, history.data(), cut);
    // Frame i of the result is frame i - cut of the block, i.e. frame i + cut of the signal.
    std::vector<int16_t> reference(signal.begin() + 2 * cut, signal.end());
    double snr = SnrDb(reference, block, 0, 0);
    EXPECT_GT(snr, c.minSnr) << c.frequency << " Hz";
    EXPECT_LT(snr, 120.0) << "lossy";
  }

  std::vector<int16_t> silence(2 * 1000, 0);
  std::vector<int16_t> quiet(2 * 2 * cut, 0);
  adpcm.EncodeDecode(silence.data(), 1000, 2, quiet.data(), cut);
  for (int16_t v : silence) ASSERT_EQ(v, 0);

  // Full-scale square wave: no wrap-around, the extremes are reached.
  std::vector<int16_t> square(2 * 3000);
  for (size_t i = 0; i < 3000; ++i) square[2 * i] = square[2 * i + 1] = (i / 40) % 2 ? -32768 : 32767;
  adpcm.EncodeDecode(square.data(), 3000, 2, quiet.data(), cut);
  int16_t top = 0;
  int16_t bottom = 0;
  for (size_t i = 2 * cut; i < square.size(); ++i) {
    top = std::max(top, square[i]);
    bottom = std::min(bottom, square[i]);
  }
  EXPECT_GT(top, 30000);
  EXPECT_LT(bottom, -30000);

  // Block lengths that are not whole codec frames.
  for (int32_t count : {1, 31, 33, 199, 655}) {
    std::vector<int16_t> sine = StereoSine(440.0, 32728.0, 10000.0, static_cast<size_t>(count) + 2 * cut);
    std::vector<int16_t> h(sine.begin(), sine.begin() + 4 * cut);
    std::vector<int16_t> b(sine.begin() + 4 * cut, sine.end());
    adpcm.EncodeDecode(b.data(), count, 2, h.data(), cut);
    std::vector<int16_t> reference(sine.begin() + 2 * cut, sine.end() - 2 * cut);
    EXPECT_GT(SnrDb(reference, b, 0, 0), 20.0) << count << " frames";
  }
}

}  // namespace
