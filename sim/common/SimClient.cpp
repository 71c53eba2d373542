#include "SimClient.h"

#include <cstring>

namespace sim {

Socket SimClient::Take(bool* reused) {
  const std::string address = SimulatorAddress();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (address != m_address) {
      // The simulator moved (tests start one per case): forget the old ones.
      m_idle.clear();
      m_address = address;
    }
    if (!m_idle.empty()) {
      Socket s = std::move(m_idle.back());
      m_idle.pop_back();
      *reused = true;
      return s;
    }
  }
  *reused = false;
  return Connect(address);
}

Socket SimClient::Connect(const std::string& address) {
  std::string host;
  uint16_t port = 0;
  if (!ParseAddress(address, &host, &port)) return Socket();
  return Socket::Connect(host, port);
}

void SimClient::Give(Socket socket) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_idle.size() < 8) m_idle.push_back(std::move(socket));
}

void SimClient::Frame(std::vector<uint8_t>* message, uint32_t op, uint32_t kind, int32_t id, int32_t arg0,
                      int32_t arg1, const void* payload, uint32_t length) {
  Request request;
  request.op = op;
  request.kind = kind;
  request.id = id;
  request.arg0 = arg0;
  request.arg1 = arg1;
  request.length = length;
  const size_t at = message->size();
  message->resize(at + Request::SIZE + length);
  request.Encode(message->data() + at);
  if (length > 0) memcpy(message->data() + at + Request::SIZE, payload, length);
}

bool SimClient::Send(Socket& socket, uint32_t op, uint32_t kind, int32_t id, int32_t arg0, int32_t arg1,
                     const void* payload, uint32_t length) {
  // The request and its payload in one send: each send is a system call
  // (under Wine also a request to its server), and a channel write is one
  // of these per packet part.
  std::vector<uint8_t> message;
  Frame(&message, op, kind, id, arg0, arg1, payload, length);
  return socket.SendAll(message.data(), message.size());
}

bool SimClient::Exchange(Socket& socket, uint32_t op, uint32_t kind, int32_t id, int32_t arg0, int32_t arg1,
                         const void* payload, uint32_t length, int32_t* result, std::vector<uint8_t>* out) {
  if (!Send(socket, op, kind, id, arg0, arg1, payload, length)) return false;
  uint8_t answer[Response::SIZE];
  if (!socket.RecvAll(answer, sizeof(answer))) return false;
  const Response response = Response::Decode(answer);
  if (response.length > MAX_PAYLOAD) return false;
  std::vector<uint8_t> data(response.length);
  if (response.length > 0 && !socket.RecvAll(data.data(), data.size())) return false;
  *result = response.result;
  if (out != nullptr) out->swap(data);
  return true;
}

int32_t SimClient::Call(uint32_t op, uint32_t kind, int32_t id, int32_t arg0, int32_t arg1, const void* payload,
                        uint32_t length, std::vector<uint8_t>* out) {
  if (length > MAX_PAYLOAD) return RESULT_NO_SIMULATOR;
  // A pooled connection may belong to a simulator that has ended: one more
  // try on a fresh connection.
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool reused = false;
    Socket socket = Take(&reused);
    if (!socket.Valid()) return RESULT_NO_SIMULATOR;
    int32_t result = 0;
    if (Exchange(socket, op, kind, id, arg0, arg1, payload, length, &result, out)) {
      Give(std::move(socket));
      return result;
    }
    if (!reused) break;
  }
  return RESULT_NO_SIMULATOR;
}

SimClient::Session::Session(SimClient& client) : m_client(client) {
  m_socket = client.Take(&m_reused);
}

SimClient::Session::~Session() {
  if (m_socket.Valid() && !m_broken) m_client.Give(std::move(m_socket));
}

int32_t SimClient::Session::Call(uint32_t op, uint32_t kind, int32_t id, int32_t arg0, int32_t arg1,
                                 const void* payload, uint32_t length, std::vector<uint8_t>* out) {
  if (!m_socket.Valid() || m_broken || length > MAX_PAYLOAD) return RESULT_NO_SIMULATOR;
  int32_t result = 0;
  if (!Exchange(m_socket, op, kind, id, arg0, arg1, payload, length, &result, out)) {
    // A stale pooled connection fails at its first use: start over once.
    if (m_reused && m_calls == 0) {
      bool reused = false;
      m_socket.Close();
      m_socket = m_client.Take(&reused);
      m_reused = reused;
      return Call(op, kind, id, arg0, arg1, payload, length, out);
    }
    m_broken = true;
    return RESULT_NO_SIMULATOR;
  }
  ++m_calls;
  return result;
}

}  // namespace sim
