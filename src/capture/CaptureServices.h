// What capture sources need of their surroundings besides the packet channel
// and a clock (support/Clock.h): a way to tell the user about a file that cannot
// be played, and the names of the entries that are not devices of their own.
// The application hands in the real ones; tests hand in fakes.
#pragma once

#include <cstdint>
#include <string>

#include "support/Clock.h"

// What a source has to tell the user; the UI turns each into its text.
enum class CaptureMessage : int32_t {
  NOT_SUPPORTED_FORMAT = 0,  // a dropped file that cannot be played
  WAVE_FILE_TOO_LARGE = 1,   // a dropped file too large to play
  WAVE_FILE_BUSY = 2,        // the previous file's worker has not ended yet
};
// "NOT_SUPPORTED_FORMAT" ... (for the log).
const char* CaptureMessageName(CaptureMessage message);

// The user's error messages, as the UI shows them (a modal message box
// owned by the program's window). Main thread.
class MessageBoxSink {
 public:
  virtual ~MessageBoxSink() = default;
  virtual void ShowError(CaptureMessage message) = 0;
};

// Writes the message's name to the log (for programs without windows).
class LogMessageBox : public MessageBoxSink {
 public:
  void ShowError(CaptureMessage message) override;
};

// The names of the entries a source lists that are not devices of their own,
// in the user's language: the program hands in those of its string table;
// the English ones are the default.
struct CaptureTexts {
  std::string fixedDevice = "Fixed Device";       // the system's default device
  std::string dropWaveFile = "Drop a Wave File";  // the wave-file source without a file
};
