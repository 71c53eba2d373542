// The simulated device side, the owner of its parts and of the one lock
// that guards them all:
//
//   Debuggers         the debuggers and the state of each one's channel
//   RequestServer     the stand-ins' debugger and channel requests
//   ImageTransfer     loading a program image (box download, loader tool)
//   CompanionProgram  the program on the device, at the channel's far end
//   FaultPlan         every injected fault
//
// Connection threads call Handle, which may block on the condition variable
// (channel reads, writes while the program stalls); the main loop calls
// Tick, the device's clock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "../common/SimProtocol.h"
#include "CompanionProgram.h"
#include "Debuggers.h"
#include "EventLog.h"
#include "FaultPlan.h"
#include "ImageTransfer.h"
#include "Options.h"
#include "RequestServer.h"

namespace sim {

class Device : private FaultTarget {
 public:
  using Transfer = ImageTransfer::Transfer;

  Device(const Options& options, EventLog& events, uint64_t startMs);
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // One request of a stand-in; may block (channel reads, stalled writes).
  int32_t Handle(const Request& request, const std::vector<uint8_t>& payload, Transfer& transfer,
                 std::vector<uint8_t>* out);
  // Time-driven work, every few milliseconds: attaching, timed faults,
  // settings sent back, the end of a stall or a vanish.
  void Tick();
  // An answered write has arrived (before the writes ahead of it are
  // taken): during a stall its writer now waits, which the event log tells
  // once per stall.
  void NoteAnsweredWrite();
  // Wakes every blocked request (shutdown).
  void WakeAll();
  // The end of the run: the output queue's figures of the stream playing.
  void Finish();

  Summary GetSummary();
  std::string SummaryLine();

 private:
  // FaultTarget
  bool SendBadHeader(uint32_t* debugger) override;
  void Vanish() override;

  const Options m_options;
  const Clock m_clock;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  FaultPlan m_faults;
  CompanionProgram m_program;
  Debuggers m_debuggers;
  RequestServer m_server;
  ImageTransfer m_images;
};

}  // namespace sim
