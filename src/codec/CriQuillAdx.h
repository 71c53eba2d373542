// The ADX codec behind a QuillDll handle: an ADX encoder and an ADX stream
// decoder joined by ring buffers. Samples go per channel into an input ring,
// the encoder writes the ADX stream into the stream ring, the decoder writes
// decoded samples per channel into an output ring, and Process hands them out.
//
// Delay: at set-up each input ring is primed with ADX_PRIMED_FRAMES (2048)
// silent samples. The first slice (n frames, at most 1024) is written where
// that silence starts, so it comes out at once; the rest of the silence
// follows, and every later frame comes out 2048 - n frames late, whatever the
// call sizes. A caller of 20 ms blocks at 32728 Hz (n = 654) hears 1394
// frames (42.6 ms) of delay instead of the 2048 (62.6 ms) that queueing the
// first slice behind the silence would give; the price is a gap of 2048 - n
// silent frames after the stream's first n.
#pragma once

#include <cstdint>

#include "CriQuillBase.h"
#include "adx/AdxDecoder.h"
#include "adx/AdxEncoder.h"
#include "runtime/Sjrbf.h"

constexpr uint32_t ADX_PRIMED_FRAMES = 2048;

// The steady delay of a stream whose first call gave `firstFrames` frames.
constexpr uint32_t AdxDelayFrames(uint32_t firstFrames) {
  return ADX_PRIMED_FRAMES - (firstFrames < 1024 ? firstFrames : 1024);
}

class CriQuillAdx final : public CriQuillBase {
 public:
  static constexpr int32_t RING_SIZE = 4096;
  static constexpr int32_t MIRROR_SIZE = 4096;
  static constexpr int32_t WORK_SIZE = RING_SIZE + MIRROR_SIZE;
  static constexpr uint32_t SLICE_FRAMES = 1024;  // half a ring per channel

  uint32_t Process(int16_t* out, uint32_t outFrames, const int16_t* in, uint32_t inFrames,
                   uint32_t* processed) override;
  uint32_t Release() override;

  // Copies of the ADX stream as the encoder writes it; set before the first
  // Process to get the header too.
  void SetStreamObserver(AdxStreamObserver observer, void* context) { m_encoder->SetStreamObserver(observer, context); }

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
  bool m_started;        // a slice has gone in: the first takes the primed silence's place
  int32_t m_errorCount;  // messages reported while this object was set up

  // Rings from the runtime's pool over work areas owned by this object.
  SjHandle m_inputRing[2];
  SjHandle m_streamRing;
  SjHandle m_outputRing[2];
  alignas(8) uint8_t m_inputWork[2][WORK_SIZE];
  alignas(8) uint8_t m_streamWork[WORK_SIZE];
  alignas(8) uint8_t m_outputWork[2][WORK_SIZE];
};
