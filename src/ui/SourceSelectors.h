// The main window's three selectors: the capture API, its device, and a
// channel list that stays empty and disabled (no capture source has
// channels). The first two are a view of the capture choice: a pick in a
// selector goes to the choice, and the selectors show what the choice
// decided (the lists, the picks, "No Device Found").
//
// Main thread only. The choice and the window are not owned and outlive this
// object; the combo boxes are owned by the window's control list.
#pragma once

#include <windows.h>

#include <string>

#include "core/CaptureChoice.h"
#include "ui/Window.h"

class SourceSelectors : public CaptureChoiceView {
 public:
  static constexpr int ID_API = 107;
  static constexpr int ID_DEVICE = 108;
  static constexpr int ID_CHANNEL = 109;

  // Registers with the choice as its view until destroyed.
  SourceSelectors(CaptureChoice& sources, Window& window);
  ~SourceSelectors() override;
  SourceSelectors(const SourceSelectors&) = delete;
  SourceSelectors& operator=(const SourceSelectors&) = delete;

  // Makes the three combo boxes on the window, with font, at the screen's
  // dpi; the channel list disabled.
  void CreateControls(HFONT font, int dpi);
  // Lists the sources, picks the current one and shows its remembered
  // device.
  void Fill();
  // Shows what the choice holds (the sources, the current one, its device
  // list and pick) in selectors made again, without listing devices afresh
  // or restarting the source.
  void ShowChoice();
  // The window is gone, and its controls with it.
  void Forget();

  // The device list enumerated afresh, keeping preferred when it is there.
  void RefreshDevices(const std::string& preferred);
  // Whether the selectors exist.
  bool Exist() const { return m_api != nullptr; }

  // CaptureChoiceView
  void OnSourceChanged(SoundCapture& source) override;
  void OnDevicesChanged() override;

 private:
  CaptureChoice& m_sources;
  Window& m_window;
  CWCComboBox* m_api = nullptr;
  CWCComboBox* m_device = nullptr;
};
