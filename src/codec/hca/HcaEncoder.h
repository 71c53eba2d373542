// HCA encoder: turns 1024 float samples per channel (-1.0 .. 1.0) into one
// fixed-size frame: transform, intensity stereo, high-frequency reconstruction
// data, scale factors, a bit allocation that fills the frame exactly, and the
// frame's CRC.
//
// The encoder lives in a work area that the caller provides (see WorkSize);
// nothing is allocated, per frame or otherwise. It is a process-wide service
// with a user count: HcaEncoderStart before the first Create, one
// HcaEncoderFinish per Start. The count is not locked: start, finish and
// Create are serialised by the caller (QuillDll's set-up lock), as for the
// ADX services; an encoder object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hca/HcaAllocation.h"
#include "hca/HcaCommon.h"

namespace hca {

int HcaEncoderStart();
int HcaEncoderFinish();

// The frame parameters that follow from channels, rate, bandwidth (Hz) and bit
// rate; `effectiveBitRate` (may be null) receives frame size x rate x 8 / 1024.
// HCA_ERROR_ARGUMENT when they do not describe a frame this format can carry
// (a frame size of more than 65535 bytes or too small for its own side data).
int ComputeEncoderParams(int channels, int samplingRate, int bandwidth, int bitRate, int trackCount, int channelConfig,
                         HcaStreamParams* params, int* effectiveBitRate);

struct HcaEncoderChannel;
struct HcaTables;

class HcaEncoder {
 public:
  // Bytes of work area needed for up to maxChannels channels (alignment included).
  static size_t WorkSize(int maxChannels);

  // Builds an encoder inside `work`. Errors: 5 service not started, 1 null
  // pointer, 2 maxChannels outside 1..16, 7 work area too small. `owner` is
  // kept for the caller.
  static int Create(int maxChannels, void* work, size_t workSize, void* owner, HcaEncoder** encoder);
  // Ends the encoder; the work area is the caller's again.
  void Destroy();

  // Parameters; each one requires the header to be written again.
  int SetChannels(int channels, int trackCount, int channelConfig);
  // The bandwidth is rate / 2, or bandwidthLimit when that is smaller and > 0.
  int SetSamplingRate(int samplingRate, int bandwidthLimit);
  int SetBitRate(int bitRate);

  // Writes the stream header (96 bytes); 7 when the buffer is smaller.
  int WriteHeader(uint8_t* buffer, size_t size, size_t* written);
  // Takes one frame of input: 1024 samples for each channel.
  int PutSamples(const float* const* samples);
  // Encodes the frame last put into `buffer` (at least the frame size).
  int GetFrame(uint8_t* buffer, size_t size, size_t* written);

  // Valid once the header has been written.
  const HcaStreamParams& Params() const { return m_params; }
  int FrameSize() const { return m_params.frameSize; }
  int EffectiveBitRate() const { return m_effectiveBitRate; }
  uint32_t FramesWritten() const { return m_frameCounter; }
  void* Owner() const { return m_owner; }

  // The noise level and boundary the last frame was coded with (for tests).
  int LastNoiseLevel() const { return m_allocation.NoiseLevel(); }
  int LastBoundary() const { return m_allocation.Boundary(); }
  // Bands the last frame dropped to fit (0 when everything fitted).
  int LastDroppedBands() const { return m_allocation.DroppedBands(); }

 private:
  HcaEncoder() = default;
  ~HcaEncoder() = default;

  // The frame's stages: analysis (HcaEncoderAnalysis.cpp), the bit
  // allocation (m_allocation), quantising and packing (HcaEncoderPack.cpp).
  void IntensityStereo(HcaEncoderChannel& left, HcaEncoderChannel& right);
  void AnalyseBands(HcaEncoderChannel& c);
  int QuantiseBands(HcaEncoderChannel& c) const;
  int WriteFrame(uint8_t* buffer);

  void* m_owner = nullptr;
  const HcaTables* m_tables = nullptr;
  int m_maxChannels = 0;
  HcaEncoderChannel* m_channels = nullptr;  // in the work area, m_maxChannels entries

  int m_channelCount = 2;
  int m_trackCount = 1;
  int m_channelConfig = 0;
  int m_samplingRate = 48000;
  int m_bandwidth = 24000;
  int m_bandwidthLimit = 0;
  int m_bitRate = 0;

  HcaStreamParams m_params;
  int m_effectiveBitRate = 0;
  bool m_headerWritten = false;
  bool m_framePending = false;
  uint32_t m_frameCounter = 0;
  HcaAllocation m_allocation;
};

}  // namespace hca
