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
  int LastNoiseLevel() const { return m_noiseLevel; }
  int LastBoundary() const { return m_boundary; }
  // Bands the last frame dropped to fit (0 when everything fitted).
  int LastDroppedBands() const { return m_droppedBands; }

 private:
  HcaEncoder() = default;
  ~HcaEncoder() = default;

  void IntensityStereo(HcaEncoderChannel& left, HcaEncoderChannel& right);
  void AnalyseBands(HcaEncoderChannel& c);
  void ScaleBits(HcaEncoderChannel& c) const;
  void ResetCosts(HcaEncoderChannel& c) const;
  int BandCost(HcaEncoderChannel& c, int band, int resolution) const;
  // The frame's bits for a noise level and boundary (the definition; the
  // search counts the same sums faster, grouped).
  int CountBits(int noiseLevel, int boundary);
  void GroupBandsByScale();
  int CountBitsByScale(int noiseLevel);
  bool FitsByScale(int noiseLevel, int limit);
  int Allocate();
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
  int m_noiseLevel = 0;
  int m_boundary = 0;
  int m_droppedBands = 0;

  // The allocation search's bands grouped by scale factor (m_groupBands[
  // m_groupStart[s] .. m_groupEnd[s]] hold channel << 8 | band), the scale
  // factors present, their bands' costs summed per resolution as far as
  // counted (-1: not yet), and the frame's bits besides the values.
  uint16_t m_groupBands[HCA_MAX_CHANNELS * HCA_BANDS] = {};
  int16_t m_groupStart[64] = {};
  int16_t m_groupEnd[64] = {};
  uint8_t m_scales[64] = {};
  int m_scaleCount = 0;
  int32_t m_scaleCost[64][16] = {};
  int m_sideBits = 0;
};

}  // namespace hca
