// The HCA pass of the stream: EncodeAndDecode on 32728 Hz stereo at each
// quality, in 20 ms calls as a capture source makes them. "x_realtime" is
// seconds of sound per second of wall-clock time on one core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "QuillDll.h"

namespace {

constexpr double RATE = 32728.0;
constexpr uint32_t FRAMES = 32728;  // one second
constexpr uint32_t CALL = 655;      // 20 ms

// One second of music-like stereo: a few tones over shaped noise.
std::vector<int16_t> Signal() {
  std::mt19937 rng(1234);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<int16_t> pcm(2 * FRAMES);
  double lowL = 0.0, lowR = 0.0;
  for (uint32_t i = 0; i < FRAMES; ++i) {
    double t = i / RATE;
    double tones = 0.3 * std::sin(2 * 3.14159265 * 220 * t) + 0.15 * std::sin(2 * 3.14159265 * 1760 * t);
    lowL = 0.9 * lowL + 0.1 * normal(rng);
    lowR = 0.9 * lowR + 0.1 * normal(rng);
    pcm[2 * i] = static_cast<int16_t>(8000 * (tones + 0.5 * lowL + 0.02 * normal(rng)));
    pcm[2 * i + 1] = static_cast<int16_t>(8000 * (0.8 * tones + 0.5 * lowR + 0.02 * normal(rng)));
  }
  return pcm;
}

void BM_HcaEncodeAndDecode(benchmark::State& state) {
  static const std::vector<int16_t> input = Signal();
  QuillDll::CODECINFO info{};
  info.codec = QuillDll::CODEC_HCA;
  info.channels = 2;
  info.bytesPerSample = 2;
  info.quality = static_cast<uint16_t>(state.range(0));
  info.samplingRate = RATE;
  void* handle = nullptr;
  if (Open(&handle, &info) != QuillDll::RESULT_SUCCESS) {
    state.SkipWithError("Open failed");
    return;
  }
  std::vector<int16_t> in = input;
  std::vector<int16_t> out(2 * CALL);
  for (auto _ : state) {
    for (uint32_t at = 0; at + CALL <= FRAMES; at += CALL) {
      uint32_t processed = 0;
      EncodeAndDecode(handle, out.data(), CALL, &in[2 * at], CALL, &processed);
      benchmark::DoNotOptimize(out.data());
    }
  }
  Close(handle);
  const double seconds = (FRAMES / CALL) * CALL / RATE;
  state.counters["x_realtime"] =
      benchmark::Counter(seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

// 1 = "CRI HCA LOWEST" ... 5 = "CRI HCA HIGHEST".
BENCHMARK(BM_HcaEncodeAndDecode)->DenseRange(1, 5)->UseRealTime()->Unit(benchmark::kMillisecond);
