#include "CriQuillAdx.h"

#include <cstring>
#include <initializer_list>
#include <new>

#include "runtime/CodecSimd.h"
#include "runtime/ErrorHook.h"

CriQuillAdx::CriQuillAdx()
    : m_info{},
      m_encoder(nullptr),
      m_decoder(nullptr),
      m_channels(0),
      m_servicesStarted(false),
      m_started(false),
      m_errorCount(0),
      m_inputRing{},
      m_streamRing(nullptr),
      m_outputRing{},
      m_inputWork{},
      m_streamWork{},
      m_outputWork{} {}

void CriQuillAdx::CountError(void* context, const char* /*message*/) {
  ++static_cast<CriQuillAdx*>(context)->m_errorCount;
}

uint32_t CreateCriQuillAdx(const QuillDll::CODECINFO& info, CriQuillBase** codec) {
  *codec = nullptr;
  // The rate goes into the stream header as a positive 32-bit integer.
  if (info.codec != QuillDll::CODEC_ADX || info.channels < 1 || info.channels > 2 || info.bytesPerSample != 2 ||
      !(info.samplingRate >= 1.0 && info.samplingRate < 2147483648.0)) {
    return QuillDll::RESULT_INVALID_PARAMETER;
  }
  auto* adx = new (std::nothrow) CriQuillAdx;
  if (adx == nullptr) return QuillDll::RESULT_FAILED;

  // Messages are counted while this object is set up, and only then: the hook
  // never points at an object that may be gone.
  ErrorHook_Install(&CriQuillAdx::CountError, adx);
  const bool made = adx->SetUp(info);
  ErrorHook_Install(nullptr, nullptr);
  if (!made || adx->m_errorCount > 0) {
    adx->Release();
    return QuillDll::RESULT_FAILED;
  }
  adx->m_info = info;
  *codec = adx;
  return QuillDll::RESULT_SUCCESS;
}

bool CriQuillAdx::SetUp(const QuillDll::CODECINFO& info) {
  m_channels = info.channels;
  SJRBF_Init();
  AdxEncoder_Init();
  AdxDecoder_Init();
  m_servicesStarted = true;

  for (int c = 0; c < m_channels; ++c) {
    m_inputRing[c] = SJRBF_Create(m_inputWork[c], RING_SIZE, MIRROR_SIZE);
    if (m_inputRing[c] == nullptr) return false;
  }
  m_streamRing = SJRBF_Create(m_streamWork, RING_SIZE, MIRROR_SIZE);
  if (m_streamRing == nullptr) return false;
  for (int c = 0; c < m_channels; ++c) {
    m_outputRing[c] = SJRBF_Create(m_outputWork[c], RING_SIZE, MIRROR_SIZE);
    if (m_outputRing[c] == nullptr) return false;
  }

  m_encoder = AdxEncoder_Create(m_channels, m_inputRing, m_streamRing);
  if (m_encoder == nullptr) return false;
  m_decoder = AdxDecoder_Create(m_streamRing, m_channels, m_outputRing);
  if (m_decoder == nullptr) return false;

  m_encoder->SetDataOffset(ADX_DATA_OFFSET);
  m_encoder->SetSamplingRate(static_cast<int32_t>(info.samplingRate));
  m_encoder->SetChannels(m_channels);
  m_encoder->SetBitsPerSample(ADX_BITS_PER_SAMPLE);
  // The stream never ends: the header says 0x7FFFFFFF samples, and the
  // encoder treats that count as unlimited, so a handle streams for as long
  // as it is open.
  m_encoder->SetTotalSamples(ADX_TOTAL_UNLIMITED);

  // Prime the input rings: all of their (zeroed) space becomes queued silence.
  for (int c = 0; c < m_channels; ++c) {
    SjChunk chunk;
    SJ_TakeChunk(m_inputRing[c], SJ_LIN_FREE, RING_SIZE, &chunk);
    SJ_AddChunk(m_inputRing[c], SJ_LIN_DATA, &chunk);
  }
  m_encoder->Start();
  m_decoder->Start();
  return true;
}

void CriQuillAdx::TearDown() {
  if (m_encoder != nullptr) {
    m_encoder->Stop();
    AdxEncoder_Destroy(m_encoder);
    m_encoder = nullptr;
  }
  if (m_decoder != nullptr) {
    m_decoder->Stop();
    AdxDecoder_Destroy(m_decoder);
    m_decoder = nullptr;
  }
  for (SjHandle* ring : {&m_inputRing[0], &m_inputRing[1], &m_streamRing, &m_outputRing[0], &m_outputRing[1]}) {
    if (*ring != nullptr) SJ_Destroy(*ring);
    *ring = nullptr;
  }
  if (m_servicesStarted) {
    AdxDecoder_Finish();
    AdxEncoder_Finish();
    SJRBF_Finish();
    m_servicesStarted = false;
  }
}

uint32_t CriQuillAdx::Release() {
  TearDown();
  delete this;
  return QuillDll::RESULT_SUCCESS;
}

// Runs the encoder and the decoder once; true when either moved anything.
bool CriQuillAdx::Pump() {
  const int64_t before = m_encoder->BytesWritten() + m_decoder->BytesConsumed();
  m_encoder->RunOnce();
  m_decoder->RunOnce();
  return m_encoder->BytesWritten() + m_decoder->BytesConsumed() != before;
}

bool CriQuillAdx::InputHasRoom(int32_t bytes) const {
  for (int c = 0; c < m_channels; ++c) {
    int32_t available = 0;
    if (!SJ_CanTake(m_inputRing[c], SJ_LIN_FREE, bytes, &available)) return false;
  }
  return true;
}

uint32_t CriQuillAdx::Process(int16_t* out, uint32_t outFrames, const int16_t* in, uint32_t inFrames,
                              uint32_t* processed) {
  if (processed != nullptr) *processed = 0;
  if ((out == nullptr && outFrames > 0) || (in == nullptr && inFrames > 0)) {
    return QuillDll::RESULT_INVALID_PARAMETER;
  }
  const uint32_t frames = inFrames < outFrames ? inFrames : outFrames;
  for (uint32_t done = 0; done < frames;) {
    const uint32_t slice = frames - done < SLICE_FRAMES ? frames - done : SLICE_FRAMES;
    const size_t at = static_cast<size_t>(done) * static_cast<size_t>(m_channels);
    Slice(out + at, in + at, slice);
    done += slice;
  }
  if (processed != nullptr) *processed = frames;
  return QuillDll::RESULT_SUCCESS;
}

namespace {

// Channel `channel` of `frames` interleaved frames of `channels` channels
// into `to` (a ring's chunk, 16-bit samples).
void TakeChannel(const int16_t* from, int channels, int channel, uint8_t* to, int32_t frames) {
  int32_t i = 0;
#if defined(QUILL_CODEC_SSE2)
  if (channels == 2 && codec_simd::VectorPath()) {
    // Eight frames at a time: a 32-bit lane holds a frame, left in its low half.
    for (; i + 8 <= frames; i += 8) {
      const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 2 * i));
      const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 2 * i + 8));
      const __m128i samples = channel == 0 ? _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(first, 16), 16),
                                                             _mm_srai_epi32(_mm_slli_epi32(second, 16), 16))
                                           : _mm_packs_epi32(_mm_srai_epi32(first, 16), _mm_srai_epi32(second, 16));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 2 * i), samples);
    }
  }
#endif
  for (; i < frames; ++i) std::memcpy(to + 2 * i, from + static_cast<size_t>(i) * channels + channel, 2);
}

// The reverse: `frames` samples from a ring's chunk into channel `channel`.
void PutChannel(const uint8_t* from, int channels, int channel, int16_t* to, int32_t frames) {
  for (int32_t i = 0; i < frames; ++i) std::memcpy(to + static_cast<size_t>(i) * channels + channel, from + 2 * i, 2);
}

#if defined(QUILL_CODEC_SSE2)
// Both channels' samples from two chunks of the same length into stereo frames.
void PutStereo(const uint8_t* left, const uint8_t* right, int16_t* to, int32_t frames) {
  int32_t i = 0;
  for (; i + 8 <= frames; i += 8) {
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + 2 * i));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + 2 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 2 * i), _mm_unpacklo_epi16(l, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 2 * i + 8), _mm_unpackhi_epi16(l, r));
  }
  PutChannel(left + 2 * i, 2, 0, to + 2 * i, frames - i);
  PutChannel(right + 2 * i, 2, 1, to + 2 * i, frames - i);
}
#endif

}  // namespace

// Puts one slice into the pipeline and takes out as many frames from its far
// end. The first slice overwrites the start of the primed silence (the
// encoder has read none of it yet); later ones queue behind what is there.
void CriQuillAdx::Slice(int16_t* out, const int16_t* in, uint32_t frames) {
  const auto bytes = static_cast<int32_t>(frames * 2);
  if (!m_started) {
    m_started = true;
    for (int c = 0; c < m_channels; ++c) {
      SjChunk chunk;
      SJ_TakeChunk(m_inputRing[c], SJ_LIN_DATA, bytes, &chunk);
      TakeChannel(in, m_channels, c, chunk.data, chunk.len / 2);
      SJ_ReturnChunk(m_inputRing[c], SJ_LIN_DATA, &chunk);
    }
  } else {
    // Make room in the input rings: the encoder drains them into the stream.
    while (!InputHasRoom(bytes) && Pump()) {
    }
    for (int c = 0; c < m_channels; ++c) {
      const int16_t* from = in;
      int32_t left = bytes;
      while (left > 0) {
        SjChunk chunk;
        SJ_TakeChunk(m_inputRing[c], SJ_LIN_FREE, left, &chunk);
        if (chunk.len <= 0) break;  // only if the pipeline were stuck: the rest is dropped
        TakeChannel(from, m_channels, c, chunk.data, chunk.len / 2);
        SJ_AddChunk(m_inputRing[c], SJ_LIN_DATA, &chunk);
        from += static_cast<size_t>(chunk.len / 2) * m_channels;
        left -= chunk.len;
      }
    }
  }
  // Run the codec until the slice's worth of output is there (both channels
  // are decoded side by side, so channel 0 speaks for both).
  while (SJ_CountBytes(m_outputRing[0], SJ_LIN_DATA) < bytes && Pump()) {
  }
  int16_t* to[2] = {out, out};
  int32_t left[2] = {bytes, bytes};
  for (;;) {
    SjChunk chunk[2] = {};
    for (int c = 0; c < m_channels; ++c)
      if (left[c] > 0) SJ_TakeChunk(m_outputRing[c], SJ_LIN_DATA, left[c], &chunk[c]);
#if defined(QUILL_CODEC_SSE2)
    if (m_channels == 2 && chunk[0].len > 0 && chunk[0].len == chunk[1].len && codec_simd::VectorPath()) {
      // The two output rings move in step: their chunks interleave at once.
      PutStereo(chunk[0].data, chunk[1].data, to[0], chunk[0].len / 2);
    } else
#endif
    {
      for (int c = 0; c < m_channels; ++c)
        if (chunk[c].len > 0) PutChannel(chunk[c].data, m_channels, c, to[c], chunk[c].len / 2);
    }
    bool more = false;
    for (int c = 0; c < m_channels; ++c) {
      if (chunk[c].len <= 0) continue;
      SJ_AddChunk(m_outputRing[c], SJ_LIN_FREE, &chunk[c]);
      to[c] += static_cast<size_t>(chunk[c].len / 2) * m_channels;
      left[c] -= chunk[c].len;
      more = more || left[c] > 0;
    }
    if (!more) break;
  }
  // A pipeline that could not deliver (never with this encoder feeding the
  // decoder) gives silence rather than stale samples.
  for (int c = 0; c < m_channels; ++c)
    for (int16_t* at = to[c] + c; left[c] > 0; left[c] -= 2, at += m_channels) *at = 0;
}
