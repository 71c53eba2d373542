// The debugger requests of the stand-in libraries: find, connect and
// disconnect, channel 0's open, close and wait, its readable count and the
// watch on it, reads, and the PC's writes, answered (OP_SIO_WRITE) and
// posted (OP_SIO_POST), with the grant of unanswered writes that each
// answer carries. A read blocks until its bytes are there, a write while
// the program stalls, a close until the posted writes before it are taken.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "../common/SimProtocol.h"
#include "CompanionProgram.h"
#include "Debuggers.h"
#include "EventLog.h"
#include "FaultPlan.h"

namespace sim {

class RequestServer {
 public:
  // Requests wait on changed under mutex, the device's lock.
  RequestServer(Debuggers& debuggers, CompanionProgram& program, FaultPlan& faults, EventLog& events,
                const Clock& clock, std::mutex& mutex, std::condition_variable& changed);
  RequestServer(const RequestServer&) = delete;
  RequestServer& operator=(const RequestServer&) = delete;

  // One request (not an image transfer's); takes the lock.
  int32_t Handle(const Request& request, const std::vector<uint8_t>& payload, std::vector<uint8_t>* out);

 private:
  int32_t TakeWrite(Debugger* d, uint32_t session, const std::vector<uint8_t>& payload,
                    std::unique_lock<std::mutex>& lock, bool posted);
  uint32_t PostsGranted(const Debugger* d) const;
  // A write's grant (PostsGranted and the session, u32 each) into *out.
  void PutGrant(const Debugger* d, bool taken, std::vector<uint8_t>* out) const;
  void AwaitPostedWrites(Debugger* d, const std::vector<uint8_t>& written, std::unique_lock<std::mutex>& lock);

  Debuggers& m_debuggers;
  CompanionProgram& m_program;
  FaultPlan& m_faults;
  EventLog& m_events;
  const Clock& m_clock;
  std::mutex& m_mutex;
  std::condition_variable& m_changed;

  uint64_t m_pcWrites = 0;
  // The tokens of the stand-ins' ended watches, newest last.
  std::deque<uint32_t> m_endedWatches;
};

}  // namespace sim
