#include "capture/WaveDecoder.h"

#include <cmath>
#include <cstring>
#include <new>

#include "support/File.h"

namespace {

constexpr uint16_t TAG_PCM = 1;
constexpr uint16_t TAG_FLOAT = 3;
constexpr uint16_t TAG_EXTENSIBLE = 0xFFFE;

// The header fields read by the checks end here (60 for the extensible form).
constexpr size_t HEADER_BYTES = 36;
constexpr size_t EXTENSIBLE_HEADER_BYTES = 60;
constexpr size_t SUBFORMAT_OFFSET = 44;

// KSDATAFORMAT_SUBTYPE_PCM and KSDATAFORMAT_SUBTYPE_IEEE_FLOAT as stored.
const uint8_t kSubtypePcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const uint8_t kSubtypeFloat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                   0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Float samples are scaled by this and clamped to the stream's range.
constexpr double FLOAT_SCALE = 32728.0;
constexpr double FLOAT_MIN = -32728.0;
constexpr double FLOAT_MAX = 32727.0;

uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

bool Fail(std::string* reason, const char* text) {
  if (reason != nullptr) *reason = text;
  return false;
}

bool TooLarge(std::string* reason, WaveFault* fault, const char* text) {
  if (fault != nullptr) *fault = WaveFault::TooLarge;
  return Fail(reason, text);
}

enum class SampleType { Integer, Float32, Float64 };

struct Layout {
  SampleType type = SampleType::Integer;
  uint32_t channels = 0;
  uint32_t bits = 0;
  uint32_t blockAlign = 0;
  uint32_t bytesPerSample = 0;
};

// One integer sample: its bytes little-endian (the first four suffice, as
// only the top 16 of at most 32 bits are kept), then scaled to 16 bits.
int16_t IntegerSample(const uint8_t* p, const Layout& layout) {
  uint32_t n = layout.bytesPerSample < 4 ? layout.bytesPerSample : 4;
  uint32_t value = 0;
  for (uint32_t i = 0; i < n; ++i) value |= static_cast<uint32_t>(p[i]) << (8 * i);
  if (layout.bits <= 8) {
    // 8-bit wave data is unsigned.
    value -= 1u << (layout.bits - 1);
    value <<= 16 - layout.bits;
  } else {
    value >>= layout.bits - 16;
  }
  return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF));
}

int16_t FloatSample(const uint8_t* p, const Layout& layout) {
  if (layout.type == SampleType::Float32) {
    float f;
    memcpy(&f, p, sizeof(f));
    // Scaled and clamped in single precision.
    float v = f * static_cast<float>(FLOAT_SCALE);
    if (std::isnan(v)) return 0;
    if (v < static_cast<float>(FLOAT_MIN)) v = static_cast<float>(FLOAT_MIN);
    if (v > static_cast<float>(FLOAT_MAX)) v = static_cast<float>(FLOAT_MAX);
    return static_cast<int16_t>(static_cast<int32_t>(v));
  }
  double d;
  memcpy(&d, p, sizeof(d));
  double v = d * FLOAT_SCALE;
  if (std::isnan(v)) return 0;
  if (v < FLOAT_MIN) v = FLOAT_MIN;
  if (v > FLOAT_MAX) v = FLOAT_MAX;
  return static_cast<int16_t>(static_cast<int32_t>(v));
}

int16_t Sample(const uint8_t* p, const Layout& layout) {
  return layout.type == SampleType::Integer ? IntegerSample(p, layout) : FloatSample(p, layout);
}

// Checks the header fields in order and works out the sample layout.
bool ReadLayout(const uint8_t* data, size_t size, Layout* layout, std::string* reason) {
  if (size < HEADER_BYTES) return Fail(reason, "the file is too short for a wave header");
  if (memcmp(data, "RIFF", 4) != 0) return Fail(reason, "not a RIFF file");
  if (memcmp(data + 8, "WAVE", 4) != 0) return Fail(reason, "not a WAVE file");
  if (memcmp(data + 12, "fmt ", 4) != 0) return Fail(reason, "the format chunk is not the first chunk");
  if (static_cast<int32_t>(ReadU32(data + 16)) < 0) return Fail(reason, "negative format chunk size");

  const uint16_t tag = ReadU16(data + 20);
  if (tag != TAG_PCM && tag != TAG_FLOAT && tag != TAG_EXTENSIBLE) return Fail(reason, "unsupported format tag");
  const uint32_t channels = ReadU16(data + 22);
  if (channels == 0) return Fail(reason, "no channels");
  const uint32_t rate = ReadU32(data + 24);
  if (rate == 0) return Fail(reason, "sampling rate 0");
  if (rate > WAVE_MAX_SAMPLING_RATE) return Fail(reason, "sampling rate too high");
  const uint32_t bytesPerSecond = ReadU32(data + 28);
  const uint32_t blockAlign = ReadU16(data + 32);
  if (static_cast<uint64_t>(blockAlign) * rate != bytesPerSecond) {
    return Fail(reason, "bytes per second differ from block align x sampling rate");
  }
  const uint32_t bits = ReadU16(data + 34);
  if (bits == 0) return Fail(reason, "0 bits per sample");

  SampleType type = SampleType::Integer;
  if (tag == TAG_PCM) {
    // 24- and 32-bit integer files are often written with the plain tag
    // rather than the extensible one; they are read alike.
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
      return Fail(reason, "integer PCM must have 8, 16, 24 or 32 bits per sample");
    }
  } else if (tag == TAG_FLOAT) {
    if (bits != 32 && bits != 64) return Fail(reason, "float samples must have 32 or 64 bits");
    type = bits == 32 ? SampleType::Float32 : SampleType::Float64;
  } else {
    if (size < EXTENSIBLE_HEADER_BYTES) return Fail(reason, "the file is too short for an extensible header");
    const uint8_t* subformat = data + SUBFORMAT_OFFSET;
    if (memcmp(subformat, kSubtypePcm, 16) == 0) {
      if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return Fail(reason, "extensible PCM must have 8, 16, 24 or 32 bits per sample");
      }
    } else if (memcmp(subformat, kSubtypeFloat, 16) == 0) {
      if (bits != 32 && bits != 64) return Fail(reason, "float samples must have 32 or 64 bits");
      type = bits == 32 ? SampleType::Float32 : SampleType::Float64;
    } else {
      return Fail(reason, "unsupported extensible sub-format");
    }
  }
  // Every channel's sample must fit in a frame.
  if (blockAlign == 0 || blockAlign < channels * ((bits + 7) / 8)) {
    return Fail(reason, "block align too small for the channels and bits per sample");
  }

  layout->type = type;
  layout->channels = channels;
  layout->bits = bits;
  layout->blockAlign = blockAlign;
  layout->bytesPerSample = blockAlign / channels;
  return true;
}

// A chunk header can start at pos: 8 bytes inside the file, and an id of
// four printable characters.
bool LooksLikeChunk(const uint8_t* data, size_t size, uint64_t pos) {
  if (pos + 8 > size) return false;
  for (int i = 0; i < 4; ++i) {
    if (data[pos + i] < 0x20 || data[pos + i] > 0x7E) return false;
  }
  return true;
}

// Where the chunk after one ending at end starts. Chunks of odd size are
// followed by a pad byte; writers that leave it out exist too, so the padded
// position is taken when a chunk header stands there, else the unpadded one.
uint64_t NextChunk(const uint8_t* data, size_t size, uint64_t end) {
  if ((end & 1) == 0) return end;
  if (LooksLikeChunk(data, size, end + 1) || !LooksLikeChunk(data, size, end)) return end + 1;
  return end;
}

// Finds the first "data" chunk after the format chunk. A "data" chunk that
// claims more bytes than the file holds (a recording cut short) is taken
// with the bytes present.
bool FindData(const uint8_t* data, size_t size, size_t* dataOffset, uint32_t* dataBytes, std::string* reason) {
  const uint64_t riffEnd = static_cast<uint64_t>(ReadU32(data + 4)) + 8;
  const uint64_t formatEnd = 20 + static_cast<uint64_t>(ReadU32(data + 16));
  if (formatEnd >= size) return Fail(reason, "the format chunk runs past the end of the file");
  uint64_t pos = NextChunk(data, size, formatEnd);
  for (;;) {
    if (pos + 8 > size) return Fail(reason, "no data chunk");
    if (pos >= riffEnd) return Fail(reason, "no data chunk inside the RIFF chunk");
    const uint32_t chunkSize = ReadU32(data + pos + 4);
    const uint64_t end = pos + 8 + chunkSize;
    if (memcmp(data + pos, "data", 4) == 0) {
      // A RIFF chunk that ends inside the file bounds its data chunk; one
      // that runs past the end belongs to a file cut short like its data.
      if (end > riffEnd && riffEnd <= size) return Fail(reason, "the data chunk runs past the end of the RIFF chunk");
      *dataOffset = static_cast<size_t>(pos + 8);
      *dataBytes = static_cast<uint32_t>(end <= size ? chunkSize : size - (pos + 8));
      return true;
    }
    if (end > size || end > riffEnd) return Fail(reason, "a chunk runs past the end of the file");
    pos = NextChunk(data, size, end);
  }
}

}  // namespace

bool DecodeWave(const uint8_t* data, size_t size, WaveData* out, std::string* reason, WaveFault* fault) {
  if (fault != nullptr) *fault = WaveFault::Unsupported;
  out->samples.clear();
  out->frames = 0;
  out->samplingRate = 0;
  if (data == nullptr) return Fail(reason, "no file");

  Layout layout;
  if (!ReadLayout(data, size, &layout, reason)) return false;
  size_t dataOffset = 0;
  uint32_t dataBytes = 0;
  if (!FindData(data, size, &dataOffset, &dataBytes, reason)) return false;

  const uint32_t frames = dataBytes / layout.blockAlign;
  if (static_cast<uint64_t>(frames) * 4 > WAVE_MAX_DECODED_BYTES)
    return TooLarge(reason, fault, "the file is too large");
  try {
    out->samples.resize(static_cast<size_t>(frames) * 2);
  } catch (const std::bad_alloc&) {
    out->samples.clear();
    return TooLarge(reason, fault, "the file is too large to decode into memory");
  }

  const uint8_t* frame = data + dataOffset;
  int16_t* to = out->samples.data();
  const size_t rightOffset = layout.channels >= 2 ? layout.bytesPerSample : 0;
  for (uint32_t i = 0; i < frames; ++i, frame += layout.blockAlign) {
    to[2 * static_cast<size_t>(i)] = Sample(frame, layout);
    to[2 * static_cast<size_t>(i) + 1] = Sample(frame + rightOffset, layout);
  }
  out->frames = frames;
  out->samplingRate = ReadU32(data + 24);
  if (fault != nullptr) *fault = WaveFault::None;
  return true;
}

bool ReadWaveFile(const std::string& path, WaveData* out, std::string* reason, WaveFault* fault) {
  if (fault != nullptr) *fault = WaveFault::Unsupported;
  out->samples.clear();
  out->frames = 0;
  out->samplingRate = 0;
  CFile file;
  if (!file.Open(path.c_str(), "rb")) return Fail(reason, "the file cannot be opened");
  const int32_t size = file.GetSize();
  // An open file whose size cannot be told is past what a long counts (2 GiB).
  if (size < 0) return TooLarge(reason, fault, "the file is too large");
  if (static_cast<size_t>(size) > WAVE_MAX_FILE_BYTES) return TooLarge(reason, fault, "the file is too large");
  std::vector<uint8_t> bytes;
  try {
    if (!file.ReadAll(size, bytes)) return Fail(reason, "the file cannot be read");
  } catch (const std::bad_alloc&) {
    return TooLarge(reason, fault, "the file is too large to read into memory");
  }
  file.Close();
  return DecodeWave(bytes.data(), bytes.size(), out, reason, fault);
}
