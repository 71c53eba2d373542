// The entry points of the development kit's host-I/O library, as the program
// binds them: 22 slots in a fixed order, the box interface record that the
// library hands out, and the download callback types.
#pragma once

#include <cstddef>
#include <cstdint>

// Every entry uses the C calling convention (the caller pops the arguments).
#if defined(_WIN32) && !defined(_WIN64)
#define HOSTIO_CALL __cdecl
#else
#define HOSTIO_CALL
#endif

namespace hostio {

// getDllType's answer for the maker's debugger box; any other value is
// another debugger (the KMC debugger).
constexpr int32_t DLL_TYPE_BOX = 1;

// Capacity of the id array of a listing host_find call.
constexpr int32_t DEBUGGER_LIST_MAX = 16;

// The box interface's progress callback: (context, bytes done, bytes total);
// returns 1 to go on.
using DownloadProgressFn = int32_t(HOSTIO_CALL*)(void* context, uint64_t done, uint64_t total);
// The box interface's download entry: (box handle, image path, progress
// callback, context); non-zero on success.
using DownloadProgramFn = int32_t(HOSTIO_CALL*)(void* boxHandle, const char* path, DownloadProgressFn progress,
                                                void* context);

// The box interface record is a run of pointer-sized words owned by the
// library; the program reads two of them.
constexpr size_t RAW_WORD_BOX_HANDLE = 2;
constexpr size_t RAW_WORD_DOWNLOAD_PROGRAM = 16;
constexpr size_t RAW_WORD_COUNT = 17;  // words the program may read

inline void* RawBoxHandle(const void* raw) {
  return reinterpret_cast<void*>(static_cast<const uintptr_t*>(raw)[RAW_WORD_BOX_HANDLE]);
}
inline DownloadProgramFn RawDownloadProgram(const void* raw) {
  return reinterpret_cast<DownloadProgramFn>(static_cast<const uintptr_t*>(raw)[RAW_WORD_DOWNLOAD_PROGRAM]);
}

}  // namespace hostio

// The 22 slots in export order. The export name is "KAVHIO_" or "DEVHIO_"
// followed by the slot name. The table the program calls through is always
// full: a slot the library lacks (every slot, when none was loaded) holds its
// stand-in from kHostIoStandIns, so callers call without testing for null.
struct HostIoFunctions {
  int32_t(HOSTIO_CALL* host_find)(int32_t* ids, int32_t capacity);
  int32_t(HOSTIO_CALL* host_connect)(int32_t id);
  int32_t(HOSTIO_CALL* host_disconnect)();
  int32_t(HOSTIO_CALL* host_getconnectid)();
  int32_t(HOSTIO_CALL* host_getversion)();
  int32_t(HOSTIO_CALL* sio_open)(int32_t channel);
  int32_t(HOSTIO_CALL* sio_close)(int32_t channel);
  int32_t(HOSTIO_CALL* sio_connect)(int32_t channel);
  int32_t(HOSTIO_CALL* sio_wait)(int32_t channel, int32_t block);
  int32_t(HOSTIO_CALL* sio_disconnect)(int32_t channel);
  int32_t(HOSTIO_CALL* sio_flush)(int32_t channel);
  int32_t(HOSTIO_CALL* sio_read)(int32_t channel, void* destination, int32_t size, int32_t block);
  int32_t(HOSTIO_CALL* sio_write)(int32_t channel, const void* source, int32_t size, int32_t block);
  int32_t(HOSTIO_CALL* sio_getReadableBytes)(int32_t channel, int32_t flags);
  int32_t(HOSTIO_CALL* sio_getWritableBytes)(int32_t channel, int32_t flags);
  int32_t(HOSTIO_CALL* smem_open)(int32_t id);
  int32_t(HOSTIO_CALL* smem_close)(int32_t id);
  int32_t(HOSTIO_CALL* smem_getsize)(int32_t id);
  int32_t(HOSTIO_CALL* smem_read)(int32_t id, void* destination, int32_t size);
  int32_t(HOSTIO_CALL* smem_write)(int32_t id, const void* source, int32_t size);
  int32_t(HOSTIO_CALL* getDllType)();
  void*(HOSTIO_CALL* getRawDllData)();
};

// The slot names in slot order (without prefix).
constexpr int HOSTIO_SLOT_COUNT = 22;
extern const char* const kHostIoSlotNames[HOSTIO_SLOT_COUNT];

// The stand-ins of missing entry points. Each does nothing and answers what
// the program has always taken a missing entry point to mean: a failure (-1;
// no box interface, getRawDllData's null), except that sio_open and
// sio_close answer 0 (done: nothing to open or close) and sio_wait 0 (no
// device program yet: the channel stays OPEN).
extern const HostIoFunctions kHostIoStandIns;
