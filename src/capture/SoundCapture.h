// The common base of the capture sources (waveIn, Core Audio capture and
// loopback, wave file). A source's worker thread produces blocks of stereo
// 16-bit PCM; the base converts them to the output rate, passes them once
// through the chosen codec (the codec pass) and writes each as one AUDIO
// packet to the packet channel, and it keeps the level meters that the main
// window shows.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/CaptureServices.h"
#include "capture/CodecFunctions.h"
#include "capture/RateConverter.h"
#include "capture/StreamStats.h"
#include "link/PacketChannel.h"
#include "support/Clock.h"
#include "platform/Thread.h"

class Adpcm;

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

// Peak-to-peak meter of one channel: the largest swing between successive
// turning points of the waveform. level is written by the worker and read by
// the main thread.
struct LevelMeter {
  std::atomic<int32_t> level{0};
  int32_t last = 0;       // last sample seen
  int32_t extreme = 0;    // the sample at the last turning point
  int32_t direction = 0;  // +1 rising, -1 falling, 0 not yet known

  void Reset() {
    level.store(0, std::memory_order_relaxed);
    last = 0;
    extreme = 0;
    direction = 0;
  }
};

// Wave format codes (the WaveFormat setting) and their names.
enum WaveFormatCode : int32_t {
  WAVEFMT_PCM = 0,
  WAVEFMT_ADPCM = 1,
  WAVEFMT_CRI_ADX = 2,
  WAVEFMT_CRI_HCA_HIGHEST = 3,
  WAVEFMT_CRI_HCA_HIGH = 4,
  WAVEFMT_CRI_HCA_MIDDLE = 5,
  WAVEFMT_CRI_HCA_LOW = 6,
  WAVEFMT_CRI_HCA_LOWEST = 7,
  WAVEFMT_COUNT = 8,
};
// "PCM", "ADPCM", "CRI ADX", "CRI HCA HIGHEST" ... "CRI HCA LOWEST"; null
// for an unknown code.
const char* WaveFormatName(int32_t code);
// The code of a name (exact match), or -1.
int32_t WaveFormatFromName(const std::string& name);

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
  // Starts a worker thread: false (with the system's last error kept) when
  // it cannot be made. The system's is Thread::Start.
  using ThreadStarter = bool (*)(Thread& worker, Thread::Entry entry, void* context);
  static bool StartThread(Thread& worker, Thread::Entry entry, void* context);

  // Frames by which the ADPCM pass delays the stream; the pass keeps twice as
  // many frames of history.
  static constexpr int32_t ADPCM_CUT_SAMPLES = 100;
  // The rate of the stream until the first Start.
  static constexpr int32_t DEFAULT_OUTPUT_RATE = 48000;

  // adpcm: the application's ADPCM adapter (shared, may be null); codec: the
  // codec library's functions (QuillDll's exports unless a test gives fakes).
  explicit SoundCapture(const Adpcm* adpcm, const CodecFunctions& codec = QuillDllFunctions());
  SoundCapture(const SoundCapture&) = delete;
  SoundCapture& operator=(const SoundCapture&) = delete;
  // Frees the carry-over and closes the codec. The owner stops the source first.
  virtual ~SoundCapture();

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
  void SetSerialChannel(PacketChannel* channel) { m_packetChannel = channel; }
  PacketChannel* GetPacketChannel() const { return m_packetChannel; }

  // The names of the entries that are not devices, in the user's language;
  // set before the source's initialisation lists its devices.
  void SetTexts(const CaptureTexts& texts) { m_texts = texts; }
  const CaptureTexts& GetTexts() const { return m_texts; }

  // The sample-rate converter of the streams started from now on.
  void SetConverterKind(ConverterKind kind) { m_converter.SetKind(kind); }
  ConverterKind GetConverterKind() const { return m_converter.GetNextKind(); }

  int32_t GetDeviceCount() const { return static_cast<int32_t>(m_devices.size()); }
  const DeviceEntry& GetDevice(int32_t index) const { return m_devices.at(static_cast<size_t>(index)); }

  // Read by the main thread while the worker runs.
  bool IsActive() const { return m_active.load(std::memory_order_relaxed); }
  bool IsEnded() const { return m_ended.load(std::memory_order_relaxed); }
  // The level of channel 0 (left) or 1 (right).
  int32_t GetLevel(int channel) const { return m_levels[channel & 1].level.load(std::memory_order_relaxed); }

  int32_t GetOutputRate() const { return m_outputRate; }
  // The rate of the source's own stream (the settings packet carries it).
  int32_t GetInputRate() const { return m_inputRate; }
  int32_t GetWaveFormat() const { return m_waveFormat; }
  bool IsCodecOpen() const { return m_hCodec != nullptr; }
  int32_t GetCarryFrames() const { return m_prevPcmSamples; }

  // Main thread: the figures of the running stream, else those of the last
  // stream that ended (all 0 before the first), with the source's restarts.
  StreamFigures GetStreamFigures() const;
  // The idle tick starts the source again after it ended or failed by itself.
  void CountRestart() { m_restarts.fetch_add(1, std::memory_order_relaxed); }
  // The clock that times the writes and the workers' stall checks (tests
  // give a fake one). Before Start.
  void SetClock(Clock& clock) { m_clock = &clock; }
  // How the worker thread is started (tests give one that fails).
  void SetThreadStarter(ThreadStarter starter) { m_startThread = starter; }

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
  // Stops the source when a Start leaves before its end: a Start makes one
  // once it has something to undo, and releases it when the stream runs, so
  // that every early exit takes the same way out.
  class StopUnlessReleased {
   public:
    explicit StopUnlessReleased(SoundCapture& source) : m_source(&source) {}
    StopUnlessReleased(const StopUnlessReleased&) = delete;
    StopUnlessReleased& operator=(const StopUnlessReleased&) = delete;
    ~StopUnlessReleased() {
      if (m_source != nullptr) m_source->Stop();
    }
    void Release() { m_source = nullptr; }

   private:
    SoundCapture* m_source;
  };

  // The first steps of every Start (main thread, no worker running): takes
  // the stream's output rate and wave format, sets the levels to 0, clears
  // the ended flag and opens the format's codec. False (START_FAILED set)
  // when the codec cannot be opened.
  bool PrepareStream(int32_t outputRate, int32_t waveFormat);
  // The rate of the source's own stream as the settings packet reports it.
  void SetInputRate(int32_t inputRate) { m_inputRate = inputRate; }
  // A stream at inputRate: the converter takes it to the output rate of the
  // last PrepareStream (the default rate before the first).
  void SetupConverter(int32_t inputRate);
  // Sets the active flag and starts the worker at time-critical priority.
  // False (logged, START_FAILED set) when the thread cannot be made.
  bool StartWorker(Thread& worker, Thread::Entry entry, void* context);
  // The stream runs: its figures begin and the failure is cleared.
  void StreamStarted();
  // The last steps of every Stop whose worker has ended: frees the
  // carry-over, closes the codec and clears the ended flag.
  void FinishStop();

  // Opens the codec of the current wave format at the output rate; true also
  // when the format needs none.
  bool OpenCodec();
  void CloseCodec();
  // Frees the carried-over frames.
  void ClearCarry();
  void ClearDeviceList();
  void AddDevice(const std::string& name, int32_t id) { m_devices.emplace_back(name, id); }
  void ResetLevels();
  // The running stream's figures, counted by the worker.
  StreamStats& Stats() { return m_stats; }

  // The codec pass of count stereo frames at the output rate and their write
  // as one AUDIO packet. Only while the packet channel is CONNECTED. The
  // ADPCM pass changes the block in place.
  void SendBlock(int16_t* frames, int32_t count);
  // Runs the level meters over count stereo frames.
  void UpdateLevels(const int16_t* frames, int32_t count);
  // A block as captured, at the input rate: converted to the output rate
  // when the rates differ and sent when connected; the levels always follow
  // the block as captured.
  void ProcessCaptured(int16_t* frames, int32_t bytes);

  // How long Stop waits for a running worker. One that is still blocked
  // (in a write to a device that stopped reading) is left to end by itself,
  // with everything it uses; Start fails until it has.
  static constexpr uint32_t STOP_WAIT_MS = 250;
  // The first step of every Stop: clears the active flag and joins the
  // worker, giving one told to stop now STOP_WAIT_MS to end (one told before
  // is only looked at). False: the worker still runs (logged under api's
  // name); the caller then leaves everything it uses alone. True: the worker
  // has ended and the stream's figures are closed.
  bool StopWorker(Thread& worker, const char* api);
  // Called by StopWorker once the active flag is clear: a worker that waits
  // for its device is woken to see it. The base has nothing to wake.
  virtual void WakeWorker() {}

  void SetFailure(CaptureFailure failure) { m_failure.store(failure, std::memory_order_relaxed); }
  // A Start resolved the device: fallback true when it had to take the
  // default device instead of the chosen one; the first such Start after one
  // that found its device logs it and raises the notice.
  void NoteFallback(bool fallback, const std::string& chosenName);

  // A Start that succeeded opens the stream's figures (the counts are 0
  // from the last EndStream); EndStream (Stop, after the worker ended) logs
  // them, keeps them as the last stream's and clears the counts. Without an
  // open stream it only clears the counts.
  void BeginStream();
  void EndStream();

  // Worker flags: active from a successful Start until Stop; ended when the
  // worker left its loop by itself.
  void SetActive(bool active) { m_active.store(active, std::memory_order_relaxed); }
  void SetEnded(bool ended) { m_ended.store(ended, std::memory_order_relaxed); }

 private:
  void SendAdpcm(int16_t* frames, int32_t count);
  void SendThroughCodec(const int16_t* frames, int32_t count);
  uint64_t ConverterDelayFrames() const;
  uint64_t LinkDroppedSinceStart() const;
  void Write(const void* data, size_t bytes);

  PacketChannel* m_packetChannel = nullptr;  // not owned
  CaptureTexts m_texts;
  std::vector<DeviceEntry> m_devices;
  int32_t m_outputRate = DEFAULT_OUTPUT_RATE;
  int32_t m_inputRate = 0;
  int32_t m_waveFormat = WAVEFMT_PCM;
  void* m_hCodec = nullptr;  // the codec library's handle, owned until CloseCodec
  LevelMeter m_levels[2];
  // Carried-over frames (owned): for ADPCM the 2 x ADPCM_CUT_SAMPLES frames of
  // history, for a codec the frames it did not take.
  std::unique_ptr<int16_t[]> m_prevPcm;
  int32_t m_prevPcmSamples = 0;
  // Converts the source's stream to the output rate (sources that need it
  // call SetupConverter in their Start).
  RateConverter m_converter;
  // The running stream's figures (worker-written).
  StreamStats m_stats;

  std::atomic<bool> m_active{false};
  std::atomic<bool> m_ended{false};
  std::atomic<CaptureFailure> m_failure{CaptureFailure::NONE};
  std::atomic<uint64_t> m_restarts{0};
  Clock* m_clock = &SystemClock();  // not owned
  ThreadStarter m_startThread = &SoundCapture::StartThread;
  bool m_streamOpen = false;          // between BeginStream and EndStream
  uint64_t m_linkDroppedAtStart = 0;  // the link's dropped-block count at BeginStream
  bool m_convertedAny = false;        // the worker has converted a block of this stream
  StreamFigures m_lastFigures;
  bool m_onFallback = false;
  bool m_fallbackNotice = false;
  const Adpcm* m_adpcm;  // shared, not owned; may be null
  CodecFunctions m_codec;
  size_t m_prevPcmCapacity = 0;  // frames m_prevPcm has room for

  // Work buffers of the worker, kept so that a steady stream allocates nothing.
  std::vector<int16_t> m_adpcmSaved;
  std::vector<int16_t> m_codecInput;
  std::vector<int16_t> m_codecOutput;
  std::vector<int16_t> m_converted;
};
