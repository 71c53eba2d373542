// The stand-ins' side of the wire to quill-devsim: a small pool of
// connections, so that a thread blocked in a channel write does not hold up
// another thread's call. With no simulator every call fails at once with
// RESULT_NO_SIMULATOR.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "SimProtocol.h"
#include "SimSocket.h"

namespace sim {

class SimClient {
 public:
  // One request; out (optional) gets the response payload. Returns the
  // result, or RESULT_NO_SIMULATOR when the simulator cannot be reached.
  int32_t Call(uint32_t op, uint32_t kind, int32_t id, int32_t arg0, int32_t arg1, const void* payload, uint32_t length,
               std::vector<uint8_t>* out = nullptr);

  // A connection of the caller's own to address (HOST:PORT), not pooled;
  // invalid when it cannot be made.
  static Socket Connect(const std::string& address);

  // One request over the caller's own connection (not pooled; a watch that
  // another thread may end by shutting the socket down). False when the
  // connection failed.
  static bool Exchange(Socket& socket, uint32_t op, uint32_t kind, int32_t id, int32_t arg0, int32_t arg1,
                       const void* payload, uint32_t length, int32_t* result, std::vector<uint8_t>* out);

  // Appends a request and its payload to *message, for requests sent
  // together in one send.
  static void Frame(std::vector<uint8_t>* message, uint32_t op, uint32_t kind, int32_t id, int32_t arg0, int32_t arg1,
                    const void* payload, uint32_t length);

  // A request that has no answer (OP_SIO_POST) over the caller's own
  // connection. False when the connection failed.
  static bool Send(Socket& socket, uint32_t op, uint32_t kind, int32_t id, int32_t arg0, int32_t arg1,
                   const void* payload, uint32_t length);

  // A run of calls on one connection (an image transfer).
  class Session {
   public:
    explicit Session(SimClient& client);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    bool Valid() const { return m_socket.Valid(); }
    int32_t Call(uint32_t op, uint32_t kind, int32_t id, int32_t arg0, int32_t arg1, const void* payload,
                 uint32_t length, std::vector<uint8_t>* out = nullptr);

   private:
    SimClient& m_client;
    Socket m_socket;
    bool m_broken = false;
    bool m_reused = false;
    int m_calls = 0;
  };

 private:
  // A pooled connection to the current address, or a new one.
  Socket Take(bool* reused);
  void Give(Socket socket);

  std::mutex m_mutex;
  std::string m_address;  // of the pooled connections
  std::vector<Socket> m_idle;
};

}  // namespace sim
