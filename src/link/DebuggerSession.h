// The debugger session: finding the development kit's debugger through the
// host-I/O library, connecting and disconnecting it, dropping one that is no
// longer listed after a library failure, looking for a dropped debugger
// until it is listed again, and its serial number (the KMC vendor's library
// for the KMC debugger). Portable.
//
// Main thread, except that a capture worker whose write failed may drop a
// vanished debugger (through the packet link's failure report), and that the
// download thread calls GetBox. Every operation that calls host_* or the
// vendor's library holds the packet link's lock; the search for a dropped
// debugger (ConnectLost) only takes it when it is free. IsBox, GetBox and
// GetDisplayName call getDllType and getRawDllData without it, so that the
// caption never waits behind a capture worker's blocked write.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "link/HostIo.h"
#include "link/PacketLink.h"
#include "platform/Mutex.h"

class CKAVHostIO;
class LinkSystem;

// The debugger session as the idle tick watches it (main thread).
class DebuggerWatch {
 public:
  virtual ~DebuggerWatch() = default;
  // A debugger lost without the user asking is looked for.
  virtual bool IsAwaitingDebugger() const = 0;
  // One look for it, which never waits for the link; true when it connected.
  virtual bool ConnectLost() = 0;
  // The host-I/O library was found (without it no debugger is ever found).
  virtual bool HasLibrary() const = 0;
};

class DebuggerSession : public LinkFailureHandler, public DebuggerWatch {
 public:
  // link and system (not owned) outlive the session.
  DebuggerSession(PacketLink& link, LinkSystem& system);
  DebuggerSession(const DebuggerSession&) = delete;
  DebuggerSession& operator=(const DebuggerSession&) = delete;

  // The library table (not owned; null: every slot its stand-in).
  void Bind(const CKAVHostIO* hostIo);
  // Disconnects, frees the vendor's library and forgets the debugger; the
  // table is unbound.
  void Shutdown();

  // Connects the first debugger found (main window creation, resultIfNone
  // true). No debugger: resultIfNone. A debugger that refuses: false.
  bool ConnectFirst(bool resultIfNone);
  // The File menu's Connect. listedOnly is set when the direct lookup found
  // nothing but the listing still holds debuggers; the caller then skips the
  // automatic download, and shows no error on false.
  bool Reconnect(bool& listedOnly);
  // The File menu's Disconnect; also ends the search for a dropped debugger,
  // one that its own failed close dropped included.
  void Disconnect();
  // After a library failure: drops the debugger when it is no longer listed,
  // and from then on waits for that debugger (see ConnectLost).
  void DisconnectIfNotFound();
  // A debugger dropped without the user asking is awaited until it is
  // connected again, the user disconnects, or the session shuts down.
  bool IsAwaitingDebugger() const override { return m_awaitedId.load(std::memory_order_relaxed) != 0; }
  // One look for the awaited debugger: connects it (CLOSED_PENDING_OPEN, as
  // ConnectFirst does) when the listing holds its id again. Another debugger
  // listed in its place is not taken. Never waits: false at once while
  // another thread holds the link's lock (a capture worker in a blocked
  // write). True when it connected.
  bool ConnectLost() override;
  void OnLinkFailure() override { DisconnectIfNotFound(); }
  // The connected debugger is among the first 16 listed; under the link's
  // lock.
  bool IsDebuggerListed();
  // Recomputes the serial-number text of the connected debugger.
  void UpdateSerial();
  // The debugger's name for the window caption; empty while DISCONNECTED
  // (the user interface says so in its own words). Without the link's lock.
  std::string GetDisplayName();

  // A host-I/O library is bound and has at least one entry point; without
  // one no debugger can ever be connected.
  bool HasLibrary() const override;
  // The library is the debugger box's (not the KMC proxy). Calls getDllType
  // without the link's lock.
  bool IsBox() const;
  // The box handle and its downloadProgram, when the library hands out a
  // usable box; false otherwise. Calls getRawDllData without the link's lock
  // (the download thread calls it too).
  bool GetBox(void** box, hostio::DownloadProgramFn* download) const;

  PacketChannel::Status GetStatus() const { return m_link.GetStatus(); }
  uint32_t GetDebuggerId() const { return m_debuggerId.load(std::memory_order_relaxed); }
  std::string GetSerial() const;

 private:
  void SetSerial(const std::string& serial);
  // host_find(address of the id, 0) > 0: a debugger is there and its id stored.
  bool FindOne();
  // host_find over the 16-entry list (the stand-in's -1 without the entry).
  int32_t FindList(int32_t* ids);
  // id is among the first 16 debuggers listed.
  bool IsListed(uint32_t id);
  bool ConnectFound();

  PacketLink& m_link;
  LinkSystem& m_system;
  const CKAVHostIO* m_hostIo = nullptr;  // not owned
  // Written under the link's lock, also by a capture worker whose failed
  // write drops a vanished debugger; read by the caption without it.
  std::atomic<uint32_t> m_debuggerId{0};
  // The debugger dropped without the user asking, while it is awaited; 0
  // otherwise. Written under the link's lock (by a worker too), read without.
  std::atomic<uint32_t> m_awaitedId{0};
  mutable Mutex m_serialMutex;  // guards m_serial only; never held across a library call
  std::string m_serial;
  void* m_loadrun = nullptr;  // owned library handle; loaded on first need
};
