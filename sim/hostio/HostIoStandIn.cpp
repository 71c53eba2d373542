// Stand-in for the development kit's host-I/O library, built twice from this
// source: kav_hostio32 (KAVHIO_ exports, the maker's debugger box) and
// devhio_proxy (DEVHIO_ exports, the KMC debugger). Every call goes to
// quill-devsim over TCP (QUILLON_DEVSIM, default 127.0.0.1:47810); with no
// simulator host_find finds nothing and every other call fails at once.
// Test and demo equipment: never shipped with the program.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "../common/SharedRing.h"
#include "../common/SimClient.h"

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

// A connection of a caller's own (not pooled).
sim::Socket Connect(const std::string& address) {
  std::string host;
  uint16_t port = 0;
  if (!sim::ParseAddress(address, &host, &port)) return sim::Socket();
  return sim::Socket::Connect(host, port);
}

// How many bytes the device holds for the PC, kept current by a thread that
// asks the simulator to answer only when the count moves. A caller polling
// the channel (the program does on every tick) then finds "nothing to read"
// without a round trip to the simulator, as a library over a driver's buffer
// would. Only a zero is taken from here: a count or a failure is always asked
// directly, so a count that has just moved is never trusted.
class ReadableWatch {
 public:
  // True when the watch knows the channel holds nothing; starts
  // the watch on its first use.
  bool NothingToRead(int32_t channel) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_thread.joinable() && m_ended.load()) {
      // The simulator went away or restarted: watch again.
      m_thread.join();
      m_socket.Close();
    }
    if (!m_thread.joinable()) {
      m_channel = channel;
      m_token = NewToken();
      m_ended.store(false);
      m_stop.store(false);
      m_known.store(UNKNOWN);
      m_socket = Connect(sim::SimulatorAddress());
      if (!m_socket.Valid()) return false;
      m_thread = std::thread([this] { Run(); });
      return false;
    }
    return m_channel == channel && m_known.load() == 0;
  }

  // Ends the watch (channel closed, debugger disconnected); the next poll
  // starts it again.
  void Stop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_thread.joinable()) return;
    m_stop.store(true);
    // The simulator answers the watch at once; a socket shut down here does
    // not end a receive that another thread waits in under Wine.
    uint8_t token[4];
    sim::Request::Put(token, m_token);
    Client().Call(sim::OP_SIO_WATCH_END, kKind, 0, 0, 0, token, sizeof(token));
    m_socket.Shutdown();
    m_thread.join();
    m_socket.Close();
  }

 private:
  static constexpr int32_t UNKNOWN = -2;

  // Tokens tell this process's watches from another's at the simulator.
  static uint32_t NewToken() {
    static std::atomic<uint32_t> next{static_cast<uint32_t>(sim::NowMs() * 2654435761u) ^
                                      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&next))};
    return next.fetch_add(1);
  }

  void Run() {
    int32_t last = UNKNOWN;
    uint8_t token[4];
    sim::Request::Put(token, m_token);
    while (!m_stop.load()) {
      int32_t now = 0;
      if (!sim::SimClient::Exchange(m_socket, sim::OP_SIO_WATCH, kKind, s_connectedId.load(), m_channel, last, token,
                                    sizeof(token), &now, nullptr)) {
        break;  // the simulator went away, or Stop
      }
      m_known.store(now);
      last = now;
    }
    m_known.store(UNKNOWN);
    m_ended.store(true);
  }

  std::mutex m_mutex;  // guards starting and stopping
  std::thread m_thread;
  sim::Socket m_socket;  // the watch's own connection; the thread's while it runs
  int32_t m_channel = 0;
  uint32_t m_token = 0;  // of the watch running
  std::atomic<bool> m_stop{false};
  std::atomic<int32_t> m_known{UNKNOWN};
  std::atomic<bool> m_ended{false};  // Run has returned
};

// Never destroyed: the program disconnects before it unloads the library,
// which ends the watch; a watch still running when the process ends must
// not meet its own destruction. In the library's own storage, so that an
// unloaded library leaves no allocation behind.
ReadableWatch& Watch() {
  alignas(ReadableWatch) static unsigned char storage[sizeof(ReadableWatch)];
  static ReadableWatch* watch = new (storage) ReadableWatch;
  return *watch;
}

// The channel's writes, all on one connection of their own so that they
// reach the simulator in the order they were made. The answer to a write
// grants how many of the next writes may go without waiting for an answer
// (none while the device stalls, none past a short write that is due), and
// names the session of the channel they go to, as a library over a driver's
// buffer takes writes. Those go through a ring that the simulator shares
// (a copy into memory, no system call), where the simulator renews the
// grant as it takes them, or, without a ring, one send each. A packet's
// header that announces a payload waits for the payload's write, which
// follows at once, and goes with it. A posted write counts as taken whole;
// when its session ends before it arrives it is lost, as in a broken link,
// and the next answered write fails, so that the writer learns of it.
class WriteLane {
 public:
  int32_t Write(int32_t channel, const void* source, int32_t size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string address = sim::SimulatorAddress();
    const int32_t id = s_connectedId.load();
    if (address != m_address || id != m_id || channel != m_channel) {
      SendHeld();
      EndConnection();
      m_address = address;
      m_id = id;
      m_channel = channel;
      m_posts = 0;
      m_posted = false;
    }
    const uint32_t length = static_cast<uint32_t>(size);
    const uint32_t credit = Credit();
    if (m_held || credit > 0) {
      if (!m_held && credit > 1 && AnnouncesPayload(source, size)) {
        m_held = true;
        memcpy(m_heldHeader, source, sizeof(m_heldHeader));
        return size;
      }
      std::vector<uint8_t> message;
      const uint32_t writes = m_held ? 2 : 1;
      if (m_held) FramePost(&message, id, channel, m_heldHeader, sizeof(m_heldHeader));
      m_held = false;
      FramePost(&message, id, channel, source, length);
      if (SendPosts(message, writes)) {
        m_posted = true;
        m_written += writes;
        return size;
      }
      // The answered writes below tell what became of the channel; a held
      // header goes again before its payload.
      EndConnection();
      m_posts = 0;
      if (writes > 1 && Answered(address, id, channel, m_heldHeader, sizeof(m_heldHeader)) != sim::PACKET_HEADER_SIZE) {
        return -1;
      }
    }
    m_posts = 0;
    return Answered(address, id, channel, source, length);
  }

  // Before the channel closes: sends a held header, grants nothing more,
  // and tells the close how many writes went to which session (8 bytes for
  // the request), so that the simulator takes the posted ones before it
  // closes. The connection ends after what it carries (the next write opens
  // another). A writer blocked in its write is not waited for: its write
  // ends with the channel.
  void Closing(uint8_t* written) {
    std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
    if (lock.owns_lock()) SendHeld();
    const bool known = lock.owns_lock() && m_socket.Valid();
    sim::Request::Put(written, known ? m_session : 0);
    sim::Request::Put(written + 4, known ? m_written : 0);
    if (!lock.owns_lock()) return;
    EndConnection();
    m_posts = 0;
    m_posted = false;
  }

 private:
  static bool AnnouncesPayload(const void* source, int32_t size) {
    if (size != static_cast<int32_t>(sim::PACKET_HEADER_SIZE)) return false;
    const uint8_t* header = static_cast<const uint8_t*>(source);
    const uint32_t payload = sim::Request::Get(header + 12);
    return sim::Request::Get(header) == sim::PACKET_MAGIC && payload > 0 && payload <= sim::MAX_PAYLOAD;
  }

  // A write that waits for the simulator's answer, which grants the next
  // posts.
  int32_t Answered(const std::string& address, int32_t id, int32_t channel, const void* source, uint32_t length) {
    const int32_t session = m_posted ? static_cast<int32_t>(m_session) : 0;
    m_posted = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
      // A kept connection may belong to a simulator that has ended: one
      // more try on a fresh connection.
      const bool fresh = !m_socket.Valid();
      if (fresh) m_socket = Connect(address);
      if (!m_socket.Valid()) break;
      int32_t result = 0;
      std::vector<uint8_t> out;
      if (sim::SimClient::Exchange(m_socket, sim::OP_SIO_WRITE, kKind, id, channel, session, source, length, &result,
                                   &out)) {
        const uint32_t now = out.size() >= 8 ? sim::Request::Get(out.data() + 4) : 0;
        if (now != m_session) m_written = 0;
        m_session = now;
        if (result >= 0) ++m_written;
        m_posts = out.size() >= 8 ? std::min(sim::Request::Get(out.data()), sim::POST_MAX) : 0;
        if (m_posts > 0 && !m_ringAsked) StartRing(id, channel);
        return result;
      }
      EndConnection();
      if (fresh) break;
    }
    return -1;
  }

  void FramePost(std::vector<uint8_t>* message, int32_t id, int32_t channel, const void* source, uint32_t length) {
    sim::SimClient::Frame(message, sim::OP_SIO_POST, kKind, id, channel, static_cast<int32_t>(m_session), source,
                          length);
  }

  // How many more writes may go without an answer: the ring's grant, which
  // the simulator renews as it takes them, or what the last answer granted.
  uint32_t Credit() const { return m_ring.Valid() ? m_ring.Credit(m_session) : m_posts; }

  // Posted writes go through the ring when there is one and it has room,
  // else over the connection (whose next request the simulator takes after
  // what the ring holds).
  bool SendPosts(const std::vector<uint8_t>& message, uint32_t writes) {
    m_posts -= std::min(m_posts, writes);
    const uint32_t size = static_cast<uint32_t>(message.size());
    if (m_ring.Valid() && m_ring.Put(message.data(), size, writes)) return true;
    return m_socket.SendAll(message.data(), message.size());
  }

  // Asks the simulator for a ring for this connection's posted writes: a
  // store into memory that the simulator maps too, where a send costs a
  // system call (under Wine also two requests to its server). Without one
  // the writes go over the connection.
  void StartRing(int32_t id, int32_t channel) {
    m_ringAsked = true;
    int32_t nonce = 0;
    std::vector<uint8_t> path;
    if (!sim::SimClient::Exchange(m_socket, sim::OP_SIO_RING, kKind, id, channel, 0, nullptr, 0, &nonce, &path)) {
      EndConnection();
      m_posts = 0;
      return;
    }
    if (nonce <= 0 || path.empty()) return;
    m_ring.Open(sim::LocalPath(std::string(path.begin(), path.end())), static_cast<uint32_t>(nonce));
    int32_t ready = 0;
    if (!sim::SimClient::Exchange(m_socket, sim::OP_SIO_RING_READY, kKind, id, channel, 0, nullptr, 0, &ready,
                                  nullptr)) {
      EndConnection();
      m_posts = 0;
      return;
    }
    if (ready != 1) m_ring.Close();
  }

  // The connection ends, and its ring with it.
  void EndConnection() {
    m_socket.Close();
    m_ring.Close();
    m_ringAsked = false;
  }

  // Sends a held header on its own (its payload's write did not follow).
  void SendHeld() {
    if (!m_held) return;
    m_held = false;
    std::vector<uint8_t> message;
    FramePost(&message, m_id, m_channel, m_heldHeader, sizeof(m_heldHeader));
    if (SendPosts(message, 1)) {
      m_posted = true;
      ++m_written;
    }
  }

  std::mutex m_mutex;  // one write at a time: the connection's order is the writes' order
  sim::Socket m_socket;
  std::string m_address;  // of the connection
  int32_t m_id = 0;       // the debugger and channel written to
  int32_t m_channel = 0;
  uint32_t m_posts = 0;    // writes that may still go without an answer
  uint32_t m_session = 0;  // the channel's session that the writes went to
  uint32_t m_written = 0;  // writes sent to that session (answered or posted)
  bool m_posted = false;   // writes were posted since the last answer
  sim::SharedRing m_ring;   // the connection's posted writes, when the simulator gave one
  bool m_ringAsked = false;  // for this connection
  bool m_held = false;    // a packet's header waits for its payload's write
  uint8_t m_heldHeader[sim::PACKET_HEADER_SIZE] = {};
};

// Never destroyed, for the same reasons as the watch.
WriteLane& Lane() {
  alignas(WriteLane) static unsigned char storage[sizeof(WriteLane)];
  static WriteLane* lane = new (storage) WriteLane;
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
  return Lane().Write(channel, source, size);
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
