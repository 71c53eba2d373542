// HCA decoder: reads the stream header and frames that the HCA encoder writes
// and turns each frame back into 8 subframes of 128 float samples per channel.
//
// Everything it reads is checked before use: a header it cannot decode is
// refused (11), a frame must be whole (9), start with its sync word (10) and
// pass its CRC (12), and a frame whose side data is impossible is refused (14);
// a refused header or frame leaves the decoder as it was. It lives in a work
// area that the caller provides (see WorkSize) and allocates nothing.
// A process-wide service with a user count, like the encoder (and, like its,
// not locked: start, finish and Create are serialised by the caller).
#pragma once

#include <cstddef>
#include <cstdint>

#include "hca/HcaCommon.h"

namespace hca {

int HcaDecoderStart();
int HcaDecoderFinish();

struct HcaDecoderChannel;
struct HcaTables;
struct HcaSideData;

class HcaDecoder {
 public:
  // Bytes of work area for up to maxChannels channels and frames of up to
  // maxFrameSize bytes (alignment included).
  static size_t WorkSize(int maxChannels, int maxFrameSize);

  // Builds a decoder inside `work`; whatever the work area holds beyond the
  // channel state is its frame buffer (at most 65535 bytes). Errors: 5 service
  // not started, 1 null pointer, 2 maxChannels outside 1..16, 7 work area too
  // small for the channels and a frame of the smallest useful size.
  static int Create(int maxChannels, int reducedMemory, void* work, size_t workSize, HcaDecoder** decoder);
  void Destroy();
  // Forgets the header, the frame and the transform history.
  void Reset();

  // Reads a stream header; `used` receives its size (or, with error 10, the
  // bytes up to the next 0xFF, which the caller may skip).
  int ReadHeader(const uint8_t* data, size_t size, size_t* used);
  // Takes one frame; `used` receives the frame size (or, with error 10, the
  // bytes up to the next 0xFF).
  int DecodeFrame(const uint8_t* data, size_t size, size_t* used);
  // Writes the next subframe: up to 128 samples for each of the stream's
  // channels (`channels` pointers, each with room for `room` samples).
  // `produced` receives the count; 0 when no frame is in progress.
  int GetSamples(float* const* out, int channels, int room, int* produced);

  // Drops the first `skip` samples of the stream and ends it after `remaining`
  // more (the stream is unbounded by default).
  void SetSampleWindow(int64_t skip, int64_t remaining);

  bool HasHeader() const { return m_hasHeader; }
  const HcaStreamParams& Params() const { return m_params; }
  int FrameBufferSize() const { return m_frameCapacity; }
  int FrameState() const { return m_state; }

 private:
  HcaDecoder() = default;
  ~HcaDecoder() = default;

  int ReadSideData(const uint8_t* frame, HcaSideData* side) const;
  void TakeSideData(const HcaSideData& side);
  void ReadSubframe(int subframe, float* const* coef);
  void DecodeSubframe(int subframe, float* const* out);

  int m_maxChannels = 0;
  const HcaTables* m_tables = nullptr;
  HcaDecoderChannel* m_channels = nullptr;  // in the work area
  uint8_t* m_frame = nullptr;               // in the work area, m_frameCapacity bytes
  int m_frameCapacity = 0;

  bool m_hasHeader = false;
  HcaStreamParams m_params;
  int m_state = 0;             // 0 no frame, 1 frame taken, 2..9 next subframe is state - 2, 10 frame done
  size_t m_valuePosition = 0;  // bit position of the subframe values
  bool m_nextReady = false;    // the next subframe was synthesised with the last one
  int m_noiseLevel = 0;
  int m_boundary = 0;
  int64_t m_skip = 0;
  int64_t m_remaining = INT64_MAX;
};

}  // namespace hca
