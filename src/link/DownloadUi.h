// What the program download needs of the user interface: the modal progress
// dialog of a box download, which the download reports to, and the start of
// the SDK's loader tool for the KMC debugger. The user interface knows the
// window that owns what it shows, and puts every text it shows in its own
// words. The Windows program hands the download a Win32DownloadUi
// (ui/DownloadDialog.h); tests hand it a fake.
//
// A box download goes: PrepareDownloadDialog (main thread), the download
// thread starts, RunDownloadDialog (main thread, modal) while the thread
// reports SetDownloadText and finally EndDownloadDialog. The thread may run
// ahead of the dialog: a text or the end that comes before the dialog is up
// is kept and shown (or ends it) when it comes up.
#pragma once

#include <string>

class DownloadUi {
 public:
  virtual ~DownloadUi() = default;

  // Main thread, before the download thread starts: forget the last
  // download's text and end.
  virtual void PrepareDownloadDialog() = 0;
  // Main thread: shows the download dialog and returns when the download
  // has ended it.
  virtual void RunDownloadDialog() = 0;

  // Download thread: the dialog's byte-count text.
  virtual void SetDownloadText(const char* text) = 0;
  // Download thread, when it is done: stops the dialog's clock and ends it.
  virtual void EndDownloadDialog() = 0;

  // Starts the loader tool with these parameters (working folder: the tool's
  // own, made absolute; minimised) without waiting for it. False when it
  // could not be started, with the system's code in *code.
  virtual bool StartLoader(const std::string& tool, const std::string& parameters, int* code) = 0;
  // Tells the user that the loader tool (its path as shown) could not be
  // started, with the system's code. The program goes on without the
  // download.
  virtual void ShowLoaderFailure(const std::string& tool, int code) = 0;
};
