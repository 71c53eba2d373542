// quillcodec: runs a wave file through exactly the path that the device
// would hear: the wave-file decoder, the sample-rate converter and the codec
// pass of the capture sources, in blocks of 20 ms, and writes the result as
// 16-bit stereo PCM.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/CodecFunctions.h"
#include "capture/RateConverter.h"
#include "capture/WaveDecoder.h"

class Adpcm;

// Exit codes.
enum QuillCodecExit { EXIT_DONE = 0, EXIT_USAGE = 1, EXIT_UNSUPPORTED = 2, EXIT_FAILED = 3 };

// Output rates the program accepts (the SamplingRate setting's range).
constexpr int32_t QUILLCODEC_MIN_RATE = 16000;
constexpr int32_t QUILLCODEC_MAX_RATE = 96000;
constexpr int32_t QUILLCODEC_DEFAULT_RATE = 32728;
// Length of the blocks given to the codec pass, in milliseconds of input.
constexpr uint32_t QUILLCODEC_BLOCK_MS = 20;

struct CodecPassResult {
  std::vector<int16_t> converted;  // the input at the output rate (what the pass was given)
  std::vector<int16_t> output;     // what the pass returned: what the device plays
  bool adpcmUsed = false;          // false when "ADPCM" ran as PCM (no wave-codec library)
  uint32_t firstBlockFrames = 0;   // frames of the first block given to the codec
  double seconds = 0.0;            // time taken by conversion and codec pass
};

// Converts wave to rate with the converter of kind and passes it through the
// codec of format in blocks of 20 ms of input; the converted stream holds the
// output frames whose positions lie inside the file. False (with error) when
// the codec cannot be opened.
bool RunCodecPass(const WaveData& wave, int32_t rate, int32_t format, const Adpcm* adpcm, const CodecFunctions& codec,
                  CodecPassResult* result, std::string* error, ConverterKind kind = ConverterKind::SINC);

// Frames by which the pass's output lags its input, as the path is built:
// the codec's delay (for CRI ADX it depends on the first block the codec was
// given). The converter adds none here: RunCodecPass takes its look-ahead out.
int32_t PassDelay(int32_t format, bool adpcmUsed, uint32_t firstBlockFrames);

// The lag (0 to maxLag frames) at which output best matches converted, by
// normalised correlation of the channel sums: an estimate from the signal,
// which varies with it; for checking a codec whose delay is not known.
int32_t BestMatchLag(const std::vector<int16_t>& converted, const std::vector<int16_t>& output, int32_t maxLag = 4096);

// SNR in dB of output against reference delayed by delay frames.
double AlignedSnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& output, int32_t delay);

// Writes interleaved stereo 16-bit PCM as a wave file.
bool WriteWave16(const std::string& path, const std::vector<int16_t>& samples, uint32_t rate);

// The command line; texts go to out and err.
int QuillCodecMain(int argc, const char* const* argv, FILE* out, FILE* err);
