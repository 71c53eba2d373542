// Speed of the capture path, as seconds of sound per second of CPU
// ("x_realtime"): the spline converter from 48000 to 32728 Hz stereo in
// blocks of several sizes, both converters from 48000, 44100 and 96000 Hz to
// 32728 Hz in 10 ms blocks, the fold of a 7.1 float or mono endpoint to
// stereo, and quillcodec's path over a generated 2-minute 48 kHz file for
// each wave format.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "QuillCodec.h"
#include "capture/Adpcm.h"
#include "capture/ChannelMix.h"
#include "capture/RateConverter.h"
#include "capture/BlockPipeline.h"
#include "capture/SoundResampler.h"
#include "capture/WaveDecoder.h"

namespace {

// Something like music: a few partials with slow vibrato and some noise.
std::vector<int16_t> MakeSignal(uint32_t rate, uint32_t frames) {
  std::vector<int16_t> s(static_cast<size_t>(frames) * 2);
  const double pi = 3.14159265358979323846;
  uint32_t noise = 12345;
  for (uint32_t i = 0; i < frames; ++i) {
    double t = static_cast<double>(i) / rate;
    double v = 0.0;
    const double partials[] = {220.0, 330.0, 440.0, 1250.0, 3100.0, 7000.0};
    for (int k = 0; k < 6; ++k) {
      v += 3000.0 / (k + 1) * std::sin(2 * pi * partials[k] * t + 0.5 * std::sin(2 * pi * 0.3 * t * (k + 1)));
    }
    noise = noise * 1664525u + 1013904223u;
    double n = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 600.0;
    s[2 * static_cast<size_t>(i)] = static_cast<int16_t>(v + n);
    s[2 * static_cast<size_t>(i) + 1] = static_cast<int16_t>(0.8 * v - n);
  }
  return s;
}

void ConverterFrom48000To32728(benchmark::State& state) {
  const uint32_t block = static_cast<uint32_t>(state.range(0));
  std::vector<int16_t> input = MakeSignal(48000, 48000);
  SoundResampler converter;
  converter.Setup(48000, 32728, 2);
  std::vector<int16_t> output(static_cast<size_t>(block) * 2);
  uint64_t frames = 0;
  size_t at = 0;
  for (auto _ : state) {
    if (at + block > 48000) at = 0;
    uint32_t bytes = 0;
    converter.Convert(input.data() + at * 2, block * capture::BYTES_PER_FRAME, output.data(), &bytes);
    benchmark::DoNotOptimize(output.data());
    at += block;
    frames += block;
  }
  state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(frames) / 48000.0, benchmark::Counter::kIsRate);
}
BENCHMARK(ConverterFrom48000To32728)->Arg(480)->Arg(960)->Arg(4800);

// Either converter (0 windowed sinc, 1 spline) from the given rate to 32728
// Hz, stereo, in 10 ms blocks, as a Core Audio source delivers them.
void ConverterTo32728(benchmark::State& state) {
  const ConverterKind kind = ConverterKindFromValue(static_cast<uint32_t>(state.range(0)));
  const uint32_t rate = static_cast<uint32_t>(state.range(1));
  const uint32_t block = rate / 100;
  state.SetLabel(kind == ConverterKind::SINC ? "sinc" : "spline");
  std::vector<int16_t> input = MakeSignal(rate, rate);
  RateConverter converter;
  converter.SetKind(kind);
  converter.Setup(rate, 32728, 2);
  // 32728 Hz is below every input rate: fewer frames out than in.
  std::vector<int16_t> output(static_cast<size_t>(block) * 2 + 4);
  uint64_t frames = 0;
  size_t at = 0;
  for (auto _ : state) {
    if (at + block > rate) at = 0;
    uint32_t bytes = 0;
    converter.Convert(input.data() + at * 2, block * capture::BYTES_PER_FRAME, output.data(), &bytes);
    benchmark::DoNotOptimize(output.data());
    at += block;
    frames += block;
  }
  state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(frames) / rate, benchmark::Counter::kIsRate);
}
BENCHMARK(ConverterTo32728)->ArgsProduct({{0, 1}, {48000, 44100, 96000}});

// The Core Audio worker's fold of an endpoint's mix format to stereo 16-bit,
// in packets of 10 ms at 48000 Hz: 7.1 float (a surround loopback endpoint)
// and mono 16-bit (a microphone).
void MixToStereo(benchmark::State& state) {
  capture::ChannelMixer::Format format;
  const bool surround = state.range(0) == 8;
  format.tag = surround ? capture::FORMAT_TAG_EXTENSIBLE : capture::FORMAT_TAG_PCM;
  format.subFormat = capture::FORMAT_TAG_FLOAT;
  format.channels = static_cast<uint16_t>(state.range(0));
  format.bitsPerSample = surround ? 32 : 16;
  format.blockAlign = static_cast<uint16_t>(format.channels * format.bitsPerSample / 8);
  format.channelMask = surround ? capture::LAYOUT_7_1 : 0;
  capture::ChannelMixer mixer;
  if (!mixer.Setup(format)) {
    state.SkipWithError("format refused");
    return;
  }
  constexpr uint32_t kFrames = 480;
  const std::vector<int16_t> signal = MakeSignal(48000, kFrames * format.channels / 2 + 1);
  std::vector<uint8_t> packet(static_cast<size_t>(kFrames) * format.blockAlign);
  for (size_t i = 0; i < static_cast<size_t>(kFrames) * format.channels; ++i) {
    if (surround) {
      const float f = static_cast<float>(signal[i]) / 32768.0f;
      memcpy(packet.data() + i * 4, &f, 4);
    } else {
      memcpy(packet.data() + i * 2, &signal[i], 2);
    }
  }
  std::vector<int16_t> output(static_cast<size_t>(kFrames) * 2);
  uint64_t frames = 0;
  for (auto _ : state) {
    mixer.Mix(packet.data(), kFrames, output.data());
    benchmark::DoNotOptimize(output.data());
    frames += kFrames;
  }
  state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(frames) / 48000.0, benchmark::Counter::kIsRate);
}
BENCHMARK(MixToStereo)->Arg(8)->Arg(1);

// A 2-minute 48 kHz file, written once and decoded by every run.
const std::string& TwoMinuteFile() {
  static const std::string path = [] {
    std::string p = "bench_capture_2min.wav";
    WriteWave16(p, MakeSignal(48000, 48000 * 120), 48000);
    return p;
  }();
  return path;
}

void Quillcodec(benchmark::State& state) {
  const int32_t format = static_cast<int32_t>(state.range(0));
  state.SetLabel(WaveFormatName(format));
  Adpcm adpcm;
  if (format == WAVEFMT_ADPCM) adpcm.Load();
  if (format == WAVEFMT_ADPCM && !adpcm.IsLoaded()) {
    state.SkipWithError("no WaveCodecKav library beside the benchmark");
    return;
  }
  const std::string& path = TwoMinuteFile();
  double seconds = 0.0;
  for (auto _ : state) {
    WaveData wave;
    if (!ReadWaveFile(path, &wave)) {
      state.SkipWithError("the generated file cannot be read");
      return;
    }
    CodecPassResult result;
    std::string error;
    if (!RunCodecPass(wave, 32728, format, &adpcm, QuillDllFunctions(), &result, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(result.output.data());
    seconds += static_cast<double>(wave.frames) / wave.samplingRate;
  }
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(Quillcodec)->DenseRange(WAVEFMT_PCM, WAVEFMT_CRI_HCA_LOWEST)->Unit(benchmark::kSecond)->Iterations(2);

}  // namespace
