#include "link/SerialChannel.h"

#include <cstddef>
#include <cstdio>
#include <new>

#include "link/DownloadUi.h"
#include "link/HostIo.h"
#include "link/KAVHostIO.h"
#include "link/LinkSystem.h"
#include "platform/Mutex.h"
#include "platform/Platform.h"
#include "platform/Thread.h"
#include "resources/resource.h"
#include "support/Diag.h"
#include "support/Language.h"
#include "support/Log.h"
#include "support/Shell.h"
#include "support/Strings.h"

namespace {

// The KMC debugger vendor's serial-number library and its export.
using Id2SerialFn = int32_t(HOSTIO_CALL*)(uint32_t id, char* text);
constexpr size_t SERIAL_TEXT_MAX = 32;  // characters, the terminator included

const HostIoFunctions kNoFunctions = {};

std::string BoxSerialText(uint32_t id) {
  char text[32];
  snprintf(text, sizeof(text), "%07u-%u", id / 10, id % 10);
  return text;
}

// "%NAME%\a\b..." with the separator of the build.
std::string JoinPath(std::initializer_list<const char*> parts) {
  std::string path;
  for (const char* part : parts) {
    if (!path.empty()) path += LinkSystem::Separator();
    path += part;
  }
  return path;
}

}  // namespace

SerialChannel::SerialChannel() : m_ownSystem(new PlatformLinkSystem()) {
  m_system = m_ownSystem.get();
}

SerialChannel::SerialChannel(LinkSystem& system) : m_system(&system) {}

SerialChannel::~SerialChannel() {
  Shutdown();
}

const HostIoFunctions& SerialChannel::Fn() const {
  return m_hostIo != nullptr ? m_hostIo->Functions() : kNoFunctions;
}

void SerialChannel::Init(int32_t channel) {
  Init(channel, nullptr);
}

void SerialChannel::Init(int32_t channel, CKAVHostIO* hostIo) {
  QASSERT(m_hostIo == NULL);
  m_debuggerId = 0;
  m_channel = channel;
  m_hostIo = hostIo != nullptr ? hostIo : new CKAVHostIO(*m_system);
  SetStatus(Status::DISCONNECTED);
  m_loadrun = nullptr;
  m_downloadGo.m_hWnd = nullptr;
  m_downloadGo.m_hThread = nullptr;
}

void SerialChannel::Shutdown() {
  if (m_hostIo == nullptr) return;
  ScopedMutex lock(m_lock);
  CloseSio();
  Disconnect();
  if (m_loadrun != nullptr) m_system->CloseLibrary(m_loadrun);
  m_loadrun = nullptr;
  delete m_hostIo;
  m_hostIo = nullptr;
  SetStatus(Status::DISCONNECTED);
  m_debuggerId = 0;
  SetSerial(std::string());
}

// --- State machine -----------------------------------------------------------

void SerialChannel::Update() {
  ScopedMutex lock(m_lock);
  if (GetStatus() == Status::CLOSE) OpenSio();
  if (GetStatus() == Status::OPEN) WaitSio();
  if (GetStatus() == Status::CLOSE_ERROR) CloseSio();
}

bool SerialChannel::OpenSio() {
  ScopedMutex lock(m_lock);
  QASSERT(m_status == Status::CLOSE);
  LOG_AT("OpenSio\n");
  const HostIoFunctions& fn = Fn();
  if (fn.sio_open != nullptr && fn.sio_open(m_channel) < 0) {
    LOG_AT("Open Error\n");
    DisconnectIfNotFound();
    return false;
  }
  SetStatus(Status::OPEN);
  ClearPendingHeader();
  return true;
}

bool SerialChannel::WaitSio() {
  ScopedMutex lock(m_lock);
  QASSERT(m_status == Status::OPEN);
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

void SerialChannel::CloseSio() {
  ScopedMutex lock(m_lock);
  if (GetStatus() == Status::DISCONNECTED) return;
  SetStatus(Status::CLOSE);
  LOG_AT("Close\n");
  const HostIoFunctions& fn = Fn();
  if (fn.sio_close != nullptr && fn.sio_close(m_channel) < 0) {
    LOG_AT("CloseSio Error\n");
    SetStatus(Status::CLOSE_ERROR);
    DisconnectIfNotFound();
  } else {
    LOG_AT("Closed\n");
  }
}

// --- Packets -------------------------------------------------------------------

bool SerialChannel::Write(uint32_t type, const void* data, int32_t size) {
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

void SerialChannel::ClearPendingHeader() {
  m_header.type = NO_PACKET;
  m_header.size = 0;
}

std::unique_ptr<uint8_t[]> SerialChannel::Read(uint32_t& type, uint32_t& size) {
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

// --- Finding and connecting the debugger ---------------------------------------

bool SerialChannel::IsBox() {
  const HostIoFunctions& fn = Fn();
  return fn.getDllType != nullptr && fn.getDllType() == hostio::DLL_TYPE_BOX;
}

bool SerialChannel::FindOne() {
  const HostIoFunctions& fn = Fn();
  if (fn.host_find == nullptr) return false;
  int32_t id = static_cast<int32_t>(m_debuggerId.load(std::memory_order_relaxed));
  const int32_t r = fn.host_find(&id, 0);
  m_debuggerId = static_cast<uint32_t>(id);
  return r > 0;
}

int32_t SerialChannel::FindList(int32_t* ids) {
  const HostIoFunctions& fn = Fn();
  if (fn.host_find == nullptr) return -1;
  for (int32_t i = 0; i < hostio::DEBUGGER_LIST_MAX; ++i) ids[i] = 0;
  return fn.host_find(ids, hostio::DEBUGGER_LIST_MAX);
}

bool SerialChannel::ConnectFound() {
  const HostIoFunctions& fn = Fn();
  LOG_AT("Connect Debugger\n");
  if (fn.host_connect != nullptr && fn.host_connect(static_cast<int32_t>(m_debuggerId.load())) >= 0) {
    SetStatus(Status::CLOSE);
    UpdateSerial();
    return true;
  }
  LOG_AT("Connect Error\n");
  m_debuggerId = 0;
  UpdateSerial();
  SetStatus(Status::DISCONNECTED);
  return false;
}

bool SerialChannel::IsDebuggerListed() {
  const uint32_t id = m_debuggerId;
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

bool SerialChannel::ConnectFirst(bool resultIfNone) {
  ScopedMutex lock(m_lock);
  LOG_AT("Find Debugger\n");
  if (FindOne()) return ConnectFound();
  int32_t ids[hostio::DEBUGGER_LIST_MAX];
  const int32_t n = FindList(ids);
  LOG_AT("%d devices found\n", n);
  m_debuggerId = 0;
  UpdateSerial();
  SetStatus(Status::DISCONNECTED);
  return resultIfNone;
}

bool SerialChannel::Reconnect(bool& listedOnly) {
  ScopedMutex lock(m_lock);
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
    SetStatus(Status::DISCONNECTED);
    return false;
  }

  // The box is usable when the library hands out a box handle.
  bool ready = true;
  const HostIoFunctions& fn = Fn();
  if (IsBox() && fn.getRawDllData != nullptr) {
    const void* raw = fn.getRawDllData();
    if (raw != nullptr) ready = hostio::RawBoxHandle(raw) != nullptr;
  }

  if (m_debuggerId == previous) {
    if (ready) return true;  // the same debugger, still usable: nothing changes
    if (listedOnly) {
      m_debuggerId = 0;
      UpdateSerial();
      SetStatus(Status::DISCONNECTED);
      return false;
    }
  }
  return ConnectFound();
}

void SerialChannel::Disconnect() {
  ScopedMutex lock(m_lock);
  if (GetStatus() == Status::DISCONNECTED) return;
  if (GetStatus() != Status::CLOSE) CloseSio();
  m_debuggerId = 0;
  SetStatus(Status::DISCONNECTED);
  LOG_AT("Disconnect Debugger\n");
  const HostIoFunctions& fn = Fn();
  if (fn.host_disconnect == nullptr || fn.host_disconnect() < 0) LOG_AT("Disconnect Error\n");
}

void SerialChannel::DisconnectIfNotFound() {
  ScopedMutex lock(m_lock);
  if (GetStatus() == Status::DISCONNECTED || m_debuggerId == 0) return;
  LOG_AT("Disconnect Debugger If Not Found\n");
  if (IsDebuggerListed()) {
    LOG_AT("Disconnect Debugger Cancel. Debugger Find\n");
    return;
  }
  m_debuggerId = 0;
  SetSerial(std::string());
  SetStatus(Status::DISCONNECTED);
  LOG_AT("Disconnect Debugger\n");
  const HostIoFunctions& fn = Fn();
  if (fn.host_disconnect == nullptr || fn.host_disconnect() < 0) LOG_AT("Disconnect Error\n");
}

void SerialChannel::SetSerial(const std::string& serial) {
  ScopedMutex lock(m_serialMutex);
  m_serial = serial;
}

std::string SerialChannel::GetSerial() const {
  ScopedMutex lock(m_serialMutex);
  return m_serial;
}

void SerialChannel::UpdateSerial() {
  ScopedMutex lock(m_lock);
  SetSerial(std::string());
  const uint32_t id = m_debuggerId;
  if (id == 0) return;
  if (IsBox()) {
    SetSerial(BoxSerialText(id));
    return;
  }
  if (m_loadrun == nullptr) {
    // The vendor's variable was removed at start-up; the expansion sees the
    // environment the process started with.
    const std::string path = m_system->ExpandStartupText(JoinPath({"%KMC_PARTNER_KAVS%", "BIN", "loadrun_kav.dll"}));
    m_loadrun = m_system->OpenLibrary(path.c_str());  // a failed load is tried again next time
  }
  if (m_loadrun == nullptr) return;
  auto id2serial = reinterpret_cast<Id2SerialFn>(m_system->FindSymbol(m_loadrun, "LRKAV_id2serialno"));
  if (id2serial == nullptr) return;
  // Room beyond the 31 characters the library may write, in case it writes
  // more; the text is cut to 31.
  char text[256] = {};
  if (id2serial(id, text) >= 0) {
    text[SERIAL_TEXT_MAX - 1] = 0;
    SetSerial(text);
  }
}

std::string SerialChannel::GetDisplayName() {
  if (GetStatus() == Status::DISCONNECTED) return LoadResourceString(IDS_NOT_CONNECTED);
  std::string serial = GetSerial();
  if (!serial.empty()) return serial;
  const uint32_t id = m_debuggerId;
  if (IsBox()) return BoxSerialText(id);
  char text[32];
  snprintf(text, sizeof(text), "%08u", id);
  return text;
}

// --- Program download ----------------------------------------------------------

void SerialChannel::DownloadGo(const std::string& path, void* instance, void* parent) {
  if (m_downloadGo.m_hThread != nullptr) return;  // one download at a time
  if (!m_system->IsReadable(path.c_str())) {
    LOG_AT("DownloadGo file \"%s\"not exist\n", path.c_str());
    return;
  }

  if (IsBox()) {
    const HostIoFunctions& fn = Fn();
    const void* raw = fn.getRawDllData != nullptr ? fn.getRawDllData() : nullptr;
    if (raw == nullptr || hostio::RawBoxHandle(raw) == nullptr) return;
    LOG_AT("DownloadGo QD-KAV-BOX\n");
    m_downloadGo.m_file = path;
    if (m_downloadUi != nullptr) {
      m_downloadUi->RunDownloadDialog(*this, instance, parent);
    } else {
      BeginDownload(nullptr);
    }
    if (m_downloadGo.m_hThread != nullptr) {
      m_downloadGo.m_hThread->Join();
      delete m_downloadGo.m_hThread;
      m_downloadGo.m_hThread = nullptr;
    }
    m_downloadGo.m_hWnd = nullptr;
    return;
  }

  const std::string serial = GetSerial();
  if (serial.empty()) return;
  const std::string tool =
      m_system->ExpandStartupText(JoinPath({"%KAVSDK_ROOT%", "tools", "CommandLineTools", "kav_loadrun32.exe"}));
  if (!m_system->IsReadable(tool.c_str())) {
    LOG_AT("DownloadGo loadrun \"%s\"not exist\n", tool.c_str());
    return;
  }
  std::string parameters = "\"";
  parameters += path;
  parameters += "\" -d ";
  parameters += serial;
  parameters += " -c esc -c reset --no-wait";
  if (m_downloadUi != nullptr) {
    m_downloadUi->StartLoader(tool, parameters, parent);
  } else {
    CShell shell;
    shell.SetFile(tool);
    shell.SetParameters(parameters);
    shell.Execute(false);
  }
}

bool SerialChannel::AutoLoadBxa(uint32_t autoLoad, const std::string& programFolder, void* instance, void* parent) {
  if (autoLoad == 0 || GetStatus() == Status::DISCONNECTED) return false;
  std::string path;
  if (programFolder.empty()) {
    path = MakeAbsolute("Quillon.bxa");
  } else {
    path = programFolder;
    const char last = path.back();
    if (last != '\\' && last != '/') path += LinkSystem::Separator();
    path += "Quillon.bxa";
  }
  DownloadGo(path, instance, parent);
  return true;
}

bool SerialChannel::BeginDownload(void* dialog) {
  QASSERT(m_downloadGo.m_hWnd == NULL);
  QASSERT(m_downloadGo.m_hThread == NULL);
  m_downloadGo.m_hWnd = dialog;
  Thread* thread = new Thread();
  if (!thread->Start(&SerialChannel::DownloadThreadEntry, this)) {
    Log("CreateThread failed: last error is %u\n", platform::LastError());
    delete thread;
    return false;
  }
  m_downloadGo.m_hThread = thread;
  return true;
}

void SerialChannel::DownloadThreadEntry(void* context) {
  static_cast<SerialChannel*>(context)->RunDownloadThread();
}

// The download thread: only the box interface and the dialog's text; it
// takes no lock and leaves the channel's state alone.
void SerialChannel::RunDownloadThread() {
  const HostIoFunctions& fn = Fn();
  const void* raw = fn.getRawDllData != nullptr ? fn.getRawDllData() : nullptr;
  if (raw != nullptr) {
    void* box = hostio::RawBoxHandle(raw);
    hostio::DownloadProgramFn download = hostio::RawDownloadProgram(raw);
    if (download == nullptr || box == nullptr) {
      Log("DownloadGo %s\n", "failed");
    } else {
      const int32_t r = download(box, m_downloadGo.m_file.c_str(), &SerialChannel::DownloadProgress, this);
      Log("DownloadGo %s\n", r != 0 ? "success" : "failed");
    }
  }
  if (m_downloadUi != nullptr) m_downloadUi->EndDownloadDialog(m_downloadGo.m_hWnd);
}

int32_t HOSTIO_CALL SerialChannel::DownloadProgress(void* context, uint64_t done, uint64_t total) {
  Log("%llu/%llu\n", static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
  // Two 20-digit numbers, the slash and the terminator.
  char text[48];
  snprintf(text, sizeof(text), "%llu/%llu", static_cast<unsigned long long>(done),
           static_cast<unsigned long long>(total));
  auto* self = static_cast<SerialChannel*>(context);
  if (self != nullptr && self->m_downloadUi != nullptr) {
    self->m_downloadUi->SetDownloadText(self->m_downloadGo.m_hWnd, text);
  }
  return 1;
}
