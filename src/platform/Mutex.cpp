#include "platform/Mutex.h"

#include "platform/Platform.h"
#include "support/Diag.h"

#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <mutex>
#endif

#ifdef _WIN32

// A critical section: taken and released without a system call while no
// other thread holds it, and re-entrant for its owner like a mutex.
Mutex::Mutex() : m_impl(new (std::nothrow) CRITICAL_SECTION) {
  CheckAt("Mutex", "Mutex::Mutex", __LINE__, m_impl != nullptr, "CRITICAL_SECTION failed: no memory");
  InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl));
}

Mutex::~Mutex() {
  DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl));
  delete static_cast<CRITICAL_SECTION*>(m_impl);
}

void Mutex::Lock() {
  EnterCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl));
}

bool Mutex::TryLock() {
  return TryEnterCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl)) != FALSE;
}

void Mutex::Unlock() {
  LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl));
}

#else

Mutex::Mutex() : m_impl(new (std::nothrow) std::recursive_mutex()) {
  CheckAt("Mutex", "Mutex::Mutex", __LINE__, m_impl != nullptr, "recursive_mutex failed: no memory");
}

Mutex::~Mutex() {
  delete static_cast<std::recursive_mutex*>(m_impl);
}

void Mutex::Lock() {
  static_cast<std::recursive_mutex*>(m_impl)->lock();
}

bool Mutex::TryLock() {
  return static_cast<std::recursive_mutex*>(m_impl)->try_lock();
}

void Mutex::Unlock() {
  static_cast<std::recursive_mutex*>(m_impl)->unlock();
}

#endif
