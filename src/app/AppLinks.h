// Small adapters that join the application's objects to the narrow
// interfaces the idle tick and the settings model use.
#pragma once

#include "app/IdleTick.h"
#include "capture/SoundCapture.h"
#include "link/SerialChannel.h"
#include "settings/SoundConfig.h"

// The serial channel as the idle tick drives it.
class SerialChannelLink : public IdleLink {
 public:
  explicit SerialChannelLink(SerialChannel& channel) : m_channel(channel) {}
  PacketChannel::Status GetStatus() const override { return m_channel.GetStatus(); }
  void Update() override { m_channel.Update(); }
  std::unique_ptr<uint8_t[]> Read(uint32_t& type, uint32_t& size) override { return m_channel.Read(type, size); }

 private:
  SerialChannel& m_channel;  // not owned
};

// The current capture source as the settings model sees it: a change of rate
// or format stops it (the idle tick restarts it), and its input rate goes
// into every record sent.
class CurrentSourceControl : public ConfigCapture {
 public:
  explicit CurrentSourceControl(SoundCapture* const* current) : m_current(current) {}
  void StopCapture() override {
    if (*m_current != nullptr) (*m_current)->Stop();
  }
  int32_t GetInputRate() override { return *m_current != nullptr ? (*m_current)->GetInputRate() : 0; }

 private:
  SoundCapture* const* m_current;  // the application's current-source pointer
};
