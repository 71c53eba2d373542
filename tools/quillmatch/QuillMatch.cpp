#include "QuillMatch.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>

namespace quillmatch {

namespace {

constexpr double PI = 3.14159265358979323846;

struct FileCloser {
  void operator()(FILE* f) const {
    if (f != nullptr) fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

// In-place radix-2 transform; the size is a power of two.
void Fft(std::vector<std::complex<double>>* data, bool inverse) {
  std::vector<std::complex<double>>& a = *data;
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = 2.0 * PI / static_cast<double>(len) * (inverse ? 1.0 : -1.0);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0, 0.0);
      for (size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = a[i + k];
        const std::complex<double> v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= step;
      }
    }
  }
}

std::vector<double> Channel(const Wave& wave, int channel) {
  std::vector<double> out(wave.Frames());
  const uint32_t c = static_cast<uint32_t>(channel) < wave.channels ? static_cast<uint32_t>(channel) : 0;
  for (size_t i = 0; i < out.size(); ++i) out[i] = wave.samples[i * wave.channels + c] / 32768.0;
  return out;
}

// Windowed-sinc interpolation: the kernel for one fraction of a frame, and x
// read through it at (index + fraction).
constexpr int TAPS = 32;  // on each side
struct Kernel {
  double w[2 * TAPS];
  explicit Kernel(double frac) {
    for (int k = -TAPS + 1; k <= TAPS; ++k) {
      const double d = k - frac;
      const double sinc = std::fabs(d) < 1e-12 ? 1.0 : std::sin(PI * d) / (PI * d);
      const double window = 0.42 + 0.5 * std::cos(PI * d / TAPS) + 0.08 * std::cos(2.0 * PI * d / TAPS);
      w[k + TAPS - 1] = sinc * window;
    }
  }
  double At(const std::vector<double>& x, long long index) const {
    double sum = 0.0;
    const long long size = static_cast<long long>(x.size());
    if (index - TAPS + 1 >= 0 && index + TAPS < size) {
      const double* p = x.data() + (index - TAPS + 1);
      for (int k = 0; k < 2 * TAPS; ++k) sum += p[k] * w[k];
      return sum;
    }
    for (int k = -TAPS + 1; k <= TAPS; ++k) {
      const long long i = index + k;
      if (i >= 0 && i < size) sum += x[static_cast<size_t>(i)] * w[k + TAPS - 1];
    }
    return sum;
  }
};

// Gain and SNR of rec against ref placed at the lag, over the overlap; every
// stride-th frame only (a coarse look while searching the lag).
ChannelMatch Measure(const std::vector<double>& ref, const std::vector<double>& rec, double lag, size_t stride) {
  // Recording frame m holds reference position m - lag = (m - base) - frac.
  const double base = std::ceil(lag);
  const Kernel kernel(base - lag);
  const long long shift = static_cast<long long>(base);
  const long long first = std::max(0LL, shift);
  const long long last = std::min(static_cast<long long>(rec.size()), shift + static_cast<long long>(ref.size()));
  double rr = 0.0, rx = 0.0, xx = 0.0;
  for (long long m = first; m < last; m += static_cast<long long>(stride)) {
    const double r = kernel.At(ref, m - shift);
    const double x = rec[static_cast<size_t>(m)];
    rr += r * r;
    rx += r * x;
    xx += x * x;
  }
  ChannelMatch match;
  if (rr <= 0.0) return match;
  match.gain = rx / rr;
  const double signal = match.gain * match.gain * rr;
  const double error = std::max(xx - 2.0 * match.gain * rx + signal, signal * 1e-15);
  match.snrDb = 10.0 * std::log10(signal / error);
  return match;
}

// Sum of both channels' SNR in power ratio: the objective of the lag search.
double Score(const std::vector<double> ref[2], const std::vector<double> rec[2], double lag, size_t stride) {
  return Measure(ref[0], rec[0], lag, stride).snrDb + Measure(ref[1], rec[1], lag, stride).snrDb;
}

double SweepPhase(double f0, double f1, double seconds, double t) {
  return 2.0 * PI * (f0 * t + (f1 - f0) * t * t / (2.0 * seconds));
}

}  // namespace

bool ReadWave(const std::string& path, Wave* wave, std::string* error) {
  FilePtr file(fopen(path.c_str(), "rb"));
  if (!file) {
    *error = "cannot open " + path;
    return false;
  }
  std::vector<uint8_t> data;
  uint8_t buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
    if (data.size() > (size_t{1} << 31)) {
      *error = path + " is too large";
      return false;
    }
    data.insert(data.end(), buffer, buffer + got);
  }
  if (data.size() < 12 || memcmp(data.data(), "RIFF", 4) != 0 || memcmp(data.data() + 8, "WAVE", 4) != 0) {
    *error = path + " is not a wave file";
    return false;
  }
  bool haveFormat = false;
  uint16_t channels = 0, bits = 0, blockAlign = 0;
  uint32_t rate = 0;
  size_t pos = 12;
  while (pos + 8 <= data.size()) {
    const uint8_t* chunk = data.data() + pos;
    const size_t available = data.size() - pos - 8;
    const size_t size = std::min<size_t>(Get32(chunk + 4), available);
    if (memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16) break;
      const uint16_t tag = Get16(chunk + 8);
      channels = Get16(chunk + 10);
      rate = Get32(chunk + 12);
      blockAlign = Get16(chunk + 20);
      bits = Get16(chunk + 22);
      haveFormat = (tag == 1 || tag == 0xFFFE) && bits == 16 && (channels == 1 || channels == 2) &&
                   blockAlign == channels * 2 && rate > 0;
      if (!haveFormat) {
        *error = path + ": only 16-bit PCM with one or two channels is read";
        return false;
      }
    } else if (memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) break;
      const size_t frames = size / blockAlign;
      wave->rate = rate;
      wave->channels = channels;
      wave->samples.resize(frames * channels);
      for (size_t i = 0; i < wave->samples.size(); ++i)
        wave->samples[i] = static_cast<int16_t>(Get16(chunk + 8 + 2 * i));
      return true;
    }
    pos += 8 + size + (size & 1);
  }
  *error = path + ": no format or data chunk";
  return false;
}

bool WriteWave(const std::string& path, const Wave& wave, std::string* error) {
  const size_t bytes = wave.samples.size() * 2;
  if (wave.channels == 0 || bytes > 0xFFFFFF00u) {
    *error = "nothing to write";
    return false;
  }
  std::vector<uint8_t> out;
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  Put32(&out, static_cast<uint32_t>(36 + bytes));
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(&out, 16);
  Put16(&out, 1);
  Put16(&out, static_cast<uint16_t>(wave.channels));
  Put32(&out, wave.rate);
  Put32(&out, wave.rate * wave.channels * 2);
  Put16(&out, static_cast<uint16_t>(wave.channels * 2));
  Put16(&out, 16);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  Put32(&out, static_cast<uint32_t>(bytes));
  for (int16_t s : wave.samples) Put16(&out, static_cast<uint16_t>(s));
  FilePtr file(fopen(path.c_str(), "wb"));
  if (!file || fwrite(out.data(), 1, out.size(), file.get()) != out.size()) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

bool ParseSignal(const std::string& name, Signal* kind) {
  if (name == "sweep") {
    *kind = Signal::Sweep;
  } else if (name == "click") {
    *kind = Signal::Click;
  } else {
    return false;
  }
  return true;
}

double SignalValue(const SignalDesc& sig, int channel, double t) {
  if (t < 0.0 || t >= sig.seconds) return 0.0;
  if (sig.kind == Signal::Click) {
    const double d = t - sig.clickAt;
    if (d < 0.0 || d >= 0.002) return 0.0;
    const double envelope = std::sin(PI * d / 0.002);
    return 0.9 * envelope * std::sin(2.0 * PI * 1500.0 * d) * (channel == 0 ? 1.0 : -1.0);
  }
  const double fade = 0.02;
  double envelope = 1.0;
  if (t < fade) envelope = 0.5 - 0.5 * std::cos(PI * t / fade);
  if (sig.seconds - t < fade) envelope = 0.5 - 0.5 * std::cos(PI * (sig.seconds - t) / fade);
  const double phase =
      channel == 0 ? SweepPhase(150.0, 2500.0, sig.seconds, t) : SweepPhase(2000.0, 200.0, sig.seconds, t);
  return 0.5 * envelope * std::sin(phase);
}

Wave Generate(const SignalDesc& sig, uint32_t rate, double offset, double noise, uint32_t seed) {
  Wave wave;
  wave.rate = rate;
  wave.channels = 2;
  const int repeat = std::max(1, sig.repeat);
  const size_t frames = static_cast<size_t>(std::ceil((sig.seconds * repeat + offset) * rate));
  wave.samples.resize(frames * 2);
  uint32_t state = seed == 0 ? 1 : seed;
  auto uniform = [&state] {  // xorshift32, -0.5..0.5
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<double>(state) / 4294967296.0 - 0.5;
  };
  for (size_t i = 0; i < frames; ++i) {
    double t = static_cast<double>(i) / rate - offset;
    if (t >= sig.seconds && t < sig.seconds * repeat) t = std::fmod(t, sig.seconds);
    for (int c = 0; c < 2; ++c) {
      double v = SignalValue(sig, c, t);
      if (noise > 0.0) v += noise * std::sqrt(12.0) * uniform();
      const double s = std::max(-32768.0, std::min(32767.0, std::round(v * 32768.0)));
      wave.samples[i * 2 + static_cast<size_t>(c)] = static_cast<int16_t>(s);
    }
  }
  return wave;
}

Match Compare(const Wave& reference, const Wave& recording) {
  Match match;
  const size_t nref = reference.Frames();
  const size_t nrec = recording.Frames();
  if (nref < 64 || nrec < nref / 2 || reference.channels != 2 || recording.channels != 2) return match;
  const std::vector<double> ref[2] = {Channel(reference, 0), Channel(reference, 1)};
  const std::vector<double> rec[2] = {Channel(recording, 0), Channel(recording, 1)};

  // Cross-correlation of both channels at once through the transform; lags
  // from minus half the reference (the recording began late) up to where
  // half the reference is still inside the recording.
  size_t n = 1;
  while (n < nrec + nref) n <<= 1;
  std::vector<std::complex<double>> sum(n);
  for (int c = 0; c < 2; ++c) {
    std::vector<std::complex<double>> a(n), b(n);
    for (size_t i = 0; i < nrec; ++i) a[i] = rec[c][i];
    for (size_t i = 0; i < nref; ++i) b[i] = ref[c][i];
    Fft(&a, false);
    Fft(&b, false);
    for (size_t i = 0; i < n; ++i) sum[i] += a[i] * std::conj(b[i]);
  }
  Fft(&sum, true);
  long long best = 0;
  double bestValue = -1e300;
  const long long minLag = -static_cast<long long>(nref / 2);
  const long long maxLag = static_cast<long long>(nrec) - static_cast<long long>(nref / 2);
  for (long long lag = minLag; lag <= maxLag; ++lag) {
    const size_t index = lag >= 0 ? static_cast<size_t>(lag) : n - static_cast<size_t>(-lag);
    const double value = sum[index].real();
    if (value > bestValue) {
      bestValue = value;
      best = lag;
    }
  }
  if (bestValue <= 0.0) return match;

  // The fraction of a frame: a coarse grid on every eighth frame, then finer.
  double lag = static_cast<double>(best);
  double score = Score(ref, rec, lag, 8);
  for (double step : {0.1, 0.01}) {
    const double centre = lag;
    for (int k = -10; k <= 10; ++k) {
      const double candidate = centre + k * step;
      const double s = Score(ref, rec, candidate, 8);
      if (s > score) {
        score = s;
        lag = candidate;
      }
    }
  }
  match.found = true;
  match.lagFrames = lag;
  match.channel[0] = Measure(ref[0], rec[0], lag, 1);
  match.channel[1] = Measure(ref[1], rec[1], lag, 1);
  const double snr = std::pow(10.0, match.channel[0].snrDb / 10.0);
  match.correlation = std::sqrt(snr / (1.0 + snr));
  return match;
}

int64_t FindClick(const Wave& recording, double threshold, int64_t from) {
  const double limit = threshold * 32768.0;
  const size_t frames = recording.Frames();
  for (size_t i = from > 0 ? static_cast<size_t>(from) : 0; i < frames; ++i)
    for (uint32_t c = 0; c < recording.channels; ++c)
      if (std::fabs(static_cast<double>(recording.samples[i * recording.channels + c])) >= limit)
        return static_cast<int64_t>(i);
  return -1;
}

Levels MeasureLevels(const Wave& wave) {
  Levels levels;
  const size_t frames = wave.Frames();
  if (frames == 0) return levels;
  for (int c = 0; c < 2; ++c) {
    const uint32_t ch = static_cast<uint32_t>(c) < wave.channels ? static_cast<uint32_t>(c) : 0;
    double sum = 0.0, peak = 0.0;
    for (size_t i = 0; i < frames; ++i) {
      const double v = wave.samples[i * wave.channels + ch] / 32768.0;
      sum += v * v;
      peak = std::max(peak, std::fabs(v));
    }
    const double rms = std::sqrt(sum / static_cast<double>(frames));
    levels.rmsDbfs[c] = rms > 0.0 ? 20.0 * std::log10(rms) : -200.0;
    levels.peakDbfs[c] = peak > 0.0 ? 20.0 * std::log10(peak) : -200.0;
  }
  return levels;
}

namespace {

const char USAGE[] =
    "usage: quillmatch generate OUT.wav [--signal sweep|click] [--rate HZ] [--seconds S] [--click-at S]\n"
    "                  [--offset S] [--noise RMS]\n"
    "       quillmatch compare REFERENCE.wav RECORDING.wav [--min-snr DB]\n"
    "       quillmatch click RECORDING.wav [--threshold FRACTION] [--after FRAME]\n"
    "       quillmatch levels RECORDING.wav\n";

bool ParseDouble(const char* text, double* value) {
  char* end = nullptr;
  const double v = strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

}  // namespace

int Main(int argc, char** argv, FILE* out, FILE* err) {
  if (argc < 3) {
    fputs(USAGE, err);
    return 2;
  }
  const std::string verb = argv[1];
  std::vector<std::string> files;
  SignalDesc sig;
  double rate = 32728, offset = 0.0, noise = 0.0, minSnr = -1e9, threshold = 0.25, after = 0.0;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      if (i + 1 >= argc) {
        fprintf(err, "quillmatch: %s needs a value\n%s", arg.c_str(), USAGE);
        return 2;
      }
      const char* value = argv[++i];
      bool ok = true;
      if (arg == "--signal") {
        ok = ParseSignal(value, &sig.kind);
      } else if (arg == "--rate") {
        ok = ParseDouble(value, &rate) && rate >= 1000 && rate <= 384000;
      } else if (arg == "--seconds") {
        ok = ParseDouble(value, &sig.seconds) && sig.seconds > 0 && sig.seconds <= 600;
      } else if (arg == "--click-at") {
        ok = ParseDouble(value, &sig.clickAt) && sig.clickAt >= 0;
      } else if (arg == "--repeat") {
        double n = 0;
        ok = ParseDouble(value, &n) && n >= 1 && n <= 100 && n == std::floor(n);
        sig.repeat = static_cast<int>(n);
      } else if (arg == "--offset") {
        ok = ParseDouble(value, &offset) && offset >= 0 && offset <= 600;
      } else if (arg == "--noise") {
        ok = ParseDouble(value, &noise) && noise >= 0;
      } else if (arg == "--min-snr") {
        ok = ParseDouble(value, &minSnr);
      } else if (arg == "--after") {
        ok = ParseDouble(value, &after) && after >= 0 && after == std::floor(after);
      } else if (arg == "--threshold") {
        ok = ParseDouble(value, &threshold) && threshold > 0 && threshold <= 1;
      } else {
        ok = false;
      }
      if (!ok) {
        fprintf(err, "quillmatch: bad option %s %s\n%s", arg.c_str(), value, USAGE);
        return 2;
      }
    } else {
      files.push_back(arg);
    }
  }
  std::string error;
  if (verb == "generate" && files.size() == 1) {
    const Wave wave = Generate(sig, static_cast<uint32_t>(rate), offset, noise);
    if (!WriteWave(files[0], wave, &error)) {
      fprintf(err, "quillmatch: %s\n", error.c_str());
      return 1;
    }
    fprintf(out, "frames=%zu rate=%u\n", wave.Frames(), wave.rate);
    return 0;
  }
  if (verb == "compare" && files.size() == 2) {
    Wave reference, recording;
    if (!ReadWave(files[0], &reference, &error) || !ReadWave(files[1], &recording, &error)) {
      fprintf(err, "quillmatch: %s\n", error.c_str());
      return 1;
    }
    if (reference.rate != recording.rate) {
      fprintf(err, "quillmatch: the reference is at %u Hz, the recording at %u Hz\n", reference.rate, recording.rate);
      return 1;
    }
    const Match m = Compare(reference, recording);
    if (!m.found) {
      fprintf(out, "found=0 snr_db=-inf\n");
      return 1;
    }
    fprintf(out, "found=1 lag_frames=%.2f lag_s=%.4f gain_l=%.4f gain_r=%.4f snr_l_db=%.1f snr_r_db=%.1f snr_db=%.1f\n",
            m.lagFrames, m.lagFrames / recording.rate, m.channel[0].gain, m.channel[1].gain, m.channel[0].snrDb,
            m.channel[1].snrDb, m.SnrDb());
    return m.SnrDb() >= minSnr ? 0 : 1;
  }
  if (verb == "click" && files.size() == 1) {
    Wave recording;
    if (!ReadWave(files[0], &recording, &error)) {
      fprintf(err, "quillmatch: %s\n", error.c_str());
      return 1;
    }
    const int64_t frame = FindClick(recording, threshold, static_cast<int64_t>(after));
    fprintf(out, "click_frame=%lld click_s=%.4f\n", static_cast<long long>(frame),
            frame < 0 ? -1.0 : static_cast<double>(frame) / recording.rate);
    return frame < 0 ? 1 : 0;
  }
  if (verb == "levels" && files.size() == 1) {
    Wave wave;
    if (!ReadWave(files[0], &wave, &error)) {
      fprintf(err, "quillmatch: %s\n", error.c_str());
      return 1;
    }
    const Levels l = MeasureLevels(wave);
    fprintf(out, "frames=%zu rate=%u seconds=%.2f rms_l_dbfs=%.1f rms_r_dbfs=%.1f peak_l_dbfs=%.1f peak_r_dbfs=%.1f\n",
            wave.Frames(), wave.rate, static_cast<double>(wave.Frames()) / wave.rate, l.rmsDbfs[0], l.rmsDbfs[1],
            l.peakDbfs[0], l.peakDbfs[1]);
    return 0;
  }
  fputs(USAGE, err);
  return 2;
}

}  // namespace quillmatch
