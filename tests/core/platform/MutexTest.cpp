#include "platform/Mutex.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/Platform.h"
#include "platform/Thread.h"

namespace {
struct Shared {
  Mutex mutex;
  int counter = 0;  // guarded by mutex
  std::atomic<bool> entered{false};
  std::atomic<bool> reached{false};  // the thread is about to take the mutex
};

void AddMany(void* context) {
  auto* shared = static_cast<Shared*>(context);
  for (int i = 0; i < 20000; ++i) {
    ScopedMutex lock(shared->mutex);
    ScopedMutex again(shared->mutex);
    ++shared->counter;
  }
}

void EnterOnce(void* context) {
  auto* shared = static_cast<Shared*>(context);
  shared->reached.store(true, std::memory_order_relaxed);
  ScopedMutex lock(shared->mutex);
  shared->entered.store(true, std::memory_order_relaxed);
}

void TryOnce(void* context) {
  auto* shared = static_cast<Shared*>(context);
  TryScopedMutex lock(shared->mutex);
  shared->entered.store(lock.IsLocked(), std::memory_order_relaxed);
}

// Whether another thread would get `shared`'s mutex now.
bool FreeForAnotherThread(Shared& shared) {
  shared.entered.store(false, std::memory_order_relaxed);
  Thread t;
  const bool started = t.Start(TryOnce, &shared);
  EXPECT_TRUE(started) << "no thread to try the mutex from";
  if (!started) return false;
  t.Join();
  return shared.entered.load(std::memory_order_relaxed);
}
}  // namespace

// The owner may take its mutex again, and it stays the owner's until the
// outermost guard gives it back.
TEST(MutexTest, OwningThreadMayTakeItAgain) {
  Shared shared;
  {
    ScopedMutex outer(shared.mutex);
    {
      ScopedMutex inner(shared.mutex);
      ScopedMutex innermost(shared.mutex);
    }
    EXPECT_FALSE(FreeForAnotherThread(shared)) << "the inner guards gave back only their own turns";
  }
  EXPECT_TRUE(FreeForAnotherThread(shared));
}

// TryLock never waits: another thread's mutex is refused, a free one or the
// thread's own is taken (and given back by the guard).
TEST(MutexTest, TryLockTakesOnlyWhatIsFree) {
  Shared shared;
  Thread t;
  {
    ScopedMutex lock(shared.mutex);
    TryScopedMutex again(shared.mutex);
    EXPECT_TRUE(again.IsLocked()) << "the owner may take it again";
    ASSERT_TRUE(t.Start(TryOnce, &shared));
    t.Join();
    EXPECT_FALSE(shared.entered.load(std::memory_order_relaxed));
  }
  ASSERT_TRUE(t.Start(TryOnce, &shared));
  t.Join();
  EXPECT_TRUE(shared.entered.load(std::memory_order_relaxed));
  ASSERT_TRUE(t.Start(EnterOnce, &shared));
  t.Join();
}

TEST(MutexTest, ExcludesOtherThreads) {
  Shared shared;
  Thread a;
  Thread b;
  ASSERT_TRUE(a.Start(AddMany, &shared));
  ASSERT_TRUE(b.Start(AddMany, &shared));
  a.Join();
  b.Join();
  EXPECT_EQ(shared.counter, 40000);
}

// The other thread says when it is about to take the mutex; the check waits
// for that, whatever the scheduler does, and then gives it a moment to be
// inside Lock (a thread slower than that still finds the mutex held).
TEST(MutexTest, AnotherThreadWaitsUntilReleased) {
  Shared shared;
  Thread t;
  {
    ScopedMutex lock(shared.mutex);
    ASSERT_TRUE(t.Start(EnterOnce, &shared));
    while (!shared.reached.load(std::memory_order_relaxed)) platform::SleepMs(1);
    platform::SleepMs(20);
    EXPECT_FALSE(shared.entered.load(std::memory_order_relaxed));
  }
  t.Join();
  EXPECT_TRUE(shared.entered.load(std::memory_order_relaxed));
}

// A mutex locks from its construction on, and each one is its own: holding
// one does not keep another thread out of a second.
TEST(MutexTest, LocksFromConstructionAndEachIsItsOwn) {
  Shared first;
  Shared second;
  Thread t;
  {
    ScopedMutex lock(first.mutex);
    ASSERT_TRUE(t.Start(EnterOnce, &second));
    t.Join();
    EXPECT_TRUE(second.entered.load(std::memory_order_relaxed));
  }
  for (int i = 0; i < 100; ++i) {
    Shared made;
    ScopedMutex lock(made.mutex);
    ASSERT_FALSE(FreeForAnotherThread(made)) << "mutex " << i;
  }
}

TEST(ThreadTest, StartJoinAndRestart) {
  std::atomic<int> runs{0};
  Thread t;
  auto entry = [](void* c) { static_cast<std::atomic<int>*>(c)->fetch_add(1); };
  ASSERT_TRUE(t.Start(entry, &runs));
  EXPECT_FALSE(t.Start(entry, &runs)) << "one thread at a time";
  t.Join();
  EXPECT_FALSE(t.IsStarted());
  ASSERT_TRUE(t.Start(entry, &runs));
  t.SetTimeCritical();
  t.Join();
  EXPECT_EQ(runs.load(), 2);
  t.Join();  // harmless without a thread
}

TEST(ThreadTest, JoinForGivesUpOnARunningThreadAndCollectsItOnceEnded) {
  std::atomic<bool> release{false};
  Thread t;
  EXPECT_TRUE(t.JoinFor(0)) << "nothing to wait for";
  auto entry = [](void* c) {
    while (!static_cast<std::atomic<bool>*>(c)->load()) platform::SleepMs(1);
  };
  ASSERT_TRUE(t.Start(entry, &release));
  EXPECT_FALSE(t.JoinFor(0));
  EXPECT_FALSE(t.JoinFor(20));
  EXPECT_TRUE(t.IsStarted()) << "a thread still running stays to be joined";
  EXPECT_FALSE(t.Start(entry, &release));
  release.store(true);
  EXPECT_TRUE(t.JoinFor(60000));
  EXPECT_FALSE(t.IsStarted());
  ASSERT_TRUE(t.Start(entry, &release));  // and the object starts another
  t.Join();
}

TEST(ClockTest, MonotonicClockAdvancesWithSleep) {
  uint64_t before = platform::MonotonicMs();
  platform::SleepMs(30);
  uint64_t after = platform::MonotonicMs();
  EXPECT_GE(after - before, 25u);
}
