// The names of the stream's wave formats, by code: the entries of the
// WaveFormat setting's full list and of its settings-file value, the code
// being the record's waveFormat field (0 PCM, 1 ADPCM, 2 CRI ADX, 3 to 7 CRI
// HCA HIGHEST to LOWEST). The capture's WaveFormatName reads the same table.
#pragma once

#include <cstdint>

constexpr uint32_t WAVE_FORMAT_COUNT = 8;
inline constexpr const char* WAVE_FORMAT_NAMES[WAVE_FORMAT_COUNT] = {
    "PCM", "ADPCM", "CRI ADX", "CRI HCA HIGHEST", "CRI HCA HIGH", "CRI HCA MIDDLE", "CRI HCA LOW", "CRI HCA LOWEST",
};
