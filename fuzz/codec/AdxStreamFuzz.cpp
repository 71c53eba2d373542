// Arbitrary bytes into the ADX stream decoder through a stream ring, in
// pieces of varying size, with the decoded samples drained as they come.
//
// Input: byte 0 selects the decoder's channel count (bit 0), the piece size
// (bits 1-3) and whether a valid header goes first (bit 4, so that the block
// decoder is reached at once); the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "adx/AdxDecoder.h"
#include "adx/AdxFormat.h"
#include "runtime/Sjrbf.h"

namespace {

constexpr int32_t RING = 4096;

uint8_t s_streamWork[2 * RING];
uint8_t s_outputWork[2][2 * RING];

size_t Put(SjHandle ring, const uint8_t* bytes, size_t size) {
  size_t done = 0;
  while (done < size) {
    SjChunk chunk;
    SJ_TakeChunk(ring, SJ_LIN_FREE, static_cast<int32_t>(size - done), &chunk);
    if (chunk.len <= 0) break;
    std::memcpy(chunk.data, bytes + done, static_cast<size_t>(chunk.len));
    SJ_AddChunk(ring, SJ_LIN_DATA, &chunk);
    done += static_cast<size_t>(chunk.len);
  }
  return done;
}

int32_t Drain(SjHandle ring) {
  int32_t total = 0;
  for (;;) {
    SjChunk chunk;
    SJ_TakeChunk(ring, SJ_LIN_DATA, RING, &chunk);
    if (chunk.len <= 0) break;
    volatile uint8_t sink = 0;
    for (int32_t i = 0; i < chunk.len; ++i) sink = static_cast<uint8_t>(sink + chunk.data[i]);
    SJ_AddChunk(ring, SJ_LIN_FREE, &chunk);
    total += chunk.len;
  }
  return total;
}

void ValidHeader(uint8_t* h, int channels) {
  std::memset(h, 0, 40);
  AdxPutBe16(h, ADX_SIGNATURE);
  AdxPutBe16(h + 2, ADX_DATA_OFFSET);
  h[4] = ADX_ENCODING_TYPE;
  h[5] = ADX_BLOCK_BYTES;
  h[6] = ADX_BITS_PER_SAMPLE;
  h[7] = static_cast<uint8_t>(channels);
  AdxPutBe32(h + 8, 32728);
  AdxPutBe32(h + 12, 0x7FFFFFFF);
  AdxPutBe16(h + 16, ADX_CUTOFF_HZ);
  h[18] = ADX_HEADER_VERSION;
  std::memcpy(h + 34, ADX_TAG, ADX_TAG_LENGTH);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const bool started = [] {
    SJRBF_Init();
    AdxDecoder_Init();
    return true;
  }();
  (void)started;

  const int channels = (data[0] & 1) + 1;
  static const size_t PIECES[8] = {1, 2, 3, 17, 18, 36, 1000, 4096};
  const size_t piece = PIECES[(data[0] >> 1) & 7];
  const bool withHeader = (data[0] & 0x10) != 0;
  ++data;
  --size;

  SjHandle stream = SJRBF_Create(s_streamWork, RING, RING);
  SjHandle outputs[2] = {SJRBF_Create(s_outputWork[0], RING, RING), SJRBF_Create(s_outputWork[1], RING, RING)};
  AdxDecoder* decoder = AdxDecoder_Create(stream, channels, outputs);
  if (stream == nullptr || outputs[0] == nullptr || outputs[1] == nullptr || decoder == nullptr) __builtin_trap();
  decoder->Start();

  if (withHeader) {
    uint8_t header[40];
    ValidHeader(header, channels);
    Put(stream, header, sizeof header);
  }
  size_t fed = 0;
  for (;;) {
    const size_t put = Put(stream, data + fed, piece < size - fed ? piece : size - fed);
    fed += put;
    const int64_t before = decoder->BytesConsumed();
    decoder->RunOnce();
    const int32_t drained = Drain(outputs[0]) + Drain(outputs[1]);
    // Every block group decoded comes out whole on each channel.
    if (decoder->BytesConsumed() < before) __builtin_trap();
    if (SJ_CountBytes(stream, SJ_LIN_DATA) + SJ_CountBytes(stream, SJ_LIN_FREE) != RING) __builtin_trap();
    if (put == 0 && drained == 0 && decoder->BytesConsumed() == before) break;  // nothing more will move
  }

  AdxDecoder_Destroy(decoder);
  SJ_Destroy(outputs[1]);
  SJ_Destroy(outputs[0]);
  SJ_Destroy(stream);
  return 0;
}
