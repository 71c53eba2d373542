// What the program sees of a capture source (waveIn, Core Audio capture and
// loopback, wave file): its device list, Start and Stop, the level meters,
// the stream's figures and why it has no stream. A source's blocks go down
// its BlockPipeline; sources with a device and a worker derive from
// DeviceSource, which starts and stops them all the same way.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/BlockPipeline.h"
#include "capture/CaptureServices.h"
#include "capture/CodecFunctions.h"
#include "link/PacketChannel.h"
#include "support/Clock.h"

// One entry of a source's device list.
struct DeviceEntry {
  // The system's default device.
  static constexpr int32_t FIXED_DEVICE_ID = 0x7FFFFFFF;
  // A default-constructed entry.
  static constexpr int32_t NO_DEVICE_ID = -1;

  DeviceEntry() = default;
  DeviceEntry(std::string entryName, int32_t entryId) : name(std::move(entryName)), id(entryId) {}

  std::string name;           // shown to the user
  int32_t id = NO_DEVICE_ID;  // the API's own device index
};

// Why a source has no stream: set by a Start that failed or by a worker that
// ended by itself; NONE while a stream runs and after a Stop asked for.
enum class CaptureFailure : int32_t {
  NONE = 0,
  NO_DEVICE = 1,       // the system has no device of the source's kind
  DEVICE_GONE = 2,     // the chosen device is no longer there, or stopped delivering
  FORMAT_REFUSED = 3,  // the device does not take the stream's format
  START_FAILED = 4,    // anything else (the codec, a thread, an API call)
};

class SoundCapture {
 public:
  // adpcm: the application's ADPCM adapter (shared, may be null); codec: the
  // codec library's functions (QuillDll's exports unless a test gives fakes).
  explicit SoundCapture(const Adpcm* adpcm, const CodecFunctions& codec = QuillDllFunctions());
  SoundCapture(const SoundCapture&) = delete;
  SoundCapture& operator=(const SoundCapture&) = delete;
  // The owner stops the source first.
  virtual ~SoundCapture() = default;

  virtual std::string GetName() const = 0;
  virtual bool EnumerateDevices() = 0;
  virtual bool Start(const DeviceEntry& device, int32_t outputRate, int32_t waveFormat) = 0;
  virtual void Stop() = 0;
  // Called by every idle tick: stops a source whose worker ended by itself.
  virtual void Poll() {
    if (IsEnded()) Stop();
  }

  // The packet channel (the link; not owned), given after the source's
  // initialisation.
  void SetPacketChannel(PacketChannel* channel) { m_pipeline.SetPacketChannel(channel); }
  PacketChannel* GetPacketChannel() const { return m_pipeline.GetPacketChannel(); }
  // The names of the entries that are not devices, in the user's language;
  // set before the source's initialisation lists its devices.
  void SetTexts(const CaptureTexts& texts) { m_texts = texts; }
  const CaptureTexts& GetTexts() const { return m_texts; }
  // The sample-rate converter of the streams started from now on.
  void SetConverterKind(ConverterKind kind) { m_pipeline.SetConverterKind(kind); }
  ConverterKind GetConverterKind() const { return m_pipeline.GetConverterKind(); }
  // The clock that times the writes and the workers' stall checks (tests
  // give a fake one). Before Start.
  void SetClock(Clock& clock) {
    m_clock = &clock;
    m_pipeline.SetClock(clock);
  }

  int32_t GetDeviceCount() const { return static_cast<int32_t>(m_devices.size()); }
  const DeviceEntry& GetDevice(int32_t index) const { return m_devices.at(static_cast<size_t>(index)); }

  // Read by the main thread while the worker runs.
  bool IsActive() const { return m_active.load(std::memory_order_relaxed); }
  bool IsEnded() const { return m_ended.load(std::memory_order_relaxed); }
  // The level of channel 0 (left) or 1 (right).
  int32_t GetLevel(int channel) const { return m_pipeline.GetLevel(channel); }

  int32_t GetOutputRate() const { return m_pipeline.GetOutputRate(); }
  // The rate of the source's own stream (the settings packet carries it).
  int32_t GetInputRate() const { return m_pipeline.GetInputRate(); }
  int32_t GetWaveFormat() const { return m_pipeline.GetWaveFormat(); }
  bool IsCodecOpen() const { return m_pipeline.IsCodecOpen(); }

  // Main thread: the figures of the running stream, else those of the last
  // stream that ended (all 0 before the first), with the source's restarts.
  StreamFigures GetStreamFigures() const { return m_pipeline.GetStreamFigures(Restarts()); }
  // The idle tick starts the source again after it ended or failed by itself.
  void CountRestart() { m_restarts.fetch_add(1, std::memory_order_relaxed); }

  CaptureFailure GetFailure() const { return m_failure.load(std::memory_order_relaxed); }
  // Main thread: true once each time a Start had to take the default device
  // because the chosen one has gone (the source has logged it).
  bool TakeFallbackNotice() {
    const bool notice = m_fallbackNotice;
    m_fallbackNotice = false;
    return notice;
  }

 protected:
  Clock& GetClock() const { return *m_clock; }
  BlockPipeline& Pipeline() { return m_pipeline; }
  void ClearDeviceList() { m_devices.clear(); }
  void AddDevice(const std::string& name, int32_t id) { m_devices.emplace_back(name, id); }
  void SetFailure(CaptureFailure failure) { m_failure.store(failure, std::memory_order_relaxed); }
  // A Start resolved the device: fallback true when it had to take the
  // default device instead of the chosen one; the first such Start after one
  // that found its device logs it and raises the notice.
  void NoteFallback(bool fallback, const std::string& chosenName);
  // The stream's figures: opened when a Start succeeded, closed (logged
  // under the source's name) by a Stop whose worker has ended.
  void BeginStream() { m_pipeline.BeginStream(); }
  void EndStream() { m_pipeline.EndStream(GetName(), Restarts()); }
  // Worker flags: active from a successful Start until Stop; ended when the
  // worker left its loop by itself.
  void SetActive(bool active) { m_active.store(active, std::memory_order_relaxed); }
  void SetEnded(bool ended) { m_ended.store(ended, std::memory_order_relaxed); }

 private:
  uint64_t Restarts() const { return m_restarts.load(std::memory_order_relaxed); }

  Clock* m_clock = &SystemClock();  // not owned
  BlockPipeline m_pipeline;
  CaptureTexts m_texts;
  std::vector<DeviceEntry> m_devices;
  std::atomic<bool> m_active{false};
  std::atomic<bool> m_ended{false};
  std::atomic<CaptureFailure> m_failure{CaptureFailure::NONE};
  std::atomic<uint64_t> m_restarts{0};
  bool m_onFallback = false;
  bool m_fallbackNotice = false;
};
