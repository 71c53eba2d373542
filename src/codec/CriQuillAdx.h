// The ADX codec behind a QuillDll handle: an ADX encoder and an ADX stream
// decoder joined by ring buffers. Samples go per channel into an input ring,
// the encoder writes the ADX stream into the stream ring, the decoder writes
// decoded samples per channel into an output ring, and Process hands them out.
//
// Delay: at set-up each input ring is primed with 2048 silent samples, and
// every slice is queued behind them. The output is therefore the input after
// one pass through the codec, delayed by exactly ADX_DELAY_FRAMES frames from
// the very first call, whatever the call sizes; the first 2048 frames out are
// silence. (Overwriting the primed silence with the first slice instead would
// play that slice at once, then a gap of silence, then the rest: a stutter.)
#pragma once

#include <cstdint>

#include "CriQuillBase.h"
#include "adx/AdxDecoder.h"
#include "adx/AdxEncoder.h"
#include "runtime/Sjrbf.h"

constexpr uint32_t ADX_DELAY_FRAMES = 2048;

class CriQuillAdx final : public CriQuillBase {
 public:
  static constexpr int32_t RING_SIZE = 4096;
  static constexpr int32_t MIRROR_SIZE = 4096;
  static constexpr int32_t WORK_SIZE = RING_SIZE + MIRROR_SIZE;
  static constexpr uint32_t SLICE_FRAMES = 1024;  // half a ring per channel

  uint32_t Process(int16_t* out, uint32_t outFrames, const int16_t* in, uint32_t inFrames,
                   uint32_t* processed) override;
  uint32_t Release() override;

 private:
  friend uint32_t CreateCriQuillAdx(const QuillDll::CODECINFO& info, CriQuillBase** codec);

  CriQuillAdx();
  ~CriQuillAdx() override = default;

  bool SetUp(const QuillDll::CODECINFO& info);
  void TearDown();
  bool Pump();
  void Slice(int16_t* out, const int16_t* in, uint32_t frames);
  bool InputHasRoom(int32_t bytes) const;
  static void CountError(void* context, const char* message);

  QuillDll::CODECINFO m_info;
  AdxEncoder* m_encoder;  // from the encoder pool; returned by TearDown
  AdxDecoder* m_decoder;  // from the decoder pool; returned by TearDown
  int m_channels;
  bool m_servicesStarted;
  int32_t m_errorCount;  // messages reported while this object was set up

  // Rings from the runtime's pool over work areas owned by this object.
  SjHandle m_inputRing[2];
  SjHandle m_streamRing;
  SjHandle m_outputRing[2];
  alignas(8) uint8_t m_inputWork[2][WORK_SIZE];
  alignas(8) uint8_t m_streamWork[WORK_SIZE];
  alignas(8) uint8_t m_outputWork[2][WORK_SIZE];
};
