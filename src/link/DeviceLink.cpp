#include "link/DeviceLink.h"

#include <utility>

#include "link/KAVHostIO.h"
#include "link/LinkSystem.h"
#include "platform/Mutex.h"
#include "platform/Platform.h"
#include "support/Diag.h"
#include "support/Log.h"

QUILL_LOG_TAG("DeviceLink")

DeviceLink::DeviceLink()
    : m_ownSystem(std::make_unique<PlatformLinkSystem>()),
      m_system(*m_ownSystem),
      m_session(m_link, m_system),
      m_download(m_session, m_system) {
  m_link.SetFailureHandler(&m_session);
}

DeviceLink::DeviceLink(LinkSystem& system)
    : m_system(system), m_session(m_link, m_system), m_download(m_session, m_system) {
  m_link.SetFailureHandler(&m_session);
}

DeviceLink::~DeviceLink() {
  if (Shutdown()) return;
  // Nothing may be freed under the writer: its write ends some time.
  { ScopedMutex lock(m_link.GetLock()); }
  Shutdown();
}

void DeviceLink::Init(int32_t channel) {
  Init(channel, nullptr);
}

void DeviceLink::Init(int32_t channel, std::unique_ptr<CKAVHostIO> hostIo) {
  QASSERT_TAGGED(m_hostIo == NULL);
  m_hostIo = hostIo != nullptr ? std::move(hostIo) : std::make_unique<CKAVHostIO>(m_system);
  m_link.Bind(m_hostIo.get(), channel);
  m_session.Bind(m_hostIo.get());
  m_link.Disconnected();
}

bool DeviceLink::Shutdown() {
  if (m_hostIo == nullptr) return true;
  Mutex& lock = m_link.GetLock();
  while (!lock.TryLock()) {
    // Another thread's packet: over in a moment, unless the device stopped
    // reading.
    const uint64_t blocked = m_link.GetWriteBlockedMs();
    if (blocked >= SHUTDOWN_WAIT_MS) {
      LOG_AT("Shutdown skipped: a write has been blocked for %llu ms\n", static_cast<unsigned long long>(blocked));
      return false;
    }
    platform::SleepMs(1);
  }
  m_link.CloseChannel();
  m_session.Shutdown();
  m_link.Bind(nullptr, m_link.GetChannel());
  m_hostIo.reset();
  m_link.Disconnected();
  lock.Unlock();
  return true;
}
