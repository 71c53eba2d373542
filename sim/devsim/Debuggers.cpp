#include "Debuggers.h"

#include <algorithm>

#include "CompanionProgram.h"
#include "FaultPlan.h"

namespace sim {

Debuggers::Debuggers(const Options& options, EventLog& events, const Clock& clock, const FaultPlan& faults,
                     CompanionProgram& program, std::condition_variable& changed)
    : m_attachDelayMs(options.attachDelayMs),
      m_events(events),
      m_clock(clock),
      m_faults(faults),
      m_program(program),
      m_changed(changed) {
  for (const DebuggerSpec& entry : options.debuggers) {
    if (Find(entry.kind, entry.id) != nullptr) continue;
    auto d = std::make_unique<Debugger>();
    d->kind = entry.kind;
    d->id = entry.id;
    if (entry.kind == KIND_KMC) d->serial = "KMC-" + std::to_string(entry.id);
    d->running = options.attachImmediate;
    m_debuggers.push_back(std::move(d));
  }
}

Debugger* Debuggers::Find(uint32_t kind, uint32_t id) {
  for (auto& d : m_debuggers) {
    if (d->kind == kind && d->id == id) return d.get();
  }
  return nullptr;
}

Debugger* Debuggers::FindSerial(const std::string& serial) {
  for (auto& d : m_debuggers) {
    if (d->kind == KIND_KMC && d->serial == serial) return d.get();
  }
  return nullptr;
}

bool Debuggers::Reachable(const Debugger* d) const {
  return d != nullptr && !m_faults.Vanished() && d->connected;
}

bool Debuggers::ChannelUp(const Debugger* d) const {
  return Reachable(d) && d->open && d->attached;
}

int32_t Debuggers::Readable(const Debugger* d) const {
  if (!ChannelUp(d)) return -1;
  return static_cast<int32_t>(std::min<size_t>(d->toPc.size(), INT32_MAX));
}

Debugger* Debuggers::Attached() {
  for (auto& d : m_debuggers) {
    if (ChannelUp(d.get())) return d.get();
  }
  return nullptr;
}

void Debuggers::OpenChannel(Debugger& d) {
  d.open = true;
  d.attached = false;
  d.toPc.clear();
  CompanionProgram::ResetParser(d);
  d.attachAtMs = d.running ? m_clock.Now() + m_attachDelayMs : 0;
  m_events.Write("channel_open", EventFields().Add("debugger", d.id));
  m_changed.notify_all();
}

void Debuggers::CloseChannel(Debugger& d, const char* by, const char* reason) {
  d.open = false;
  Detach(d);
  m_events.Write("channel_closed", EventFields().Add("debugger", d.id).Add("by", by).Add("reason", reason));
}

void Debuggers::Detach(Debugger& d) {
  if (d.attached) m_program.CloseQueue();
  d.attached = false;
  d.attachAtMs = 0;
  d.toPc.clear();
  CompanionProgram::ResetParser(d);
  m_changed.notify_all();
}

void Debuggers::DropLink(Debugger& d, const char* reason) {
  Detach(d);
  m_events.Write("channel_closed", EventFields().Add("debugger", d.id).Add("by", "device").Add("reason", reason));
}

void Debuggers::StartProgram(Debugger& d) {
  if (d.attached) DropLink(d, "program restart");
  d.running = true;
  if (d.open) d.attachAtMs = m_clock.Now() + m_attachDelayMs;
}

void Debuggers::AttachDue(uint64_t now) {
  for (auto& d : m_debuggers) {
    if (d->open && d->running && !d->attached && d->attachAtMs != 0 && now >= d->attachAtMs && Reachable(d.get())) {
      d->attached = true;
      d->attachAtMs = 0;
      d->session = ++m_attaches;
      d->sessionWrites = 0;
      m_program.OnAttach();
      m_events.Write("attach", EventFields().Add("debugger", d->id));
      if (!m_everAttached) {
        m_everAttached = true;
        m_firstAttachMs = now;
      }
    }
  }
}

void Debuggers::DropAll() {
  for (auto& d : m_debuggers) {
    d->open = false;
    d->connected = false;
    Detach(*d);
  }
}

void Debuggers::CloseAll() {
  for (auto& d : m_debuggers) {
    d->open = false;
    d->attached = false;
  }
  m_changed.notify_all();
}

}  // namespace sim
