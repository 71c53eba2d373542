// The program's link to the companion program on the device, as the rest of
// the program calls it: the host-I/O library it binds, and three parts that
// it joins:
//   PacketLink       the channel's state machine, packet framing and lock;
//   DebuggerSession  finding, connecting and disconnecting the debugger;
//   ProgramDownload  loading the device program, on its own thread.
//
// Threads: the main thread (Update, Read, settings writes, connect and
// download), capture workers (audio Write) and the download thread (box
// interface only). Every library call is made under the link's re-entrant
// lock; the state is read by any thread without it. The main thread's
// Update, Read and settings records never wait behind a worker's write (see
// PacketLink).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/DebuggerSession.h"
#include "link/PacketChannel.h"
#include "link/PacketLink.h"
#include "link/ProgramDownload.h"

class CKAVHostIO;
class DownloadUi;
class LinkSystem;

class SerialChannel : public PacketChannel {
 public:
  // Over the process's own environment and libraries.
  SerialChannel();
  // Over the given services (not owned; must outlive the channel).
  explicit SerialChannel(LinkSystem& system);
  SerialChannel(const SerialChannel&) = delete;
  SerialChannel& operator=(const SerialChannel&) = delete;
  // Runs Shutdown, waiting for a blocked write if need be.
  ~SerialChannel() override;

  // Searches and binds the host-I/O library and sets the state
  // DISCONNECTED. The application calls Init(0) once.
  void Init(int32_t channel);
  // The same over a table the caller made (takes ownership of hostIo).
  void Init(int32_t channel, CKAVHostIO* hostIo);
  // The user interface of program downloads (not owned); null: a box
  // download runs without dialog and the loader tool starts through CShell.
  void SetDownloadUi(DownloadUi* ui) { m_download.SetUi(ui); }

  // --- The packet link ---------------------------------------------------------
  void Update() { m_link.Update(); }
  std::unique_ptr<uint8_t[]> Read(uint32_t& type, uint32_t& size) { return m_link.Read(type, size); }
  bool Write(uint32_t type, const void* data, int32_t size) override { return m_link.Write(type, data, size); }
  bool OpenSio() { return m_link.OpenSio(); }
  bool WaitSio() { return m_link.WaitSio(); }
  // Closes the channel (the next Update opens it again); also the main
  // window's reset button. Does nothing while DISCONNECTED. Never waits for
  // a worker's write: the worker closes once its write has returned.
  void CloseSio() { m_link.RequestClose(); }
  Status GetStatus() const override { return m_link.GetStatus(); }
  uint64_t GetDroppedAudioBlocks() const override { return m_link.GetDroppedAudioBlocks(); }
  bool IsWriteInProgress() const { return m_link.IsWriteInProgress(); }
  uint64_t GetWriteBlockedMs() const { return m_link.GetWriteBlockedMs(); }
  bool IsWriteStuck() const { return m_link.IsWriteStuck(); }
  uint32_t GetConnectionCount() const { return m_link.GetConnectionCount(); }

  // Shutdown gives up when a write has been blocked this long.
  static constexpr uint64_t SHUTDOWN_WAIT_MS = 100;

  // Closes and disconnects and frees the libraries; true when done. Does
  // nothing before Init or a second time. A capture worker blocked in a
  // write uses the library: when the write has been blocked SHUTDOWN_WAIT_MS,
  // nothing is closed or freed and the result is false (the caller must then
  // not free the channel either, and may try again).
  bool Shutdown();

  // --- The debugger session ----------------------------------------------------
  bool ConnectFirst(bool resultIfNone) { return m_session.ConnectFirst(resultIfNone); }
  bool Reconnect(bool& listedOnly) { return m_session.Reconnect(listedOnly); }
  void Disconnect() { m_session.Disconnect(); }
  void DisconnectIfNotFound() { m_session.DisconnectIfNotFound(); }
  bool IsDebuggerListed() { return m_session.IsDebuggerListed(); }
  bool IsAwaitingDebugger() const { return m_session.IsAwaitingDebugger(); }
  bool ConnectLost() { return m_session.ConnectLost(); }
  void UpdateSerial() { m_session.UpdateSerial(); }
  std::string GetDisplayName() { return m_session.GetDisplayName(); }
  uint32_t GetDebuggerId() const { return m_session.GetDebuggerId(); }
  std::string GetSerial() const { return m_session.GetSerial(); }

  // --- The program download ----------------------------------------------------
  void DownloadGo(const std::string& path, void* instance, void* parent) { m_download.Go(path, instance, parent); }
  bool AutoLoadBxa(uint32_t autoLoad, const std::string& programFolder, void* instance, void* parent) {
    return m_download.AutoLoad(autoLoad, programFolder, instance, parent);
  }
  bool IsDownloadRunning() const { return m_download.IsRunning(); }
  bool IsProgramImageMissing() const { return m_download.IsImageMissing(); }
  // A host-I/O library was found and has at least one entry point; without
  // one no debugger can ever be connected.
  bool HasHostIoLibrary() const;

  // --- Read-only views for tests ---------------------------------------------------
  int32_t GetChannel() const { return m_link.GetChannel(); }
  const CKAVHostIO* GetHostIo() const { return m_hostIo.get(); }
  PacketLink& GetLink() { return m_link; }

 private:
  std::unique_ptr<LinkSystem> m_ownSystem;  // the platform's, when none was given
  LinkSystem& m_system;                     // not owned
  std::unique_ptr<CKAVHostIO> m_hostIo;     // from Init to Shutdown
  PacketLink m_link;
  DebuggerSession m_session;
  ProgramDownload m_download;
};
