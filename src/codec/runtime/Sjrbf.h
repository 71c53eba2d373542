// SJ: the stream-joint interface through which the ADX encoder and decoder
// pass samples and bytes, and SJRBF, its ring-buffer implementation.
//
// An SJ object has two lanes: lane 0 (SJ_LIN_FREE) holds free space, lane 1
// (SJ_LIN_DATA) holds data. Bytes move only as chunks: a producer takes a chunk
// of free space, fills it and adds it to the data lane; a consumer takes a
// chunk of data, reads it and adds it to the free lane. A chunk not (fully)
// used goes back to its lane with ReturnChunk, which accepts only the chunk
// taken last from that lane (or its tail).
//
// A ring works over the caller's work area of ringSize + mirrorSize bytes: the
// ring proper, then a mirror of the ring's first mirrorSize bytes. A chunk that
// starts near the ring's end runs on into the mirror and is still contiguous;
// adding data keeps ring and mirror alike. With mirrorSize == ringSize (as the
// library uses them) every chunk of up to ringSize bytes is contiguous.
//
// All ring operations of all rings run under one process-wide lock (SjLock.h).
// Errors go to the process-wide error hook (ErrorHook.h): a bad object as
// "E20040902nn : ..." and a bad argument through the ring's error function
// (code -3, "SJRBF Parameter Error" by default). No operation stops the process.
#pragma once

#include <cstdint>

enum : int32_t {
  SJ_LIN_FREE = 0,  // free space
  SJ_LIN_DATA = 1,  // data
};

// A contiguous piece of a work area. `data` is null for an empty chunk.
struct SjChunk {
  uint8_t* data;
  int32_t len;
};

struct SjObject;
using SjHandle = SjObject*;

// Receives an object's error code: -3 parameter, -2 internal, -1 fatal.
using SjErrorFunction = void (*)(void* context, int32_t code);

// The operations of an SJ object, in table order. The first three entries are
// empty (reserved for a generic object protocol that this library does not use).
struct SjInterface {
  void (*reserved[3])();
  void (*Destroy)(SjHandle sj);
  const char* (*GetIdentifier)(SjHandle sj);
  void (*Reset)(SjHandle sj);
  // Takes up to `n` contiguous bytes from the lane; the chunk may be shorter.
  void (*TakeChunk)(SjHandle sj, int32_t lane, int32_t n, SjChunk* chunk);
  // Gives back the chunk (or the tail of the chunk) taken last from the lane.
  void (*ReturnChunk)(SjHandle sj, int32_t lane, const SjChunk* chunk);
  // Adds a chunk to the lane (to the data lane: after its bytes were written).
  void (*AddChunk)(SjHandle sj, int32_t lane, const SjChunk* chunk);
  int32_t (*CountBytes)(SjHandle sj, int32_t lane);
  // *available = what TakeChunk would give now; true when that is all of `n`.
  bool (*CanTake)(SjHandle sj, int32_t lane, int32_t n, int32_t* available);
  void (*SetErrorFunction)(SjHandle sj, SjErrorFunction function, void* context);
};

// Every SJ object begins with its operations table.
struct SjObject {
  const SjInterface* vtbl;
};

inline void SJ_Destroy(SjHandle sj) {
  sj->vtbl->Destroy(sj);
}
inline const char* SJ_GetIdentifier(SjHandle sj) {
  return sj->vtbl->GetIdentifier(sj);
}
inline void SJ_Reset(SjHandle sj) {
  sj->vtbl->Reset(sj);
}
inline void SJ_TakeChunk(SjHandle sj, int32_t lane, int32_t n, SjChunk* chunk) {
  sj->vtbl->TakeChunk(sj, lane, n, chunk);
}
inline void SJ_ReturnChunk(SjHandle sj, int32_t lane, const SjChunk* chunk) {
  sj->vtbl->ReturnChunk(sj, lane, chunk);
}
inline void SJ_AddChunk(SjHandle sj, int32_t lane, const SjChunk* chunk) {
  sj->vtbl->AddChunk(sj, lane, chunk);
}
inline int32_t SJ_CountBytes(SjHandle sj, int32_t lane) {
  return sj->vtbl->CountBytes(sj, lane);
}
inline bool SJ_CanTake(SjHandle sj, int32_t lane, int32_t n, int32_t* available) {
  return sj->vtbl->CanTake(sj, lane, n, available);
}

// The ring buffer's interface identifier.
extern const char SJRBF_IDENTIFIER[];
// Rings come from a process-wide pool of this many.
constexpr int SJRBF_POOL_SIZE = 768;

// Service start and finish, counted: the first start makes the lock and clears
// the pool, the last finish clears the pool and destroys the lock. The count
// is not locked: the caller serialises them (QuillDll's set-up lock).
void SJRBF_Init();
void SJRBF_Finish();

// Makes a ring over `work` (ringSize + mirrorSize bytes, owned by the caller
// and outliving the ring), reset: all of it free. Null when the pool is full
// or the sizes are unusable (ringSize <= 0, mirrorSize < 0 or > ringSize).
SjHandle SJRBF_Create(uint8_t* work, int32_t ringSize, int32_t mirrorSize);

// The ring's work area and sizes (null or 0 for a bad object).
uint8_t* SJRBF_GetBufPtr(SjHandle sj);
int32_t SJRBF_GetBufSize(SjHandle sj);
int32_t SJRBF_GetXtrSize(SjHandle sj);

// The ring's operations table, for callers that hold no ring yet (tests).
const SjInterface* SJRBF_Interface();
