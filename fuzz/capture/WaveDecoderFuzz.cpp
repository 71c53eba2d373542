// Wave files from users: any bytes must be refused or decoded within bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "capture/WaveDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WaveData wave;
  std::string reason;
  WaveFault fault = WaveFault::None;
  const bool decoded = DecodeWave(data, size, &wave, &reason, &fault);
  if (decoded != (fault == WaveFault::None)) abort();
  if (decoded) {
    // What was decoded is whole stereo frames that the file really holds.
    if (wave.samples.size() != static_cast<size_t>(wave.frames) * 2) abort();
    if (wave.samplingRate == 0 || wave.samplingRate > WAVE_MAX_SAMPLING_RATE) abort();
    if (static_cast<size_t>(wave.frames) > size) abort();
  } else {
    if (reason.empty() || !wave.samples.empty() || wave.frames != 0) abort();
  }
  return 0;
}
