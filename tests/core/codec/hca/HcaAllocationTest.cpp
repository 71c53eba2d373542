// The HCA encoder's bit allocation on channels built here, against a count of
// its own: every value quantised and looked up in the format's code tables,
// every channel's scale factors priced as the frame writer writes them, and
// resolutions from the format's resolution rule. The allocation must pick
// the lowest noise level whose frame fits with boundary 0 and the highest
// boundary that still fits, and drop the top bands only while nothing fits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "HcaTestCodec.h"
#include "hca/HcaAllocation.h"
#include "hca/HcaEncoder.h"
#include "hca/HcaEncoderChannel.h"
#include "hca/HcaTables.h"

using namespace hca;

namespace {

// Bits of one normalised value at resolution r: quantised as the encoder
// quantises, then its code's length in the format's tables (resolutions
// 1..7), or its magnitude bits and a sign bit for a value other than 0.
int ValueBits(float x, int r) {
  const HcaTables& t = Tables();
  const int levels = HCA_LEVELS[r];
  const auto top = static_cast<float>(levels - 1);
  float u = (1.0f - x) * t.inverseStep[r];
  u = std::min(std::max(u, 0.0f), top);
  const int q = (levels - 1 - static_cast<int>(u)) - levels / 2;
  if (r <= 7) return HCA_CODES[r][q + levels / 2].length;
  return HCA_MAGNITUDE_BITS[r] + (q != 0 ? 1 : 0);
}

// The scale factors as the frame writer would write them at width w (0: all
// zero, 6: each whole, 1..5: differences with an escape), the cheapest width.
int ScaleFactorBits(const HcaEncoderChannel& c) {
  const int n = c.codedBands;
  if (std::all_of(c.scale, c.scale + n, [](uint8_t s) { return s == 0; })) return 3;
  int best = 3 + 6 * n;
  for (int w = 1; w <= 5; ++w) {
    int bits = 3 + 6;
    const int t = (1 << (w - 1)) - 1;
    for (int j = 1; j < n; ++j) {
      const int d = c.scale[j] - c.scale[j - 1];
      bits += d >= -t && d <= t ? w : w + 6;
    }
    best = std::min(best, bits);
  }
  return best;
}

// The frame's bits at noise level z and boundary b (bands below b at z - 1).
int FrameBits(const HcaStreamParams& p, const std::vector<HcaEncoderChannel>& channels, int z, int b) {
  int bits = 16 + 9 + 7 + 16;  // sync, noise level, boundary, CRC
  for (const HcaEncoderChannel& c : channels) {
    bits += ScaleFactorBits(c) + (c.type == HCA_CHANNEL_SECONDARY ? 8 * 4 : 6 * p.hfrGroups);
    for (int j = 0; j < c.codedBands; ++j) {
      if (c.scale[j] == 0) continue;
      const int r = ResolutionFor(j < b ? z - 1 : z, BandLevel(c.scale[j]), p.maxResolution);
      for (int s = 0; s < HCA_SUBFRAMES; ++s) bits += ValueBits(c.norm[j][s], r);
    }
  }
  return bits;
}

// A stereo pair as the encoder has it before the allocation: seeded scale
// factors (`from` to 63, one band in ten without one) and values in -1..1.
std::vector<HcaEncoderChannel> Channels(const HcaStreamParams& p, uint32_t seed, int from) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> scale(from, 63);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  std::vector<HcaEncoderChannel> channels(static_cast<size_t>(p.channels));
  uint8_t types[HCA_MAX_CHANNELS];
  AssignChannelTypes(p, types);
  for (int ci = 0; ci < p.channels; ++ci) {
    HcaEncoderChannel& c = channels[static_cast<size_t>(ci)];
    c = HcaEncoderChannel{};
    c.type = types[ci];
    c.codedBands = CodedBandCount(p, types[ci]);
    for (int j = 0; j < c.codedBands; ++j) {
      c.scale[j] = static_cast<uint8_t>(rng() % 10 == 0 ? 0 : scale(rng));
      for (float& x : c.norm[j]) x = value(rng);
    }
  }
  return channels;
}

// Clears the highest band that has a scale factor in any channel, and the
// one below it, in every channel.
void DropTopBands(std::vector<HcaEncoderChannel>* channels) {
  int top = -1;
  for (const HcaEncoderChannel& c : *channels)
    for (int j = 0; j < HCA_BANDS; ++j)
      if (c.scale[j] != 0) top = std::max(top, j);
  for (HcaEncoderChannel& c : *channels)
    for (int j = std::max(top - 1, 0); j <= top; ++j) c.scale[j] = 0;
}

}  // namespace

TEST(HcaAllocation, FillsTheFrameAsFarAsItCanAtEveryQuality) {
  struct Case {
    int bitRate;
    int lowestScale;
  } cases[] = {{hcatest::QualityBitRate(2, 32728, 5), 1},
               {hcatest::QualityBitRate(2, 32728, 4), 1},
               {hcatest::QualityBitRate(2, 32728, 3), 1},
               {hcatest::QualityBitRate(2, 32728, 2), 1},
               {hcatest::QualityBitRate(2, 32728, 1), 1},
               {hcatest::QualityBitRate(2, 32728, 1), 40},
               {16000, 1}};  // frames of 62 bytes: too small for every band even at the coarsest
  bool droppedSomewhere = false;
  for (const Case& k : cases) {
    for (uint32_t seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(std::to_string(k.bitRate) + " bit/s, scales from " + std::to_string(k.lowestScale) + ", seed " +
                   std::to_string(seed));
      HcaStreamParams p;
      ASSERT_EQ(HCA_OK, ComputeEncoderParams(2, 32728, 16364, k.bitRate, 1, 0, &p, nullptr));
      std::vector<HcaEncoderChannel> channels = Channels(p, seed, k.lowestScale);
      const std::vector<HcaEncoderChannel> before = channels;
      HcaAllocation allocation;
      ASSERT_EQ(HCA_OK, allocation.Run(p, Tables(), channels.data()));
      const int limit = p.frameSize * 8;
      const int z = allocation.NoiseLevel();
      const int b = allocation.Boundary();

      // Dropped bands: the top two at a time, only while nothing fitted.
      const int dropped = allocation.DroppedBands();
      ASSERT_EQ(0, dropped % 2);
      std::vector<HcaEncoderChannel> expected = before;
      std::vector<HcaEncoderChannel> previous = before;  // without the last two dropped
      for (int round = 0; round < dropped / 2; ++round) {
        previous = expected;
        DropTopBands(&expected);
      }
      for (size_t ci = 0; ci < channels.size(); ++ci)
        for (int j = 0; j < HCA_BANDS; ++j)
          ASSERT_EQ(expected[ci].scale[j], channels[ci].scale[j]) << ci << ", band " << j;
      if (dropped > 0) {
        EXPECT_GT(FrameBits(p, previous, HCA_MAX_NOISE_LEVEL, 0), limit);
      }
      droppedSomewhere = droppedSomewhere || dropped > 0;

      // The lowest noise level that fits with boundary 0, then the highest boundary.
      EXPECT_LE(FrameBits(p, channels, z, 0), limit);
      if (z > 0) {
        EXPECT_GT(FrameBits(p, channels, z - 1, 0), limit);
      }
      EXPECT_LE(FrameBits(p, channels, z, b), limit);
      if (b < HCA_MAX_BOUNDARY) {
        EXPECT_GT(FrameBits(p, channels, z, b + 1), limit);
      }
      EXPECT_EQ(FrameBits(p, channels, z, b), allocation.CountBits(z, b));

      // Every band's resolution follows from its scale factor and its level.
      for (size_t ci = 0; ci < channels.size(); ++ci) {
        const HcaEncoderChannel& c = channels[ci];
        for (int j = 0; j < HCA_BANDS; ++j) {
          const int expected =
              j < c.codedBands && c.scale[j] != 0 ? ResolutionFor(j < b ? z - 1 : z, BandLevel(c.scale[j]), 15) : 0;
          ASSERT_EQ(expected, c.resolution[j]) << ci << ", band " << j;
        }
      }
    }
  }
  EXPECT_TRUE(droppedSomewhere) << "no case made the allocation drop bands";
}
