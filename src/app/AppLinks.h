// Small adapters that join the application's objects to the narrow
// interfaces the idle tick uses.
#pragma once

#include "core/IdleTick.h"
#include "link/SerialChannel.h"

// The serial channel as the idle tick drives it.
class SerialChannelLink : public IdleLink {
 public:
  explicit SerialChannelLink(SerialChannel& channel) : m_channel(channel) {}
  PacketChannel::Status GetStatus() const override { return m_channel.GetStatus(); }
  void Update() override { m_channel.Update(); }
  uint32_t GetConnectionCount() const override { return m_channel.GetConnectionCount(); }
  std::unique_ptr<uint8_t[]> Read(uint32_t& type, uint32_t& size) override { return m_channel.Read(type, size); }
  bool IsAwaitingDebugger() const override { return m_channel.IsAwaitingDebugger(); }
  bool ConnectLost() override { return m_channel.ConnectLost(); }
  bool HasLibrary() const override { return m_channel.HasHostIoLibrary(); }
  bool IsImageMissing() const override { return m_channel.IsProgramImageMissing(); }

 private:
  SerialChannel& m_channel;  // not owned
};
