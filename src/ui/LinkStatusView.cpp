#include "ui/LinkStatusView.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "resources/resource.h"
#include "support/Language.h"

void LinkStatusView::CreateControls(HFONT font) {
  m_font = font;
  auto addLabel = [&](int id, uint32_t text, int x, int y, DWORD extraStyle) {
    auto label = std::make_unique<CWCStatic>();
    label->SetStyle(label->GetStyle() | extraStyle);
    CWCStatic* added = m_window.AddAt(std::move(label), id, Scaled(x), Scaled(y), Scaled(50), Scaled(14), font);
    added->SetText(LoadResourceString(text));
  };
  addLabel(ID_LEFT_LABEL, IDS_LEFT, 174, 30, 0);
  addLabel(ID_RIGHT_LABEL, IDS_RIGHT, 174, 50, 0);
  addLabel(ID_HIO_LABEL, IDS_HIO, HIO_X, HIO_Y, 0);
  addLabel(ID_LINK_TEXT, IDS_LINK_NONE, LINK_TEXT_X, HIO_Y, SS_RIGHT);
  if (m_linkState != LinkState::NONE) SetLinkText(m_linkState);
}

void LinkStatusView::OnDebuggerReturned() {
  UpdateCaption();
  if (onDebuggerReturned) onDebuggerReturned();
}

// Set only when it changes; compared with what was set last, not read back.
void LinkStatusView::UpdateCaption() {
  HWND hwnd = m_window.GetHwnd();
  if (hwnd == nullptr) return;
  std::string name;
  if (!debuggerName || !debuggerName(&name)) name = LoadResourceString(IDS_NOT_CONNECTED);
  char caption[CAPTION_MAX + 1] = {};
  snprintf(caption, sizeof(caption), "%s - %s", name.c_str(), LoadResourceString(IDS_APP_NAME).c_str());
  if (m_caption != caption && SetWindowTextA(hwnd, caption)) m_caption = caption;
}

void LinkStatusView::DrawLevels(int32_t left, int32_t right) {
  ShowLevels(std::to_string(left), std::to_string(right));
}

void LinkStatusView::DrawLevelNotice(LevelNotice notice) {
  const StatusTexts::Lines& lines = m_texts.Notice(notice);
  ShowLevels(lines.first, lines.second);
}

void LinkStatusView::DrawSettingsNotice(ConfigNotice notice) {
  const StatusTexts::Lines& lines = m_texts.Notice(notice);
  ShowLevels(lines.first, lines.second);
}

void LinkStatusView::ShowLevels(const std::string& left, const std::string& right) {
  HWND hwnd = m_window.GetHwnd();
  if (hwnd != nullptr) {
    m_levels.Show(hwnd, m_font, Scaled(LEVELS_X), Scaled(LEVELS_Y), m_dpi, left.c_str(), right.c_str());
  }
}

bool LinkStatusView::GetLinkText(std::string* text) {
  if (m_window.GetHwnd() == nullptr) return false;
  auto* control = static_cast<CWCStatic*>(m_window.FindControl(ID_LINK_TEXT));
  if (control == nullptr) return false;
  *text = control->GetText();
  return true;
}

bool LinkStatusView::SetLinkText(LinkState state) {
  if (m_window.GetHwnd() == nullptr) return false;
  auto* control = static_cast<CWCStatic*>(m_window.FindControl(ID_LINK_TEXT));
  if (control == nullptr) return false;
  const std::string& text = m_texts.Link(state);
  // In the screen's pixels.
  const int width = m_font != nullptr ? TextWidth(m_font, text.c_str()) + Scaled(2) : 0;
  int x = Scaled(LINK_TEXT_X);
  int right = Scaled(LINK_TEXT_X + LINK_TEXT_WIDTH);
  if (width > right - x) {
    x = std::max(Scaled(LINK_TEXT_MIN_X), right - width);
    right = std::min(Scaled(m_clientWidth - 4), std::max(right, x + width));
  }
  if (x != control->GetX() || right - x != control->GetWidth()) {
    CWindowControl* label = m_window.FindControl(ID_HIO_LABEL);
    if (label != nullptr && label->GetHwnd() != nullptr) {
      ShowWindow(label->GetHwnd(), x < Scaled(LINK_TEXT_X) ? SW_HIDE : SW_SHOW);
    }
    control->SetRect(x, Scaled(HIO_Y), right - x, control->GetHeight());
  }
  control->SetText(text);
  m_linkState = state;
  return true;
}

const std::string& StatusTexts::Link(LinkState state) {
  switch (state) {
    case LinkState::ACTIVE:
      return Text(IDS_LINK_ACTIVE);
    case LinkState::WAITING:
      return Text(IDS_LINK_WAITING);
    case LinkState::NO_LIBRARY:
      return Text(IDS_LINK_NO_LIBRARY);
    case LinkState::NO_IMAGE:
      return Text(IDS_LINK_NO_IMAGE);
    case LinkState::NONE:
      break;
  }
  return Text(IDS_LINK_NONE);
}

const StatusTexts::Lines& StatusTexts::Notice(LevelNotice notice) {
  switch (notice) {
    case LevelNotice::NO_DEVICE:
      return Split(IDS_LEVEL_NO_DEVICE, false);
    case LevelNotice::DEVICE_GONE:
      return Split(IDS_LEVEL_DEVICE_GONE, false);
    case LevelNotice::FORMAT_REFUSED:
      return Split(IDS_LEVEL_FORMAT_REFUSED, false);
    case LevelNotice::START_FAILED:
      return Split(IDS_LEVEL_START_FAILED, false);
    case LevelNotice::DEFAULT_DEVICE:
      return Split(IDS_LEVEL_DEFAULT_DEVICE, false);
    case LevelNotice::NONE_ACTIVE:
      break;
  }
  // One short text, in both lines.
  return Split(IDS_LEVEL_NONE, true);
}

const StatusTexts::Lines& StatusTexts::Notice(ConfigNotice notice) {
  // The settings model has one notice (NONE is never drawn).
  (void)notice;
  return Split(IDS_LEVEL_SETTINGS_UNREAD, false);
}

const std::string& StatusTexts::Text(uint32_t id) {
  auto found = m_texts.find(id);
  if (found == m_texts.end()) found = m_texts.emplace(id, LoadResourceString(id)).first;
  return found->second;
}

// The text's first line goes to the display's first line, the rest to the
// second; a text without a line break leaves the second empty.
const StatusTexts::Lines& StatusTexts::Split(uint32_t id, bool bothLines) {
  auto found = m_lines.find(id);
  if (found != m_lines.end()) return found->second;
  const std::string text = LoadResourceString(id);
  Lines lines(text, text);
  if (!bothLines) {
    const size_t split = text.find('\n');
    lines.first = text.substr(0, split);
    lines.second = split == std::string::npos ? std::string() : text.substr(split + 1);
  }
  return m_lines.emplace(id, std::move(lines)).first->second;
}
