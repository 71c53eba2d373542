#include "capture/StreamStats.h"

#include <cinttypes>
#include <cstdio>

std::string StreamFiguresLogText(const StreamFigures& f) {
  char text[512];
  snprintf(text, sizeof(text),
           "blocks %" PRIu64 ", frames %" PRIu64 ", write longest %" PRIu64 ".%03" PRIu64 " ms, mean %" PRIu64
           ".%03" PRIu64
           " ms\n"
           "late buffers %" PRIu64 ", discontinuities %" PRIu64 ", short blocks %" PRIu64 ", frames dropped %" PRIu64
           ", inserted %" PRIu64 ", unsent %" PRIu64 ", restarts %" PRIu64 ", link dropped %" PRIu64 "\n",
           f.blocks, f.frames, f.writeMaxUs / 1000, f.writeMaxUs % 1000, f.WriteMeanUs() / 1000, f.WriteMeanUs() % 1000,
           f.lateBuffers, f.discontinuities, f.shortBlocks, f.framesDropped, f.framesInserted, f.framesUnsent,
           f.restarts, f.linkDropped);
  return text;
}

void StreamStats::Reset() {
  for (std::atomic<uint64_t>* counter :
       {&m_blocks, &m_frames, &m_writeMaxUs, &m_writeTotalUs, &m_lateBuffers, &m_discontinuities, &m_shortBlocks,
        &m_framesDropped, &m_framesInserted, &m_framesUnsent}) {
    counter->store(0, std::memory_order_relaxed);
  }
}

StreamFigures StreamStats::Read() const {
  StreamFigures f;
  f.blocks = m_blocks.load(std::memory_order_relaxed);
  f.frames = m_frames.load(std::memory_order_relaxed);
  f.writeMaxUs = m_writeMaxUs.load(std::memory_order_relaxed);
  f.writeTotalUs = m_writeTotalUs.load(std::memory_order_relaxed);
  f.lateBuffers = m_lateBuffers.load(std::memory_order_relaxed);
  f.discontinuities = m_discontinuities.load(std::memory_order_relaxed);
  f.shortBlocks = m_shortBlocks.load(std::memory_order_relaxed);
  f.framesDropped = m_framesDropped.load(std::memory_order_relaxed);
  f.framesInserted = m_framesInserted.load(std::memory_order_relaxed);
  f.framesUnsent = m_framesUnsent.load(std::memory_order_relaxed);
  return f;
}

void StreamStats::CountWrite(uint32_t frames, uint64_t micros) {
  Add(m_blocks, 1);
  Add(m_frames, frames);
  Add(m_writeTotalUs, micros);
  if (micros > m_writeMaxUs.load(std::memory_order_relaxed)) m_writeMaxUs.store(micros, std::memory_order_relaxed);
}
