// Arbitrary operation sequences on one ring: proper producer and consumer
// steps mixed with bad lanes, foreign chunks and chunks given back out of
// turn. The ring must never hand out memory outside its work area, never lose
// or reorder bytes of the data lane, and keep its lanes' counts consistent.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/ErrorHook.h"
#include "runtime/Sjrbf.h"

namespace {

constexpr int32_t MAX_RING = 256;
uint8_t s_work[2 * MAX_RING];

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckInside(const SjChunk& chunk, int32_t total) {
  if (chunk.len == 0) return;
  Check(chunk.len > 0 && chunk.data >= s_work && chunk.data + chunk.len <= s_work + total);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const bool started = [] {
    SJRBF_Init();
    return true;
  }();
  (void)started;

  const int32_t ring = 1 + data[0] % MAX_RING;
  const int32_t mirror = data[1] % (ring + 1);
  const int32_t total = ring + mirror;
  SjHandle rb = SJRBF_Create(s_work, ring, mirror);
  Check(rb != nullptr);
  std::memset(s_work, 0, sizeof s_work);

  uint8_t written = 0;   // next value the producer writes
  uint8_t expected = 0;  // next value the consumer must read
  for (size_t i = 2; i + 1 < size; i += 2) {
    const uint8_t op = data[i];
    const int32_t n = data[i + 1];
    SjChunk chunk;
    switch (op % 6) {
      case 0: {  // produce: fill a free chunk, add all or part of it, return the rest
        SJ_TakeChunk(rb, SJ_LIN_FREE, n, &chunk);
        CheckInside(chunk, total);
        for (int32_t k = 0; k < chunk.len; ++k) chunk.data[k] = static_cast<uint8_t>(written + k);
        const int32_t keep = (op >> 3) % 2 == 0 ? chunk.len : chunk.len / 2;
        SjChunk head{chunk.data, keep};
        SjChunk tail{chunk.data + keep, chunk.len - keep};
        SJ_AddChunk(rb, SJ_LIN_DATA, &head);
        SJ_ReturnChunk(rb, SJ_LIN_FREE, &tail);
        written = static_cast<uint8_t>(written + keep);
        break;
      }
      case 1: {  // consume: read a data chunk in order, free all or part of it
        SJ_TakeChunk(rb, SJ_LIN_DATA, n, &chunk);
        CheckInside(chunk, total);
        const int32_t keep = (op >> 3) % 2 == 0 ? chunk.len : chunk.len / 2;
        for (int32_t k = 0; k < keep; ++k) Check(chunk.data[k] == static_cast<uint8_t>(expected + k));
        SjChunk head{chunk.data, keep};
        SjChunk tail{chunk.data + keep, chunk.len - keep};
        SJ_AddChunk(rb, SJ_LIN_FREE, &head);
        SJ_ReturnChunk(rb, SJ_LIN_DATA, &tail);
        expected = static_cast<uint8_t>(expected + keep);
        break;
      }
      case 2:  // bad lanes
        SJ_TakeChunk(rb, static_cast<int32_t>(op) - 100, n, &chunk);
        Check(chunk.len == 0);
        SJ_CountBytes(rb, 2 + n);
        break;
      case 3: {  // chunks from elsewhere or reaching past the work area
        uint8_t outside[4];
        SjChunk foreign{outside, 4};
        SJ_AddChunk(rb, SJ_LIN_DATA, &foreign);
        SJ_ReturnChunk(rb, SJ_LIN_FREE, &foreign);
        SjChunk past{s_work + (n % total), total + 1 - n % total};
        const int32_t before = SJ_CountBytes(rb, SJ_LIN_DATA);
        SJ_AddChunk(rb, (op >> 3) & 1, &past);
        SJ_ReturnChunk(rb, (op >> 3) & 1, &past);
        Check(SJ_CountBytes(rb, SJ_LIN_DATA) == before);
        break;
      }
      case 4: {  // a chunk given back out of turn is refused
        SjChunk first;
        SjChunk second;
        SJ_TakeChunk(rb, SJ_LIN_FREE, 1, &first);
        SJ_TakeChunk(rb, SJ_LIN_FREE, n, &second);
        if (first.len > 0 && second.len > 0 && second.len % ring != 0) {
          const int32_t before = SJ_CountBytes(rb, SJ_LIN_FREE);
          SJ_ReturnChunk(rb, SJ_LIN_FREE, &first);
          Check(SJ_CountBytes(rb, SJ_LIN_FREE) == before);
        }
        SJ_ReturnChunk(rb, SJ_LIN_FREE, &second);
        SJ_ReturnChunk(rb, SJ_LIN_FREE, &first);
        break;
      }
      default: {
        int32_t available = -1;
        const bool all = SJ_CanTake(rb, (op >> 3) & 1, n, &available);
        Check(available >= 0 && available <= n && all == (available == n));
        break;
      }
    }
    const int32_t freeBytes = SJ_CountBytes(rb, SJ_LIN_FREE);
    const int32_t dataBytes = SJ_CountBytes(rb, SJ_LIN_DATA);
    Check(freeBytes >= 0 && dataBytes >= 0 && freeBytes + dataBytes == ring);
    Check(dataBytes == static_cast<uint8_t>(written - expected) || ring > 255);
  }
  SJ_Destroy(rb);
  return 0;
}
