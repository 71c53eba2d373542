#include "FakeHostIo.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "link/KAVHostIO.h"

namespace {
std::atomic<FakeHostIo*> s_current{nullptr};
}

FakeHostIo::FakeHostIo() {
  s_current.store(this);
}

FakeHostIo::~FakeHostIo() {
  s_current.store(nullptr);
}

FakeHostIo* FakeHostIo::Current() {
  return s_current.load();
}

HostIoFunctions FakeHostIo::Table() const {
  HostIoFunctions t = {};
  t.host_find = &HostFind;
  t.host_connect = &HostConnect;
  t.host_disconnect = &HostDisconnect;
  t.host_getconnectid = &HostNone;
  t.host_getversion = &HostNone;
  t.sio_open = &SioOpen;
  t.sio_close = &SioClose;
  t.sio_connect = &SioChannel;
  t.sio_wait = &SioWait;
  t.sio_disconnect = &SioChannel;
  t.sio_flush = &SioChannel;
  t.sio_read = &SioRead;
  t.sio_write = &SioWrite;
  t.sio_getReadableBytes = &SioReadable;
  t.sio_getWritableBytes = &SioWritable;
  t.smem_open = &SmemId;
  t.smem_close = &SmemId;
  t.smem_getsize = &SmemId;
  t.smem_read = &SmemRead;
  t.smem_write = &SmemWrite;
  t.getDllType = &GetDllType;
  t.getRawDllData = &GetRawDllData;
  return t;
}

std::unique_ptr<CKAVHostIO> FakeHostIo::MakeHostIo(LinkSystem& system) const {
  return std::make_unique<CKAVHostIO>(system, Table());
}

std::unique_ptr<CKAVHostIO> FakeHostIo::MakeHostIo(LinkSystem& system, const HostIoFunctions& table) const {
  return std::make_unique<CKAVHostIO>(system, table);
}

void FakeHostIo::PushBytes(const void* data, size_t size) {
  std::lock_guard<std::mutex> guard(lock);
  const auto* bytes = static_cast<const uint8_t*>(data);
  m_incoming.insert(m_incoming.end(), bytes, bytes + size);
}

void FakeHostIo::PushHeader(uint32_t magic, uint32_t reserved, uint32_t type, int32_t size) {
  uint8_t bytes[PacketHeader::SIZE];
  PacketHeader{magic, reserved, type, size}.Encode(bytes);
  PushBytes(bytes, sizeof(bytes));
}

void FakeHostIo::PushPacket(uint32_t type, const std::vector<uint8_t>& payload) {
  PushHeader(PacketHeader::MAGIC, 0, type, static_cast<int32_t>(payload.size()));
  PushBytes(payload.data(), payload.size());
}

void FakeHostIo::ClearIncoming() {
  std::lock_guard<std::mutex> guard(lock);
  m_incoming.clear();
}

size_t FakeHostIo::PendingBytes() {
  std::lock_guard<std::mutex> guard(lock);
  return m_incoming.size();
}

bool FakeHostIo::ParseWritten(std::vector<std::pair<uint32_t, std::vector<uint8_t>>>* packets) {
  std::lock_guard<std::mutex> guard(lock);
  packets->clear();
  size_t at = 0;
  while (at < written.size()) {
    if (written.size() - at < PacketHeader::SIZE) return false;
    PacketHeader h = PacketHeader::Decode(&written[at]);
    if (h.magic != PacketHeader::MAGIC || h.reserved != 0 || h.size < 0) return false;
    at += PacketHeader::SIZE;
    if (written.size() - at < static_cast<size_t>(h.size)) return false;
    packets->emplace_back(h.type, std::vector<uint8_t>(written.begin() + static_cast<std::ptrdiff_t>(at),
                                                       written.begin() + static_cast<std::ptrdiff_t>(at) + h.size));
    at += static_cast<size_t>(h.size);
  }
  return true;
}

void FakeHostIo::BlockWrites() {
  std::lock_guard<std::mutex> guard(lock);
  m_blockWrites = true;
}

bool FakeHostIo::WaitForBlockedWrite() {
  std::unique_lock<std::mutex> guard(lock);
  return m_writeGate.wait_for(guard, std::chrono::minutes(1), [this] { return m_blockedWriters > 0; });
}

void FakeHostIo::ReleaseWrites() {
  {
    std::lock_guard<std::mutex> guard(lock);
    m_blockWrites = false;
  }
  m_writeGate.notify_all();
}

// --- Entry points ------------------------------------------------------------

namespace {

// No thread holds lock: another thread can take it (the lock is re-entrant,
// so the calling thread could take it either way).
bool IsFree(Mutex& lock) {
  bool free = false;
  std::thread probe([&] {
    free = lock.TryLock();
    if (free) lock.Unlock();
  });
  probe.join();
  return free;
}

void CountUnlockedHostCall(FakeHostIo* f) {
  if (f->linkLock != nullptr && IsFree(*f->linkLock)) ++f->hostCallsWithoutLinkLock;
}

}  // namespace

int32_t FakeHostIo::HostFind(int32_t* ids, int32_t capacity) {
  FakeHostIo* f = Current();
  std::lock_guard<std::mutex> guard(f->lock);
  ++f->finds;
  CountUnlockedHostCall(f);
  const int32_t n = static_cast<int32_t>(f->listed.size());
  if (capacity == 0) {
    if (f->directFindFails || n == 0) return 0;
    ids[0] = f->listed[0];
    return n;
  }
  for (int32_t i = 0; i < n && i < capacity; ++i) ids[i] = f->listed[static_cast<size_t>(i)];
  return n;
}

int32_t FakeHostIo::HostConnect(int32_t id) {
  FakeHostIo* f = Current();
  std::lock_guard<std::mutex> guard(f->lock);
  ++f->connects;
  CountUnlockedHostCall(f);
  f->connectedIds.push_back(id);
  return f->connectResult;
}

int32_t FakeHostIo::HostDisconnect() {
  FakeHostIo* f = Current();
  std::lock_guard<std::mutex> guard(f->lock);
  ++f->disconnects;
  CountUnlockedHostCall(f);
  return f->disconnectResult;
}

int32_t FakeHostIo::HostNone() {
  return 0;
}

int32_t FakeHostIo::SioOpen(int32_t) {
  FakeHostIo* f = Current();
  std::lock_guard<std::mutex> guard(f->lock);
  ++f->opens;
  return f->openResult;
}

int32_t FakeHostIo::SioClose(int32_t) {
  FakeHostIo* f = Current();
  std::lock_guard<std::mutex> guard(f->lock);
  ++f->closes;
  // A closed channel forgets what the device had sent.
  if (f->closeResult >= 0) f->m_incoming.clear();
  return f->closeResult;
}

int32_t FakeHostIo::SioChannel(int32_t) {
  return 0;
}

int32_t FakeHostIo::SioWait(int32_t, int32_t) {
  FakeHostIo* f = Current();
  std::lock_guard<std::mutex> guard(f->lock);
  ++f->waits;
  if (f->waitResults.empty()) return f->waitDefault;
  const int32_t r = f->waitResults.front();
  f->waitResults.pop_front();
  return r;
}

int32_t FakeHostIo::SioRead(int32_t, void* destination, int32_t size, int32_t) {
  FakeHostIo* f = Current();
  std::lock_guard<std::mutex> guard(f->lock);
  ++f->reads;
  int32_t n = size;
  if (!f->readResults.empty()) {
    n = f->readResults.front();
    f->readResults.pop_front();
    if (n < 0) return n;
  }
  if (n > size) n = size;
  if (static_cast<size_t>(n) > f->m_incoming.size()) n = static_cast<int32_t>(f->m_incoming.size());
  auto* out = static_cast<uint8_t*>(destination);
  for (int32_t i = 0; i < n; ++i) {
    out[i] = f->m_incoming.front();
    f->m_incoming.pop_front();
  }
  return n;
}

int32_t FakeHostIo::SioWrite(int32_t, const void* source, int32_t size, int32_t) {
  FakeHostIo* f = Current();
  std::unique_lock<std::mutex> guard(f->lock);
  if (f->m_blockWrites) {
    ++f->m_blockedWriters;
    f->m_writeGate.notify_all();
    f->m_writeGate.wait(guard, [f] { return !f->m_blockWrites; });
    --f->m_blockedWriters;
  }
  int32_t n = size;
  if (!f->writeResults.empty()) {
    n = f->writeResults.front();
    f->writeResults.pop_front();
  }
  f->writeSizes.push_back(size);
  if (n > 0) {
    const auto* bytes = static_cast<const uint8_t*>(source);
    f->written.insert(f->written.end(), bytes, bytes + (n < size ? n : size));
  }
  return n;
}

int32_t FakeHostIo::SioReadable(int32_t, int32_t) {
  FakeHostIo* f = Current();
  std::lock_guard<std::mutex> guard(f->lock);
  if (f->readableError < 0) return f->readableError;
  int32_t n = static_cast<int32_t>(f->m_incoming.size());
  if (f->readableLimit >= 0 && n > f->readableLimit) n = f->readableLimit;
  return n;
}

int32_t FakeHostIo::SioWritable(int32_t, int32_t) {
  return 1 << 20;
}

int32_t FakeHostIo::SmemId(int32_t) {
  return -1;
}

int32_t FakeHostIo::SmemRead(int32_t, void*, int32_t) {
  return -1;
}

int32_t FakeHostIo::SmemWrite(int32_t, const void*, int32_t) {
  return -1;
}

int32_t FakeHostIo::GetDllType() {
  FakeHostIo* f = Current();
  std::lock_guard<std::mutex> guard(f->lock);
  return f->dllType;
}

void* FakeHostIo::GetRawDllData() {
  FakeHostIo* f = Current();
  std::lock_guard<std::mutex> guard(f->lock);
  if (!f->rawData) return nullptr;
  f->m_raw[hostio::RAW_WORD_BOX_HANDLE] = f->boxUsable ? static_cast<uintptr_t>(0xB0C5) : 0;
  f->m_raw[hostio::RAW_WORD_DOWNLOAD_PROGRAM] = reinterpret_cast<uintptr_t>(f->downloadProgram);
  return f->m_raw;
}

// --- FakeLinkSystem ------------------------------------------------------------

bool FakeLinkSystem::GetEnv(const char* name, std::string* value) {
  auto it = env.find(name);
  if (it == env.end()) {
    value->clear();
    return false;
  }
  *value = it->second;
  return true;
}

void FakeLinkSystem::SetEnv(const char* name, const char* value) {
  if (value == nullptr) {
    env.erase(name);
  } else {
    env[name] = value;
  }
}

std::string FakeLinkSystem::ExpandStartupText(const std::string& text) {
  std::string out;
  size_t from = 0;
  for (;;) {
    size_t open = text.find('%', from);
    size_t close = open == std::string::npos ? open : text.find('%', open + 1);
    if (close == std::string::npos) break;
    auto it = startupEnv.find(text.substr(open + 1, close - open - 1));
    out.append(text, from, open - from);
    out += it != startupEnv.end() ? it->second : text.substr(open, close - open + 1);
    from = close + 1;
  }
  return out + text.substr(from);
}

void* FakeLinkSystem::OpenLibrary(const char* path) {
  loadAttempts.push_back(path);
  // As the platform's: nothing but a full path loads.
  if (!IsFullPath(path)) return nullptr;
  auto it = libraries.find(path);
  if (it == libraries.end()) return nullptr;
  ++openLibraries;
  return &it->second;
}

void* FakeLinkSystem::FindSymbol(void* library, const char* name) {
  symbolLookups.push_back(name);
  auto* lib = static_cast<Library*>(library);
  auto it = lib->symbols.find(name);
  return it == lib->symbols.end() ? nullptr : it->second;
}

void FakeLinkSystem::CloseLibrary(void*) {
  --openLibraries;
}

bool FakeLinkSystem::IsReadable(const char* path) {
  return readableFiles.count(path) != 0;
}
