// The figures of one stream, from a source's Start to its Stop: what was
// sent, how long the channel writes blocked, and every place where sound was
// lost or made up. The worker counts; the main thread reads the figures
// while the stream runs (each one a relaxed atomic, so a copy may mix two
// moments, never tear a value) and keeps the last stream's at Stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// A copy of the figures.
struct StreamFigures {
  bool valid = false;            // false: no stream has run yet
  bool running = false;          // the copy is of a stream that still runs
  uint64_t blocks = 0;           // AUDIO packets written
  uint64_t frames = 0;           // frames in them, at the output rate
  uint64_t writeMaxUs = 0;       // the longest channel write
  uint64_t writeTotalUs = 0;     // all writes together (the mean: / blocks)
  uint64_t lateBuffers = 0;      // waveIn buffers the worker found done behind another one
  uint64_t discontinuities = 0;  // Core Audio packets flagged as a gap
  uint64_t shortBlocks = 0;      // blocks handed on short by a flush
  uint64_t framesDropped = 0;    // held back by the codec, the ADPCM delay or the converter at Stop
  uint64_t framesUnsent = 0;     // captured while the link was down (input rate)
  uint64_t framesInserted = 0;   // silence put in front: the ADPCM pass's and the converter's delay
  uint64_t restarts = 0;         // starts of the source after it ended or failed by itself
  // Audio blocks the link held back after an attach, before its settings
  // record (the source fills it in from the channel).
  uint64_t linkDropped = 0;

  uint64_t WriteMeanUs() const { return blocks == 0 ? 0 : writeTotalUs / blocks; }
};

// Two lines for the log, each ending in '\n' (the statistics box words the
// figures itself, in the user's language).
std::string StreamFiguresLogText(const StreamFigures& figures);

class StreamStats {
 public:
  // A new stream: every count 0 (restarts are not the stream's own and are
  // given with Read).
  void Reset();
  StreamFigures Read() const;

  // Worker.
  void CountWrite(uint32_t frames, uint64_t micros);
  void CountLate(uint32_t buffers) { Add(m_lateBuffers, buffers); }
  void CountDiscontinuity() { Add(m_discontinuities, 1); }
  void CountShortBlock() { Add(m_shortBlocks, 1); }
  void CountDropped(uint64_t frames) { Add(m_framesDropped, frames); }
  void CountInserted(uint64_t frames) { Add(m_framesInserted, frames); }
  void CountUnsent(uint64_t frames) { Add(m_framesUnsent, frames); }

 private:
  // The worker is the only writer: a load and a store do.
  static void Add(std::atomic<uint64_t>& counter, uint64_t n) {
    counter.store(counter.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
  }

  std::atomic<uint64_t> m_blocks{0};
  std::atomic<uint64_t> m_frames{0};
  std::atomic<uint64_t> m_writeMaxUs{0};
  std::atomic<uint64_t> m_writeTotalUs{0};
  std::atomic<uint64_t> m_lateBuffers{0};
  std::atomic<uint64_t> m_discontinuities{0};
  std::atomic<uint64_t> m_shortBlocks{0};
  std::atomic<uint64_t> m_framesDropped{0};
  std::atomic<uint64_t> m_framesInserted{0};
  std::atomic<uint64_t> m_framesUnsent{0};
};
