// Small wave-codec libraries for the ADPCM adapter's tests. Built several
// times, each into a folder of its own under the name WaveCodecKav: with
// every function, where encode and decode copy the samples unchanged (so the
// adapter's delay shows exactly), or without one of the functions.
#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#define FAKE_API extern "C" __declspec(dllexport)
#else
#define FAKE_API extern "C" __attribute__((visibility("default")))
#endif

FAKE_API uint32_t getBytesForAdpcmBuffer(uint32_t samples);
FAKE_API uint32_t getBytesForAdpcmSamples(uint32_t samples);
FAKE_API uint32_t getBytesForPcmBuffer(uint32_t samples);
FAKE_API uint32_t getBytesForPcmSamples(uint32_t samples);
FAKE_API uint32_t encode(const int16_t* pcm, void* adpcm, void* state, uint32_t samples);
FAKE_API uint32_t decode(const void* adpcm, int16_t* pcm, void* state, uint32_t samples);

FAKE_API uint32_t getBytesForAdpcmBuffer(uint32_t samples) {
  return samples * 2;
}

FAKE_API uint32_t getBytesForAdpcmSamples(uint32_t samples) {
  return samples * 2;
}

#ifndef OMIT_PCM_BUFFER
FAKE_API uint32_t getBytesForPcmBuffer(uint32_t samples) {
  return samples * 2;
}
#endif

FAKE_API uint32_t getBytesForPcmSamples(uint32_t samples) {
  return samples * 2;
}

FAKE_API uint32_t encode(const int16_t* pcm, void* adpcm, void* state, uint32_t samples) {
  memcpy(adpcm, pcm, samples * 2u);
  memcpy(state, &samples, sizeof(samples));
  return samples * 2;
}

#ifndef OMIT_DECODE
FAKE_API uint32_t decode(const void* adpcm, int16_t* pcm, void* state, uint32_t samples) {
  uint32_t encoded = 0;
  memcpy(&encoded, state, sizeof(encoded));
  if (encoded != samples) return 0;
  memcpy(pcm, adpcm, samples * 2u);
  return samples;
}
#endif
