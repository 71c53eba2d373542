// CRC, bit stream, tables and transform of the HCA codec.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hca/BitStream.h"
#include "hca/HcaCrc.h"
#include "hca/HcaTables.h"
#include "hca/HcaTransform.h"
#include "runtime/CodecSimd.h"

using namespace hca;

TEST(HcaCrc, MatchesTheCheckValueAndVanishesOverAnAppendedCrc) {
  const char* text = "123456789";
  EXPECT_EQ(0xFEE8, Crc16(reinterpret_cast<const uint8_t*>(text), 9));  // CRC-16/UMTS check value
  EXPECT_EQ(0, Crc16(nullptr, 0));

  std::vector<uint8_t> block(300);
  std::mt19937 rng(7);
  for (auto& b : block) b = static_cast<uint8_t>(rng());
  uint16_t crc = Crc16(block.data(), block.size());
  block.push_back(static_cast<uint8_t>(crc >> 8));
  block.push_back(static_cast<uint8_t>(crc));
  EXPECT_EQ(0, Crc16(block.data(), block.size()));
  block[10] ^= 0x01;
  EXPECT_NE(0, Crc16(block.data(), block.size()));
}

TEST(HcaBitStream, ReadsBackWhatWasWrittenMostSignificantBitFirst) {
  uint8_t buffer[16] = {};
  BitWriter out(buffer, sizeof(buffer));
  out.Write(0xFFFF, 16);
  out.Write(0x1A5, 9);
  out.Write(0x7F, 7);
  out.Write(0, 3);
  out.Write(5, 3);
  out.Write(0x123456, 24);
  out.Write(1, 1);
  out.Flush();
  EXPECT_EQ(63u, out.BitsWritten());
  EXPECT_FALSE(out.Overflowed());
  EXPECT_EQ(0xFF, buffer[0]);
  EXPECT_EQ(0xFF, buffer[1]);
  EXPECT_EQ(0xD2, buffer[2]);  // 1101 0010|1 111 1111
  EXPECT_EQ(0xFF, buffer[3]);

  BitReader in(buffer, sizeof(buffer));
  EXPECT_EQ(0xFFFFu, in.Read(16));
  EXPECT_EQ(0x1A5u, in.Peek(9));
  EXPECT_EQ(0x1A5u, in.Read(9));
  EXPECT_EQ(0x7Fu, in.Read(7));
  EXPECT_EQ(0u, in.Read(3));
  EXPECT_EQ(5u, in.Read(3));
  EXPECT_EQ(0x123456u, in.Read(24));
  EXPECT_EQ(1u, in.Read(1));
  EXPECT_FALSE(in.Overrun());
}

TEST(HcaBitStream, StaysInsideItsBuffer) {
  uint8_t buffer[4] = {0, 0, 0, 0};
  uint8_t guard[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  BitWriter out(buffer, 2);
  out.Write(0xABC, 12);
  out.Write(0xFF, 8);  // does not fit: counted, not written
  out.Flush();
  EXPECT_TRUE(out.Overflowed());
  EXPECT_EQ(0, buffer[2]);
  EXPECT_EQ(0xAB, buffer[0]);
  EXPECT_EQ(0xC0, buffer[1]);
  EXPECT_EQ(0xAA, guard[0]);

  const uint8_t data[2] = {0x80, 0x01};
  BitReader in(data, 2);
  in.Skip(15);
  EXPECT_EQ(0x1u << 23, in.Peek(24));  // the last bit, then zeros
  EXPECT_EQ(1u, in.Read(1));
  EXPECT_FALSE(in.Overrun());
  EXPECT_EQ(0u, in.Read(24));
  EXPECT_TRUE(in.Overrun());
}

TEST(HcaTables, ScaleWindowAndCodes) {
  const HcaTables& t = Tables();
  EXPECT_NEAR(1.588383e-07, t.scale[0], 1e-12);
  EXPECT_NEAR(11.31371, t.scale[63], 1e-5);
  for (int i = 1; i < 64; ++i) EXPECT_GT(t.scale[i], t.scale[i - 1]);
  EXPECT_EQ(0, ScaleIndexFor(0.0f));
  EXPECT_EQ(63, ScaleIndexFor(100.0f));
  EXPECT_EQ(10, ScaleIndexFor(t.scale[9]));  // the first entry strictly above
  // As a search for the first entry above the value: at every entry and its
  // neighbours, and across the whole range of floats.
  auto search = [&t](float value) {
    int i = 0;
    while (i < 64 && !(t.scale[i] > value)) ++i;
    return i < 64 ? i : 63;
  };
  std::vector<float> values = {0.0f, -0.0f, -1.0f, 1e-30f, 1e30f, INFINITY, -INFINITY, NAN};
  for (int i = 0; i < 64; ++i)
    for (float v : {std::nextafter(t.scale[i], 0.0f), t.scale[i], std::nextafter(t.scale[i], INFINITY)})
      values.push_back(v);
  for (uint32_t bits = 0; bits < 0xFF800000u; bits += 4099u) {
    float v;
    std::memcpy(&v, &bits, sizeof(v));
    values.push_back(v);
  }
  for (float v : values) ASSERT_EQ(search(v), ScaleIndexFor(v)) << v;

  // Through the five values the format pins; symmetric, power-complementary
  // and rising.
  EXPECT_NEAR(0.00069053378, t.window[0], 1e-9);
  EXPECT_NEAR(0.0019762348, t.window[1], 1e-7);
  EXPECT_NEAR(0.0036738645, t.window[2], 1e-7);
  EXPECT_NEAR(0.71528041, t.window[64], 1e-7);
  EXPECT_NEAR(0.99999976, t.window[127], 1e-7);
  for (int n = 0; n < 128; ++n) {
    EXPECT_EQ(t.window[n], t.window[255 - n]);
    EXPECT_NEAR(1.0, t.window[n] * t.window[n] + t.window[n + 128] * t.window[n + 128], 1e-6);
    if (n > 0) {
      EXPECT_GT(t.window[n], t.window[n - 1]) << n;
    }
  }

  // Every prefix code decodes to its own value with its own length, whatever follows.
  for (int r = 1; r <= 7; ++r) {
    int half = HCA_LEVELS[r] / 2;
    for (int v = -half; v <= half; ++v) {
      const HcaCode& code = HCA_CODES[r][v + half];
      int shift = HCA_PEEK_BITS[r] - code.length;
      for (int tail = 0; tail < (1 << shift); ++tail) {
        const HcaCodeEntry& e = t.decode[r][(code.bits << shift) | tail];
        EXPECT_EQ(v, e.value) << "resolution " << r;
        EXPECT_EQ(code.length, e.length) << "resolution " << r;
      }
    }
  }
  EXPECT_EQ(15, ResolutionFor(0, 100, 15));
  EXPECT_EQ(1, ResolutionFor(200, 2, 15));
  EXPECT_EQ(7, ResolutionFor(49 - 9 + 10, 10, 15));
  EXPECT_EQ(12, ResolutionFor(0, 0, 12));
}

TEST(HcaTables, PrefixCodesAndTheResolutionTableAreTheFormats) {
  // The format's codes, from the most negative value to the most positive.
  const char* const codes[8] = {
      "",
      "11 0 10",
      "111 10 00 01 110",
      "111 101 011 00 010 100 110",
      "1111 110 100 010 000 001 011 101 1110",
      "1111 1101 1011 100 010 000 001 011 1010 1100 1110",
      "1111 1101 1011 1001 0111 010 000 001 0110 1000 1010 1100 1110",
      "1111 1101 1011 1001 0111 0101 0011 000 0010 0100 0110 1000 1010 1100 1110",
  };
  for (int r = 1; r <= 7; ++r) {
    std::string expected;
    const int levels = HCA_LEVELS[r];
    for (int i = 0; i < levels; ++i) {
      const HcaCode& code = HCA_CODES[r][i];
      if (i > 0) expected += ' ';
      for (int b = code.length - 1; b >= 0; --b) expected += (code.bits >> b) & 1 ? '1' : '0';
    }
    EXPECT_EQ(codes[r], expected) << "resolution " << r;
  }

  const int resolution[72] = {15, 15, 15, 15, 15, 15, 14, 14, 14, 14, 14, 14, 13, 13, 13, 13, 13, 13,
                              12, 12, 12, 12, 12, 12, 11, 11, 11, 11, 11, 11, 10, 10, 10, 10, 10, 10,
                              10, 9,  9,  9,  9,  9,  9,  8,  8,  8,  8,  8,  8,  7,  6,  6,  5,  4,
                              4,  4,  3,  3,  3,  2,  2,  2,  2,  1,  1,  1,  1,  1,  1,  1,  1,  1};
  for (int d = 0; d < 72; ++d) EXPECT_EQ(resolution[d], HCA_RESOLUTION_TABLE[d]) << d;
  const int levels[16] = {1, 3, 5, 7, 9, 11, 13, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095};
  const int magnitudeBits[16] = {0, 0, 0, 0, 0, 0, 0, 0, 4, 5, 6, 7, 8, 9, 10, 11};
  for (int r = 0; r < 16; ++r) {
    EXPECT_EQ(levels[r], HCA_LEVELS[r]) << r;
    EXPECT_EQ(magnitudeBits[r], HCA_MAGNITUDE_BITS[r]) << r;
  }
  // The resolution by distance, as the allocation search looks it up.
  const HcaTables& t = Tables();
  for (int z = -1; z <= 511; ++z)
    for (int scale = 0; scale < 64; ++scale)
      ASSERT_EQ(ResolutionFor(z, BandLevel(scale), 15),
                t.resolutionAt[z - BandLevel(scale) + 9 + HcaTables::DISTANCE_OFFSET])
          << z << ", " << scale;
}

// The encoder counts a value's bits without quantising it: valueBits, plus
// one from wideFrom on, and that extra bit read off the quantiser's input u
// against wideBelow and wideAbove. Both agree with the codes and with the
// quantiser (level = N - 1 - trunc(u limited to 0..N - 1)) for every u
// around every step, at every resolution.
TEST(HcaTables, ValueBitsWithoutQuantisingAreTheCodesLengths) {
  const HcaTables& t = Tables();
  for (int r = 1; r < 16; ++r) {
    const int half = HCA_LEVELS[r] / 2;
    for (int v = -half; v <= half; ++v) {
      const int length = r <= 7 ? HCA_CODES[r][v + half].length : HCA_MAGNITUDE_BITS[r] + (v != 0 ? 1 : 0);
      const int magnitude = v < 0 ? -v : v;
      ASSERT_EQ(length, t.valueBits[r] + (magnitude >= t.wideFrom[r] ? 1 : 0)) << r << ", " << v;
      // And the codes' rule (magnitudes: 2|v| + sign, which is magnitude then sign bit).
      const int bits = r <= 7 ? HCA_CODES[r][v + half].bits : (v == 0 ? 0 : 2 * magnitude + (v < 0 ? 1 : 0));
      const int rule =
          v == 0 ? 0 : 2 * magnitude + (v < 0 ? 1 : 0) + (magnitude >= t.wideFrom[r] ? t.codeFrom[r] : t.codeBelow[r]);
      ASSERT_EQ(bits, rule) << r << ", " << v;
    }
    ASSERT_EQ(8 * t.valueBits[r], t.valueBits8[r]);
    const auto top = static_cast<float>(2 * half);
    for (int k = -2; k <= 2 * half + 2; ++k) {
      const float steps[] = {std::nextafter(static_cast<float>(k), -INFINITY), static_cast<float>(k),
                             std::nextafter(static_cast<float>(k), INFINITY), static_cast<float>(k) + 0.5f};
      for (float u : steps) {
        const float limited = u > 0.0f ? (u < top ? u : top) : 0.0f;
        const int level = 2 * half - static_cast<int>(limited);
        const int value = level - half;
        const bool wide = (value < 0 ? -value : value) >= t.wideFrom[r];
        ASSERT_EQ(wide, u < t.wideBelow[r] || u >= t.wideAbove[r]) << r << ", u " << u;
      }
    }
  }
  EXPECT_EQ(0, t.valueBits8[0]);
}

TEST(HcaTransform, FastDctMatchesTheSumAndInvertsItself) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  float in[128];
  for (float& v : in) v = uniform(rng);
  float out[128];
  Dct4(in, out);
  for (int k = 0; k < 128; ++k) {
    double sum = 0.0;
    for (int n = 0; n < 128; ++n) sum += in[n] * std::cos(3.14159265358979323846 / 128 * (n + 0.5) * (k + 0.5));
    EXPECT_NEAR(sum / 8.0, out[k], 1e-5) << k;
  }
  float back[128];
  Dct4(out, back);
  for (int n = 0; n < 128; ++n) EXPECT_NEAR(in[n], back[n], 1e-5);
}

TEST(HcaTransform, AnalysisGivesTheNegatedTransformOfTheFoldedBlock) {
  // The stream's sign: X[k] = -1/8 sum u[n] cos(pi / 128 (n + 1/2)(k + 1/2)),
  // u being the windowed block folded.
  std::mt19937 rng(13);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  float history[128];
  float samples[128];
  for (float& v : history) v = uniform(rng);
  for (float& v : samples) v = uniform(rng);
  const float* w = Tables().window;
  double y[256];
  for (int n = 0; n < 128; ++n) {
    y[n] = static_cast<double>(w[n]) * history[n];
    y[128 + n] = static_cast<double>(w[128 + n]) * samples[n];
  }
  double u[128];
  for (int n = 0; n < 64; ++n) u[n] = -y[191 - n] - y[192 + n];
  for (int n = 64; n < 128; ++n) u[n] = y[n - 64] - y[191 - n];
  float coefficients[128];
  float saved[128];
  std::memcpy(saved, samples, sizeof(saved));
  AnalyseSubframe(history, samples, coefficients);
  for (int k = 0; k < 128; ++k) {
    double sum = 0.0;
    for (int n = 0; n < 128; ++n) sum += u[n] * std::cos(3.14159265358979323846 / 128 * (n + 0.5) * (k + 0.5));
    EXPECT_NEAR(-sum / 8.0, coefficients[k], 1e-5) << k;
  }
  EXPECT_EQ(0, std::memcmp(history, saved, sizeof(saved)));
}

TEST(HcaTransform, AnalysisThenSynthesisGivesTheInput128SamplesLater) {
  std::mt19937 rng(12);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  const int subframes = 24;
  std::vector<float> input(128 * subframes);
  for (float& v : input) v = uniform(rng);
  std::vector<float> output(input.size());
  float history[128] = {};
  float overlap[128] = {};
  for (int s = 0; s < subframes; ++s) {
    float coef[128];
    AnalyseSubframe(history, &input[128 * s], coef);
    SynthesiseSubframe(coef, overlap, &output[128 * s]);
  }
  for (int i = 0; i < 128; ++i) EXPECT_NEAR(0.0f, output[i], 1e-6);
  double worst = 0.0;
  for (size_t i = 128; i < output.size(); ++i) worst = std::max(worst, std::fabs(output[i] - input[i - 128]) + 0.0);
  EXPECT_LT(worst, 2e-6);
}

// A frame's analysis and the synthesis of several blocks give exactly what
// the one-subframe forms give, in the SSE2 form (blocks side by side) and in
// the scalar form.
TEST(HcaTransform, FrameAndChannelFormsAreTheOneSubframeFormsBitForBit) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  for (bool vector : {true, false}) {
    codec_simd::SetVectorPath(vector);
    std::vector<float> input(3 * 1024);
    for (float& v : input) v = uniform(rng);
    float history[128] = {};
    float oneHistory[128] = {};
    for (int frame = 0; frame < 3; ++frame) {
      float coefficients[8][128];
      AnalyseFrame(history, &input[1024 * frame], coefficients);
      for (int s = 0; s < 8; ++s) {
        float one[128];
        AnalyseSubframe(oneHistory, &input[1024 * frame + 128 * s], one);
        ASSERT_EQ(0, std::memcmp(one, coefficients[s], sizeof(one))) << vector << ", frame " << frame << ", " << s;
      }
    }
    // Two subframes of each of 1 to 5 channels in one call, the second
    // overlapping what the first leaves and leaving its overlap aside.
    for (int channels = 1; channels <= 5; ++channels) {
      std::vector<std::vector<float>> coef(2 * channels, std::vector<float>(128));
      std::vector<std::vector<float>> overlap(channels, std::vector<float>(128, 0.0f));
      std::vector<std::vector<float>> oneOverlap = overlap;
      std::vector<std::vector<float>> aside(channels, std::vector<float>(128));
      std::vector<std::vector<float>> samples(2 * channels, std::vector<float>(128));
      for (int s = 0; s < 3; ++s) {
        const float* c[10];
        const float* in[10];
        float* next[10];
        float* out[10];
        for (int b = 0; b < 2 * channels; ++b) {
          const int k = b % channels;
          for (float& v : coef[b]) v = 4.0f * uniform(rng);
          c[b] = coef[b].data();
          in[b] = overlap[k].data();
          next[b] = b < channels ? overlap[k].data() : aside[k].data();
          out[b] = samples[b].data();
        }
        SynthesiseSubframes(2 * channels, c, in, next, out);
        for (int k = 0; k < channels; ++k) {
          float one[128];
          SynthesiseSubframe(coef[k].data(), oneOverlap[k].data(), one);
          ASSERT_EQ(0, std::memcmp(one, samples[k].data(), sizeof(one))) << vector << ", " << channels << ", " << k;
          ASSERT_EQ(oneOverlap[k], overlap[k]);
          std::vector<float> later = oneOverlap[k];
          SynthesiseSubframe(coef[channels + k].data(), later.data(), one);
          ASSERT_EQ(0, std::memcmp(one, samples[channels + k].data(), sizeof(one))) << vector << ", " << channels;
          ASSERT_EQ(later, aside[k]);
        }
      }
    }
  }
  codec_simd::SetVectorPath(true);
}
