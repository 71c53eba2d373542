// An unnamed, re-entrant operating-system mutex and its lock guard.
// Windows: a Win32 mutex (CreateMutexA), which its owning thread may take
// again; natively a recursive mutex.
#pragma once

class Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  virtual ~Mutex();

  // Creates the mutex, unowned. A second creation is an assertion.
  void Create();
  // Closes the mutex if it exists.
  void Close();
  bool IsCreated() const { return m_hMutex != nullptr; }

  // Waits without a time limit.
  void Lock();
  void Unlock();

 private:
  void* m_hMutex = nullptr;
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
