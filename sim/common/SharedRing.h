// A ring of records in a file that two processes map: the stand-in's write
// lane puts its unanswered writes there, the simulator takes them. Putting a
// record is a copy, without a system call; the reader looks for records
// every few milliseconds. One writer and one reader; each position is only
// ever advanced by its own side.
//
//   header: magic, capacity, nonce (the reader's), ack (the writer's),
//           written, read (byte positions, counting on past the capacity),
//           granted (how many writes the writer may have put in all), and
//           the session that grant is for (both the reader's)
//   data:   records of a u32 length and that many bytes, wrapping around
//
// The reader renews the grant as it takes writes, so that a writer that
// keeps within it never waits for an answer, and stops renewing it when the
// writer must come and ask (the device stalls, a fault is due, the session
// ended).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class SharedRing {
 public:
  static constexpr uint32_t CAPACITY = 256u * 1024u;  // data bytes (a power of two)

  SharedRing() = default;
  SharedRing(const SharedRing&) = delete;
  SharedRing& operator=(const SharedRing&) = delete;
  ~SharedRing() { Close(); }

  // The reader's side: a new ring file at path (a name of this system's),
  // which carries nonce for the writer to check. Under Windows the file
  // goes when the reader closes the ring.
  bool Create(const std::string& path, uint32_t nonce);
  // The writer's side: the ring at path, when its nonce is nonce; then
  // acknowledges it with nonce + 1 for the reader to check.
  bool Open(const std::string& path, uint32_t nonce);
  void Close();
  bool Valid() const { return m_header != nullptr; }
  // The reader's check that the writer's side sees the same memory.
  bool Acknowledged() const;

  // Writer: one record of data holding writes writes; false when it does
  // not fit now.
  bool Put(const void* data, uint32_t size, uint32_t writes);
  // Writer: how many more writes the grant allows when the writer's
  // session is session (none for another).
  uint32_t Credit(uint32_t session) const;
  // Reader: the writer may have put granted writes in all, for session.
  void Grant(uint32_t granted, uint32_t session);
  // Reader: the next record, false when there is none (or the ring is
  // damaged: then it stays empty).
  bool Take(std::vector<uint8_t>* record);

 private:
  struct Header {
    uint32_t magic;
    uint32_t capacity;
    std::atomic<uint32_t> nonce;
    std::atomic<uint32_t> ack;
    std::atomic<uint32_t> written;
    std::atomic<uint32_t> read;
    std::atomic<uint32_t> granted;
    std::atomic<uint32_t> session;
  };
  static_assert(std::atomic<uint32_t>::is_always_lock_free, "positions are shared between processes");

  bool Map(const std::string& path, bool create);
  void CopyIn(uint32_t at, const void* source, uint32_t size);
  void CopyOut(uint32_t at, void* destination, uint32_t size) const;

  Header* m_header = nullptr;
  uint8_t* m_data = nullptr;
  void* m_view = nullptr;    // the mapped file
  intptr_t m_file = -1;      // Windows: the file and mapping handles; else the descriptor
  intptr_t m_mapping = -1;
  uint32_t m_writesPut = 0;  // the writer's, in this ring
};

// A path of the Unix file system as this process names it: under Wine, on
// the drive that holds the Unix root (Z:).
std::string LocalPath(const std::string& unixPath);

}  // namespace sim
