// The capture source that plays a dropped wave file instead of a device: the
// whole file is decoded into memory as stereo 16-bit PCM, and a worker thread
// plays it in an endless loop, paced by the clock in slices of at least 20 ms
// (one wake each), through the same convert, codec and send path as the live
// sources. Without a file the source starts without a worker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/CaptureServices.h"
#include "capture/DeviceSource.h"

class SoundCaptureWaveFile : public DeviceSource {
 public:
  // Shortest slice of playback (the worker sleeps until the next is due),
  // and the longest slice after a stall (the rest of a stall is skipped, not
  // played).
  static constexpr uint64_t MIN_SLICE_MS = 20;
  static constexpr uint64_t MAX_SLICE_MS = 1000;

  // messages tells the user about a file that cannot be played; clock paces playback. Neither is
  // owned; both must outlive the source.
  SoundCaptureWaveFile(const Adpcm* adpcm, const CodecFunctions& codec, MessageBoxSink& messages, Clock& clock);
  // Stops a source that still runs.
  ~SoundCaptureWaveFile() override;

  // Start-up initialisation; always succeeds.
  bool Initialize() { return EnumerateDevices(); }

  std::string GetName() const override { return "WaveFile"; }
  // One entry, id 0: the file's name, or "Drop a Wave File" while none is loaded.
  bool EnumerateDevices() override;

  // Decodes the file at path and makes it the one played (stopping the
  // source). A file that cannot be played leaves the loaded one and shows
  // NOT_SUPPORTED_FORMAT (WAVE_FILE_TOO_LARGE for one beyond
  // WAVE_MAX_DECODED_BYTES). While the worker of a stopped stream is still
  // blocked (in a write to a device that stopped reading) the load is
  // refused with WAVE_FILE_BUSY: that worker still reads the samples.
  bool LoadWaveFile(const std::string& path);

  const std::string& GetFileName() const { return m_fileName; }
  uint32_t GetFileRate() const { return m_fileRate; }
  uint32_t GetFrameCount() const { return m_frameCount; }
  // Valid while the worker is stopped.
  uint32_t GetPosition() const { return m_position; }

 protected:
  // The frames that elapsedMs of playback cover, with the fraction of a frame
  // carried to the next slice.
  uint32_t SliceFrames(uint64_t elapsedMs);
  // Plays frames from the play position on, wrapping at the end of the file.
  void PlayFrames(uint32_t frames);

 private:
  // Any entry plays the loaded file: the converter is set up from its rate.
  bool ResolveDevice(const DeviceEntry&) override { return true; }
  bool OpenDevice() override;
  // Without a file there is nothing to play until one is dropped (which
  // stops the source first): no worker runs.
  bool HasWork() const override { return m_frameCount >= 1; }
  bool RunWorker() override;

  MessageBoxSink& m_messages;
  std::string m_fileName;          // without its folder; empty when no file
  std::vector<int16_t> m_samples;  // the decoded file, stereo frames
  uint32_t m_fileRate = 0;
  uint32_t m_frameCount = 0;
  uint32_t m_position = 0;       // 0 <= position < frame count
  double m_carry = 0.0;          // the part of a frame the last slice did not deliver
  std::vector<int16_t> m_slice;  // the worker's copy of one slice
};
