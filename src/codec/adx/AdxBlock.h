// Coding and decoding of one ADX block: 32 samples of one channel in 18 bytes,
// a big-endian scale word (scale - 1, 0 for an all-zero block) and 32 signed
// 4-bit values, the earlier sample in the high nibble.
#pragma once

#include <cstdint>

#include "adx/AdxFormat.h"

// The closed-loop predictor of a channel: coefficients and the history that a
// decoder of the stream holds at the same point.
struct AdxPredictor {
  int16_t c1;
  int16_t c2;
  int16_t s1;  // newer sample
  int16_t s2;  // older sample
};

// The encoder's per-channel record: open-loop coefficients and history, the
// analysis of the current block, and the closed-loop predictor (its own record).
struct AdxChannelState {
  int16_t c1;
  int16_t c2;
  int16_t s1;
  int16_t s2;
  int16_t residual[ADX_BLOCK_SAMPLES];
  int32_t maxResidual;
  int16_t scale;
  double gain;
  int8_t nibble[ADX_BLOCK_SAMPLES];
  AdxPredictor* predictor;
};

// Codes 32 samples of one channel into `block` (18 bytes; the scale word
// unscrambled) and moves the closed-loop history on. When `recon` is not null
// it receives the 32 samples a decoder will output for this block.
void AdxEncodeBlock(AdxChannelState* state, const int16_t* in, uint8_t* block, int16_t* recon);

// Decodes one block of `blockBytes` bytes ((blockBytes - 2) * 2 samples) with
// the coefficients and history given; `scaleXor` descrambles the scale word
// (0 for a plain stream). The history moves on.
void AdxDecodeBlock(const uint8_t* block, int blockBytes, int32_t c1, int32_t c2, int32_t* s1, int32_t* s2,
                    uint16_t scaleXor, int16_t* out);
