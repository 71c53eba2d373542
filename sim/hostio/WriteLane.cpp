#include "WriteLane.h"

#include <algorithm>

namespace sim {

int32_t WriteLane::Write(int32_t id, int32_t channel, const void* source, int32_t size) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::string address = SimulatorAddress();
  if (address != m_address || id != m_id || channel != m_channel) {
    EndConnection();
    m_address = address;
    m_id = id;
    m_channel = channel;
    m_posts = 0;
    m_posted = false;
  }
  const uint32_t length = static_cast<uint32_t>(size);
  if (Credit() > 0) {
    if (Post(id, channel, source, length)) {
      m_posted = true;
      ++m_written;
      return size;
    }
    // The answered write below tells what became of the channel.
    EndConnection();
  }
  m_posts = 0;
  return Answered(address, id, channel, source, length);
}

void WriteLane::Closing(uint8_t* written) {
  std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
  const bool known = lock.owns_lock() && m_socket.Valid();
  Request::Put(written, known ? m_session : 0);
  Request::Put(written + 4, known ? m_written : 0);
  if (!lock.owns_lock()) return;
  EndConnection();
  m_posts = 0;
  m_posted = false;
}

int32_t WriteLane::Answered(const std::string& address, int32_t id, int32_t channel, const void* source,
                            uint32_t length) {
  const int32_t session = m_posted ? static_cast<int32_t>(m_session) : 0;
  m_posted = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    // A kept connection may belong to a simulator that has ended: one
    // more try on a fresh connection.
    const bool fresh = !m_socket.Valid();
    if (fresh) m_socket = SimClient::Connect(address);
    if (!m_socket.Valid()) break;
    int32_t result = 0;
    std::vector<uint8_t> out;
    if (SimClient::Exchange(m_socket, OP_SIO_WRITE, m_kind, id, channel, session, source, length, &result, &out)) {
      const uint32_t now = out.size() >= 8 ? Request::Get(out.data() + 4) : 0;
      if (now != m_session) m_written = 0;
      m_session = now;
      if (result >= 0) ++m_written;
      m_posts = out.size() >= 8 ? std::min(Request::Get(out.data()), POST_MAX) : 0;
      if (m_posts > 0 && !m_ringAsked) StartRing(id, channel);
      return result;
    }
    EndConnection();
    if (fresh) break;
  }
  return -1;
}

bool WriteLane::Post(int32_t id, int32_t channel, const void* source, uint32_t length) {
  std::vector<uint8_t> message;
  SimClient::Frame(&message, OP_SIO_POST, m_kind, id, channel, static_cast<int32_t>(m_session), source, length);
  m_posts -= std::min<uint32_t>(m_posts, 1);
  const uint32_t size = static_cast<uint32_t>(message.size());
  if (m_ring.Valid() && m_ring.Put(message.data(), size, 1)) return true;
  return m_socket.SendAll(message.data(), message.size());
}

// A ring is a store into memory that the simulator maps too, where a send
// costs a system call (under Wine also two requests to its server). Without
// one the writes go over the connection.
void WriteLane::StartRing(int32_t id, int32_t channel) {
  m_ringAsked = true;
  int32_t nonce = 0;
  std::vector<uint8_t> path;
  if (!SimClient::Exchange(m_socket, OP_SIO_RING, m_kind, id, channel, 0, nullptr, 0, &nonce, &path)) {
    EndConnection();
    m_posts = 0;
    return;
  }
  if (nonce <= 0 || path.empty()) return;
  m_ring.Open(LocalPath(std::string(path.begin(), path.end())), static_cast<uint32_t>(nonce));
  int32_t ready = 0;
  if (!SimClient::Exchange(m_socket, OP_SIO_RING_READY, m_kind, id, channel, 0, nullptr, 0, &ready, nullptr)) {
    EndConnection();
    m_posts = 0;
    return;
  }
  if (ready != 1) m_ring.Close();
}

void WriteLane::EndConnection() {
  m_socket.Close();
  m_ring.Close();
  m_ringAsked = false;
}

}  // namespace sim
