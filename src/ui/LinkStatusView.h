// What the main window shows of the link and the stream: the level display,
// the HIO line with the link text, and the caption with the debugger's name.
// It is the view the idle tick shows its status in (IdleView): the tick hands
// it codes, and StatusTexts words them.
//
// Main thread only. The window is not owned and outlives this object; the
// labels are owned by the window's control list.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "core/IdleTick.h"
#include "ui/Gdi.h"
#include "ui/Window.h"

// The texts of the idle tick's codes, from the string table: loaded on first
// use and kept, as the tick shows the same few texts over and over.
class StatusTexts {
 public:
  // The level display's two lines.
  using Lines = std::pair<std::string, std::string>;

  const std::string& Link(LinkState state);
  const Lines& Notice(LevelNotice notice);
  // A text of the table split at its line break (the settings model's
  // notice).
  const Lines& Notice(ConfigNotice notice);

 private:
  const std::string& Text(uint32_t id);
  const Lines& Split(uint32_t id, bool bothLines);

  std::map<uint32_t, std::string> m_texts;
  std::map<uint32_t, Lines> m_lines;
};

class LinkStatusView : public IdleView {
 public:
  static constexpr int ID_LEFT_LABEL = 114;
  static constexpr int ID_RIGHT_LABEL = 116;
  static constexpr int ID_HIO_LABEL = 118;
  static constexpr int ID_LINK_TEXT = 119;
  // The level display, at 96 DPI.
  static constexpr int LEVELS_X = 226;
  static constexpr int LEVELS_Y = 30;
  static constexpr int CAPTION_MAX = 63;
  // The HIO line: the label and the link text right-aligned beside it. A text
  // wider than its box grows to the left, over the label (hidden meanwhile),
  // as far as the free room after the API selector, then to the right up to
  // the window's edge (clientWidth).
  static constexpr int HIO_X = 174;
  static constexpr int HIO_Y = 70;
  static constexpr int LINK_TEXT_X = 226;
  static constexpr int LINK_TEXT_WIDTH = 50;
  static constexpr int LINK_TEXT_MIN_X = 148;

  // Places and sizes are scaled to the screen's dpi.
  LinkStatusView(Window& window, int dpi, int clientWidth) : m_window(window), m_dpi(dpi), m_clientWidth(clientWidth) {}

  // The connected debugger's name for the caption; false while none is
  // connected.
  std::function<bool(std::string* name)> debuggerName;
  // After the caption, when the idle tick connected the lost debugger again.
  std::function<void()> onDebuggerReturned;

  // Makes the labels with font (not owned; kept for the level display and
  // the link text's width).
  void CreateControls(HFONT font);
  // Puts back what the level display drew last (WM_PAINT).
  void Paint(HDC hdc) const { m_levels.Paint(hdc); }
  // The window was created (the caption is set afresh) or destroyed (the
  // level display's bitmap freed).
  void OnCreate() { m_caption.clear(); }
  void Forget() { m_levels.Release(); }
  // The window moved to a monitor of another DPI: the next CreateControls
  // places the labels at it.
  void SetDpi(int dpi) { m_dpi = dpi; }

  // The link text as the control shows it; false without the control.
  bool GetLinkText(std::string* text);

  // IdleView
  void DrawLevels(int32_t left, int32_t right) override;
  void DrawLevelNotice(LevelNotice notice) override;
  void DrawSettingsNotice(ConfigNotice notice) override;
  bool SetLinkText(LinkState state) override;
  void UpdateCaption() override;
  // As after connecting at start-up: the caption, and the automatic download.
  void OnDebuggerReturned() override;

 private:
  int Scaled(int length) const { return ScaledLength(length, m_dpi); }
  // Draws the level display's two lines, unless it shows them already.
  void ShowLevels(const std::string& left, const std::string& right);

  Window& m_window;
  int m_dpi;
  const int m_clientWidth;
  // The link state shown last: labels made again show it too.
  LinkState m_linkState = LinkState::NONE;
  HFONT m_font = nullptr;  // the dialog font; not owned
  LevelDisplay m_levels;
  StatusTexts m_texts;
  // The caption as UpdateCaption last set it.
  std::string m_caption;
};
