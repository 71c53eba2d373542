// Replaces the global operator new and delete of the test program so that a
// test can count allocations. Kept in a file of its own so that the compiler
// never sees a replaced new and delete inlined against each other.
#include "AllocationCount.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> s_counting{false};
std::atomic<long> s_allocations{0};

}  // namespace

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
#else
bool AllocationCount_Available() {
  return true;
}

namespace {

void* Allocate(size_t size) {
  if (s_counting.load(std::memory_order_relaxed)) s_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
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
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
#endif
