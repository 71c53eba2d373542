#include "QuillCodec.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "StreamTap.h"
#include "capture/Adpcm.h"
#include "capture/BlockPipeline.h"
#include "support/File.h"

namespace {

// Collects the AUDIO packets of the codec pass: always connected.
class CollectingChannel : public PacketChannel {
 public:
  explicit CollectingChannel(std::vector<int16_t>* samples) : m_samples(samples) {}
  Status GetStatus() const override { return Status::CONNECTED; }
  bool Write(uint32_t type, const void* data, int32_t size) override {
    if (type != AUDIO || size <= 0) return true;
    const int16_t* s = static_cast<const int16_t*>(data);
    m_samples->insert(m_samples->end(), s, s + size / 2);
    return true;
  }

 private:
  std::vector<int16_t>* m_samples;
};

void PrintUsage(FILE* to) {
  fprintf(to,
          "usage: quillcodec [--format NAME] [--rate HZ] [--stream FILE] [--spline] IN.wav OUT.wav\n"
          "  Runs IN.wav through the path the device hears (conversion to HZ, then one\n"
          "  pass through the codec of NAME) and writes OUT.wav, 16-bit stereo at HZ.\n"
          "  NAME: \"PCM\" (default), \"ADPCM\", \"CRI ADX\", \"CRI HCA HIGHEST\", \"CRI HCA HIGH\",\n"
          "        \"CRI HCA MIDDLE\", \"CRI HCA LOW\", \"CRI HCA LOWEST\" (in any case)\n"
          "  HZ:   output rate, %d to %d (default %d)\n"
          "  --stream FILE: also write the compressed stream that the codec produced, as\n"
          "        the encoder wrote it (\"CRI ADX\": header and blocks; \"CRI HCA ...\": header\n"
          "        and frames); the other formats have no stream\n"
          "  --spline: convert with the cubic spline instead of the band-limited converter\n"
          "\n"
          "  On success one line: the frames read and their rate, the frames written and\n"
          "  their rate, the format, the delay, the SNR and the speed:\n"
          "    delay  frames by which OUT.wav lags IN.wav, as the path is built: the codec's\n"
          "           delay (PCM 0; ADPCM 100; CRI ADX 2048 less the first block's frames,\n"
          "           at most 1024; CRI HCA 1152) plus the converter's, which is 0 here:\n"
          "           the tool takes the converter's look-ahead out, so that output frame n\n"
          "           lies at the time of input frame n x IN's rate / HZ\n"
          "    SNR    OUT.wav against IN.wav converted to HZ, shifted by that delay: how\n"
          "           much of what the device plays is the codec's artefact\n"
          "    speed  seconds of sound converted and coded per second of this run\n"
          "\n"
          "  Exit codes: 0 done; 1 wrong command line (also when OUT.wav or FILE is\n"
          "  IN.wav); 2 IN.wav cannot be opened, is not a WAV file or is a WAV format\n"
          "  that cannot be read; 3 OUT.wav or FILE cannot be written, or the codec\n"
          "  cannot be opened.\n",
          QUILLCODEC_MIN_RATE, QUILLCODEC_MAX_RATE, QUILLCODEC_DEFAULT_RATE);
}

// The wave format of a name, in any case; -1 for none.
int32_t FormatFromName(const std::string& name) {
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  for (int32_t code = 0; code < WAVEFMT_COUNT; ++code) {
    if (lower(WaveFormatName(code)) == lower(name)) return code;
  }
  return -1;
}

// True when both paths name one existing file, however they are written.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(std::filesystem::u8path(a), std::filesystem::u8path(b), error) && !error;
}

// Why the input cannot be read, checked in the order a user would: the file
// itself, whether it is a WAV file at all, then its format. Empty when it was
// read into *wave.
std::string ReadInput(const std::string& path, WaveData* wave) {
  {
    std::ifstream probe(std::filesystem::u8path(path), std::ios::binary);
    if (!probe) return "cannot be opened";
    char head[12] = {};
    probe.read(head, sizeof head);
    if (probe.gcount() != static_cast<std::streamsize>(sizeof head) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
      return "not a WAV file";
    }
  }
  std::string reason;
  WaveFault fault = WaveFault::None;
  if (ReadWaveFile(path, wave, &reason, &fault)) return std::string();
  if (fault == WaveFault::TooLarge) return "too large to read (" + reason + ")";
  return "a WAV format that cannot be read (" + reason + ")";
}

bool ParseRate(const char* text, int32_t* rate) {
  char* end = nullptr;
  long value = strtol(text, &end, 10);
  if (end == text || *end != '\0') return false;
  if (value < QUILLCODEC_MIN_RATE || value > QUILLCODEC_MAX_RATE) return false;
  *rate = static_cast<int32_t>(value);
  return true;
}

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v & 0xFF));
  b.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void PutId(std::vector<uint8_t>& b, const char* id) {
  b.insert(b.end(), id, id + 4);
}

}  // namespace

bool RunCodecPass(const WaveData& wave, int32_t rate, int32_t format, const Adpcm* adpcm, const CodecFunctions& codec,
                  CodecPassResult* result, std::string* error, ConverterKind kind) {
  result->converted.clear();
  result->output.clear();
  result->adpcmUsed = format == WAVEFMT_ADPCM && adpcm != nullptr && adpcm->IsLoaded();
  result->seconds = 0.0;
  result->firstBlockFrames = 0;

  // The sources' own pipeline; the tool hands it the blocks that a source's
  // worker would, converted here so that the converted stream is kept.
  CollectingChannel channel(&result->output);
  BlockPipeline pipeline(adpcm, codec, SystemClock());
  pipeline.SetPacketChannel(&channel);
  if (!pipeline.Open(rate, format)) {
    *error = "the codec library cannot open \"" + std::string(WaveFormatName(format)) + "\"";
    return false;
  }

  RateConverter converter;
  converter.SetKind(kind);
  converter.Setup(wave.samplingRate, static_cast<uint32_t>(rate), 2);
  // Output frames whose positions o x file rate / rate lie inside the file.
  const uint64_t positions =
      (static_cast<uint64_t>(wave.frames) * static_cast<uint32_t>(rate) + wave.samplingRate - 1) / wave.samplingRate;
  const double expectedFrames = static_cast<double>(wave.frames) * rate / wave.samplingRate + 16;
  result->converted.reserve(static_cast<size_t>(expectedFrames) * 2);
  result->output.reserve(static_cast<size_t>(expectedFrames) * 2);

  std::vector<int16_t> block;
  std::vector<int16_t> converted;
  const auto start = std::chrono::steady_clock::now();
  double carry = 0.0;
  uint32_t at = 0;
  // After the file, silence brings out the frames that the converter holds
  // back until the input after their positions has come.
  const std::vector<int16_t> silence(converter.IsNeed() ? (converter.GetLookahead() + 1) * 2 : 0, 0);
  bool tail = false;
  while (at < wave.frames || !tail) {
    const int16_t* slice = nullptr;
    uint32_t n = 0;
    if (at < wave.frames) {
      // 20 ms slices of the file with the fraction of a frame carried, as the
      // wave-file source plays them.
      double exact = static_cast<double>(wave.samplingRate) * QUILLCODEC_BLOCK_MS / 1000.0 + carry;
      n = static_cast<uint32_t>(exact);
      carry = exact - n;
      if (n > wave.frames - at) n = wave.frames - at;
      if (n == 0) continue;
      slice = wave.samples.data() + static_cast<size_t>(at) * 2;
      at += n;
    } else {
      tail = true;
      if (silence.empty()) break;
      slice = silence.data();
      n = static_cast<uint32_t>(silence.size() / 2);
    }

    if (converter.IsNeed()) {
      const uint32_t inputBytes = n * capture::BYTES_PER_FRAME;
      converted.resize(static_cast<size_t>(converter.OutputBytes(inputBytes)) / capture::BYTES_PER_SAMPLE +
                       capture::CHANNELS);
      uint32_t bytes = 0;
      converter.Convert(slice, inputBytes, converted.data(), &bytes);
      size_t frames = bytes / capture::BYTES_PER_FRAME;
      const size_t done = result->converted.size() / 2;
      if (done + frames > positions) frames = positions > done ? static_cast<size_t>(positions - done) : 0;
      block.assign(converted.begin(), converted.begin() + frames * 2);
    } else {
      block.assign(slice, slice + static_cast<size_t>(n) * 2);
    }
    if (block.empty()) continue;
    if (result->firstBlockFrames == 0) result->firstBlockFrames = static_cast<uint32_t>(block.size() / 2);
    result->converted.insert(result->converted.end(), block.begin(), block.end());
    pipeline.SendBlock(block.data(), static_cast<int32_t>(block.size() / capture::CHANNELS));
  }
  result->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  pipeline.Close();
  return true;
}

int32_t PassDelay(int32_t format, bool adpcmUsed, uint32_t firstBlockFrames) {
  if (format == WAVEFMT_ADPCM) return adpcmUsed ? BlockPipeline::ADPCM_CUT_FRAMES : 0;
  return CodecLibraryDelay(format, firstBlockFrames);
}

int32_t BestMatchLag(const std::vector<int16_t>& converted, const std::vector<int16_t>& output, int32_t maxLag) {
  // The lag at which the output best matches the input (normalised
  // correlation of the channel sums over up to 65536 frames).
  const size_t frames = std::min(converted.size(), output.size()) / 2;
  if (frames < 2) return 0;
  const size_t window = std::min<size_t>(65536, frames);
  std::vector<double> a(frames);
  std::vector<double> b(frames);
  for (size_t i = 0; i < frames; ++i) {
    a[i] = static_cast<double>(converted[2 * i]) + converted[2 * i + 1];
    b[i] = static_cast<double>(output[2 * i]) + output[2 * i + 1];
  }
  int32_t best = 0;
  double bestScore = 0.0;
  for (int32_t lag = 0; lag <= maxLag && static_cast<size_t>(lag) < frames; ++lag) {
    const size_t n = std::min(window, frames - static_cast<size_t>(lag));
    double dot = 0.0;
    double energy = 0.0;
    for (size_t i = 0; i < n; ++i) {
      dot += a[i] * b[i + static_cast<size_t>(lag)];
      energy += b[i + static_cast<size_t>(lag)] * b[i + static_cast<size_t>(lag)];
    }
    if (energy <= 0.0) continue;
    double score = dot / std::sqrt(energy);
    if (score > bestScore) {
      bestScore = score;
      best = lag;
    }
  }
  return best;
}

double AlignedSnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& output, int32_t delay) {
  const size_t refFrames = reference.size() / 2;
  const size_t outFrames = output.size() / 2;
  const size_t d = static_cast<size_t>(delay < 0 ? 0 : delay);
  double signal = 0.0;
  double noise = 0.0;
  for (size_t o = d; o < outFrames && o - d < refFrames; ++o) {
    for (size_t c = 0; c < 2; ++c) {
      double r = reference[2 * (o - d) + c];
      double e = output[2 * o + c] - r;
      signal += r * r;
      noise += e * e;
    }
  }
  if (noise == 0.0) return INFINITY;
  if (signal == 0.0) return -INFINITY;
  return 10.0 * std::log10(signal / noise);
}

bool WriteWave16(const std::string& path, const std::vector<int16_t>& samples, uint32_t rate) {
  const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
  std::vector<uint8_t> header;
  PutId(header, "RIFF");
  Put32(header, 36 + dataBytes);
  PutId(header, "WAVE");
  PutId(header, "fmt ");
  Put32(header, 16);
  Put16(header, 1);         // integer PCM
  Put16(header, 2);         // stereo
  Put32(header, rate);      // frames per second
  Put32(header, rate * 4);  // bytes per second
  Put16(header, 4);         // block align
  Put16(header, 16);        // bits per sample
  PutId(header, "data");
  Put32(header, dataBytes);

  std::vector<uint8_t> body(samples.size() * 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    uint16_t v = static_cast<uint16_t>(samples[i]);
    body[2 * i] = static_cast<uint8_t>(v & 0xFF);
    body[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  CFile file;
  if (!file.Open(path.c_str(), "wb")) return false;
  bool ok = file.Write(header.data(), header.size()) && file.Write(body.data(), body.size());
  file.Close();
  return ok;
}

int QuillCodecMain(int argc, const char* const* argv, FILE* out, FILE* err) {
  int32_t format = WAVEFMT_PCM;
  int32_t rate = QUILLCODEC_DEFAULT_RATE;
  std::string streamPath;
  ConverterKind converter = ConverterKind::SINC;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintUsage(out);
      return EXIT_DONE;
    }
    if (arg == "--format" || arg == "--rate" || arg == "--stream") {
      if (i + 1 >= argc) {
        fprintf(err, "quillcodec: %s needs a value\n", arg.c_str());
        PrintUsage(err);
        return EXIT_USAGE;
      }
      const char* value = argv[++i];
      if (arg == "--format") {
        format = FormatFromName(value);
        if (format < 0) {
          fprintf(err, "quillcodec: unknown format \"%s\"\n", value);
          PrintUsage(err);
          return EXIT_USAGE;
        }
      } else if (arg == "--rate") {
        if (!ParseRate(value, &rate)) {
          fprintf(err, "quillcodec: the rate must be a whole number from %d to %d\n", QUILLCODEC_MIN_RATE,
                  QUILLCODEC_MAX_RATE);
          PrintUsage(err);
          return EXIT_USAGE;
        }
      } else {
        streamPath = value;
      }
      continue;
    }
    if (arg == "--spline") {
      converter = ConverterKind::SPLINE;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      fprintf(err, "quillcodec: unknown option %s\n", arg.c_str());
      PrintUsage(err);
      return EXIT_USAGE;
    }
    files.push_back(arg);
  }
  if (files.size() != 2) {
    PrintUsage(err);
    return EXIT_USAGE;
  }
  if (!streamPath.empty() && (format < WAVEFMT_CRI_ADX || format > WAVEFMT_CRI_HCA_LOWEST)) {
    fprintf(err, "quillcodec: --stream needs a CRI format (\"CRI ADX\" or \"CRI HCA ...\")\n");
    return EXIT_USAGE;
  }
  // Writing the output would destroy the input before it is read.
  for (const std::string& output : {files[1], streamPath}) {
    if (!output.empty() && SameFile(files[0], output)) {
      fprintf(err, "quillcodec: %s is the input file %s; give another output file\n", output.c_str(), files[0].c_str());
      return EXIT_USAGE;
    }
  }

  WaveData wave;
  const std::string problem = ReadInput(files[0], &wave);
  if (!problem.empty()) {
    fprintf(err, "quillcodec: %s: %s\n", files[0].c_str(), problem.c_str());
    return EXIT_UNSUPPORTED;
  }

  Adpcm adpcm;
  if (format == WAVEFMT_ADPCM) {
    adpcm.Load();
    if (!adpcm.IsLoaded()) {
      fprintf(err,
              "quillcodec: no WaveCodecKav library beside the program; \"ADPCM\" runs as \"PCM\", as in the program\n");
    }
  }

  CodecFunctions codec = QuillDllFunctions();
  std::vector<uint8_t> stream;
  if (!streamPath.empty()) {
    if (!StreamTapAvailable(format)) {
      fprintf(err, "quillcodec: --stream: this build cannot hand out the stream of \"%s\"\n", WaveFormatName(format));
      return EXIT_FAILED;
    }
    codec = StreamTapFunctions(&stream);
  }

  CodecPassResult result;
  std::string error;
  if (!RunCodecPass(wave, rate, format, &adpcm, codec, &result, &error, converter)) {
    fprintf(err, "quillcodec: %s\n", error.c_str());
    return EXIT_FAILED;
  }
  if (!WriteWave16(files[1], result.output, static_cast<uint32_t>(rate))) {
    fprintf(err, "quillcodec: %s cannot be written\n", files[1].c_str());
    return EXIT_FAILED;
  }
  if (!streamPath.empty()) {
    CFile file;
    if (!file.Open(streamPath.c_str(), "wb") || !file.Write(stream.data(), stream.size())) {
      fprintf(err, "quillcodec: %s cannot be written\n", streamPath.c_str());
      return EXIT_FAILED;
    }
  }

  const int32_t delay = PassDelay(format, result.adpcmUsed, result.firstBlockFrames);
  const double snr = AlignedSnrDb(result.converted, result.output, delay);
  const double duration = static_cast<double>(wave.frames) / wave.samplingRate;
  const double speed = result.seconds > 0.0 ? duration / result.seconds : INFINITY;
  fprintf(out,
          "quillcodec: %u frames in at %u Hz, %zu frames out at %d Hz, format \"%s\", delay %d frames, "
          "SNR %.1f dB, %.1fx real time\n",
          wave.frames, wave.samplingRate, result.output.size() / 2, rate, WaveFormatName(format), delay, snr, speed);
  return EXIT_DONE;
}
