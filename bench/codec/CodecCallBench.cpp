// QuillDll's exports called exactly as the program calls them: one
// EncodeAndDecode per captured block of 654 frames (20 ms of stereo 16-bit at
// 32728 Hz), on one thread, for every codec format; and the same in large
// calls (16384 frames, half a second), where the per-call work weighs little.
//
// Arguments: format (the wave format's index: 2 CRI ADX, 3 CRI HCA HIGHEST
// .. 7 CRI HCA LOWEST), signal (0 a 5 s sweep, 1 seeded noise), frames per
// call. x_realtime: seconds of sound per second of the thread's CPU time;
// allocs_per_call: heap allocations made by the calls (operator new of this
// program serves the library too). Each is reported as the median of five
// runs and as their best ("_max").
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "AllocationCount.h"
#include "QuillDll.h"

namespace {

constexpr double RATE = 32728.0;
constexpr size_t SIGNAL_FRAMES = 5 * 32728;  // 5 s, played in a loop

// An exponential sweep from 50 Hz to 15 kHz, the right side at 0.7 of the left.
std::vector<int16_t> Sweep() {
  std::vector<int16_t> pcm(2 * SIGNAL_FRAMES);
  const double seconds = SIGNAL_FRAMES / RATE;
  const double k = std::log(15000.0 / 50.0) / seconds;
  for (size_t i = 0; i < SIGNAL_FRAMES; ++i) {
    const double t = static_cast<double>(i) / RATE;
    const double s = std::sin(2.0 * 3.14159265358979323846 * 50.0 * (std::exp(k * t) - 1.0) / k);
    pcm[2 * i] = static_cast<int16_t>(16000.0 * s);
    pcm[2 * i + 1] = static_cast<int16_t>(11200.0 * s);
  }
  return pcm;
}

// Seeded white noise, the two sides sharing half of it.
std::vector<int16_t> Noise() {
  std::vector<int16_t> pcm(2 * SIGNAL_FRAMES);
  uint32_t state = 20240611u;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(static_cast<int32_t>(state)) / 2147483648.0;
  };
  for (size_t i = 0; i < SIGNAL_FRAMES; ++i) {
    const double common = next();
    pcm[2 * i] = static_cast<int16_t>(8000.0 * (common + next()));
    pcm[2 * i + 1] = static_cast<int16_t>(8000.0 * (common + next()));
  }
  return pcm;
}

QuillDll::CODECINFO InfoOf(int waveFormat) {
  if (waveFormat == 2) return QuillDll::CODECINFO{QuillDll::CODEC_ADX, 2, 2, 0, RATE};
  // The program's rule: quality = 8 - the wave format's index.
  return QuillDll::CODECINFO{QuillDll::CODEC_HCA, 2, 2, static_cast<uint16_t>(8 - waveFormat), RATE};
}

// The signal with its first MAX_CALL frames repeated after its end, so that
// a call starting anywhere in the loop reads contiguous frames.
constexpr uint32_t MAX_CALL = 16384;
std::vector<int16_t> Looped(std::vector<int16_t> pcm) {
  pcm.insert(pcm.end(), pcm.begin(), pcm.begin() + 2 * MAX_CALL);
  return pcm;
}

void BM_CodecCall(benchmark::State& state) {
  static const std::vector<int16_t> signals[2] = {Looped(Sweep()), Looped(Noise())};
  const int format = static_cast<int>(state.range(0));
  const std::vector<int16_t>& in = signals[state.range(1)];
  const auto frames = static_cast<uint32_t>(state.range(2));
  const QuillDll::CODECINFO info = InfoOf(format);
  void* handle = nullptr;
  if (frames > MAX_CALL || Open(&handle, &info) != QuillDll::RESULT_SUCCESS) {
    state.SkipWithError("Open failed");
    return;
  }
  std::vector<int16_t> out(2 * static_cast<size_t>(frames));
  size_t at = 0;
  uint32_t processed = 0;
  // The pipeline filled and every buffer touched once.
  for (int i = 0; i < 8; ++i) {
    EncodeAndDecode(handle, out.data(), frames, const_cast<int16_t*>(&in[2 * at]), frames, &processed);
    at = (at + frames) % SIGNAL_FRAMES;
  }

  AllocationCount_Start();
  for (auto _ : state) {
    EncodeAndDecode(handle, out.data(), frames, const_cast<int16_t*>(&in[2 * at]), frames, &processed);
    benchmark::DoNotOptimize(out.data());
    at = (at + frames) % SIGNAL_FRAMES;
  }
  const long allocations = AllocationCount_Stop();
  Close(handle);

  const auto calls = static_cast<double>(state.iterations());
  state.counters["x_realtime"] = benchmark::Counter(calls * frames / RATE, benchmark::Counter::kIsRate);
  state.counters["allocs_per_call"] = static_cast<double>(allocations) / calls;
}

void Formats(benchmark::internal::Benchmark* b) {
  for (int64_t frames : {654, 16384})
    for (int64_t format = 2; format <= 7; ++format)
      for (int64_t signal : {0, 1}) b->Args({format, signal, frames});
}

// The machine is shared (other builds run on its other core), so each figure
// is measured five times: the median, and the best ("max" of x_realtime),
// which is what the code does when nothing else runs beside it.
double Best(const std::vector<double>& values) {
  return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

BENCHMARK(BM_CodecCall)
    ->Apply(Formats)
    ->ArgNames({"format", "signal", "frames"})
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("max", Best);

}  // namespace
