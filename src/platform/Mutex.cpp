#include "platform/Mutex.h"

#include "platform/Platform.h"
#include "support/Diag.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <mutex>
#include <new>
#endif

#ifdef _WIN32

Mutex::Mutex() : m_hMutex(CreateMutexA(nullptr, FALSE, nullptr)) {
  SetErrorLocation("Mutex", "Mutex::Mutex", __LINE__);
  Check(m_hMutex != nullptr, "CreateMutex failed: last error is %u", platform::LastError());
}

Mutex::~Mutex() {
  CloseHandle(static_cast<HANDLE>(m_hMutex));
}

void Mutex::Lock() {
  WaitForSingleObject(static_cast<HANDLE>(m_hMutex), INFINITE);
}

bool Mutex::TryLock() {
  // An abandoned mutex is this thread's now, as with Lock.
  const DWORD r = WaitForSingleObject(static_cast<HANDLE>(m_hMutex), 0);
  return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

void Mutex::Unlock() {
  ReleaseMutex(static_cast<HANDLE>(m_hMutex));
}

#else

Mutex::Mutex() : m_hMutex(new (std::nothrow) std::recursive_mutex()) {
  SetErrorLocation("Mutex", "Mutex::Mutex", __LINE__);
  Check(m_hMutex != nullptr, "recursive_mutex failed: no memory");
}

Mutex::~Mutex() {
  delete static_cast<std::recursive_mutex*>(m_hMutex);
}

void Mutex::Lock() {
  static_cast<std::recursive_mutex*>(m_hMutex)->lock();
}

bool Mutex::TryLock() {
  return static_cast<std::recursive_mutex*>(m_hMutex)->try_lock();
}

void Mutex::Unlock() {
  static_cast<std::recursive_mutex*>(m_hMutex)->unlock();
}

#endif
