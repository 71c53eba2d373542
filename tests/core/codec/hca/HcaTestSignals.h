// Test signals and measurements for the HCA tests.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

namespace hcatest {

constexpr double PI = 3.14159265358979323846;

// Interleaved stereo 16-bit frames of a sine (same in both channels).
inline std::vector<int16_t> StereoSine(size_t frames, double hz, double rate, double amplitude) {
  std::vector<int16_t> pcm(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    auto v = static_cast<int16_t>(std::lround(amplitude * 32767.0 * std::sin(2.0 * PI * hz * i / rate)));
    pcm[2 * i] = v;
    pcm[2 * i + 1] = v;
  }
  return pcm;
}

// Interleaved stereo 16-bit frames of a sweep rising exponentially from f0 to
// f1 Hz over the frames (same in both channels).
inline std::vector<int16_t> StereoSweep(size_t frames, double f0, double f1, double rate, double amplitude) {
  std::vector<int16_t> pcm(frames * 2);
  const double seconds = static_cast<double>(frames) / rate;
  const double k = std::log(f1 / f0) / seconds;
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double phase = 2.0 * PI * f0 * (std::exp(k * t) - 1.0) / k;
    auto v = static_cast<int16_t>(std::lround(amplitude * 32767.0 * std::sin(phase)));
    pcm[2 * i] = v;
    pcm[2 * i + 1] = v;
  }
  return pcm;
}

// Broadband stereo test signal: noise shaped to fall by about 3 dB per octave
// (a pink-like spectrum, as music has), partly correlated between channels.
inline std::vector<int16_t> StereoBroadband(size_t frames, uint32_t seed, double amplitude) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<int16_t> pcm(frames * 2);
  // Paul Kellet's economy pink filter per channel, mixed with a common part.
  double b[2][3] = {};
  for (size_t i = 0; i < frames; ++i) {
    double common = normal(rng);
    for (int c = 0; c < 2; ++c) {
      double white = 0.6 * common + 0.4 * normal(rng);
      b[c][0] = 0.99765 * b[c][0] + white * 0.0990460;
      b[c][1] = 0.96300 * b[c][1] + white * 0.2965164;
      b[c][2] = 0.57000 * b[c][2] + white * 1.0526913;
      double pink = (b[c][0] + b[c][1] + b[c][2] + white * 0.1848) * 0.11;
      double v = amplitude * 32767.0 * pink;
      if (v > 32767.0) v = 32767.0;
      if (v < -32768.0) v = -32768.0;
      pcm[2 * i + c] = static_cast<int16_t>(std::lround(v));
    }
  }
  return pcm;
}

// Signal-to-noise ratio in dB of `decoded` against `reference`, both
// interleaved, comparing reference frame i with decoded frame i + delay for
// reference frames [from, to); over every channel, or over channel `only`.
inline double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded, size_t channels,
                    size_t delay, size_t from, size_t to, int only = -1) {
  double signal = 0.0;
  double noise = 0.0;
  for (size_t i = from; i < to; ++i) {
    for (size_t c = 0; c < channels; ++c) {
      if (only >= 0 && c != static_cast<size_t>(only)) continue;
      double r = reference[i * channels + c];
      double d = decoded[(i + delay) * channels + c];
      signal += r * r;
      noise += (r - d) * (r - d);
    }
  }
  if (noise == 0.0) return 200.0;
  return 10.0 * std::log10(signal / noise);
}

// The tone at `hz` in a signal sampled at `rate`, as a phasor: its
// projection on the tone's cosine and sine, scaled so that the magnitude is
// the tone's amplitude. Two channels' phasors of one tone give that tone's
// correlation between them: cos of the angle between the phasors.
inline std::complex<double> TonePhasor(const std::vector<double>& x, double hz, double rate) {
  double s = 0.0;
  double c = 0.0;
  for (size_t i = 0; i < x.size(); ++i) {
    const double phase = 2.0 * PI * hz * static_cast<double>(i) / rate;
    s += x[i] * std::sin(phase);
    c += x[i] * std::cos(phase);
  }
  return std::complex<double>(c, s) * (2.0 / static_cast<double>(x.size()));
}

// Amplitude of the tone at `hz` in a signal sampled at `rate`.
inline double ToneAmplitude(const std::vector<double>& x, double hz, double rate) {
  return std::abs(TonePhasor(x, hz, rate));
}

}  // namespace hcatest
