#include "OutputQueue.h"

#include <algorithm>

namespace sim {

void OutputQueue::Start(uint32_t rate, uint64_t nowMs) {
  m_rate = rate;
  m_startMs = nowMs;
  m_frames = 0;
  m_playing = false;
  m_dry = false;
  m_anchorMs = nowMs;
  m_drainedSinceAnchor = 0;
  m_overflowing = false;
  m_stream = QueueCounts();
}

void OutputQueue::Stop() {
  m_rate = 0;
  m_frames = 0;
  m_playing = false;
  m_dry = false;
  m_overflowing = false;
}

uint32_t OutputQueue::ToMs(uint64_t frames) const {
  if (m_rate == 0) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>(frames * 1000 / m_rate, UINT32_MAX));
}

uint32_t OutputQueue::FillMs() const {
  return ToMs(m_frames);
}

void OutputQueue::NoteFill(bool afterPush) {
  const uint32_t ms = FillMs();
  for (QueueCounts* c : {&m_counts, &m_stream}) {
    if (!c->played) {
      c->played = true;
      c->lowestFillMs = ms;
      c->highestFillMs = ms;
    } else if (afterPush) {
      c->highestFillMs = std::max(c->highestFillMs, ms);
    } else {
      c->lowestFillMs = std::min(c->lowestFillMs, ms);
    }
  }
}

void OutputQueue::Advance(uint64_t nowMs) {
  if (m_rate == 0 || !m_playing || nowMs < m_anchorMs) return;
  const uint64_t due = (nowMs - m_anchorMs) * m_rate / 1000;
  const uint64_t need = due - std::min(due, m_drainedSinceAnchor);
  if (need <= m_frames) {
    m_frames -= need;
    m_drainedSinceAnchor += need;
    NoteFill(false);
    return;
  }
  // Ran dry between the last look and now: when exactly follows from the
  // frames that were left. It counts once audio comes again.
  m_dry = true;
  m_dryAtMs = m_anchorMs + ((m_drainedSinceAnchor + m_frames) * 1000 + m_rate - 1) / m_rate;
  m_frames = 0;
  m_playing = false;
  NoteFill(false);
}

OutputQueue::Change OutputQueue::Push(uint64_t frames, uint64_t nowMs) {
  Change change;
  Advance(nowMs);
  if (m_rate == 0) return change;
  if (m_dry && frames > 0) {
    m_dry = false;
    change.underrun = true;
    change.dryAtMs = m_dryAtMs;
    change.early = m_dryAtMs < m_startMs + EARLY_MS;
    for (QueueCounts* c : {&m_counts, &m_stream}) {
      ++c->underruns;
      if (change.early) ++c->earlyUnderruns;
    }
  }
  const uint64_t cap = std::max<uint64_t>(1, static_cast<uint64_t>(m_rate) * m_capMs / 1000);
  m_frames += frames;
  if (m_frames > cap) {
    change.dropped = m_frames - cap;
    m_frames = cap;
    change.overflow = !m_overflowing;
    m_overflowing = true;
    for (QueueCounts* c : {&m_counts, &m_stream}) {
      if (change.overflow) ++c->overflows;
      c->droppedFrames += change.dropped;
    }
  } else {
    m_overflowing = false;
  }
  const uint64_t fill = static_cast<uint64_t>(m_rate) * m_fillMs / 1000;
  if (!m_playing && m_frames >= fill) {
    m_playing = true;
    m_anchorMs = nowMs;
    m_drainedSinceAnchor = 0;
  }
  if (m_playing) NoteFill(true);
  return change;
}

}  // namespace sim
