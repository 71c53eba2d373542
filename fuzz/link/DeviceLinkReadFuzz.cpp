// PacketLink::Read over arbitrary byte streams from the device, through the
// in-process fake library: bytes arrive in fuzzer-chosen chunks, with library
// failures and short reads mixed in; the channel re-opens after every close.
// A packet read is always whole and of a size its type allows (a settings
// record exactly 280 bytes).
//
// Input: [chunk limit][failure period][short-read period] then the stream.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "FakeHostIo.h"
#include "link/KAVHostIO.h"
#include "link/DeviceLink.h"

namespace {

// Moves 300 ms each time it is read.
class SteppingClock : public Clock {
 public:
  uint64_t NowMs() override { return m_ms += 300; }
  uint64_t NowMicros() override { return m_ms * 1000; }
  uint32_t SecondsSince1970() override { return 0; }
  void SleepMs(unsigned ms) override { m_ms += ms; }

 private:
  uint64_t m_ms = 0;
};

[[noreturn]] void Broken(const char* what) {
  fprintf(stderr, "invariant broken: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The channel logs every step; the fuzzer reports on standard error.
  if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t chunk = data[0] == 0 ? size : data[0];
  const unsigned failEvery = data[1];
  const unsigned shortEvery = data[2];
  data += 3;
  size -= 3;

  FakeHostIo fake;
  fake.listed = {12345678};
  FakeLinkSystem system;
  // The link's clock moves 300 ms a step, so that payloads that do not
  // complete in time are fuzzed too, the same on every run.
  SteppingClock clock;
  DeviceLink deviceLink(system);
  deviceLink.Link().SetClock(clock);
  deviceLink.Init(0, fake.MakeHostIo(system));
  if (!deviceLink.Session().ConnectFirst(true)) Broken("connect");
  deviceLink.Link().Update();
  if (deviceLink.Link().GetStatus() != PacketChannel::Status::CONNECTED) Broken("bring-up");

  size_t fed = 0;
  unsigned idle = 0;
  for (unsigned step = 0; step < 4 * size + 64 && idle < 4; ++step) {
    if (fed < size) {
      const size_t n = size - fed < chunk ? size - fed : chunk;
      fake.PushBytes(data + fed, n);
      fed += n;
    }
    {
      std::lock_guard<std::mutex> lock(fake.lock);
      fake.readableError = failEvery != 0 && step % failEvery == failEvery - 1 ? -1 : 0;
      if (shortEvery != 0 && step % shortEvery == shortEvery - 1)
        fake.readResults.push_back(static_cast<int32_t>(step % 17));
    }
    uint32_t type = 0, length = 0;
    std::unique_ptr<uint8_t[]> payload = deviceLink.Link().Read(type, length);
    if (payload != nullptr) {
      if (length == 0 || !PacketHeader::PayloadFits(type, static_cast<int32_t>(length))) Broken("packet");
      unsigned sum = 0;
      for (uint32_t i = 0; i < length; ++i) sum += payload[i];
      if (sum == 0xFFFFFFFFu) Broken("unreachable");
    } else if (type != PacketChannel::NO_PACKET && (type != PacketChannel::AUDIO || length != 0)) {
      Broken("empty packet");
    }
    if (deviceLink.Link().GetStatus() != PacketChannel::Status::CONNECTED) {
      deviceLink.Link().Update();
      if (deviceLink.Link().GetStatus() != PacketChannel::Status::CONNECTED) Broken("heal");
    }
    idle = fed >= size && payload == nullptr && type == PacketChannel::NO_PACKET ? idle + 1 : 0;
  }
  return 0;
}
