// Helpers of the capture tests: a fake serial channel, a fake clock, a
// builder of wave files of any layout, and signal measurements.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "capture/CaptureServices.h"
#include "link/PacketChannel.h"

// Records every packet written; its state is set by the test.
class FakeChannel : public PacketChannel {
 public:
  struct Packet {
    uint32_t type;
    std::vector<int16_t> samples;
  };

  Status GetStatus() const override { return m_status.load(std::memory_order_relaxed); }
  void SetStatus(Status status) { m_status.store(status, std::memory_order_relaxed); }
  bool Write(uint32_t type, const void* data, int32_t size) override;
  uint64_t GetDroppedAudioBlocks() const override { return droppedAudio.load(std::memory_order_relaxed); }

  std::vector<Packet> Packets();
  // All AUDIO payloads one after another.
  std::vector<int16_t> Stream();
  size_t StreamFrames();
  void Clear();

  // Called by every Write before it returns (a slow channel, a check of what
  // the writer holds); set before the writer runs.
  std::function<void()> onWrite;
  // The link's count of audio blocks it held back, over its whole life.
  std::atomic<uint64_t> droppedAudio{0};

 private:
  std::atomic<Status> m_status{Status::CONNECTED};
  std::mutex m_mutex;
  std::vector<Packet> m_packets;
  size_t m_frames = 0;
};

class RecordingMessageBox : public MessageBoxSink {
 public:
  void ShowError(CaptureMessage message) override {
    ++count;
    last = message;
  }
  int count = 0;
  CaptureMessage last = CaptureMessage::NOT_SUPPORTED_FORMAT;
};

// Wave file bytes with every header field under the test's control.
struct WaveDesc {
  uint16_t tag = 1;
  uint16_t channels = 2;
  uint32_t rate = 44100;
  uint16_t bits = 16;
  uint16_t blockAlign = 0;             // 0: channels x bytes of bits
  int64_t bytesPerSecond = -1;         // -1: block align x rate
  const uint8_t* subformat = nullptr;  // extensible only; null: PCM
  std::string data;                    // the samples as stored
  std::string chunksBefore;            // whole chunks between "fmt " and "data"
  std::string chunksAfter;             // whole chunks after "data"
  int64_t riffSize = -1;               // -1: the real size
};
std::string MakeWave(const WaveDesc& waveDesc);
// One chunk: id, size, payload.
std::string MakeChunk(const char* id, const std::string& payload);
extern const uint8_t kSubtypePcmGuid[16];
extern const uint8_t kSubtypeFloatGuid[16];

// Little-endian bytes of values.
std::string Bytes16(const std::vector<int16_t>& values);
std::string BytesFloat(const std::vector<float>& values);
std::string BytesDouble(const std::vector<double>& values);

// Interleaved stereo sine, both channels the same.
std::vector<int16_t> StereoSine(double frequency, double rate, double amplitude, size_t frames, double phase = 0.0);

// THD+N in dB of channel c of a stereo signal: the power of everything but
// the best-fitting sine of the given frequency (and DC), relative to that
// sine's power. Frames before skip are ignored.
double ThdPlusNoiseDb(const std::vector<int16_t>& stereo, int c, double frequency, double rate, size_t skip);
// The amplitude of the best-fitting sine of the given frequency in channel c,
// from frame skip on.
double SineAmplitude(const std::vector<int16_t>& stereo, int c, double frequency, double rate, size_t skip);

// Signal-to-noise ratio in dB of output against reference delayed by delay
// frames, over the frames both have from skip on (both channels).
double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& output, size_t delay, size_t skip);
