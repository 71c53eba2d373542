#include "Device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "../bxa/BxaImage.h"
#include "../common/SimSocket.h"

namespace sim {

namespace {

// The PC's packet header, as the companion program checks it (its magic
// and size in SimProtocol.h).
constexpr uint32_t PACKET_CONFIG = 0;
constexpr uint32_t PACKET_AUDIO = 1;
constexpr int32_t PACKET_MAX = 1 << 20;
constexpr uint32_t IMAGE_MAX = 64u << 20;

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void Append32(std::deque<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

Device::Device(const Options& options, EventLog& events, uint64_t startMs)
    : m_options(options),
      m_events(events),
      m_startMs(startMs),
      m_queue(static_cast<uint32_t>(options.queueFillMs), static_cast<uint32_t>(options.queueCapMs)) {
  for (const DebuggerSpec& entry : options.debuggers) {
    if (Find(entry.kind, entry.id) != nullptr) continue;
    auto d = std::make_unique<Debugger>();
    d->kind = entry.kind;
    d->id = entry.id;
    if (entry.kind == KIND_KMC) d->serial = "KMC-" + std::to_string(entry.id);
    d->running = options.attachImmediate;
    m_debuggers.push_back(std::move(d));
  }
  m_faultDone.assign(options.faults.size(), false);
  m_sendDone.assign(options.sendConfigs.size(), false);
}

uint64_t Device::Now() const {
  return NowMs() - m_startMs;
}

Device::Debugger* Device::Find(uint32_t kind, uint32_t id) {
  for (auto& d : m_debuggers) {
    if (d->kind == kind && d->id == id) return d.get();
  }
  return nullptr;
}

Device::Debugger* Device::FindSerial(const std::string& serial) {
  for (auto& d : m_debuggers) {
    if (d->kind == KIND_KMC && d->serial == serial) return d.get();
  }
  return nullptr;
}

bool Device::Reachable(const Debugger* d) const {
  return d != nullptr && !m_vanished && d->connected;
}

bool Device::ChannelUp(const Debugger* d) const {
  return Reachable(d) && d->open && d->attached;
}

int32_t Device::Readable(const Debugger* d) const {
  if (!ChannelUp(d)) return -1;
  return static_cast<int32_t>(std::min<size_t>(d->toPc.size(), INT32_MAX));
}

Device::Debugger* Device::AttachedDebugger() {
  for (auto& d : m_debuggers) {
    if (ChannelUp(d.get())) return d.get();
  }
  return nullptr;
}

void Device::ResetParser(Debugger& d) {
  d.headerBytes = 0;
  d.need = 0;
  d.payload.clear();
}

void Device::OpenChannel(Debugger& d) {
  d.open = true;
  d.attached = false;
  d.toPc.clear();
  ResetParser(d);
  d.attachAtMs = d.running ? Now() + m_options.attachDelayMs : 0;
  m_events.Write("channel_open", EventFields().Add("debugger", d.id));
  m_changed.notify_all();
}

void Device::CloseChannel(Debugger& d, const char* by, const char* reason) {
  d.open = false;
  Detach(d);
  m_events.Write("channel_closed", EventFields().Add("debugger", d.id).Add("by", by).Add("reason", reason));
}

void Device::Detach(Debugger& d) {
  if (d.attached) CloseQueue();
  d.attached = false;
  d.attachAtMs = 0;
  d.toPc.clear();
  ResetParser(d);
  m_changed.notify_all();
}

void Device::StartProgram(Debugger& d) {
  if (d.attached) {
    Detach(d);
    m_events.Write("channel_closed",
                   EventFields().Add("debugger", d.id).Add("by", "device").Add("reason", "program restart"));
  }
  d.running = true;
  if (d.open) d.attachAtMs = Now() + m_options.attachDelayMs;
}

// --- Requests ------------------------------------------------------------------

int32_t Device::Handle(const Request& request, const std::vector<uint8_t>& payload, Transfer& transfer,
                       std::vector<uint8_t>* out) {
  if (request.op == OP_IMAGE_BEGIN || request.op == OP_IMAGE_DATA || request.op == OP_IMAGE_END) {
    return OnImage(request, payload, transfer);
  }
  std::unique_lock<std::mutex> lock(m_mutex);
  const uint32_t id = static_cast<uint32_t>(request.id);
  Debugger* d = Find(request.kind, id);
  switch (request.op) {
    case OP_FIND: {
      int32_t n = 0;
      if (!m_vanished) {
        for (auto& each : m_debuggers) {
          if (each->kind != request.kind) continue;
          for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(each->id >> (8 * i)));
          ++n;
        }
      }
      m_events.Write("find", EventFields().Add("listed", n));
      return n;
    }
    case OP_CONNECT:
      if (d == nullptr || m_vanished) return -1;
      d->connected = true;
      m_events.Write("connect", EventFields().Add("debugger", d->id).Add("kind", d->kind == KIND_BOX ? "box" : "kmc"));
      return 0;
    case OP_DISCONNECT:
      if (d == nullptr) return -1;
      AwaitPostedWrites(d, payload, lock);
      if (d->open) CloseChannel(*d, "pc", "disconnect");
      d->connected = false;
      m_events.Write("disconnect", EventFields().Add("debugger", d->id));
      return m_vanished ? -1 : 0;
    case OP_SIO_OPEN:
      if (!Reachable(d) || request.arg0 != 0) return -1;
      OpenChannel(*d);
      return 0;
    case OP_SIO_CLOSE:
      if (d == nullptr || m_vanished) return -1;
      AwaitPostedWrites(d, payload, lock);
      if (d->open) CloseChannel(*d, "pc", "close");
      return 0;
    case OP_SIO_WAIT:
      if (!Reachable(d) || !d->open) return -1;
      return d->attached ? 1 : 0;
    case OP_SIO_READABLE:
      return Readable(d);
    case OP_SIO_WATCH: {
      // Held until the count moves (Tick and every change of the channel
      // notify), so that a stand-in learns of bytes for the PC without
      // asking on every poll.
      const uint32_t token = payload.size() >= 4 ? Request::Get(payload.data()) : 0;
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(WATCH_MS);
      m_changed.wait_until(lock, until, [&] {
        return Readable(d) != request.arg1 ||
               std::find(m_endedWatches.begin(), m_endedWatches.end(), token) != m_endedWatches.end();
      });
      return Readable(d);
    }
    case OP_SIO_WATCH_END:
      if (payload.size() < 4) return -1;
      m_endedWatches.push_back(Request::Get(payload.data()));
      if (m_endedWatches.size() > 64) m_endedWatches.pop_front();
      m_changed.notify_all();
      return 0;
    case OP_SIO_READ: {
      const int32_t size = request.arg1;
      if (size < 0 || static_cast<uint32_t>(size) > MAX_PAYLOAD) return -1;
      // A serial read blocks until its bytes are there or the channel fails.
      m_changed.wait(lock, [&] { return !ChannelUp(d) || d->toPc.size() >= static_cast<size_t>(size); });
      if (!ChannelUp(d)) return -1;
      out->assign(d->toPc.begin(), d->toPc.begin() + size);
      d->toPc.erase(d->toPc.begin(), d->toPc.begin() + size);
      return size;
    }
    case OP_SIO_WRITE: {
      // arg1: the session that the writer's posted writes went to, if any;
      // they were lost with it when it has ended, and so is this write.
      const int32_t taken = TakeWrite(d, static_cast<uint32_t>(request.arg1), payload, lock, false);
      PutGrant(d, taken >= 0, out);
      return taken;
    }
    case OP_SIO_POST:  // arg1: the session its grant came from; out: the grant, for a ring
      PutGrant(d, TakeWrite(d, static_cast<uint32_t>(request.arg1), payload, lock, true) >= 0, out);
      return 0;
    case OP_BOX_USABLE:
      return Reachable(d) && d->kind == KIND_BOX ? 1 : 0;
    case OP_SERIAL: {
      Debugger* kmc = Find(KIND_KMC, id);
      if (kmc == nullptr) return -1;
      out->assign(kmc->serial.begin(), kmc->serial.end());
      return 0;
    }
    default:
      return -1;
  }
}

// One write of the PC: what the program took of it, or -1 when the channel
// is down or, for a writer that names its session (not 0), when that
// session has ended. A posted write is taken whole (its short fault waits
// for the next answered write).
int32_t Device::TakeWrite(Debugger* d, uint32_t session, const std::vector<uint8_t>& payload,
                          std::unique_lock<std::mutex>& lock, bool posted) {
  const auto up = [&] { return ChannelUp(d) && (session == 0 || d->session == session); };
  if (!up()) return -1;
  // A stalled program takes nothing: the write waits, as a full serial
  // channel makes it.
  while (up() && m_stallUntilMs != 0 && Now() < m_stallUntilMs) {
    m_changed.wait_for(lock, std::chrono::milliseconds(5));
  }
  if (!up()) return -1;
  ++m_pcWrites;
  size_t taken = payload.size();
  for (size_t i = 0; i < m_options.faults.size() && !posted; ++i) {
    const FaultSpec& f = m_options.faults[i];
    if (f.kind != FaultKind::Short || m_faultDone[i] || f.count > m_pcWrites) continue;
    m_faultDone[i] = true;
    taken = payload.size() / 2;
    m_events.Write("fault", EventFields()
                                .Add("kind", "short")
                                .Add("write", m_pcWrites)
                                .Add("asked", payload.size())
                                .Add("taken", static_cast<uint64_t>(taken)));
  }
  ++d->sessionWrites;
  Feed(*d, payload.data(), taken);
  m_changed.notify_all();
  return static_cast<int32_t>(taken);
}

// A close from the PC comes after the writes it made (payload: the session
// and how many writes went to it), some of which may not have been taken
// yet: they are, unless the program stalls or the session has ended, in
// which case they end with the channel as a blocked write does.
void Device::AwaitPostedWrites(Debugger* d, const std::vector<uint8_t>& written, std::unique_lock<std::mutex>& lock) {
  if (written.size() < 8) return;
  const uint32_t session = Request::Get(written.data());
  const uint32_t count = Request::Get(written.data() + 4);
  m_changed.wait_for(lock, std::chrono::seconds(5), [&] {
    return !ChannelUp(d) || d->session != session || m_stallUntilMs != 0 || d->sessionWrites >= count;
  });
}

// How many writes may follow the one just taken without an answer: none
// while the program stalls or the channel is down, and none past the next
// short write, which must be answered.
void Device::PutGrant(const Debugger* d, bool taken, std::vector<uint8_t>* out) const {
  const uint32_t posts = taken ? PostsGranted(d) : 0;
  const uint32_t session = taken ? d->session : 0;
  for (uint32_t value : {posts, session}) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
}

void Device::NoteAnsweredWrite() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_stallUntilMs == 0 || m_stallWriteNoted) return;
  m_stallWriteNoted = true;
  m_events.Write("write_waits", EventFields());
}

uint32_t Device::PostsGranted(const Debugger* d) const {
  if (!ChannelUp(d) || m_stallUntilMs != 0) return 0;
  uint64_t posts = POST_MAX;
  for (size_t i = 0; i < m_options.faults.size(); ++i) {
    const FaultSpec& f = m_options.faults[i];
    if (f.kind != FaultKind::Short || m_faultDone[i] || f.count <= m_pcWrites) continue;
    posts = std::min<uint64_t>(posts, f.count - m_pcWrites - 1);
  }
  return static_cast<uint32_t>(posts);
}

int32_t Device::OnImage(const Request& request, const std::vector<uint8_t>& payload, Transfer& transfer) {
  if (request.op == OP_IMAGE_BEGIN) {
    std::lock_guard<std::mutex> lock(m_mutex);
    transfer = Transfer();
    Debugger* d = nullptr;
    if (request.kind == KIND_BOX) {
      d = Find(KIND_BOX, static_cast<uint32_t>(request.id));
      if (!Reachable(d)) return -1;
    } else {
      d = FindSerial(std::string(payload.begin(), payload.end()));
      if (d == nullptr || m_vanished) return -1;
    }
    if (request.arg0 <= 0 || static_cast<uint32_t>(request.arg0) > IMAGE_MAX) return -1;
    transfer.active = true;
    transfer.kind = d->kind;
    transfer.id = d->id;
    transfer.expected = static_cast<uint32_t>(request.arg0);
    return 0;
  }
  if (!transfer.active) return -1;
  if (request.op == OP_IMAGE_DATA) {
    if (transfer.image.size() + payload.size() > transfer.expected) {
      transfer = Transfer();
      return -1;
    }
    transfer.image.insert(transfer.image.end(), payload.begin(), payload.end());
    // The box takes its time: the PC's progress callback sees the transfer move.
    SleepMs(static_cast<unsigned>(payload.size() * 1000 / (m_options.downloadKiBps * 1024)));
    return 0;
  }
  // OP_IMAGE_END
  std::lock_guard<std::mutex> lock(m_mutex);
  const bool recognised = transfer.image.size() == transfer.expected && IsBxaImage(transfer.image);
  Debugger* d = Find(transfer.kind, transfer.id);
  m_events.Write("download", EventFields()
                                 .Add("debugger", transfer.id)
                                 .Add("via", transfer.kind == KIND_BOX ? "box" : "loadrun")
                                 .Add("bytes", static_cast<uint64_t>(transfer.image.size()))
                                 .Add("recognised", recognised));
  const bool started = recognised && d != nullptr && !m_vanished;
  if (started) StartProgram(*d);
  transfer = Transfer();
  return started ? 1 : 0;
}

// --- The companion program's side of the channel ---------------------------------

void Device::Feed(Debugger& d, const uint8_t* data, size_t size) {
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
        Detach(d);
        m_events.Write("channel_closed",
                       EventFields().Add("debugger", d.id).Add("by", "device").Add("reason", "wrong_header"));
        return;
      }
      d.type = type;
      d.need = static_cast<size_t>(length);
      d.payload.clear();
      if (d.need == 0) {
        OnPacket(d);
        ResetParser(d);
      }
      continue;
    }
    const size_t take = std::min(d.need - d.payload.size(), size);
    d.payload.insert(d.payload.end(), data, data + take);
    data += take;
    size -= take;
    if (d.payload.size() == d.need) {
      OnPacket(d);
      ResetParser(d);
    }
  }
}

void Device::OnPacket(Debugger& d) {
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
    if (m_options.strict) {
      for (const std::string& reason : m_contract.OnRecord(d.payload)) Violation(d, reason);
    }
    return;
  }

  if (m_options.strict) {
    const std::string reason = m_contract.OnAudio();
    if (!reason.empty()) Violation(d, reason);
  }

  const uint64_t now = Now();
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

  for (size_t i = 0; i < m_options.faults.size(); ++i) {
    const FaultSpec& f = m_options.faults[i];
    if (f.kind != FaultKind::Close || m_faultDone[i] || m_summary.audioPackets < f.count) continue;
    m_faultDone[i] = true;
    m_events.Write("fault", EventFields().Add("kind", "close").Add("after", m_summary.audioPackets));
    Detach(d);
    m_events.Write("channel_closed", EventFields().Add("debugger", d.id).Add("by", "device").Add("reason", "fault"));
    return;
  }
}

void Device::RecordAudio(const uint8_t* data, size_t size) {
  const uint32_t token = m_haveRecord ? GetU32(m_lastRecord, 0) : 0;
  int32_t rate = m_haveRecord ? GetS32(m_lastRecord, 8) : 32728;
  if (rate <= 0 || rate > 768000) rate = 32728;
  const bool full = m_recorder.IsOpen() && !m_recorder.HasRoomFor(size);
  const bool changed = !m_streamOpen || token != m_streamToken || static_cast<uint32_t>(rate) != m_streamRate;
  if (changed || !m_queue.Running()) {
    // A new stream, or the same one after a re-attach: the output starts
    // over, filling before it plays.
    CloseQueue();
    m_queue.Start(static_cast<uint32_t>(rate), Now());
  }
  if (changed || full) {
    ++m_summary.streams;
    m_streamOpen = true;
    m_streamToken = token;
    m_streamRate = static_cast<uint32_t>(rate);
    EventFields fields;
    fields.Add("stream", m_summary.streams).Add("token", token).Add("rate", rate);
    if (!m_options.recordPrefix.empty()) {
      const std::string path = m_options.recordPrefix + "-" + std::to_string(m_summary.streams) + ".wav";
      if (!m_recorder.Open(path, m_streamRate)) fprintf(stderr, "quill-devsim: cannot write %s\n", path.c_str());
      fields.Add("file", path);
    }
    m_events.Write("stream", fields);
  }
  if (m_recorder.IsOpen()) m_recorder.Append(data, size);
}

void Device::CloseQueue() {
  if (!m_queue.Running()) return;
  m_queue.Advance(Now());
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

void Device::ReportQueue(const OutputQueue::Change& change) {
  if (change.underrun) {
    m_events.Write(
        "underrun",
        EventFields().Add("stream", m_summary.streams).Add("dry_ms", change.dryAtMs).Add("early", change.early));
  }
  if (change.overflow) {
    m_events.Write("overflow", EventFields().Add("stream", m_summary.streams).Add("dropped", change.dropped));
  }
}

void Device::Violation(const Debugger& d, const std::string& reason) {
  ++m_summary.violations;
  printf("quill-devsim: violation: %s (debugger %u)\n", reason.c_str(), d.id);
  fflush(stdout);
  m_events.Write("violation", EventFields().Add("debugger", d.id).Add("reason", reason));
}

void Device::SendRecord(Debugger& d, const Record& record) {
  Append32(d.toPc, PACKET_MAGIC);
  Append32(d.toPc, 0);
  Append32(d.toPc, PACKET_CONFIG);
  Append32(d.toPc, static_cast<uint32_t>(record.size()));
  d.toPc.insert(d.toPc.end(), record.begin(), record.end());
  ++m_summary.configsSent;
  m_events.Write("config_sent", EventFields().Add("debugger", d.id).AddRaw("record", RecordToJson(record)));
  m_changed.notify_all();
}

// --- Time ----------------------------------------------------------------------

void Device::Tick() {
  std::lock_guard<std::mutex> lock(m_mutex);
  const uint64_t now = Now();

  for (auto& d : m_debuggers) {
    if (d->open && d->running && !d->attached && d->attachAtMs != 0 && now >= d->attachAtMs && Reachable(d.get())) {
      d->attached = true;
      d->attachAtMs = 0;
      d->session = ++m_attaches;
      d->sessionWrites = 0;
      m_contract.OnAttach();
      m_events.Write("attach", EventFields().Add("debugger", d->id));
      if (!m_everAttached) {
        m_everAttached = true;
        m_firstAttachMs = now;
      }
    }
  }
  m_queue.Advance(now);
  if (m_vanished && now >= m_vanishUntilMs) {
    m_vanished = false;
    m_events.Write("fault", EventFields().Add("kind", "vanish").Add("phase", "end"));
  }
  if (m_stallUntilMs != 0 && now >= m_stallUntilMs) {
    m_stallUntilMs = 0;
    m_events.Write("fault", EventFields().Add("kind", "stall").Add("phase", "end"));
  }

  if (m_everAttached) {
    for (size_t i = 0; i < m_options.faults.size(); ++i) {
      const FaultSpec& f = m_options.faults[i];
      if (m_faultDone[i] || f.kind == FaultKind::Close || f.kind == FaultKind::Short) continue;
      if (now < m_firstAttachMs + f.atMs) continue;
      if (f.kind == FaultKind::BadHeader) {
        Debugger* d = AttachedDebugger();
        if (d == nullptr) continue;  // sent once the program is attached again
        m_faultDone[i] = true;
        for (int k = 0; k < 4; ++k) Append32(d->toPc, k == 0 ? 0x58585858u : k == 3 ? 280u : 0u);
        m_events.Write("fault", EventFields().Add("kind", "badheader").Add("debugger", d->id));
      } else if (f.kind == FaultKind::Vanish) {
        m_faultDone[i] = true;
        m_vanished = true;
        m_vanishUntilMs = now + f.forMs;
        for (auto& d : m_debuggers) {
          d->open = false;
          d->connected = false;
          Detach(*d);
        }
        m_events.Write("fault", EventFields().Add("kind", "vanish").Add("phase", "begin").Add("ms", f.forMs));
      } else {
        m_faultDone[i] = true;
        m_stallUntilMs = now + f.forMs;
        m_stallWriteNoted = false;
        m_events.Write("fault", EventFields().Add("kind", "stall").Add("phase", "begin").Add("ms", f.forMs));
      }
    }
    for (size_t i = 0; i < m_options.sendConfigs.size(); ++i) {
      const SendConfigSpec& entry = m_options.sendConfigs[i];
      if (m_sendDone[i] || now < m_firstAttachMs + entry.afterMs) continue;
      Debugger* d = AttachedDebugger();
      if (d == nullptr) continue;
      m_sendDone[i] = true;
      Record record = m_haveRecord ? m_lastRecord : DefaultRecord();
      for (const auto& field : entry.fields) SetRecordField(record, *FindRecordField(field.first), field.second);
      SendRecord(*d, record);
    }
  }
  m_changed.notify_all();
}

void Device::WakeAll() {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto& d : m_debuggers) {
    d->open = false;
    d->attached = false;
  }
  m_changed.notify_all();
}

void Device::Finish() {
  std::lock_guard<std::mutex> lock(m_mutex);
  CloseQueue();
}

Summary Device::GetSummary() {
  std::lock_guard<std::mutex> lock(m_mutex);
  Summary s = m_summary;
  s.queue = m_queue.Counts();
  return s;
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
