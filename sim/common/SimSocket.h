// The simulator's tiny socket wrapper: TCP over Winsock on Windows and BSD
// sockets elsewhere, plus the little the stand-ins need of the environment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class Socket {
 public:
  Socket() = default;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept : m_fd(other.m_fd) { other.m_fd = INVALID; }
  Socket& operator=(Socket&& other) noexcept;
  ~Socket() { Close(); }

  bool Valid() const { return m_fd != INVALID; }
  void Close();
  // Ends both directions so that a thread blocked in Recv returns.
  void Shutdown();

  // A connected socket, or an invalid one (refused, no such host).
  static Socket Connect(const std::string& host, uint16_t port);
  // A listening socket; *boundPort gets the port (useful with port 0).
  static Socket Listen(const std::string& host, uint16_t port, uint16_t* boundPort);
  Socket Accept();

  bool SendAll(const void* data, size_t size);
  bool RecvAll(void* data, size_t size);
  // Waits up to ms for readable data or a connection; true when there is one.
  bool WaitReadable(int ms);

 private:
  static constexpr intptr_t INVALID = -1;
  explicit Socket(intptr_t fd) : m_fd(fd) {}
  intptr_t m_fd = INVALID;
};

// "HOST:PORT" into its parts; false when it is not one.
bool ParseAddress(const std::string& text, std::string* host, uint16_t* port);

// The simulator's address: QUILLON_DEVSIM, else 127.0.0.1:47810. Read from
// the process environment as it is now.
std::string SimulatorAddress();

// A process environment variable as it is now; empty when missing.
std::string GetEnvironment(const char* name);

// Milliseconds on a monotonic clock.
uint64_t NowMs();
void SleepMs(unsigned ms);

}  // namespace sim
