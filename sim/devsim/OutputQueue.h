// The device's sound output as the companion program would run it: the audio
// packets go into a queue that the output drains at the stream's rate on the
// device's own clock. Playing starts once the queue holds the fill; a queue
// that runs dry while playing and then gets audio again is an underrun (a
// dropout, counted once per dry spell when the audio resumes, with the time
// it ran dry; the queue fills again before it plays on). A stream that runs
// dry and never resumes has ended, which is no underrun. Frames beyond the
// cap are dropped, an overflow counted once per spell.
//
// Time is handed in (milliseconds on any steady clock), so that a test can
// drive the queue without waiting.
#pragma once

#include <cstdint>

namespace sim {

struct QueueCounts {
  uint32_t underruns = 0;
  uint32_t earlyUnderruns = 0;  // within the first second of a stream (of the count above)
  uint32_t overflows = 0;
  uint64_t droppedFrames = 0;
  uint32_t lowestFillMs = 0;  // while playing; 0 before anything played
  uint32_t highestFillMs = 0;
  bool played = false;  // the queue started playing at least once
};

class OutputQueue {
 public:
  // What a push found.
  struct Change {
    bool underrun = false;  // the queue had run dry (at dryAtMs) and audio resumed
    bool early = false;     // ... within the first second of the stream
    uint64_t dryAtMs = 0;
    bool overflow = false;  // a new spell of dropped frames began
    uint64_t dropped = 0;   // frames dropped by this push
  };

  static constexpr uint32_t EARLY_MS = 1000;

  OutputQueue(uint32_t fillMs, uint32_t capMs) : m_fillMs(fillMs), m_capMs(capMs) {}

  // A new stream at this rate (frames per second): the queue empties and
  // fills again before it plays. The counts of the stream before are kept.
  void Start(uint32_t rate, uint64_t nowMs);
  // The stream ended (the program detached): the queue stops; a dry spell
  // that audio did not end is no underrun.
  void Stop();
  bool Running() const { return m_rate != 0; }

  // Drains the queue up to now.
  void Advance(uint64_t nowMs);
  // Frames that arrived at now (drains up to now first).
  Change Push(uint64_t frames, uint64_t nowMs);

  uint64_t FillFrames() const { return m_frames; }
  uint32_t FillMs() const;
  bool Playing() const { return m_playing; }
  bool Dry() const { return m_dry; }
  const QueueCounts& Counts() const { return m_counts; }
  // The counts of the current stream only (for its closing event).
  const QueueCounts& StreamCounts() const { return m_stream; }

 private:
  uint32_t ToMs(uint64_t frames) const;
  void NoteFill(bool afterPush);

  const uint32_t m_fillMs;
  const uint32_t m_capMs;
  uint32_t m_rate = 0;  // 0: no stream
  uint64_t m_startMs = 0;
  uint64_t m_frames = 0;  // queued
  bool m_playing = false;
  bool m_dry = false;  // ran dry while playing; no audio since
  uint64_t m_dryAtMs = 0;
  // Playing: frames drained since m_anchorMs, so that rounding never adds up.
  uint64_t m_anchorMs = 0;
  uint64_t m_drainedSinceAnchor = 0;
  bool m_overflowing = false;
  QueueCounts m_counts;
  QueueCounts m_stream;
};

}  // namespace sim
