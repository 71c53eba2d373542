#include "SharedRing.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstring>

namespace sim {

namespace {

constexpr uint32_t RING_MAGIC = 0x474E5251u;  // "QRNG"
constexpr uint32_t HEADER_BYTES = 64;
constexpr uint32_t FILE_BYTES = HEADER_BYTES + SharedRing::CAPACITY;
static_assert((SharedRing::CAPACITY & (SharedRing::CAPACITY - 1)) == 0, "positions wrap at 2^32");

}  // namespace

std::string LocalPath(const std::string& unixPath) {
#ifdef _WIN32
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
#else
  return unixPath;
#endif
}

bool SharedRing::Map(const std::string& path, bool create) {
  Close();
#ifdef _WIN32
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            create ? CREATE_ALWAYS : OPEN_EXISTING,
                            create ? FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE : FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  m_file = reinterpret_cast<intptr_t>(file);
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return Close(), false;
  if (!create && size.QuadPart != FILE_BYTES) return Close(), false;
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, FILE_BYTES, nullptr);
  if (mapping == nullptr) return Close(), false;
  m_mapping = reinterpret_cast<intptr_t>(mapping);
  m_view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, FILE_BYTES);
#else
  const int fd = open(path.c_str(), create ? (O_RDWR | O_CREAT | O_TRUNC) : O_RDWR, 0600);
  if (fd < 0) return false;
  m_file = fd;
  if (create && ftruncate(fd, FILE_BYTES) != 0) return Close(), false;
  if (!create && lseek(fd, 0, SEEK_END) != static_cast<off_t>(FILE_BYTES)) return Close(), false;
  void* view = mmap(nullptr, FILE_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  m_view = view == MAP_FAILED ? nullptr : view;
#endif
  if (m_view == nullptr) return Close(), false;
  m_header = static_cast<Header*>(m_view);
  m_data = static_cast<uint8_t*>(m_view) + HEADER_BYTES;
  return true;
}

bool SharedRing::Create(const std::string& path, uint32_t nonce) {
  if (!Map(path, true)) return false;
  m_header->magic = RING_MAGIC;
  m_header->capacity = CAPACITY;
  m_header->written.store(0);
  m_header->read.store(0);
  m_header->ack.store(0);
  m_header->granted.store(0);
  m_header->session.store(0);
  m_header->nonce.store(nonce);
  return true;
}

bool SharedRing::Open(const std::string& path, uint32_t nonce) {
  if (!Map(path, false)) return false;
  if (m_header->magic != RING_MAGIC || m_header->capacity != CAPACITY || m_header->nonce.load() != nonce) {
    Close();
    return false;
  }
  m_writesPut = 0;
  m_header->ack.store(nonce + 1);
  return true;
}

bool SharedRing::Acknowledged() const {
  return Valid() && m_header->ack.load() == m_header->nonce.load() + 1;
}

void SharedRing::Close() {
#ifdef _WIN32
  if (m_view != nullptr) UnmapViewOfFile(m_view);
  if (m_mapping != -1) CloseHandle(reinterpret_cast<HANDLE>(m_mapping));
  if (m_file != -1) CloseHandle(reinterpret_cast<HANDLE>(m_file));
#else
  if (m_view != nullptr) munmap(m_view, FILE_BYTES);
  if (m_file != -1) close(static_cast<int>(m_file));
#endif
  m_view = nullptr;
  m_mapping = -1;
  m_file = -1;
  m_header = nullptr;
  m_data = nullptr;
}

void SharedRing::CopyIn(uint32_t at, const void* source, uint32_t size) {
  const uint32_t offset = at & (CAPACITY - 1);
  const uint32_t first = size < CAPACITY - offset ? size : CAPACITY - offset;
  memcpy(m_data + offset, source, first);
  if (size > first) memcpy(m_data, static_cast<const uint8_t*>(source) + first, size - first);
}

void SharedRing::CopyOut(uint32_t at, void* destination, uint32_t size) const {
  const uint32_t offset = at & (CAPACITY - 1);
  const uint32_t first = size < CAPACITY - offset ? size : CAPACITY - offset;
  memcpy(destination, m_data + offset, first);
  if (size > first) memcpy(static_cast<uint8_t*>(destination) + first, m_data, size - first);
}

bool SharedRing::Put(const void* data, uint32_t size, uint32_t writes) {
  if (!Valid() || size > CAPACITY - 4) return false;
  const uint32_t written = m_header->written.load(std::memory_order_relaxed);
  const uint32_t read = m_header->read.load(std::memory_order_acquire);
  if (size > CAPACITY - 4 - (written - read)) return false;
  uint8_t prefix[4];
  for (int i = 0; i < 4; ++i) prefix[i] = static_cast<uint8_t>(size >> (8 * i));
  CopyIn(written, prefix, 4);
  if (size > 0) CopyIn(written + 4, data, size);
  m_header->written.store(written + 4 + size, std::memory_order_release);
  m_writesPut += writes;
  return true;
}

uint32_t SharedRing::Credit(uint32_t session) const {
  if (!Valid() || m_header->session.load(std::memory_order_acquire) != session) return 0;
  const auto credit = static_cast<int32_t>(m_header->granted.load(std::memory_order_acquire) - m_writesPut);
  return credit > 0 ? static_cast<uint32_t>(credit) : 0;
}

void SharedRing::Grant(uint32_t granted, uint32_t session) {
  if (!Valid()) return;
  m_header->session.store(session, std::memory_order_release);
  m_header->granted.store(granted, std::memory_order_release);
}

bool SharedRing::Take(std::vector<uint8_t>* record) {
  if (!Valid()) return false;
  const uint32_t read = m_header->read.load(std::memory_order_relaxed);
  const uint32_t written = m_header->written.load(std::memory_order_acquire);
  const uint32_t held = written - read;
  if (held == 0) return false;
  uint8_t prefix[4] = {};
  uint32_t length = 0;
  if (held >= 4) {
    CopyOut(read, prefix, 4);
    for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(prefix[i]) << (8 * i);
  }
  if (held < 4 || held > CAPACITY || length > held - 4) {
    // Not what a writer puts: drop everything held.
    m_header->read.store(written, std::memory_order_release);
    return false;
  }
  record->resize(length);
  if (length > 0) CopyOut(read + 4, record->data(), length);
  m_header->read.store(read + 4 + length, std::memory_order_release);
  return true;
}

}  // namespace sim
