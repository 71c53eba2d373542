// Helpers of the device link's tests.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "FakeHostIo.h"
#include "TestUtil.h"
#include "link/SerialChannel.h"

// Lines of the log printed by the link with its "SerialChannel, <line>, "
// prefix, the prefix removed; other lines are left out.
inline std::vector<std::string> LinkLines(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  std::string line;
  const std::string prefix = "SerialChannel, ";
  while (std::getline(in, line)) {
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    size_t at = prefix.size();
    size_t digits = at;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
    if (digits == at || line.compare(digits, 2, ", ") != 0) continue;
    out.push_back(line.substr(digits + 2));
  }
  return out;
}

inline int CountLinkLines(const std::string& log, const std::string& message) {
  int n = 0;
  for (const std::string& line : LinkLines(log)) {
    if (line == message) ++n;
  }
  return n;
}

// A channel over a fake library, its log, and the usual way to bring it up.
class ChannelFixture {
 public:
  ChannelFixture() { channel.Init(0, fake.MakeHostIo(system)); }

  // A box with id 12345678 found, connected, channel opened, program attached.
  bool BringUp() {
    if (fake.listed.empty()) fake.listed = {12345678};
    if (!channel.ConnectFirst(true)) return false;
    channel.Update();
    return channel.GetStatus() == PacketChannel::Status::CONNECTED;
  }

  FakeHostIo fake;
  FakeLinkSystem system;
  LogCapture log;
  SerialChannel channel{system};
};

inline std::vector<uint8_t> Bytes(size_t size, uint8_t first = 1) {
  std::vector<uint8_t> v(size);
  for (size_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>(first + i);
  return v;
}
