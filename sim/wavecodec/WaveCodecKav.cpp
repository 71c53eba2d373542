// Stand-in for the platform's wave-codec library: a 4-bit ADPCM codec behind
// the six functions that the program's ADPCM adapter binds. Test and demo
// equipment, not part of the program.
//
// Stream layout: frames of 32 mono samples, 17 bytes each. Byte 0 holds the
// predictor (high nibble, 0..3) and the shift (low nibble, 0..13); bytes 1..16
// hold 32 signed 4-bit codes, the earlier sample in the high nibble. Decoding
// one sample: p = (c1 x s[-1] + c2 x s[-2] + 32) >> 6 with the predictor's
// coefficients, s = clamp16(p + (code << shift)). The encoder picks, for every
// frame, the predictor and shift with the least squared error. A frame ends
// short when the sample count does; the state block carries the count and the
// predictor history that decoding starts from.
#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#define WAVECODEC_API extern "C" __declspec(dllexport)
#else
#define WAVECODEC_API extern "C" __attribute__((visibility("default")))
#endif

// The library's interface, as the ADPCM adapter binds it.
WAVECODEC_API uint32_t getBytesForAdpcmBuffer(uint32_t samples);
WAVECODEC_API uint32_t getBytesForAdpcmSamples(uint32_t samples);
WAVECODEC_API uint32_t getBytesForPcmBuffer(uint32_t samples);
WAVECODEC_API uint32_t getBytesForPcmSamples(uint32_t samples);
WAVECODEC_API uint32_t encode(const int16_t* pcm, void* adpcm, void* state, uint32_t samples);
WAVECODEC_API uint32_t decode(const void* adpcm, int16_t* pcm, void* state, uint32_t samples);

namespace {

constexpr uint32_t FRAME_SAMPLES = 32;
constexpr uint32_t FRAME_BYTES = 1 + FRAME_SAMPLES / 2;
constexpr int MAX_SHIFT = 13;
constexpr uint32_t STATE_MAGIC = 0x3456414Bu;  // "KAV4"

// Second-order predictors, coefficients in 1/64.
constexpr int kPredictors[4][2] = {{0, 0}, {60, 0}, {115, -52}, {98, -55}};

// What encode leaves for decode (at most 48 bytes: the caller's block).
struct State {
  uint32_t magic;
  uint32_t samples;
  int16_t history[2];  // s[-1], s[-2] before the first sample
};
static_assert(sizeof(State) <= 48, "the state block holds 48 bytes");

int32_t Clamp16(int32_t v) {
  if (v < -32768) return -32768;
  if (v > 32767) return 32767;
  return v;
}

int32_t Predict(int predictor, int32_t s1, int32_t s2) {
  // Floor division by 64 of a value that may be negative.
  int32_t sum = kPredictors[predictor][0] * s1 + kPredictors[predictor][1] * s2 + 32;
  return sum >= 0 ? sum / 64 : -((-sum + 63) / 64);
}

int32_t Quantise(int32_t difference, int shift) {
  int32_t half = shift > 0 ? (1 << (shift - 1)) : 0;
  int32_t v = difference + half;
  int32_t q = v >= 0 ? (v >> shift) : -((-v + (1 << shift) - 1) >> shift);
  if (q < -8) q = -8;
  if (q > 7) q = 7;
  return q;
}

// Squared error of one frame coded with predictor and shift from history.
int64_t TrialError(const int16_t* pcm, uint32_t count, int predictor, int shift, int32_t s1, int32_t s2) {
  int64_t error = 0;
  for (uint32_t i = 0; i < count; ++i) {
    int32_t p = Predict(predictor, s1, s2);
    int32_t q = Quantise(pcm[i] - p, shift);
    int32_t s = Clamp16(p + q * (1 << shift));
    int64_t e = pcm[i] - s;
    error += e * e;
    s2 = s1;
    s1 = s;
  }
  return error;
}

// The smallest shift whose codes reach the largest open-loop residual.
int StartShift(const int16_t* pcm, uint32_t count, int predictor, int32_t s1, int32_t s2) {
  int32_t peak = 0;
  for (uint32_t i = 0; i < count; ++i) {
    int32_t r = pcm[i] - Predict(predictor, s1, s2);
    if (r < 0) r = -r;
    if (r > peak) peak = r;
    s2 = s1;
    s1 = pcm[i];
  }
  int shift = 0;
  while (shift < MAX_SHIFT && peak > (7 << shift)) ++shift;
  return shift;
}

}  // namespace

WAVECODEC_API uint32_t getBytesForAdpcmBuffer(uint32_t samples) {
  return (samples + FRAME_SAMPLES - 1) / FRAME_SAMPLES * FRAME_BYTES;
}

WAVECODEC_API uint32_t getBytesForAdpcmSamples(uint32_t samples) {
  return (samples + FRAME_SAMPLES - 1) / FRAME_SAMPLES * FRAME_BYTES;
}

WAVECODEC_API uint32_t getBytesForPcmBuffer(uint32_t samples) {
  return (samples + FRAME_SAMPLES - 1) / FRAME_SAMPLES * FRAME_SAMPLES * 2;
}

WAVECODEC_API uint32_t getBytesForPcmSamples(uint32_t samples) {
  return samples * 2;
}

WAVECODEC_API uint32_t encode(const int16_t* pcm, void* adpcm, void* state, uint32_t samples) {
  State st = {STATE_MAGIC, samples, {0, 0}};
  memcpy(state, &st, sizeof(st));
  uint8_t* out = static_cast<uint8_t*>(adpcm);
  int32_t s1 = 0;
  int32_t s2 = 0;
  for (uint32_t start = 0; start < samples; start += FRAME_SAMPLES) {
    const uint32_t count = samples - start < FRAME_SAMPLES ? samples - start : FRAME_SAMPLES;
    const int16_t* frame = pcm + start;

    int bestPredictor = 0;
    int bestShift = MAX_SHIFT;
    int64_t bestError = -1;
    for (int predictor = 0; predictor < 4; ++predictor) {
      int first = StartShift(frame, count, predictor, s1, s2);
      for (int shift = first - 1; shift <= first + 1; ++shift) {
        if (shift < 0 || shift > MAX_SHIFT) continue;
        int64_t error = TrialError(frame, count, predictor, shift, s1, s2);
        if (bestError < 0 || error < bestError) {
          bestError = error;
          bestPredictor = predictor;
          bestShift = shift;
        }
      }
    }

    uint8_t* block = out + (start / FRAME_SAMPLES) * FRAME_BYTES;
    memset(block, 0, FRAME_BYTES);
    block[0] = static_cast<uint8_t>((bestPredictor << 4) | bestShift);
    for (uint32_t i = 0; i < count; ++i) {
      int32_t p = Predict(bestPredictor, s1, s2);
      int32_t q = Quantise(frame[i] - p, bestShift);
      int32_t s = Clamp16(p + q * (1 << bestShift));
      uint8_t code = static_cast<uint8_t>(q & 0x0F);
      block[1 + i / 2] |= static_cast<uint8_t>((i & 1) == 0 ? code << 4 : code);
      s2 = s1;
      s1 = s;
    }
  }
  return getBytesForAdpcmSamples(samples);
}

WAVECODEC_API uint32_t decode(const void* adpcm, int16_t* pcm, void* state, uint32_t samples) {
  State st;
  memcpy(&st, state, sizeof(st));
  if (st.magic != STATE_MAGIC) {
    // Not a state that encode filled: silence.
    memset(pcm, 0, sizeof(int16_t) * samples);
    return 0;
  }
  const uint32_t coded = st.samples < samples ? st.samples : samples;
  const uint8_t* in = static_cast<const uint8_t*>(adpcm);
  int32_t s1 = st.history[0];
  int32_t s2 = st.history[1];
  for (uint32_t i = 0; i < coded; ++i) {
    const uint8_t* block = in + (i / FRAME_SAMPLES) * FRAME_BYTES;
    const int predictor = (block[0] >> 4) & 3;
    int shift = block[0] & 0x0F;
    if (shift > MAX_SHIFT) shift = MAX_SHIFT;
    const uint32_t k = i % FRAME_SAMPLES;
    uint8_t nibble = (k & 1) == 0 ? static_cast<uint8_t>(block[1 + k / 2] >> 4) : (block[1 + k / 2] & 0x0F);
    int32_t q = nibble >= 8 ? nibble - 16 : nibble;
    int32_t s = Clamp16(Predict(predictor, s1, s2) + q * (1 << shift));
    pcm[i] = static_cast<int16_t>(s);
    s2 = s1;
    s1 = s;
  }
  for (uint32_t i = coded; i < samples; ++i) pcm[i] = 0;
  return coded;
}
