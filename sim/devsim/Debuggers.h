// The simulated debuggers and the serial channel of each: which the PC has
// connected, which have channel 0 open, where the companion program runs and
// has attached, and the bytes waiting for the PC. The request server, the
// image transfer and the device's clock share them; callers hold the
// device's lock, and every change of a channel wakes the requests that wait
// on the device's condition variable.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "../common/SimProtocol.h"
#include "../common/SimSocket.h"
#include "EventLog.h"
#include "Options.h"

namespace sim {

class CompanionProgram;
class FaultPlan;

// The simulator's clock: milliseconds since it started.
class Clock {
 public:
  explicit Clock(uint64_t startMs) : m_startMs(startMs) {}
  uint64_t Now() const { return NowMs() - m_startMs; }

 private:
  const uint64_t m_startMs;
};

// The program's packets on the channel (both ways) start with a 16-byte
// header: magic, reserved, type, payload size.
constexpr uint32_t PACKET_MAGIC = 0x51445350u;  // "QDSP"
constexpr uint32_t PACKET_HEADER_SIZE = 16;

struct Debugger {
  uint32_t kind;
  uint32_t id;
  std::string serial;
  bool connected = false;
  bool running = false;  // the companion program runs on this device
  bool open = false;     // the PC has channel 0 open
  bool attached = false;
  uint64_t attachAtMs = 0;     // pending attach (0: none)
  uint32_t session = 0;        // of the current attach; a number of the device's, never 0 once attached
  uint32_t sessionWrites = 0;  // the PC's writes taken in it
  std::deque<uint8_t> toPc;
  // The companion program's parser of what the PC sends.
  uint8_t header[PACKET_HEADER_SIZE];
  size_t headerBytes = 0;
  uint32_t type = 0;
  std::vector<uint8_t> payload;
  size_t need = 0;
};

class Debuggers {
 public:
  Debuggers(const Options& options, EventLog& events, const Clock& clock, const FaultPlan& faults,
            CompanionProgram& program, std::condition_variable& changed);
  Debuggers(const Debuggers&) = delete;
  Debuggers& operator=(const Debuggers&) = delete;

  const std::vector<std::unique_ptr<Debugger>>& All() const { return m_debuggers; }
  Debugger* Find(uint32_t kind, uint32_t id);
  Debugger* FindSerial(const std::string& serial);
  // Connected and not vanished.
  bool Reachable(const Debugger* d) const;
  // Reachable, channel 0 open and the program attached to it.
  bool ChannelUp(const Debugger* d) const;
  // What the PC may read on d's channel: its byte count, -1 when down.
  int32_t Readable(const Debugger* d) const;
  // The debugger whose channel is up, if any.
  Debugger* Attached();

  void OpenChannel(Debugger& d);
  void CloseChannel(Debugger& d, const char* by, const char* reason);
  // The program lets go of the channel: the stream playing ends, what waits
  // for the PC is gone.
  void Detach(Debugger& d);
  // The program drops the link (the PC must open the channel again).
  void DropLink(Debugger& d, const char* reason);
  // A program image was started on d: the program restarts.
  void StartProgram(Debugger& d);

  // The clock: the program attaches where it is due.
  void AttachDue(uint64_t now);
  bool EverAttached() const { return m_everAttached; }
  uint64_t FirstAttachMs() const { return m_firstAttachMs; }

  // Every debugger unreachable: channels closed, connections dropped.
  void DropAll();
  // Shutdown: every channel down, so that no request waits on.
  void CloseAll();

 private:
  const uint64_t m_attachDelayMs;
  EventLog& m_events;
  const Clock& m_clock;
  const FaultPlan& m_faults;
  CompanionProgram& m_program;
  std::condition_variable& m_changed;
  std::vector<std::unique_ptr<Debugger>> m_debuggers;
  uint32_t m_attaches = 0;
  bool m_everAttached = false;
  uint64_t m_firstAttachMs = 0;  // since start; 0 before the first attach
};

}  // namespace sim
