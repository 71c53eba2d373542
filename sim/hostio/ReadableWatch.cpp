#include "ReadableWatch.h"

namespace sim {

ReadableWatch::ReadableWatch(uint32_t kind, const std::atomic<int32_t>& connectedId, SimClient& client)
    : m_kind(kind), m_connectedId(connectedId), m_client(client) {}

bool ReadableWatch::NothingToRead(int32_t channel) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_thread.joinable() && m_ended.load()) {
    // The simulator went away or restarted: watch again.
    m_thread.join();
    m_socket.Close();
  }
  if (!m_thread.joinable()) {
    m_channel = channel;
    m_token = NewToken();
    m_ended.store(false);
    m_stop.store(false);
    m_known.store(UNKNOWN);
    m_socket = SimClient::Connect(SimulatorAddress());
    if (!m_socket.Valid()) return false;
    m_thread = std::thread([this] { Run(); });
    return false;
  }
  return m_channel == channel && m_known.load() == 0;
}

void ReadableWatch::Stop() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_thread.joinable()) return;
  m_stop.store(true);
  // The simulator answers the watch at once; a socket shut down here does
  // not end a receive that another thread waits in under Wine.
  uint8_t token[4];
  Request::Put(token, m_token);
  m_client.Call(OP_SIO_WATCH_END, m_kind, 0, 0, 0, token, sizeof(token));
  m_socket.Shutdown();
  m_thread.join();
  m_socket.Close();
}

uint32_t ReadableWatch::NewToken() {
  static std::atomic<uint32_t> next{static_cast<uint32_t>(NowMs() * 2654435761u) ^
                                    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&next))};
  return next.fetch_add(1);
}

void ReadableWatch::Run() {
  int32_t last = UNKNOWN;
  uint8_t token[4];
  Request::Put(token, m_token);
  while (!m_stop.load()) {
    int32_t now = 0;
    if (!SimClient::Exchange(m_socket, OP_SIO_WATCH, m_kind, m_connectedId.load(), m_channel, last, token,
                             sizeof(token), &now, nullptr)) {
      break;  // the simulator went away, or Stop
    }
    m_known.store(now);
    last = now;
  }
  m_known.store(UNKNOWN);
  m_ended.store(true);
}

}  // namespace sim
