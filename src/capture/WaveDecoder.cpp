#include "capture/WaveDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "capture/StereoFrames.h"
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

// The bytes of a wave file, read by offset: the whole file in memory, or the
// file on disk read piece by piece (never whole).
class WaveBytes {
 public:
  virtual ~WaveBytes() = default;
  virtual uint64_t Size() const = 0;
  // Copies n bytes at offset; false when they cannot all be had.
  virtual bool Read(uint64_t offset, void* to, size_t n) = 0;
};

class MemoryBytes : public WaveBytes {
 public:
  MemoryBytes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint64_t Size() const override { return m_size; }
  bool Read(uint64_t offset, void* to, size_t n) override {
    if (offset > m_size || n > m_size - offset) return false;
    if (n > 0) memcpy(to, m_data + offset, n);
    return true;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
};

class FileBytes : public WaveBytes {
 public:
  FileBytes(CFile& file, uint64_t size) : m_file(file), m_size(size) {}
  uint64_t Size() const override { return m_size; }
  bool Read(uint64_t offset, void* to, size_t n) override {
    if (offset > m_size || n > m_size - offset) return false;
    return m_file.Seek(static_cast<int64_t>(offset)) && m_file.Read(to, n) == n;
  }

 private:
  CFile& m_file;
  uint64_t m_size;
};

bool ReadU32At(WaveBytes& bytes, uint64_t offset, uint32_t* value) {
  uint8_t b[4];
  if (!bytes.Read(offset, b, 4)) return false;
  *value = ReadU32(b);
  return true;
}

// A chunk header can start at pos: 8 bytes inside the file, and an id of
// four printable characters.
bool LooksLikeChunk(WaveBytes& bytes, uint64_t pos) {
  uint8_t id[8];
  if (pos + 8 > bytes.Size() || !bytes.Read(pos, id, 8)) return false;
  for (int i = 0; i < 4; ++i) {
    if (id[i] < 0x20 || id[i] > 0x7E) return false;
  }
  return true;
}

// Where the chunk after one ending at end starts. Chunks of odd size are
// followed by a pad byte; writers that leave it out exist too, so the padded
// position is taken when a chunk header stands there, else the unpadded one.
uint64_t NextChunk(WaveBytes& bytes, uint64_t end) {
  if ((end & 1) == 0) return end;
  if (LooksLikeChunk(bytes, end + 1) || !LooksLikeChunk(bytes, end)) return end + 1;
  return end;
}

// Finds the first "data" chunk after the format chunk. A "data" chunk that
// claims more bytes than the RIFF chunk or the file holds (a recording cut
// short) is taken with the bytes that are there, and noted.
bool FindData(WaveBytes& bytes, uint64_t* dataOffset, uint64_t* dataBytes, std::string* note, std::string* reason) {
  const uint64_t size = bytes.Size();
  uint32_t riffSize = 0;
  uint32_t formatSize = 0;
  if (!ReadU32At(bytes, 4, &riffSize) || !ReadU32At(bytes, 16, &formatSize)) return Fail(reason, "no header");
  const uint64_t riffEnd = static_cast<uint64_t>(riffSize) + 8;
  const uint64_t formatEnd = 20 + static_cast<uint64_t>(formatSize);
  if (formatEnd >= size) return Fail(reason, "the format chunk runs past the end of the file");
  uint64_t pos = NextChunk(bytes, formatEnd);
  for (;;) {
    if (pos + 8 > size) return Fail(reason, "no data chunk");
    if (pos >= riffEnd) return Fail(reason, "no data chunk inside the RIFF chunk");
    uint8_t header[8];
    if (!bytes.Read(pos, header, 8)) return Fail(reason, "the file cannot be read");
    const uint32_t chunkSize = ReadU32(header + 4);
    const uint64_t end = pos + 8 + chunkSize;
    if (memcmp(header, "data", 4) == 0) {
      // The bytes there: up to the end of the RIFF chunk and of the file.
      const uint64_t there = std::min(std::min(size, riffEnd), end) - (pos + 8);
      if (there < chunkSize) {
        char text[160];
        snprintf(text, sizeof(text), "the data chunk claims %u bytes, %llu are there", chunkSize,
                 static_cast<unsigned long long>(there));
        *note = text;
      }
      *dataOffset = pos + 8;
      *dataBytes = there;
      return true;
    }
    if (end > size || end > riffEnd) return Fail(reason, "a chunk runs past the end of the file");
    pos = NextChunk(bytes, end);
  }
}

// Decodes the file's samples, taking them from the source a piece at a time.
bool Decode(WaveBytes& bytes, WaveData* out, std::string* reason, WaveFault* fault) {
  if (fault != nullptr) *fault = WaveFault::Unsupported;
  out->samples.clear();
  out->frames = 0;
  out->samplingRate = 0;
  out->note.clear();

  // The header fields that the checks read (60 bytes for the extensible form).
  uint8_t header[EXTENSIBLE_HEADER_BYTES] = {};
  const size_t headerBytes =
      static_cast<size_t>(std::min<uint64_t>(bytes.Size(), static_cast<uint64_t>(EXTENSIBLE_HEADER_BYTES)));
  if (!bytes.Read(0, header, headerBytes)) return Fail(reason, "the file cannot be read");
  Layout layout;
  if (!ReadLayout(header, static_cast<size_t>(std::min<uint64_t>(bytes.Size(), SIZE_MAX)), &layout, reason)) {
    return false;
  }
  uint64_t dataOffset = 0;
  uint64_t dataBytes = 0;
  std::string note;
  if (!FindData(bytes, &dataOffset, &dataBytes, &note, reason)) return false;

  // Too large is known before anything is allocated.
  const uint64_t frames = dataBytes / layout.blockAlign;
  if (frames * capture::BYTES_PER_FRAME > WAVE_MAX_DECODED_BYTES)
    return TooLarge(reason, fault, "the file is too large");
  try {
    out->samples.resize(static_cast<size_t>(frames) * 2);
  } catch (const std::bad_alloc&) {
    out->samples.clear();
    return TooLarge(reason, fault, "the file is too large to decode into memory");
  }

  // Pieces of at most about 1 MiB, whole frames each.
  const uint64_t pieceFrames = std::max<uint64_t>(1, (uint64_t{1} << 20) / layout.blockAlign);
  std::vector<uint8_t> piece;
  int16_t* to = out->samples.data();
  const size_t rightOffset = layout.channels >= 2 ? layout.bytesPerSample : 0;
  for (uint64_t done = 0; done < frames;) {
    const uint64_t n = std::min(pieceFrames, frames - done);
    piece.resize(static_cast<size_t>(n * layout.blockAlign));
    if (!bytes.Read(dataOffset + done * layout.blockAlign, piece.data(), piece.size())) {
      out->samples.clear();
      return Fail(reason, "the file cannot be read");
    }
    const uint8_t* frame = piece.data();
    for (uint64_t i = 0; i < n; ++i, frame += layout.blockAlign) {
      *to++ = Sample(frame, layout);
      *to++ = Sample(frame + rightOffset, layout);
    }
    done += n;
  }
  out->frames = static_cast<uint32_t>(frames);
  out->samplingRate = ReadU32(header + 24);
  out->note = note;
  if (fault != nullptr) *fault = WaveFault::None;
  return true;
}

}  // namespace

bool DecodeWave(const uint8_t* data, size_t size, WaveData* out, std::string* reason, WaveFault* fault) {
  if (data == nullptr) {
    if (fault != nullptr) *fault = WaveFault::Unsupported;
    out->samples.clear();
    out->frames = 0;
    out->samplingRate = 0;
    out->note.clear();
    return Fail(reason, "no file");
  }
  MemoryBytes bytes(data, size);
  return Decode(bytes, out, reason, fault);
}

bool ReadWaveFile(const std::string& path, WaveData* out, std::string* reason, WaveFault* fault) {
  if (fault != nullptr) *fault = WaveFault::Unsupported;
  out->samples.clear();
  out->frames = 0;
  out->samplingRate = 0;
  out->note.clear();
  CFile file;
  if (!file.Open(path.c_str(), "rb")) return Fail(reason, "the file cannot be opened");
  const int64_t size = file.GetSize64();
  if (size < 0) return Fail(reason, "the file cannot be read");
  FileBytes bytes(file, static_cast<uint64_t>(size));
  return Decode(bytes, out, reason, fault);
}
