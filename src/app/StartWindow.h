// The program's top-level window until the full main window takes its place:
// captioned with the program name, with the link text (id 119) and the level
// display, and ending the message loop when it is closed.
#pragma once

#include <windows.h>

#include "app/IdleTick.h"

class StartWindow : public IdleView {
 public:
  static constexpr int LINK_TEXT_ID = 119;

  StartWindow() = default;
  StartWindow(const StartWindow&) = delete;
  StartWindow& operator=(const StartWindow&) = delete;
  ~StartWindow() override;

  bool Create(HINSTANCE instance, HICON icon);
  void CreateControls(HFONT font);
  HWND GetHwnd() const { return m_hwnd; }

  // The device the idle tick starts the current source with.
  void SelectDevice(const DeviceEntry& device) { m_selected = device; }

  // IdleView
  const DeviceEntry& GetSelectedDevice() override { return m_selected; }
  void RefreshChannelList() override {}
  void ResetChannelList() override {}
  void DrawLevels(const std::string& left, const std::string& right) override;
  bool GetLinkText(std::string* text) override;
  void SetLinkText(const std::string& text) override;
  void UpdateCaption() override;

 private:
  static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hwnd = nullptr;
  HWND m_linkText = nullptr;  // child control, destroyed with the window
  HFONT m_font = nullptr;     // not owned
  DeviceEntry m_selected;
};
