// Helpers of the device link's tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "FakeHostIo.h"
#include "TestUtil.h"
#include "link/DeviceLink.h"

// The log tags of the device link's files: each logs under its own class's
// name.
inline const std::vector<std::string>& LinkTags() {
  static const std::vector<std::string> tags = {"DeviceLink",      "PacketLink",      "LinkStates",
                                                "DebuggerSession", "ProgramDownload", "CKAVHostIO"};
  return tags;
}

struct LinkLine {
  std::string tag;
  std::string text;  // without the "<tag>, <line>, " prefix
};

// Lines of the log printed by the link's files with their "<tag>, <line>, "
// prefix; other lines are left out.
inline std::vector<LinkLine> TaggedLinkLines(const std::string& log) {
  std::vector<LinkLine> out;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    for (const std::string& tag : LinkTags()) {
      const std::string prefix = tag + ", ";
      if (line.compare(0, prefix.size(), prefix) != 0) continue;
      size_t at = prefix.size();
      size_t digits = at;
      while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
      if (digits == at || line.compare(digits, 2, ", ") != 0) continue;
      out.push_back({tag, line.substr(digits + 2)});
    }
  }
  return out;
}

// The texts of TaggedLinkLines.
inline std::vector<std::string> LinkLines(const std::string& log) {
  std::vector<std::string> out;
  for (const LinkLine& line : TaggedLinkLines(log)) out.push_back(line.text);
  return out;
}

// The tag of the first link line whose text starts with start; empty when
// none does.
inline std::string LinkTagOf(const std::string& log, const std::string& start) {
  for (const LinkLine& line : TaggedLinkLines(log)) {
    if (line.text.compare(0, start.size(), start) == 0) return line.tag;
  }
  return std::string();
}

inline int CountLinkLines(const std::string& log, const std::string& message) {
  int n = 0;
  for (const std::string& line : LinkLines(log)) {
    if (line == message) ++n;
  }
  return n;
}

// The KMC vendor's id-to-serial entry point: "KMC-<id>", none for id 7.
inline int32_t HOSTIO_CALL SerialOf(uint32_t id, char* text) {
  if (id == 7) return -1;
  snprintf(text, 32, "KMC-%u", id);
  return 0;
}

inline std::vector<uint8_t> Bytes(size_t size, uint8_t first = 1) {
  std::vector<uint8_t> v(size);
  for (size_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>(first + i);
  return v;
}

// A device link over a fake library, its log, and the usual way to bring it
// up.
class DeviceLinkFixture {
 public:
  DeviceLinkFixture() {
    clock.ms = 1000;
    deviceLink.Link().SetClock(clock);
    deviceLink.Init(0, fake.MakeHostIo(system));
  }
  // The parts only ask the link for transitions that its state allows.
  ~DeviceLinkFixture() {
    for (const LinkLine& line : TaggedLinkLines(log.Text())) {
      EXPECT_NE(line.tag, "LinkStates") << line.text;
    }
  }

  // A box with id 12345678 found, connected, channel opened, program attached.
  bool BringUp() {
    if (fake.listed.empty()) fake.listed = {12345678};
    if (!deviceLink.Session().ConnectFirst(true)) return false;
    deviceLink.Link().Update();
    return deviceLink.Link().GetStatus() == PacketChannel::Status::CONNECTED;
  }

  // BringUp, and the connection's settings record sent (audio may follow);
  // the record is not among what the fake shows as written.
  bool BringUpStreaming() {
    if (!BringUp() || !SendRecord()) return false;
    std::lock_guard<std::mutex> lock(fake.lock);
    fake.written.clear();
    fake.writeSizes.clear();
    return true;
  }
  // A settings record sent at once, as when no worker streams.
  bool SendRecord(uint8_t first = 1) {
    clock.ms += PacketLink::STREAMING_MS;
    const std::vector<uint8_t> record = Bytes(280, first);
    return deviceLink.Link().Write(PacketChannel::CONFIG, record.data(), static_cast<int32_t>(record.size()));
  }

  FakeHostIo fake;
  FakeLinkSystem system;
  LogCapture log;
  ManualClock clock;  // the link's clock: it stands still unless a test moves it
  DeviceLink deviceLink{system};
};
