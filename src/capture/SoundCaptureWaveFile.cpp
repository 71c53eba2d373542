#include "capture/SoundCaptureWaveFile.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "capture/WaveDecoder.h"
#include "platform/Platform.h"
#include "support/Diag.h"
#include "support/Log.h"
#include "support/Strings.h"

SoundCaptureWaveFile::SoundCaptureWaveFile(const Adpcm* adpcm, const CodecFunctions& codec, MessageBoxSink& messages,
                                           Clock& clock)
    : DeviceSource("WaveFile", adpcm, codec), m_messages(messages) {
  SetClock(clock);
}

SoundCaptureWaveFile::~SoundCaptureWaveFile() {
  ShutDown();
}

bool SoundCaptureWaveFile::EnumerateDevices() {
  ClearDeviceList();
  // The name is UTF-8; the list shows ANSI text.
  AddDevice(m_fileName.empty() ? GetTexts().dropWaveFile : platform::PathToDisplay(m_fileName), 0);
  return true;
}

bool SoundCaptureWaveFile::LoadWaveFile(const std::string& path) {
  WaveData wave;
  std::string reason;
  WaveFault fault = WaveFault::None;
  if (!ReadWaveFile(path, &wave, &reason, &fault)) {
    Log("WaveFile: %s: %s\n", platform::PathToDisplay(path).c_str(), reason.c_str());
    m_messages.ShowError(fault == WaveFault::TooLarge ? CaptureMessage::WAVE_FILE_TOO_LARGE
                                                      : CaptureMessage::NOT_SUPPORTED_FORMAT);
    return false;
  }

  Stop();
  if (IsWorkerLeft()) {
    // The worker that Stop had to leave (blocked in a write to a device that
    // stopped reading) still plays from the samples: they stay until it has
    // ended.
    Log("WaveFile: %s not loaded: the previous file's worker has not ended yet\n",
        platform::PathToDisplay(path).c_str());
    m_messages.ShowError(CaptureMessage::WAVE_FILE_BUSY);
    return false;
  }
  if (!wave.note.empty())
    Log("WaveFile: %s: %s; playing those\n", platform::PathToDisplay(path).c_str(), wave.note.c_str());
  m_fileName.clear();
  m_samples.clear();
  m_carry = 0.0;
  m_fileRate = 0;
  m_frameCount = 0;
  m_position = 0;

  m_fileName = ::GetFileName(path);
  m_samples = std::move(wave.samples);
  m_frameCount = wave.frames;
  m_fileRate = wave.samplingRate;
  Pipeline().SetupConverter(static_cast<int32_t>(m_fileRate));
  return true;
}

bool SoundCaptureWaveFile::OpenDevice() {
  Pipeline().SetupConverter(static_cast<int32_t>(m_fileRate));
  return true;
}

uint32_t SoundCaptureWaveFile::SliceFrames(uint64_t elapsedMs) {
  // After a stall the player goes on from where it was instead of racing to
  // catch up.
  if (elapsedMs > MAX_SLICE_MS) elapsedMs = MAX_SLICE_MS;
  double exact = static_cast<double>(static_cast<uint64_t>(m_fileRate) * elapsedMs) / 1000.0 + m_carry;
  double whole = std::trunc(exact);
  m_carry = exact - whole;
  return static_cast<uint32_t>(whole);
}

void SoundCaptureWaveFile::PlayFrames(uint32_t frames) {
  if (m_frameCount == 0) return;
  m_slice.resize(static_cast<size_t>(frames) * capture::CHANNELS);
  uint32_t done = 0;
  while (done < frames) {
    // Copy up to the end of the file, then go on from its start.
    uint32_t run = m_frameCount - m_position;
    if (run > frames - done) run = frames - done;
    memcpy(m_slice.data() + static_cast<size_t>(done) * capture::CHANNELS,
           m_samples.data() + static_cast<size_t>(m_position) * capture::CHANNELS,
           static_cast<size_t>(run) * capture::BYTES_PER_FRAME);
    done += run;
    m_position += run;
    if (m_position >= m_frameCount) m_position = 0;
  }
  ProcessCaptured(m_slice.data(), static_cast<int32_t>(frames));
}

// One wake per slice: the worker sleeps until the next slice is due.
bool SoundCaptureWaveFile::RunWorker() {
  uint64_t last = GetClock().NowMs();
  while (IsActive()) {
    const uint64_t now = GetClock().NowMs();
    const uint64_t elapsed = now - last;
    if (elapsed < MIN_SLICE_MS) {
      GetClock().SleepMs(static_cast<unsigned>(MIN_SLICE_MS - elapsed));
      continue;
    }
    last = now;
    PlayFrames(SliceFrames(elapsed));
  }
  return true;
}
