// The program's capture sources and the user's choice among them: the
// sources in their order (owned), the current one (the one streamed), its
// chosen device, and the memory of those choices from one run to the next.
// Portable: the main window shows it and hands it the user's picks, the idle
// tick keeps its current source running, and the settings model stops that
// source through it.
//
// Main thread only, as are the views it tells of changes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/SoundCapture.h"
#include "settings/SoundConfig.h"

class SoundCaptureWaveFile;

// Remembered choices by name: the program's registry key in the program, a
// map in tests. Names: "API" (the current source) and a source's name (its
// device). Stores written by earlier versions may also hold
// "<source>@<device>" names (a device's channel); they are neither read nor
// written.
class ChoiceMemory {
 public:
  virtual ~ChoiceMemory() = default;
  // False when nothing is stored under name.
  virtual bool Recall(const std::string& name, std::string* value) = 0;
  virtual void Remember(const std::string& name, const std::string& value) = 0;
};

// What is told of a change; the main window redraws its selectors.
class CaptureChoiceView {
 public:
  virtual ~CaptureChoiceView() = default;
  // Another source became current (before its device list is refreshed).
  virtual void OnSourceChanged(SoundCapture& source) = 0;
  // The device list or the chosen device changed.
  virtual void OnDevicesChanged() = 0;
};

class CaptureChoice : public ConfigCapture {
 public:
  static constexpr int32_t MAX_SOURCES = 4;

  // How the device selector shows its list.
  enum class ListShown {
    NONE_FOUND,  // one entry, "No Device Found"
    LISTED,      // the entries of GetDevices
  };

  // memory (not owned) outlives the choice.
  explicit CaptureChoice(ChoiceMemory& memory);
  CaptureChoice(const CaptureChoice&) = delete;
  CaptureChoice& operator=(const CaptureChoice&) = delete;
  // Stops every source, then deletes them.
  ~CaptureChoice() override;

  // Appends a source in the program's order; false (the source deleted) when
  // all MAX_SOURCES places are taken. The wave-file source is added with
  // AddWaveFile, so that dropped files find it.
  bool Add(std::unique_ptr<SoundCapture> source);
  bool AddWaveFile(std::unique_ptr<SoundCaptureWaveFile> source);
  // Stops and deletes every source; no source is current afterwards.
  void Clear();

  int32_t GetCount() const { return static_cast<int32_t>(m_sources.size()); }
  SoundCapture* GetSource(int32_t index) const;
  SoundCapture* GetCurrent() const { return m_current; }
  int32_t GetCurrentIndex() const;
  // The wave-file source and its place, or null and -1.
  SoundCaptureWaveFile* GetWaveFile() const { return m_waveFile; }
  int32_t GetWaveFileIndex() const;

  // The views told of changes (not owned); a view removes itself before it goes.
  void AddView(CaptureChoiceView* view);
  void RemoveView(CaptureChoiceView* view);

  // Start-up: walks the sources in order and takes the first with a device,
  // or a later one with a device whose name is exactly the remembered "API";
  // the first source when none has a device. The choice is remembered.
  void ChooseStartSource();
  // The user picks source index: the old source stops and its device is
  // remembered, the new one becomes current and is remembered, and its device
  // list is refreshed preferring its remembered device. False when index is
  // not a source or is already current.
  bool SelectSource(int32_t index);
  void StopCurrent();
  // Counts the requests that stop or re-choose the current source (another
  // source or device, a fresh device list, StopCurrent). The idle tick
  // retries a source that failed to start at once when this changed.
  uint32_t GetRestartRequests() const { return m_restartRequests; }

  // --- Devices of the current source ---------------------------------------
  // Enumerates the current source's devices afresh and chooses the last one
  // named preferred, else the first named as the previous choice, else the
  // first. A different choice stops the source and is remembered.
  void RefreshDevices(const std::string& preferred);
  // The same preferring the device remembered for the current source.
  void RefreshDevicesFromMemory();
  // The user picks entry index of the shown list.
  void SelectDevice(int32_t index);
  ListShown GetDevicesShown() const { return m_devicesShown; }
  // The listed entries: the source's devices without those of NO_DEVICE_ID.
  const std::vector<DeviceEntry>& GetDevices() const { return m_devices; }
  int32_t GetDeviceIndex() const { return m_deviceIndex; }
  const DeviceEntry& GetSelectedDevice() const { return m_selectedDevice; }

  // ConfigCapture: the settings model's view of the current source.
  void StopCapture() override;
  int32_t GetInputRate() override;

 private:
  bool Append(std::unique_ptr<SoundCapture> source);
  // The source's devices whose id is not NO_DEVICE_ID, in order.
  static std::vector<DeviceEntry> Listed(const SoundCapture& source);
  // The entry to select: the last named preferred, else the first named
  // previous, else the first.
  static int32_t ChooseEntry(const std::vector<DeviceEntry>& listed, const std::string& preferred,
                             const std::string& previous);
  std::string Recall(const std::string& name);
  void TellSourceChanged(SoundCapture& source);
  void TellDevicesChanged();

  ChoiceMemory& m_memory;
  uint32_t m_restartRequests = 0;
  std::vector<std::unique_ptr<SoundCapture>> m_sources;
  SoundCapture* m_current = nullptr;           // one of m_sources, or null
  SoundCaptureWaveFile* m_waveFile = nullptr;  // one of m_sources, or null
  std::vector<CaptureChoiceView*> m_views;

  ListShown m_devicesShown = ListShown::NONE_FOUND;
  std::vector<DeviceEntry> m_devices;
  int32_t m_deviceIndex = 0;
  DeviceEntry m_selectedDevice;
};
