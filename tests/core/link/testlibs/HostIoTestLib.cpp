// A tiny host-I/O library for the search tests: the 22 exports under one
// prefix (some left out on request); host_getversion tells the copies apart.
#include <cstdint>

#if defined(_WIN32)
#define TESTLIB_EXPORT extern "C" __declspec(dllexport)
#else
#define TESTLIB_EXPORT extern "C" __attribute__((visibility("default")))
#endif
#define TESTLIB_CAT2(a, b) a##b
#define TESTLIB_CAT(a, b) TESTLIB_CAT2(a, b)
#define ENTRY(name) TESTLIB_CAT(TESTLIB_PREFIX, name)
#define DEFINE(name)                    \
  TESTLIB_EXPORT int32_t ENTRY(name)(); \
  int32_t ENTRY(name)() {               \
    return 0;                           \
  }

TESTLIB_EXPORT int32_t ENTRY(host_getversion)();
int32_t ENTRY(host_getversion)() {
  return TESTLIB_MARK;
}

DEFINE(host_find)
DEFINE(host_connect)
DEFINE(host_disconnect)
DEFINE(host_getconnectid)
DEFINE(sio_open)
DEFINE(sio_close)
DEFINE(sio_connect)
DEFINE(sio_wait)
DEFINE(sio_disconnect)
DEFINE(sio_flush)
DEFINE(sio_read)
DEFINE(sio_write)
DEFINE(sio_getReadableBytes)
#ifndef TESTLIB_PARTIAL
DEFINE(sio_getWritableBytes)
#endif
DEFINE(smem_open)
DEFINE(smem_close)
DEFINE(smem_getsize)
DEFINE(smem_read)
DEFINE(smem_write)
DEFINE(getDllType)
DEFINE(getRawDllData)
