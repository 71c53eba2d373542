// An in-process stand-in for the host-I/O library: 22 C entry points that
// forward to the one FakeHostIo object alive, with scripted results and a
// byte queue for each direction. Also a fake LinkSystem (environment,
// libraries, readable files) for the library search and the KMC paths.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "link/HostIo.h"
#include "link/KAVHostIO.h"
#include "link/LinkSystem.h"
#include "link/PacketHeader.h"
#include "platform/Mutex.h"

class CKAVHostIO;

class FakeHostIo {
 public:
  FakeHostIo();
  ~FakeHostIo();
  FakeHostIo(const FakeHostIo&) = delete;
  FakeHostIo& operator=(const FakeHostIo&) = delete;

  // All 22 slots, bound to this fake.
  HostIoFunctions Table() const;
  // A CKAVHostIO over Table() (owned by the caller, usually a DeviceLink).
  std::unique_ptr<CKAVHostIO> MakeHostIo(LinkSystem& system) const;
  std::unique_ptr<CKAVHostIO> MakeHostIo(LinkSystem& system, const HostIoFunctions& table) const;

  // --- What the device side puts on the wire ---
  void PushBytes(const void* data, size_t size);
  void PushHeader(uint32_t magic, uint32_t reserved, uint32_t type, int32_t size);
  void PushPacket(uint32_t type, const std::vector<uint8_t>& payload);
  size_t PendingBytes();
  // Drops what the device has sent and the PC not read (a new attach).
  void ClearIncoming();

  // --- Script (set before use; guarded by the fake's lock) ---
  std::vector<int32_t> listed;   // what host_find lists
  bool directFindFails = false;  // host_find(&id, 0) finds nothing although listed
  int32_t connectResult = 0;
  int32_t disconnectResult = 0;
  int32_t dllType = hostio::DLL_TYPE_BOX;
  int32_t openResult = 0;
  int32_t closeResult = 0;
  std::deque<int32_t> waitResults;  // sio_wait results in turn; then waitDefault
  int32_t waitDefault = 1;
  int32_t readableError = 0;         // < 0: sio_getReadableBytes fails with it
  int32_t readableLimit = -1;        // >= 0: at most this many bytes readable
  std::deque<int32_t> readResults;   // scripted sio_read results (bytes taken, or < 0)
  std::deque<int32_t> writeResults;  // scripted sio_write results; then all taken
  bool rawData = true;               // getRawDllData hands out the record
  bool boxUsable = true;             // box handle non-null
  hostio::DownloadProgramFn downloadProgram = nullptr;

  // --- What the PC did ---
  std::vector<uint8_t> written;
  std::vector<int32_t> writeSizes;
  int opens = 0, closes = 0, waits = 0, reads = 0, finds = 0, connects = 0, disconnects = 0;
  std::vector<int32_t> connectedIds;
  // When linkLock is set (the link's lock, not owned): host_find,
  // host_connect and host_disconnect calls made while no thread held it.
  Mutex* linkLock = nullptr;
  int hostCallsWithoutLinkLock = 0;

  std::mutex lock;

  // A device that stops reading: from BlockWrites on, sio_write waits
  // inside the library until ReleaseWrites. WaitForBlockedWrite returns once
  // a writer waits there (false after a minute without one).
  void BlockWrites();
  bool WaitForBlockedWrite();
  void ReleaseWrites();

  // The whole-packet view of what was written: (type, payload) in order;
  // false when the bytes are not a clean run of packets.
  bool ParseWritten(std::vector<std::pair<uint32_t, std::vector<uint8_t>>>* packets);

  static FakeHostIo* Current();

  // The entry points (C calling convention on 32-bit Windows).
  static int32_t HOSTIO_CALL HostFind(int32_t* ids, int32_t capacity);
  static int32_t HOSTIO_CALL HostConnect(int32_t id);
  static int32_t HOSTIO_CALL HostDisconnect();
  static int32_t HOSTIO_CALL HostNone();
  static int32_t HOSTIO_CALL SioOpen(int32_t channel);
  static int32_t HOSTIO_CALL SioClose(int32_t channel);
  static int32_t HOSTIO_CALL SioChannel(int32_t channel);
  static int32_t HOSTIO_CALL SioWait(int32_t channel, int32_t block);
  static int32_t HOSTIO_CALL SioRead(int32_t channel, void* destination, int32_t size, int32_t block);
  static int32_t HOSTIO_CALL SioWrite(int32_t channel, const void* source, int32_t size, int32_t block);
  static int32_t HOSTIO_CALL SioReadable(int32_t channel, int32_t flags);
  static int32_t HOSTIO_CALL SioWritable(int32_t channel, int32_t flags);
  static int32_t HOSTIO_CALL SmemId(int32_t id);
  static int32_t HOSTIO_CALL SmemRead(int32_t id, void* destination, int32_t size);
  static int32_t HOSTIO_CALL SmemWrite(int32_t id, const void* source, int32_t size);
  static int32_t HOSTIO_CALL GetDllType();
  static void* HOSTIO_CALL GetRawDllData();

 private:
  std::deque<uint8_t> m_incoming;
  uintptr_t m_raw[24] = {};
  std::condition_variable m_writeGate;
  bool m_blockWrites = false;
  int m_blockedWriters = 0;
};

// Environment, libraries and files of a pretend process. Its full paths
// start with "/" in every build; the program's folder is "/program" and the
// system folder "/system".
class FakeLinkSystem : public LinkSystem {
 public:
  struct Library {
    std::map<std::string, void*> symbols;
  };

  bool GetEnv(const char* name, std::string* value) override;
  void SetEnv(const char* name, const char* value) override;
  std::string ExpandStartupText(const std::string& text) override;
  void* OpenLibrary(const char* path) override;
  void* FindSymbol(void* library, const char* name) override;
  void CloseLibrary(void* library) override;
  bool IsReadable(const char* path) override;
  bool IsFullPath(const char* path) override { return path != nullptr && path[0] == '/'; }
  std::string ProgramFolder() override { return programFolder; }
  std::string SystemFolder() override { return systemFolder; }

  std::string programFolder = "/program";
  std::string systemFolder = "/system";
  std::map<std::string, std::string> env;         // the environment now
  std::map<std::string, std::string> startupEnv;  // as the process received it
  std::map<std::string, Library> libraries;       // loadable, by full path
  std::set<std::string> readableFiles;
  std::vector<std::string> loadAttempts;
  std::vector<std::string> symbolLookups;
  int openLibraries = 0;
};
