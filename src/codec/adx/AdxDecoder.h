// The ADX stream decoder: reads an ADX stream from a stream ring and writes
// decoded 16-bit samples into one ring per channel. Driven by RunOnce, which
// never blocks and does as much as the rings allow.
//
// The stream is untrusted: the decoder finds the header by its signature and
// tag, checks every field it relies on, drops bytes that cannot begin a header,
// and ends in the error state, with a message to the error hook, for a stream
// it cannot decode. No input makes it read outside the ring's chunks or stall
// the producer with undecodable bytes while it is looking for a header.
//
// Decoders are a process-wide service with a pool of 32; the user count and
// the pool are not locked (serialised by the caller, as for the encoder).
#pragma once

#include <cstdint>

#include "adx/AdxFormat.h"
#include "runtime/Sjrbf.h"

constexpr int ADX_DECODER_POOL_SIZE = 32;

// Messages of the decoder (prefix and text, joined by the error hook).
extern const char ADX_MSG_HEADER_PREFIX[];   // "E03010901 ADXB_DecodeHeader: "
extern const char ADX_MSG_UNKNOWN_FORMAT[];  // "Can not decode this file format."
extern const char ADX_MSG_AHX_PREFIX[];      // "E1060101 ADXB_DecodeHeaderAdx: "
extern const char ADX_MSG_AHX[];             // "can't play AHX data by this handle"

class AdxDecoder {
 public:
  enum State : uint8_t { STOPPED = 0, PREPARING = 1, DECODING = 2, ENDED = 3, FAILED = 4 };

  // The format read from the header.
  struct Format {
    int32_t encodingType;
    int32_t blockBytes;
    int32_t bitsPerSample;
    int32_t channels;
    uint32_t samplingRate;
    uint32_t totalSamples;
    int32_t samplesPerBlock;
    int32_t cutoff;
    int32_t version;
    int32_t flags;
    int32_t c1;
    int32_t c2;
  };

  void Start();    // state 1: looking for the header
  void RunOnce();  // header, then as many block groups as data and room allow
  void Stop();     // state 0

  State GetState() const { return static_cast<State>(m_state); }
  const Format& GetFormat() const { return m_format; }
  int64_t BytesConsumed() const { return m_bytesConsumed; }
  int64_t SamplesProduced() const { return m_samplesProduced; }  // per channel

 private:
  friend AdxDecoder* AdxDecoder_Create(SjHandle stream, int channels, const SjHandle* outputs);
  friend void AdxDecoder_Destroy(AdxDecoder* decoder);

  void Prepare();
  bool ParseHeader(const uint8_t* header);
  bool DecodeGroups();
  void Fail(const char* prefix, const char* text);

  uint8_t m_used;
  uint8_t m_state;
  uint8_t m_channels;  // output rings
  SjHandle m_stream;
  SjHandle m_output[ADX_MAX_CHANNELS];
  Format m_format;
  int32_t m_s1[ADX_MAX_CHANNELS];
  int32_t m_s2[ADX_MAX_CHANNELS];
  int64_t m_bytesConsumed;
  int64_t m_samplesProduced;
};

void AdxDecoder_Init();
void AdxDecoder_Finish();

// A decoder reading `stream` and writing `channels` (1..8) output rings,
// stopped. Null when the pool is exhausted or an argument is unusable.
AdxDecoder* AdxDecoder_Create(SjHandle stream, int channels, const SjHandle* outputs);
void AdxDecoder_Destroy(AdxDecoder* decoder);
