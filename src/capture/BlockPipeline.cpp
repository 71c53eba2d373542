#include "capture/BlockPipeline.h"

#include <cstdlib>
#include <cstring>

#include "capture/Adpcm.h"
#include "codec/include/QuillDll.h"
#include "settings/WaveFormatNames.h"
#include "support/Diag.h"
#include "support/Log.h"

static_assert(static_cast<int32_t>(WAVE_FORMAT_COUNT) == WAVEFMT_COUNT, "one name for each wave format code");

using capture::BYTES_PER_FRAME;
using capture::CHANNELS;

namespace {
bool IsCodecFormat(int32_t format) {
  return format >= WAVEFMT_CRI_ADX && format <= WAVEFMT_CRI_HCA_LOWEST;
}

size_t SamplesOf(int32_t frames) {
  return static_cast<size_t>(frames) * CHANNELS;
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

BlockPipeline::BlockPipeline(const Adpcm* adpcm, const CodecFunctions& codec, Clock& clock)
    : m_clock(&clock), m_adpcm(adpcm), m_codec(codec) {}

BlockPipeline::~BlockPipeline() {
  Close();
}

bool BlockPipeline::Open(int32_t outputRate, int32_t waveFormat) {
  m_outputRate = outputRate;
  m_waveFormat = waveFormat;
  m_levels[0].Reset();
  m_levels[1].Reset();
  QASSERT(m_adpcmHistory.empty());
  QASSERT(m_codecCarry.empty());
  return OpenCodec();
}

void BlockPipeline::Close() {
  m_adpcmHistory.clear();
  m_codecCarry.clear();
  CloseCodec();
}

void BlockPipeline::SetupConverter(int32_t inputRate) {
  m_converter.Setup(static_cast<uint32_t>(inputRate), static_cast<uint32_t>(m_outputRate), CHANNELS);
  m_inputRate = inputRate;
}

bool BlockPipeline::OpenCodec() {
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
  info.bytesPerSample = capture::BYTES_PER_SAMPLE;
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

void BlockPipeline::CloseCodec() {
  if (m_hCodec == nullptr) return;
  uint32_t result = m_codec.Close(m_hCodec);
  QASSERT(result == QuillDll::RESULT_SUCCESS);
  m_hCodec = nullptr;
}

int32_t BlockPipeline::GetHeldBackFrames() const {
  if (!m_adpcmHistory.empty()) return ADPCM_CUT_FRAMES;
  return static_cast<int32_t>(m_codecCarry.size() / CHANNELS);
}

void BlockPipeline::Write(const int16_t* frames, int32_t frameCount) {
  if (m_packetChannel == nullptr) return;
  // The result is not needed: a failed write closes the channel, and blocks
  // are only sent while it is connected.
  const uint64_t before = m_clock->NowMicros();
  m_packetChannel->Write(PacketChannel::AUDIO, frames, frameCount * BYTES_PER_FRAME);
  const uint64_t after = m_clock->NowMicros();
  m_stats.CountWrite(static_cast<uint32_t>(frameCount), after >= before ? after - before : 0);
}

// The converter's delay at the output rate: the silence its start puts in
// front of the stream, and what it still holds when the stream stops.
uint64_t BlockPipeline::ConverterDelayFrames() const {
  if (m_inputRate <= 0) return 0;
  const uint64_t lookahead = m_converter.GetLookahead();
  return (lookahead * static_cast<uint64_t>(m_outputRate) + static_cast<uint64_t>(m_inputRate) / 2) /
         static_cast<uint64_t>(m_inputRate);
}

void BlockPipeline::BeginStream() {
  m_streamOpen = true;
  m_linkDroppedAtStart = m_packetChannel != nullptr ? m_packetChannel->GetDroppedAudioBlocks() : 0;
}

// The link's count runs over the program's life; the stream's share is what
// it gained since the stream began.
uint64_t BlockPipeline::LinkDroppedSinceStart() const {
  const uint64_t now = m_packetChannel != nullptr ? m_packetChannel->GetDroppedAudioBlocks() : 0;
  return now >= m_linkDroppedAtStart ? now - m_linkDroppedAtStart : 0;
}

// The counts are cleared here, after the worker has ended, so that they are
// 0 whenever a worker starts.
void BlockPipeline::EndStream(const std::string& sourceName, uint64_t restarts) {
  if (!m_streamOpen) {
    m_stats.Reset();
    m_convertedAny = false;
    return;
  }
  // The frames still held back for the codec or the ADPCM delay, and those
  // in the converter, never go out.
  m_stats.CountDropped(static_cast<uint64_t>(GetHeldBackFrames()));
  if (m_convertedAny) m_stats.CountDropped(ConverterDelayFrames());
  m_convertedAny = false;
  m_streamOpen = false;
  m_lastFigures = m_stats.Read();
  m_lastFigures.valid = true;
  m_lastFigures.restarts = restarts;
  m_lastFigures.linkDropped = LinkDroppedSinceStart();
  const std::string text = StreamFiguresLogText(m_lastFigures);
  const size_t split = text.find('\n');
  Log("Stream end (%s): %s\n", sourceName.c_str(), text.substr(0, split).c_str());
  Log("Stream end (%s): %s", sourceName.c_str(), text.substr(split + 1).c_str());
  m_stats.Reset();
}

StreamFigures BlockPipeline::GetStreamFigures(uint64_t restarts) const {
  StreamFigures figures = m_streamOpen ? m_stats.Read() : m_lastFigures;
  if (m_streamOpen) figures.linkDropped = LinkDroppedSinceStart();
  figures.running = m_streamOpen;
  figures.valid = m_streamOpen || m_lastFigures.valid;
  figures.restarts = restarts;
  return figures;
}

void BlockPipeline::SendBlock(int16_t* frames, int32_t frameCount) {
  if (frameCount <= 0) return;
  if (m_waveFormat == WAVEFMT_ADPCM && m_adpcm != nullptr && m_adpcm->IsLoaded()) {
    SendAdpcm(frames, frameCount);
  } else if (m_hCodec != nullptr && IsCodecFormat(m_waveFormat)) {
    SendThroughCodec(frames, frameCount);
  } else {
    Write(frames, frameCount);
  }
}

void BlockPipeline::SendAdpcm(int16_t* frames, int32_t frameCount) {
  const size_t historySamples = SamplesOf(2 * ADPCM_CUT_FRAMES);
  if (m_adpcmHistory.empty()) {
    // The stream starts from silence.
    m_stats.CountInserted(ADPCM_CUT_FRAMES);
    m_adpcmHistory.assign(historySamples, 0);
  }

  // The next block's history is the last 200 frames of this history and the
  // block, as captured. A block shorter than that (a partial flush) goes
  // through the same delay line, so the stream stays continuous.
  const size_t blockSamples = SamplesOf(frameCount);
  if (blockSamples >= historySamples) {
    m_adpcmSaved.assign(frames + (blockSamples - historySamples), frames + blockSamples);
  } else {
    m_adpcmSaved.assign(m_adpcmHistory.begin() + static_cast<std::ptrdiff_t>(blockSamples), m_adpcmHistory.end());
    m_adpcmSaved.insert(m_adpcmSaved.end(), frames, frames + blockSamples);
  }
  m_adpcm->EncodeDecode(frames, frameCount, CHANNELS, m_adpcmHistory.data(), ADPCM_CUT_FRAMES);
  m_adpcmHistory.swap(m_adpcmSaved);
  Write(frames, frameCount);
}

void BlockPipeline::SendThroughCodec(const int16_t* frames, int32_t frameCount) {
  const int16_t* input = frames;
  uint32_t inputFrames = static_cast<uint32_t>(frameCount);
  if (!m_codecCarry.empty()) {
    // The frames the codec did not take last time come first.
    m_codecInput.assign(m_codecCarry.begin(), m_codecCarry.end());
    m_codecInput.insert(m_codecInput.end(), frames, frames + SamplesOf(frameCount));
    input = m_codecInput.data();
    inputFrames += static_cast<uint32_t>(m_codecCarry.size() / CHANNELS);
  }

  m_codecOutput.resize(SamplesOf(static_cast<int32_t>(inputFrames)));
  uint32_t processed = 0;
  uint32_t result = m_codec.EncodeAndDecode(m_hCodec, m_codecOutput.data(), inputFrames, const_cast<int16_t*>(input),
                                            inputFrames, &processed);
  QASSERT(result == QuillDll::RESULT_SUCCESS);
  // A library may not claim more than it was given.
  if (processed > inputFrames) processed = inputFrames;

  // Keep the frames the codec did not take for the next block.
  m_codecCarry.assign(input + SamplesOf(static_cast<int32_t>(processed)),
                      input + SamplesOf(static_cast<int32_t>(inputFrames)));
  Write(m_codecOutput.data(), static_cast<int32_t>(processed));
}

void BlockPipeline::UpdateLevels(const int16_t* frames, int32_t frameCount) {
  for (int c = 0; c < CHANNELS; ++c) {
    LevelMeter& m = m_levels[c];
    int32_t swing = -1;
    bool moved = false;
    for (int32_t i = 0; i < frameCount; ++i) {
      const int32_t s = frames[SamplesOf(i) + static_cast<size_t>(c)];
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

void BlockPipeline::ProcessCaptured(int16_t* frames, int32_t frameCount) {
  if (frameCount > 0 && m_packetChannel != nullptr && m_packetChannel->IsConnected()) {
    if (m_converter.IsNeed()) {
      if (!m_convertedAny) m_stats.CountInserted(ConverterDelayFrames());
      m_convertedAny = true;
      const uint32_t inputBytes = static_cast<uint32_t>(frameCount) * BYTES_PER_FRAME;
      const int32_t roomBytes = m_converter.OutputBytes(inputBytes);
      m_converted.resize(static_cast<size_t>(roomBytes / capture::BYTES_PER_SAMPLE) + CHANNELS);
      uint32_t convertedBytes = 0;
      m_converter.Convert(frames, inputBytes, m_converted.data(), &convertedBytes);
      SendBlock(m_converted.data(), static_cast<int32_t>(convertedBytes / BYTES_PER_FRAME));
    } else {
      SendBlock(frames, frameCount);
    }
  } else if (frameCount > 0) {
    m_stats.CountUnsent(static_cast<uint64_t>(frameCount));
  }
  UpdateLevels(frames, frameCount);
}
