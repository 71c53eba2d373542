// The process-wide lock that serialises every ring-buffer operation. It exists
// from the ring-buffer service's first start to its last finish (Sjrbf.h).
#pragma once

// Makes the lock; reports "E2006101804" and returns false when it cannot.
bool SjLock_Create();
// Destroys the lock; no ring operation may be running.
void SjLock_Destroy();

// Holds the lock for its scope. Used before the lock exists (or after it is
// gone) it reports E2006022403 on entry and E2006022404 on leaving and guards
// nothing.
class SjScopedLock {
 public:
  SjScopedLock();
  ~SjScopedLock();
  SjScopedLock(const SjScopedLock&) = delete;
  SjScopedLock& operator=(const SjScopedLock&) = delete;

 private:
  void* m_held;  // the lock taken on entry, or null
};
