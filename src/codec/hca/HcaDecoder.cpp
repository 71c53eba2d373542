#include "hca/HcaDecoder.h"

#include <cmath>
#include <cstring>
#include <new>

#include "hca/BitStream.h"
#include "hca/HcaCrc.h"
#include "hca/HcaTables.h"
#include "hca/HcaTransform.h"
#include "runtime/CodecSimd.h"

namespace hca {

namespace {

// Users of the decoder service. Not locked: start, finish and Create are
// serialised by the caller (HcaDecoder.h).
int s_decoderUsers = 0;

constexpr int MIN_FRAME_SIZE = 4;                 // sync word and CRC
constexpr int MIN_FRAME_BUFFER = 256;             // the smallest frame buffer Create accepts
constexpr int MIN_HEADER_SIZE = 8 + 16 + 16 + 2;  // "HCA", "fmt", "comp" and the CRC

inline unsigned Get16(const uint8_t* p) {
  return static_cast<unsigned>(p[0] << 8 | p[1]);
}
inline unsigned Get24(const uint8_t* p) {
  return static_cast<unsigned>(p[0] << 16 | p[1] << 8 | p[2]);
}
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(Get16(p)) << 16 | Get16(p + 2);
}

// Chunk tags compare with the top bit of each byte cleared.
bool TagIs(const uint8_t* p, const char* tag) {
  for (int i = 0; i < 4; ++i)
    if ((p[i] & 0x7F) != static_cast<uint8_t>(tag[i])) return false;
  return true;
}

// Bytes before the next 0xFF at or after `from` (the whole rest when none).
size_t DistanceToMarker(const uint8_t* data, size_t size, size_t from) {
  for (size_t i = from; i < size; ++i)
    if (data[i] == 0xFF) return i;
  return size;
}

}  // namespace

struct HcaDecoderChannel {
  float coef[HCA_BANDS];
  float overlap[HCA_SUBFRAME_SAMPLES];
  // The next subframe when it was synthesised with this one, and the overlap
  // it leaves; both take effect only when that subframe is asked for.
  float next[HCA_SUBFRAME_SAMPLES];
  float nextOverlap[HCA_SUBFRAME_SAMPLES];
  float multiplier[HCA_BANDS];
  uint8_t scale[HCA_BANDS];
  uint8_t resolution[HCA_BANDS];
  uint8_t hfrScale[HCA_BANDS];
  uint8_t intensity[HCA_SUBFRAMES];
  uint8_t type;
  int codedBands;
};

int HcaDecoderStart() {
  ++s_decoderUsers;
  return HCA_OK;
}

int HcaDecoderFinish() {
  if (s_decoderUsers > 0) --s_decoderUsers;
  return HCA_OK;
}

namespace {

constexpr size_t Aligned(size_t n) {
  return (n + 15) & ~static_cast<size_t>(15);
}

}  // namespace

size_t HcaDecoder::WorkSize(int maxChannels, int maxFrameSize) {
  if (maxChannels < 1) maxChannels = 1;
  if (maxFrameSize < MIN_FRAME_BUFFER) maxFrameSize = MIN_FRAME_BUFFER;
  if (maxFrameSize > HCA_MAX_FRAME_SIZE) maxFrameSize = HCA_MAX_FRAME_SIZE;
  return 15 + Aligned(sizeof(HcaDecoder)) + Aligned(sizeof(HcaDecoderChannel)) * static_cast<size_t>(maxChannels) +
         static_cast<size_t>(maxFrameSize);
}

int HcaDecoder::Create(int maxChannels, int reducedMemory, void* work, size_t workSize, HcaDecoder** decoder) {
  if (s_decoderUsers <= 0) return HCA_ERROR_NOT_STARTED;
  if (!work || !decoder) return HCA_ERROR_NULL;
  *decoder = nullptr;
  // The memory need does not depend on the reduced-memory flag; it is only checked.
  if (maxChannels < 1 || maxChannels > HCA_MAX_CHANNELS || reducedMemory < 0 || reducedMemory > 1)
    return HCA_ERROR_ARGUMENT;
  const size_t fixed = 15 + Aligned(sizeof(HcaDecoder)) + Aligned(sizeof(HcaDecoderChannel)) * maxChannels;
  if (workSize < fixed + MIN_FRAME_BUFFER) return HCA_ERROR_BUFFER_SMALL;

  uint8_t* base = AlignWork(work);
  const size_t usable = workSize - static_cast<size_t>(base - static_cast<uint8_t*>(work));
  auto* self = new (base) HcaDecoder();
  self->m_maxChannels = maxChannels;
  self->m_tables = &Tables();
  self->m_channels = reinterpret_cast<HcaDecoderChannel*>(base + Aligned(sizeof(HcaDecoder)));
  for (int c = 0; c < maxChannels; ++c) new (&self->m_channels[c]) HcaDecoderChannel();
  const size_t head = Aligned(sizeof(HcaDecoder)) + Aligned(sizeof(HcaDecoderChannel)) * maxChannels;
  self->m_frame = base + head;
  size_t capacity = usable - head;
  self->m_frameCapacity = static_cast<int>(capacity < HCA_MAX_FRAME_SIZE ? capacity : HCA_MAX_FRAME_SIZE);
  self->Reset();
  *decoder = self;
  return HCA_OK;
}

void HcaDecoder::Destroy() {
  this->~HcaDecoder();
}

void HcaDecoder::Reset() {
  m_hasHeader = false;
  m_nextReady = false;
  m_params = HcaStreamParams();
  m_state = 0;
  m_valuePosition = 0;
  m_skip = 0;
  m_remaining = INT64_MAX;
  for (int c = 0; c < m_maxChannels; ++c) {
    HcaDecoderChannel& ch = m_channels[c];
    std::memset(ch.overlap, 0, sizeof(ch.overlap));
    std::memset(ch.coef, 0, sizeof(ch.coef));
  }
}

void HcaDecoder::SetSampleWindow(int64_t skip, int64_t remaining) {
  m_skip = skip > 0 ? skip : 0;
  m_remaining = remaining > 0 ? remaining : 0;
}

int HcaDecoder::ReadHeader(const uint8_t* data, size_t size, size_t* used) {
  if (used) *used = 0;
  if (!data) return HCA_ERROR_NULL;
  if (size == 0) return HCA_ERROR_NEED_MORE;
  if ((data[0] & 0x7F) != 'H') {
    if (used) *used = DistanceToMarker(data, size, 0);
    return HCA_ERROR_NOT_AT_START;
  }
  if (size < 8) return HCA_ERROR_NEED_MORE;
  if (!TagIs(data, "HCA")) return HCA_ERROR_UNSUPPORTED;
  const size_t headerSize = Get16(data + 6);
  if (headerSize < static_cast<size_t>(MIN_HEADER_SIZE)) return HCA_ERROR_UNSUPPORTED;
  if (size < headerSize) return HCA_ERROR_NEED_MORE;
  if (Crc16(data, headerSize) != 0) return HCA_ERROR_CRC;

  HcaStreamParams p;
  const uint8_t* h = data;
  if (!TagIs(h + 8, "fmt")) return HCA_ERROR_UNSUPPORTED;
  p.channels = h[12];
  p.samplingRate = static_cast<int>(Get24(h + 13));
  p.frameCount = Get32(h + 16);
  p.primingSamples = static_cast<int>(Get16(h + 20));
  p.paddingSamples = static_cast<int>(Get16(h + 22));
  if (!TagIs(h + 24, "comp")) return HCA_ERROR_UNSUPPORTED;
  p.frameSize = static_cast<int>(Get16(h + 28));
  p.minResolution = h[30];
  p.maxResolution = h[31];
  p.trackCount = h[32] != 0 ? h[32] : 1;
  p.channelConfig = h[33];
  p.totalBands = h[34];
  p.baseBands = h[35];
  p.stereoBands = h[36];
  p.bandsPerHfrGroup = h[37];

  // Optional chunks up to the CRC; a comment or the padding ends the list.
  const size_t end = headerSize - 2;
  size_t pos = 40;
  while (pos + 4 <= end) {
    const uint8_t* c = h + pos;
    if (TagIs(c, "comm") || TagIs(c, "pad")) break;
    size_t length;
    if (TagIs(c, "loop")) {
      length = 16;
    } else if (TagIs(c, "ciph")) {
      length = 6;
    } else if (TagIs(c, "rva")) {
      length = 8;
    } else {
      return HCA_ERROR_UNSUPPORTED;
    }
    if (pos + length > end) return HCA_ERROR_UNSUPPORTED;
    if (TagIs(c, "ciph")) p.cipherType = static_cast<int>(Get16(c + 4));
    if (TagIs(c, "rva")) {
      uint32_t bits = Get32(c + 4);
      float volume;
      std::memcpy(&volume, &bits, sizeof(volume));
      if (!std::isfinite(volume)) return HCA_ERROR_UNSUPPORTED;
      p.volume = volume;
    }
    pos += length;
  }

  if (p.channels < 1 || p.channels > m_maxChannels || p.samplingRate < 1 || p.frameSize < MIN_FRAME_SIZE ||
      p.frameSize > m_frameCapacity || p.minResolution != HCA_MIN_RESOLUTION || p.maxResolution != HCA_MAX_RESOLUTION ||
      p.channels % p.trackCount != 0 || p.totalBands > HCA_BANDS || p.baseBands + p.stereoBands > p.totalBands ||
      p.cipherType != 0)
    return HCA_ERROR_UNSUPPORTED;
  p.hfrGroups = HfrGroupCount(p.totalBands, p.baseBands, p.stereoBands, p.bandsPerHfrGroup);

  Reset();
  uint8_t types[HCA_MAX_CHANNELS];
  AssignChannelTypes(p, types);
  for (int c = 0; c < p.channels; ++c) {
    m_channels[c].type = types[c];
    m_channels[c].codedBands = CodedBandCount(p, types[c]);
  }
  m_params = p;
  m_hasHeader = true;
  if (used) *used = headerSize;
  return HCA_OK;
}

// A frame's side data as read, before it is taken.
struct HcaSideData {
  int noiseLevel;
  int boundary;
  size_t valuePosition;
  uint8_t scale[HCA_MAX_CHANNELS][HCA_BANDS];
  uint8_t extra[HCA_MAX_CHANNELS][HCA_BANDS];  // intensity indexes or HFR scales
};

// Reads a frame's side data (levels, scale factors, intensity or HFR data)
// into `side`, checking that every value is possible and that the side data
// ends inside the frame.
int HcaDecoder::ReadSideData(const uint8_t* frame, HcaSideData* side) const {
  const HcaStreamParams& p = m_params;
  BitReader in(frame, static_cast<size_t>(p.frameSize));
  in.Skip(16);
  side->noiseLevel = static_cast<int>(in.Read(9));
  side->boundary = static_cast<int>(in.Read(7));
  for (int ci = 0; ci < p.channels; ++ci) {
    const HcaDecoderChannel& c = m_channels[ci];
    uint8_t* scale = side->scale[ci];
    std::memset(scale, 0, HCA_BANDS);
    const int width = static_cast<int>(in.Read(3));
    if (width == 7) return HCA_ERROR_BAD_FRAME;
    if (width > 0 && c.codedBands > 0) {
      int value = static_cast<int>(in.Read(6));
      scale[0] = static_cast<uint8_t>(value);
      const int escape = (1 << width) - 1;
      const int offset = (1 << (width - 1)) - 1;
      for (int j = 1; j < c.codedBands; ++j) {
        if (width == 6) {
          value = static_cast<int>(in.Read(6));
        } else {
          int code = static_cast<int>(in.Read(width));
          value = code == escape ? static_cast<int>(in.Read(6)) : value + code - offset;
          if (value < 0 || value > 63) return HCA_ERROR_BAD_FRAME;
        }
        scale[j] = static_cast<uint8_t>(value);
      }
    }
    if (c.type == HCA_CHANNEL_SECONDARY) {
      for (int s = 0; s < HCA_SUBFRAMES; ++s) {
        int index = static_cast<int>(in.Read(4));
        if (index > 14) return HCA_ERROR_BAD_FRAME;
        side->extra[ci][s] = static_cast<uint8_t>(index);
      }
    } else {
      for (int g = 0; g < p.hfrGroups; ++g) side->extra[ci][g] = static_cast<uint8_t>(in.Read(6));
    }
  }
  if (in.Position() + 16 > static_cast<size_t>(p.frameSize) * 8) return HCA_ERROR_BAD_FRAME;
  side->valuePosition = in.Position();
  return HCA_OK;
}

// Takes the side data of the frame that passed its checks: scale factors,
// resolutions and multipliers by band, intensity indexes or HFR scales.
void HcaDecoder::TakeSideData(const HcaSideData& side) {
  const HcaStreamParams& p = m_params;
  const HcaTables& t = *m_tables;
  for (int ci = 0; ci < p.channels; ++ci) {
    HcaDecoderChannel& c = m_channels[ci];
    const uint8_t* scale = side.scale[ci];
    if (c.type == HCA_CHANNEL_SECONDARY)
      std::memcpy(c.intensity, side.extra[ci], HCA_SUBFRAMES);
    else
      std::memcpy(c.hfrScale, side.extra[ci], static_cast<size_t>(p.hfrGroups));
    for (int j = 0; j < HCA_BANDS; ++j) {
      int resolution = 0;
      if (j < c.codedBands && scale[j] != 0) {
        int level = j < side.boundary ? side.noiseLevel - 1 : side.noiseLevel;
        resolution = ResolutionFor(level, BandLevel(scale[j]), HCA_MAX_RESOLUTION);
      }
      c.scale[j] = scale[j];
      c.resolution[j] = static_cast<uint8_t>(resolution);
      c.multiplier[j] = t.range[resolution] * t.scale[scale[j]];
    }
  }
  m_noiseLevel = side.noiseLevel;
  m_boundary = side.boundary;
  m_valuePosition = side.valuePosition;
}

int HcaDecoder::DecodeFrame(const uint8_t* data, size_t size, size_t* used) {
  if (used) *used = 0;
  if (!data) return HCA_ERROR_NULL;
  if (!m_hasHeader) return HCA_ERROR_NO_HEADER;
  if (size == 0) return HCA_ERROR_NEED_MORE;
  if (data[0] != 0xFF) {
    if (used) *used = DistanceToMarker(data, size, 0);
    return HCA_ERROR_NOT_AT_START;
  }
  const size_t frameSize = static_cast<size_t>(m_params.frameSize);
  if (size < frameSize) return HCA_ERROR_NEED_MORE;
  if (data[1] != 0xFF) {
    if (used) *used = DistanceToMarker(data, size, 1);
    return HCA_ERROR_NOT_AT_START;
  }
  if (Crc16(data, frameSize) != 0) return HCA_ERROR_CRC;
  HcaSideData side;
  int result = ReadSideData(data, &side);
  if (result != HCA_OK) return result;
  std::memcpy(m_frame, data, frameSize);
  TakeSideData(side);
  m_state = 1;
  m_nextReady = false;
  if (used) *used = frameSize;
  return HCA_OK;
}

// Reads a subframe's values of every channel into coef[channel] (128 each)
// and applies the high-frequency reconstruction and intensity stereo.
void HcaDecoder::ReadSubframe(int subframe, float* const* coef) {
  const HcaStreamParams& p = m_params;
  const HcaTables& t = *m_tables;
  BitReader in(m_frame, static_cast<size_t>(p.frameSize));
  in.Seek(m_valuePosition);
  for (int ci = 0; ci < p.channels; ++ci) {
    const HcaDecoderChannel& c = m_channels[ci];
    float* x = coef[ci];
    for (int j = 0; j < c.codedBands; ++j) {
      const int r = c.resolution[j];
      const uint64_t window = in.Window();
      int value;
      if (r <= 7) {
        // A prefix code; resolution 0 peeks one bit into an empty entry and
        // takes none (its multiplier is 0).
        const HcaCodeEntry& e = t.decode[r][window >> t.peekShift[r]];
        in.Drop(e.length);
        value = e.value;
      } else {
        // The magnitude and the bit after it, the sign when the magnitude is not 0.
        const int bits = HCA_MAGNITUDE_BITS[r];
        const auto code = static_cast<uint32_t>(window >> (63 - bits));
        value = static_cast<int>(code >> 1);
        if (value != 0) {
          if ((code & 1) != 0) value = -value;
          in.Drop(bits + 1);
        } else {
          in.Drop(bits);
        }
      }
      x[j] = static_cast<float>(value) * c.multiplier[j];
    }
    for (int j = c.codedBands; j < HCA_BANDS; ++j) x[j] = 0.0f;

    // High-frequency reconstruction: copy the coded bands downward from the
    // top into the uncoded ones upward, scaled to each group's level.
    if (c.type != HCA_CHANNEL_SECONDARY && p.bandsPerHfrGroup > 0) {
      int source = p.baseBands + p.stereoBands - 1;
      int target = p.baseBands + p.stereoBands;
      for (int g = 0; g < p.hfrGroups; ++g) {
        for (int k = 0; k < p.bandsPerHfrGroup && target < p.totalBands; ++k, --source, ++target) {
          if (source < 0) {
            x[target] = 0.0f;
            continue;
          }
          x[target] = x[source] * t.hfrRatio[c.hfrScale[g] - c.scale[source] + 63];
        }
      }
      x[HCA_BANDS - 1] = 0.0f;
    }
  }
  m_valuePosition = in.Position();

  // Intensity stereo: the primary plays t x the coded coefficient and the
  // secondary (2 - t) x it, with t = (14 - index) / 7 for the subframe. The
  // pair places one sound between the two sides: index 7 (t = 1) gives both
  // the same, index 0 puts it all on the primary, index 14 all on the
  // secondary; neither side is ever inverted.
  if (p.stereoBands > 0) {
    for (int ci = 0; ci + 1 < p.channels; ++ci) {
      const HcaDecoderChannel& primary = m_channels[ci];
      const HcaDecoderChannel& secondary = m_channels[ci + 1];
      if (primary.type != HCA_CHANNEL_PRIMARY || secondary.type != HCA_CHANNEL_SECONDARY) continue;
      const float ratio = t.intensity[secondary.intensity[subframe]];
      float* first = coef[ci];
      float* second = coef[ci + 1];
      for (int j = p.baseBands; j < p.totalBands; ++j) {
        const float v = first[j];
        first[j] = ratio * v;
        second[j] = (2.0f - ratio) * v;
      }
    }
  }
}

void HcaDecoder::DecodeSubframe(int subframe, float* const* out) {
  const HcaStreamParams& p = m_params;
  const int channels = p.channels;
  float* coef[HCA_MAX_CHANNELS];
  const float* coefficients[2 * HCA_MAX_CHANNELS];
  const float* overlaps[2 * HCA_MAX_CHANNELS];
  float* nextOverlaps[2 * HCA_MAX_CHANNELS];
  float* samples[2 * HCA_MAX_CHANNELS];
  for (int ci = 0; ci < channels; ++ci) {
    HcaDecoderChannel& c = m_channels[ci];
    coef[ci] = c.coef;
    coefficients[ci] = c.coef;
    overlaps[ci] = c.overlap;
    nextOverlaps[ci] = c.overlap;
    samples[ci] = out[ci];
  }
  if (m_nextReady) {
    // Synthesised with the subframe before it.
    for (int ci = 0; ci < channels; ++ci) {
      HcaDecoderChannel& c = m_channels[ci];
      std::memcpy(out[ci], c.next, sizeof(c.next));
      std::memcpy(c.overlap, c.nextOverlap, sizeof(c.overlap));
    }
    m_nextReady = false;
  } else if (codec_simd::VectorPath() && subframe + 1 < HCA_SUBFRAMES) {
    // This subframe and the next one through the transform together (the
    // vector form takes four blocks at once); the next one's samples and
    // overlap wait for the next call.
    float later[HCA_MAX_CHANNELS][HCA_BANDS];
    float* laterCoef[HCA_MAX_CHANNELS];
    for (int ci = 0; ci < channels; ++ci) {
      HcaDecoderChannel& c = m_channels[ci];
      laterCoef[ci] = later[ci];
      coefficients[channels + ci] = later[ci];
      overlaps[channels + ci] = c.overlap;  // as the first block leaves it
      nextOverlaps[channels + ci] = c.nextOverlap;
      samples[channels + ci] = c.next;
    }
    ReadSubframe(subframe, coef);
    ReadSubframe(subframe + 1, laterCoef);
    SynthesiseSubframes(2 * channels, coefficients, overlaps, nextOverlaps, samples);
    m_nextReady = true;
  } else {
    ReadSubframe(subframe, coef);
    SynthesiseSubframes(channels, coefficients, overlaps, nextOverlaps, samples);
  }
  if (p.volume != 1.0f)
    for (int ci = 0; ci < channels; ++ci)
      for (int i = 0; i < HCA_SUBFRAME_SAMPLES; ++i) out[ci][i] *= p.volume;
}

int HcaDecoder::GetSamples(float* const* out, int channels, int room, int* produced) {
  if (produced) *produced = 0;
  if (!out) return HCA_ERROR_NULL;
  if (!m_hasHeader) return HCA_ERROR_NO_HEADER;
  if (channels < m_params.channels || room < HCA_SUBFRAME_SAMPLES) return HCA_ERROR_ARGUMENT;
  for (int c = 0; c < m_params.channels; ++c)
    if (!out[c]) return HCA_ERROR_NULL;
  if (m_state == 1) m_state = 2;
  if (m_state < 2 || m_state > 9) return HCA_OK;

  DecodeSubframe(m_state - 2, out);
  ++m_state;

  int start = 0;
  if (m_skip > 0) {
    start = m_skip < HCA_SUBFRAME_SAMPLES ? static_cast<int>(m_skip) : HCA_SUBFRAME_SAMPLES;
    m_skip -= start;
  }
  int count = HCA_SUBFRAME_SAMPLES - start;
  if (count > m_remaining) count = static_cast<int>(m_remaining);
  m_remaining -= count;
  if (start > 0 && count > 0)
    for (int c = 0; c < m_params.channels; ++c)
      std::memmove(out[c], out[c] + start, static_cast<size_t>(count) * sizeof(float));
  if (produced) *produced = count;
  return HCA_OK;
}

}  // namespace hca
