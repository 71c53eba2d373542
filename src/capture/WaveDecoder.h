// Decoder of RIFF/WAVE files into interleaved stereo 16-bit PCM: integer PCM
// of 8, 16, 24 or 32 bits, IEEE float of 32 or 64 bits, and the extensible form with
// integer PCM of 8, 16, 24 or 32 bits or float of 32 or 64 bits. Files come
// from users: every field is checked before it is used, and a file that does
// not pass is refused with a reason, never half-read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct WaveData {
  std::vector<int16_t> samples;  // frames x 2, left then right
  uint32_t frames = 0;
  uint32_t samplingRate = 0;
};

// Limits for what is decoded into memory; larger files are refused.
constexpr size_t WAVE_MAX_FILE_BYTES = size_t{512} << 20;
constexpr size_t WAVE_MAX_DECODED_BYTES = size_t{512} << 20;
// Sampling rates above this are refused (the converter and the player's
// slices are sized by the rate).
constexpr uint32_t WAVE_MAX_SAMPLING_RATE = 768000;

// Why a file was refused: users are told a file too large apart from one
// that is not a wave file the decoder takes.
enum class WaveFault { None, Unsupported, TooLarge };

// Decodes a whole file held in memory. On failure returns false, leaves *out
// empty and, when reason is given, describes the fault; fault, when given,
// tells its kind.
bool DecodeWave(const uint8_t* data, size_t size, WaveData* out, std::string* reason = nullptr,
                WaveFault* fault = nullptr);

// Reads and decodes the file at path ("rb"). Unreadable files fail like
// unsupported ones.
bool ReadWaveFile(const std::string& path, WaveData* out, std::string* reason = nullptr, WaveFault* fault = nullptr);
