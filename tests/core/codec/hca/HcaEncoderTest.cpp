// The HCA encoder: frame parameters, header, frame layout and its decisions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "HcaTestCodec.h"
#include "HcaTestSignals.h"
#include "hca/BitStream.h"
#include "hca/HcaCrc.h"

using namespace hca;
using hcatest::DecoderFixture;
using hcatest::EncoderFixture;

namespace {

using Planes = std::vector<std::vector<float>>;

Planes SinePlanes(int channels, double hz, double rate, double amplitude, size_t start) {
  Planes p(static_cast<size_t>(channels), std::vector<float>(1024));
  for (auto& plane : p)
    for (size_t i = 0; i < 1024; ++i)
      plane[i] =
          static_cast<float>(amplitude * std::sin(2.0 * hcatest::PI * hz * static_cast<double>(start + i) / rate));
  return p;
}

Planes NoisePlanes(int channels, std::mt19937& rng, float amplitude) {
  std::uniform_real_distribution<float> uniform(-amplitude, amplitude);
  Planes p(static_cast<size_t>(channels), std::vector<float>(1024));
  for (auto& plane : p)
    for (float& v : plane) v = uniform(rng);
  return p;
}

void ExpectWholeFrame(const std::vector<uint8_t>& frame, size_t frameSize) {
  ASSERT_EQ(frameSize, frame.size());
  EXPECT_EQ(0xFF, frame[0]);
  EXPECT_EQ(0xFF, frame[1]);
  EXPECT_EQ(0, Crc16(frame.data(), frame.size()));
}

// The first channel's scale factors of a frame (its first `coded` bands).
std::vector<int> FirstChannelScales(const std::vector<uint8_t>& frame, int coded) {
  BitReader in(frame.data(), frame.size());
  in.Skip(32);
  std::vector<int> scales(static_cast<size_t>(coded), 0);
  const int width = static_cast<int>(in.Read(3));
  if (width == 0) return scales;
  int scale = static_cast<int>(in.Read(6));
  scales[0] = scale;
  const int t = (1 << (width - 1)) - 1;
  for (int j = 1; j < coded; ++j) {
    if (width == 6) {
      scale = static_cast<int>(in.Read(6));
    } else {
      int code = static_cast<int>(in.Read(width));
      scale = code == (1 << width) - 1 ? static_cast<int>(in.Read(6)) : scale + code - t;
    }
    scales[static_cast<size_t>(j)] = scale;
  }
  return scales;
}

}  // namespace

TEST(HcaEncoder, FrameParametersFor32728HzStereo) {
  struct Row {
    int quality, bitRate, frameBytes, base, stereo, perGroup, groups;
  } rows[] = {
      {5, 261824, 1024, 128, 0, 0, 0}, {4, 174549, 682, 128, 0, 0, 0}, {3, 130912, 512, 64, 64, 0, 0},
      {2, 87274, 341, 43, 42, 6, 8},   {1, 65456, 256, 32, 32, 8, 8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.quality);
    const int bitRate = hcatest::QualityBitRate(2, 32728, row.quality);
    EXPECT_EQ(row.bitRate, bitRate);
    HcaStreamParams p;
    int effective = 0;
    ASSERT_EQ(HCA_OK, ComputeEncoderParams(2, 32728, 16364, bitRate, 1, 0, &p, &effective));
    EXPECT_EQ(row.frameBytes, p.frameSize);
    EXPECT_EQ(128, p.totalBands);
    EXPECT_EQ(row.base, p.baseBands);
    EXPECT_EQ(row.stereo, p.stereoBands);
    EXPECT_EQ(row.perGroup, p.bandsPerHfrGroup);
    EXPECT_EQ(row.groups, p.hfrGroups);
    EXPECT_EQ(row.frameBytes * 32728 * 8 / 1024, effective);
  }
  // Quality 0 asks for the same ratio as HIGH; one channel has its own ratios and floor.
  EXPECT_EQ(174549, hcatest::QualityBitRate(2, 32728, 0));
  EXPECT_EQ(43637, hcatest::QualityBitRate(1, 32728, 1));
  EXPECT_EQ(42666, hca::HcaFilter::ClampBitRate(1, 16000, 16000));
  EXPECT_EQ(64000, hca::HcaFilter::ClampBitRate(2, 4000, 1000000));  // the floor wins over the ceiling
}

TEST(HcaEncoder, RefusesParametersNoFrameCanCarry) {
  HcaStreamParams p;
  EXPECT_EQ(HCA_ERROR_ARGUMENT, ComputeEncoderParams(2, 1, 0, 64000, 1, 0, &p, nullptr));        // 8 MB frames
  EXPECT_EQ(HCA_ERROR_ARGUMENT, ComputeEncoderParams(2, 32728, 16364, 200, 1, 0, &p, nullptr));  // no room
  EXPECT_EQ(HCA_ERROR_ARGUMENT, ComputeEncoderParams(3, 32728, 16364, 96000, 2, 0, &p, nullptr));
  EXPECT_EQ(HCA_ERROR_ARGUMENT, ComputeEncoderParams(17, 32728, 16364, 96000, 1, 0, &p, nullptr));
  EXPECT_EQ(HCA_ERROR_ARGUMENT, ComputeEncoderParams(2, 0x800000, 16364, 96000, 1, 0, &p, nullptr));
}

TEST(HcaEncoder, HeaderForLowQualityStereo) {
  EncoderFixture encoder(2, 32728, 87274);
  ASSERT_EQ(HCA_OK, encoder.HeaderResult());
  const std::vector<uint8_t>& h = encoder.Header();
  const uint8_t expected[48] = {
      'H', 'C', 'A', 0,   0x02, 0x00, 0x00, 0x60,                                         // HCA, version, size
      'f', 'm', 't', 0,   2,    0x00, 0x7F, 0xD8, 0, 0, 0,   1,  0x00, 0x80, 0x03, 0x80,  // fmt
      'c', 'o', 'm', 'p', 0x01, 0x55, 1,    15,   1, 0, 128, 43, 42,   6,    0,    0,     // comp
      'c', 'i', 'p', 'h', 0,    0,    'p',  'a'};
  EXPECT_EQ(0, std::memcmp(expected, h.data(), sizeof(expected)));
  EXPECT_EQ('d', h[48]);
  EXPECT_EQ(0, h[49]);
  for (int i = 50; i < 94; ++i) EXPECT_EQ(0, h[static_cast<size_t>(i)]) << i;
  EXPECT_EQ(0, Crc16(h.data(), 96));

  std::vector<uint8_t> small(95);
  size_t written = 1;
  EXPECT_EQ(HCA_ERROR_BUFFER_SMALL, encoder->WriteHeader(small.data(), small.size(), &written));
  EXPECT_EQ(0u, written);
}

TEST(HcaEncoder, SilentFrameLayoutDecodesToSilence) {
  EncoderFixture encoder(2, 32728, 261824);
  Planes silence(2, std::vector<float>(1024, 0.0f));
  std::vector<uint8_t> frame = encoder.Encode(silence);
  ExpectWholeFrame(frame, 1024);
  // Sync, noise level 0, boundary 127, a zero width per channel, zero padding, CRC.
  EXPECT_EQ(0x00, frame[2]);
  EXPECT_EQ(0x7F, frame[3]);
  for (size_t i = 4; i < 1022; ++i) ASSERT_EQ(0, frame[i]) << i;

  DecoderFixture decoder(2);
  size_t used = 0;
  ASSERT_EQ(HCA_OK, decoder->ReadHeader(encoder.Header().data(), encoder.Header().size(), &used));
  EXPECT_EQ(96u, used);
  Planes out;
  int samples = 0;
  ASSERT_EQ(HCA_OK, decoder.Decode(frame, &out, &samples));
  EXPECT_EQ(1024, samples);
  for (const auto& plane : out)
    for (float v : plane) ASSERT_EQ(0.0f, v);
}

TEST(HcaEncoder, EveryFrameFillsItsSizeAndDecodesAtEveryQuality) {
  std::mt19937 rng(2024);
  for (int quality = 1; quality <= 5; ++quality) {
    SCOPED_TRACE(quality);
    const int bitRate = hcatest::QualityBitRate(2, 32728, quality);
    EncoderFixture encoder(2, 32728, bitRate);
    DecoderFixture decoder(2);
    size_t used = 0;
    ASSERT_EQ(HCA_OK, decoder->ReadHeader(encoder.Header().data(), encoder.Header().size(), &used));
    for (int n = 0; n < 12; ++n) {
      Planes in;
      switch (n % 4) {
        case 0:
          in = NoisePlanes(2, rng, 1.0f);
          break;
        case 1:
          in = SinePlanes(2, 440.0 * (n + 1), 32728, 0.999, 1024u * n);
          break;
        case 2:
          in = Planes(2, std::vector<float>(1024, 0.0f));
          break;
        default:  // full-scale square wave, beyond -1..1 on one side
          in = Planes(2, std::vector<float>(1024));
          for (size_t i = 0; i < 1024; ++i) in[0][i] = in[1][i] = ((i / 37) % 2) ? 1.5f : -1.0f;
      }
      std::vector<uint8_t> frame = encoder.Encode(in);
      ExpectWholeFrame(frame, static_cast<size_t>(encoder->FrameSize()));
      Planes out;
      int samples = 0;
      ASSERT_EQ(HCA_OK, decoder.Decode(frame, &out, &samples));
      EXPECT_EQ(1024, samples);
    }
    EXPECT_EQ(12u, encoder->FramesWritten());
  }
}

TEST(HcaEncoder, DropsTopBandsWhenEvenTheCoarsestAllocationDoesNotFit) {
  std::mt19937 rng(99);
  // 4380 bit/s mono at 32728 Hz: 17-byte frames hold loud noise only in the lowest bands.
  EncoderFixture encoder(1, 32728, 4380);
  ASSERT_EQ(HCA_OK, encoder.HeaderResult());
  ASSERT_EQ(17, encoder->FrameSize());
  DecoderFixture decoder(1);
  size_t used = 0;
  ASSERT_EQ(HCA_OK, decoder->ReadHeader(encoder.Header().data(), encoder.Header().size(), &used));
  const int coded = encoder->Params().baseBands;
  for (int n = 0; n < 4; ++n) {
    std::vector<uint8_t> frame = encoder.Encode(NoisePlanes(1, rng, 1.0f));
    ExpectWholeFrame(frame, 17);
    EXPECT_GT(encoder->LastDroppedBands(), 0);
    const std::vector<int> scales = FirstChannelScales(frame, coded);
    EXPECT_NE(0, scales[0]);
    EXPECT_EQ(0, scales[static_cast<size_t>(coded - 1)]);  // the top bands went
    Planes out;
    int samples = 0;
    EXPECT_EQ(HCA_OK, decoder.Decode(frame, &out, &samples));
  }
  // At the filter's rates nothing needs to go.
  EncoderFixture lowest(2, 32728, hcatest::QualityBitRate(2, 32728, 1));
  lowest.Encode(NoisePlanes(2, rng, 1.0f));
  EXPECT_EQ(0, lowest->LastDroppedBands());

  // A 10-byte mono frame has no room for two loud bands: error 4, while silence still fits.
  EncoderFixture tiny(1, 32728, 2560);
  ASSERT_EQ(HCA_OK, tiny.HeaderResult());
  ASSERT_EQ(10, tiny->FrameSize());
  int result = HCA_OK;
  tiny.Encode(NoisePlanes(1, rng, 1.0f), &result);
  EXPECT_EQ(HCA_ERROR_NO_ALLOCATION, result);
  tiny.Encode(Planes(1, std::vector<float>(1024, 0.0f)), &result);  // still the noise's tail
  std::vector<uint8_t> frame = tiny.Encode(Planes(1, std::vector<float>(1024, 0.0f)));
  ExpectWholeFrame(frame, 10);
}

TEST(HcaEncoder, SteadyToneCodesTheSameWhereverItsFrameStands) {
  // 1 kHz at 32000 Hz repeats every 32 samples, so every frame sees the same input.
  EncoderFixture encoder(2, 32000, hcatest::QualityBitRate(2, 32000, 2));
  std::vector<std::vector<uint8_t>> frames;
  for (int n = 0; n < 6; ++n) frames.push_back(encoder.Encode(SinePlanes(2, 1000.0, 32000, 1.0, 1024u * n)));
  for (int n = 2; n < 6; ++n) EXPECT_EQ(frames[1], frames[static_cast<size_t>(n)]) << n;

  // Full scale: the tone's band (about 8 of 128) gets a scale factor near the top of the table.
  const std::vector<int> scales =
      FirstChannelScales(frames[1], encoder->Params().baseBands + encoder->Params().stereoBands);
  EXPECT_GE(scales[8], 58);
  EXPECT_EQ(scales[8], *std::max_element(scales.begin(), scales.end()));
}

TEST(HcaEncoder, IntensityStereoKeepsTheSidesApart) {
  // MIDDLE: bands 64..127 travel as one intensity-coded channel.
  const int bitRate = hcatest::QualityBitRate(2, 32728, 3);
  EncoderFixture encoder(2, 32728, bitRate);
  DecoderFixture decoder(2);
  size_t used = 0;
  ASSERT_EQ(HCA_OK, decoder->ReadHeader(encoder.Header().data(), encoder.Header().size(), &used));
  // A 12 kHz tone on the left only (above the base bands) comes back on the left only.
  Planes out;
  int samples = 0;
  for (int n = 0; n < 3; ++n) {
    Planes in = SinePlanes(2, 12000.0, 32728, 0.5, 1024u * n);
    std::fill(in[1].begin(), in[1].end(), 0.0f);
    ASSERT_EQ(HCA_OK, decoder.Decode(encoder.Encode(in), &out, &samples));
  }
  double energyLeft = 0.0, energyRight = 0.0;
  for (size_t i = 0; i < 1024; ++i) {
    energyLeft += out[0][i] * out[0][i];
    energyRight += out[1][i] * out[1][i];
  }
  EXPECT_GT(energyLeft, 100.0);  // about 1024 * 0.125
  EXPECT_LT(energyRight, energyLeft * 1e-4);

  // The same signal on both sides (9 kHz: intensity-coded) comes back the
  // same on both sides (index 7: t = 2 - t = 1), so a mono fold keeps it.
  // Measured once the frame before it (whose scale factors still saw the
  // left-only tone in its first subframe, and which overlaps the first 128
  // samples) is also the same on both sides.
  for (int n = 0; n < 3; ++n)
    ASSERT_EQ(HCA_OK, decoder.Decode(encoder.Encode(SinePlanes(2, 9000.0, 32728, 0.5, 1024u * n)), &out, &samples));
  double fold = 0.0, difference = 0.0;
  for (size_t i = 0; i < 1024; ++i) {
    fold += (out[0][i] + out[1][i]) * (out[0][i] + out[1][i]);
    difference += (out[0][i] - out[1][i]) * (out[0][i] - out[1][i]);
  }
  EXPECT_GT(fold, 4 * 100.0);
  EXPECT_LT(difference, fold * 1e-5);
}

TEST(HcaEncoder, RefusesUseOutOfOrder) {
  std::vector<uint8_t> work(HcaEncoder::WorkSize(2));
  HcaEncoder* encoder = nullptr;
  EXPECT_EQ(HCA_ERROR_NOT_STARTED, HcaEncoder::Create(2, work.data(), work.size(), nullptr, &encoder));
  HcaEncoderStart();
  EXPECT_EQ(HCA_ERROR_NULL, HcaEncoder::Create(2, nullptr, work.size(), nullptr, &encoder));
  EXPECT_EQ(HCA_ERROR_ARGUMENT, HcaEncoder::Create(17, work.data(), work.size(), nullptr, &encoder));
  EXPECT_EQ(HCA_ERROR_BUFFER_SMALL, HcaEncoder::Create(2, work.data(), work.size() - 1, nullptr, &encoder));
  EXPECT_LE(HcaEncoder::WorkSize(2), hca::HcaFilter::ENCODER_WORK_SIZE);
  int owner = 0;
  ASSERT_EQ(HCA_OK, HcaEncoder::Create(2, work.data(), work.size(), &owner, &encoder));
  EXPECT_EQ(&owner, encoder->Owner());
  EXPECT_EQ(HCA_ERROR_ARGUMENT, encoder->SetChannels(3, 1, 0));
  EXPECT_EQ(HCA_ERROR_ARGUMENT, encoder->SetSamplingRate(0, 0));
  EXPECT_EQ(HCA_ERROR_ARGUMENT, encoder->SetBitRate(0));
  std::vector<float> plane(1024, 0.0f);
  const float* planes[2] = {plane.data(), plane.data()};
  std::vector<uint8_t> frame(4096);
  size_t written = 0;
  EXPECT_EQ(HCA_ERROR_NO_HEADER, encoder->PutSamples(planes));
  EXPECT_EQ(HCA_ERROR_NO_HEADER, encoder->GetFrame(frame.data(), frame.size(), &written));
  ASSERT_EQ(HCA_OK, encoder->SetSamplingRate(32728, 0));
  ASSERT_EQ(HCA_OK, encoder->SetBitRate(130912));
  ASSERT_EQ(HCA_OK, encoder->WriteHeader(frame.data(), frame.size(), &written));
  EXPECT_EQ(HCA_ERROR_ARGUMENT, encoder->GetFrame(frame.data(), frame.size(), &written));  // nothing put yet
  ASSERT_EQ(HCA_OK, encoder->PutSamples(planes));
  EXPECT_EQ(HCA_ERROR_BUFFER_SMALL, encoder->GetFrame(frame.data(), 511, &written));
  EXPECT_EQ(HCA_OK, encoder->GetFrame(frame.data(), 512, &written));
  EXPECT_EQ(512u, written);
  encoder->Destroy();
  HcaEncoderFinish();
}
