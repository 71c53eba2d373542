#include "SimSocket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#endif

#include <cstring>
#include <mutex>
#include <vector>

namespace sim {

namespace {

#ifdef _WIN32
using Native = SOCKET;
Native ToNative(intptr_t fd) {
  return static_cast<SOCKET>(fd);
}
void CloseNative(Native s) {
  closesocket(s);
}
bool IsInvalid(Native s) {
  return s == INVALID_SOCKET;
}
void StartUp() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}
#else
using Native = int;
Native ToNative(intptr_t fd) {
  return static_cast<int>(fd);
}
void CloseNative(Native s) {
  close(s);
}
bool IsInvalid(Native s) {
  return s < 0;
}
void StartUp() {}
#endif

bool MakeAddress(const std::string& host, uint16_t port, sockaddr_in* address) {
  memset(address, 0, sizeof(*address));
  address->sin_family = AF_INET;
  address->sin_port = htons(port);
  const std::string h = host == "localhost" ? "127.0.0.1" : host;
  return inet_pton(AF_INET, h.c_str(), &address->sin_addr) == 1;
}

void SetNoDelay(Native s) {
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
}

// A caller's answer that has not come in this long is not coming: the
// simulator was killed or hangs (a killed Wine process's connection is not
// always seen to close), and the call fails as over a lost connection. The
// simulator's longest stall fault is far shorter.
constexpr unsigned ANSWER_TIMEOUT_S = 20;

void SetAnswerTimeout(Native s) {
#ifdef _WIN32
  const DWORD ms = ANSWER_TIMEOUT_S * 1000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof(ms));
#else
  timeval limit = {};
  limit.tv_sec = ANSWER_TIMEOUT_S;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
#endif
}

}  // namespace

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = other.m_fd;
    other.m_fd = INVALID;
  }
  return *this;
}

void Socket::Close() {
  if (m_fd != INVALID) CloseNative(ToNative(m_fd));
  m_fd = INVALID;
}

void Socket::Shutdown() {
#ifdef _WIN32
  if (m_fd != INVALID) shutdown(ToNative(m_fd), SD_BOTH);
#else
  if (m_fd != INVALID) shutdown(ToNative(m_fd), SHUT_RDWR);
#endif
}

Socket Socket::Connect(const std::string& host, uint16_t port) {
  StartUp();
  sockaddr_in address;
  if (!MakeAddress(host, port, &address)) return Socket();
  Native s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (IsInvalid(s)) return Socket();
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    CloseNative(s);
    return Socket();
  }
  SetNoDelay(s);
  SetAnswerTimeout(s);
  return Socket(static_cast<intptr_t>(s));
}

Socket Socket::Listen(const std::string& host, uint16_t port, uint16_t* boundPort) {
  StartUp();
  sockaddr_in address;
  if (!MakeAddress(host, port, &address)) return Socket();
  Native s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (IsInvalid(s)) return Socket();
#ifndef _WIN32
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
#endif
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 || listen(s, 16) != 0) {
    CloseNative(s);
    return Socket();
  }
  sockaddr_in bound;
  socklen_t length = sizeof(bound);
  if (getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length) == 0 && boundPort != nullptr) {
    *boundPort = ntohs(bound.sin_port);
  }
  return Socket(static_cast<intptr_t>(s));
}

Socket Socket::Accept() {
  Native s = accept(ToNative(m_fd), nullptr, nullptr);
  if (IsInvalid(s)) return Socket();
  SetNoDelay(s);
  return Socket(static_cast<intptr_t>(s));
}

bool Socket::SendAll(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
#ifdef _WIN32
    const int n = send(ToNative(m_fd), p, chunk, 0);
#else
    const ssize_t n = send(ToNative(m_fd), p, static_cast<size_t>(chunk), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
#endif
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool Socket::RecvAll(void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
#ifdef _WIN32
    const int n = recv(ToNative(m_fd), p, chunk, 0);
#else
    const ssize_t n = recv(ToNative(m_fd), p, static_cast<size_t>(chunk), 0);
    if (n < 0 && errno == EINTR) continue;
#endif
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool Socket::WaitReadable(int ms) {
#ifdef _WIN32
  fd_set set;
  FD_ZERO(&set);
  FD_SET(ToNative(m_fd), &set);
  timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return select(0, &set, nullptr, nullptr, &tv) > 0;
#else
  pollfd p;
  p.fd = ToNative(m_fd);
  p.events = POLLIN;
  p.revents = 0;
  return poll(&p, 1, ms) > 0;
#endif
}

bool ParseAddress(const std::string& text, std::string* host, uint16_t* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size() || text.size() - colon > 6) return false;
  unsigned long value = 0;
  for (size_t i = colon + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned long>(text[i] - '0');
  }
  if (value > 65535) return false;
  *host = text.substr(0, colon);
  *port = static_cast<uint16_t>(value);
  return true;
}

std::string GetEnvironment(const char* name) {
#ifdef _WIN32
  char buffer[1024];
  const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
  if (n == 0 || n >= sizeof(buffer)) return std::string();
  return std::string(buffer, n);
#else
  const char* value = getenv(name);
  return value != nullptr ? std::string(value) : std::string();
#endif
}

std::string SimulatorAddress() {
  std::string address = GetEnvironment("QUILLON_DEVSIM");
  return address.empty() ? std::string("127.0.0.1:47810") : address;
}

uint64_t NowMs() {
#ifdef _WIN32
  return GetTickCount64();
#else
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
#endif
}

void SleepMs(unsigned ms) {
#ifdef _WIN32
  Sleep(ms);
#else
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ms / 1000);
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
#endif
}

}  // namespace sim
