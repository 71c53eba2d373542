// The ADX stream as this library writes and reads it: a 40-byte header, then
// groups of 18-byte blocks (one per channel, 32 samples each), all multi-byte
// fields big-endian. See AdxEncoder.h for the header's layout.
#pragma once

#include <cstdint>

constexpr uint16_t ADX_SIGNATURE = 0x8000;  // first word of the header
constexpr uint16_t ADX_END_MARK = 0x8001;   // first word of the end mark
constexpr int ADX_BLOCK_BYTES = 18;         // scale word and 16 bytes of nibbles
constexpr int ADX_BLOCK_SAMPLES = 32;       // samples of one channel per block
constexpr int ADX_BITS_PER_SAMPLE = 4;
constexpr int ADX_ENCODING_TYPE = 3;
constexpr int ADX_HEADER_VERSION = 4;
constexpr int ADX_CUTOFF_HZ = 500;                   // high-pass cut-off of the prediction coefficients
constexpr int ADX_DATA_OFFSET = 36;                  // blocks begin at data offset + 4
constexpr int ADX_MAX_CHANNELS = 8;                  // room in the encoder and decoder objects
constexpr int32_t ADX_TOTAL_UNLIMITED = 0x7FFFFFFF;  // a total that never ends the stream
constexpr int ADX_MAX_HEADER = 4096;                 // longest header (data offset + 4) the decoder looks for

// The fixed tag that ends every header exactly at data offset + 4; the decoder
// finds the stream by it.
constexpr int ADX_TAG_LENGTH = 6;
extern const char ADX_TAG[ADX_TAG_LENGTH + 1];

// Offsets of the header fields.
enum AdxHeaderField : int {
  ADX_HDR_SIGNATURE = 0x00,
  ADX_HDR_DATA_OFFSET = 0x02,
  ADX_HDR_ENCODING_TYPE = 0x04,
  ADX_HDR_BLOCK_BYTES = 0x05,
  ADX_HDR_BITS_PER_SAMPLE = 0x06,
  ADX_HDR_CHANNELS = 0x07,
  ADX_HDR_SAMPLING_RATE = 0x08,
  ADX_HDR_TOTAL_SAMPLES = 0x0C,
  ADX_HDR_CUTOFF = 0x10,
  ADX_HDR_VERSION = 0x12,
  ADX_HDR_FLAGS = 0x13,
  ADX_HDR_LOOP = 0x14,
  ADX_HDR_HISTORY = 0x18,  // s1, s2 of each channel, 4 bytes per channel
};

// The prediction coefficients for a high-pass cut-off (Hz) at a sampling rate
// (Hz), every intermediate rounded to float. False (and zeros) when the rate
// is 0 or the cut-off negative.
bool AdxCalcCoefficients(int32_t cutoffHz, uint32_t rateHz, int32_t* c1, int32_t* c2);

// The header-size rule: c * ((a + b + c + k) / c) - b with a = 0, b = 4, c = 4
// and k = 33 (57 with loop information), growing by 4 per channel beyond two.
int32_t AdxMinimumDataOffset(int channels, bool loop);

inline uint16_t AdxGetBe16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t AdxGetBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline void AdxPutBe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void AdxPutBe32(uint8_t* p, uint32_t v) {
  AdxPutBe16(p, v >> 16);
  AdxPutBe16(p + 2, v);
}
