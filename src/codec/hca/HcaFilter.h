// The HCA filter: one HCA encoder and one HCA decoder joined back to back.
// Each call encodes 1024 samples per channel into one frame and decodes that
// frame straight back into the same sample planes, so that the planes carry
// the codec's artefacts (and the transform's 128-sample delay).
#pragma once

#include <cstddef>
#include <cstdint>

#include "hca/HcaCommon.h"

namespace hca {

class HcaEncoder;
class HcaDecoder;

class HcaFilter {
 public:
  static constexpr size_t ENCODER_WORK_SIZE = 47104;  // room for 2 channels
  static constexpr size_t DECODER_WORK_SIZE = 8192;   // room for 2 channels and frames of 4 KiB
  static constexpr size_t FRAME_BUFFER_SIZE = 65536;

  // The bit rate after the filter's limits: at most channels x rate x 16 / 4,
  // at least 42666 (one channel) or channels x 32000.
  static int ClampBitRate(int channels, int samplingRate, int64_t bitRate);

  // Makes a filter for 1 or 2 channels: starts the encoder and decoder
  // services, sets the encoder up, writes the stream header and has the
  // decoder read it. Null when any of it fails (nothing is left behind).
  // The caller owns the filter and ends it with Destroy.
  static HcaFilter* Create(int channels, int samplingRate, int64_t bitRate);
  // Decoder, then encoder, then both services; frees the filter.
  void Destroy();

  // Runs one frame: planes[c] holds 1024 samples of channel c on entry and
  // the decoded samples on return. A frame that the encoder or decoder
  // refuses comes back as silence. Returns the first failing result (0 when
  // the frame passed).
  int Process(float* const* planes);

  int Channels() const { return m_channels; }
  int SamplingRate() const { return m_samplingRate; }
  int BitRate() const { return m_bitRate; }
  HcaEncoder* Encoder() const { return m_encoder; }
  HcaDecoder* Decoder() const { return m_decoder; }
  // The stream header, then the most recent frame.
  const uint8_t* FrameBuffer() const { return m_frame; }

 private:
  HcaFilter() = default;
  ~HcaFilter();
  HcaFilter(const HcaFilter&) = delete;
  HcaFilter& operator=(const HcaFilter&) = delete;

  int m_channels = 0;
  int m_samplingRate = 0;
  int m_bitRate = 0;
  bool m_encoderStarted = false;
  bool m_decoderStarted = false;
  HcaEncoder* m_encoder = nullptr;  // lives in m_encoderWork
  HcaDecoder* m_decoder = nullptr;  // lives in m_decoderWork
  alignas(16) uint8_t m_encoderWork[ENCODER_WORK_SIZE];
  alignas(16) uint8_t m_decoderWork[DECODER_WORK_SIZE];
  alignas(16) uint8_t m_frame[FRAME_BUFFER_SIZE];
};

}  // namespace hca
