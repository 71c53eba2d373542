// The one sample layout of the capture path from a source's block to the
// packet channel: interleaved stereo frames of 16-bit samples. Counts named
// ...Frames are frames, ...Bytes are bytes, ...Samples are int16_t values.
#pragma once

#include <cstdint>

namespace capture {

constexpr int32_t CHANNELS = 2;
constexpr int32_t BYTES_PER_SAMPLE = 2;
constexpr int32_t BYTES_PER_FRAME = CHANNELS * BYTES_PER_SAMPLE;

}  // namespace capture
