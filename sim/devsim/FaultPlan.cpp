#include "FaultPlan.h"

#include <algorithm>

namespace sim {

FaultPlan::FaultPlan(const std::vector<FaultSpec>& faults, EventLog& events)
    : m_faults(faults), m_events(events), m_done(faults.size(), false) {}

size_t FaultPlan::TakenOfAnsweredWrite(uint64_t write, size_t asked) {
  size_t taken = asked;
  for (size_t i = 0; i < m_faults.size(); ++i) {
    const FaultSpec& f = m_faults[i];
    if (f.kind != FaultKind::Short || m_done[i] || f.count > write) continue;
    m_done[i] = true;
    taken = asked / 2;
    m_events.Write("fault", EventFields()
                                .Add("kind", "short")
                                .Add("write", write)
                                .Add("asked", static_cast<uint64_t>(asked))
                                .Add("taken", static_cast<uint64_t>(taken)));
  }
  return taken;
}

uint64_t FaultPlan::WritesBeforeShort(uint64_t writes) const {
  uint64_t before = UINT64_MAX;
  for (size_t i = 0; i < m_faults.size(); ++i) {
    const FaultSpec& f = m_faults[i];
    if (f.kind != FaultKind::Short || m_done[i] || f.count <= writes) continue;
    before = std::min<uint64_t>(before, f.count - writes - 1);
  }
  return before;
}

bool FaultPlan::CloseAfterAudio(uint64_t packets) {
  for (size_t i = 0; i < m_faults.size(); ++i) {
    const FaultSpec& f = m_faults[i];
    if (f.kind != FaultKind::Close || m_done[i] || packets < f.count) continue;
    m_done[i] = true;
    m_events.Write("fault", EventFields().Add("kind", "close").Add("after", packets));
    return true;
  }
  return false;
}

void FaultPlan::Tick(uint64_t now, bool everAttached, uint64_t firstAttachMs, FaultTarget& target) {
  if (m_vanished && now >= m_vanishUntilMs) {
    m_vanished = false;
    m_events.Write("fault", EventFields().Add("kind", "vanish").Add("phase", "end"));
  }
  if (m_stallUntilMs != 0 && now >= m_stallUntilMs) {
    m_stallUntilMs = 0;
    m_events.Write("fault", EventFields().Add("kind", "stall").Add("phase", "end"));
  }
  if (!everAttached) return;
  for (size_t i = 0; i < m_faults.size(); ++i) {
    const FaultSpec& f = m_faults[i];
    if (m_done[i] || f.kind == FaultKind::Close || f.kind == FaultKind::Short) continue;
    if (now < firstAttachMs + f.atMs) continue;
    if (f.kind == FaultKind::BadHeader) {
      uint32_t debugger = 0;
      if (!target.SendBadHeader(&debugger)) continue;  // sent once the program is attached again
      m_done[i] = true;
      m_events.Write("fault", EventFields().Add("kind", "badheader").Add("debugger", debugger));
    } else if (f.kind == FaultKind::Vanish) {
      m_done[i] = true;
      m_vanished = true;
      m_vanishUntilMs = now + f.forMs;
      target.Vanish();
      m_events.Write("fault", EventFields().Add("kind", "vanish").Add("phase", "begin").Add("ms", f.forMs));
    } else {
      m_done[i] = true;
      m_stallUntilMs = now + f.forMs;
      m_stallWriteNoted = false;
      m_events.Write("fault", EventFields().Add("kind", "stall").Add("phase", "begin").Add("ms", f.forMs));
    }
  }
}

void FaultPlan::NoteAnsweredWrite() {
  if (m_stallUntilMs == 0 || m_stallWriteNoted) return;
  m_stallWriteNoted = true;
  m_events.Write("write_waits", EventFields());
}

}  // namespace sim
