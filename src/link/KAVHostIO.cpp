#include "link/KAVHostIO.h"

#include <cstring>
#include <string>

#include "link/LinkSystem.h"
#include "platform/Platform.h"
#include "support/Log.h"

QUILL_LOG_TAG("CKAVHostIO")

const char* const kHostIoSlotNames[HOSTIO_SLOT_COUNT] = {"host_find",
                                                         "host_connect",
                                                         "host_disconnect",
                                                         "host_getconnectid",
                                                         "host_getversion",
                                                         "sio_open",
                                                         "sio_close",
                                                         "sio_connect",
                                                         "sio_wait",
                                                         "sio_disconnect",
                                                         "sio_flush",
                                                         "sio_read",
                                                         "sio_write",
                                                         "sio_getReadableBytes",
                                                         "sio_getWritableBytes",
                                                         "smem_open",
                                                         "smem_close",
                                                         "smem_getsize",
                                                         "smem_read",
                                                         "smem_write",
                                                         "getDllType",
                                                         "getRawDllData"};

namespace {

int32_t HOSTIO_CALL FailFind(int32_t*, int32_t) {
  return -1;
}
int32_t HOSTIO_CALL Fail() {
  return -1;
}
int32_t HOSTIO_CALL FailOn(int32_t) {
  return -1;
}
int32_t HOSTIO_CALL DoneOn(int32_t) {
  return 0;
}
int32_t HOSTIO_CALL NotYet(int32_t, int32_t) {
  return 0;
}
int32_t HOSTIO_CALL FailWithFlags(int32_t, int32_t) {
  return -1;
}
int32_t HOSTIO_CALL FailSioRead(int32_t, void*, int32_t, int32_t) {
  return -1;
}
int32_t HOSTIO_CALL FailSioWrite(int32_t, const void*, int32_t, int32_t) {
  return -1;
}
int32_t HOSTIO_CALL FailSmemRead(int32_t, void*, int32_t) {
  return -1;
}
int32_t HOSTIO_CALL FailSmemWrite(int32_t, const void*, int32_t) {
  return -1;
}
void* HOSTIO_CALL NoRawData() {
  return nullptr;
}

}  // namespace

const HostIoFunctions kHostIoStandIns = {
    FailFind,       // host_find: nothing found, the ids left alone
    FailOn,         // host_connect
    Fail,           // host_disconnect
    Fail,           // host_getconnectid
    Fail,           // host_getversion
    DoneOn,         // sio_open: done
    DoneOn,         // sio_close: done
    FailOn,         // sio_connect
    NotYet,         // sio_wait: no device program yet
    FailOn,         // sio_disconnect
    FailOn,         // sio_flush
    FailSioRead,    // sio_read
    FailSioWrite,   // sio_write
    FailWithFlags,  // sio_getReadableBytes
    FailWithFlags,  // sio_getWritableBytes
    FailOn,         // smem_open
    FailOn,         // smem_close
    FailOn,         // smem_getsize
    FailSmemRead,   // smem_read
    FailSmemWrite,  // smem_write
    Fail,           // getDllType: not the box
    NoRawData,      // getRawDllData: no box interface
};

namespace {

const char kHostIoDll[] = "kav_hostio32.dll";
const char kProxyDll[] = "devhio_proxy.dll";

// The slots as one array, in slot order, for binding and counting. Function
// pointers of different types share one size and representation on every
// target the program is built for.
using AnySlot = void (*)();
static_assert(sizeof(HostIoFunctions) == HOSTIO_SLOT_COUNT * sizeof(AnySlot), "slot table has gaps");

AnySlot GetSlot(const HostIoFunctions& functions, int index) {
  AnySlot slot;
  memcpy(&slot, reinterpret_cast<const char*>(&functions) + static_cast<size_t>(index) * sizeof(AnySlot), sizeof(slot));
  return slot;
}
void SetSlot(HostIoFunctions& functions, int index, AnySlot slot) {
  memcpy(reinterpret_cast<char*>(&functions) + static_cast<size_t>(index) * sizeof(AnySlot), &slot, sizeof(slot));
}
// Gives each null slot its stand-in.
void FillMissing(HostIoFunctions& functions) {
  for (int i = 0; i < HOSTIO_SLOT_COUNT; ++i) {
    if (GetSlot(functions, i) == nullptr) SetSlot(functions, i, GetSlot(kHostIoStandIns, i));
  }
}

}  // namespace

CKAVHostIO::CKAVHostIO(LinkSystem& system) : m_system(system) {
  Search();
}

CKAVHostIO::CKAVHostIO(LinkSystem& system, const HostIoFunctions& functions)
    : m_system(system), m_functions(functions) {
  FillMissing(m_functions);
}

CKAVHostIO::~CKAVHostIO() {
  if (m_module != nullptr) m_system.CloseLibrary(m_module);
  m_module = nullptr;
  m_functions = kHostIoStandIns;
}

int CKAVHostIO::BoundSlotCount() const {
  int count = 0;
  for (int i = 0; i < HOSTIO_SLOT_COUNT; ++i) {
    if (GetSlot(m_functions, i) != GetSlot(kHostIoStandIns, i)) ++count;
  }
  return count;
}

bool CKAVHostIO::ReadVariable(const char* name, std::string* value) {
  if (!m_system.GetEnv(name, value)) return false;
  if (value->empty() || value->size() >= PATH_BUFFER) {
    value->clear();
    return false;
  }
  return true;
}

bool CKAVHostIO::LoadFrom(const std::string& folder, const char* name) {
  std::string path = folder + LinkSystem::Separator() + name;
  if (path.size() >= PATH_BUFFER) return false;
  if (!m_system.IsFullPath(path.c_str())) {
    // A relative folder would mean the current one.
    LOG_AT("%s: \"%s\" is not a full path; not loaded\n", name, platform::PathToDisplay(path).c_str());
    return false;
  }
  m_module = m_system.OpenLibrary(path.c_str());
  if (m_module != nullptr) LOG_AT("Host-I/O library \"%s\"\n", platform::PathToDisplay(path).c_str());
  return m_module != nullptr;
}

bool CKAVHostIO::LoadByName(const char* name) {
  // The program's folder, the system folder and PATH's folders, never the
  // current folder: the system's own search by name would include it.
  for (const std::string& folder : m_system.LibraryFolders()) {
    if (LoadFrom(folder, name)) return true;
  }
  return false;
}

void CKAVHostIO::Search() {
  // Keep the KMC variable's first value: a debugger session may have pointed
  // KMC_KAVHOSTIO elsewhere since.
  std::string original;
  std::string value;
  const bool hadOriginal = ReadVariable("KMC_KAVHOSTIO_ORIGINAL", &original);
  if (!hadOriginal && ReadVariable("KMC_KAVHOSTIO", &value)) m_system.SetEnv("KMC_KAVHOSTIO_ORIGINAL", value.c_str());

  // The SDK's library, from the most specific place to the search by name.
  if (ReadVariable("KAV_HOSTIO_DLL_PATH", &value)) LoadFrom(value, kHostIoDll);
  if (m_module == nullptr && ReadVariable("KAVSDK_ROOT", &value)) {
    LoadFrom(value + LinkSystem::Separator() + "libraries" + LinkSystem::Separator() + "Win32-x86", kHostIoDll);
  }
  if (m_module == nullptr && ReadVariable("QD_KAV_DIR", &value)) {
    LoadFrom(value + LinkSystem::Separator() + "x86" + LinkSystem::Separator() + "bin", kHostIoDll);
  }
  if (m_module == nullptr) LoadByName(kHostIoDll);
  if (m_module != nullptr) {
    Bind("KAVHIO_");
    return;
  }

  // The KMC debugger's proxy.
  if (hadOriginal) m_system.SetEnv("KMC_KAVHOSTIO", original.c_str());
  if (ReadVariable("KMC_KAVHOSTIO", &value)) LoadFrom(value + LinkSystem::Separator() + "BIN", kProxyDll);
  if (m_module == nullptr) LoadByName(kProxyDll);
  if (m_module != nullptr) Bind("DEVHIO_");
}

void CKAVHostIO::Bind(const char* prefix) {
  for (int i = 0; i < HOSTIO_SLOT_COUNT; ++i) {
    std::string name = std::string(prefix) + kHostIoSlotNames[i];
    void* symbol = m_system.FindSymbol(m_module, name.c_str());
    SetSlot(m_functions, i, reinterpret_cast<AnySlot>(symbol));
  }
  // A missing export: its slot holds the stand-in.
  FillMissing(m_functions);
}
