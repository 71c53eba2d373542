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
// unscrambled) and moves the closed-loop history on. `in` may point into a
// byte buffer (it is read bytewise). When `recon` is not null
// it receives the 32 samples a decoder will output for this block.
void AdxEncodeBlock(AdxChannelState* state, const int16_t* in, uint8_t* block, int16_t* recon);

// Codes a block of each of two channels, exactly as two AdxEncodeBlock calls
// would, but with the channels' closed loops run side by side.
void AdxEncodeBlockPair(AdxChannelState* state0, const int16_t* in0, uint8_t* block0, AdxChannelState* state1,
                        const int16_t* in1, uint8_t* block1);

// Codes `groups` block groups of two channels: block g of each channel from
// its input at in + 32 g, written to out + 36 g (channel 0) and out + 36 g + 18
// (channel 1), as that many AdxEncodeBlockPair calls in turn would.
void AdxEncodeBlockPairs(AdxChannelState* state0, const int16_t* in0, AdxChannelState* state1, const int16_t* in1,
                         int groups, uint8_t* out);

// The nibble the closed loop chooses for each residual r = -32768..32767 (at
// nibbles[r + 32768]) in a block whose largest open-loop residual is
// maxResidual. The coder derives it from seven thresholds instead of the
// defining rule (clamp16(trunc(r * gain)), then (v + 2340) / 4681, v - 2340
// for v < 0, within -8..7); tests hold the two against each other.
void AdxNibbleTable(int32_t maxResidual, int8_t* nibbles);

// Decodes one block of `blockBytes` bytes ((blockBytes - 2) * 2 samples) with
// the coefficients and history given; `scaleXor` descrambles the scale word
// (0 for a plain stream). The history moves on.
void AdxDecodeBlock(const uint8_t* block, int blockBytes, int32_t c1, int32_t c2, int32_t* s1, int32_t* s2,
                    uint16_t scaleXor, int16_t* out);

// Decodes a block of each of two channels of a plain stream side by side, as
// two AdxDecodeBlock calls would; s1 and s2 hold both channels' histories.
void AdxDecodeBlockPair(const uint8_t* block0, const uint8_t* block1, int blockBytes, int32_t c1, int32_t c2,
                        int32_t* s1, int32_t* s2, int16_t* out0, int16_t* out1);
