#include "platform/Thread.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sched.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#endif

#ifdef _WIN32
namespace {
struct Start {
  Thread::Entry entry;
  void* context;
};
}  // namespace
#else
namespace {
// Whether the thread has returned from its entry, for a join with a time
// limit; shared by the thread and its owner.
struct Ended {
  std::mutex mutex;
  std::condition_variable changed;
  bool ended = false;
};
struct Start {
  Thread::Entry entry;
  void* context;
  std::shared_ptr<Ended> ended;
};
struct Handle {
  pthread_t id;
  std::shared_ptr<Ended> ended;
};
}  // namespace
#endif

Thread::~Thread() {
  Join();
}

#ifdef _WIN32

static DWORD WINAPI ThreadTrampoline(LPVOID param) {
  Start start = *static_cast<Start*>(param);
  delete static_cast<Start*>(param);
  start.entry(start.context);
  return 0;
}

bool Thread::Start(Entry entry, void* context) {
  if (m_handle != nullptr) return false;
  auto* start = new ::Start{entry, context};
  HANDLE h = CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
  if (h == nullptr) {
    DWORD error = GetLastError();
    delete start;
    SetLastError(error);
    return false;
  }
  m_handle = h;
  return true;
}

void Thread::Join() {
  if (m_handle == nullptr) return;
  WaitForSingleObject(static_cast<HANDLE>(m_handle), INFINITE);
  CloseHandle(static_cast<HANDLE>(m_handle));
  m_handle = nullptr;
}

bool Thread::JoinFor(uint32_t ms) {
  if (m_handle == nullptr) return true;
  if (WaitForSingleObject(static_cast<HANDLE>(m_handle), ms) != WAIT_OBJECT_0) return false;
  CloseHandle(static_cast<HANDLE>(m_handle));
  m_handle = nullptr;
  return true;
}

void Thread::SetTimeCritical() {
  if (m_handle != nullptr) SetThreadPriority(static_cast<HANDLE>(m_handle), THREAD_PRIORITY_TIME_CRITICAL);
}

#else

static void* ThreadTrampoline(void* param) {
  Start start = *static_cast<Start*>(param);
  delete static_cast<Start*>(param);
  start.entry(start.context);
  {
    std::lock_guard<std::mutex> lock(start.ended->mutex);
    start.ended->ended = true;
  }
  start.ended->changed.notify_all();
  return nullptr;
}

bool Thread::Start(Entry entry, void* context) {
  if (m_handle != nullptr) return false;
  auto ended = std::make_shared<Ended>();
  auto* start = new ::Start{entry, context, ended};
  auto* handle = new Handle{pthread_t(), ended};
  int rc = pthread_create(&handle->id, nullptr, ThreadTrampoline, start);
  if (rc != 0) {
    delete start;
    delete handle;
    errno = rc;
    return false;
  }
  m_handle = handle;
  return true;
}

void Thread::Join() {
  if (m_handle == nullptr) return;
  auto* handle = static_cast<Handle*>(m_handle);
  pthread_join(handle->id, nullptr);
  delete handle;
  m_handle = nullptr;
}

bool Thread::JoinFor(uint32_t ms) {
  if (m_handle == nullptr) return true;
  auto* handle = static_cast<Handle*>(m_handle);
  {
    std::unique_lock<std::mutex> lock(handle->ended->mutex);
    if (!handle->ended->changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return handle->ended->ended; })) {
      return false;
    }
  }
  // Past its entry: the join only collects it.
  Join();
  return true;
}

void Thread::SetTimeCritical() {
  if (m_handle == nullptr) return;
  sched_param param{};
  param.sched_priority = sched_get_priority_max(SCHED_FIFO);
  // Needs a privilege that tests do not have; normal priority is fine then.
  (void)pthread_setschedparam(static_cast<Handle*>(m_handle)->id, SCHED_FIFO, &param);
}

#endif
