#include "capture/SoundCapture.h"

#include <cstdlib>
#include <cstring>

#include "capture/Adpcm.h"
#include "codec/include/QuillDll.h"
#include "platform/Platform.h"
#include "settings/WaveFormatNames.h"
#include "support/Diag.h"
#include "support/Log.h"

static_assert(static_cast<int32_t>(WAVE_FORMAT_COUNT) == WAVEFMT_COUNT, "one name for each wave format code");

namespace {

constexpr int32_t BYTES_PER_FRAME = 4;  // stereo, 16-bit
constexpr int32_t CHANNELS = 2;

bool IsCodecFormat(int32_t format) {
  return format >= WAVEFMT_CRI_ADX && format <= WAVEFMT_CRI_HCA_LOWEST;
}
}  // namespace

const char* WaveFormatName(int32_t code) {
  if (code < 0 || code >= WAVEFMT_COUNT) return nullptr;
  return WAVE_FORMAT_NAMES[code];
}

int32_t WaveFormatFromName(const std::string& name) {
  for (int32_t code = 0; code < WAVEFMT_COUNT; ++code) {
    if (name == WAVE_FORMAT_NAMES[code]) return code;
  }
  return -1;
}

SoundCapture::SoundCapture(const Adpcm* adpcm, const CodecFunctions& codec) : m_adpcm(adpcm), m_codec(codec) {}

SoundCapture::~SoundCapture() {
  ClearCarry();
  CloseCodec();
  ClearDeviceList();
}

bool SoundCapture::OpenCodec() {
  QASSERT(m_hCodec == NULL);
  if (!IsCodecFormat(m_waveFormat)) return true;
  if (m_codec.Open == nullptr) return false;

  QuillDll::CODECINFO info = {};
  if (m_waveFormat == WAVEFMT_CRI_ADX) {
    info.codec = QuillDll::CODEC_ADX;
    info.quality = 0;
  } else {
    info.codec = QuillDll::CODEC_HCA;
    info.quality = static_cast<uint16_t>(8 - m_waveFormat);
  }
  info.channels = CHANNELS;
  info.bytesPerSample = 2;
  info.samplingRate = static_cast<double>(m_outputRate);

  void* handle = nullptr;
  uint32_t result = m_codec.Open(&handle, &info);
  if (result != QuillDll::RESULT_SUCCESS || handle == nullptr) {
    m_hCodec = nullptr;
    return false;
  }
  m_hCodec = handle;
  return true;
}

void SoundCapture::CloseCodec() {
  if (m_hCodec == nullptr) return;
  uint32_t result = m_codec.Close(m_hCodec);
  QASSERT(result == QuillDll::RESULT_SUCCESS);
  m_hCodec = nullptr;
}

void SoundCapture::ClearCarry() {
  m_prevPcm.reset();
  m_prevPcmCapacity = 0;
  m_prevPcmSamples = 0;
}

void SoundCapture::ClearDeviceList() {
  m_devices.clear();
}

void SoundCapture::ResetLevels() {
  m_levels[0].Reset();
  m_levels[1].Reset();
}

void SoundCapture::Write(const void* data, size_t bytes) {
  if (m_packetChannel == nullptr) return;
  // The result is not needed: a failed write closes the channel, and blocks
  // are only sent while it is connected.
  const uint64_t before = m_clock->NowMicros();
  m_packetChannel->Write(PacketChannel::AUDIO, data, static_cast<int32_t>(bytes));
  const uint64_t after = m_clock->NowMicros();
  m_stats.CountWrite(static_cast<uint32_t>(bytes / BYTES_PER_FRAME), after >= before ? after - before : 0);
}

StreamFigures SoundCapture::GetStreamFigures() const {
  StreamFigures figures = m_streamOpen ? m_stats.Read() : m_lastFigures;
  if (m_streamOpen) figures.linkDropped = LinkDroppedSinceStart();
  figures.running = m_streamOpen;
  figures.valid = m_streamOpen || m_lastFigures.valid;
  figures.restarts = m_restarts.load(std::memory_order_relaxed);
  return figures;
}

// The converter's delay at the output rate: the silence its start puts in
// front of the stream, and what it still holds when the stream stops.
uint64_t SoundCapture::ConverterDelayFrames() const {
  if (m_inputRate <= 0) return 0;
  const uint64_t lookahead = m_converter.GetLookahead();
  return (lookahead * static_cast<uint64_t>(m_outputRate) + static_cast<uint64_t>(m_inputRate) / 2) /
         static_cast<uint64_t>(m_inputRate);
}

bool SoundCapture::PrepareStream(int32_t outputRate, int32_t waveFormat) {
  m_outputRate = outputRate;
  m_waveFormat = waveFormat;
  ResetLevels();
  QASSERT(m_prevPcm == NULL);
  QASSERT(m_prevPcmSamples == 0);
  SetEnded(false);
  if (OpenCodec()) return true;
  SetFailure(CaptureFailure::START_FAILED);
  return false;
}

void SoundCapture::SetupConverter(int32_t inputRate) {
  m_converter.Setup(static_cast<uint32_t>(inputRate), static_cast<uint32_t>(m_outputRate), CHANNELS);
  m_inputRate = inputRate;
}

bool SoundCapture::StartThread(Thread& worker, Thread::Entry entry, void* context) {
  return worker.Start(entry, context);
}

bool SoundCapture::StartWorker(Thread& worker, Thread::Entry entry, void* context) {
  SetActive(true);
  if (!m_startThread(worker, entry, context)) {
    Log("CreateThread failed: last error is %u\n", platform::LastError());
    SetFailure(CaptureFailure::START_FAILED);
    return false;
  }
  worker.SetTimeCritical();
  return true;
}

void SoundCapture::StreamStarted() {
  BeginStream();
  SetFailure(CaptureFailure::NONE);
}

void SoundCapture::FinishStop() {
  ClearCarry();
  CloseCodec();
  SetEnded(false);
}

bool SoundCapture::StopWorker(Thread& worker, const char* api) {
  const bool wasActive = IsActive();
  SetActive(false);
  WakeWorker();
  if (!worker.JoinFor(wasActive ? STOP_WAIT_MS : 0)) {
    if (wasActive) {
      Log("%s: the worker did not end within %u ms; left to end by itself\n", api, static_cast<unsigned>(STOP_WAIT_MS));
    }
    return false;
  }
  EndStream();
  return true;
}

void SoundCapture::BeginStream() {
  m_streamOpen = true;
  m_linkDroppedAtStart = m_packetChannel != nullptr ? m_packetChannel->GetDroppedAudioBlocks() : 0;
}

// The link's count runs over the program's life; the stream's share is what
// it gained since the stream began.
uint64_t SoundCapture::LinkDroppedSinceStart() const {
  const uint64_t now = m_packetChannel != nullptr ? m_packetChannel->GetDroppedAudioBlocks() : 0;
  return now >= m_linkDroppedAtStart ? now - m_linkDroppedAtStart : 0;
}

// The counts are cleared here, after the worker has ended, so that they are
// 0 whenever a worker starts.
void SoundCapture::EndStream() {
  if (!m_streamOpen) {
    m_stats.Reset();
    m_convertedAny = false;
    return;
  }
  // The frames still held back for the codec or the ADPCM delay, and those
  // in the converter, never go out.
  m_stats.CountDropped(static_cast<uint64_t>(m_prevPcmSamples));
  if (m_convertedAny) m_stats.CountDropped(ConverterDelayFrames());
  m_convertedAny = false;
  m_streamOpen = false;
  m_lastFigures = m_stats.Read();
  m_lastFigures.valid = true;
  m_lastFigures.restarts = m_restarts.load(std::memory_order_relaxed);
  m_lastFigures.linkDropped = LinkDroppedSinceStart();
  const std::string text = StreamFiguresLogText(m_lastFigures);
  const size_t split = text.find('\n');
  const std::string name = GetName();
  Log("Stream end (%s): %s\n", name.c_str(), text.substr(0, split).c_str());
  Log("Stream end (%s): %s", name.c_str(), text.substr(split + 1).c_str());
  m_stats.Reset();
}

void SoundCapture::NoteFallback(bool fallback, const std::string& chosenName) {
  if (fallback && !m_onFallback) {
    Log("%s: \"%s\" is gone, recording from the default device\n", GetName().c_str(), chosenName.c_str());
    m_fallbackNotice = true;
  }
  m_onFallback = fallback;
}

void SoundCapture::SendBlock(int16_t* frames, int32_t count) {
  if (count <= 0) return;
  if (m_waveFormat == WAVEFMT_ADPCM && m_adpcm != nullptr && m_adpcm->IsLoaded()) {
    SendAdpcm(frames, count);
  } else if (m_hCodec != nullptr && IsCodecFormat(m_waveFormat)) {
    SendThroughCodec(frames, count);
  } else {
    Write(frames, static_cast<size_t>(count) * BYTES_PER_FRAME);
  }
}

void SoundCapture::SendAdpcm(int16_t* frames, int32_t count) {
  const size_t historySamples = static_cast<size_t>(2 * ADPCM_CUT_SAMPLES) * CHANNELS;
  if (m_prevPcm == nullptr) {
    // The stream starts from silence.
    m_stats.CountInserted(ADPCM_CUT_SAMPLES);
    m_prevPcm.reset(new int16_t[historySamples]());
    m_prevPcmCapacity = 2 * ADPCM_CUT_SAMPLES;
    m_prevPcmSamples = ADPCM_CUT_SAMPLES;
  } else {
    QASSERT(m_prevPcmSamples == ADPCM_CUT_SAMPLES);
  }

  // The next block's history is the last 200 frames of this history and the
  // block, as captured. A block shorter than that (a partial flush) goes
  // through the same delay line, so the stream stays continuous.
  const size_t blockSamples = static_cast<size_t>(count) * CHANNELS;
  if (blockSamples >= historySamples) {
    m_adpcmSaved.assign(frames + (blockSamples - historySamples), frames + blockSamples);
  } else {
    m_adpcmSaved.assign(m_prevPcm.get() + blockSamples, m_prevPcm.get() + historySamples);
    m_adpcmSaved.insert(m_adpcmSaved.end(), frames, frames + blockSamples);
  }
  m_adpcm->EncodeDecode(frames, count, CHANNELS, m_prevPcm.get(), ADPCM_CUT_SAMPLES);
  memcpy(m_prevPcm.get(), m_adpcmSaved.data(), historySamples * sizeof(int16_t));
  Write(frames, static_cast<size_t>(count) * BYTES_PER_FRAME);
}

void SoundCapture::SendThroughCodec(const int16_t* frames, int32_t count) {
  const int16_t* input = frames;
  uint32_t n = static_cast<uint32_t>(count);
  if (m_prevPcmSamples > 0) {
    // The frames the codec did not take last time come first.
    const size_t carried = static_cast<size_t>(m_prevPcmSamples) * CHANNELS;
    m_codecInput.resize(carried + static_cast<size_t>(count) * CHANNELS);
    memcpy(m_codecInput.data(), m_prevPcm.get(), carried * sizeof(int16_t));
    memcpy(m_codecInput.data() + carried, frames, static_cast<size_t>(count) * CHANNELS * sizeof(int16_t));
    input = m_codecInput.data();
    n += static_cast<uint32_t>(m_prevPcmSamples);
  }

  m_codecOutput.resize(static_cast<size_t>(n) * CHANNELS);
  uint32_t processed = 0;
  uint32_t result =
      m_codec.EncodeAndDecode(m_hCodec, m_codecOutput.data(), n, const_cast<int16_t*>(input), n, &processed);
  QASSERT(result == QuillDll::RESULT_SUCCESS);
  // A library may not claim more than it was given.
  if (processed > n) processed = n;

  const size_t rest = n - processed;
  if (rest == 0) {
    ClearCarry();
  } else {
    // Keep the frames the codec did not take for the next block.
    if (m_prevPcmCapacity < rest) {
      m_prevPcm.reset(new int16_t[rest * CHANNELS]);
      m_prevPcmCapacity = rest;
    }
    memmove(m_prevPcm.get(), input + static_cast<size_t>(processed) * CHANNELS, rest * CHANNELS * sizeof(int16_t));
    m_prevPcmSamples = static_cast<int32_t>(rest);
  }
  Write(m_codecOutput.data(), static_cast<size_t>(processed) * BYTES_PER_FRAME);
}

void SoundCapture::UpdateLevels(const int16_t* frames, int32_t count) {
  for (int c = 0; c < CHANNELS; ++c) {
    LevelMeter& m = m_levels[c];
    int32_t swing = -1;
    bool moved = false;
    for (int32_t i = 0; i < count; ++i) {
      const int32_t s = frames[static_cast<size_t>(i) * CHANNELS + c];
      const int32_t p = m.last;
      if (s > p) {
        if (m.direction != 1) {
          const int32_t turn = std::abs(m.extreme - p);
          if (turn > swing) swing = turn;
          m.direction = 1;
          m.extreme = p;
        }
        moved = true;
      } else if (s < p) {
        if (m.direction != -1) {
          const int32_t turn = std::abs(m.extreme - p);
          if (turn > swing) swing = turn;
          m.direction = -1;
          m.extreme = p;
        }
        moved = true;
      }
      m.last = s;
    }
    if (swing >= 0) {
      m.level.store(swing, std::memory_order_relaxed);
    } else if (!moved) {
      m.level.store(0, std::memory_order_relaxed);
      m.extreme = m.last;
      m.direction = 0;
    }
  }
}

void SoundCapture::ProcessCaptured(int16_t* frames, int32_t bytes) {
  const int32_t count = bytes / BYTES_PER_FRAME;
  if (count > 0 && m_packetChannel != nullptr && m_packetChannel->IsConnected()) {
    if (m_converter.IsNeed()) {
      if (!m_convertedAny) m_stats.CountInserted(ConverterDelayFrames());
      m_convertedAny = true;
      const uint32_t inputBytes = static_cast<uint32_t>(count) * BYTES_PER_FRAME;
      const int32_t room = m_converter.OutputBytes(inputBytes);
      m_converted.resize(static_cast<size_t>(room / 2) + CHANNELS);
      uint32_t convertedBytes = 0;
      m_converter.Convert(frames, inputBytes, m_converted.data(), &convertedBytes);
      SendBlock(m_converted.data(), static_cast<int32_t>(convertedBytes / BYTES_PER_FRAME));
    } else {
      SendBlock(frames, count);
    }
  } else if (count > 0) {
    m_stats.CountUnsent(static_cast<uint64_t>(count));
  }
  UpdateLevels(frames, count);
}
