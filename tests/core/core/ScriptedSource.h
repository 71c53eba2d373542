// A capture source for tests of what chooses and shows sources: its device
// list is scripted, Start and Stop only flip its state.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "capture/CodecFunctions.h"
#include "capture/SoundCapture.h"

// A source with a scripted device list; EnumerateDevices takes the script
// afresh, as a real source asks its API again.
class ScriptedSource : public SoundCapture {
 public:
  ScriptedSource(std::string name, std::vector<DeviceEntry> deviceScript)
      : SoundCapture(nullptr, CodecFunctions()), devices(std::move(deviceScript)), m_name(std::move(name)) {
    ScriptedSource::EnumerateDevices();
  }
  std::string GetName() const override { return m_name; }
  bool EnumerateDevices() override {
    ClearDeviceList();
    for (const DeviceEntry& entry : devices) AddDevice(entry.name, entry.id);
    return true;
  }
  bool Start(const DeviceEntry&, int32_t, int32_t) override {
    if (keepsFigures) BeginStream();
    SetActive(true);
    return true;
  }
  void Stop() override {
    ++stops;
    SetActive(false);
    if (keepsFigures) EndStream();
  }
  void Poll() override {}

  std::vector<DeviceEntry> devices;
  bool keepsFigures = false;  // Start and Stop open and close a stream's figures
  int stops = 0;

 private:
  std::string m_name;
};
