// QuillDll: the codec library's public interface.
//
// Four plain functions, exported with C linkage under exactly these names so
// that any client can bind them by name. A handle from Open stands for one
// codec (ADX or HCA) that takes 16-bit PCM, encodes it and decodes it straight
// back: what EncodeAndDecode returns is the sound after one pass through the
// codec, always as many frames as it consumed.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#if defined(QUILLDLL_BUILD)
#define QUILLDLL_API extern "C" __declspec(dllexport)
#else
#define QUILLDLL_API extern "C" __declspec(dllimport)
#endif
#else
#define QUILLDLL_API extern "C" __attribute__((visibility("default")))
#endif

namespace QuillDll {

// The parameter record of Open; shared with every client, laid out exactly so.
struct CODECINFO {
  uint16_t codec;           // CODEC_ADX or CODEC_HCA
  uint16_t channels;        // 1 or 2, interleaved
  uint16_t bytesPerSample;  // 2: signed 16-bit little-endian
  uint16_t quality;         // HCA: 0..5; ADX: ignored (0)
  double samplingRate;      // Hz, > 0
};
static_assert(sizeof(CODECINFO) == 16, "CODECINFO is 16 bytes");
static_assert(offsetof(CODECINFO, codec) == 0, "codec at 0");
static_assert(offsetof(CODECINFO, channels) == 2, "channels at 2");
static_assert(offsetof(CODECINFO, bytesPerSample) == 4, "bytesPerSample at 4");
static_assert(offsetof(CODECINFO, quality) == 6, "quality at 6");
static_assert(offsetof(CODECINFO, samplingRate) == 8, "samplingRate at 8");

constexpr uint16_t CODEC_ADX = 0x3141;
constexpr uint16_t CODEC_HCA = 0x4348;

constexpr uint32_t RESULT_SUCCESS = 0;
constexpr uint32_t RESULT_INVALID_PARAMETER = 0x20000057;
constexpr uint32_t RESULT_FAILED = 0x20000000;

}  // namespace QuillDll

// The four exports' types, for clients that bind them by name.
using QuillDllGetVersion = uint32_t (*)(uint32_t* major, uint32_t* minor, uint32_t* release, uint32_t* build);
using QuillDllOpen = uint32_t (*)(void** handle, const QuillDll::CODECINFO* info);
using QuillDllEncodeAndDecode = uint32_t (*)(void* handle, void* out, uint32_t outFrames, void* in, uint32_t inFrames,
                                             uint32_t* processed);
using QuillDllClose = uint32_t (*)(void* handle);

// Writes 0, 8, 2, 0. The pointers must be valid. <windows.h> declares a
// GetVersion of its own: a file that includes both defines
// QUILLDLL_NO_GETVERSION and binds this one by name as QuillDllGetVersion.
#if !defined(QUILLDLL_NO_GETVERSION) || defined(QUILLDLL_BUILD)
QUILLDLL_API uint32_t GetVersion(uint32_t* major, uint32_t* minor, uint32_t* release, uint32_t* build);
#endif
// Opens a codec; *handle is null on any failure.
QUILLDLL_API uint32_t Open(void** handle, const QuillDll::CODECINFO* info);
// Pushes min(inFrames, outFrames) frames through the codec; *processed (when
// not null) receives that count. Null buffers are allowed with zero counts.
QUILLDLL_API uint32_t EncodeAndDecode(void* handle, void* out, uint32_t outFrames, void* in, uint32_t inFrames,
                                      uint32_t* processed);
// Releases the codec and frees the handle.
QUILLDLL_API uint32_t Close(void* handle);
