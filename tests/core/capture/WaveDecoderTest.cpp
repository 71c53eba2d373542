// The wave-file decoder: every accepted layout with its sample conversion,
// and every rejection (files generated here).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "CaptureTestUtil.h"
#include "TestUtil.h"
#include "capture/StereoFrames.h"
#include "capture/WaveDecoder.h"

namespace {

bool Decode(const std::string& bytes, WaveData* out, std::string* reason = nullptr) {
  return DecodeWave(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out, reason);
}

std::vector<int16_t> Frames(const WaveData& wave) {
  return wave.samples;
}

WaveDesc Stereo16(const std::vector<int16_t>& samples) {
  WaveDesc waveDesc;
  waveDesc.data = Bytes16(samples);
  return waveDesc;
}

TEST(WaveDecoder, Stereo16BitIsCopied) {
  WaveData wave;
  std::vector<int16_t> samples = {1, -1, 32767, -32768, 1234, -4321};
  ASSERT_TRUE(Decode(MakeWave(Stereo16(samples)), &wave));
  EXPECT_EQ(wave.frames, 3u);
  EXPECT_EQ(wave.samplingRate, 44100u);
  EXPECT_EQ(Frames(wave), samples);
}

TEST(WaveDecoder, Mono8BitBecomesCentredAndScaledOnBothChannels) {
  WaveDesc waveDesc;
  waveDesc.channels = 1;
  waveDesc.bits = 8;
  waveDesc.rate = 8000;
  waveDesc.data = std::string("\x00\x80\xFF\x7F", 4);
  WaveData wave;
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(Frames(wave), (std::vector<int16_t>{-32768, -32768, 0, 0, 32512, 32512, -256, -256}));
}

TEST(WaveDecoder, WideIntegerKeepsTheTop16BitsUnderEitherTag) {
  // Extensible files and plain-tag files of 24 and 32 bits read alike.
  for (uint16_t tag : {uint16_t{1}, uint16_t{0xFFFE}}) {
    SCOPED_TRACE(tag);
    WaveData wave;
    WaveDesc waveDesc;
    waveDesc.tag = tag;
    waveDesc.bits = 24;
    waveDesc.data = std::string("\x56\x34\x12\xAA\xBB\xCC", 6);  // 0x123456, 0xCCBBAA
    ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
    EXPECT_EQ(Frames(wave), (std::vector<int16_t>{0x1234, static_cast<int16_t>(0xCCBB)}));

    waveDesc.bits = 32;
    waveDesc.data = std::string("\x78\x56\x34\x12\x00\x00\x00\x80", 8);
    ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
    EXPECT_EQ(Frames(wave), (std::vector<int16_t>{0x1234, -32768}));

    waveDesc.bits = 16;
    waveDesc.data = Bytes16({-5, 5});
    ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
    EXPECT_EQ(Frames(wave), (std::vector<int16_t>{-5, 5}));

    waveDesc.bits = 8;
    waveDesc.data = std::string("\x81\x7E", 2);
    ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
    EXPECT_EQ(Frames(wave), (std::vector<int16_t>{256, -512}));
  }
}

TEST(WaveDecoder, FloatIsScaledBy32728AndClamped) {
  const std::vector<float> singles = {0.5f, -0.5f, 1.0f, -1.0f, 2.0f, -2.0f, 0.0001f, -0.0001f};
  const std::vector<int16_t> expected = {16364, -16364, 32727, -32728, 32727, -32728, 3, -3};
  WaveDesc waveDesc;
  waveDesc.tag = 3;
  waveDesc.bits = 32;
  waveDesc.data = BytesFloat(singles);
  WaveData wave;
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(Frames(wave), expected);

  waveDesc.tag = 0xFFFE;
  waveDesc.subformat = kSubtypeFloatGuid;
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(Frames(wave), expected);

  const std::vector<double> doubles(singles.begin(), singles.end());
  waveDesc.bits = 64;
  waveDesc.data = BytesDouble(doubles);
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(Frames(wave), expected);
  waveDesc.tag = 3;
  waveDesc.subformat = nullptr;
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(Frames(wave), expected);

  // Not-a-number is silence, infinities are clamped.
  waveDesc.data = BytesDouble({std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity()});
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(Frames(wave), (std::vector<int16_t>{0, -32728}));
  waveDesc.bits = 32;
  waveDesc.data = BytesFloat({std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()});
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(Frames(wave), (std::vector<int16_t>{0, 32727}));
}

TEST(WaveDecoder, ExtraChannelsArePassedOverAndPaddedFramesRead) {
  WaveDesc waveDesc;
  waveDesc.channels = 3;
  waveDesc.data = Bytes16({1, 2, 3, 4, 5, 6});
  WaveData wave;
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(Frames(wave), (std::vector<int16_t>{1, 2, 4, 5}));

  // 16-bit stereo in 6-byte frames: each sample takes 3 bytes, of which the
  // first two are read.
  waveDesc.channels = 2;
  waveDesc.blockAlign = 6;
  waveDesc.data = std::string("\x01\x02\xEE\x03\x04\xEE", 6);
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(Frames(wave), (std::vector<int16_t>{0x0201, 0x0403}));
}

TEST(WaveDecoder, ChunksBeforeAndAfterDataAndEmptyData) {
  WaveDesc waveDesc = Stereo16({7, 8});
  waveDesc.chunksBefore = MakeChunk("LIST", std::string(10, 'x')) + MakeChunk("fact", "abcd");
  waveDesc.chunksAfter = MakeChunk("cue ", std::string(24, '\0'));
  WaveData wave;
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(Frames(wave), (std::vector<int16_t>{7, 8}));

  waveDesc.data.clear();
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(wave.frames, 0u);
  EXPECT_TRUE(wave.samples.empty());

  // A partial last frame is not played.
  waveDesc.data = Bytes16({1, 2, 3});
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(wave.frames, 1u);
}

TEST(WaveDecoder, OddChunksWithOrWithoutTheirPadByte) {
  struct Case {
    const char* what;
    std::string before;
  };
  const Case cases[] = {
      {"padded odd LIST", MakeChunk("LIST", "abc") + std::string(1, '\0')},
      {"pad byte left out", MakeChunk("LIST", "abc")},
      {"padded, the pad byte printable", MakeChunk("LIST", "abc") + "x"},
      {"two padded odd chunks", MakeChunk("LIST", "abcde") + std::string(1, '\0') + MakeChunk("id3 ", "z") + "\0"},
      {"a pad byte that reads as a chunk id start", MakeChunk("LIST", "abc") + "d"},
  };
  for (const Case& c : cases) {
    WaveDesc waveDesc = Stereo16({7, 8, 9, 10});
    waveDesc.chunksBefore = c.before;
    WaveData wave;
    std::string reason;
    ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave, &reason)) << c.what << ": " << reason;
    EXPECT_EQ(Frames(wave), (std::vector<int16_t>{7, 8, 9, 10})) << c.what;
  }
}

// A data chunk that claims more bytes than the RIFF chunk or the file holds,
// as an interrupted recording leaves it: the bytes that are there play, and
// the decoder notes it (the source logs the note).
TEST(WaveDecoder, ADataChunkCutShortPlaysWhatIsThere) {
  WaveDesc waveDesc = Stereo16({1, 2, 3, 4, 5, 6});
  std::string file = MakeWave(waveDesc);
  WaveData wave;
  ASSERT_TRUE(Decode(file, &wave));
  EXPECT_EQ(wave.note, "");
  // Cut inside the third frame: the RIFF and data sizes still claim all three.
  file.resize(file.size() - 3);
  ASSERT_TRUE(Decode(file, &wave));
  EXPECT_EQ(Frames(wave), (std::vector<int16_t>{1, 2, 3, 4}));
  EXPECT_EQ(wave.note, "the data chunk claims 12 bytes, 9 are there");

  // A recorder that never came back to write the sizes.
  file.replace(4, 4, std::string("\xFF\xFF\xFF\xFF", 4));
  file.replace(40, 4, std::string("\xFF\xFF\xFF\xFF", 4));
  ASSERT_TRUE(Decode(file, &wave));
  EXPECT_EQ(Frames(wave), (std::vector<int16_t>{1, 2, 3, 4}));
  EXPECT_EQ(wave.note, "the data chunk claims 4294967295 bytes, 9 are there");

  // A RIFF chunk that ends before the data chunk claims to (the file goes on
  // past it): its bytes play, not what follows the RIFF chunk.
  waveDesc.riffSize = 40;  // the RIFF chunk ends 4 bytes into the samples
  ASSERT_TRUE(Decode(MakeWave(waveDesc), &wave));
  EXPECT_EQ(Frames(wave), (std::vector<int16_t>{1, 2}));
  EXPECT_EQ(wave.note, "the data chunk claims 12 bytes, 4 are there");
}

TEST(WaveDecoder, RejectsEveryBrokenOrUnsupportedHeader) {
  const WaveDesc good = Stereo16({1, 2, 3, 4});
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::vector<Case> cases;
  auto with = [&](const char* what, auto change) {
    WaveDesc waveDesc = good;
    change(waveDesc);
    cases.push_back({what, MakeWave(waveDesc)});
  };
  auto patched = [&](const char* what, size_t offset, const std::string& bytes) {
    std::string file = MakeWave(good);
    file.replace(offset, bytes.size(), bytes);
    cases.push_back({what, file});
  };

  cases.push_back({"empty", ""});
  cases.push_back({"35 bytes", MakeWave(good).substr(0, 35)});
  patched("no RIFF", 0, "RIFX");
  patched("no WAVE", 8, "AVI ");
  patched("fmt not first", 12, "LIST");
  patched("negative format size", 16, std::string("\xF0\xFF\xFF\xFF", 4));
  with("tag 2", [](WaveDesc& s) { s.tag = 2; });
  with("no channels", [](WaveDesc& s) {
    s.channels = 0;
    s.blockAlign = 4;
  });
  with("rate 0", [](WaveDesc& s) { s.rate = 0; });
  with("rate too high", [](WaveDesc& s) { s.rate = 1000000; });
  with("bytes per second", [](WaveDesc& s) { s.bytesPerSecond = 44100 * 4 + 1; });
  with("0 bits", [](WaveDesc& s) {
    s.bits = 0;
    s.blockAlign = 4;
  });
  with("PCM 12 bits", [](WaveDesc& s) { s.bits = 12; });
  with("float 16 bits", [](WaveDesc& s) { s.tag = 3; });
  with("float 24 bits", [](WaveDesc& s) {
    s.tag = 3;
    s.bits = 24;
  });
  with("extensible PCM 12 bits", [](WaveDesc& s) {
    s.tag = 0xFFFE;
    s.bits = 12;
  });
  with("extensible float 16 bits", [](WaveDesc& s) {
    s.tag = 0xFFFE;
    s.subformat = kSubtypeFloatGuid;
  });
  static const uint8_t other[16] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                    0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  with("extensible ADPCM", [](WaveDesc& s) {
    s.tag = 0xFFFE;
    s.subformat = other;
  });
  {
    // An extensible header cut off before its sub-format ends.
    WaveDesc waveDesc = good;
    waveDesc.tag = 0xFFFE;
    cases.push_back({"extensible 59 bytes", MakeWave(waveDesc).substr(0, 59)});
  }
  with("block align 0", [](WaveDesc& s) {
    s.blockAlign = 0xFFFF;  // patched below
  });
  cases.back().bytes.replace(32, 2, std::string("\0\0", 2));
  cases.back().bytes.replace(28, 4, std::string("\0\0\0\0", 4));
  with("block align 2 for 16-bit stereo", [](WaveDesc& s) { s.blockAlign = 2; });
  with("block align 4 for 24-bit stereo", [](WaveDesc& s) {
    s.tag = 0xFFFE;
    s.bits = 24;
    s.blockAlign = 4;
  });
  with("block align 8 for double stereo", [](WaveDesc& s) {
    s.tag = 3;
    s.bits = 64;
    s.blockAlign = 8;
  });
  with("only a LIST chunk", [](WaveDesc& s) {
    s.chunksBefore = MakeChunk("LIST", "info");
    s.data.clear();
  });
  cases.back().bytes.resize(cases.back().bytes.size() - 8);  // drop the data chunk
  cases.back().bytes.replace(4, 4, std::string("\x28\0\0\0", 4));
  with("negative chunk size", [](WaveDesc& s) { s.chunksBefore = "LIST\xFF\xFF\xFF\xFF"; });
  with("format chunk past the end", [](WaveDesc& s) { s.data.clear(); });
  cases.back().bytes.replace(16, 4, std::string("\xFF\xFF\x00\x00", 4));

  with("a chunk past the end", [](WaveDesc& s) {
    s.chunksBefore = MakeChunk("LIST", "info");
    s.chunksBefore[4] = 40;
    s.data.clear();
  });
  cases.back().bytes.resize(cases.back().bytes.size() - 8);

  for (const Case& c : cases) {
    WaveData wave;
    wave.frames = 99;
    std::string reason;
    WaveFault fault = WaveFault::None;
    EXPECT_FALSE(DecodeWave(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), &wave, &reason, &fault))
        << c.what;
    EXPECT_EQ(fault, WaveFault::Unsupported) << c.what;
    EXPECT_FALSE(reason.empty()) << c.what;
    EXPECT_EQ(wave.frames, 0u) << c.what;
    EXPECT_TRUE(wave.samples.empty()) << c.what;
  }
}

TEST(WaveDecoder, ReadsFilesAndRefusesMissingOrOversizedOnes) {
  TempDir dir;
  dir.Write("tone.wav", MakeWave(Stereo16({3, 4, 5, 6})));
  WaveData wave;
  ASSERT_TRUE(ReadWaveFile(dir.File("tone.wav"), &wave));
  EXPECT_EQ(Frames(wave), (std::vector<int16_t>{3, 4, 5, 6}));

  // Read from the file piece by piece: the same as decoded in memory, also
  // across the pieces' borders, with chunks around the samples.
  WaveDesc longer;
  longer.tag = 0xFFFE;
  longer.bits = 24;
  longer.chunksBefore = MakeChunk("LIST", "abc") + std::string(1, '\0');
  longer.chunksAfter = MakeChunk("cue ", std::string(24, '\0'));
  for (uint32_t i = 0; i < 3 * 300000; ++i) longer.data += static_cast<char>(i * 7 + i / 251);
  const std::string bytes = MakeWave(longer);
  dir.Write("long.wav", bytes);
  WaveData fromMemory;
  ASSERT_TRUE(Decode(bytes, &fromMemory));
  ASSERT_TRUE(ReadWaveFile(dir.File("long.wav"), &wave));
  EXPECT_EQ(wave.frames, 150000u);
  EXPECT_EQ(Frames(wave), Frames(fromMemory));

  std::string reason;
  EXPECT_FALSE(ReadWaveFile(dir.File("missing.wav"), &wave, &reason));
  EXPECT_FALSE(reason.empty());

  // Decoded larger than the decoder takes: refused from the header, before
  // anything is allocated. 8-bit mono decodes to 4 bytes a frame, so a data
  // chunk of a quarter of the limit and one byte is too large (a sparse file:
  // it costs no disk space, and its size fits the 32-bit build's offsets).
  WaveDesc small;
  small.channels = 1;
  small.bits = 8;
  small.data = std::string(4, '\x80');
  std::string big = MakeWave(small);
  const uint32_t dataBytes = static_cast<uint32_t>(WAVE_MAX_DECODED_BYTES / capture::BYTES_PER_FRAME + 1);
  for (int i = 0; i < 4; ++i) {
    big[4 + i] = static_cast<char>((36 + dataBytes) >> (8 * i));  // RIFF
    big[40 + i] = static_cast<char>(dataBytes >> (8 * i));        // data
  }
  dir.Write("big.wav", big);
  std::filesystem::resize_file(std::filesystem::u8path(dir.File("big.wav")), 44 + uint64_t{dataBytes});
  WaveFault fault = WaveFault::None;
  EXPECT_FALSE(ReadWaveFile(dir.File("big.wav"), &wave, &reason, &fault));
  EXPECT_EQ(reason, "the file is too large");
  EXPECT_EQ(fault, WaveFault::TooLarge);
  EXPECT_TRUE(wave.samples.empty());

  EXPECT_FALSE(ReadWaveFile(dir.File("missing.wav"), &wave, &reason, &fault));
  EXPECT_EQ(fault, WaveFault::Unsupported);
  ASSERT_TRUE(ReadWaveFile(dir.File("tone.wav"), &wave, &reason, &fault));
  EXPECT_EQ(fault, WaveFault::None);
}

}  // namespace
