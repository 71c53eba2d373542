#include "app/IdleTick.h"

#include "resources/resource.h"
#include "support/Language.h"
#include "support/Log.h"

void IdleTick::Run() {
  ++m_ticks;
  if (m_ticks % LOG_TICKS == 0) Log("Idle ticks: %llu\n", static_cast<unsigned long long>(m_ticks));

  m_statusCounter = (m_statusCounter + 1) % STATUS_TICKS;
  if (m_statusCounter == 0) RedrawLevels();

  UpdateLinkText();
  // No debugger is chosen while the device link is down: the caption says so.
  m_view.UpdateCaption();
}

void IdleTick::RedrawLevels() {
  // No capture source is active: both lines show the "no level" text.
  std::string none = LoadResourceString(IDS_LEVEL_NONE);
  m_view.DrawLevels(none, none);
}

void IdleTick::UpdateLinkText() {
  std::string text = LoadResourceString(IDS_LINK_NONE);
  std::string shown;
  if (!m_view.GetLinkText(&shown)) return;
  if (shown != text) m_view.SetLinkText(text);
}
