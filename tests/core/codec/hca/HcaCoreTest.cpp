// CRC, bit stream, tables and transform of the HCA codec.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "hca/BitStream.h"
#include "hca/HcaCrc.h"
#include "hca/HcaTables.h"
#include "hca/HcaTransform.h"

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

  // Symmetric and power-complementary, rising from about 0.0007 to 1.
  EXPECT_NEAR(0.00069053378, t.window[0], 1e-9);
  EXPECT_NEAR(0.99999976, t.window[127], 1e-7);
  EXPECT_NEAR(0.7153, t.window[64], 1e-3);
  for (int n = 0; n < 128; ++n) {
    EXPECT_EQ(t.window[n], t.window[255 - n]);
    EXPECT_NEAR(1.0, t.window[n] * t.window[n] + t.window[n + 128] * t.window[n + 128], 1e-6);
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
