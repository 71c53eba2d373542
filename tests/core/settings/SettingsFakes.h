// Fakes of what the settings model uses: the serial channel, the capture and
// the user interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/PacketChannel.h"
#include "settings/SoundConfig.h"
#include "settings/SoundConfigItem.h"

// A record as the 280 bytes of a CONFIG payload.
inline std::vector<uint8_t> Payload(const SoundConfigData& record) {
  uint8_t bytes[SOUND_CONFIG_SIZE];
  PackRecord(record, bytes);
  return std::vector<uint8_t>(bytes, bytes + SOUND_CONFIG_SIZE);
}

// Hands a record to the model as the device would send it.
inline void Receive(SoundConfig& config, const SoundConfigData& record) {
  std::vector<uint8_t> payload = Payload(record);
  config.ApplyReceived(payload.data(), static_cast<int32_t>(payload.size()));
}

class FakeChannel : public PacketChannel {
 public:
  Status GetStatus() const override { return status; }
  bool Write(uint32_t type, const void* data, int32_t size) override {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    packets.push_back(Packet{type, std::vector<uint8_t>(bytes, bytes + size)});
    return writeResult;
  }

  struct Packet {
    uint32_t type;
    std::vector<uint8_t> payload;
  };
  Status status = Status::DISCONNECTED;
  bool writeResult = true;
  std::vector<Packet> packets;
};

class FakeCapture : public ConfigCapture {
 public:
  void StopCapture() override { ++stops; }
  int32_t GetInputRate() override { return inputRate; }
  int stops = 0;
  int32_t inputRate = 44100;
};

class FakeView : public ConfigView {
 public:
  void Tell(ConfigMessage message, const std::string& path) override { errors.push_back(Error{message, path}); }
  void RefreshControls() override { ++refreshes; }

  struct Error {
    ConfigMessage message;
    std::string path;
  };
  std::vector<Error> errors;
  int refreshes = 0;
};
