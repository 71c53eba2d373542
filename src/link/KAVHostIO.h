// Finds the development kit's host-I/O library at run time, loads it and
// binds its 22 entry points: kav_hostio32.dll (KAVHIO_ exports) from the
// places the SDK's variables name, else the KMC debugger's proxy
// devhio_proxy.dll (DEVHIO_ exports). Every candidate is loaded by its full
// path: a bare name is looked for in the program's folder, the system folder
// and PATH's folders (LinkSystem::LibraryFolders), never the current folder.
#pragma once

#include <string>

#include "link/HostIo.h"

class LinkSystem;

class CKAVHostIO {
 public:
  // The environment values and candidate paths of the search live in
  // buffers of this many characters, the terminator included; a candidate
  // that does not fit is skipped.
  static constexpr size_t PATH_BUFFER = 260;

  // Searches and loads the library and binds the slots. Always succeeds: with
  // no library the module stays null and every slot holds its stand-in
  // (kHostIoStandIns). system is not owned and must outlive the object.
  explicit CKAVHostIO(LinkSystem& system);
  // A table made by the caller (tests: an in-process fake); no module. Its
  // null slots get their stand-ins.
  CKAVHostIO(LinkSystem& system, const HostIoFunctions& functions);
  CKAVHostIO(const CKAVHostIO&) = delete;
  CKAVHostIO& operator=(const CKAVHostIO&) = delete;
  // Frees the library if one was loaded; the module becomes null and every
  // slot its stand-in.
  virtual ~CKAVHostIO();

  // Always full: no slot is null.
  const HostIoFunctions& Functions() const { return m_functions; }
  // The table of hostIo, or the stand-ins while none is bound (null).
  static const HostIoFunctions& FunctionsOf(const CKAVHostIO* hostIo) {
    return hostIo != nullptr ? hostIo->Functions() : kHostIoStandIns;
  }
  bool IsLoaded() const { return m_module != nullptr; }
  // Number of slots bound to an entry point (not a stand-in).
  int BoundSlotCount() const;

 private:
  void Search();
  // Loads folder + separator + name when it fits the path buffer and is a
  // full path.
  bool LoadFrom(const std::string& folder, const char* name);
  // Loads name from the first of the library folders that has it.
  bool LoadByName(const char* name);
  void Bind(const char* prefix);
  // A variable's value when it is set, not empty and fits the buffer.
  bool ReadVariable(const char* name, std::string* value);

  LinkSystem& m_system;
  void* m_module = nullptr;  // owned: freed by the destructor
  HostIoFunctions m_functions = kHostIoStandIns;
};
