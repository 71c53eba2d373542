#include "platform/Thread.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sched.h>
#include <cerrno>
#endif

namespace {
struct Start {
  Thread::Entry entry;
  void* context;
};
}  // namespace

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

void Thread::SetTimeCritical() {
  if (m_handle != nullptr) SetThreadPriority(static_cast<HANDLE>(m_handle), THREAD_PRIORITY_TIME_CRITICAL);
}

#else

static void* ThreadTrampoline(void* param) {
  Start start = *static_cast<Start*>(param);
  delete static_cast<Start*>(param);
  start.entry(start.context);
  return nullptr;
}

bool Thread::Start(Entry entry, void* context) {
  if (m_handle != nullptr) return false;
  auto* start = new ::Start{entry, context};
  auto* id = new pthread_t;
  int rc = pthread_create(id, nullptr, ThreadTrampoline, start);
  if (rc != 0) {
    delete start;
    delete id;
    errno = rc;
    return false;
  }
  m_handle = id;
  return true;
}

void Thread::Join() {
  if (m_handle == nullptr) return;
  auto* id = static_cast<pthread_t*>(m_handle);
  pthread_join(*id, nullptr);
  delete id;
  m_handle = nullptr;
}

void Thread::SetTimeCritical() {
  if (m_handle == nullptr) return;
  sched_param param{};
  param.sched_priority = sched_get_priority_max(SCHED_FIFO);
  // Needs a privilege that tests do not have; normal priority is fine then.
  (void)pthread_setschedparam(*static_cast<pthread_t*>(m_handle), SCHED_FIFO, &param);
}

#endif
