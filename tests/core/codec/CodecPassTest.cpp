// Pins the codec library's output bit for bit: a hash of what one pass
// through QuillDll's EncodeAndDecode returns for fixed signals and call
// sizes, per format, and a hash of the stream that quillcodec --stream writes
// for the same input. A change meant to leave the sound alone (a faster
// coder, say) must keep every hash; a change of the sound updates the tables
// below in a commit of its own, which says why.
//
// The codec's objects linked into quillcodec run the same passes again with
// the scalar form of the codec's hot loops as well as with the SSE2 form
// (runtime/CodecSimd.h): both must give the same hashes.
//
// The hashes guard against change only. What the hashes pin is also checked
// against a computation of its own: the stream that quillcodec --stream
// exports, decoded as a separate step by the codec's decoders, gives back the
// pass output sample for sample, for every pinned format.
//
// The signals are built from integer steps and IEEE additions and
// multiplications alone, so that every build (native, 32-bit and 64-bit
// Windows) feeds the codec the same samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "QuillCodec.h"
#include "QuillDll.h"
#include "StreamTap.h"
#include "adx/AdxDecoder.h"
#include "capture/SoundCapture.h"
#include "hca/CriQuillHca.h"
#include "hca/HcaDecoder.h"
#include "runtime/CodecSimd.h"
#include "runtime/Sjrbf.h"

namespace {

constexpr double RATE = 32728.0;
constexpr uint32_t FRAMES = 20000;  // 0.6 s: many HCA frames, many turns of the ADX rings
constexpr double PI = 3.14159265358979323846;

// sin(2 pi phase / 2^32) from a polynomial: the same value in every build.
double Sine(uint32_t phase) {
  double x = static_cast<double>(static_cast<int32_t>(phase)) * (PI / 2147483648.0);  // -pi .. pi
  if (x > PI / 2)
    x = PI - x;
  else if (x < -PI / 2)
    x = -PI - x;
  const double x2 = x * x;
  double sum = 1.0 / 6227020800.0;  // 1 / 13!
  const double inverse[] = {-1.0 / 39916800.0, 1.0 / 362880.0, -1.0 / 5040.0, 1.0 / 120.0, -1.0 / 6.0, 1.0};
  for (double c : inverse) sum = sum * x2 + c;
  return sum * x;
}

int16_t Pcm(double v) {
  double scaled = v * 32767.0;
  scaled = scaled > 32767.0 ? 32767.0 : (scaled < -32768.0 ? -32768.0 : scaled);
  return static_cast<int16_t>(scaled < 0 ? -static_cast<int32_t>(-scaled + 0.5) : static_cast<int32_t>(scaled + 0.5));
}

uint32_t Increment(double hz) {
  return static_cast<uint32_t>(hz / RATE * 4294967296.0);
}

// 1 kHz at -6 dBFS on the left, at -9 dBFS a quarter turn later on the right.
std::vector<int16_t> Tone() {
  std::vector<int16_t> pcm(2 * FRAMES);
  uint32_t phase = 0;
  for (uint32_t i = 0; i < FRAMES; ++i, phase += Increment(1000.0)) {
    pcm[2 * i] = Pcm(0.5 * Sine(phase));
    pcm[2 * i + 1] = Pcm(0.35 * Sine(phase + 0x40000000u));
  }
  return pcm;
}

// A linear sweep from 50 Hz to 15 kHz, the right channel at 0.7 of the left.
std::vector<int16_t> Sweep() {
  std::vector<int16_t> pcm(2 * FRAMES);
  uint32_t phase = 0;
  for (uint32_t i = 0; i < FRAMES; ++i) {
    const double s = Sine(phase);
    pcm[2 * i] = Pcm(0.5 * s);
    pcm[2 * i + 1] = Pcm(0.35 * s);
    phase += Increment(50.0 + (15000.0 - 50.0) * i / FRAMES);
  }
  return pcm;
}

// Seeded white noise, the two channels sharing half of it.
std::vector<int16_t> Noise() {
  std::vector<int16_t> pcm(2 * FRAMES);
  uint32_t state = 20240611u;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(static_cast<int32_t>(state)) / 2147483648.0;
  };
  for (uint32_t i = 0; i < FRAMES; ++i) {
    const double common = next();
    pcm[2 * i] = Pcm(0.25 * (0.5 * common + 0.5 * next()));
    pcm[2 * i + 1] = Pcm(0.25 * (0.5 * common + 0.5 * next()));
  }
  return pcm;
}

// Seeded noise three times too loud, clipped: full-scale blocks that the
// codecs' own limits (and the decoders' clamping) have to hold.
std::vector<int16_t> Loud() {
  std::vector<int16_t> pcm(2 * FRAMES);
  uint32_t state = 4711u;
  for (uint32_t i = 0; i < 2 * FRAMES; ++i) {
    state = state * 1664525u + 1013904223u;
    pcm[i] = Pcm(3.0 * static_cast<double>(static_cast<int32_t>(state)) / 2147483648.0);
  }
  return pcm;
}

// FNV-1a over the samples as little-endian bytes, or over bytes.
uint64_t Hash(const uint8_t* data, size_t size) {
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
  return h;
}
uint64_t Hash(const std::vector<int16_t>& pcm) {
  std::vector<uint8_t> bytes(pcm.size() * 2);
  for (size_t i = 0; i < pcm.size(); ++i) {
    bytes[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) >> 8);
  }
  return Hash(bytes.data(), bytes.size());
}

struct Format {
  const char* name;
  int32_t waveFormat;  // quillcodec's
  QuillDll::CODECINFO info;
};

QuillDll::CODECINFO Hca(uint16_t quality) {
  return QuillDll::CODECINFO{QuillDll::CODEC_HCA, 2, 2, quality, RATE};
}

const Format FORMATS[] = {
    {"CRI ADX", WAVEFMT_CRI_ADX, QuillDll::CODECINFO{QuillDll::CODEC_ADX, 2, 2, 0, RATE}},
    {"CRI HCA HIGHEST", WAVEFMT_CRI_HCA_HIGHEST, Hca(5)},
    {"CRI HCA HIGH", WAVEFMT_CRI_HCA_HIGH, Hca(4)},
    {"CRI HCA MIDDLE", WAVEFMT_CRI_HCA_MIDDLE, Hca(3)},
    {"CRI HCA LOW", WAVEFMT_CRI_HCA_LOW, Hca(2)},
    {"CRI HCA LOWEST", WAVEFMT_CRI_HCA_LOWEST, Hca(1)},
};
constexpr size_t FORMAT_COUNT = sizeof(FORMATS) / sizeof(FORMATS[0]);
const char* const SIGNAL_NAMES[] = {"tone", "sweep", "noise", "loud"};
constexpr size_t SIGNAL_COUNT = sizeof(SIGNAL_NAMES) / sizeof(SIGNAL_NAMES[0]);
constexpr uint32_t CALL_FRAMES[] = {1, 654, 4096};

// One pass through a fresh handle of `codec` in calls of `call` frames.
std::vector<int16_t> Pass(const CodecFunctions& codec, const QuillDll::CODECINFO& info, const std::vector<int16_t>& in,
                          uint32_t call) {
  void* handle = nullptr;
  EXPECT_EQ(QuillDll::RESULT_SUCCESS, codec.Open(&handle, &info));
  std::vector<int16_t> out(in.size());
  std::vector<int16_t> piece;
  for (uint32_t at = 0; at < FRAMES; at += call) {
    const uint32_t n = FRAMES - at < call ? FRAMES - at : call;
    piece.assign(in.begin() + 2 * at, in.begin() + 2 * (at + n));  // the caller's buffer, not the signal's
    uint32_t processed = 0;
    EXPECT_EQ(QuillDll::RESULT_SUCCESS, codec.EncodeAndDecode(handle, &out[2 * at], n, piece.data(), n, &processed));
    EXPECT_EQ(n, processed);
  }
  EXPECT_EQ(QuillDll::RESULT_SUCCESS, codec.Close(handle));
  return out;
}

// The paths a pass can take: QuillDll's exports, and the codec's objects in
// quillcodec with the SSE2 form and with the scalar form.
struct Path {
  const char* name;
  bool exports;
  bool vector;
};
const Path PATHS[] = {
    {"QuillDll", true, true}, {"objects, SSE2 form", false, true}, {"objects, scalar form", false, false}};

// Restores the vector form when a test ends.
struct VectorPathScope {
  explicit VectorPathScope(bool on) { codec_simd::SetVectorPath(on); }
  ~VectorPathScope() { codec_simd::SetVectorPath(true); }
};

// The tables print themselves in this form when they do not match: one row
// per format, in groups of `group` values.
void PrintTable(const char* name, const uint64_t* values, size_t columns, size_t group) {
  std::printf("const uint64_t %s = {\n", name);
  for (size_t r = 0; r < FORMAT_COUNT; ++r) {
    std::printf("    {");
    for (size_t c = 0; c < columns; ++c) {
      const bool first = c % group == 0;
      const bool last = c % group == group - 1;
      std::printf("%s%s0x%016" PRIx64 "u%s", c ? ", " : "", first && group > 1 ? "{" : "", values[r * columns + c],
                  last && group > 1 ? "}" : "");
    }
    std::printf("},  // %s\n", FORMATS[r].name);
  }
  std::printf("};\n");
}

// [format][signal][call size], in the order of FORMATS, SIGNAL_NAMES and CALL_FRAMES.
const uint64_t PASS_HASHES[FORMAT_COUNT][SIGNAL_COUNT][3] = {
    {{0xd8d4b924886f2b29u, 0xde5f61f1e8cefaf2u, 0x906688a8f090b9dbu},
     {0xa7aa72a93a23e508u, 0x084f341211b6b10fu, 0x50b8bdc00543e07cu},
     {0xac7a206606993b11u, 0xf7c9a924bccb0274u, 0x1ae78d81dab99670u},
     {0x44e1f605aceaa82bu, 0xae9fa79e226ad8d9u, 0xf67617debe1072f8u}},  // CRI ADX
    {{0xe00f0d11760c3254u, 0xe00f0d11760c3254u, 0xe00f0d11760c3254u},
     {0xc1aaf40d85d29bd3u, 0xc1aaf40d85d29bd3u, 0xc1aaf40d85d29bd3u},
     {0xd2dbaa15c2358c96u, 0xd2dbaa15c2358c96u, 0xd2dbaa15c2358c96u},
     {0xb2aecf8d464a8e5bu, 0xb2aecf8d464a8e5bu, 0xb2aecf8d464a8e5bu}},  // CRI HCA HIGHEST
    {{0x9df85f5d8f1556f9u, 0x9df85f5d8f1556f9u, 0x9df85f5d8f1556f9u},
     {0x3a53bbb3ca725a2bu, 0x3a53bbb3ca725a2bu, 0x3a53bbb3ca725a2bu},
     {0xfb50940ee4d60a23u, 0xfb50940ee4d60a23u, 0xfb50940ee4d60a23u},
     {0xf97c1e554b1e6b37u, 0xf97c1e554b1e6b37u, 0xf97c1e554b1e6b37u}},  // CRI HCA HIGH
    {{0x2ef57f026c1e9baeu, 0x2ef57f026c1e9baeu, 0x2ef57f026c1e9baeu},
     {0x78285621268fb04du, 0x78285621268fb04du, 0x78285621268fb04du},
     {0x3116abb8f88a86b8u, 0x3116abb8f88a86b8u, 0x3116abb8f88a86b8u},
     {0xf31d40c83e082735u, 0xf31d40c83e082735u, 0xf31d40c83e082735u}},  // CRI HCA MIDDLE
    {{0x73fac7351b7fccf5u, 0x73fac7351b7fccf5u, 0x73fac7351b7fccf5u},
     {0xb2b758ac3f0567a1u, 0xb2b758ac3f0567a1u, 0xb2b758ac3f0567a1u},
     {0x01f1ae20123d59c8u, 0x01f1ae20123d59c8u, 0x01f1ae20123d59c8u},
     {0x79b5629659fdf7b2u, 0x79b5629659fdf7b2u, 0x79b5629659fdf7b2u}},  // CRI HCA LOW
    {{0x3a26e3de1dbc5fdcu, 0x3a26e3de1dbc5fdcu, 0x3a26e3de1dbc5fdcu},
     {0x4c2ef798893abf22u, 0x4c2ef798893abf22u, 0x4c2ef798893abf22u},
     {0x90f4a6d1c1f338d4u, 0x90f4a6d1c1f338d4u, 0x90f4a6d1c1f338d4u},
     {0x942f6c412d3a71ebu, 0x942f6c412d3a71ebu, 0x942f6c412d3a71ebu}},  // CRI HCA LOWEST
};

// [format][stream, pass output] of quillcodec --stream on the sweep and the
// noise mixed, at the stream's own rate (no conversion).
const uint64_t STREAM_HASHES[FORMAT_COUNT][2] = {
    {0xf1580ede8a30d879u, 0x5f0ff42293a3fbfeu},  // CRI ADX
    {0xe7437d3763fef808u, 0x9b9fd4e7d5c096d3u},  // CRI HCA HIGHEST
    {0x49b69a3cb16e1772u, 0x62f00f1d613e1e85u},  // CRI HCA HIGH
    {0xd3fdbec4829522acu, 0x7f4182afc62f1980u},  // CRI HCA MIDDLE
    {0xc9518de8c8d3b684u, 0x17adc3130ea56ccau},  // CRI HCA LOW
    {0xbda8cfc27ae6110eu, 0xc1252500aa9b9cc2u},  // CRI HCA LOWEST
};

}  // namespace

TEST(CodecPass, OutputOfEveryFormatIsPinnedBitForBit) {
  const std::vector<int16_t> signals[SIGNAL_COUNT] = {Tone(), Sweep(), Noise(), Loud()};
  ASSERT_TRUE(StreamTapAvailable(WAVEFMT_CRI_ADX)) << "quillcodec is built with the codec's objects";
  for (const Path& path : PATHS) {
    SCOPED_TRACE(path.name);
    VectorPathScope scope(path.vector);
    std::vector<uint8_t> unused;
    const CodecFunctions codec = path.exports ? QuillDllFunctions() : StreamTapFunctions(&unused);
    uint64_t measured[FORMAT_COUNT][SIGNAL_COUNT][3] = {};
    bool same = true;
    for (size_t f = 0; f < FORMAT_COUNT; ++f) {
      for (size_t s = 0; s < SIGNAL_COUNT; ++s) {
        for (size_t c = 0; c < 3; ++c) {
          measured[f][s][c] = Hash(Pass(codec, FORMATS[f].info, signals[s], CALL_FRAMES[c]));
          EXPECT_EQ(PASS_HASHES[f][s][c], measured[f][s][c])
              << FORMATS[f].name << ", " << SIGNAL_NAMES[s] << ", calls of " << CALL_FRAMES[c] << " frames";
          same = same && PASS_HASHES[f][s][c] == measured[f][s][c];
        }
      }
    }
    if (!same) PrintTable("PASS_HASHES[FORMAT_COUNT][SIGNAL_COUNT][3]", &measured[0][0][0], 3 * SIGNAL_COUNT, 3);
  }
}

TEST(CodecPass, StreamOfQuillcodecIsPinnedBitForBit) {
  ASSERT_TRUE(StreamTapAvailable(WAVEFMT_CRI_ADX)) << "quillcodec is built with the codec's objects";
  const std::vector<int16_t> sweep = Sweep();
  const std::vector<int16_t> noise = Noise();
  WaveData wave;
  wave.samplingRate = static_cast<uint32_t>(RATE);
  wave.frames = FRAMES;
  wave.samples.resize(2 * FRAMES);
  for (size_t i = 0; i < wave.samples.size(); ++i)
    wave.samples[i] = static_cast<int16_t>((static_cast<int32_t>(sweep[i]) + noise[i]) / 2);
  for (bool vector : {true, false}) {
    SCOPED_TRACE(vector ? "SSE2 form" : "scalar form");
    VectorPathScope scope(vector);
    uint64_t measured[FORMAT_COUNT][2] = {};
    bool same = true;
    for (size_t f = 0; f < FORMAT_COUNT; ++f) {
      std::vector<uint8_t> stream;
      CodecPassResult result;
      std::string error;
      ASSERT_TRUE(RunCodecPass(wave, static_cast<int32_t>(RATE), FORMATS[f].waveFormat, nullptr,
                               StreamTapFunctions(&stream), &result, &error))
          << error;
      ASSERT_FALSE(stream.empty()) << FORMATS[f].name;
      measured[f][0] = Hash(stream.data(), stream.size());
      measured[f][1] = Hash(result.output);
      EXPECT_EQ(STREAM_HASHES[f][0], measured[f][0]) << FORMATS[f].name << ": stream of " << stream.size() << " bytes";
      EXPECT_EQ(STREAM_HASHES[f][1], measured[f][1]) << FORMATS[f].name << ": pass output";
      same = same && STREAM_HASHES[f][0] == measured[f][0] && STREAM_HASHES[f][1] == measured[f][1];
    }
    if (!same) PrintTable("STREAM_HASHES[FORMAT_COUNT][2]", &measured[0][0], 2, 1);
  }
}

namespace {

// A decoder's float sample as the pass hands it out: scaled by 32768, clamped
// to 16 bits, not-a-number as 0, truncated toward zero.
int16_t FloatToPcm(float v) {
  const float scaled = v * 32768.0f;
  if (scaled != scaled) return 0;
  if (scaled >= 32767.0f) return 32767;
  if (scaled <= -32768.0f) return -32768;
  return static_cast<int16_t>(scaled);
}

// An HCA stream (header, then whole frames) decoded frame by frame into
// interleaved stereo; false when the decoder refuses any of it.
bool DecodeHcaStream(const std::vector<uint8_t>& stream, std::vector<int16_t>* pcm) {
  pcm->clear();
  EXPECT_EQ(hca::HCA_OK, hca::HcaDecoderStart());
  std::vector<uint8_t> work(hca::HcaDecoder::WorkSize(2, 4096));
  hca::HcaDecoder* decoder = nullptr;
  bool ok = hca::HcaDecoder::Create(2, 0, work.data(), work.size(), &decoder) == hca::HCA_OK;
  size_t at = 0;
  size_t used = 0;
  ok = ok && decoder->ReadHeader(stream.data(), stream.size(), &used) == hca::HCA_OK &&
       decoder->Params().channels == 2;
  at += used;
  std::vector<float> left(hca::HCA_SUBFRAME_SAMPLES), right(hca::HCA_SUBFRAME_SAMPLES);
  while (ok && at < stream.size()) {
    ok = decoder->DecodeFrame(stream.data() + at, stream.size() - at, &used) == hca::HCA_OK;
    at += used;
    for (int k = 0; ok && k < hca::HCA_SUBFRAMES; ++k) {
      float* planes[2] = {left.data(), right.data()};
      int produced = 0;
      ok = decoder->GetSamples(planes, 2, hca::HCA_SUBFRAME_SAMPLES, &produced) == hca::HCA_OK &&
           produced == hca::HCA_SUBFRAME_SAMPLES;
      for (int i = 0; ok && i < produced; ++i) {
        pcm->push_back(FloatToPcm(left[static_cast<size_t>(i)]));
        pcm->push_back(FloatToPcm(right[static_cast<size_t>(i)]));
      }
    }
  }
  if (decoder != nullptr) decoder->Destroy();
  EXPECT_EQ(hca::HCA_OK, hca::HcaDecoderFinish());
  return ok;
}

// An ADX stream decoded through rings, as the stream decoder reads it, into
// interleaved stereo; false when the decoder fails or stops taking bytes.
bool DecodeAdxStream(const std::vector<uint8_t>& stream, std::vector<int16_t>* pcm) {
  constexpr int32_t RING = 4096;
  pcm->clear();
  SJRBF_Init();
  AdxDecoder_Init();
  std::vector<std::vector<uint8_t>> work(3, std::vector<uint8_t>(2 * RING));
  SjHandle rings[3];
  for (size_t i = 0; i < 3; ++i) rings[i] = SJRBF_Create(work[i].data(), RING, RING);
  AdxDecoder* decoder = AdxDecoder_Create(rings[0], 2, &rings[1]);
  bool ok = decoder != nullptr;
  if (ok) decoder->Start();
  std::vector<int16_t> channel[2];
  size_t fed = 0;
  for (int idle = 0; ok && idle < 3;) {
    const size_t before = fed;
    while (fed < stream.size()) {
      SjChunk chunk;
      SJ_TakeChunk(rings[0], SJ_LIN_FREE, static_cast<int32_t>(stream.size() - fed), &chunk);
      if (chunk.len <= 0) break;
      std::memcpy(chunk.data, stream.data() + fed, static_cast<size_t>(chunk.len));
      SJ_AddChunk(rings[0], SJ_LIN_DATA, &chunk);
      fed += static_cast<size_t>(chunk.len);
    }
    decoder->RunOnce();
    bool drained = false;
    for (int c = 0; c < 2; ++c) {
      for (;;) {
        SjChunk chunk;
        SJ_TakeChunk(rings[c + 1], SJ_LIN_DATA, RING, &chunk);
        if (chunk.len <= 0) break;
        const size_t at = channel[c].size();
        channel[c].resize(at + static_cast<size_t>(chunk.len) / 2);
        std::memcpy(channel[c].data() + at, chunk.data, static_cast<size_t>(chunk.len) / 2 * 2);
        SJ_AddChunk(rings[c + 1], SJ_LIN_FREE, &chunk);
        drained = true;
      }
    }
    ok = decoder->GetState() != AdxDecoder::FAILED;
    idle = fed == before && !drained ? idle + 1 : 0;
  }
  ok = ok && fed == stream.size() && channel[0].size() == channel[1].size();
  for (size_t i = 0; ok && i < channel[0].size(); ++i) {
    pcm->push_back(channel[0][i]);
    pcm->push_back(channel[1][i]);
  }
  if (decoder != nullptr) AdxDecoder_Destroy(decoder);
  for (SjHandle ring : rings) SJ_Destroy(ring);
  AdxDecoder_Finish();
  SJRBF_Finish();
  return ok;
}

}  // namespace

// Where a decoded frame of the exported stream lands in the pass output: the
// ADX pass hands out its decoder's samples as they come (the priming silence
// is in the stream), the HCA pass hands out each frame's decoded samples in
// place of the next frame's input (the first frame's worth is silence). The
// pass over QuillDll's exports is the same as the one over the objects.
TEST(CodecPass, ExportedStreamDecodedOnItsOwnIsThePassOutput) {
  ASSERT_TRUE(StreamTapAvailable(WAVEFMT_CRI_ADX)) << "quillcodec is built with the codec's objects";
  const std::vector<int16_t> signals[SIGNAL_COUNT] = {Tone(), Sweep(), Noise(), Loud()};
  for (const Format& format : FORMATS) {
    const bool adx = format.waveFormat == WAVEFMT_CRI_ADX;
    for (size_t s = 0; s < SIGNAL_COUNT; ++s) {
      for (uint32_t call : CALL_FRAMES) {
        SCOPED_TRACE(std::string(format.name) + ", " + SIGNAL_NAMES[s] + ", calls of " + std::to_string(call) +
                     " frames");
        std::vector<uint8_t> stream;
        const std::vector<int16_t> output = Pass(StreamTapFunctions(&stream), format.info, signals[s], call);
        EXPECT_EQ(Pass(QuillDllFunctions(), format.info, signals[s], call), output);
        std::vector<int16_t> decoded;
        ASSERT_TRUE(adx ? DecodeAdxStream(stream, &decoded) : DecodeHcaStream(stream, &decoded))
            << "the decoder refused the stream of " << stream.size() << " bytes";
        const size_t lead = adx ? 0 : 2 * hca::HCA_FRAME_SAMPLES;
        // Every output frame after the lead comes from the stream.
        ASSERT_GE(lead + decoded.size(), output.size());
        EXPECT_TRUE(std::all_of(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(lead),
                                [](int16_t v) { return v == 0; }));
        size_t differ = 0;
        size_t first = 0;
        for (size_t i = lead; i < output.size(); ++i) {
          if (output[i] == decoded[i - lead]) continue;
          if (differ++ == 0) first = i;
        }
        EXPECT_EQ(0u, differ) << "first at sample " << first << " (frame " << first / 2 << "): pass "
                              << (differ ? output[first] : 0) << ", decoded " << (differ ? decoded[first - lead] : 0);
      }
    }
  }
}
