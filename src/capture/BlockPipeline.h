// The path of a captured block to the device, the same for every source: a
// block as captured (stereo 16-bit at the source's rate) is converted to the
// output rate, passed once through the stream's codec (the ADPCM adapter or
// the codec library: the codec pass) and written as one AUDIO packet to the
// packet channel while it is connected. The pipeline also keeps the level
// meters of the captured blocks and the figures of the stream.
//
// Threads: the main thread opens and closes a stream (no worker running);
// between the two only the source's worker hands in blocks. The levels and
// the running stream's figures may be read by the main thread at any time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/CodecFunctions.h"
#include "capture/RateConverter.h"
#include "capture/StereoFrames.h"
#include "capture/StreamStats.h"
#include "link/PacketChannel.h"
#include "support/Clock.h"

class Adpcm;

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

class BlockPipeline {
 public:
  // Frames by which the ADPCM pass delays the stream; it keeps twice as many
  // frames of history.
  static constexpr int32_t ADPCM_CUT_FRAMES = 100;
  // The rate of the stream until the first Open.
  static constexpr int32_t DEFAULT_OUTPUT_RATE = 48000;

  // adpcm: the ADPCM adapter (shared, not owned, may be null); codec: the
  // codec library's functions; clock times the channel writes (not owned).
  BlockPipeline(const Adpcm* adpcm, const CodecFunctions& codec, Clock& clock);
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;
  // Closes a stream that is still open.
  ~BlockPipeline();

  // The packet channel (not owned); null: nothing is written.
  void SetPacketChannel(PacketChannel* channel) { m_packetChannel = channel; }
  PacketChannel* GetPacketChannel() const { return m_packetChannel; }
  // Before Open.
  void SetClock(Clock& clock) { m_clock = &clock; }
  // The sample-rate converter of the streams opened from now on.
  void SetConverterKind(ConverterKind kind) { m_converter.SetKind(kind); }
  ConverterKind GetConverterKind() const { return m_converter.GetNextKind(); }

  // Main thread, no worker running. Open takes the stream's output rate and
  // wave format, sets the levels to 0 and opens the format's codec: false
  // when it cannot be opened. Close drops the frames held back and closes
  // the codec.
  bool Open(int32_t outputRate, int32_t waveFormat);
  void Close();
  // The rate of the source's own stream as the settings packet reports it.
  void SetInputRate(int32_t inputRate) { m_inputRate = inputRate; }
  // The source's stream is at inputRate: the converter takes it to the
  // output rate of the last Open (the default rate before the first).
  void SetupConverter(int32_t inputRate);

  // Worker. A block as captured, at the input rate: converted when the rates
  // differ, then sent while the channel is connected (counted as unsent
  // otherwise); the levels always follow the block as captured.
  void ProcessCaptured(int16_t* frames, int32_t frameCount);
  // The codec pass of a block at the output rate and its write as one AUDIO
  // packet, whatever the channel's state. The ADPCM pass changes the block
  // in place.
  void SendBlock(int16_t* frames, int32_t frameCount);
  // Runs the level meters over a block.
  void UpdateLevels(const int16_t* frames, int32_t frameCount);
  // The running stream's figures, counted by the worker.
  StreamStats& Stats() { return m_stats; }

  // Main thread. BeginStream opens the stream's figures (the counts are 0
  // from the last EndStream); EndStream, once the worker has ended, counts
  // the frames that never went out, logs the figures under sourceName,
  // keeps them as the last stream's and clears the counts. Without an open
  // stream EndStream only clears the counts.
  void BeginStream();
  void EndStream(const std::string& sourceName, uint64_t restarts);
  // The running stream's figures, else the last stream's (all 0 before the
  // first), with the given restarts.
  StreamFigures GetStreamFigures(uint64_t restarts) const;

  int32_t GetLevel(int channel) const { return m_levels[channel & 1].level.load(std::memory_order_relaxed); }
  int32_t GetOutputRate() const { return m_outputRate; }
  int32_t GetInputRate() const { return m_inputRate; }
  int32_t GetWaveFormat() const { return m_waveFormat; }
  bool IsCodecOpen() const { return m_hCodec != nullptr; }
  // Frames taken in but not sent: the ADPCM pass's delay once it has begun,
  // or the frames the codec library did not take.
  int32_t GetHeldBackFrames() const;

 private:
  bool OpenCodec();
  void CloseCodec();
  void SendAdpcm(int16_t* frames, int32_t frameCount);
  void SendThroughCodec(const int16_t* frames, int32_t frameCount);
  void Write(const int16_t* frames, int32_t frameCount);
  uint64_t ConverterDelayFrames() const;
  uint64_t LinkDroppedSinceStart() const;

  PacketChannel* m_packetChannel = nullptr;  // not owned
  Clock* m_clock;                            // not owned
  const Adpcm* m_adpcm;                      // shared, not owned; may be null
  CodecFunctions m_codec;
  int32_t m_outputRate = DEFAULT_OUTPUT_RATE;
  int32_t m_inputRate = 0;
  int32_t m_waveFormat = WAVEFMT_PCM;
  void* m_hCodec = nullptr;  // the codec library's handle, owned until CloseCodec
  LevelMeter m_levels[capture::CHANNELS];
  RateConverter m_converter;

  // The ADPCM pass's input history: the last 2 x ADPCM_CUT_FRAMES frames as
  // captured; empty until the stream's first ADPCM block (which starts from
  // silence).
  std::vector<int16_t> m_adpcmHistory;
  // The frames the codec library did not take from the last block: they go
  // in front of the next one.
  std::vector<int16_t> m_codecCarry;

  StreamStats m_stats;                // the running stream's, worker-written
  bool m_streamOpen = false;          // between BeginStream and EndStream
  bool m_convertedAny = false;        // the worker has converted a block of this stream
  uint64_t m_linkDroppedAtStart = 0;  // the link's dropped-block count at BeginStream
  StreamFigures m_lastFigures;

  // Work buffers of the worker, kept so that a steady stream allocates nothing.
  std::vector<int16_t> m_adpcmSaved;
  std::vector<int16_t> m_codecInput;
  std::vector<int16_t> m_codecOutput;
  std::vector<int16_t> m_converted;
};
