#include "link/DebuggerSession.h"

#include <cstdio>

#include "link/KAVHostIO.h"
#include "link/LinkSystem.h"
#include "support/Log.h"

QUILL_LOG_TAG("DebuggerSession")

using Status = PacketChannel::Status;

namespace {

// The KMC debugger vendor's serial-number library and its export.
using Id2SerialFn = int32_t(HOSTIO_CALL*)(uint32_t id, char* text);
constexpr size_t SERIAL_TEXT_MAX = 32;  // characters, the terminator included

std::string BoxSerialText(uint32_t id) {
  char text[32];
  snprintf(text, sizeof(text), "%07u-%u", id / 10, id % 10);
  return text;
}

}  // namespace

DebuggerSession::DebuggerSession(PacketLink& link, LinkSystem& system) : m_link(link), m_system(system) {}

void DebuggerSession::Bind(const CKAVHostIO* hostIo) {
  m_hostIo = hostIo;
  m_debuggerId = 0;
  m_awaitedId = 0;
  m_loadrun = nullptr;
}

void DebuggerSession::Shutdown() {
  ScopedMutex lock(m_link.GetLock());
  Disconnect();
  if (m_loadrun != nullptr) m_system.CloseLibrary(m_loadrun);
  m_loadrun = nullptr;
  m_hostIo = nullptr;
  m_debuggerId = 0;
  m_awaitedId = 0;
  SetSerial(std::string());
}

bool DebuggerSession::GetBox(void** box, hostio::DownloadProgramFn* download) const {
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);
  const void* raw = fn.getRawDllData();
  if (raw == nullptr) return false;
  *box = hostio::RawBoxHandle(raw);
  *download = hostio::RawDownloadProgram(raw);
  return true;
}

bool DebuggerSession::HasLibrary() const {
  return m_hostIo != nullptr && m_hostIo->BoundSlotCount() > 0;
}

bool DebuggerSession::IsBox() const {
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);
  return fn.getDllType() == hostio::DLL_TYPE_BOX;
}

bool DebuggerSession::FindOne() {
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);
  int32_t id = static_cast<int32_t>(m_debuggerId.load(std::memory_order_relaxed));
  const int32_t r = fn.host_find(&id, 0);
  m_debuggerId = static_cast<uint32_t>(id);
  return r > 0;
}

int32_t DebuggerSession::FindList(int32_t* ids) {
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);
  for (int32_t i = 0; i < hostio::DEBUGGER_LIST_MAX; ++i) ids[i] = 0;
  return fn.host_find(ids, hostio::DEBUGGER_LIST_MAX);
}

bool DebuggerSession::ConnectFound() {
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);
  LOG_AT("Connect Debugger\n");
  if (fn.host_connect(static_cast<int32_t>(m_debuggerId.load())) >= 0) {
    m_link.DebuggerConnected();
    m_awaitedId = 0;
    UpdateSerial();
    return true;
  }
  LOG_AT("Connect Error\n");
  m_debuggerId = 0;
  UpdateSerial();
  m_link.Disconnected();
  return false;
}

bool DebuggerSession::IsDebuggerListed() {
  ScopedMutex lock(m_link.GetLock());
  return IsListed(m_debuggerId);
}

bool DebuggerSession::IsListed(uint32_t id) {
  if (id == 0) return false;
  int32_t ids[hostio::DEBUGGER_LIST_MAX];
  const int32_t n = FindList(ids);
  if (n < 1) return false;
  const int32_t count = n < hostio::DEBUGGER_LIST_MAX ? n : hostio::DEBUGGER_LIST_MAX;
  for (int32_t i = 0; i < count; ++i) {
    if (static_cast<uint32_t>(ids[i]) == id) return true;
  }
  return false;
}

bool DebuggerSession::ConnectFirst(bool resultIfNone) {
  ScopedMutex lock(m_link.GetLock());
  LOG_AT("Find Debugger\n");
  if (FindOne()) return ConnectFound();
  int32_t ids[hostio::DEBUGGER_LIST_MAX];
  const int32_t n = FindList(ids);
  LOG_AT("%d devices found\n", n);
  m_debuggerId = 0;
  UpdateSerial();
  m_link.Disconnected();
  return resultIfNone;
}

bool DebuggerSession::Reconnect(bool& listedOnly) {
  ScopedMutex lock(m_link.GetLock());
  const uint32_t previous = m_debuggerId;
  listedOnly = false;
  LOG_AT("Find Debugger\n");
  if (!FindOne()) {
    int32_t ids[hostio::DEBUGGER_LIST_MAX];
    const int32_t n = FindList(ids);
    LOG_AT("%d devices found\n", n);
    m_debuggerId = previous;
    if (n > 0) listedOnly = true;
  }
  if (m_debuggerId == 0) {
    UpdateSerial();
    m_link.Disconnected();
    return false;
  }

  // The box is usable when the library hands out a box handle.
  bool ready = true;
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);
  if (IsBox()) {
    const void* raw = fn.getRawDllData();
    if (raw != nullptr) ready = hostio::RawBoxHandle(raw) != nullptr;
  }

  if (m_debuggerId == previous) {
    if (ready) return true;  // the same debugger, still usable: nothing changes
    if (listedOnly) {
      m_debuggerId = 0;
      UpdateSerial();
      m_link.Disconnected();
      return false;
    }
  }
  return ConnectFound();
}

void DebuggerSession::Disconnect() {
  ScopedMutex lock(m_link.GetLock());
  if (m_awaitedId.exchange(0) != 0) LOG_AT("Stop Waiting For Debugger\n");
  if (m_link.GetStatus() == Status::DISCONNECTED) return;
  if (m_link.GetStatus() != Status::CLOSED_PENDING_OPEN) m_link.CloseChannel();
  // A failed close may have dropped a debugger no longer listed, which is
  // then awaited: the user's Disconnect ends that wait too.
  if (m_awaitedId.exchange(0) != 0) LOG_AT("Stop Waiting For Debugger\n");
  m_debuggerId = 0;
  m_link.Disconnected();
  LOG_AT("Disconnect Debugger\n");
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);
  if (fn.host_disconnect() < 0) LOG_AT("Disconnect Error\n");
}

void DebuggerSession::DisconnectIfNotFound() {
  ScopedMutex lock(m_link.GetLock());
  if (m_link.GetStatus() == Status::DISCONNECTED || m_debuggerId == 0) return;
  LOG_AT("Disconnect Debugger If Not Found\n");
  if (IsDebuggerListed()) {
    LOG_AT("Disconnect Debugger Cancel. Debugger Find\n");
    return;
  }
  m_awaitedId = m_debuggerId.exchange(0);
  SetSerial(std::string());
  m_link.DebuggerLost();
  LOG_AT("Disconnect Debugger\n");
  const HostIoFunctions& fn = CKAVHostIO::FunctionsOf(m_hostIo);
  if (fn.host_disconnect() < 0) LOG_AT("Disconnect Error\n");
  LOG_AT("Waiting For Debugger %u\n", m_awaitedId.load());
}

bool DebuggerSession::ConnectLost() {
  TryScopedMutex lock(m_link.GetLock());
  if (!lock.IsLocked()) return false;  // a worker holds the link: the next look
  const uint32_t awaited = m_awaitedId;
  if (awaited == 0 || m_link.GetStatus() != Status::DISCONNECTED) return false;
  if (!IsListed(awaited)) return false;
  LOG_AT("Debugger %u Found Again\n", awaited);
  m_debuggerId = awaited;
  if (ConnectFound()) return true;
  // Refused this time: it is looked for again.
  m_awaitedId = awaited;
  return false;
}

void DebuggerSession::SetSerial(const std::string& serial) {
  ScopedMutex lock(m_serialMutex);
  m_serial = serial;
}

std::string DebuggerSession::GetSerial() const {
  ScopedMutex lock(m_serialMutex);
  return m_serial;
}

void DebuggerSession::UpdateSerial() {
  ScopedMutex lock(m_link.GetLock());
  SetSerial(std::string());
  const uint32_t id = m_debuggerId;
  if (id == 0) return;
  if (IsBox()) {
    SetSerial(BoxSerialText(id));
    return;
  }
  if (m_loadrun == nullptr) {
    // The vendor's variable was removed at start-up; the expansion sees the
    // environment the process started with. Without it the pattern names no
    // place (taken as it is, it would be a folder "%KMC_PARTNER_KAVS%" in the
    // current folder): nothing is loaded.
    const std::string path =
        m_system.ExpandStartupText(LinkSystem::JoinPath({"%KMC_PARTNER_KAVS%", "BIN", "loadrun_kav.dll"}));
    std::string problem;
    if (m_system.UsablePath(path, &problem)) {
      m_loadrun = m_system.OpenLibrary(path.c_str());  // a failed load is tried again next time
    } else {
      LOG_AT("loadrun_kav.dll not loaded: %s\n", problem.c_str());
    }
  }
  if (m_loadrun == nullptr) return;
  auto id2serial = reinterpret_cast<Id2SerialFn>(m_system.FindSymbol(m_loadrun, "LRKAV_id2serialno"));
  if (id2serial == nullptr) return;
  // Room beyond the 31 characters the library may write, in case it writes
  // more; the text is cut to 31.
  char text[256] = {};
  if (id2serial(id, text) >= 0) {
    text[SERIAL_TEXT_MAX - 1] = 0;
    SetSerial(text);
  }
}

std::string DebuggerSession::GetDisplayName() {
  if (m_link.GetStatus() == Status::DISCONNECTED) return std::string();
  std::string serial = GetSerial();
  if (!serial.empty()) return serial;
  const uint32_t id = m_debuggerId;
  if (IsBox()) return BoxSerialText(id);
  char text[32];
  snprintf(text, sizeof(text), "%08u", id);
  return text;
}
