// Replaces the global operator new and delete of the test program so that a
// test can count allocations. Kept in a file of its own so that the compiler
// never sees a replaced new and delete inlined against each other.
#include "AllocationCount.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

namespace {

std::atomic<bool> s_counting{false};
std::atomic<long> s_allocations{0};

// The blocks that operator delete keeps while s_holding.
constexpr int HELD_MAX = 64;
std::atomic<bool> s_holding{false};
std::mutex s_heldLock;
void* s_held[HELD_MAX];  // guarded by s_heldLock
int s_heldCount = 0;     // guarded by s_heldLock

}  // namespace

bool AllocationCount_IsHeld(const void* block) {
  std::lock_guard<std::mutex> lock(s_heldLock);
  for (int i = 0; i < s_heldCount; ++i) {
    if (s_held[i] == block) return true;
  }
  return false;
}

void AllocationCount_FreeHeld() {
  s_holding.store(false, std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(s_heldLock);
  for (int i = 0; i < s_heldCount; ++i) std::free(s_held[i]);
  s_heldCount = 0;
}

void AllocationCount_Start() {
  s_allocations.store(0, std::memory_order_relaxed);
  s_counting.store(true, std::memory_order_relaxed);
}

long AllocationCount_Stop() {
  s_counting.store(false, std::memory_order_relaxed);
  return s_allocations.load(std::memory_order_relaxed);
}

#if defined(QUILL_KEEP_OPERATOR_NEW)
// The sanitizer runtime owns operator new here: nothing is counted.
bool AllocationCount_Available() {
  return false;
}
void AllocationCount_HoldFrees() {}
#else
bool AllocationCount_Available() {
  return true;
}

void AllocationCount_HoldFrees() {
  s_holding.store(true, std::memory_order_relaxed);
}

namespace {

void* Allocate(size_t size) {
  if (s_counting.load(std::memory_order_relaxed)) s_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}

void Free(void* p) {
  if (p != nullptr && s_holding.load(std::memory_order_relaxed)) {
    std::lock_guard<std::mutex> lock(s_heldLock);
    if (s_heldCount < HELD_MAX) {
      s_held[s_heldCount++] = p;
      return;
    }
  }
  std::free(p);
}

}  // namespace

void* operator new(size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void operator delete(void* p) noexcept {
  Free(p);
}
void operator delete[](void* p) noexcept {
  Free(p);
}
void operator delete(void* p, size_t) noexcept {
  Free(p);
}
void operator delete[](void* p, size_t) noexcept {
  Free(p);
}
#endif
