#include "CompanionProgram.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

// The PC's packet header, as the program checks it (its magic and size in
// Debuggers.h).
constexpr uint32_t PACKET_CONFIG = 0;
constexpr uint32_t PACKET_AUDIO = 1;
constexpr int32_t PACKET_MAX = 1 << 20;

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void Append32(std::deque<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

CompanionProgram::CompanionProgram(const Options& options, EventLog& events, const Clock& clock, FaultPlan& faults)
    : m_recordPrefix(options.recordPrefix),
      m_strict(options.strict),
      m_sendConfigs(options.sendConfigs),
      m_events(events),
      m_clock(clock),
      m_faults(faults),
      m_sendDone(options.sendConfigs.size(), false),
      m_queue(static_cast<uint32_t>(options.queueFillMs), static_cast<uint32_t>(options.queueCapMs)) {}

void CompanionProgram::OnAttach() {
  m_contract.OnAttach();
}

void CompanionProgram::ResetParser(Debugger& d) {
  d.headerBytes = 0;
  d.need = 0;
  d.payload.clear();
}

const char* CompanionProgram::Feed(Debugger& d, const uint8_t* data, size_t size) {
  while (size > 0 && d.attached) {
    if (d.headerBytes < sizeof(d.header)) {
      const size_t take = std::min(sizeof(d.header) - d.headerBytes, size);
      memcpy(d.header + d.headerBytes, data, take);
      d.headerBytes += take;
      data += take;
      size -= take;
      if (d.headerBytes < sizeof(d.header)) break;
      const uint32_t magic = Get32(d.header);
      const uint32_t reserved = Get32(d.header + 4);
      const uint32_t type = Get32(d.header + 8);
      const int32_t length = static_cast<int32_t>(Get32(d.header + 12));
      const bool wrong = magic != PACKET_MAGIC || reserved != 0 || type > PACKET_AUDIO || length < 0 ||
                         length > PACKET_MAX || (type == PACKET_CONFIG && length != 0 && length != RECORD_SIZE) ||
                         (type == PACKET_AUDIO && length % 4 != 0);
      if (wrong) {
        ++m_summary.wrongHeaders;
        char magicText[16];
        snprintf(magicText, sizeof(magicText), "0x%08x", magic);
        m_events.Write("wrong_header", EventFields()
                                           .Add("debugger", d.id)
                                           .Add("magic", magicText)
                                           .Add("reserved", reserved)
                                           .Add("type", type)
                                           .Add("size", length));
        // The program drops the link, as the PC does: the PC must re-open.
        return "wrong_header";
      }
      d.type = type;
      d.need = static_cast<size_t>(length);
      d.payload.clear();
      if (d.need == 0) {
        if (const char* drop = OnPacket(d)) return drop;
        ResetParser(d);
      }
      continue;
    }
    const size_t take = std::min(d.need - d.payload.size(), size);
    d.payload.insert(d.payload.end(), data, data + take);
    data += take;
    size -= take;
    if (d.payload.size() == d.need) {
      if (const char* drop = OnPacket(d)) return drop;
      ResetParser(d);
    }
  }
  return nullptr;
}

const char* CompanionProgram::OnPacket(Debugger& d) {
  ++m_summary.packets;
  if (d.type == PACKET_CONFIG) {
    if (d.payload.empty()) {
      m_events.Write("config", EventFields().Add("debugger", d.id).Add("empty", true));
    } else {
      ++m_summary.configsReceived;
      m_lastRecord = d.payload;
      m_haveRecord = true;
      m_events.Write("config", EventFields().Add("debugger", d.id).AddRaw("record", RecordToJson(m_lastRecord)));
    }
    if (m_strict) {
      for (const std::string& reason : m_contract.OnRecord(d.payload)) Violation(d, reason);
    }
    return nullptr;
  }

  if (m_strict) {
    const std::string reason = m_contract.OnAudio();
    if (!reason.empty()) Violation(d, reason);
  }

  const uint64_t now = m_clock.Now();
  if (m_haveAudio) m_summary.maxAudioGapMs = std::max(m_summary.maxAudioGapMs, now - m_lastAudioMs);
  m_lastAudioMs = now;
  m_haveAudio = true;
  ++m_summary.audioPackets;
  const uint64_t frames = d.payload.size() / 4;
  m_summary.audioFrames += frames;
  RecordAudio(d.payload.data(), d.payload.size());
  const OutputQueue::Change change = m_queue.Push(frames, now);
  m_events.Write("audio", EventFields()
                              .Add("debugger", d.id)
                              .Add("frames", frames)
                              .Add("token", m_streamToken)
                              .Add("stream", m_summary.streams)
                              .Add("packet", m_summary.audioPackets)
                              .Add("fill_ms", m_queue.FillMs()));
  ReportQueue(change);
  return m_faults.CloseAfterAudio(m_summary.audioPackets) ? "fault" : nullptr;
}

void CompanionProgram::RecordAudio(const uint8_t* data, size_t size) {
  const uint32_t token = m_haveRecord ? GetU32(m_lastRecord, 0) : 0;
  int32_t rate = m_haveRecord ? GetS32(m_lastRecord, 8) : 32728;
  if (rate <= 0 || rate > 768000) rate = 32728;
  const bool full = m_recorder.IsOpen() && !m_recorder.HasRoomFor(size);
  const bool changed = !m_streamOpen || token != m_streamToken || static_cast<uint32_t>(rate) != m_streamRate;
  if (changed || !m_queue.Running()) {
    // A new stream, or the same one after a re-attach: the output starts
    // over, filling before it plays.
    CloseQueue();
    m_queue.Start(static_cast<uint32_t>(rate), m_clock.Now());
  }
  if (changed || full) {
    ++m_summary.streams;
    m_streamOpen = true;
    m_streamToken = token;
    m_streamRate = static_cast<uint32_t>(rate);
    EventFields fields;
    fields.Add("stream", m_summary.streams).Add("token", token).Add("rate", rate);
    if (!m_recordPrefix.empty()) {
      const std::string path = m_recordPrefix + "-" + std::to_string(m_summary.streams) + ".wav";
      if (!m_recorder.Open(path, m_streamRate)) fprintf(stderr, "quill-devsim: cannot write %s\n", path.c_str());
      fields.Add("file", path);
    }
    m_events.Write("stream", fields);
  }
  if (m_recorder.IsOpen()) m_recorder.Append(data, size);
}

void CompanionProgram::CloseQueue() {
  if (!m_queue.Running()) return;
  m_queue.Advance(m_clock.Now());
  const QueueCounts& c = m_queue.StreamCounts();
  m_events.Write("queue", EventFields()
                              .Add("stream", m_summary.streams)
                              .Add("played", c.played)
                              .Add("underruns", c.underruns)
                              .Add("early_underruns", c.earlyUnderruns)
                              .Add("overflows", c.overflows)
                              .Add("dropped_frames", c.droppedFrames)
                              .Add("lowest_ms", c.lowestFillMs)
                              .Add("highest_ms", c.highestFillMs));
  m_queue.Stop();
}

void CompanionProgram::ReportQueue(const OutputQueue::Change& change) {
  if (change.underrun) {
    m_events.Write(
        "underrun",
        EventFields().Add("stream", m_summary.streams).Add("dry_ms", change.dryAtMs).Add("early", change.early));
  }
  if (change.overflow) {
    m_events.Write("overflow", EventFields().Add("stream", m_summary.streams).Add("dropped", change.dropped));
  }
}

void CompanionProgram::Violation(const Debugger& d, const std::string& reason) {
  ++m_summary.violations;
  printf("quill-devsim: violation: %s (debugger %u)\n", reason.c_str(), d.id);
  fflush(stdout);
  m_events.Write("violation", EventFields().Add("debugger", d.id).Add("reason", reason));
}

void CompanionProgram::Advance(uint64_t now) {
  m_queue.Advance(now);
}

void CompanionProgram::SendDueConfigs(uint64_t now, uint64_t firstAttachMs, Debugger* attached) {
  for (size_t i = 0; i < m_sendConfigs.size(); ++i) {
    const SendConfigSpec& entry = m_sendConfigs[i];
    if (m_sendDone[i] || now < firstAttachMs + entry.afterMs) continue;
    if (attached == nullptr) continue;
    m_sendDone[i] = true;
    Record record = m_haveRecord ? m_lastRecord : DefaultRecord();
    for (const auto& field : entry.fields) SetRecordField(record, *FindRecordField(field.first), field.second);
    SendRecord(*attached, record);
  }
}

void CompanionProgram::SendRecord(Debugger& d, const Record& record) {
  Append32(d.toPc, PACKET_MAGIC);
  Append32(d.toPc, 0);
  Append32(d.toPc, PACKET_CONFIG);
  Append32(d.toPc, static_cast<uint32_t>(record.size()));
  d.toPc.insert(d.toPc.end(), record.begin(), record.end());
  ++m_summary.configsSent;
  m_events.Write("config_sent", EventFields().Add("debugger", d.id).AddRaw("record", RecordToJson(record)));
}

void CompanionProgram::SendBadHeader(Debugger& d) {
  for (int k = 0; k < 4; ++k) Append32(d.toPc, k == 0 ? 0x58585858u : k == 3 ? 280u : 0u);
}

Summary CompanionProgram::GetSummary() const {
  Summary s = m_summary;
  s.queue = m_queue.Counts();
  return s;
}

}  // namespace sim
