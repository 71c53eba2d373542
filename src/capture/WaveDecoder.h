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
  // Set when the file was taken with a fault it survives: its data chunk
  // claims more bytes than the RIFF chunk or the file holds (a recording cut
  // short), and the bytes that are there are played. For the log.
  std::string note;
};

// The most that is decoded into memory: the decoded samples (4 bytes a
// frame) of the shipped 32-bit program, whose address space is 2 GiB. Checked
// from the header before anything is allocated; a larger file is refused.
// A file is never read whole: only its header and, piece by piece, its
// samples, so its own size is not limited.
constexpr size_t WAVE_MAX_DECODED_BYTES = size_t{256} << 20;
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

// Reads and decodes the file at path ("rb", a UTF-8 path), of any size.
// Unreadable files fail like unsupported ones.
bool ReadWaveFile(const std::string& path, WaveData* out, std::string* reason = nullptr, WaveFault* fault = nullptr);
