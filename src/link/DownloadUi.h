// What the program download needs of the user interface: the modal progress
// dialog of a box download and the start of the SDK's loader tool for the KMC
// debugger. The Windows program hands the serial channel a Win32DownloadUi
// (DownloadDialog.h); tests hand it a fake.
#pragma once

#include <string>

class SerialChannel;

class DownloadUi {
 public:
  virtual ~DownloadUi() = default;

  // Shows the download dialog owned by parent and returns when it has ended.
  // When the dialog comes up it calls channel.BeginDownload(dialog), which
  // starts the download thread; when BeginDownload fails the dialog ends at
  // once. instance and parent are the program's module and window handles.
  virtual void RunDownloadDialog(SerialChannel& channel, void* instance, void* parent) = 0;

  // Called by the download thread. Sets the dialog's byte-count text.
  virtual void SetDownloadText(void* dialog, const char* text) = 0;
  // Called by the download thread when it is done: stops the dialog's clock
  // and ends the dialog.
  virtual void EndDownloadDialog(void* dialog) = 0;

  // Starts the loader tool with these parameters (working folder: the tool's
  // own, made absolute; owner: parent; minimised) without waiting for it.
  virtual void StartLoader(const std::string& tool, const std::string& parameters, void* parent) = 0;
};
