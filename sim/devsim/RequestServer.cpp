#include "RequestServer.h"

#include <algorithm>
#include <chrono>

namespace sim {

RequestServer::RequestServer(Debuggers& debuggers, CompanionProgram& program, FaultPlan& faults, EventLog& events,
                             const Clock& clock, std::mutex& mutex, std::condition_variable& changed)
    : m_debuggers(debuggers),
      m_program(program),
      m_faults(faults),
      m_events(events),
      m_clock(clock),
      m_mutex(mutex),
      m_changed(changed) {}

int32_t RequestServer::Handle(const Request& request, const std::vector<uint8_t>& payload, std::vector<uint8_t>* out) {
  std::unique_lock<std::mutex> lock(m_mutex);
  const uint32_t id = static_cast<uint32_t>(request.id);
  Debugger* d = m_debuggers.Find(request.kind, id);
  switch (request.op) {
    case OP_FIND: {
      int32_t n = 0;
      if (!m_faults.Vanished()) {
        for (auto& each : m_debuggers.All()) {
          if (each->kind != request.kind) continue;
          for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(each->id >> (8 * i)));
          ++n;
        }
      }
      m_events.Write("find", EventFields().Add("listed", n));
      return n;
    }
    case OP_CONNECT:
      if (d == nullptr || m_faults.Vanished()) return -1;
      d->connected = true;
      m_events.Write("connect", EventFields().Add("debugger", d->id).Add("kind", d->kind == KIND_BOX ? "box" : "kmc"));
      return 0;
    case OP_DISCONNECT:
      if (d == nullptr) return -1;
      AwaitPostedWrites(d, payload, lock);
      if (d->open) m_debuggers.CloseChannel(*d, "pc", "disconnect");
      d->connected = false;
      m_events.Write("disconnect", EventFields().Add("debugger", d->id));
      return m_faults.Vanished() ? -1 : 0;
    case OP_SIO_OPEN:
      if (!m_debuggers.Reachable(d) || request.arg0 != 0) return -1;
      m_debuggers.OpenChannel(*d);
      return 0;
    case OP_SIO_CLOSE:
      if (d == nullptr || m_faults.Vanished()) return -1;
      AwaitPostedWrites(d, payload, lock);
      if (d->open) m_debuggers.CloseChannel(*d, "pc", "close");
      return 0;
    case OP_SIO_WAIT:
      if (!m_debuggers.Reachable(d) || !d->open) return -1;
      return d->attached ? 1 : 0;
    case OP_SIO_READABLE:
      return m_debuggers.Readable(d);
    case OP_SIO_WATCH: {
      // Held until the count moves (Tick and every change of the channel
      // notify), so that a stand-in learns of bytes for the PC without
      // asking on every poll.
      const uint32_t token = payload.size() >= 4 ? Request::Get(payload.data()) : 0;
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(WATCH_MS);
      m_changed.wait_until(lock, until, [&] {
        return m_debuggers.Readable(d) != request.arg1 ||
               std::find(m_endedWatches.begin(), m_endedWatches.end(), token) != m_endedWatches.end();
      });
      return m_debuggers.Readable(d);
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
      m_changed.wait(lock, [&] { return !m_debuggers.ChannelUp(d) || d->toPc.size() >= static_cast<size_t>(size); });
      if (!m_debuggers.ChannelUp(d)) return -1;
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
      return m_debuggers.Reachable(d) && d->kind == KIND_BOX ? 1 : 0;
    case OP_SERIAL: {
      Debugger* kmc = m_debuggers.Find(KIND_KMC, id);
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
// session has ended. A posted write is taken whole (a short one due among
// posted writes falls on the next answered write).
int32_t RequestServer::TakeWrite(Debugger* d, uint32_t session, const std::vector<uint8_t>& payload,
                                 std::unique_lock<std::mutex>& lock, bool posted) {
  const auto up = [&] { return m_debuggers.ChannelUp(d) && (session == 0 || d->session == session); };
  if (!up()) return -1;
  // A stalled program takes nothing: the write waits, as a full serial
  // channel makes it.
  while (up() && m_faults.StallsAt(m_clock.Now())) {
    m_changed.wait_for(lock, std::chrono::milliseconds(5));
  }
  if (!up()) return -1;
  ++m_pcWrites;
  const size_t taken = posted ? payload.size() : m_faults.TakenOfAnsweredWrite(m_pcWrites, payload.size());
  ++d->sessionWrites;
  if (const char* drop = m_program.Feed(*d, payload.data(), taken)) m_debuggers.DropLink(*d, drop);
  m_changed.notify_all();
  return static_cast<int32_t>(taken);
}

// A close from the PC comes after the writes it made (payload: the session
// and how many writes went to it), some of which may not have been taken
// yet: they are, unless the program stalls or the session has ended, in
// which case they end with the channel as a blocked write does.
void RequestServer::AwaitPostedWrites(Debugger* d, const std::vector<uint8_t>& written,
                                      std::unique_lock<std::mutex>& lock) {
  if (written.size() < 8) return;
  const uint32_t session = Request::Get(written.data());
  const uint32_t count = Request::Get(written.data() + 4);
  m_changed.wait_for(lock, std::chrono::seconds(5), [&] {
    return !m_debuggers.ChannelUp(d) || d->session != session || m_faults.Stalling() || d->sessionWrites >= count;
  });
}

// How many writes may follow the one just taken without an answer: none
// while the program stalls or the channel is down, and none past the next
// short write, which must be answered.
void RequestServer::PutGrant(const Debugger* d, bool taken, std::vector<uint8_t>* out) const {
  const uint32_t posts = taken ? PostsGranted(d) : 0;
  const uint32_t session = taken ? d->session : 0;
  for (uint32_t value : {posts, session}) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
}

uint32_t RequestServer::PostsGranted(const Debugger* d) const {
  if (!m_debuggers.ChannelUp(d) || m_faults.Stalling()) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>(POST_MAX, m_faults.WritesBeforeShort(m_pcWrites)));
}

}  // namespace sim
