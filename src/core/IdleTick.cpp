#include "core/IdleTick.h"

#include <algorithm>

#include "core/CaptureChoice.h"
#include "link/DebuggerSession.h"
#include "link/ProgramDownload.h"
#include "settings/SoundConfig.h"
#include "support/Log.h"

using Status = PacketChannel::Status;

void IdleTick::Run() {
  ++m_ticks;
  if (m_ticks % LOG_TICKS == 0) Log("Idle ticks: %llu\n", static_cast<unsigned long long>(m_ticks));

  SoundCapture* source = m_choice.GetCurrent();
  if (source != nullptr) KeepSourceRunning(source);

  m_statusCounter = (m_statusCounter + 1) % STATUS_TICKS;
  if (m_statusCounter == 0) RedrawLevels(source);

  SearchLostDebugger();
  StepLink(source);
  if (m_link.GetStatus() == Status::CONNECTED) TakeDevicePacket();

  UpdateLinkText();
  // No debugger is chosen while the device link is down: the caption says so.
  if (m_link.GetStatus() == Status::DISCONNECTED) m_view.UpdateCaption();
}

// A source that stopped (its worker ended, or the device, rate or format
// changed) is restarted here at once; one that cannot start is tried again
// with a growing wait, so that a missing device is not enumerated every tick.
void IdleTick::KeepSourceRunning(SoundCapture* source) {
  const bool ended = source->IsEnded();
  source->Poll();
  if (source->IsActive()) return;
  const uint64_t now = m_clock.NowMs();
  const uint32_t requests = m_choice.GetRestartRequests();
  const bool waiting = m_retryDelayMs != 0 && source == m_failedSource && requests == m_failedRequests;
  if (waiting && now < m_retryAtMs) return;
  const int32_t rate = m_config.GetSamplingRate();
  const auto format = static_cast<int32_t>(m_config.GetWaveFormat());
  // A start after the worker ended, or another try after a failed one.
  if (ended || waiting) source->CountRestart();
  if (!source->Start(m_choice.GetSelectedDevice(), rate, format)) {
    m_retryDelayMs = waiting ? std::min(m_retryDelayMs * 2, RETRY_MAX_MS) : RETRY_FIRST_MS;
    m_retryAtMs = now + m_retryDelayMs;
    m_failedSource = source;
    m_failedRequests = requests;
    return;
  }
  m_retryDelayMs = 0;
  m_failedSource = nullptr;
  if (source->TakeFallbackNotice()) m_noticeRedraws = NOTICE_REDRAWS;
  // The device learns of the new stream (its rate and format) at once.
  if (m_link.GetStatus() == Status::CONNECTED) {
    m_config.NewStreamToken();
    m_config.SendToDevice();
  }
}

namespace {
// What the level display says of why a source has no stream.
LevelNotice FailureNotice(CaptureFailure failure) {
  switch (failure) {
    case CaptureFailure::NO_DEVICE:
      return LevelNotice::NO_DEVICE;
    case CaptureFailure::DEVICE_GONE:
      return LevelNotice::DEVICE_GONE;
    case CaptureFailure::FORMAT_REFUSED:
      return LevelNotice::FORMAT_REFUSED;
    case CaptureFailure::START_FAILED:
      return LevelNotice::START_FAILED;
    case CaptureFailure::NONE:
      break;
  }
  return LevelNotice::NONE_ACTIVE;
}
}  // namespace

void IdleTick::RedrawLevels(const SoundCapture* source) {
  const ConfigNotice notice = m_config.TakeNotice();
  if (notice != ConfigNotice::NONE) {
    m_settingsNotice = notice;
    m_settingsNoticeRedraws = SETTINGS_NOTICE_REDRAWS;
  }
  if (m_settingsNoticeRedraws > 0) {
    --m_settingsNoticeRedraws;
    m_view.DrawSettingsNotice(m_settingsNotice);
  } else if (source == nullptr || !source->IsActive()) {
    m_view.DrawLevelNotice(source != nullptr ? FailureNotice(source->GetFailure()) : LevelNotice::NONE_ACTIVE);
  } else if (m_noticeRedraws > 0) {
    --m_noticeRedraws;
    m_view.DrawLevelNotice(LevelNotice::DEFAULT_DEVICE);
  } else {
    m_view.DrawLevels(source->GetLevel(0), source->GetLevel(1));
  }
}

void IdleTick::StepLink(const SoundCapture* source) {
  const uint32_t before = m_link.GetConnectionCount();
  m_link.Update();
  if (m_link.GetConnectionCount() == before || m_link.GetStatus() != Status::CONNECTED) return;
  // A new link: the stream gets a new token; the record goes out now if a
  // stream runs, else when the source next starts.
  m_config.NewStreamToken();
  if (source != nullptr && source->IsActive()) m_config.SendToDevice();
}

// The look itself never waits for the link's lock (a worker may hold it in a
// blocked write); a look that finds it busy waits for the next one.
void IdleTick::SearchLostDebugger() {
  if (m_link.GetStatus() != Status::DISCONNECTED || !m_debugger.IsAwaitingDebugger()) {
    m_searchAtMs = 0;
    return;
  }
  const uint64_t now = m_clock.NowMs();
  if (m_searchAtMs == 0) {
    m_searchAtMs = now + SEARCH_MS;
    return;
  }
  if (now < m_searchAtMs) return;
  m_searchAtMs = now + SEARCH_MS;
  if (!m_debugger.ConnectLost()) return;
  m_searchAtMs = 0;
  m_view.OnDebuggerReturned();
}

// At most one packet a tick; only settings records are taken, the rest dropped.
void IdleTick::TakeDevicePacket() {
  uint32_t type = PacketChannel::NO_PACKET;
  uint32_t size = 0;
  std::unique_ptr<uint8_t[]> payload = m_link.Read(type, size);
  if (payload == nullptr || type != PacketChannel::CONFIG) return;
  Log("IdleTick: a settings record from the device\n");
  if (size > 0) m_config.ApplyReceived(payload.get(), static_cast<int32_t>(size));
}

void IdleTick::UpdateLinkText() {
  const Status status = m_link.GetStatus();
  LinkState state = LinkState::NONE;
  if (status == Status::CONNECTED) {
    state = LinkState::ACTIVE;
  } else if (status == Status::DISCONNECTED && m_debugger.IsAwaitingDebugger()) {
    state = LinkState::WAITING;
  } else if (!m_debugger.HasLibrary()) {
    state = LinkState::NO_LIBRARY;
  } else if (status != Status::DISCONNECTED && m_download.IsImageMissing()) {
    // A debugger is connected, but the device program was not there to load.
    state = LinkState::NO_IMAGE;
  }
  // The control keeps what the tick wrote: it is compared with that, not
  // read back.
  if (state != m_linkState && m_view.SetLinkText(state)) m_linkState = state;
}
