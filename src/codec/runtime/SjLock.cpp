#include "runtime/SjLock.h"

#include <atomic>
#include <mutex>
#include <new>

#include "runtime/ErrorHook.h"

namespace {

// Made and destroyed by the service's first start and last finish, which run
// while no ring operation can (QuillDll's set-up lock); read by every operation.
std::atomic<std::mutex*> s_lock{nullptr};

const char NOT_READY[] = " : The function has been executed before initialization (or after finalization).";

}  // namespace

bool SjLock_Create() {
  if (s_lock.load(std::memory_order_acquire) != nullptr) return true;
  auto* lock = new (std::nothrow) std::mutex;
  if (lock == nullptr) {
    ErrorHook_Report("E2006101804 : Failed to create critical section.");
    return false;
  }
  s_lock.store(lock, std::memory_order_release);
  return true;
}

void SjLock_Destroy() {
  delete s_lock.exchange(nullptr, std::memory_order_acq_rel);
}

SjScopedLock::SjScopedLock() : m_held(nullptr) {
  std::mutex* lock = s_lock.load(std::memory_order_acquire);
  if (lock == nullptr) {
    ErrorHook_Report("E2006022403", NOT_READY);
    return;
  }
  lock->lock();
  m_held = lock;
}

SjScopedLock::~SjScopedLock() {
  if (m_held == nullptr) {
    ErrorHook_Report("E2006022404", NOT_READY);
    return;
  }
  static_cast<std::mutex*>(m_held)->unlock();
}
