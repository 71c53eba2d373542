// Downloading and starting a program image on the device: through the
// debugger box's interface on a thread of its own, with progress reported to
// the user interface's download dialog, or for the KMC debugger by starting
// the SDK's loader tool. Portable.
//
// Main thread, except the download thread, which calls the library's
// getRawDllData (DebuggerSession::GetBox) and the box interface's download,
// and the dialog's reports. It takes no lock (holding the packet link's lock
// for the whole download would hold up every audio write meanwhile) and
// leaves the channel's state alone. GoBox joins it before returning, so the
// library is never freed under it (DeviceLink::Shutdown runs on the main
// thread).
#pragma once

#include <cstdint>
#include <string>

#include "link/HostIo.h"
#include "platform/Thread.h"

class DebuggerSession;
class DownloadUi;
class LinkSystem;

// The download as the idle tick watches it (main thread).
class DownloadStatus {
 public:
  virtual ~DownloadStatus() = default;
  // The device program image was missing when it was last to be downloaded.
  virtual bool IsImageMissing() const = 0;
};

class ProgramDownload : public DownloadStatus {
 public:
  // session and system (not owned) outlive the download.
  ProgramDownload(DebuggerSession& session, LinkSystem& system);
  ProgramDownload(const ProgramDownload&) = delete;
  ProgramDownload& operator=(const ProgramDownload&) = delete;

  // The user interface (not owned); null: a box download runs without
  // dialog and the loader tool starts through CShell.
  void SetUi(DownloadUi* ui) { m_ui = ui; }

  // Downloads and starts a program image: through the box interface with the
  // modal download dialog (returns when the download has ended), or for the
  // KMC debugger with the SDK's loader tool. A loader tool that cannot be
  // started is logged and reported to the user interface; the program goes
  // on.
  void Go(const std::string& path);
  // Downloads "Quillon.bxa" from programFolder (empty: the program's own
  // folder) when autoLoad is non-zero and a debugger is connected. True when
  // a download was started.
  bool AutoLoad(uint32_t autoLoad, const std::string& programFolder);

  bool IsRunning() const { return m_thread.IsStarted(); }
  // The last image asked for could not be read (Quillon.bxa is not in the
  // program's folder); false again once one is found or the automatic
  // download is switched off. Main thread.
  bool IsImageMissing() const override { return m_imageMissing; }

  // The box interface's progress callback; context is the download.
  static int32_t HOSTIO_CALL Progress(void* context, uint64_t done, uint64_t total);

 private:
  void GoBox(const std::string& path);
  void GoLoader(const std::string& path);
  static void ThreadEntry(void* context);
  void RunThread();

  DebuggerSession& m_session;
  LinkSystem& m_system;
  DownloadUi* m_ui = nullptr;  // not owned
  std::string m_file;          // the image; set before the thread starts
  Thread m_thread;             // the download thread while it runs
  bool m_imageMissing = false;
};
