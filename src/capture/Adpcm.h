// Adapter for the platform's wave-codec library (WaveCodecKav.dll), which
// holds the device's ADPCM encoder and decoder. Loaded once at start-up from
// the program's own folder; when it is missing or incomplete the adapter stays
// unloaded and the "ADPCM" wave format is not offered.
#pragma once

#include <cstdint>
#include <cstddef>
#include <string>

#include "platform/Platform.h"

class Adpcm {
 public:
  // The library's functions (C calling convention).
  using GetBytesFunction = uint32_t (*)(uint32_t samples);
  using EncodeFunction = uint32_t (*)(const int16_t* pcm, void* adpcm, void* state, uint32_t samples);
  using DecodeFunction = uint32_t (*)(const void* adpcm, int16_t* pcm, void* state, uint32_t samples);

  // The library's file name, looked for beside the program.
  static constexpr const char* LIBRARY_NAME = "WaveCodecKav.dll";
  // Bytes of the codec state block that encode fills for decode.
  static constexpr size_t STATE_BYTES = 48;

  Adpcm() = default;
  Adpcm(const Adpcm&) = delete;
  Adpcm& operator=(const Adpcm&) = delete;
  virtual ~Adpcm();

  // Loads the library from the folder of the running program.
  void Load();
  // Loads the library from folder (ending in a separator). Tests use it with
  // folders of their own.
  void LoadFrom(const std::string& folder);
  void Unload();
  bool IsLoaded() const { return m_library.Get() != nullptr; }

  // Replaces count interleaved frames of channels samples by their ADPCM
  // encode-and-decode pass, delayed by cut frames. history holds the 2 x cut
  // frames that preceded the block in the stream. Only while loaded.
  // Any thread; calls do not share state.
  void EncodeDecode(int16_t* frames, int32_t count, int32_t channels, const int16_t* history, int32_t cut) const;

 private:
  platform::Library m_library;  // null when not loaded
  GetBytesFunction getBytesForAdpcmBuffer = nullptr;
  GetBytesFunction getBytesForAdpcmSamples = nullptr;
  GetBytesFunction getBytesForPcmBuffer = nullptr;
  GetBytesFunction getBytesForPcmSamples = nullptr;
  EncodeFunction encode = nullptr;
  DecodeFunction decode = nullptr;
};
