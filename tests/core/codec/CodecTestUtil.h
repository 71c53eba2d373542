// Helpers shared by the codec library's unit tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

// A reproducible test signal: a sine sweep with noise, `channels` interleaved.
inline std::vector<int16_t> TestSignal(size_t frames, int channels, uint32_t seed = 1, double amplitude = 12000.0) {
  std::vector<int16_t> pcm(frames * static_cast<size_t>(channels));
  uint32_t noise = seed;
  double phase = 0.0;
  for (size_t i = 0; i < frames; ++i) {
    phase += 0.01 + 0.2 * static_cast<double>(i % 4096) / 4096.0;
    for (int c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double n = static_cast<double>(static_cast<int32_t>(noise >> 16) - 32768) / 32768.0;
      double s = amplitude * ((c == 0 ? 1.0 : 0.7) * std::sin(phase * (1.0 + c)) + 0.1 * n);
      pcm[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] = static_cast<int16_t>(s);
    }
  }
  return pcm;
}
