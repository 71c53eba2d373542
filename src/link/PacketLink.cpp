#include "link/PacketLink.h"

#include <cstddef>
#include <new>

#include "link/KAVHostIO.h"
#include "platform/Platform.h"
#include "support/Diag.h"
#include "support/Log.h"

QUILL_LOG_TAG("PacketLink")

void PacketLink::Bind(const CKAVHostIO* hostIo, int32_t channel) {
  m_hostIo = hostIo;
  m_channel = channel;
  ClearPendingHeader();
}

void PacketLink::ReportFailure() {
  if (m_failureHandler != nullptr) m_failureHandler->OnLinkFailure();
}

uint64_t PacketLink::Now() const {
  return m_clock->NowMs();
}

uint64_t PacketLink::GetWriteBlockedMs() const {
  // The start is kept plus one, so that 0 means no write.
  const uint64_t start = m_writeStartMs.load(std::memory_order_relaxed);
  if (start == 0) return 0;
  const uint64_t now = Now() + 1;
  return now > start ? now - start : 0;
}

bool PacketLink::IsStreaming() const {
  const uint64_t last = m_lastAudioMs.load(std::memory_order_relaxed);
  return last != 0 && Now() + 1 - last < STREAMING_MS;
}

bool PacketLink::HasPostedConfig() const {
  ScopedMutex lock(m_postLock);
  return m_hasPosted;
}

// --- State machine -----------------------------------------------------------

bool PacketLink::Transit(LinkStates::Transition transition) {
  ScopedMutex lock(m_lock);
  return m_states.Apply(transition);
}

void PacketLink::Update() {
  TryScopedMutex lock(m_lock);
  if (lock.IsLocked()) Step();
}

void PacketLink::Step() {
  if (m_closeRequested.exchange(false, std::memory_order_relaxed)) CloseRequested();
  if (GetStatus() == Status::CLOSED_PENDING_OPEN) OpenSio();
  if (GetStatus() == Status::OPEN) WaitSio();
  if (GetStatus() == Status::CLOSE_ERROR) CloseSio();
  // A capture worker sends the record before its next block; without one it
  // goes out here.
  if (GetStatus() == Status::CONNECTED && !IsStreaming()) SendPostedConfig();
}

bool PacketLink::OpenSio() {
  ScopedMutex lock(m_lock);
  QASSERT_TAGGED(GetStatus() == Status::CLOSED_PENDING_OPEN);
  LOG_AT("OpenSio\n");
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);
  if (fn.sio_open(m_channel) < 0) {
    LOG_AT("Open Error\n");
    ReportFailure();
    return false;
  }
  m_states.Apply(LinkStates::Transition::ChannelOpened);
  ClearPendingHeader();
  return true;
}

bool PacketLink::WaitSio() {
  ScopedMutex lock(m_lock);
  QASSERT_TAGGED(GetStatus() == Status::OPEN);
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);
  const int32_t r = fn.sio_wait(m_channel, 1);
  if (r == 0) return false;
  if (r < 0) {
    LOG_AT("WaitSio Error\n");
    CloseSio();
    return false;
  }
  // A new connection: its audio waits for its own settings record.
  m_connection.fetch_add(1, std::memory_order_relaxed);
  m_dropLogged = false;
  m_states.Apply(LinkStates::Transition::ProgramAttached);
  LOG_AT("Connected\n");
  return true;
}

void PacketLink::CloseSio() {
  ScopedMutex lock(m_lock);
  if (GetStatus() == Status::DISCONNECTED) return;
  m_states.Apply(LinkStates::Transition::ChannelClosing);
  LOG_AT("Close\n");
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);
  if (fn.sio_close(m_channel) < 0) {
    LOG_AT("CloseSio Error\n");
    m_states.Apply(LinkStates::Transition::CloseFailed);
    ReportFailure();
  } else {
    LOG_AT("Closed\n");
  }
}

// --- Packets -------------------------------------------------------------------

bool PacketLink::Write(uint32_t type, const void* data, int32_t size) {
  if (size < 0 || (size > 0 && data == nullptr)) {
    // A caller's mistake; a header with a negative size would only make the
    // device program drop the link.
    LOG_AT("WriteSio refused, size %d\n", size);
    return false;
  }
  if (type == CONFIG) return PostConfig(data, size);

  ScopedMutex lock(m_lock);
  m_lastAudioMs.store(Now() + 1, std::memory_order_relaxed);
  // Also the rest of a block after a failed write: never into a closed
  // channel.
  if (GetStatus() != Status::CONNECTED) return false;
  if (!SendPostedConfig()) return false;
  if (m_configSentFor != m_connection.load(std::memory_order_relaxed)) {
    // The device would take the block for the previous stream.
    m_droppedAudio.fetch_add(1, std::memory_order_relaxed);
    if (!m_dropLogged) LOG_AT("Audio before the settings record dropped\n");
    m_dropLogged = true;
    return false;
  }
  const bool sent = SendPacket(type, data, size);
  if (m_closeRequested.exchange(false, std::memory_order_relaxed)) CloseRequested();
  return sent;
}

void PacketLink::CloseRequested() {
  // A channel that a failure closed meanwhile is not closed twice.
  if (GetStatus() == Status::OPEN || GetStatus() == Status::CONNECTED) CloseSio();
}

void PacketLink::RequestClose() {
  TryScopedMutex lock(m_lock);
  if (!lock.IsLocked()) {
    m_closeRequested.store(true, std::memory_order_relaxed);
    return;
  }
  m_closeRequested.store(false, std::memory_order_relaxed);
  CloseSio();
}

bool PacketLink::PostConfig(const void* data, int32_t size) {
  if (GetStatus() != Status::CONNECTED) return false;
  {
    ScopedMutex post(m_postLock);
    const auto* bytes = static_cast<const uint8_t*>(data);
    m_posted.assign(bytes, bytes + size);
    m_hasPosted = true;
    m_postedFor = m_connection.load(std::memory_order_relaxed);
  }
  // Sent here only when that needs no waiting and no worker streams (it
  // sends the record itself before its next block).
  if (IsStreaming()) return true;
  TryScopedMutex lock(m_lock);
  if (!lock.IsLocked()) return true;
  return SendPostedConfig();
}

bool PacketLink::SendPostedConfig() {
  std::vector<uint8_t> record;
  {
    ScopedMutex post(m_postLock);
    if (!m_hasPosted) return true;
    m_hasPosted = false;
    // A record posted in an earlier connection carries that stream's token;
    // the new connection gets a record of its own.
    if (m_postedFor != m_connection.load(std::memory_order_relaxed)) return true;
    record.swap(m_posted);
  }
  if (GetStatus() != Status::CONNECTED) return false;
  if (!SendPacket(CONFIG, record.data(), static_cast<int32_t>(record.size()))) return false;
  m_configSentFor = m_connection.load(std::memory_order_relaxed);
  return true;
}

bool PacketLink::SendPacket(uint32_t type, const void* data, int32_t size) {
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);
  uint8_t header[PacketHeader::SIZE];
  PacketHeader{PacketHeader::MAGIC, 0, type, size}.Encode(header);
  m_writeStartMs.store(Now() + 1, std::memory_order_relaxed);
  int32_t r = fn.sio_write(m_channel, header, PacketHeader::SIZE, 1);
  if (r == PacketHeader::SIZE && size > 0) {
    const int32_t payload = fn.sio_write(m_channel, data, size, 1);
    if (payload != size) {
      m_writeStartMs.store(0, std::memory_order_relaxed);
      LOG_AT("WriteSio Error %d < %d\n", payload, size);
      CloseSio();
      return false;
    }
  }
  const uint64_t blocked = GetWriteBlockedMs();
  m_writeStartMs.store(0, std::memory_order_relaxed);
  if (r != PacketHeader::SIZE) {
    LOG_AT("WriteSio Error, %d < %d\n", r, PacketHeader::SIZE);
    CloseSio();
    return false;
  }
  if (blocked > WRITE_DEADLINE_MS) {
    // The device stopped reading: its program is re-attached like after any
    // other fault, and the stream starts afresh.
    LOG_AT("WriteSio blocked %llu ms\n", static_cast<unsigned long long>(blocked));
    CloseSio();
    return false;
  }
  return true;
}

void PacketLink::ClearPendingHeader() {
  m_header.type = NO_PACKET;
  m_header.size = 0;
}

std::unique_ptr<uint8_t[]> PacketLink::Read(uint32_t& type, uint32_t& size) {
  type = NO_PACKET;
  size = 0;
  TryScopedMutex lock(m_lock);
  if (!lock.IsLocked()) return nullptr;
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);

  if (m_header.type == NO_PACKET) {
    const int32_t n = fn.sio_getReadableBytes(m_channel, 0);
    if (n < 0) {
      LOG_AT("GetReadableBytesSio Error, %d\n", n);
      CloseSio();
      return nullptr;
    }
    if (n < PacketHeader::SIZE) return nullptr;
    uint8_t bytes[PacketHeader::SIZE];
    const int32_t r = fn.sio_read(m_channel, bytes, PacketHeader::SIZE, 1);
    if (r < 0) {
      LOG_AT("ReadSio Error, %d\n", r);
      CloseSio();
      return nullptr;
    }
    if (r != PacketHeader::SIZE) {
      LOG_AT("ReadSio Error, %d < %d\n", r, PacketHeader::SIZE);
      CloseSio();
      return nullptr;
    }
    m_header = PacketHeader::Decode(bytes);
    m_headerReadMs = Now();
  }

  // A received type of NO_PACKET is as wrong as any other unknown type, and
  // a size that its type does not allow is never allocated.
  if (m_header.magic != PacketHeader::MAGIC || m_header.reserved != 0 ||
      !PacketHeader::PayloadFits(m_header.type, m_header.size)) {
    LOG_AT("Wrong header\n");
    LOG_AT("Header magic 0x%08x, reserved %u, type %u, size %d\n", m_header.magic, m_header.reserved, m_header.type,
           m_header.size);
    CloseSio();
    return nullptr;
  }

  if (m_header.size == 0) {
    type = m_header.type;
    size = 0;
    ClearPendingHeader();
    return nullptr;
  }

  const int32_t n = fn.sio_getReadableBytes(m_channel, 0);
  if (n < 0) {
    LOG_AT("GetReadableBytesSio Error, %d\n", n);
    CloseSio();
    return nullptr;
  }
  // Not all there yet: the header stays pending and the next call comes
  // straight back here, until the deadline.
  if (n < m_header.size) {
    const uint64_t waited = Now() - m_headerReadMs;
    if (waited <= PAYLOAD_DEADLINE_MS) return nullptr;
    LOG_AT("ReadSio Error, payload of %d bytes not complete after %llu ms (%d there)\n", m_header.size,
           static_cast<unsigned long long>(waited), n);
    CloseSio();
    return nullptr;
  }

  const int32_t payloadSize = m_header.size;
  std::unique_ptr<uint8_t[]> payload(new (std::nothrow) uint8_t[static_cast<size_t>(payloadSize)]);
  if (payload == nullptr) {
    LOG_AT("ReadSio Error, no memory for %d\n", payloadSize);
    CloseSio();
    return nullptr;
  }
  const int32_t r = fn.sio_read(m_channel, payload.get(), payloadSize, 1);
  if (r < 0) {
    LOG_AT("ReadSio Error, %d\n", r);
    CloseSio();
    return nullptr;
  }
  if (r != payloadSize) {
    LOG_AT("ReadSio Error, %d < %d\n", r, payloadSize);
    CloseSio();
    return nullptr;
  }
  type = m_header.type;
  size = static_cast<uint32_t>(payloadSize);
  ClearPendingHeader();
  return payload;
}
