#include "link/PacketLink.h"

#include <cstddef>
#include <new>

#include "link/KAVHostIO.h"
#include "support/Diag.h"
#include "support/Log.h"

// The link's lines and assertions keep the tag "SerialChannel", the file they
// were first printed from: log readers and the device team's notes match it.
QUILL_LOG_TAG("SerialChannel")

namespace {
const HostIoFunctions kNoFunctions = {};
}  // namespace

void PacketLink::Bind(const CKAVHostIO* hostIo, int32_t channel) {
  m_hostIo = hostIo;
  m_channel = channel;
  ClearPendingHeader();
}

const HostIoFunctions& PacketLink::Fn() const {
  return m_hostIo != nullptr ? m_hostIo->Functions() : kNoFunctions;
}

void PacketLink::ReportFailure() {
  if (m_failureHandler != nullptr) m_failureHandler->OnLinkFailure();
}

// --- State machine -----------------------------------------------------------

void PacketLink::Update() {
  ScopedMutex lock(m_lock);
  if (GetStatus() == Status::CLOSE) OpenSio();
  if (GetStatus() == Status::OPEN) WaitSio();
  if (GetStatus() == Status::CLOSE_ERROR) CloseSio();
}

bool PacketLink::OpenSio() {
  ScopedMutex lock(m_lock);
  QASSERT_TAGGED(m_status == Status::CLOSE);
  LOG_AT("OpenSio\n");
  const HostIoFunctions& fn = Fn();
  if (fn.sio_open != nullptr && fn.sio_open(m_channel) < 0) {
    LOG_AT("Open Error\n");
    ReportFailure();
    return false;
  }
  SetStatus(Status::OPEN);
  ClearPendingHeader();
  return true;
}

bool PacketLink::WaitSio() {
  ScopedMutex lock(m_lock);
  QASSERT_TAGGED(m_status == Status::OPEN);
  const HostIoFunctions& fn = Fn();
  if (fn.sio_wait == nullptr) return false;
  const int32_t r = fn.sio_wait(m_channel, 1);
  if (r == 0) return false;
  if (r < 0) {
    LOG_AT("WaitSio Error\n");
    CloseSio();
    return false;
  }
  SetStatus(Status::CONNECTED);
  LOG_AT("Connected\n");
  return true;
}

void PacketLink::CloseSio() {
  ScopedMutex lock(m_lock);
  if (GetStatus() == Status::DISCONNECTED) return;
  SetStatus(Status::CLOSE);
  LOG_AT("Close\n");
  const HostIoFunctions& fn = Fn();
  if (fn.sio_close != nullptr && fn.sio_close(m_channel) < 0) {
    LOG_AT("CloseSio Error\n");
    SetStatus(Status::CLOSE_ERROR);
    ReportFailure();
  } else {
    LOG_AT("Closed\n");
  }
}

// --- Packets -------------------------------------------------------------------

bool PacketLink::Write(uint32_t type, const void* data, int32_t size) {
  ScopedMutex lock(m_lock);
  if (size < 0 || (size > 0 && data == nullptr)) {
    // A caller's mistake; a header with a negative size would only make the
    // device program drop the link.
    LOG_AT("WriteSio refused, size %d\n", size);
    return false;
  }
  const HostIoFunctions& fn = Fn();
  uint8_t header[PacketHeader::SIZE];
  PacketHeader{PacketHeader::MAGIC, 0, type, size}.Encode(header);
  int32_t r = fn.sio_write != nullptr ? fn.sio_write(m_channel, header, PacketHeader::SIZE, 1) : -1;
  if (r != PacketHeader::SIZE) {
    LOG_AT("WriteSio Error, %d < %d\n", r, PacketHeader::SIZE);
    CloseSio();
    return false;
  }
  if (size > 0) {
    r = fn.sio_write != nullptr ? fn.sio_write(m_channel, data, size, 1) : -1;
    if (r != size) {
      LOG_AT("WriteSio Error %d < %d\n", r, size);
      CloseSio();
      return false;
    }
  }
  return true;
}

void PacketLink::ClearPendingHeader() {
  m_header.type = NO_PACKET;
  m_header.size = 0;
}

std::unique_ptr<uint8_t[]> PacketLink::Read(uint32_t& type, uint32_t& size) {
  ScopedMutex lock(m_lock);
  type = NO_PACKET;
  size = 0;
  const HostIoFunctions& fn = Fn();

  if (m_header.type == NO_PACKET) {
    const int32_t n = fn.sio_getReadableBytes != nullptr ? fn.sio_getReadableBytes(m_channel, 0) : -1;
    if (n < 0) {
      LOG_AT("GetReadableBytesSio Error, %d\n", n);
      CloseSio();
      return nullptr;
    }
    if (n < PacketHeader::SIZE) return nullptr;
    uint8_t bytes[PacketHeader::SIZE];
    const int32_t r = fn.sio_read != nullptr ? fn.sio_read(m_channel, bytes, PacketHeader::SIZE, 1) : -1;
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
  }

  // A received type of NO_PACKET is as wrong as any other unknown type, and
  // a size beyond MAX_PAYLOAD is never allocated.
  if (m_header.magic != PacketHeader::MAGIC || m_header.reserved != 0 || m_header.type >= 2 || m_header.size < 0 ||
      m_header.size > PacketHeader::MAX_PAYLOAD) {
    LOG_AT("Wrong header\n");
    CloseSio();
    return nullptr;
  }

  if (m_header.size == 0) {
    type = m_header.type;
    size = 0;
    ClearPendingHeader();
    return nullptr;
  }

  const int32_t n = fn.sio_getReadableBytes != nullptr ? fn.sio_getReadableBytes(m_channel, 0) : -1;
  if (n < 0) {
    LOG_AT("GetReadableBytesSio Error, %d\n", n);
    CloseSio();
    return nullptr;
  }
  // Not all there yet: the header stays pending and the next call comes
  // straight back here.
  if (n < m_header.size) return nullptr;

  const int32_t payloadSize = m_header.size;
  std::unique_ptr<uint8_t[]> payload(new (std::nothrow) uint8_t[static_cast<size_t>(payloadSize)]);
  if (payload == nullptr) {
    LOG_AT("ReadSio Error, no memory for %d\n", payloadSize);
    CloseSio();
    return nullptr;
  }
  const int32_t r = fn.sio_read != nullptr ? fn.sio_read(m_channel, payload.get(), payloadSize, 1) : -1;
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
