// The ADX encoder and stream decoder: coefficients, header, block coding and
// the decoder's handling of partial, foreign and broken streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CodecTestUtil.h"
#include "HookCapture.h"
#include "adx/AdxBlock.h"
#include "adx/AdxDecoder.h"
#include "adx/AdxEncoder.h"
#include "adx/AdxFormat.h"
#include "runtime/CodecSimd.h"
#include "runtime/Sjrbf.h"

namespace {

constexpr int32_t RING = 4096;

// Rings of 4096 + 4096 bytes over owned work areas, with the services started.
class Rings {
 public:
  explicit Rings(int count) : m_work(static_cast<size_t>(count), std::vector<uint8_t>(2 * RING)) {
    SJRBF_Init();
    AdxEncoder_Init();
    AdxDecoder_Init();
    for (auto& work : m_work) m_rings.push_back(SJRBF_Create(work.data(), RING, RING));
  }
  ~Rings() {
    for (SjHandle ring : m_rings) SJ_Destroy(ring);
    AdxDecoder_Finish();
    AdxEncoder_Finish();
    SJRBF_Finish();
  }
  Rings(const Rings&) = delete;
  Rings& operator=(const Rings&) = delete;

  SjHandle operator[](size_t i) const { return m_rings[i]; }
  const SjHandle* From(size_t i) const { return &m_rings[i]; }

 private:
  std::vector<std::vector<uint8_t>> m_work;
  std::vector<SjHandle> m_rings;
};

// Writes bytes into a ring's data lane; returns how many fitted.
size_t Put(SjHandle ring, const void* bytes, size_t size) {
  const auto* from = static_cast<const uint8_t*>(bytes);
  size_t done = 0;
  while (done < size) {
    SjChunk chunk;
    SJ_TakeChunk(ring, SJ_LIN_FREE, static_cast<int32_t>(size - done), &chunk);
    if (chunk.len <= 0) break;
    std::memcpy(chunk.data, from + done, static_cast<size_t>(chunk.len));
    SJ_AddChunk(ring, SJ_LIN_DATA, &chunk);
    done += static_cast<size_t>(chunk.len);
  }
  return done;
}

// Takes everything from a ring's data lane.
std::vector<uint8_t> TakeAll(SjHandle ring) {
  std::vector<uint8_t> bytes;
  for (;;) {
    SjChunk chunk;
    SJ_TakeChunk(ring, SJ_LIN_DATA, RING, &chunk);
    if (chunk.len <= 0) break;
    bytes.insert(bytes.end(), chunk.data, chunk.data + chunk.len);
    SJ_AddChunk(ring, SJ_LIN_FREE, &chunk);
  }
  return bytes;
}

std::vector<int16_t> TakeSamples(SjHandle ring) {
  const std::vector<uint8_t> bytes = TakeAll(ring);
  std::vector<int16_t> samples(bytes.size() / 2);
  if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

// The stream an encoder writes for one or two channels of samples.
std::vector<uint8_t> EncodeStream(int channels, const std::vector<std::vector<int16_t>>& input, int32_t rate,
                                  int32_t total = ADX_TOTAL_UNLIMITED) {
  Rings rings(channels + 1);
  AdxEncoder* encoder = AdxEncoder_Create(channels, rings.From(0), rings[static_cast<size_t>(channels)]);
  EXPECT_NE(encoder, nullptr);
  encoder->SetSamplingRate(rate);
  encoder->SetTotalSamples(total);
  encoder->Start();
  std::vector<uint8_t> stream;
  std::vector<size_t> fed(static_cast<size_t>(channels), 0);
  for (bool more = true; more;) {
    more = false;
    for (int c = 0; c < channels; ++c) {
      const auto& samples = input[static_cast<size_t>(c)];
      const size_t n = std::min<size_t>(samples.size() - fed[static_cast<size_t>(c)], 500);
      fed[static_cast<size_t>(c)] +=
          Put(rings[static_cast<size_t>(c)], samples.data() + fed[static_cast<size_t>(c)], n * 2) / 2;
      more = more || fed[static_cast<size_t>(c)] < samples.size();
    }
    encoder->RunOnce();
    const std::vector<uint8_t> out = TakeAll(rings[static_cast<size_t>(channels)]);
    stream.insert(stream.end(), out.begin(), out.end());
  }
  encoder->RunOnce();
  const std::vector<uint8_t> out = TakeAll(rings[static_cast<size_t>(channels)]);
  stream.insert(stream.end(), out.begin(), out.end());
  AdxEncoder_Destroy(encoder);
  return stream;
}

// A decoder over a stream ring and `channels` output rings.
class DecoderRig {
 public:
  explicit DecoderRig(int channels) : m_channels(channels), m_rings(channels + 1) {
    m_decoder = AdxDecoder_Create(m_rings[0], channels, m_rings.From(1));
    EXPECT_NE(m_decoder, nullptr);
    m_decoder->Start();
  }
  ~DecoderRig() { AdxDecoder_Destroy(m_decoder); }
  DecoderRig(const DecoderRig&) = delete;
  DecoderRig& operator=(const DecoderRig&) = delete;

  AdxDecoder* operator->() { return m_decoder; }
  SjHandle Stream() const { return m_rings[0]; }

  // Feeds the whole stream in pieces, decoding and draining as it goes.
  std::vector<std::vector<int16_t>> Decode(const std::vector<uint8_t>& stream, size_t piece = 1000) {
    std::vector<std::vector<int16_t>> out(static_cast<size_t>(m_channels));
    size_t fed = 0;
    for (int rounds = 0; rounds < 100000; ++rounds) {
      fed += Put(m_rings[0], stream.data() + fed, std::min(piece, stream.size() - fed));
      m_decoder->RunOnce();
      for (int c = 0; c < m_channels; ++c) {
        const std::vector<int16_t> s = TakeSamples(m_rings[static_cast<size_t>(c) + 1]);
        out[static_cast<size_t>(c)].insert(out[static_cast<size_t>(c)].end(), s.begin(), s.end());
      }
      if (fed == stream.size() && SJ_CountBytes(m_rings[0], SJ_LIN_DATA) == 0) break;
      if (m_decoder->GetState() == AdxDecoder::ENDED || m_decoder->GetState() == AdxDecoder::FAILED) break;
    }
    return out;
  }

 private:
  int m_channels;
  Rings m_rings;
  AdxDecoder* m_decoder = nullptr;
};

// The reconstruction of a channel by the block coder alone, from the
// coefficients at `rate` and a history starting at the first sample.
std::vector<int16_t> Reconstruct(const std::vector<int16_t>& samples, int32_t rate) {
  int32_t c1 = 0;
  int32_t c2 = 0;
  AdxCalcCoefficients(ADX_CUTOFF_HZ, static_cast<uint32_t>(rate), &c1, &c2);
  AdxPredictor predictor{static_cast<int16_t>(c1), static_cast<int16_t>(c2), samples[0], samples[0]};
  AdxChannelState state{};
  state.c1 = predictor.c1;
  state.c2 = predictor.c2;
  state.predictor = &predictor;
  std::vector<int16_t> recon;
  for (size_t at = 0; at < samples.size(); at += ADX_BLOCK_SAMPLES) {
    int16_t in[ADX_BLOCK_SAMPLES] = {};
    std::memcpy(in, samples.data() + at, std::min<size_t>(ADX_BLOCK_SAMPLES, samples.size() - at) * 2);
    int16_t block[ADX_BLOCK_SAMPLES];
    uint8_t bytes[ADX_BLOCK_BYTES];
    AdxEncodeBlock(&state, in, bytes, block);
    recon.insert(recon.end(), block, block + ADX_BLOCK_SAMPLES);
  }
  return recon;
}

std::vector<int16_t> Channel(const std::vector<int16_t>& interleaved, int channels, int c) {
  std::vector<int16_t> out;
  for (size_t i = static_cast<size_t>(c); i < interleaved.size(); i += static_cast<size_t>(channels)) {
    out.push_back(interleaved[i]);
  }
  return out;
}

struct CoefficientCase {
  uint32_t rate;
  int32_t c1;
  int32_t c2;
};

class AdxCoefficientTest : public ::testing::TestWithParam<CoefficientCase> {};

TEST_P(AdxCoefficientTest, MatchTheFormat) {
  int32_t c1 = 0;
  int32_t c2 = 0;
  ASSERT_TRUE(AdxCalcCoefficients(500, GetParam().rate, &c1, &c2));
  EXPECT_EQ(c1, GetParam().c1);
  EXPECT_EQ(c2, GetParam().c2);
}

INSTANTIATE_TEST_SUITE_P(Rates, AdxCoefficientTest,
                         ::testing::Values(CoefficientCase{32728, 7058, -3040}, CoefficientCase{44100, 7334, -3283},
                                           CoefficientCase{48000, 7400, -3342}));

TEST(AdxFormatTest, UnusableRatesGiveNoCoefficientsAndTheOffsetRuleHolds) {
  int32_t c1 = 1;
  int32_t c2 = 1;
  EXPECT_FALSE(AdxCalcCoefficients(500, 0, &c1, &c2));
  EXPECT_EQ(c1, 0);
  EXPECT_EQ(c2, 0);
  EXPECT_TRUE(AdxCalcCoefficients(500, 0xFFFFFFFFu, &c1, &c2));
  EXPECT_TRUE(AdxCalcCoefficients(65535, 1, &c1, &c2));
  EXPECT_TRUE(c1 >= -8192 && c1 <= 8192 && c2 >= -4096 && c2 <= 4096);

  EXPECT_EQ(AdxMinimumDataOffset(1, false), 36);
  EXPECT_EQ(AdxMinimumDataOffset(2, false), 36);
  EXPECT_EQ(AdxMinimumDataOffset(3, false), 40);
  EXPECT_EQ(AdxMinimumDataOffset(2, true), 60);
}

TEST(AdxEncoderTest, WritesTheFortyByteHeader) {
  std::vector<int16_t> left(64, 0x1234);
  std::vector<int16_t> right(64, -2);
  const std::vector<uint8_t> stream = EncodeStream(2, {left, right}, 32728);
  const std::vector<uint8_t> expected = {0x80, 0x00, 0x00, 0x24, 0x03, 0x12, 0x04, 0x02, 0x00, 0x00,
                                         0x7F, 0xD8, 0x7F, 0xFF, 0xFF, 0xFF, 0x01, 0xF4, 0x04, 0x00,
                                         0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x12, 0x34, 0xFF, 0xFE,
                                         0xFF, 0xFE, 0x00, 0x00, 'Q',  'U',  'I',  'L',  'L',  'X'};
  ASSERT_EQ(stream.size(), 40u + 2 * 2 * ADX_BLOCK_BYTES);
  EXPECT_EQ(std::vector<uint8_t>(stream.begin(), stream.begin() + 40), expected);
  // A constant signal equal to the history is predicted almost exactly.
  EXPECT_EQ(stream[40] & 0x80, 0);
}

TEST(AdxEncoderTest, MonoStreamsHaveOneChannelAndEighteenByteGroups) {
  const std::vector<int16_t> pcm = Channel(TestSignal(320, 1), 1, 0);
  const std::vector<uint8_t> stream = EncodeStream(1, {pcm}, 44100);
  ASSERT_EQ(stream.size(), 40u + 10 * ADX_BLOCK_BYTES);
  EXPECT_EQ(stream[0x07], 1);
  EXPECT_EQ(AdxGetBe32(&stream[0x08]), 44100u);
  EXPECT_EQ(AdxGetBe16(&stream[0x18]), static_cast<uint16_t>(pcm[0]));
  EXPECT_EQ(AdxGetBe32(&stream[0x1C]), 0u);  // no second channel's history

  DecoderRig decoder(1);
  const auto out = decoder.Decode(stream);
  EXPECT_EQ(out[0], Reconstruct(pcm, 44100));
  EXPECT_EQ(decoder->GetFormat().channels, 1);
  EXPECT_EQ(decoder->GetFormat().c1, 7334);
}

int32_t Clamp16(int32_t v) {
  return std::min(32767, std::max(-32768, v));
}

// The block coder written plainly from its definition: open-loop residuals,
// scale and gain, then the closed loop with the double gain.
void ReferenceEncode(const int16_t* in, AdxPredictor* p, uint8_t* block, int16_t* recon) {
  int32_t s1 = p->s1;
  int32_t s2 = p->s2;
  int32_t m = 0;
  for (int i = 0; i < 32; ++i) {
    const int32_t r = Clamp16(in[i] - ((p->c2 * s2) >> 12) - ((p->c1 * s1) >> 12));
    m = std::max(m, std::abs(r));
    s2 = s1;
    s1 = in[i];
  }
  const int32_t scale = std::min(4096, std::max(1, (m - 1) / 7 + 1));
  const double gain = m != 0 ? 32767.0 / m : 32767.0;
  s1 = p->s1;
  s2 = p->s2;
  int32_t nibble[32];
  for (int i = 0; i < 32; ++i) {
    const int32_t r = Clamp16(in[i] - ((p->c2 * s2) >> 12) - ((p->c1 * s1) >> 12));
    const int32_t v = Clamp16(static_cast<int32_t>(r * gain));
    const int32_t d = std::min(7, std::max(-8, v >= 0 ? (v + 2340) / 4681 : (v - 2340) / 4681));
    nibble[i] = d;
    const int32_t y = Clamp16(Clamp16(d * scale) + ((p->c1 * s1 + p->c2 * s2) >> 12));
    recon[i] = static_cast<int16_t>(y);
    s2 = s1;
    s1 = y;
  }
  p->s1 = static_cast<int16_t>(s1);
  p->s2 = static_cast<int16_t>(s2);
  bool zero = true;
  for (int i = 0; i < 16; ++i) {
    block[2 + i] = static_cast<uint8_t>(((nibble[2 * i] & 15) << 4) | (nibble[2 * i + 1] & 15));
    zero = zero && block[2 + i] == 0;
  }
  AdxPutBe16(block, zero ? 0u : static_cast<uint32_t>(scale - 1));
}

TEST(AdxBlockTest, NibbleThresholdsMatchTheRuleForEveryResidual) {
  std::vector<int32_t> ranges = {0, 1, 2, 3, 6, 7, 8, 13, 100, 4680, 4681, 4682, 9999, 30000, 32766, 32767, 32768};
  uint32_t seed = 5;
  for (int i = 0; i < 40; ++i) {
    seed = seed * 1664525u + 1013904223u;
    ranges.push_back(static_cast<int32_t>(seed >> 17));  // 0..32767
  }
  std::vector<int8_t> table(65536);
  for (int32_t m : ranges) {
    AdxNibbleTable(m, table.data());
    const double gain = m != 0 ? 32767.0 / m : 32767.0;
    for (int32_t r = -32768; r <= 32767; ++r) {
      const int32_t v = Clamp16(static_cast<int32_t>(r * gain));
      const int32_t d = std::min(7, std::max(-8, v >= 0 ? (v + 2340) / 4681 : (v - 2340) / 4681));
      ASSERT_EQ(table[static_cast<size_t>(r + 32768)], d) << "max residual " << m << ", residual " << r;
    }
  }
}

// In the SSE2 form (where built) and in the scalar form.
TEST(AdxBlockTest, CoderAgreesWithItsPlainDefinition) {
  for (bool vector : {true, false}) {
    codec_simd::SetVectorPath(vector);
    uint32_t seed = 9;
    AdxPredictor plain[3] = {{7058, -3040, 0, 0}, {7058, -3040, 0, 0}, {7058, -3040, 0, 0}};
    AdxPredictor fast[3] = {plain[0], plain[1], plain[2]};
    AdxChannelState state[3] = {};
    for (int c = 0; c < 3; ++c) {
      state[c].c1 = 7058;
      state[c].c2 = -3040;
      state[c].predictor = &fast[c];
    }
    // Channels 1 and 2 once more, coded in runs of groups.
    AdxPredictor runPredictor[2] = {plain[1], plain[2]};
    AdxChannelState runState[2] = {state[1], state[2]};
    runState[0].predictor = &runPredictor[0];
    runState[1].predictor = &runPredictor[1];
    std::vector<int16_t> runIn[2];
    std::vector<uint8_t> expectedRun;
    for (int b = 0; b < 3000; ++b) {
      // Quiet, loud, clipped, noisy and smooth blocks in turn, on three channels:
      // one coded alone, two coded as a pair.
      int16_t in[3][32];
      for (int c = 0; c < 3; ++c) {
        const int kind = (b + c) % 5;
        for (int i = 0; i < 32; ++i) {
          seed = seed * 1664525u + 1013904223u;
          const int32_t noise = static_cast<int32_t>(seed >> 16) - 32768;
          const double t = b * 32 + i;
          const int32_t v = kind == 0   ? noise / 4096
                            : kind == 1 ? noise
                            : kind == 2 ? (noise > 0 ? 32767 : -32768)
                            : kind == 3 ? static_cast<int32_t>(30000 * std::sin(t * 0.3)) + noise / 64
                                        : static_cast<int32_t>(20000 * std::sin(t * 0.01));
          in[c][i] = static_cast<int16_t>(Clamp16(v));
        }
      }
      uint8_t expected[3][18];
      int16_t expectedRecon[3][32];
      for (int c = 0; c < 3; ++c) ReferenceEncode(in[c], &plain[c], expected[c], expectedRecon[c]);
      uint8_t block[3][18];
      int16_t recon[32];
      AdxEncodeBlock(&state[0], in[0], block[0], recon);
      AdxEncodeBlockPair(&state[1], in[1], block[1], &state[2], in[2], block[2]);
      ASSERT_EQ(0, std::memcmp(recon, expectedRecon[0], sizeof recon)) << "block " << b;
      for (int c = 0; c < 3; ++c) ASSERT_EQ(0, std::memcmp(block[c], expected[c], 18)) << "block " << b << " ch " << c;
      runIn[0].insert(runIn[0].end(), in[1], in[1] + 32);
      runIn[1].insert(runIn[1].end(), in[2], in[2] + 32);
      expectedRun.insert(expectedRun.end(), expected[1], expected[1] + 18);
      expectedRun.insert(expectedRun.end(), expected[2], expected[2] + 18);
    }
    std::vector<uint8_t> run(expectedRun.size());
    for (int b = 0; b < 3000; b += 113)  // runs as long as a stream ring's room, the last one shorter
      AdxEncodeBlockPairs(&runState[0], &runIn[0][32 * b], &runState[1], &runIn[1][32 * b], std::min(113, 3000 - b),
                          &run[36 * b]);
    ASSERT_EQ(expectedRun, run);
    EXPECT_EQ(0, std::memcmp(runState[0].residual, state[1].residual, sizeof(state[1].residual)));
    EXPECT_EQ(runState[1].maxResidual, state[2].maxResidual);
  }
  codec_simd::SetVectorPath(true);
}
TEST(AdxBlockTest, SilenceCodesToAnAllZeroBlock) {
  AdxPredictor predictor{7058, -3040, 0, 0};
  AdxChannelState state{};
  state.c1 = 7058;
  state.c2 = -3040;
  state.predictor = &predictor;
  const int16_t zeros[ADX_BLOCK_SAMPLES] = {};
  uint8_t block[ADX_BLOCK_BYTES];
  std::memset(block, 0xEE, sizeof block);
  int16_t recon[ADX_BLOCK_SAMPLES];
  AdxEncodeBlock(&state, zeros, block, recon);
  EXPECT_EQ(state.maxResidual, 0);
  EXPECT_EQ(state.scale, 1);
  for (uint8_t b : block) EXPECT_EQ(b, 0);
  for (int16_t s : recon) EXPECT_EQ(s, 0);
}

TEST(AdxBlockTest, FullScaleSquareWaveStaysWithinTheNibbleRange) {
  AdxPredictor predictor{7058, -3040, 0, 0};
  AdxChannelState state{};
  state.c1 = 7058;
  state.c2 = -3040;
  state.predictor = &predictor;
  int32_t s1 = 0;
  int32_t s2 = 0;
  for (int period : {2, 16, 64}) {
    for (int b = 0; b < 20; ++b) {
      int16_t in[ADX_BLOCK_SAMPLES];
      for (int i = 0; i < ADX_BLOCK_SAMPLES; ++i) {
        in[i] = ((b * ADX_BLOCK_SAMPLES + i) / (period / 2)) % 2 == 0 ? 32767 : -32768;
      }
      uint8_t block[ADX_BLOCK_BYTES];
      int16_t recon[ADX_BLOCK_SAMPLES];
      AdxEncodeBlock(&state, in, block, recon);
      EXPECT_GE(state.scale, 1);
      EXPECT_LE(state.scale, 4096);
      for (int8_t d : state.nibble) {
        EXPECT_GE(d, -7);
        EXPECT_LE(d, 7);
      }
      int16_t decoded[ADX_BLOCK_SAMPLES];
      AdxDecodeBlock(block, ADX_BLOCK_BYTES, 7058, -3040, &s1, &s2, 0, decoded);
      ASSERT_EQ(0, std::memcmp(decoded, recon, sizeof recon)) << "period " << period << " block " << b;
    }
  }
}

TEST(AdxCodecTest, DecoderReproducesTheEncodersReconstructionExactly) {
  const std::vector<int16_t> pcm = TestSignal(4992, 2, 7, 20000.0);
  const std::vector<int16_t> left = Channel(pcm, 2, 0);
  const std::vector<int16_t> right = Channel(pcm, 2, 1);
  const std::vector<uint8_t> stream = EncodeStream(2, {left, right}, 32728);
  for (size_t piece : {size_t{1}, size_t{37}, size_t{4096}}) {
    DecoderRig rig(2);
    const auto out = rig.Decode(stream, piece);
    ASSERT_EQ(out[0], Reconstruct(left, 32728)) << piece;
    ASSERT_EQ(out[1], Reconstruct(right, 32728)) << piece;
    EXPECT_EQ(rig->BytesConsumed(), static_cast<int64_t>(stream.size()));
  }

  // And the reconstruction is the input after coding noise, not something else.
  const std::vector<int16_t> recon = Reconstruct(left, 32728);
  double signal = 0.0;
  double noise = 0.0;
  for (size_t i = 0; i < left.size(); ++i) {
    signal += static_cast<double>(left[i]) * left[i];
    noise += (static_cast<double>(left[i]) - recon[i]) * (static_cast<double>(left[i]) - recon[i]);
  }
  EXPECT_GT(10.0 * std::log10(signal / noise), 33.0);  // 36.2 dB measured
}

TEST(AdxDecoderTest, WaitsForAPartialHeaderWithoutConsuming) {
  const std::vector<int16_t> pcm(96, 100);
  const std::vector<uint8_t> stream = EncodeStream(1, {pcm}, 32728);
  DecoderRig decoder(1);
  size_t fed = 0;
  for (size_t have : {size_t{1}, size_t{3}, size_t{20}, size_t{39}}) {
    fed += Put(decoder.Stream(), stream.data() + fed, have - fed);
    decoder->RunOnce();
    EXPECT_EQ(decoder->GetState(), AdxDecoder::PREPARING) << have;
    EXPECT_EQ(SJ_CountBytes(decoder.Stream(), SJ_LIN_DATA), static_cast<int32_t>(have));
    EXPECT_EQ(decoder->BytesConsumed(), 0);
  }
  Put(decoder.Stream(), stream.data() + 39, 1);
  decoder->RunOnce();
  EXPECT_EQ(decoder->GetState(), AdxDecoder::DECODING);
  EXPECT_EQ(decoder->BytesConsumed(), 40);
}

TEST(AdxDecoderTest, DropsBytesThatCannotBeginAHeader) {
  const std::vector<int16_t> pcm = Channel(TestSignal(128, 1), 1, 0);
  const std::vector<uint8_t> stream = EncodeStream(1, {pcm}, 32728);
  // Noise, false signatures (a wrong tag, an impossible offset), then the stream.
  std::vector<uint8_t> noisy = {0x01, 0x80, 0x00, 0x00, 0x24, 0x80, 0x00, 0xFF, 0xFF, 0x80, 0x01, 0x80};
  noisy.resize(noisy.size() + 60, 0x55);
  noisy.insert(noisy.end(), stream.begin(), stream.end());
  DecoderRig decoder(1);
  const auto out = decoder.Decode(noisy, 7);
  EXPECT_EQ(out[0], Reconstruct(pcm, 32728));

  // A full ring of noise is dropped rather than left to block its producer.
  DecoderRig noise(1);
  std::vector<uint8_t> junk(RING, 0x80);
  ASSERT_EQ(Put(noise.Stream(), junk.data(), junk.size()), junk.size());
  noise->RunOnce();
  EXPECT_LE(SJ_CountBytes(noise.Stream(), SJ_LIN_DATA), 1);
  EXPECT_EQ(noise->GetState(), AdxDecoder::PREPARING);
}

// A valid header with one byte changed.
std::vector<uint8_t> HeaderWith(size_t at, uint8_t value, int channels = 1) {
  std::vector<std::vector<int16_t>> input(static_cast<size_t>(channels), std::vector<int16_t>(32, 5));
  std::vector<uint8_t> stream = EncodeStream(channels, input, 32728);
  stream[at] = value;
  return stream;
}

TEST(AdxDecoderTest, RefusesStreamsItCannotDecode) {
  struct Case {
    size_t at;
    uint8_t value;
    const char* message;
  };
  const std::string unknown = "E03010901 ADXB_DecodeHeader: Can not decode this file format.";
  const std::string ahx = "E1060101 ADXB_DecodeHeaderAdx: can't play AHX data by this handle";
  const Case cases[] = {
      {ADX_HDR_ENCODING_TYPE, 5, ahx.c_str()},
      {ADX_HDR_ENCODING_TYPE, 0x11, ahx.c_str()},
      {ADX_HDR_FLAGS, 1, unknown.c_str()},
      {ADX_HDR_BITS_PER_SAMPLE, 8, unknown.c_str()},
      {ADX_HDR_BLOCK_BYTES, 2, unknown.c_str()},
      {ADX_HDR_CHANNELS, 2, unknown.c_str()},
      {ADX_HDR_CHANNELS, 0, unknown.c_str()},
      {ADX_HDR_SAMPLING_RATE + 3, 0, unknown.c_str()},
      {40, 0x83, unknown.c_str()},  // a marker where a block should be
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> stream = HeaderWith(c.at, c.value);
    if (c.at == ADX_HDR_SAMPLING_RATE + 3) stream[ADX_HDR_SAMPLING_RATE + 2] = 0;
    HookCapture hook;
    DecoderRig decoder(1);
    const auto out = decoder.Decode(stream);
    EXPECT_EQ(decoder->GetState(), AdxDecoder::FAILED) << c.at;
    ASSERT_EQ(hook.Messages().size(), 1u) << c.at;
    EXPECT_EQ(hook.Messages()[0], c.message) << c.at;
    EXPECT_TRUE(out[0].empty());
    decoder->RunOnce();  // stays put
    EXPECT_EQ(hook.Messages().size(), 1u);
  }
}

TEST(AdxCodecTest, LimitedStreamEndsWithTheEndMark) {
  const std::vector<int16_t> pcm = Channel(TestSignal(100, 1), 1, 0);
  const std::vector<uint8_t> stream = EncodeStream(1, {pcm}, 32728, 100);
  ASSERT_EQ(stream.size(), 40u + 4 * ADX_BLOCK_BYTES + ADX_BLOCK_BYTES);
  const std::vector<uint8_t> mark = {0x80, 0x01, 0x00, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(stream.end() - ADX_BLOCK_BYTES, stream.end()), mark);
  EXPECT_EQ(AdxGetBe32(&stream[ADX_HDR_TOTAL_SAMPLES]), 100u);

  DecoderRig decoder(1);
  const auto out = decoder.Decode(stream);
  EXPECT_EQ(decoder->GetState(), AdxDecoder::ENDED);
  EXPECT_EQ(decoder->BytesConsumed(), static_cast<int64_t>(stream.size()));
  ASSERT_EQ(out[0].size(), 128u);
  EXPECT_EQ(out[0], Reconstruct(pcm, 32728));
}

TEST(AdxServiceTest, PoolsHoldThirtyTwoEncodersAndDecoders) {
  Rings rings(3);
  std::vector<AdxEncoder*> encoders;
  std::vector<AdxDecoder*> decoders;
  for (int i = 0; i < ADX_ENCODER_POOL_SIZE; ++i) {
    encoders.push_back(AdxEncoder_Create(2, rings.From(0), rings[2]));
    decoders.push_back(AdxDecoder_Create(rings[2], 2, rings.From(0)));
    ASSERT_NE(encoders.back(), nullptr);
    ASSERT_NE(decoders.back(), nullptr);
  }
  EXPECT_EQ(AdxEncoder_Create(2, rings.From(0), rings[2]), nullptr);
  EXPECT_EQ(AdxDecoder_Create(rings[2], 2, rings.From(0)), nullptr);
  AdxEncoder_Destroy(encoders[5]);
  AdxDecoder_Destroy(decoders[5]);
  encoders[5] = AdxEncoder_Create(2, rings.From(0), rings[2]);
  decoders[5] = AdxDecoder_Create(rings[2], 2, rings.From(0));
  EXPECT_NE(encoders[5], nullptr);
  EXPECT_NE(decoders[5], nullptr);
  for (AdxEncoder* e : encoders) AdxEncoder_Destroy(e);
  for (AdxDecoder* d : decoders) AdxDecoder_Destroy(d);

  EXPECT_EQ(AdxEncoder_Create(0, rings.From(0), rings[2]), nullptr);
  EXPECT_EQ(AdxEncoder_Create(9, rings.From(0), rings[2]), nullptr);
  EXPECT_EQ(AdxDecoder_Create(nullptr, 1, rings.From(0)), nullptr);
}

}  // namespace
