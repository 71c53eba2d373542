// One step of the program's idle pump: run by the message loop whenever the
// message queue is empty, about every 10 ms, on the main thread.
#pragma once

#include <cstdint>
#include <string>

// What the idle tick shows and asks of the main window.
class IdleView {
 public:
  virtual ~IdleView() = default;
  virtual void RefreshChannelList() = 0;
  virtual void ResetChannelList() = 0;
  // The two lines of the level display.
  virtual void DrawLevels(const std::string& left, const std::string& right) = 0;
  // The link text control (id 119): false when the window does not have it.
  virtual bool GetLinkText(std::string* text) = 0;
  virtual void SetLinkText(const std::string& text) = 0;
  virtual void UpdateCaption() = 0;
};

class IdleTick {
 public:
  // Ticks between two redraws of the level display.
  static constexpr int STATUS_TICKS = 10;
  // Ticks between two "Idle ticks" log lines.
  static constexpr uint64_t LOG_TICKS = 3000;

  explicit IdleTick(IdleView& view) : m_view(view) {}

  void Run();

  uint64_t GetTickCount() const { return m_ticks; }
  int GetStatusCounter() const { return m_statusCounter; }

 private:
  void RedrawLevels();
  void UpdateLinkText();

  IdleView& m_view;
  int m_statusCounter = 0;
  uint64_t m_ticks = 0;
};
