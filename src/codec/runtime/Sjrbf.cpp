#include "runtime/Sjrbf.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/ErrorHook.h"
#include "runtime/SjLock.h"

const char SJRBF_IDENTIFIER[] = "{3B9A9E81-0DBB-11D2-A6BF-444553540000}";

namespace {

constexpr int32_t ERR_PARAMETER = -3;

struct SjrbfObject : SjObject {
  int32_t used;            // non-zero while created
  const char* identifier;  // SJRBF_IDENTIFIER
  int32_t count[2];        // bytes in each lane
  int32_t pos[2];          // next position to take from each lane, 0 .. ringSize - 1
  uint8_t* buffer;         // the caller's work area
  int32_t ringSize;
  int32_t mirrorSize;
  SjErrorFunction errorFunction;
  void* errorContext;
};

SjrbfObject s_pool[SJRBF_POOL_SIZE];
// Service users. Not locked: Init and Finish run only under QuillDll's set-up
// lock, like every service start and finish of the codec runtime.
int s_users = 0;

const char NULL_OBJECT[] = " : NULL pointer is passed.";
const char BAD_OBJECT[] = " : Specified handle is invalid.";
const char BAD_SIZE[] = " : Illegal buffer size.";

// The default error function: turns the code into a message for the hook.
void ReportCode(void* /*context*/, int32_t code) {
  switch (code) {
    case -3:
      ErrorHook_Report("SJRBF Parameter Error");
      break;
    case -2:
      ErrorHook_Report("SJRBF Internal Error");
      break;
    case -1:
      ErrorHook_Report("SJRBF Fatal Error");
      break;
    default:
      ErrorHook_Report("SJRBF Error");
      break;
  }
}

// The ring behind `sj`, or null after reporting a null or uncreated object.
SjrbfObject* Checked(SjHandle sj, const char* nullCode, const char* badCode) {
  if (sj == nullptr) {
    ErrorHook_Report(nullCode, NULL_OBJECT);
    return nullptr;
  }
  auto* rb = static_cast<SjrbfObject*>(sj);
  if (rb->used == 0) {
    ErrorHook_Report(badCode, BAD_OBJECT);
    return nullptr;
  }
  return rb;
}

void Fail(SjrbfObject* rb, int32_t code) {
  if (rb->errorFunction != nullptr) rb->errorFunction(rb->errorContext, code);
}

bool ValidLane(int32_t lane) {
  return lane == SJ_LIN_FREE || lane == SJ_LIN_DATA;
}

// The chunk's offset in the work area when the whole chunk lies inside it, else -1.
int32_t OffsetOf(const SjrbfObject* rb, const SjChunk* chunk) {
  const int32_t total = rb->ringSize + rb->mirrorSize;
  const auto base = reinterpret_cast<uintptr_t>(rb->buffer);
  const auto at = reinterpret_cast<uintptr_t>(chunk->data);
  if (at < base || at - base >= static_cast<uintptr_t>(total)) return -1;
  const auto offset = static_cast<int32_t>(at - base);
  if (chunk->len > total - offset) return -1;
  return offset;
}

const SjInterface* Table();

// A pooled object keeps its table when it is cleared, so that a stale handle
// is reported as invalid instead of calling through a null table.
void Clear(SjrbfObject* rb) {
  *rb = SjrbfObject{};
  rb->vtbl = Table();
}

void ResetLocked(SjrbfObject* rb) {
  rb->pos[0] = rb->pos[1] = 0;
  rb->count[SJ_LIN_DATA] = 0;
  rb->count[SJ_LIN_FREE] = rb->ringSize;
}

void Destroy(SjHandle sj) {
  SjScopedLock lock;
  SjrbfObject* rb = Checked(sj, "E2004090201", "E2004090202");
  if (rb == nullptr) return;
  Clear(rb);
}

const char* GetIdentifier(SjHandle sj) {
  SjScopedLock lock;
  SjrbfObject* rb = Checked(sj, "E2004090203", "E2004090204");
  return rb != nullptr ? rb->identifier : nullptr;
}

void Reset(SjHandle sj) {
  SjScopedLock lock;
  SjrbfObject* rb = Checked(sj, "E2004090207", "E2004090208");
  if (rb != nullptr) ResetLocked(rb);
}

void TakeChunk(SjHandle sj, int32_t lane, int32_t n, SjChunk* chunk) {
  SjScopedLock lock;
  if (chunk != nullptr) *chunk = SjChunk{nullptr, 0};
  SjrbfObject* rb = Checked(sj, "E2004090211", "E2004090212");
  if (rb == nullptr) return;
  if (rb->ringSize == 0) {
    ErrorHook_Report("E2004090219", BAD_SIZE);
    return;
  }
  if (!ValidLane(lane) || chunk == nullptr) {
    Fail(rb, ERR_PARAMETER);
    return;
  }
  int32_t room = rb->ringSize + rb->mirrorSize - rb->pos[lane];
  if (rb->count[lane] < room) room = rb->count[lane];
  const int32_t len = n < 0 ? 0 : (n < room ? n : room);
  chunk->data = rb->buffer + rb->pos[lane];
  chunk->len = len;
  rb->pos[lane] = (rb->pos[lane] + len) % rb->ringSize;
  rb->count[lane] -= len;
}

void ReturnChunk(SjHandle sj, int32_t lane, const SjChunk* chunk) {
  SjScopedLock lock;
  SjrbfObject* rb = Checked(sj, "E2004090215", "E2004090216");
  if (rb == nullptr) return;
  if (rb->ringSize == 0) {
    ErrorHook_Report("E2004090220", BAD_SIZE);
    return;
  }
  if (!ValidLane(lane) || chunk == nullptr || chunk->len < 0) {
    Fail(rb, ERR_PARAMETER);
    return;
  }
  if (chunk->data == nullptr || chunk->len == 0) return;
  const int32_t offset = OffsetOf(rb, chunk);
  // Only bytes that were taken can come back: never more than the lane lacks.
  if (offset < 0 || chunk->len > rb->ringSize - rb->count[lane]) {
    Fail(rb, ERR_PARAMETER);
    return;
  }
  const int32_t p = (rb->ringSize + rb->pos[lane] - chunk->len) % rb->ringSize;
  if (p != offset % rb->ringSize) {
    Fail(rb, ERR_PARAMETER);
    return;
  }
  rb->pos[lane] = p;
  rb->count[lane] += chunk->len;
}

void AddChunk(SjHandle sj, int32_t lane, const SjChunk* chunk) {
  SjScopedLock lock;
  SjrbfObject* rb = Checked(sj, "E2004090213", "E2004090214");
  if (rb == nullptr) return;
  if (!ValidLane(lane)) {
    Fail(rb, ERR_PARAMETER);
    return;
  }
  if (chunk == nullptr || chunk->data == nullptr || chunk->len == 0) return;
  const int32_t offset = chunk->len < 0 ? -1 : OffsetOf(rb, chunk);
  // A chunk from elsewhere, or more bytes than the ring can hold, is refused
  // rather than copied or counted.
  if (offset < 0 || chunk->len > rb->ringSize - rb->count[lane]) {
    Fail(rb, ERR_PARAMETER);
    return;
  }
  if (lane == SJ_LIN_DATA) {
    const int32_t end = offset + chunk->len;
    const int32_t ring = rb->ringSize;
    // The part in the ring's first mirrorSize bytes goes to the mirror too...
    if (offset < rb->mirrorSize) {
      const int32_t stop = end < rb->mirrorSize ? end : rb->mirrorSize;
      std::memcpy(rb->buffer + ring + offset, rb->buffer + offset, static_cast<size_t>(stop - offset));
    }
    // ...and the part written into the mirror goes to the ring's start.
    if (end > ring) {
      const int32_t start = offset > ring ? offset : ring;
      std::memcpy(rb->buffer + (start - ring), rb->buffer + start, static_cast<size_t>(end - start));
    }
  }
  rb->count[lane] += chunk->len;
}

int32_t CountBytes(SjHandle sj, int32_t lane) {
  SjScopedLock lock;
  SjrbfObject* rb = Checked(sj, "E2004090209", "E2004090210");
  if (rb == nullptr) return 0;
  if (!ValidLane(lane)) {
    Fail(rb, ERR_PARAMETER);
    return 0;
  }
  return rb->count[lane];
}

bool CanTake(SjHandle sj, int32_t lane, int32_t n, int32_t* available) {
  SjScopedLock lock;
  if (available != nullptr) *available = 0;
  SjrbfObject* rb = Checked(sj, "E2004090217", "E2004090218");
  if (rb == nullptr) return false;
  if (!ValidLane(lane)) {
    Fail(rb, ERR_PARAMETER);
    return false;
  }
  if (n < 0) n = 0;
  int32_t room = rb->ringSize + rb->mirrorSize - rb->pos[lane];
  if (rb->count[lane] < room) room = rb->count[lane];
  const int32_t len = n < room ? n : room;
  if (available != nullptr) *available = len;
  return len == n;
}

void SetErrorFunction(SjHandle sj, SjErrorFunction function, void* context) {
  SjScopedLock lock;
  SjrbfObject* rb = Checked(sj, "E2004090205", "E2004090206");
  if (rb == nullptr) return;
  rb->errorFunction = function;
  rb->errorContext = context;
}

const SjInterface s_interface = {
    {nullptr, nullptr, nullptr},
    &Destroy,
    &GetIdentifier,
    &Reset,
    &TakeChunk,
    &ReturnChunk,
    &AddChunk,
    &CountBytes,
    &CanTake,
    &SetErrorFunction,
};

const SjInterface* Table() {
  return &s_interface;
}

void ClearPool() {
  for (SjrbfObject& rb : s_pool) Clear(&rb);
}

}  // namespace

void SJRBF_Init() {
  if (s_users++ > 0) return;
  SjLock_Create();
  ClearPool();
}

void SJRBF_Finish() {
  if (s_users == 0 || --s_users > 0) return;
  ClearPool();
  SjLock_Destroy();
}

SjHandle SJRBF_Create(uint8_t* work, int32_t ringSize, int32_t mirrorSize) {
  if (work == nullptr || ringSize <= 0 || mirrorSize < 0 || mirrorSize > ringSize) return nullptr;
  SjScopedLock lock;
  for (SjrbfObject& rb : s_pool) {
    if (rb.used != 0) continue;
    Clear(&rb);
    rb.used = 1;
    rb.identifier = SJRBF_IDENTIFIER;
    rb.buffer = work;
    rb.ringSize = ringSize;
    rb.mirrorSize = mirrorSize;
    rb.errorFunction = &ReportCode;
    ResetLocked(&rb);
    return &rb;
  }
  return nullptr;
}

uint8_t* SJRBF_GetBufPtr(SjHandle sj) {
  SjScopedLock lock;
  SjrbfObject* rb = Checked(sj, "E2004090221", "E2004090222");
  return rb != nullptr ? rb->buffer : nullptr;
}

int32_t SJRBF_GetBufSize(SjHandle sj) {
  SjScopedLock lock;
  SjrbfObject* rb = Checked(sj, "E2004090223", "E2004090224");
  return rb != nullptr ? rb->ringSize : 0;
}

int32_t SJRBF_GetXtrSize(SjHandle sj) {
  SjScopedLock lock;
  SjrbfObject* rb = Checked(sj, "E2004090225", "E2004090226");
  return rb != nullptr ? rb->mirrorSize : 0;
}

const SjInterface* SJRBF_Interface() {
  return &s_interface;
}
