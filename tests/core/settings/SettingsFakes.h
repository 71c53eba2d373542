// Fakes of what the settings model uses: the serial channel, the capture, the
// user interface and the controls of the settings window.
#pragma once

#include <cstdint>
#include <memory>
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
  void ShowError(const std::string& text, const std::string& caption, bool foreground) override {
    errors.push_back(Error{text, caption, foreground});
  }
  void RefreshControls() override { ++refreshes; }

  struct Error {
    std::string text;
    std::string caption;
    bool foreground;
  };
  std::vector<Error> errors;
  int refreshes = 0;
};

// An edit box or a combo box of the settings window.
class FakeControl : public ConfigControl {
 public:
  void SetText(const std::string& value) override {
    text = value;
    ++textWrites;
  }
  void SetEnabled(bool value) override { enabled = value; }
  int GetEntryCount() override { return static_cast<int>(entries.size()); }
  std::string GetEntryText(int index) override { return entries[static_cast<size_t>(index)]; }
  void SelectEntry(int index) override { selected = index; }

  std::string text;
  int textWrites = 0;
  bool enabled = true;
  std::vector<std::string> entries;
  int selected = -1;
};

// Makes fake controls the way the settings window makes its real ones: a
// combo box gets every entry of its item.
class FakeFactory : public ConfigControlFactory {
 public:
  ConfigControl* CreateEdit(SoundConfigItem&, int id, int, int, int, int height) override { return Make(id, height); }
  ConfigControl* CreateList(ConfigList& item, int id, int, int, int, int height) override {
    FakeControl* control = Make(id, height);
    for (uint32_t i = 0; !item.GetEntry(i).empty(); ++i) control->entries.push_back(item.GetEntry(i));
    return control;
  }

  FakeControl* Make(int id, int height) {
    controls.push_back(std::make_unique<FakeControl>());
    ids.push_back(id);
    heights.push_back(height);
    return controls.back().get();
  }
  std::vector<std::unique_ptr<FakeControl>> controls;
  std::vector<int> ids;
  std::vector<int> heights;
};
