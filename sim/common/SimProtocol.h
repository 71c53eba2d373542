// The wire between the stand-in libraries and quill-devsim: one request and
// one response at a time on a TCP connection (OP_SIO_POST has no response),
// little-endian. Writes without an answer may also go through a shared ring.
//
//   request:  magic 'QSIM', op, kind, id, arg0, arg1, payload length, payload
//   response: result, payload length, payload
//
// kind says which library asks: the box library (kav_hostio32) or the KMC
// proxy (devhio_proxy, loadrun_kav, kav_loadrun32). Blocking operations
// (sio read and write) answer when done, so every thread of a stand-in uses
// a connection of its own.
#pragma once

#include <cstdint>
#include <cstring>

namespace sim {

constexpr uint32_t PROTOCOL_MAGIC = 0x4D495351u;  // "QSIM"
constexpr uint32_t MAX_PAYLOAD = 4u << 20;        // bytes, either way

enum Kind : uint32_t { KIND_BOX = 1, KIND_KMC = 2 };

enum Op : uint32_t {
  OP_FIND = 1,          // arg0 = capacity; result = count, payload = ids (i32)
  OP_CONNECT = 2,       // id
  OP_DISCONNECT = 3,    // id
  OP_SIO_OPEN = 4,      // id, arg0 = channel
  OP_SIO_CLOSE = 5,     // id, arg0 = channel
  OP_SIO_WAIT = 6,      // id, arg0 = channel; > 0 attached
  OP_SIO_READ = 7,      // id, arg0 = channel, arg1 = size; payload back
  // id, arg0 = channel, arg1 = the session of the writes posted since the
  // last answer (0: none), payload; result = bytes taken (-1 also when that
  // session has ended), payload back = how many writes that follow on this
  // connection may go as OP_SIO_POST and the channel's session (u32 each)
  OP_SIO_WRITE = 8,
  OP_SIO_READABLE = 9,  // id, arg0 = channel
  OP_BOX_USABLE = 10,   // id; 1 when the box is usable
  OP_IMAGE_BEGIN = 11,  // id (box) or payload = serial (KMC); arg0 = size
  OP_IMAGE_DATA = 12,   // payload = the next bytes
  OP_IMAGE_END = 13,    // result 1: recognised and started
  OP_SERIAL = 14,       // id; payload back = serial text
  // id, arg0 = channel, arg1 = the count last seen, payload = the watch's
  // token (u32): answers OP_SIO_READABLE's count once it differs from arg1,
  // once the token is ended, or after WATCH_MS with it unchanged.
  OP_SIO_WATCH = 15,
  OP_SIO_WATCH_END = 16,  // payload = a watch's token: its watches answer at once
  // A write granted by the last OP_SIO_WRITE's answer, arg1 = its session:
  // taken whole, or lost when that session has ended; no answer.
  OP_SIO_POST = 17,
  // The writes granted on this connection may also go through a ring in a
  // shared file (SharedRing): result = its nonce (> 0) or -1, payload back
  // = its Unix path. The connection's requests come after what the ring
  // holds when they are sent.
  OP_SIO_RING = 18,
  OP_SIO_RING_READY = 19,  // after the writer opened the ring: 1 when it is used
};

constexpr unsigned WATCH_MS = 500;
// Writes granted at most after one answered write: what a stalled device
// lets through before the PC's writer blocks (a serial channel's buffer).
constexpr uint32_t POST_MAX = 8;

constexpr int32_t RESULT_NO_SIMULATOR = -1000;  // transport failure (client side)

struct Request {
  uint32_t magic = PROTOCOL_MAGIC;
  uint32_t op = 0;
  uint32_t kind = 0;
  int32_t id = 0;
  int32_t arg0 = 0;
  int32_t arg1 = 0;
  uint32_t length = 0;

  static constexpr size_t SIZE = 28;
  void Encode(uint8_t* out) const {
    const uint32_t v[7] = {
        magic, op, kind, static_cast<uint32_t>(id), static_cast<uint32_t>(arg0), static_cast<uint32_t>(arg1), length};
    for (int i = 0; i < 7; ++i) Put(out + 4 * i, v[i]);
  }
  static Request Decode(const uint8_t* in) {
    Request r;
    r.magic = Get(in);
    r.op = Get(in + 4);
    r.kind = Get(in + 8);
    r.id = static_cast<int32_t>(Get(in + 12));
    r.arg0 = static_cast<int32_t>(Get(in + 16));
    r.arg1 = static_cast<int32_t>(Get(in + 20));
    r.length = Get(in + 24);
    return r;
  }

  static void Put(uint8_t* out, uint32_t v) {
    out[0] = static_cast<uint8_t>(v);
    out[1] = static_cast<uint8_t>(v >> 8);
    out[2] = static_cast<uint8_t>(v >> 16);
    out[3] = static_cast<uint8_t>(v >> 24);
  }
  static uint32_t Get(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
           static_cast<uint32_t>(in[3]) << 24;
  }
};

struct Response {
  int32_t result = 0;
  uint32_t length = 0;

  static constexpr size_t SIZE = 8;
  void Encode(uint8_t* out) const {
    Request::Put(out, static_cast<uint32_t>(result));
    Request::Put(out + 4, length);
  }
  static Response Decode(const uint8_t* in) {
    Response r;
    r.result = static_cast<int32_t>(Request::Get(in));
    r.length = Request::Get(in + 4);
    return r;
  }
};

}  // namespace sim
