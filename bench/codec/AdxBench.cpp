// The ADX pass of a stream block through QuillDll: x_realtime is seconds of
// sound per second of CPU; allocs_per_call counts heap allocations made by
// the calls (operator new of this program serves the library too).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "AllocationCount.h"
#include "QuillDll.h"

namespace {

constexpr double RATE = 32728.0;
constexpr uint32_t BLOCK = 654;

void BM_AdxEncodeAndDecode(benchmark::State& state) {
  const auto channels = static_cast<uint16_t>(state.range(0));
  QuillDll::CODECINFO info{QuillDll::CODEC_ADX, channels, 2, 0, RATE};
  void* handle = nullptr;
  if (Open(&handle, &info) != QuillDll::RESULT_SUCCESS) {
    state.SkipWithError("Open failed");
    return;
  }
  // One second of a moving tone with a little noise, played in a loop.
  const size_t frames = static_cast<size_t>(RATE) / BLOCK * BLOCK;
  std::vector<int16_t> in(frames * channels);
  uint32_t noise = 1;
  for (size_t i = 0; i < frames; ++i) {
    for (size_t c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double t = static_cast<double>(i) / RATE;
      const double s = 12000.0 * std::sin(2.0 * 3.14159265 * (220.0 + 400.0 * t) * t * (1.0 + 0.5 * c)) +
                       500.0 * (static_cast<double>(noise >> 16) / 32768.0 - 1.0);
      in[i * channels + c] = static_cast<int16_t>(s);
    }
  }
  std::vector<int16_t> out(BLOCK * channels);
  size_t at = 0;
  uint32_t processed = 0;
  for (int i = 0; i < 16; ++i) {
    EncodeAndDecode(handle, out.data(), BLOCK, &in[at * channels], BLOCK, &processed);
    at = (at + BLOCK) % frames;
  }

  AllocationCount_Start();
  for (auto _ : state) {
    EncodeAndDecode(handle, out.data(), BLOCK, &in[at * channels], BLOCK, &processed);
    benchmark::DoNotOptimize(out.data());
    at = (at + BLOCK) % frames;
  }
  const long allocations = AllocationCount_Stop();
  Close(handle);

  const auto calls = static_cast<double>(state.iterations());
  state.counters["x_realtime"] = benchmark::Counter(calls * BLOCK / RATE, benchmark::Counter::kIsRate);
  state.counters["allocs_per_call"] = static_cast<double>(allocations) / calls;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * BLOCK);
}

BENCHMARK(BM_AdxEncodeAndDecode)->Arg(2)->Arg(1)->ArgName("channels");

}  // namespace
