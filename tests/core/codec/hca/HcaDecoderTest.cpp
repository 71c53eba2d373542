// The HCA decoder's checks: headers it refuses, frames it refuses, and what a
// refusal leaves behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "HcaTestCodec.h"
#include "hca/BitStream.h"
#include "hca/HcaCrc.h"
#include "hca/HcaTables.h"
#include "runtime/CodecSimd.h"

using namespace hca;
using hcatest::DecoderFixture;
using hcatest::EncoderFixture;

namespace {

void FixCrc(std::vector<uint8_t>* block) {
  const size_t n = block->size();
  uint16_t crc = Crc16(block->data(), n - 2);
  (*block)[n - 2] = static_cast<uint8_t>(crc >> 8);
  (*block)[n - 1] = static_cast<uint8_t>(crc);
}

// S[i] = 2^(3.5 - (63 - i) x 53 / 128), as the format stores it (float).
double Scale(int i) {
  return static_cast<double>(static_cast<float>(std::pow(2.0, 3.5 - (63 - i) * 53.0 / 128.0)));
}

// The format's synthesis of 8 subframes of coefficients, in double: v =
// -DCT-IV(x) / 8 (the stream's sign), overlapped with the window from a zero
// overlap. 1024 samples.
std::vector<double> ReferenceSynthesis(const double (&x)[8][128]) {
  const double pi = 3.14159265358979323846;
  const float* w = Tables().window;
  std::vector<double> out(1024);
  double s[128] = {};
  for (int k = 0; k < 8; ++k) {
    double v[128];
    for (int n = 0; n < 128; ++n) {
      double sum = 0.0;
      for (int j = 0; j < 128; ++j) sum += x[k][j] * std::cos(pi / 128 * (n + 0.5) * (j + 0.5));
      v[n] = -sum / 8.0;
    }
    double* o = &out[static_cast<size_t>(128 * k)];
    for (int i = 0; i < 64; ++i) {
      o[i] = w[i] * v[64 + i] + s[i];
      o[64 + i] = -w[64 + i] * v[127 - i] - s[64 + i];
    }
    for (int i = 0; i < 64; ++i) {
      s[i] = -w[127 - i] * v[63 - i];
      s[64 + i] = w[63 - i] * v[i];
    }
  }
  return out;
}

std::vector<std::vector<float>> Tone(size_t start) {
  std::vector<std::vector<float>> p(2, std::vector<float>(1024));
  for (size_t i = 0; i < 1024; ++i) {
    p[0][i] = static_cast<float>(0.5 * std::sin(0.07 * static_cast<double>(start + i)));
    p[1][i] = static_cast<float>(0.3 * std::sin(0.11 * static_cast<double>(start + i)));
  }
  return p;
}

}  // namespace

TEST(HcaDecoder, RefusesHeadersItCannotDecode) {
  EncoderFixture encoder(2, 32728, 130912);
  ASSERT_EQ(HCA_OK, encoder.HeaderResult());
  const std::vector<uint8_t> good = encoder.Header();
  DecoderFixture decoder(2);
  size_t used = 99;

  struct Change {
    size_t offset;
    uint8_t value;
    int expected;
  } changes[] = {
      {31, 14, HCA_ERROR_UNSUPPORTED},    // maximum resolution 14
      {30, 2, HCA_ERROR_UNSUPPORTED},     // minimum resolution 2
      {12, 3, HCA_ERROR_UNSUPPORTED},     // more channels than the decoder was made for
      {12, 0, HCA_ERROR_UNSUPPORTED},     // no channels
      {28, 0x7F, HCA_ERROR_UNSUPPORTED},  // frames larger than the frame buffer
      {34, 129, HCA_ERROR_UNSUPPORTED},   // more than 128 bands
      {35, 100, HCA_ERROR_UNSUPPORTED},   // base + stereo bands beyond the total
      {45, 1, HCA_ERROR_UNSUPPORTED},     // a cipher
      {8, 'x', HCA_ERROR_UNSUPPORTED},    // no "fmt" chunk
      {46, 'x', HCA_ERROR_UNSUPPORTED},   // an unknown chunk
      {7, 20, HCA_ERROR_UNSUPPORTED},     // a header size below its own chunks
  };
  for (const Change& change : changes) {
    std::vector<uint8_t> h = good;
    h[change.offset] = change.value;
    FixCrc(&h);
    EXPECT_EQ(change.expected, decoder->ReadHeader(h.data(), h.size(), &used)) << change.offset;
    EXPECT_FALSE(decoder->HasHeader());
  }

  std::vector<uint8_t> h = good;
  h[20] ^= 1;  // CRC no longer checks
  EXPECT_EQ(HCA_ERROR_CRC, decoder->ReadHeader(h.data(), h.size(), &used));
  EXPECT_EQ(HCA_ERROR_NEED_MORE, decoder->ReadHeader(good.data(), 95, &used));
  EXPECT_EQ(HCA_ERROR_NEED_MORE, decoder->ReadHeader(good.data(), 5, &used));
  const uint8_t junk[] = {1, 2, 3, 0xFF, 'H'};
  EXPECT_EQ(HCA_ERROR_NOT_AT_START, decoder->ReadHeader(junk, sizeof(junk), &used));
  EXPECT_EQ(3u, used);
  EXPECT_EQ(HCA_ERROR_NULL, decoder->ReadHeader(nullptr, 96, &used));

  // Tag bytes may carry their top bit.
  h = good;
  for (size_t i : {0u, 1u, 2u, 8u, 9u, 10u, 24u, 25u, 40u, 46u}) h[i] |= 0x80;
  FixCrc(&h);
  EXPECT_EQ(HCA_OK, decoder->ReadHeader(h.data(), h.size(), &used));
  EXPECT_EQ(96u, used);
  EXPECT_EQ(512, decoder->Params().frameSize);
  EXPECT_EQ(64, decoder->Params().stereoBands);
}

TEST(HcaDecoder, RefusesDamagedFramesWholeAndKeepsItsState) {
  EncoderFixture encoder(2, 32728, 87274);
  DecoderFixture decoder(2);
  size_t used = 0;
  std::vector<uint8_t> frame(encoder->FrameSize());
  float a[1024], b[1024];
  float* out[2] = {a, b};
  int produced = -1;
  EXPECT_EQ(HCA_ERROR_NO_HEADER, decoder->DecodeFrame(frame.data(), frame.size(), &used));
  EXPECT_EQ(HCA_ERROR_NO_HEADER, decoder->GetSamples(out, 2, 128, &produced));
  ASSERT_EQ(HCA_OK, decoder->ReadHeader(encoder.Header().data(), encoder.Header().size(), &used));
  EXPECT_EQ(HCA_OK, decoder->GetSamples(out, 2, 128, &produced));
  EXPECT_EQ(0, produced);  // no frame yet

  const std::vector<uint8_t> good = encoder.Encode(Tone(0));
  ASSERT_EQ(HCA_OK, decoder->DecodeFrame(good.data(), good.size(), &used));
  EXPECT_EQ(good.size(), used);
  for (int k = 0; k < 3; ++k) ASSERT_EQ(HCA_OK, decoder->GetSamples(out, 2, 128, &produced));
  EXPECT_EQ(5, decoder->FrameState());

  std::vector<uint8_t> bad = good;
  bad[100] ^= 0x10;
  EXPECT_EQ(HCA_ERROR_CRC, decoder->DecodeFrame(bad.data(), bad.size(), &used));
  EXPECT_EQ(HCA_ERROR_NEED_MORE, decoder->DecodeFrame(good.data(), good.size() - 1, &used));
  bad = good;
  bad[0] = 0x12;
  bad[1] = 0x00;
  bad[5] = 0xFF;
  EXPECT_EQ(HCA_ERROR_NOT_AT_START, decoder->DecodeFrame(bad.data(), bad.size(), &used));
  EXPECT_GE(used, 2u);
  EXPECT_LE(used, 5u);
  bad = good;
  bad[1] = 0x00;
  FixCrc(&bad);
  EXPECT_EQ(HCA_ERROR_NOT_AT_START, decoder->DecodeFrame(bad.data(), bad.size(), &used));

  // The refused frames changed nothing: the good frame goes on to its end.
  EXPECT_EQ(5, decoder->FrameState());
  for (int k = 3; k < 8; ++k) {
    ASSERT_EQ(HCA_OK, decoder->GetSamples(out, 2, 128, &produced));
    EXPECT_EQ(128, produced);
  }
  EXPECT_EQ(HCA_OK, decoder->GetSamples(out, 2, 128, &produced));
  EXPECT_EQ(0, produced);  // frame done

  // A frame refused on its own: no samples.
  bad = good;
  bad[200] ^= 0x01;
  EXPECT_EQ(HCA_ERROR_CRC, decoder->DecodeFrame(bad.data(), bad.size(), &used));
  EXPECT_EQ(HCA_OK, decoder->GetSamples(out, 2, 128, &produced));
  EXPECT_EQ(0, produced);

  EXPECT_EQ(HCA_OK, decoder->DecodeFrame(good.data(), good.size(), &used));
  EXPECT_EQ(HCA_ERROR_ARGUMENT, decoder->GetSamples(out, 1, 128, &produced));
  EXPECT_EQ(HCA_ERROR_ARGUMENT, decoder->GetSamples(out, 2, 127, &produced));
  float* missing[2] = {a, nullptr};
  EXPECT_EQ(HCA_ERROR_NULL, decoder->GetSamples(missing, 2, 128, &produced));
}

TEST(HcaDecoder, RefusesFramesWithImpossibleSideDataEvenWhenTheirCrcChecks) {
  EncoderFixture encoder(2, 32728, 87274);
  DecoderFixture decoder(2);
  size_t used = 0;
  ASSERT_EQ(HCA_OK, decoder->ReadHeader(encoder.Header().data(), encoder.Header().size(), &used));
  const size_t size = static_cast<size_t>(encoder->FrameSize());

  auto build = [&](auto&& body) {
    std::vector<uint8_t> f(size, 0);
    BitWriter w(f.data(), size - 2);
    w.Write(0xFFFF, 16);
    w.Write(100, 9);
    w.Write(0, 7);
    body(w);
    w.Flush();
    FixCrc(&f);
    return f;
  };
  // Width 7 does not exist.
  std::vector<uint8_t> f = build([](BitWriter& w) { w.Write(7, 3); });
  EXPECT_EQ(HCA_ERROR_BAD_FRAME, decoder->DecodeFrame(f.data(), f.size(), &used));
  // A difference that leaves 0..63.
  f = build([](BitWriter& w) {
    w.Write(3, 3);  // width 3: code 0 means a difference of -3
    w.Write(0, 6);
    w.Write(0, 3);
  });
  EXPECT_EQ(HCA_ERROR_BAD_FRAME, decoder->DecodeFrame(f.data(), f.size(), &used));
  // An intensity index of 15.
  f = build([](BitWriter& w) {
    w.Write(0, 3);
    for (int g = 0; g < 8; ++g) w.Write(0, 6);
    w.Write(0, 3);
    w.Write(15, 4);
  });
  EXPECT_EQ(HCA_ERROR_BAD_FRAME, decoder->DecodeFrame(f.data(), f.size(), &used));
  // The same frame with index 14 is fine.
  f = build([](BitWriter& w) {
    w.Write(0, 3);
    for (int g = 0; g < 8; ++g) w.Write(0, 6);
    w.Write(0, 3);
    w.Write(14, 4);
  });
  EXPECT_EQ(HCA_OK, decoder->DecodeFrame(f.data(), f.size(), &used));
}

TEST(HcaDecoder, WorkAreaAndSampleWindow) {
  std::vector<uint8_t> work(8192);
  HcaDecoder* decoder = nullptr;
  EXPECT_EQ(HCA_ERROR_NOT_STARTED, HcaDecoder::Create(2, 0, work.data(), work.size(), &decoder));
  HcaDecoderStart();
  EXPECT_EQ(HCA_ERROR_ARGUMENT, HcaDecoder::Create(0, 0, work.data(), work.size(), &decoder));
  EXPECT_EQ(HCA_ERROR_BUFFER_SMALL, HcaDecoder::Create(2, 0, work.data(), 1000, &decoder));
  ASSERT_EQ(HCA_OK, HcaDecoder::Create(2, 0, work.data(), work.size(), &decoder));
  // The filter's 8192 bytes hold two channels and frames of well over 2 KiB.
  EXPECT_GE(decoder->FrameBufferSize(), 2048);
  decoder->Destroy();
  HcaDecoderFinish();

  // Dropping leading samples shortens the first subframes.
  EncoderFixture encoder(2, 32728, 130912);
  DecoderFixture dec(2);
  size_t used = 0;
  ASSERT_EQ(HCA_OK, dec->ReadHeader(encoder.Header().data(), encoder.Header().size(), &used));
  dec->SetSampleWindow(200, 1000);
  std::vector<std::vector<float>> out;
  int samples = 0;
  ASSERT_EQ(HCA_OK, dec.Decode(encoder.Encode(Tone(0)), &out, &samples));
  EXPECT_EQ(824, samples);  // 1024 - 200
  ASSERT_EQ(HCA_OK, dec.Decode(encoder.Encode(Tone(1024)), &out, &samples));
  EXPECT_EQ(176, samples);  // the rest of the 1000
}

// A frame written bit by bit from the format's layout, not by the encoder:
// a mono stream with two coded bands, decoded to values computed here from
// the format's definitions. A mistake that the encoder and the decoder share
// (a code, a table, the transform's sign) fails here.
TEST(HcaDecoder, DecodesAHandBuiltFrameToTheFormatsValues) {
  // Mono at 32728 Hz and 130912 bit/s: 512-byte frames, 128 base bands, no
  // stereo or HFR bands.
  EncoderFixture encoder(1, 32728, 130912);
  DecoderFixture decoder(1);
  size_t used = 0;
  ASSERT_EQ(HCA_OK, decoder->ReadHeader(encoder.Header().data(), encoder.Header().size(), &used));
  ASSERT_EQ(512, decoder->Params().frameSize);
  ASSERT_EQ(128, decoder->Params().baseBands);
  ASSERT_EQ(0, decoder->Params().stereoBands);
  ASSERT_EQ(0, decoder->Params().bandsPerHfrGroup);

  // Noise level 149, boundary 0. Band 3 has scale factor 40 (level 102):
  // 149 - 102 + 3 = 50, R[56] = resolution 3. Band 10 has scale factor 50
  // (level 127): 149 - 127 + 3 = 25, R[31] = resolution 10 (6 magnitude bits).
  std::vector<uint8_t> frame(512, 0);
  BitWriter out(frame.data(), frame.size() - 2);
  out.Write(0xFFFF, 16);
  out.Write(149, 9);
  out.Write(0, 7);
  out.Write(6, 3);  // scale factors in 6 bits each
  for (int j = 0; j < 128; ++j) out.Write(j == 3 ? 40 : j == 10 ? 50 : 0, 6);
  // Subframe 0: band 3 codes +2 ("100"), band 10 codes -5 (000101, sign 1; N = 127).
  out.Write(0b100, 3);
  out.Write(0b000101, 6);
  out.Write(1, 1);
  // Subframes 1..7: zeros ("00"; magnitude 000000 without a sign bit).
  for (int s = 1; s < 8; ++s) {
    out.Write(0b00, 2);
    out.Write(0, 6);
  }
  out.Flush();
  ASSERT_FALSE(out.Overflowed());
  FixCrc(&frame);

  std::vector<std::vector<float>> pcm;
  int samples = 0;
  ASSERT_EQ(HCA_OK, decoder.Decode(frame, &pcm, &samples));
  ASSERT_EQ(1024, samples);

  // Coefficients: value x 2 / N x S[scale factor] (N = 7 at resolution 3, 127 at 10).
  double x[8][128] = {};
  x[0][3] = 2 * (2.0 / 7) * Scale(40);
  x[0][10] = -5 * (2.0 / 127) * Scale(50);
  const std::vector<double> expected = ReferenceSynthesis(x);
  for (int i = 0; i < 1024; ++i)
    EXPECT_NEAR(expected[static_cast<size_t>(i)], pcm[0][static_cast<size_t>(i)], 1e-7) << i;
  for (int i = 256; i < 1024; ++i) ASSERT_EQ(0.0f, pcm[0][static_cast<size_t>(i)]) << i;
}

// A stereo frame written bit by bit: the first channel codes one band above
// the base bands, the second channel only its intensity indexes. Per
// subframe, with t = (14 - index) / 7, the first channel plays t x the band
// and the second (2 - t) x it: both in phase, the same at t = 1, all on the
// first at t = 2, all on the second at t = 0.
TEST(HcaDecoder, DecodesAHandBuiltIntensityStereoFrameToTheFormatsValues) {
  // Stereo at 32728 Hz and 130912 bit/s ("CRI HCA MIDDLE"): 512-byte frames,
  // 64 base and 64 stereo bands, no HFR bands.
  EncoderFixture encoder(2, 32728, 130912);
  DecoderFixture decoder(2);
  size_t used = 0;
  ASSERT_EQ(HCA_OK, decoder->ReadHeader(encoder.Header().data(), encoder.Header().size(), &used));
  ASSERT_EQ(512, decoder->Params().frameSize);
  ASSERT_EQ(64, decoder->Params().baseBands);
  ASSERT_EQ(64, decoder->Params().stereoBands);
  ASSERT_EQ(0, decoder->Params().hfrGroups);

  // Intensity index per subframe: 7 is t = 1 (the middle), 0 all on the first
  // channel, 14 all on the second.
  const int index[8] = {3, 7, 0, 14, 10, 7, 7, 7};
  // The first channel's band 80, scale factor 40 (resolution 3 at noise level
  // 149, as above): +2 in subframe 0, -3 in subframe 4, +1 in subframe 2 and
  // -1 in subframe 3, 0 elsewhere.
  const int value[8] = {2, 0, 1, -1, -3, 0, 0, 0};
  const uint32_t code[8] = {0b100, 0b00, 0b010, 0b011, 0b111, 0b00, 0b00, 0b00};
  const int length[8] = {3, 2, 3, 3, 3, 2, 2, 2};
  std::vector<uint8_t> frame(512, 0);
  BitWriter out(frame.data(), frame.size() - 2);
  out.Write(0xFFFF, 16);
  out.Write(149, 9);
  out.Write(0, 7);
  out.Write(6, 3);  // first channel: 128 scale factors in 6 bits each
  for (int j = 0; j < 128; ++j) out.Write(j == 80 ? 40 : 0, 6);
  out.Write(0, 3);  // second channel: no scale factors, then its intensity indexes
  for (int s = 0; s < 8; ++s) out.Write(static_cast<uint32_t>(index[s]), 4);
  for (int s = 0; s < 8; ++s) out.Write(code[s], length[s]);  // only the first channel codes values
  out.Flush();
  ASSERT_FALSE(out.Overflowed());
  FixCrc(&frame);

  std::vector<std::vector<float>> pcm;
  int samples = 0;
  ASSERT_EQ(HCA_OK, decoder.Decode(frame, &pcm, &samples));
  ASSERT_EQ(1024, samples);

  double first[8][128] = {};
  double second[8][128] = {};
  for (int s = 0; s < 8; ++s) {
    const double coefficient = value[s] * (2.0 / 7) * Scale(40);
    const double t = (14 - index[s]) / 7.0;
    first[s][80] = t * coefficient;
    second[s][80] = (2 - t) * coefficient;
  }
  const std::vector<double> expected[2] = {ReferenceSynthesis(first), ReferenceSynthesis(second)};
  for (size_t c = 0; c < 2; ++c)
    for (size_t i = 0; i < 1024; ++i) ASSERT_NEAR(expected[c][i], pcm[c][i], 1e-7) << "channel " << c << ", " << i;
  // Subframe 0 (index 3, t = 11/7): the second channel plays 3/11 of the
  // first, in phase.
  double dot = 0.0;
  for (size_t i = 0; i < 128; ++i) dot += static_cast<double>(pcm[0][i]) * pcm[1][i];
  EXPECT_GT(dot, 0.0);
}

// A frame taken before the last one was played to its end continues from
// the subframes that were played, whichever form of the synthesis runs (the
// SSE2 form synthesises two subframes at a time and keeps the second aside).
TEST(HcaDecoder, ANewFrameMidwayContinuesFromWhatWasPlayedInBothForms) {
  EncoderFixture encoder(2, 32728, 130912);
  const std::vector<uint8_t> first = encoder.Encode(Tone(0));
  const std::vector<uint8_t> second = encoder.Encode(Tone(1024));
  std::vector<float> played[2];
  for (bool vector : {true, false}) {
    codec_simd::SetVectorPath(vector);
    DecoderFixture decoder(2);
    size_t used = 0;
    ASSERT_EQ(HCA_OK, decoder->ReadHeader(encoder.Header().data(), encoder.Header().size(), &used));
    float a[128], b[128];
    float* out[2] = {a, b};
    int produced = 0;
    for (const std::vector<uint8_t>* frame : {&first, &second}) {
      ASSERT_EQ(HCA_OK, decoder->DecodeFrame(frame->data(), frame->size(), &used));
      // Three subframes of the first frame (the third one of a pair), all of the second.
      for (int k = 0; k < (frame == &first ? 3 : 8); ++k) {
        ASSERT_EQ(HCA_OK, decoder->GetSamples(out, 2, 128, &produced));
        ASSERT_EQ(128, produced);
        played[vector].insert(played[vector].end(), a, a + 128);
        played[vector].insert(played[vector].end(), b, b + 128);
      }
    }
  }
  codec_simd::SetVectorPath(true);
  ASSERT_EQ(played[0].size(), played[1].size());
  EXPECT_EQ(0, std::memcmp(played[0].data(), played[1].data(), played[0].size() * sizeof(float)));
}
