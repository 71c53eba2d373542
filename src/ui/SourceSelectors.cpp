#include "ui/SourceSelectors.h"

#include <memory>

#include "capture/SoundCapture.h"
#include "resources/resource.h"
#include "support/Language.h"
#include "ui/Gdi.h"

SourceSelectors::SourceSelectors(CaptureChoice& sources, Window& window) : m_sources(sources), m_window(window) {
  m_sources.AddView(this);
}

SourceSelectors::~SourceSelectors() {
  m_sources.RemoveView(this);
}

void SourceSelectors::CreateControls(HFONT font, int dpi) {
  auto add = [&](int id, int x, int y, int width, int height) {
    return m_window.AddAt(std::make_unique<CWCComboBox>(), id, ScaledLength(x, dpi), ScaledLength(y, dpi),
                          ScaledLength(width, dpi), ScaledLength(height, dpi), font);
  };
  m_api = add(ID_API, 16, 54, 128, 84);
  m_api->onSelectionChanged = [this] {
    if (m_api != nullptr) m_sources.SelectSource(m_api->GetSelection());
  };
  m_device = add(ID_DEVICE, 16, 92, 266, 98);
  m_device->onSelectionChanged = [this] {
    if (m_device != nullptr) m_sources.SelectDevice(m_device->GetSelection());
  };
  // The list is enumerated afresh each time it opens.
  m_device->onDropDown = [this] { RefreshDevices(""); };
  // No source has channels: the list is empty and stays disabled.
  EnableWindow(add(ID_CHANNEL, 16, 130, 266, 98)->GetHwnd(), FALSE);
}

void SourceSelectors::Fill() {
  if (m_api == nullptr) return;
  for (int32_t i = 0; i < m_sources.GetCount(); ++i) {
    m_api->AddString(m_sources.GetSource(i)->GetName());
    if (m_sources.GetSource(i) == m_sources.GetCurrent()) m_api->SetSelection(i);
  }
  m_api->FitDropDownWidth();
  m_sources.RefreshDevicesFromMemory();
}

void SourceSelectors::ShowChoice() {
  if (m_api == nullptr) return;
  for (int32_t i = 0; i < m_sources.GetCount(); ++i) m_api->AddString(m_sources.GetSource(i)->GetName());
  m_api->SetSelection(m_sources.GetCurrentIndex());
  m_api->FitDropDownWidth();
  OnDevicesChanged();
}

void SourceSelectors::Forget() {
  m_api = m_device = nullptr;
}

// The choice decides; the selectors show what it decided.

void SourceSelectors::RefreshDevices(const std::string& preferred) {
  if (m_device == nullptr) return;
  m_sources.RefreshDevices(preferred);
}

void SourceSelectors::OnSourceChanged(SoundCapture&) {
  if (m_api != nullptr) m_api->SetSelection(m_sources.GetCurrentIndex());
}

void SourceSelectors::OnDevicesChanged() {
  if (m_device == nullptr) return;
  m_device->Clear();
  if (m_sources.GetDevicesShown() == CaptureChoice::ListShown::NONE_FOUND) {
    m_device->AddString(LoadResourceString(IDS_NO_DEVICE_FOUND));
    m_device->SetSelection(0);
  } else {
    for (const DeviceEntry& entry : m_sources.GetDevices()) m_device->AddString(entry.name);
    m_device->SetSelection(m_sources.GetDeviceIndex());
  }
  m_device->FitDropDownWidth();
}
