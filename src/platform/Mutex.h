// A re-entrant lock and its guards. Windows: a critical section (no system
// call unless another thread holds it; its owner may take it again);
// natively a recursive mutex.
//
// The mutex exists from the owner's construction to its destruction: there
// is no state in which Lock does nothing. When there is no memory for one,
// the constructor ends the process with the fatal report.
#pragma once

class Mutex {
 public:
  Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  virtual ~Mutex();

  // Waits without a time limit.
  void Lock();
  // Takes the mutex when it is free (or already this thread's); never waits.
  bool TryLock();
  void Unlock();

 private:
  void* m_impl;  // CRITICAL_SECTION (Windows) or std::recursive_mutex, owned
};

class ScopedMutex {
 public:
  explicit ScopedMutex(Mutex& mutex) : m_mutex(&mutex) { m_mutex->Lock(); }
  ScopedMutex(const ScopedMutex&) = delete;
  ScopedMutex& operator=(const ScopedMutex&) = delete;
  virtual ~ScopedMutex() { m_mutex->Unlock(); }

 private:
  Mutex* m_mutex;
};

// Takes the mutex only when that needs no waiting; IsLocked tells whether it
// did. For the main thread, which skips a step rather than wait behind a
// worker.
class TryScopedMutex {
 public:
  explicit TryScopedMutex(Mutex& mutex) : m_mutex(&mutex), m_locked(mutex.TryLock()) {}
  TryScopedMutex(const TryScopedMutex&) = delete;
  TryScopedMutex& operator=(const TryScopedMutex&) = delete;
  ~TryScopedMutex() {
    if (m_locked) m_mutex->Unlock();
  }
  bool IsLocked() const { return m_locked; }

 private:
  Mutex* m_mutex;
  bool m_locked;
};
