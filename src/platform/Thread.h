// One worker thread: started with an entry function and its context, joined
// by its owner. Windows: CreateThread; natively a POSIX thread.
#pragma once

#include <cstdint>

class Thread {
 public:
  using Entry = void (*)(void* context);

  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Joins a thread that is still running.
  ~Thread();

  // Starts the thread; false (with the system's last error kept) when it
  // cannot be created or a thread is already running.
  bool Start(Entry entry, void* context);
  // Waits for the thread to end and releases it. Does nothing without a thread.
  void Join();
  // Waits at most ms milliseconds (0: only looks); true when the thread has
  // ended and was released, or there was none. A thread still running stays
  // started, to be joined later.
  bool JoinFor(uint32_t ms);
  bool IsStarted() const { return m_handle != nullptr; }

  // THREAD_PRIORITY_TIME_CRITICAL on Windows; natively the request is
  // tried and its failure (no privilege) ignored.
  void SetTimeCritical();

 private:
  void* m_handle = nullptr;
};
