// The program's link to the companion program on the device: one serial
// channel (sio) of the host-I/O library, the connection state machine that
// opens it and waits for the device program, the packet framing, and finding,
// connecting and loading the device.
//
// Threads: the main thread (Update, Read, settings writes, connect and
// download), capture workers (audio Write) and the download thread (box
// interface only). Every channel operation holds the channel's re-entrant
// lock for its whole run; the state is read by any thread without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "link/HostIo.h"
#include "link/PacketChannel.h"
#include "link/PacketHeader.h"
#include "platform/Mutex.h"

class CKAVHostIO;
class DownloadUi;
class LinkSystem;
class Thread;

class SerialChannel : public PacketChannel {
 public:
  // Over the process's own environment and libraries.
  SerialChannel();
  // Over the given services (not owned; must outlive the channel).
  explicit SerialChannel(LinkSystem& system);
  SerialChannel(const SerialChannel&) = delete;
  SerialChannel& operator=(const SerialChannel&) = delete;
  // Runs Shutdown.
  ~SerialChannel() override;

  // Searches and binds the host-I/O library and sets the
  // state DISCONNECTED. The application calls Init(0) once.
  void Init(int32_t channel);
  // The same over a table the caller made (takes ownership of hostIo).
  void Init(int32_t channel, CKAVHostIO* hostIo);
  // The user interface of program downloads (not owned); null: a box
  // download runs without dialog and the loader tool starts through CShell.
  void SetDownloadUi(DownloadUi* ui) { m_downloadUi = ui; }

  // One step of the state machine (every idle tick): CLOSE opens, OPEN
  // waits for the device program, CLOSE_ERROR closes again; one call can go
  // from CLOSE to CONNECTED.
  void Update();

  // The payload of one complete packet from the device, or null. type and
  // size are NO_PACKET and 0 when nothing was read; a packet without payload
  // gives its type, size 0 and null. Never blocks on data: an incomplete
  // header or payload stays in the library until it is whole.
  std::unique_ptr<uint8_t[]> Read(uint32_t& type, uint32_t& size);
  // Sends the 16-byte header and the payload. False on failure, with the
  // channel closed (it re-opens on the next Update).
  bool Write(uint32_t type, const void* data, int32_t size) override;

  bool OpenSio();
  bool WaitSio();
  // Closes the channel (the next Update opens it again); also the main
  // window's reset button. Does nothing while DISCONNECTED.
  void CloseSio();

  // Closes and disconnects and frees the libraries. Does nothing
  // before Init or a second time.
  void Shutdown();

  Status GetStatus() const override { return m_status.load(std::memory_order_relaxed); }

  // --- Finding and connecting the debugger ---------------------------------

  // Connects the first debugger found (main window creation, resultIfNone
  // true). No debugger: resultIfNone. A debugger that refuses: false.
  bool ConnectFirst(bool resultIfNone);
  // The File menu's Connect. listedOnly is set when the direct lookup found
  // nothing but the listing still holds debuggers; the caller then skips the
  // automatic download, and shows no error on false.
  bool Reconnect(bool& listedOnly);
  // The File menu's Disconnect.
  void Disconnect();
  // After a library failure: drops the debugger when it is no longer listed.
  void DisconnectIfNotFound();
  bool IsDebuggerListed();
  // Recomputes the serial-number text of the connected debugger.
  void UpdateSerial();
  // The debugger's name for the window caption ("Not connected" while
  // DISCONNECTED). Main thread.
  std::string GetDisplayName();

  // --- Program download ------------------------------------------------------

  // Downloads and starts a program image: through the box interface with the
  // modal download dialog, or for the KMC debugger with the SDK's loader tool.
  // instance and parent: the program's module and the owner window.
  void DownloadGo(const std::string& path, void* instance, void* parent);
  // Downloads "Quillon.bxa" from programFolder (with its trailing separator;
  // empty: the program's own folder) when autoLoad is non-zero and a
  // debugger is connected. True when a download was started.
  bool AutoLoadBxa(uint32_t autoLoad, const std::string& programFolder, void* instance, void* parent);
  // The download dialog's start (its WM_INITDIALOG): starts the download
  // thread. False when the thread cannot be made; the dialog then ends.
  bool BeginDownload(void* dialog);
  // The box interface's progress callback; context is the channel.
  static int32_t HOSTIO_CALL DownloadProgress(void* context, uint64_t done, uint64_t total);

  // --- Read-only views for the main window and tests -------------------------
  uint32_t GetDebuggerId() const { return m_debuggerId.load(std::memory_order_relaxed); }
  std::string GetSerial() const;
  int32_t GetChannel() const { return m_channel; }
  const CKAVHostIO* GetHostIo() const { return m_hostIo; }
  bool IsDownloadRunning() const { return m_downloadGo.m_hThread != nullptr; }

 private:
  void SetStatus(Status status) { m_status.store(status, std::memory_order_relaxed); }
  // The slots, or a table of nulls before Init and after Shutdown.
  const HostIoFunctions& Fn() const;
  void SetSerial(const std::string& serial);
  bool IsBox();
  // host_find(address of the id, 0) > 0: a debugger is there and its id stored.
  bool FindOne();
  // host_find over the 16-entry list, or -1 without the slot.
  int32_t FindList(int32_t* ids);
  bool ConnectFound();
  void ClearPendingHeader();
  static void DownloadThreadEntry(void* context);
  void RunDownloadThread();

  LinkSystem* m_system;                     // not owned
  std::unique_ptr<LinkSystem> m_ownSystem;  // the platform's, when none was given
  DownloadUi* m_downloadUi = nullptr;       // not owned

  mutable Mutex m_lock;            // every channel operation holds it
  CKAVHostIO* m_hostIo = nullptr;  // owned; from Init to Shutdown
  // Written under the channel's lock, also by a capture worker whose failed
  // write drops a vanished debugger; read by the caption without it.
  std::atomic<uint32_t> m_debuggerId{0};
  mutable Mutex m_serialMutex;  // guards m_serial only; never held across a library call
  std::string m_serial;
  int32_t m_channel = 0;
  std::atomic<Status> m_status{Status::DISCONNECTED};
  void* m_loadrun = nullptr;  // owned library handle; loaded on first need
  struct DownloadGoState {
    std::string m_file;
    void* m_hWnd = nullptr;       // the dialog while it runs
    Thread* m_hThread = nullptr;  // owned; the download thread while it runs
  } m_downloadGo;
  PacketHeader m_header = {PacketHeader::MAGIC, 0, NO_PACKET, 0};
};
