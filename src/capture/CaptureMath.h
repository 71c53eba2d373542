// Portable pieces of the live capture sources: the waveIn best-rate table and
// result names, the choice of a device by name nearest to a remembered index,
// and the block buffer that gathers capture packets into blocks of fixed size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/StereoFrames.h"

namespace capture {

// The stereo 16-bit bits of a waveIn capability record's format mask.
constexpr uint32_t WAVEIN_FORMAT_1S16 = 0x00000008;   // 11025 Hz
constexpr uint32_t WAVEIN_FORMAT_2S16 = 0x00000080;   // 22050 Hz
constexpr uint32_t WAVEIN_FORMAT_4S16 = 0x00000800;   // 44100 Hz
constexpr uint32_t WAVEIN_FORMAT_48S16 = 0x00008000;  // 48000 Hz
constexpr uint32_t WAVEIN_FORMAT_96S16 = 0x00080000;  // 96000 Hz

// The rate a device is reported at: 48000, 44100, 96000, 22050, 11025 in that
// order of preference (48000 wins over 96000), or 0 when none is offered.
int32_t BestWaveInRate(uint32_t formats);

// The MMSYSERR_ or WAVERR_ name of a waveIn result; "MMSYSERR_UNKNOWN" for
// any other value.
const char* WaveInErrorName(uint32_t result);

// Frames of one block of blockMs at rate (at least 1).
int32_t BlockFrames(int32_t rate, int32_t blockMs);

// The index among names of the entry called name that is nearest to id; the
// first one wins a tie. -1 when no entry has that name. Names compare exactly.
int32_t NearestIndexByName(const std::vector<std::string>& names, const std::string& name, int32_t id);

// Gathers the frames of capture packets (stereo 16-bit) into blocks of a
// fixed capacity. A packet larger than the free space is split: its first
// part completes the block, which is handed on at once, and the rest starts
// the next block. The worker also counts here the polls that found no packet.
class CaptureBlockBuffer {
 public:
  // Receives one block of frameCount frames.
  class Sink {
   public:
    virtual ~Sink() = default;
    virtual void OnBlock(int16_t* frames, int32_t frameCount) = 0;
  };

  // Empty polls after which the buffer is flushed (about 200 ms of polling).
  static constexpr int32_t FLUSH_EMPTY_POLLS = 20;

  // Allocates an empty block of capacityFrames (at least 1).
  void Setup(uint32_t capacityFrames);
  // Frees the block; capacity and fill 0.
  void Free();

  // Appends frameCount frames (null: silence); hands every block that
  // becomes full to sink.
  void Append(const int16_t* frames, uint32_t frameCount, Sink& sink);
  // Appends frameCount frames of silence (a packet whose data the API marks
  // as silent).
  void AppendSilence(uint32_t frameCount, Sink& sink);
  // Hands the block as it is (also when empty) to sink and empties it.
  void Flush(Sink& sink);

  // One poll without a packet: true when the count reached FLUSH_EMPTY_POLLS
  // (the count then starts again), the caller then flushes.
  bool CountEmptyPoll();
  void ResetEmptyPolls() { m_emptyPolls = 0; }

  uint32_t GetCapacity() const { return m_capacity; }
  uint32_t GetFill() const { return m_fill; }

 private:
  std::unique_ptr<int16_t[]> m_block;  // owned, m_capacity frames
  uint32_t m_capacity = 0;             // frames
  uint32_t m_fill = 0;                 // frames
  int32_t m_emptyPolls = 0;
};

}  // namespace capture
