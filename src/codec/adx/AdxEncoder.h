// The ADX encoder: reads 16-bit samples from one ring per channel and writes
// an ADX stream (header, then block groups) into a stream ring. It is driven
// by RunOnce, which never blocks and does as much as the rings allow.
//
// Header written (big-endian), 40 bytes for one or two channels:
//   0x00 0x8000   0x02 data offset (36)   0x04 encoding type 3   0x05 block size 18
//   0x06 4 bits   0x07 channels   0x08 sampling rate   0x0C total samples per channel
//   0x10 cut-off 500   0x12 version 4   0x13 flags 0   0x14 loop count 0
//   0x18 s1, s2 of each channel (4 bytes per channel; two pairs at least)
//   then zeros, and the tag ADX_TAG ending exactly at data offset + 4.
//
// Encoders are a process-wide service with a pool of 32; each takes one
// channel state record and one predictor record per channel from pools of
// 256. The service's user count and pools are not locked: start, finish,
// create and destroy are serialised by the caller (QuillDll's set-up lock).
// An encoder object is used by one thread at a time.
#pragma once

#include <cstdint>

#include "adx/AdxBlock.h"
#include "runtime/Sjrbf.h"

constexpr int ADX_ENCODER_POOL_SIZE = 32;
constexpr int ADX_CHANNEL_POOL_SIZE = 256;

// Receives every piece of the stream as the encoder writes it (header,
// block groups, end mark), in order.
using AdxStreamObserver = void (*)(void* context, const uint8_t* bytes, int32_t count);

class AdxEncoder {
 public:
  enum State : uint8_t { STOPPED = 0, HEADER_PENDING = 1, ENCODING = 2, ENDED = 3 };

  // Header parameters. Values out of range are ignored.
  void SetDataOffset(int32_t offset);  // at least what the channel count needs
  void SetSamplingRate(int32_t rateHz);
  void SetChannels(int channels);   // 1 .. the rings given at creation
  void SetBitsPerSample(int bits);  // only 4 is known
  // Samples per channel before the end mark; ADX_TOTAL_UNLIMITED never ends.
  void SetTotalSamples(int32_t total);

  void Start();    // state 1: the header comes first
  void RunOnce();  // header, then as many block groups as input and room allow
  void Stop();     // state 0

  State GetState() const { return static_cast<State>(m_state); }
  int64_t BytesWritten() const { return m_bytesWritten; }
  int64_t SamplesEncoded() const { return m_samplesEncoded; }
  // Null stops the copies. Tools use it to write the stream to a file.
  void SetStreamObserver(AdxStreamObserver observer, void* context);

 private:
  friend AdxEncoder* AdxEncoder_Create(int channels, const SjHandle* inputs, SjHandle stream);
  friend void AdxEncoder_Destroy(AdxEncoder* encoder);
  friend void AdxEncoder_Init();
  friend void AdxEncoder_Finish();

  bool WriteHeader();
  bool WriteEndMark();
  int EncodeGroups(int groups, int samples, const uint8_t* const* input, uint8_t* out);
  void EncodeGroupsBatched();
  bool EncodeOneGroupGathered();
  bool Finished() const;
  void Emit(SjChunk* out);

  uint8_t m_used;
  uint8_t m_state;
  uint8_t m_channels;  // channels encoded (header's channel count)
  uint8_t m_rings;     // input rings given at creation
  SjHandle m_input[ADX_MAX_CHANNELS];
  SjHandle m_stream;

  int64_t m_bytesWritten;
  int64_t m_samplesEncoded;  // per channel
  int32_t m_totalSamples;
  int32_t m_blockSamples;

  int32_t m_dataOffset;
  int32_t m_encodingType;
  int32_t m_blockBytes;
  int32_t m_bitsPerSample;
  int32_t m_samplingRate;
  int32_t m_cutoff;
  int32_t m_loopCount;

  AdxChannelState* m_channel[ADX_MAX_CHANNELS];  // from the channel pool
  int16_t m_first[ADX_MAX_CHANNELS];             // each channel's first sample, for the header

  // Scale-word scrambling; all zero here, which leaves the words as they are.
  uint16_t m_scrambleState;
  uint16_t m_scrambleMultiplier;
  uint16_t m_scrambleIncrement;
  AdxStreamObserver m_observer;
  void* m_observerContext;
};

// Service start and finish, counted; the first start and the last finish
// clear the pools.
void AdxEncoder_Init();
void AdxEncoder_Finish();

// An encoder over `channels` (1..8) input rings writing to `stream`, stopped,
// with the default header (36, 44100 Hz, 4 bits, unlimited). Null when a pool
// is exhausted or an argument is unusable.
AdxEncoder* AdxEncoder_Create(int channels, const SjHandle* inputs, SjHandle stream);
// Returns the encoder and its channel records to their pools.
void AdxEncoder_Destroy(AdxEncoder* encoder);
