#include "platform/Mutex.h"

#include "support/Diag.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <mutex>
#endif

Mutex::~Mutex() {
  Close();
}

#ifdef _WIN32

void Mutex::Create() {
  QASSERT(m_hMutex == NULL);
  m_hMutex = CreateMutexA(nullptr, FALSE, nullptr);
}

void Mutex::Close() {
  if (m_hMutex != nullptr) {
    CloseHandle(static_cast<HANDLE>(m_hMutex));
    m_hMutex = nullptr;
  }
}

void Mutex::Lock() {
  if (m_hMutex != nullptr) WaitForSingleObject(static_cast<HANDLE>(m_hMutex), INFINITE);
}

void Mutex::Unlock() {
  if (m_hMutex != nullptr) ReleaseMutex(static_cast<HANDLE>(m_hMutex));
}

#else

void Mutex::Create() {
  QASSERT(m_hMutex == NULL);
  m_hMutex = new std::recursive_mutex();
}

void Mutex::Close() {
  delete static_cast<std::recursive_mutex*>(m_hMutex);
  m_hMutex = nullptr;
}

void Mutex::Lock() {
  if (m_hMutex != nullptr) static_cast<std::recursive_mutex*>(m_hMutex)->lock();
}

void Mutex::Unlock() {
  if (m_hMutex != nullptr) static_cast<std::recursive_mutex*>(m_hMutex)->unlock();
}

#endif
