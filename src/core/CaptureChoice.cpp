#include "core/CaptureChoice.h"

#include <algorithm>
#include <utility>

#include "capture/SoundCaptureWaveFile.h"
#include "support/Log.h"

CaptureChoice::CaptureChoice(ChoiceMemory& memory) : m_memory(memory) {}

CaptureChoice::~CaptureChoice() {
  Clear();
}

bool CaptureChoice::Append(std::unique_ptr<SoundCapture> source) {
  if (source == nullptr || GetCount() >= MAX_SOURCES) return false;
  m_sources.push_back(std::move(source));
  return true;
}

bool CaptureChoice::Add(std::unique_ptr<SoundCapture> source) {
  return Append(std::move(source));
}

bool CaptureChoice::AddWaveFile(std::unique_ptr<SoundCaptureWaveFile> source) {
  SoundCaptureWaveFile* waveFile = source.get();
  if (!Append(std::move(source))) return false;
  m_waveFile = waveFile;
  return true;
}

void CaptureChoice::Clear() {
  m_current = nullptr;
  m_waveFile = nullptr;
  for (auto& source : m_sources) source->Stop();
  m_sources.clear();
}

SoundCapture* CaptureChoice::GetSource(int32_t index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return m_sources[static_cast<size_t>(index)].get();
}

int32_t CaptureChoice::GetCurrentIndex() const {
  for (int32_t i = 0; i < GetCount(); ++i) {
    if (m_sources[static_cast<size_t>(i)].get() == m_current) return i;
  }
  return -1;
}

int32_t CaptureChoice::GetWaveFileIndex() const {
  for (int32_t i = 0; i < GetCount(); ++i) {
    if (m_waveFile != nullptr && m_sources[static_cast<size_t>(i)].get() == m_waveFile) return i;
  }
  return -1;
}

void CaptureChoice::AddView(CaptureChoiceView* view) {
  if (view != nullptr && std::find(m_views.begin(), m_views.end(), view) == m_views.end()) m_views.push_back(view);
}

void CaptureChoice::RemoveView(CaptureChoiceView* view) {
  m_views.erase(std::remove(m_views.begin(), m_views.end(), view), m_views.end());
}

void CaptureChoice::TellSourceChanged(SoundCapture& source) {
  for (CaptureChoiceView* view : m_views) view->OnSourceChanged(source);
}

void CaptureChoice::TellDevicesChanged() {
  for (CaptureChoiceView* view : m_views) view->OnDevicesChanged();
}

std::string CaptureChoice::Recall(const std::string& name) {
  std::string value;
  if (!m_memory.Recall(name, &value)) value.clear();
  return value;
}

// --- Sources -----------------------------------------------------------------

void CaptureChoice::ChooseStartSource() {
  if (m_sources.empty()) return;
  const std::string api = Recall("API");
  SoundCapture* chosen = nullptr;
  for (const auto& source : m_sources) {
    if (source->GetDeviceCount() <= 0) continue;
    if (chosen == nullptr || source->GetName() == api) chosen = source.get();
  }
  m_current = chosen != nullptr ? chosen : m_sources.front().get();
  m_memory.Remember("API", m_current->GetName());
  TellSourceChanged(*m_current);
}

bool CaptureChoice::SelectSource(int32_t index) {
  SoundCapture* next = GetSource(index);
  if (next == nullptr) return false;
  SoundCapture* old = m_current;
  if (next == old) return false;
  if (old != nullptr) {
    old->Stop();
    if (m_selectedDevice.id != DeviceEntry::NO_DEVICE_ID) m_memory.Remember(old->GetName(), m_selectedDevice.name);
  }
  m_current = next;
  ++m_restartRequests;
  TellSourceChanged(*next);
  m_memory.Remember("API", next->GetName());
  RefreshDevicesFromMemory();
  // "Chapge" is kept on purpose: log readers match this line as it has
  // always been printed.
  Log("Chapge API %s\n", next->GetName().c_str());
  return true;
}

void CaptureChoice::StopCurrent() {
  ++m_restartRequests;
  if (m_current != nullptr) m_current->Stop();
}

void CaptureChoice::StopCapture() {
  StopCurrent();
}

int32_t CaptureChoice::GetInputRate() {
  return m_current != nullptr ? m_current->GetInputRate() : 0;
}

// --- Devices -----------------------------------------------------------------

std::vector<DeviceEntry> CaptureChoice::Listed(const SoundCapture& source) {
  std::vector<DeviceEntry> listed;
  for (int32_t i = 0; i < source.GetDeviceCount(); ++i) {
    const DeviceEntry& entry = source.GetDevice(i);
    if (entry.id != DeviceEntry::NO_DEVICE_ID) listed.push_back(entry);
  }
  return listed;
}

int32_t CaptureChoice::ChooseEntry(const std::vector<DeviceEntry>& listed, const std::string& preferred,
                                   const std::string& previous) {
  int32_t chosen = -1;
  for (size_t i = 0; i < listed.size(); ++i) {
    if (listed[i].name == preferred) chosen = static_cast<int32_t>(i);
  }
  if (chosen >= 0) return chosen;
  for (size_t i = 0; i < listed.size(); ++i) {
    if (listed[i].name == previous) return static_cast<int32_t>(i);
  }
  return 0;
}

void CaptureChoice::RefreshDevicesFromMemory() {
  if (m_current == nullptr) return;
  RefreshDevices(Recall(m_current->GetName()));
}

void CaptureChoice::RefreshDevices(const std::string& preferred) {
  SoundCapture* source = m_current;
  if (source == nullptr) return;
  // A fresh list (the user opened it, or a file was dropped) may hold the
  // device that was missing.
  ++m_restartRequests;
  source->EnumerateDevices();
  const DeviceEntry previous = m_selectedDevice;
  if (source->GetDeviceCount() == 0) {
    m_devicesShown = ListShown::NONE_FOUND;
    m_devices.clear();
    m_deviceIndex = 0;
    m_selectedDevice = DeviceEntry();
    TellDevicesChanged();
    return;
  }
  m_devicesShown = ListShown::LISTED;
  m_devices = Listed(*source);
  m_deviceIndex = ChooseEntry(m_devices, preferred, previous.name);
  m_selectedDevice = m_devices.empty() ? DeviceEntry() : m_devices[static_cast<size_t>(m_deviceIndex)];
  if (m_selectedDevice.name != previous.name) {
    source->Stop();
    if (m_selectedDevice.id != DeviceEntry::NO_DEVICE_ID) m_memory.Remember(source->GetName(), m_selectedDevice.name);
    Log("Change Device %s\n", m_selectedDevice.name.c_str());
  }
  TellDevicesChanged();
}

void CaptureChoice::SelectDevice(int32_t index) {
  SoundCapture* source = m_current;
  if (source == nullptr) return;
  const DeviceEntry previous = m_selectedDevice;
  if (source->GetDeviceCount() == 0) {
    m_selectedDevice = DeviceEntry();
  } else {
    const std::vector<DeviceEntry> listed = Listed(*source);
    if (index >= 0 && static_cast<size_t>(index) < listed.size()) {
      m_deviceIndex = index;
      m_selectedDevice = listed[static_cast<size_t>(index)];
    }
  }
  if (m_selectedDevice.name == previous.name) return;
  ++m_restartRequests;
  source->Stop();
  if (m_selectedDevice.id != DeviceEntry::NO_DEVICE_ID) m_memory.Remember(source->GetName(), m_selectedDevice.name);
  Log("Change Device %s\n", m_selectedDevice.name.c_str());
}
