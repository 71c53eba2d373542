// Counts the heap allocations of the test program while counting is on
// (operator new replaced), so that tests can show a path allocates nothing.
#include "HcaAllocationCount.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> s_counting{false};
std::atomic<long> s_count{0};
}  // namespace

void HcaAllocationCountStart() {
  s_count.store(0);
  s_counting.store(true);
}

long HcaAllocationCountStop() {
  s_counting.store(false);
  return s_count.load();
}

void* operator new(std::size_t size) {
  if (s_counting.load(std::memory_order_relaxed)) s_count.fetch_add(1, std::memory_order_relaxed);
  void* p = std::malloc(size != 0 ? size : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
// The nothrow forms must come from the same allocator as the deletes above.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (s_counting.load(std::memory_order_relaxed)) s_count.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
