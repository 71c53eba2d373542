// The owner of the program's link to the companion program on the device;
// not a channel itself (the packet channel is PacketLink). It binds the
// host-I/O library (CKAVHostIO), builds the link's three parts, hands each
// user the part it needs and shuts them down in order:
//   PacketLink       the channel's state machine, packet framing and lock
//                    (the idle tick, the settings model and the capture
//                    sources, as a PacketChannel for the latter two);
//   DebuggerSession  finding, connecting and disconnecting the debugger
//                    (the main window's menu, the idle tick's search);
//   ProgramDownload  loading the device program, on its own thread (the main
//                    window).
//
// Threads: the main thread builds, binds and shuts down (Shutdown closes,
// disconnects and frees the library under the packet link's lock); the
// parts' own headers say which thread calls what. The packet link's and the
// session's channel and debugger calls (sio_*, host_*, the vendor's serial
// number) are made under the packet link's re-entrant lock. Made without it:
// getDllType and getRawDllData through DebuggerSession's IsBox, GetBox and
// GetDisplayName (main thread, and GetBox on the download thread), and the
// box interface's download on the download thread (ProgramDownload.h).
#pragma once

#include <cstdint>
#include <memory>

#include "link/DebuggerSession.h"
#include "link/PacketLink.h"
#include "link/ProgramDownload.h"

class CKAVHostIO;
class LinkSystem;

class DeviceLink {
 public:
  // Over the process's own environment and libraries.
  DeviceLink();
  // Over the given services (not owned; must outlive the link).
  explicit DeviceLink(LinkSystem& system);
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;
  // Runs Shutdown, waiting for a blocked write if need be.
  ~DeviceLink();

  // Searches and binds the host-I/O library over serial channel `channel`
  // and asks the packet link for DISCONNECTED. The application calls
  // Init(0) once.
  void Init(int32_t channel);
  // The same over a table the caller made (null: the searched one).
  void Init(int32_t channel, std::unique_ptr<CKAVHostIO> hostIo);

  // Shutdown gives up when a write has been blocked this long.
  static constexpr uint64_t SHUTDOWN_WAIT_MS = 100;

  // Closes and disconnects and frees the libraries; true when done. Does
  // nothing before Init or a second time. A capture worker blocked in a
  // write uses the library: when the write has been blocked SHUTDOWN_WAIT_MS,
  // nothing is closed or freed and the result is false (the caller must then
  // not free the link either, and may try again).
  bool Shutdown();

  // The parts; they live as long as the link.
  PacketLink& Link() { return m_link; }
  const PacketLink& Link() const { return m_link; }
  DebuggerSession& Session() { return m_session; }
  ProgramDownload& Download() { return m_download; }

  // The bound table (null before Init and after Shutdown), for tests.
  const CKAVHostIO* GetHostIo() const { return m_hostIo.get(); }

 private:
  std::unique_ptr<LinkSystem> m_ownSystem;  // the platform's, when none was given
  LinkSystem& m_system;                     // not owned
  std::unique_ptr<CKAVHostIO> m_hostIo;     // from Init to Shutdown
  PacketLink m_link;
  DebuggerSession m_session;
  ProgramDownload m_download;
};
