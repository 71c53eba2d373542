// Stand-in for the development kit's host-I/O library, built twice from this
// folder: kav_hostio32 (KAVHIO_ exports, the maker's debugger box) and
// devhio_proxy (DEVHIO_ exports, the KMC debugger). This file holds the
// exports; the channel's readable count and its writes have files of their
// own (ReadableWatch, WriteLane). Every call goes to quill-devsim over TCP
// (QUILLON_DEVSIM, default 127.0.0.1:47810); with no simulator host_find
// finds nothing and every other call fails at once.
// Test and demo equipment: never shipped with the program.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "../common/SimClient.h"
#include "ReadableWatch.h"
#include "WriteLane.h"

#if defined(_WIN32)
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif
#if defined(_WIN32) && !defined(_WIN64)
#define STANDIN_CALL __cdecl
#else
#define STANDIN_CALL
#endif

#if defined(STANDIN_BOX)
#define STANDIN_PREFIX KAVHIO_
static const uint32_t kKind = sim::KIND_BOX;
static const int32_t kDllType = 1;
#else
#define STANDIN_PREFIX DEVHIO_
static const uint32_t kKind = sim::KIND_KMC;
static const int32_t kDllType = 2;
#endif
#define STANDIN_CAT2(a, b) a##b
#define STANDIN_CAT(a, b) STANDIN_CAT2(a, b)
#define ENTRY(name) STANDIN_CAT(STANDIN_PREFIX, name)

// The exports, declared once (the definitions follow below).
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(host_find)(int32_t* ids, int32_t capacity);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(host_connect)(int32_t id);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(host_disconnect)();
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(host_getconnectid)();
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(host_getversion)();
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_open)(int32_t channel);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_close)(int32_t channel);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_wait)(int32_t channel, int32_t);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_connect)(int32_t channel);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_disconnect)(int32_t channel);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_flush)(int32_t);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_read)(int32_t channel, void* destination, int32_t size, int32_t);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_write)(int32_t channel, const void* source, int32_t size, int32_t);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_getReadableBytes)(int32_t channel, int32_t);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_getWritableBytes)(int32_t, int32_t);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(smem_open)(int32_t);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(smem_close)(int32_t);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(smem_getsize)(int32_t);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(smem_read)(int32_t, void*, int32_t);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(smem_write)(int32_t, const void*, int32_t);
STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(getDllType)();
STANDIN_EXPORT void* STANDIN_CALL ENTRY(getRawDllData)();

namespace {

sim::SimClient& Client() {
  static sim::SimClient client;  // closes its connections when the library is unloaded
  return client;
}

std::atomic<int32_t> s_connectedId{0};

int32_t Call(uint32_t op, int32_t arg0 = 0, int32_t arg1 = 0, const void* payload = nullptr, uint32_t length = 0,
             std::vector<uint8_t>* out = nullptr) {
  const int32_t r = Client().Call(op, kKind, s_connectedId.load(), arg0, arg1, payload, length, out);
  return r == sim::RESULT_NO_SIMULATOR ? -1 : r;
}

// Never destroyed: the program disconnects before it unloads the library,
// which ends the watch; a watch still running when the process ends must
// not meet its own destruction. In the library's own storage, so that an
// unloaded library leaves no allocation behind.
sim::ReadableWatch& Watch() {
  alignas(sim::ReadableWatch) static unsigned char storage[sizeof(sim::ReadableWatch)];
  static sim::ReadableWatch* watch = new (storage) sim::ReadableWatch(kKind, s_connectedId, Client());
  return *watch;
}

// Never destroyed, for the same reasons as the watch.
sim::WriteLane& Lane() {
  alignas(sim::WriteLane) static unsigned char storage[sizeof(sim::WriteLane)];
  static sim::WriteLane* lane = new (storage) sim::WriteLane(kKind);
  return *lane;
}

// Closes the channel (close and disconnect alike) after the posted writes.
int32_t CloseAfterWrites(uint32_t op, int32_t channel) {
  Watch().Stop();
  uint8_t written[8];
  Lane().Closing(written);
  return Call(op, channel, 0, written, sizeof(written));
}

using ProgressFn = int32_t(STANDIN_CALL*)(void* context, uint64_t done, uint64_t total);

constexpr uint32_t kChunk = 16 * 1024;
constexpr long kImageMax = 64L << 20;

// The box interface's download: sends the image to the simulated box in
// chunks, reporting progress after each, and starts it.
int32_t STANDIN_CALL DownloadProgram(void* boxHandle, const char* path, ProgressFn progress, void* context) {
  if (boxHandle == nullptr || path == nullptr) return 0;
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return 0;
  std::vector<uint8_t> image;
  if (fseek(file, 0, SEEK_END) == 0) {
    const long size = ftell(file);
    if (size >= 0 && size <= kImageMax && fseek(file, 0, SEEK_SET) == 0) {
      image.resize(static_cast<size_t>(size));
      if (size > 0 && fread(image.data(), 1, image.size(), file) != image.size()) image.clear();
    }
  }
  fclose(file);
  if (image.empty()) return 0;

  sim::SimClient::Session session(Client());
  const int32_t total = static_cast<int32_t>(image.size());
  if (session.Call(sim::OP_IMAGE_BEGIN, kKind, s_connectedId.load(), total, 0, nullptr, 0) < 0) return 0;
  if (progress != nullptr && progress(context, 0, image.size()) != 1) return 0;
  for (size_t done = 0; done < image.size();) {
    const uint32_t n = static_cast<uint32_t>(image.size() - done < kChunk ? image.size() - done : kChunk);
    if (session.Call(sim::OP_IMAGE_DATA, kKind, s_connectedId.load(), 0, 0, &image[done], n) < 0) return 0;
    done += n;
    if (progress != nullptr && progress(context, done, image.size()) != 1) return 0;
  }
  return session.Call(sim::OP_IMAGE_END, kKind, s_connectedId.load(), 0, 0, nullptr, 0) > 0 ? 1 : 0;
}

// The box interface record: pointer-sized words; the program reads word 2
// (box handle, non-null while the box is usable) and word 16 (download).
uintptr_t s_raw[24];
int s_boxToken;

}  // namespace

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(host_find)(int32_t* ids, int32_t capacity) {
  std::vector<uint8_t> out;
  const int32_t n = Client().Call(sim::OP_FIND, kKind, 0, capacity, 0, nullptr, 0, &out);
  if (n <= 0) return 0;
  const size_t room = capacity <= 0 ? 1 : static_cast<size_t>(capacity);
  for (size_t i = 0; i < room && (i + 1) * 4 <= out.size(); ++i) {
    memcpy(&ids[i], &out[i * 4], 4);
  }
  return n;
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(host_connect)(int32_t id) {
  const int32_t r = Client().Call(sim::OP_CONNECT, kKind, id, 0, 0, nullptr, 0);
  if (r == sim::RESULT_NO_SIMULATOR) return -1;
  if (r >= 0) s_connectedId.store(id);
  return r;
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(host_disconnect)() {
  const int32_t r = CloseAfterWrites(sim::OP_DISCONNECT, 0);
  s_connectedId.store(0);
  return r;
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(host_getconnectid)() {
  return s_connectedId.load();
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(host_getversion)() {
  return 0x00010000;
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_open)(int32_t channel) {
  uint8_t unused[8];
  Lane().Closing(unused);  // a new session: its first write is answered
  return Call(sim::OP_SIO_OPEN, channel);
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_close)(int32_t channel) {
  return CloseAfterWrites(sim::OP_SIO_CLOSE, channel);
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_wait)(int32_t channel, int32_t) {
  return Call(sim::OP_SIO_WAIT, channel);
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_connect)(int32_t channel) {
  return Call(sim::OP_SIO_WAIT, channel);
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_disconnect)(int32_t channel) {
  return CloseAfterWrites(sim::OP_SIO_CLOSE, channel);
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_flush)(int32_t) {
  return 0;
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_read)(int32_t channel, void* destination, int32_t size, int32_t) {
  if (size < 0 || (size > 0 && destination == nullptr) || static_cast<uint32_t>(size) > sim::MAX_PAYLOAD) return -1;
  std::vector<uint8_t> out;
  const int32_t r = Call(sim::OP_SIO_READ, channel, size, nullptr, 0, &out);
  if (r < 0) return r;
  const size_t n = out.size() < static_cast<size_t>(size) ? out.size() : static_cast<size_t>(size);
  if (n > 0) memcpy(destination, out.data(), n);
  return static_cast<int32_t>(n);
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_write)(int32_t channel, const void* source, int32_t size, int32_t) {
  if (size < 0 || (size > 0 && source == nullptr) || static_cast<uint32_t>(size) > sim::MAX_PAYLOAD) return -1;
  return Lane().Write(s_connectedId.load(), channel, source, size);
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_getReadableBytes)(int32_t channel, int32_t) {
  if (Watch().NothingToRead(channel)) return 0;
  return Call(sim::OP_SIO_READABLE, channel);
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(sio_getWritableBytes)(int32_t, int32_t) {
  return 1 << 16;
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(smem_open)(int32_t) {
  return -1;
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(smem_close)(int32_t) {
  return -1;
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(smem_getsize)(int32_t) {
  return -1;
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(smem_read)(int32_t, void*, int32_t) {
  return -1;
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(smem_write)(int32_t, const void*, int32_t) {
  return -1;
}

STANDIN_EXPORT int32_t STANDIN_CALL ENTRY(getDllType)() {
  return kDllType;
}

STANDIN_EXPORT void* STANDIN_CALL ENTRY(getRawDllData)() {
  if (kKind != sim::KIND_BOX) return nullptr;
  const bool usable = s_connectedId.load() != 0 && Call(sim::OP_BOX_USABLE) > 0;
  s_raw[2] = usable ? reinterpret_cast<uintptr_t>(&s_boxToken) : 0;
  s_raw[16] = reinterpret_cast<uintptr_t>(&DownloadProgram);
  return s_raw;
}
