// One step of the program's idle pump: run by the message loop whenever the
// message queue is empty, about every 10 ms, on the main thread. It keeps the
// current capture source running, steps the device link, looks for a lost
// debugger, takes settings the device sends, and refreshes the main window's
// small status displays.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "capture/CaptureServices.h"
#include "capture/SoundCapture.h"
#include "link/PacketChannel.h"
#include "settings/SoundConfig.h"

class DebuggerWatch;
class DownloadStatus;

class CaptureChoice;

// What the level display says instead of the two levels.
enum class LevelNotice {
  NONE_ACTIVE,     // no source, or one stopped on request
  NO_DEVICE,       // the source has no device to record from
  DEVICE_GONE,     // the device went away
  FORMAT_REFUSED,  // the device refused every format asked of it
  START_FAILED,    // the source could not start for another reason
  DEFAULT_DEVICE,  // the chosen device has gone; the default one records
};

// What the link text says.
enum class LinkState {
  NONE,        // no debugger connected
  ACTIVE,      // the device program is attached
  WAITING,     // a lost debugger is looked for
  NO_LIBRARY,  // no host-I/O library: no debugger can be found
  NO_IMAGE,    // a debugger is connected, the device program was not there to load
};

// What the idle tick shows and asks of the main window. The tick decides
// what to say; the view words it.
class IdleView {
 public:
  virtual ~IdleView() = default;
  // The level display shows the two channels' levels, a notice of the
  // tick's, or the settings model's notice (as SoundConfig::TakeNotice hands
  // it out), each in the display's two lines.
  virtual void DrawLevels(int32_t left, int32_t right) = 0;
  virtual void DrawLevelNotice(LevelNotice notice) = 0;
  virtual void DrawSettingsNotice(ConfigNotice notice) = 0;
  // Writes the link text control (id 119); false when the window does not
  // have it.
  virtual bool SetLinkText(LinkState state) = 0;
  virtual void UpdateCaption() = 0;
  // The debugger lost earlier was connected again by the idle tick: the
  // program goes on as after connecting it at start-up (caption, download).
  virtual void OnDebuggerReturned() = 0;
};

class IdleTick {
 public:
  // Ticks between two redraws of the level display.
  static constexpr int STATUS_TICKS = 10;
  // Ticks between two "Idle ticks" log lines.
  static constexpr uint64_t LOG_TICKS = 3000;
  // A source that cannot start is tried again after 1 s, then after twice the
  // previous wait, up to 8 s; a start that succeeds, or a request of the
  // user's to the choice, ends the waiting.
  static constexpr uint64_t RETRY_FIRST_MS = 1000;
  static constexpr uint64_t RETRY_MAX_MS = 8000;
  // A lost debugger is looked for every 2 s, the first time 2 s after the
  // tick saw it awaited; a look that finds the link busy counts as one.
  static constexpr uint64_t SEARCH_MS = 2000;
  // Redraws of the level display (about 3 s) that say the source records
  // from the default device because the chosen one has gone.
  static constexpr int NOTICE_REDRAWS = 30;
  // Redraws (about 10 s) that say why the settings are the defaults (the
  // auto-save file could not be read), once, over anything else.
  static constexpr int SETTINGS_NOTICE_REDRAWS = 100;

  // link, debugger and download: the device link's parts; choice holds the
  // current source, which the main window may change between ticks; clock
  // times the retries; none of these is owned.
  IdleTick(IdleView& view, PacketPump& link, DebuggerWatch& debugger, const DownloadStatus& download,
           SoundConfig& config, CaptureChoice& choice, Clock& clock)
      : m_view(view),
        m_link(link),
        m_debugger(debugger),
        m_download(download),
        m_config(config),
        m_choice(choice),
        m_clock(clock) {}

  void Run();

  uint64_t GetTickCount() const { return m_ticks; }
  int GetStatusCounter() const { return m_statusCounter; }

 private:
  void KeepSourceRunning(SoundCapture* source);
  void RedrawLevels(const SoundCapture* source);
  void StepLink(const SoundCapture* source);
  void TakeDevicePacket();
  void SearchLostDebugger();
  void UpdateLinkText();

  IdleView& m_view;
  PacketPump& m_link;
  DebuggerWatch& m_debugger;
  const DownloadStatus& m_download;
  SoundConfig& m_config;
  CaptureChoice& m_choice;
  Clock& m_clock;
  // The last failed start: its source, the choice's request count then, the
  // wait before the next try (0: no failed start pending) and its end.
  const SoundCapture* m_failedSource = nullptr;
  uint32_t m_failedRequests = 0;
  uint64_t m_retryDelayMs = 0;
  uint64_t m_retryAtMs = 0;
  // The next look for a lost debugger (0: none is awaited).
  uint64_t m_searchAtMs = 0;
  int m_noticeRedraws = 0;        // redraws left that show the fallback notice
  ConfigNotice m_settingsNotice = ConfigNotice::NONE;  // the settings model's last notice
  int m_settingsNoticeRedraws = 0;
  int m_statusCounter = 0;
  uint64_t m_ticks = 0;
  // The link text as the tick last wrote it (none: not written yet).
  std::optional<LinkState> m_linkState;
};
