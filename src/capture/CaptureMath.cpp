#include "capture/CaptureMath.h"

#include <cstring>

namespace capture {

namespace {
const char* const kMmSysErrNames[] = {
    "MMSYSERR_NOERROR",      "MMSYSERR_ERROR",        "MMSYSERR_BADDEVICEID", "MMSYSERR_NOTENABLED",
    "MMSYSERR_ALLOCATED",    "MMSYSERR_INVALHANDLE",  "MMSYSERR_NODRIVER",    "MMSYSERR_NOMEM",
    "MMSYSERR_NOTSUPPORTED", "MMSYSERR_BADERRNUM",    "MMSYSERR_INVALFLAG",   "MMSYSERR_INVALPARAM",
    "MMSYSERR_HANDLEBUSY",   "MMSYSERR_INVALIDALIAS", "MMSYSERR_BADDB",       "MMSYSERR_KEYNOTFOUND",
    "MMSYSERR_READERROR",    "MMSYSERR_WRITEERROR",   "MMSYSERR_DELETEERROR", "MMSYSERR_VALNOTFOUND",
    "MMSYSERR_NODRIVERCB",   "MMSYSERR_MOREDATA",
};
constexpr uint32_t WAVERR_BASE = 32;
const char* const kWaveErrNames[] = {
    "WAVERR_BADFORMAT",
    "WAVERR_STILLPLAYING",
    "WAVERR_UNPREPARED",
    "WAVERR_SYNC",
};
}  // namespace

int32_t BestWaveInRate(uint32_t formats) {
  if (formats & WAVEIN_FORMAT_48S16) return 48000;
  if (formats & WAVEIN_FORMAT_4S16) return 44100;
  if (formats & WAVEIN_FORMAT_96S16) return 96000;
  if (formats & WAVEIN_FORMAT_2S16) return 22050;
  if (formats & WAVEIN_FORMAT_1S16) return 11025;
  return 0;
}

const char* WaveInErrorName(uint32_t result) {
  constexpr uint32_t mmCount = sizeof(kMmSysErrNames) / sizeof(kMmSysErrNames[0]);
  constexpr uint32_t waveCount = sizeof(kWaveErrNames) / sizeof(kWaveErrNames[0]);
  if (result < mmCount) return kMmSysErrNames[result];
  if (result >= WAVERR_BASE && result - WAVERR_BASE < waveCount) return kWaveErrNames[result - WAVERR_BASE];
  return "MMSYSERR_UNKNOWN";
}

int32_t BlockFrames(int32_t rate, int32_t blockMs) {
  const int64_t frames = static_cast<int64_t>(rate) * blockMs / 1000;
  if (frames < 1) return 1;
  // The block's bytes must fit an int32_t too.
  if (frames > INT32_MAX / BYTES_PER_FRAME) return INT32_MAX / BYTES_PER_FRAME;
  return static_cast<int32_t>(frames);
}

int32_t NearestIndexByName(const std::vector<std::string>& names, const std::string& name, int32_t id) {
  int32_t best = -1;
  int64_t bestDistance = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] != name) continue;
    int64_t distance = static_cast<int64_t>(i) - id;
    if (distance < 0) distance = -distance;
    if (best < 0 || distance < bestDistance) {
      best = static_cast<int32_t>(i);
      bestDistance = distance;
    }
  }
  return best;
}

void CaptureBlockBuffer::Setup(uint32_t capacityFrames) {
  if (capacityFrames < 1) capacityFrames = 1;
  m_block.reset(new int16_t[static_cast<size_t>(capacityFrames) * CHANNELS]);
  m_capacity = capacityFrames;
  m_fill = 0;
  m_emptyPolls = 0;
}

void CaptureBlockBuffer::Free() {
  m_block.reset();
  m_capacity = 0;
  m_fill = 0;
  m_emptyPolls = 0;
}

void CaptureBlockBuffer::Append(const int16_t* frames, uint32_t frameCount, Sink& sink) {
  if (m_block == nullptr) return;
  while (frameCount > 0) {
    uint32_t piece = m_capacity - m_fill;
    if (piece > frameCount) piece = frameCount;
    int16_t* target = m_block.get() + static_cast<size_t>(m_fill) * CHANNELS;
    if (frames != nullptr) {
      memcpy(target, frames, static_cast<size_t>(piece) * BYTES_PER_FRAME);
      frames += static_cast<size_t>(piece) * CHANNELS;
    } else {
      memset(target, 0, static_cast<size_t>(piece) * BYTES_PER_FRAME);
    }
    m_fill += piece;
    frameCount -= piece;
    if (m_fill == m_capacity) Flush(sink);
  }
}

void CaptureBlockBuffer::AppendSilence(uint32_t frameCount, Sink& sink) {
  Append(nullptr, frameCount, sink);
}

void CaptureBlockBuffer::Flush(Sink& sink) {
  if (m_block == nullptr) return;
  sink.OnBlock(m_block.get(), static_cast<int32_t>(m_fill));
  m_fill = 0;
}

bool CaptureBlockBuffer::CountEmptyPoll() {
  if (++m_emptyPolls < FLUSH_EMPTY_POLLS) return false;
  m_emptyPolls = 0;
  return true;
}

}  // namespace capture
