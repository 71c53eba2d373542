#include "link/LinkStates.h"

#include <cstdint>

#include "support/Log.h"

QUILL_LOG_TAG("LinkStates")

namespace {

using Status = PacketChannel::Status;
using Transition = LinkStates::Transition;

constexpr uint32_t Bit(Status status) {
  return 1u << static_cast<int>(status);
}
constexpr uint32_t ANY = Bit(Status::DISCONNECTED) | Bit(Status::CLOSED_PENDING_OPEN) | Bit(Status::CLOSE_ERROR) |
                         Bit(Status::OPEN) | Bit(Status::CONNECTED);
// A debugger is connected.
constexpr uint32_t LINKED = ANY & ~Bit(Status::DISCONNECTED);

struct Rule {
  Transition transition;
  const char* name;
  uint32_t from;  // the states it is allowed from (Bit of each)
  Status to;
};

// The allowed transitions: one row each, in the order of Transition; ANY is
// every state and LINKED every state but DISCONNECTED.
constexpr Rule kRules[] = {
    {Transition::DebuggerConnected, "DebuggerConnected", ANY, Status::CLOSED_PENDING_OPEN},
    {Transition::ChannelOpened, "ChannelOpened", Bit(Status::CLOSED_PENDING_OPEN), Status::OPEN},
    {Transition::ProgramAttached, "ProgramAttached", Bit(Status::OPEN), Status::CONNECTED},
    {Transition::ChannelClosing, "ChannelClosing", LINKED, Status::CLOSED_PENDING_OPEN},
    {Transition::CloseFailed, "CloseFailed", Bit(Status::CLOSED_PENDING_OPEN), Status::CLOSE_ERROR},
    {Transition::DebuggerLost, "DebuggerLost", LINKED, Status::DISCONNECTED},
    {Transition::Disconnected, "Disconnected", ANY, Status::DISCONNECTED},
};

constexpr bool RulesInOrder() {
  int i = 0;
  for (const Rule& rule : kRules) {
    if (static_cast<int>(rule.transition) != i++) return false;
  }
  return i == static_cast<int>(Transition::Disconnected) + 1;
}
static_assert(RulesInOrder(), "one rule per transition, in the order of Transition");

const char* StatusName(Status status) {
  switch (status) {
    case Status::DISCONNECTED:
      return "DISCONNECTED";
    case Status::CLOSED_PENDING_OPEN:
      return "CLOSED_PENDING_OPEN";
    case Status::CLOSE_ERROR:
      return "CLOSE_ERROR";
    case Status::OPEN:
      return "OPEN";
    case Status::CONNECTED:
      return "CONNECTED";
  }
  return "?";
}

}  // namespace

bool LinkStates::Apply(Transition transition) {
  const Rule& rule = kRules[static_cast<int>(transition)];
  const Status from = Get();
  if ((rule.from & Bit(from)) == 0) {
    LOG_AT("%s refused in %s\n", rule.name, StatusName(from));
    return false;
  }
  m_status.store(rule.to, std::memory_order_relaxed);
  return true;
}
