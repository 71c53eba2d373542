// The HCA decoder's checks: headers it refuses, frames it refuses, and what a
// refusal leaves behind.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "HcaTestCodec.h"
#include "hca/BitStream.h"
#include "hca/HcaCrc.h"
#include "hca/HcaTables.h"

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

  // Coefficients: value x 2 / N x S[scale factor] (N = 7 at resolution 3, 127 at
  // 10), S[i] = 2^(3.5 - (63 - i) x 53 / 128).
  auto scale = [](int i) {
    return static_cast<double>(static_cast<float>(std::pow(2.0, 3.5 - (63 - i) * 53.0 / 128.0)));
  };
  double x[128] = {};
  x[3] = 2 * (2.0 / 7) * scale(40);
  x[10] = -5 * (2.0 / 127) * scale(50);
  // Inverse transform with the stream's sign: v = -DCT-IV(x) / 8; the
  // overlap starts at zero and the second subframe is the overlap alone.
  const double pi = 3.14159265358979323846;
  double v[128];
  for (int n = 0; n < 128; ++n) {
    double sum = 0.0;
    for (int k = 0; k < 128; ++k) sum += x[k] * std::cos(pi / 128 * (n + 0.5) * (k + 0.5));
    v[n] = -sum / 8.0;
  }
  const float* w = Tables().window;
  double expected[256] = {};
  for (int i = 0; i < 64; ++i) {
    expected[i] = w[i] * v[64 + i];
    expected[64 + i] = -w[64 + i] * v[127 - i];
    expected[128 + i] = -w[127 - i] * v[63 - i];
    expected[192 + i] = -(w[63 - i] * v[i]);
  }
  for (int i = 0; i < 256; ++i) EXPECT_NEAR(expected[i], pcm[0][static_cast<size_t>(i)], 1e-7) << i;
  for (int i = 256; i < 1024; ++i) ASSERT_EQ(0.0f, pcm[0][static_cast<size_t>(i)]) << i;
}
