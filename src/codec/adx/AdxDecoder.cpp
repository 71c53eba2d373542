#include "adx/AdxDecoder.h"

#include <cstring>

#include "adx/AdxBlock.h"
#include "runtime/ErrorHook.h"

const char ADX_MSG_HEADER_PREFIX[] = "E03010901 ADXB_DecodeHeader: ";
const char ADX_MSG_UNKNOWN_FORMAT[] = "Can not decode this file format.";
const char ADX_MSG_AHX_PREFIX[] = "E1060101 ADXB_DecodeHeaderAdx: ";
const char ADX_MSG_AHX[] = "can't play AHX data by this handle";

namespace {

AdxDecoder s_decoders[ADX_DECODER_POOL_SIZE];
// Service users. The count and the pool are not locked (AdxDecoder.h).
int s_users = 0;

constexpr int32_t TAKE_ALL = 0x7FFFFFFF;
constexpr int32_t MAX_BLOCK_SAMPLES = (255 - 2) * 2;  // the longest block a header can declare

enum class Candidate { NONE, POSSIBLE, HEADER };

// Whether a header can begin at `b` (n bytes known): HEADER when the signature
// and the tag at data offset - 2 are both there, POSSIBLE when the bytes so
// far agree but the tag has not fully arrived, NONE when no header starts here.
Candidate Classify(const uint8_t* b, int32_t n) {
  if (b[0] != 0x80) return Candidate::NONE;
  if (n < 2) return Candidate::POSSIBLE;
  if (b[1] != 0x00) return Candidate::NONE;
  if (n < 4) return Candidate::POSSIBLE;
  const int32_t offset = AdxGetBe16(b + ADX_HDR_DATA_OFFSET);
  // The tag may not overlap the first four bytes, and the whole header must
  // fit the decoder's window.
  if (offset < 6 || offset + 4 > ADX_MAX_HEADER) return Candidate::NONE;
  const int32_t tag = offset - 2;
  for (int32_t i = 0; i < ADX_TAG_LENGTH && tag + i < n; ++i) {
    if (b[tag + i] != static_cast<uint8_t>(ADX_TAG[i])) return Candidate::NONE;
  }
  return offset + 4 <= n ? Candidate::HEADER : Candidate::POSSIBLE;
}

}  // namespace

void AdxDecoder_Init() {
  if (s_users++ == 0) {
    for (AdxDecoder& d : s_decoders) d = AdxDecoder{};
  }
}

void AdxDecoder_Finish() {
  if (s_users == 0 || --s_users > 0) return;
  for (AdxDecoder& d : s_decoders) d = AdxDecoder{};
}

AdxDecoder* AdxDecoder_Create(SjHandle stream, int channels, const SjHandle* outputs) {
  if (stream == nullptr || channels < 1 || channels > ADX_MAX_CHANNELS || outputs == nullptr) return nullptr;
  for (int c = 0; c < channels; ++c) {
    if (outputs[c] == nullptr) return nullptr;
  }
  for (AdxDecoder& d : s_decoders) {
    if (d.m_used != 0) continue;
    d = AdxDecoder{};
    d.m_used = 1;
    d.m_state = AdxDecoder::STOPPED;
    d.m_channels = static_cast<uint8_t>(channels);
    d.m_stream = stream;
    for (int c = 0; c < channels; ++c) d.m_output[c] = outputs[c];
    return &d;
  }
  return nullptr;
}

void AdxDecoder_Destroy(AdxDecoder* decoder) {
  if (decoder == nullptr || decoder->m_used == 0) return;
  *decoder = AdxDecoder{};
}

void AdxDecoder::Start() {
  m_state = PREPARING;
  m_format = Format{};
  m_bytesConsumed = 0;
  m_samplesProduced = 0;
}

void AdxDecoder::Stop() {
  m_state = STOPPED;
}

void AdxDecoder::Fail(const char* prefix, const char* text) {
  ErrorHook_Report(prefix, text);
  m_state = FAILED;
}

void AdxDecoder::RunOnce() {
  if (m_state == PREPARING) Prepare();
  if (m_state != DECODING) return;
  while (DecodeGroups()) {
  }
}

void AdxDecoder::Prepare() {
  SjChunk all;
  SJ_TakeChunk(m_stream, SJ_LIN_DATA, TAKE_ALL, &all);
  if (all.len <= 0) {
    SJ_ReturnChunk(m_stream, SJ_LIN_DATA, &all);
    return;
  }
  int32_t p = 0;
  Candidate found = Candidate::NONE;
  for (; p < all.len; ++p) {
    found = Classify(all.data + p, all.len - p);
    if (found != Candidate::NONE) break;
  }
  // Bytes that cannot begin a header are dropped at once, so that a stream of
  // noise never fills the ring and stops its producer.
  SjChunk dropped{all.data, p};
  SJ_AddChunk(m_stream, SJ_LIN_FREE, &dropped);
  m_bytesConsumed += p;
  SjChunk rest{all.data + p, all.len - p};
  if (found != Candidate::HEADER) {
    SJ_ReturnChunk(m_stream, SJ_LIN_DATA, &rest);
    return;
  }
  const int32_t length = AdxGetBe16(rest.data + ADX_HDR_DATA_OFFSET) + 4;
  if (!ParseHeader(rest.data)) {
    SJ_ReturnChunk(m_stream, SJ_LIN_DATA, &rest);
    return;
  }
  SjChunk header{rest.data, length};
  SJ_AddChunk(m_stream, SJ_LIN_FREE, &header);
  SjChunk blocks{rest.data + length, rest.len - length};
  SJ_ReturnChunk(m_stream, SJ_LIN_DATA, &blocks);
  m_bytesConsumed += length;
  m_state = DECODING;
}

// Reads the format of a complete header (data offset + 4 bytes at `h`).
bool AdxDecoder::ParseHeader(const uint8_t* h) {
  const int32_t offset = AdxGetBe16(h + ADX_HDR_DATA_OFFSET);
  Format f{};
  f.encodingType = h[ADX_HDR_ENCODING_TYPE];
  f.blockBytes = h[ADX_HDR_BLOCK_BYTES];
  f.bitsPerSample = h[ADX_HDR_BITS_PER_SAMPLE];
  f.channels = h[ADX_HDR_CHANNELS];
  // The cut-off, version and flags must lie before the tag.
  if (offset <= 15) {
    Fail(ADX_MSG_HEADER_PREFIX, ADX_MSG_UNKNOWN_FORMAT);
    return false;
  }
  f.samplingRate = AdxGetBe32(h + ADX_HDR_SAMPLING_RATE);
  f.totalSamples = AdxGetBe32(h + ADX_HDR_TOTAL_SAMPLES);
  f.cutoff = AdxGetBe16(h + ADX_HDR_CUTOFF);
  f.version = h[ADX_HDR_VERSION];
  f.flags = h[ADX_HDR_FLAGS];
  if (f.encodingType >= 5) {
    Fail(ADX_MSG_AHX_PREFIX, ADX_MSG_AHX);
    return false;
  }
  // Only plain (unscrambled) 4-bit streams that fit the output rings are known;
  // the histories of version 4 need the header to reach past them.
  if (f.bitsPerSample != ADX_BITS_PER_SAMPLE || f.blockBytes < 3 || f.channels < 1 || f.channels > m_channels ||
      f.flags != 0 || (f.version >= 4 && offset <= 27) ||
      !AdxCalcCoefficients(f.cutoff, f.samplingRate, &f.c1, &f.c2)) {
    Fail(ADX_MSG_HEADER_PREFIX, ADX_MSG_UNKNOWN_FORMAT);
    return false;
  }
  f.samplesPerBlock = (f.blockBytes * 8 - 16) / f.bitsPerSample;
  for (int c = 0; c < ADX_MAX_CHANNELS; ++c) {
    m_s1[c] = 0;
    m_s2[c] = 0;
    const int32_t at = ADX_HDR_HISTORY + 4 * c;
    if (f.version >= 4 && c < f.channels && at + 4 <= offset - 2) {
      m_s1[c] = static_cast<int16_t>(AdxGetBe16(h + at));
      m_s2[c] = static_cast<int16_t>(AdxGetBe16(h + at + 2));
    }
  }
  m_format = f;
  return true;
}

// Decodes the block groups at the front of the stream ring; true when it made
// progress and another pass may do more.
bool AdxDecoder::DecodeGroups() {
  SjChunk in;
  SJ_TakeChunk(m_stream, SJ_LIN_DATA, TAKE_ALL, &in);
  if (in.len <= 0) {
    SJ_ReturnChunk(m_stream, SJ_LIN_DATA, &in);
    return false;
  }
  const Format& f = m_format;
  if ((in.data[0] & 0x80) != 0) {
    // A marker where a block group should begin: the end mark, or a stream
    // this decoder cannot follow.
    if (in.len >= 2 && AdxGetBe16(in.data) != ADX_END_MARK) {
      SJ_ReturnChunk(m_stream, SJ_LIN_DATA, &in);
      Fail(ADX_MSG_HEADER_PREFIX, ADX_MSG_UNKNOWN_FORMAT);
      return false;
    }
    if (in.len < 4) {
      SJ_ReturnChunk(m_stream, SJ_LIN_DATA, &in);
      return false;
    }
    int32_t length = AdxGetBe16(in.data + 2) + 4;
    if (length > in.len) length = in.len;
    SjChunk mark{in.data, length};
    SjChunk after{in.data + length, in.len - length};
    SJ_AddChunk(m_stream, SJ_LIN_FREE, &mark);
    SJ_ReturnChunk(m_stream, SJ_LIN_DATA, &after);
    m_bytesConsumed += length;
    m_state = ENDED;
    return false;
  }

  const int32_t groupBytes = f.blockBytes * f.channels;
  const int32_t outBytes = f.samplesPerBlock * 2;
  int32_t groups = in.len / groupBytes;
  for (int c = 0; c < f.channels && groups > 0; ++c) {
    int32_t room = 0;
    SJ_CanTake(m_output[c], SJ_LIN_FREE, groups * outBytes, &room);
    if (room / outBytes < groups) groups = room / outBytes;
  }
  if (groups == 0) {
    SJ_ReturnChunk(m_stream, SJ_LIN_DATA, &in);
    return false;
  }

  SjChunk out[ADX_MAX_CHANNELS];
  for (int c = 0; c < f.channels; ++c) SJ_TakeChunk(m_output[c], SJ_LIN_FREE, groups * outBytes, &out[c]);
  int16_t samples[MAX_BLOCK_SAMPLES];
  int16_t pair[MAX_BLOCK_SAMPLES];
  int32_t done = 0;
  bool marker = false;
  for (; done < groups && !marker; ++done) {
    const uint8_t* group = in.data + static_cast<size_t>(done) * groupBytes;
    for (int c = 0; c < f.channels; ++c) marker = marker || (group[c * f.blockBytes] & 0x80) != 0;
    if (marker) break;
    const size_t at = static_cast<size_t>(done) * outBytes;
    int c = 0;
    for (; c + 1 < f.channels; c += 2) {
      AdxDecodeBlockPair(group + c * f.blockBytes, group + (c + 1) * f.blockBytes, f.blockBytes, f.c1, f.c2, &m_s1[c],
                         &m_s2[c], samples, pair);
      std::memcpy(out[c].data + at, samples, static_cast<size_t>(outBytes));
      std::memcpy(out[c + 1].data + at, pair, static_cast<size_t>(outBytes));
    }
    if (c < f.channels) {
      AdxDecodeBlock(group + c * f.blockBytes, f.blockBytes, f.c1, f.c2, &m_s1[c], &m_s2[c], 0, samples);
      std::memcpy(out[c].data + at, samples, static_cast<size_t>(outBytes));
    }
  }
  for (int c = 0; c < f.channels; ++c) {
    SjChunk filled{out[c].data, done * outBytes};
    SjChunk unused{out[c].data + done * outBytes, out[c].len - done * outBytes};
    SJ_AddChunk(m_output[c], SJ_LIN_DATA, &filled);
    SJ_ReturnChunk(m_output[c], SJ_LIN_FREE, &unused);
  }
  SjChunk used{in.data, done * groupBytes};
  SjChunk left{in.data + done * groupBytes, in.len - done * groupBytes};
  SJ_AddChunk(m_stream, SJ_LIN_FREE, &used);
  SJ_ReturnChunk(m_stream, SJ_LIN_DATA, &left);
  m_bytesConsumed += static_cast<int64_t>(done) * groupBytes;
  m_samplesProduced += static_cast<int64_t>(done) * f.samplesPerBlock;
  if (marker && done == 0) {
    // The group's first block is audio but a later one is a marker: broken.
    Fail(ADX_MSG_HEADER_PREFIX, ADX_MSG_UNKNOWN_FORMAT);
    return false;
  }
  return marker;  // with a marker next, one more pass handles it
}
