#include "capture/Adpcm.h"

#include <cstddef>
#include <vector>

#include "platform/Platform.h"
#include "support/Diag.h"
#include "support/Log.h"
#include "support/Strings.h"

Adpcm::~Adpcm() {
  Unload();
}

void Adpcm::Load() {
  // Always beside the program: never the current folder or the search path.
  LoadFrom(GetDirectory(platform::GetProgramPath()));
}

void Adpcm::LoadFrom(const std::string& folder) {
  QASSERT(m_library.Get() == NULL);
  std::string path = folder + LIBRARY_NAME;
  m_library.Reset(platform::LoadLibraryFile(path.c_str()));
  if (m_library.Get() == nullptr) {
    Log("LoadLibrary WaveCodecKav.dll failed\n");
    return;
  }

  // Every lookup runs and reports its own failure; the first failure frees
  // the library, so the lookups after it fail too.
  static const char* const names[] = {"getBytesForAdpcmBuffer",
                                      "getBytesForAdpcmSamples",
                                      "getBytesForPcmBuffer",
                                      "getBytesForPcmSamples",
                                      "encode",
                                      "decode"};
  void* found[6] = {};
  for (int i = 0; i < 6; ++i) {
    found[i] = platform::GetSymbol(m_library.Get(), names[i]);
    if (found[i] == nullptr) {
      Log("GetProcAddress %s failed\n", names[i]);
      m_library.Reset();
    }
  }
  if (m_library.Get() == nullptr) return;
  getBytesForAdpcmBuffer = reinterpret_cast<GetBytesFunction>(found[0]);
  getBytesForAdpcmSamples = reinterpret_cast<GetBytesFunction>(found[1]);
  getBytesForPcmBuffer = reinterpret_cast<GetBytesFunction>(found[2]);
  getBytesForPcmSamples = reinterpret_cast<GetBytesFunction>(found[3]);
  encode = reinterpret_cast<EncodeFunction>(found[4]);
  decode = reinterpret_cast<DecodeFunction>(found[5]);
}

void Adpcm::Unload() {
  m_library.Reset();
  getBytesForAdpcmBuffer = getBytesForAdpcmSamples = getBytesForPcmBuffer = getBytesForPcmSamples = nullptr;
  encode = nullptr;
  decode = nullptr;
}

void Adpcm::EncodeDecode(int16_t* frames, int32_t count, int32_t channels, const int16_t* history, int32_t cut) const {
  QASSERT(IsLoaded());
  if (count <= 0 || channels <= 0 || cut < 0) return;
  const uint32_t total = static_cast<uint32_t>(count) + 2u * static_cast<uint32_t>(cut);
  const size_t stride = static_cast<size_t>(channels);
  std::vector<int16_t> mono(total);
  std::vector<uint8_t> encoded;
  std::vector<int16_t> decoded;

  for (int32_t c = 0; c < channels; ++c) {
    // The channel's history (oldest first), then its samples of the block.
    size_t k = 0;
    for (int32_t i = 0; i < 2 * cut; ++i) mono[k++] = history[static_cast<size_t>(i) * stride + c];
    for (int32_t i = 0; i < count; ++i) mono[k++] = frames[static_cast<size_t>(i) * stride + c];

    // Each pass starts from a fresh codec state; the state block is the
    // library's own, filled by encode and read by decode.
    alignas(8) uint8_t state[STATE_BYTES];
    encoded.assign(getBytesForAdpcmBuffer(total), 0);
    encode(mono.data(), encoded.data(), state, total);

    // Room for what the library asks, and never less than the samples read back.
    size_t pcmBytes = getBytesForPcmBuffer(total);
    size_t pcmSamples = (pcmBytes + 1) / 2;
    if (pcmSamples < total) pcmSamples = total;
    decoded.assign(pcmSamples, 0);
    decode(encoded.data(), decoded.data(), state, total);

    for (int32_t i = 0; i < count; ++i) frames[static_cast<size_t>(i) * stride + c] = decoded[cut + i];
  }
}
