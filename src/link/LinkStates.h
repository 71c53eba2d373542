// The packet link's connection state and the transitions between its
// values. PacketLink owns it and alone moves it: the debugger session and
// the device link ask PacketLink for a transition by name. A transition that
// the table (LinkStates.cpp) does not allow from the current state is
// refused: the state stays, the refusal is logged and the result is false.
//
// Threads: PacketLink makes every transition under its lock; Get is read by
// any thread without it.
#pragma once

#include <atomic>

#include "link/PacketChannel.h"

class LinkStates {
 public:
  using Status = PacketChannel::Status;

  // The events that move the state; each goes to one state.
  enum class Transition : int {
    // host_connect accepted a debugger: the channel is to be opened.
    DebuggerConnected,
    // sio_open succeeded: the channel waits for the device program.
    ChannelOpened,
    // sio_wait saw the device program: packets flow.
    ProgramAttached,
    // A close of the channel begins (a failure, a reset, the session's or
    // the owner's close), before sio_close is called.
    ChannelClosing,
    // sio_close failed; the next Update closes again.
    CloseFailed,
    // After a library failure, the debugger is no longer listed and was
    // dropped.
    DebuggerLost,
    // No debugger is connected: none found, a refused connect, the user's
    // Disconnect, the library bound or unbound.
    Disconnected,
  };

  LinkStates() = default;
  LinkStates(const LinkStates&) = delete;
  LinkStates& operator=(const LinkStates&) = delete;

  Status Get() const { return m_status.load(std::memory_order_relaxed); }

  // Moves to the transition's state when the table allows it from the
  // current one; otherwise logs the refusal and returns false.
  bool Apply(Transition transition);

 private:
  std::atomic<Status> m_status{Status::DISCONNECTED};
};
