#include "CriQuillAdx.h"

#include <cstring>
#include <initializer_list>
#include <new>

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

// Puts one slice into the pipeline and takes out as many frames from its far
// end. The first slice overwrites the start of the primed silence (the
// encoder has read none of it yet); later ones queue behind what is there.
void CriQuillAdx::Slice(int16_t* out, const int16_t* in, uint32_t frames) {
  const auto bytes = static_cast<int32_t>(frames * 2);
  const size_t stride = static_cast<size_t>(m_channels);
  if (!m_started) {
    m_started = true;
    for (int c = 0; c < m_channels; ++c) {
      SjChunk chunk;
      SJ_TakeChunk(m_inputRing[c], SJ_LIN_DATA, bytes, &chunk);
      const int16_t* from = in + c;
      for (int32_t at = 0; at + 1 < chunk.len; at += 2, from += stride) std::memcpy(chunk.data + at, from, 2);
      SJ_ReturnChunk(m_inputRing[c], SJ_LIN_DATA, &chunk);
    }
  } else {
    // Make room in the input rings: the encoder drains them into the stream.
    while (!InputHasRoom(bytes) && Pump()) {
    }
    for (int c = 0; c < m_channels; ++c) {
      const int16_t* from = in + c;
      int32_t left = bytes;
      while (left > 0) {
        SjChunk chunk;
        SJ_TakeChunk(m_inputRing[c], SJ_LIN_FREE, left, &chunk);
        if (chunk.len <= 0) break;  // only if the pipeline were stuck: the rest is dropped
        for (int32_t at = 0; at + 1 < chunk.len; at += 2, from += stride) std::memcpy(chunk.data + at, from, 2);
        SJ_AddChunk(m_inputRing[c], SJ_LIN_DATA, &chunk);
        left -= chunk.len;
      }
    }
  }
  // Run the codec until the slice's worth of output is there (both channels
  // are decoded side by side, so channel 0 speaks for both).
  while (SJ_CountBytes(m_outputRing[0], SJ_LIN_DATA) < bytes && Pump()) {
  }
  for (int c = 0; c < m_channels; ++c) {
    int16_t* to = out + c;
    int32_t left = bytes;
    while (left > 0) {
      SjChunk chunk;
      SJ_TakeChunk(m_outputRing[c], SJ_LIN_DATA, left, &chunk);
      if (chunk.len <= 0) break;
      for (int32_t at = 0; at + 1 < chunk.len; at += 2, to += stride) std::memcpy(to, chunk.data + at, 2);
      SJ_AddChunk(m_outputRing[c], SJ_LIN_FREE, &chunk);
      left -= chunk.len;
    }
    // A pipeline that could not deliver (never with this encoder feeding the
    // decoder) gives silence rather than stale samples.
    for (; left > 0; left -= 2, to += stride) *to = 0;
  }
}
