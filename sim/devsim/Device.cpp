#include "Device.h"

#include <cstdio>

namespace sim {

Device::Device(const Options& options, EventLog& events, uint64_t startMs)
    : m_options(options),
      m_clock(startMs),
      m_faults(options.faults, events),
      m_program(options, events, m_clock, m_faults),
      m_debuggers(options, events, m_clock, m_faults, m_program, m_changed),
      m_server(m_debuggers, m_program, m_faults, events, m_clock, m_mutex, m_changed),
      m_images(m_debuggers, m_faults, events, m_mutex, options.downloadKiBps) {}

int32_t Device::Handle(const Request& request, const std::vector<uint8_t>& payload, Transfer& transfer,
                       std::vector<uint8_t>* out) {
  if (ImageTransfer::Handles(request.op)) return m_images.Handle(request, payload, transfer);
  return m_server.Handle(request, payload, out);
}

void Device::Tick() {
  std::lock_guard<std::mutex> lock(m_mutex);
  const uint64_t now = m_clock.Now();
  m_debuggers.AttachDue(now);
  m_program.Advance(now);
  m_faults.Tick(now, m_debuggers.EverAttached(), m_debuggers.FirstAttachMs(), *this);
  if (m_debuggers.EverAttached()) m_program.SendDueConfigs(now, m_debuggers.FirstAttachMs(), m_debuggers.Attached());
  m_changed.notify_all();
}

bool Device::SendBadHeader(uint32_t* debugger) {
  Debugger* d = m_debuggers.Attached();
  if (d == nullptr) return false;
  m_program.SendBadHeader(*d);
  *debugger = d->id;
  return true;
}

void Device::Vanish() {
  m_debuggers.DropAll();
}

void Device::NoteAnsweredWrite() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_faults.NoteAnsweredWrite();
}

void Device::WakeAll() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_debuggers.CloseAll();
}

void Device::Finish() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_program.CloseQueue();
}

Summary Device::GetSummary() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_program.GetSummary();
}

std::string Device::SummaryLine() {
  const Summary s = GetSummary();
  char line[400];
  snprintf(line, sizeof(line),
           "quill-devsim: packets=%llu audio_frames=%llu streams=%u configs_received=%u configs_sent=%u "
           "wrong_headers=%u max_audio_gap_ms=%llu underruns=%u early_underruns=%u overflows=%u",
           static_cast<unsigned long long>(s.packets), static_cast<unsigned long long>(s.audioFrames), s.streams,
           s.configsReceived, s.configsSent, s.wrongHeaders, static_cast<unsigned long long>(s.maxAudioGapMs),
           s.queue.underruns, s.queue.earlyUnderruns, s.queue.overflows);
  std::string text = line;
  if (m_options.strict) text += " violations=" + std::to_string(s.violations);
  return text;
}

}  // namespace sim
