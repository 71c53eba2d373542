#include "RingReader.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "../common/SimSocket.h"

namespace sim {

namespace {

unsigned long ProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

}  // namespace

int32_t RingReader::Create(std::vector<uint8_t>* out) {
  Stop();
  static std::atomic<uint32_t> next{1};
  const uint32_t serial = next.fetch_add(1);
  char name[96];
  snprintf(name, sizeof(name), "/tmp/quill-devsim-ring-%lu-%u", ProcessId(), serial);
  const uint32_t nonce = ((static_cast<uint32_t>(NowMs()) * 2654435761u) ^ serial) & 0x3FFFFFFEu;
  m_path = LocalPath(name);
  m_writesTaken = 0;
  if (!m_ring.Create(m_path, nonce + 1)) {
    RemoveFile();
    return -1;
  }
  out->assign(name, name + strlen(name));
  return static_cast<int32_t>(nonce + 1);
}

int32_t RingReader::Ready() {
  if (!m_ring.Acknowledged() || m_thread.joinable()) {
    Stop();
    return 0;
  }
  // Both sides hold the ring now: its name is no longer needed.
  RemoveFile();
  m_stop.store(false);
  m_thread = std::thread([this] { Run(); });
  return 1;
}

size_t RingReader::Drain() {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<uint8_t> record;
  std::vector<uint8_t> payload;
  std::vector<uint8_t> out;
  size_t taken = 0;
  while (m_ring.Take(&record)) {
    ++taken;
    // One or more posted writes, framed as on the connection.
    size_t at = 0;
    while (record.size() - at >= Request::SIZE) {
      const Request request = Request::Decode(record.data() + at);
      at += Request::SIZE;
      if (request.magic != PROTOCOL_MAGIC || request.op != OP_SIO_POST || request.length > record.size() - at) break;
      payload.assign(record.begin() + static_cast<std::ptrdiff_t>(at),
                     record.begin() + static_cast<std::ptrdiff_t>(at + request.length));
      at += request.length;
      out.clear();
      m_device->Handle(request, payload, m_transfer, &out);
      ++m_writesTaken;
      GrantFrom(out);
    }
  }
  return taken;
}

void RingReader::Granted(const std::vector<uint8_t>& answer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  GrantFrom(answer);
}

void RingReader::GrantFrom(const std::vector<uint8_t>& answer) {
  const uint32_t posts = answer.size() >= 8 ? Request::Get(answer.data()) : 0;
  const uint32_t session = answer.size() >= 8 ? Request::Get(answer.data() + 4) : 0;
  m_ring.Grant(m_writesTaken + posts, session);
}

void RingReader::Run() {
  // Every 2 ms while writes come, every 10 ms after 100 ms without.
  uint64_t lastTaken = NowMs();
  while (!m_stop.load()) {
    const uint64_t now = NowMs();
    if (Drain() > 0) lastTaken = now;
    SleepMs(now - lastTaken < 100 ? 2 : 10);
  }
}

void RingReader::Stop() {
  if (m_thread.joinable()) {
    m_stop.store(true);
    m_thread.join();
  }
  Drain();
  m_ring.Close();
  RemoveFile();
}

void RingReader::RemoveFile() {
  if (m_path.empty()) return;
#ifndef _WIN32
  // Under Windows the file goes when the simulator's handle closes.
  remove(m_path.c_str());
#endif
  m_path.clear();
}

}  // namespace sim
