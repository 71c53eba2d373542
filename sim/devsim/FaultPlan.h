// Every fault that quill-devsim injects (--fault), in one place: the parts
// of the device ask here whether a fault applies now, and the fault's event
// is written here.
//
//   short@N      the request server: how much of the PC's Nth write the
//                program takes, and how many writes may go unanswered
//                before it (the short one must be answered);
//   close@N      the companion program: whether it drops the link after
//                its Nth audio packet;
//   badheader@T, vanish@T:S, stall@T:MS
//                the device's clock: applied at their times through a
//                FaultTarget; a vanish and a stall then hold until they
//                end (Vanished, Stalling, StallsAt).
//
// Each fault applies once. Callers hold the device's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "EventLog.h"
#include "Options.h"

namespace sim {

// What the timed faults do to the device.
class FaultTarget {
 public:
  virtual ~FaultTarget() = default;
  // The program sends a malformed header on the channel it is attached to;
  // false when it is attached nowhere (the fault waits for an attach).
  virtual bool SendBadHeader(uint32_t* debugger) = 0;
  // Every debugger goes away: channels closed, connections dropped.
  virtual void Vanish() = 0;
};

class FaultPlan {
 public:
  FaultPlan(const std::vector<FaultSpec>& faults, EventLog& events);
  FaultPlan(const FaultPlan&) = delete;
  FaultPlan& operator=(const FaultPlan&) = delete;

  // short@N: how many of the asked bytes of the PC's answered write number
  // write (counting from 1, posted writes included) the program takes.
  // Posted writes are taken whole: a short one due among them falls on the
  // next answered write.
  size_t TakenOfAnsweredWrite(uint64_t write, size_t asked);
  // How many writes may follow write number writes before a short one is
  // due; UINT64_MAX when none is.
  uint64_t WritesBeforeShort(uint64_t writes) const;
  // close@N: true when the program drops the link after its audio packet
  // number packets.
  bool CloseAfterAudio(uint64_t packets);

  // The clock: ends a vanish or a stall that is over, then applies the timed
  // faults that are due (their times count from the first attach, none
  // applies before one).
  void Tick(uint64_t now, bool everAttached, uint64_t firstAttachMs, FaultTarget& target);

  // The debuggers are unlisted and unreachable.
  bool Vanished() const { return m_vanished; }
  // A stall has begun and the clock has not ended it yet: no write is
  // granted, and a close does not wait for posted writes.
  bool Stalling() const { return m_stallUntilMs != 0; }
  // The program takes no write at now (the stall's time has not run out).
  bool StallsAt(uint64_t now) const { return m_stallUntilMs != 0 && now < m_stallUntilMs; }
  // An answered write has arrived: during a stall its writer now waits,
  // which the event log tells once per stall.
  void NoteAnsweredWrite();

 private:
  const std::vector<FaultSpec> m_faults;
  EventLog& m_events;
  std::vector<bool> m_done;  // per fault
  uint64_t m_vanishUntilMs = 0;
  bool m_vanished = false;
  uint64_t m_stallUntilMs = 0;     // 0: no stall
  bool m_stallWriteNoted = false;  // write_waits written for this stall
};

}  // namespace sim
