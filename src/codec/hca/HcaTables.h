// The fixed tables of the HCA format, shared by encoder and decoder.
#pragma once

#include <cstdint>
#include <cstring>

#include "hca/HcaCommon.h"

namespace hca {

// Quantiser levels per resolution (resolution 0 is never quantised).
extern const uint16_t HCA_LEVELS[16];
// Resolution for a noise distance d = noise level - band level + 9 (0..71).
extern const uint8_t HCA_RESOLUTION_TABLE[72];
// Magnitude bits of resolutions 8..15 (index = resolution; 0 below 8).
extern const uint8_t HCA_MAGNITUDE_BITS[16];
// Bits peeked to decode a prefix code of resolutions 1..7 (index = resolution).
extern const uint8_t HCA_PEEK_BITS[8];

// One prefix code: its bits (right-aligned) and length.
struct HcaCode {
  uint8_t bits;
  uint8_t length;
};
// Prefix codes of resolutions 1..7, indexed [resolution][value + (N - 1) / 2].
extern const HcaCode HCA_CODES[8][15];

// One entry of a prefix-code lookup: the value and the code's real length.
struct HcaCodeEntry {
  int8_t value;
  uint8_t length;
};

// Tables computed once on first use (thread-safe initialisation).
struct HcaTables {
  float scale[64];             // S[i] = 2^(3.5 - (63 - i) * 53 / 128); index 0: band not coded
  float inverseScale[64];      // 1 / S[i] (as a float division), 0 for index 0
  float step[16];              // 2 / N (quantiser step over -1..1); step[0] unused
  float inverseStep[16];       // N / 2, so that x / step is x * inverseStep
  float range[16];             // Q: 0, then 2 / N
  float hfrRatio[127];         // 2^(i * 53 / 128) for i = -63..63, at [i + 63]
  float intensity[15];         // (14 - i) / 7
  float window[256];           // symmetric, power-complementary analysis/synthesis window
  HcaCodeEntry decode[8][16];  // [resolution][peeked bits] for resolutions 1..7; resolution 0: value 0, no bits
  uint8_t peekShift[8];        // 64 - the bits peeked at a resolution (1 for resolution 0)
  uint8_t codeLength[8][15];   // [resolution][value + (N - 1) / 2]
  uint32_t codeWord[8][15];    // the same codes as bits << 5 | length

  // The bits of a quantised value v at resolution r are valueBits[r], plus 1
  // when |v| >= wideFrom[r] (the longer prefix codes of 1..7, the sign bit of
  // 8..15). On the quantiser's input u = (1 - x) x inverseStep[r] (see the
  // encoder) that is u < wideBelow[r] or u >= wideAbove[r]. Resolution 0
  // costs nothing: its tests are never true.
  alignas(16) float wideBelow[16];
  alignas(16) float wideAbove[16];
  alignas(16) int32_t valueBits8[16];  // 8 x valueBits: a band's 8 values
  uint8_t valueBits[16];
  uint8_t wideFrom[16];
  // The codes themselves follow one rule: value 0 is all zeros; any other v
  // is 2|v| + (v < 0) + codeBelow[r] while |v| < wideFrom[r], and
  // 2|v| + (v < 0) + codeFrom[r] (one bit longer) from there on.
  int8_t codeBelow[16];
  int8_t codeFrom[16];

  // Resolution for noise level z (z may be -1 below the boundary) in a band
  // of level l: resolutionAt[LEVEL_ZERO + z - l], limited to the maximum
  // resolution 15 (the encoder's). LEVEL_ZERO is the entry of noise level 0
  // in a band of level 0 (noise distance 9); DISTANCE_OFFSET entries below
  // noise distance 0 cover the highest band levels.
  static constexpr int DISTANCE_OFFSET = 160;
  static constexpr int LEVEL_ZERO = DISTANCE_OFFSET + 9;
  uint8_t resolutionAt[LEVEL_ZERO + 512];

  // The scale-factor index of a value without a search: the bit patterns of
  // non-negative floats rise with their values, and an eighth of an octave
  // (the top 12 bits) never holds two of S's entries (2^(53/128) apart), so
  // scaleBelow[bits >> 20] is how many entries lie below its bucket, and one
  // comparison with the bucket's entry (scaleIn[...], its bits; above every
  // value when none) settles the rest.
  uint8_t scaleBelow[2048];
  uint32_t scaleIn[2048];
};
const HcaTables& Tables();

// Resolution of a band at noise level z (the level may be z - 1 below the
// boundary) for a band of the given level, limited to maxResolution.
inline int ResolutionFor(int noiseLevel, int bandLevel, int maxResolution) {
  int d = noiseLevel - bandLevel + 9;
  int r = d < 0 ? 15 : (d >= 72 ? 1 : HCA_RESOLUTION_TABLE[d]);
  return r < maxResolution ? r : maxResolution;
}

// Band level of a scale-factor index.
inline int BandLevel(int scaleIndex) {
  return ((5 * scaleIndex) >> 1) + 2;
}

// First scale-factor index whose scale exceeds the value; 63 if none does
// (also for not a number, which no entry exceeds).
inline int ScaleIndexFor(const HcaTables& t, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  if (bits >= 0x7F800000u) return bits >= 0x80000000u && bits <= 0xFF800000u ? 0 : 63;  // sign set: below S[0]
  const uint32_t bucket = bits >> 20;
  const int index = t.scaleBelow[bucket] + (bits >= t.scaleIn[bucket] ? 1 : 0);
  return index < 64 ? index : 63;
}
inline int ScaleIndexFor(float value) {
  return ScaleIndexFor(Tables(), value);
}

}  // namespace hca
