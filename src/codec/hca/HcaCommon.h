// Shared definitions of the HCA encoder and decoder: result numbers, frame
// geometry and the stream parameters that the header carries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hca {

// Result numbers of the encoder and decoder operations (0 = success).
enum HcaResult : int {
  HCA_OK = 0,
  HCA_ERROR_NULL = 1,            // a required pointer is null
  HCA_ERROR_ARGUMENT = 2,        // an argument is out of range
  HCA_ERROR_NO_ALLOCATION = 4,   // encoder: no bit allocation fits the frame
  HCA_ERROR_NOT_STARTED = 5,     // the service has not been started
  HCA_ERROR_NO_HEADER = 6,       // the stream header has not been written / read yet
  HCA_ERROR_BUFFER_SMALL = 7,    // a caller buffer or work area is too small
  HCA_ERROR_FRAME_OVERFLOW = 8,  // encoder: the frame's bits exceed its size
  HCA_ERROR_NEED_MORE = 9,       // decoder: the header or frame is not complete
  HCA_ERROR_NOT_AT_START = 10,   // decoder: the data does not start a header or frame
  HCA_ERROR_UNSUPPORTED = 11,    // decoder: the header describes a stream it cannot decode
  HCA_ERROR_CRC = 12,            // decoder: CRC mismatch
  HCA_ERROR_BIT_COUNT = 13,      // encoder: written bits differ from the allocation's count
  HCA_ERROR_BAD_FRAME = 14,      // decoder: a frame whose CRC checks carries impossible values
};

constexpr int HCA_SUBFRAME_SAMPLES = 128;
constexpr int HCA_SUBFRAMES = 8;
constexpr int HCA_FRAME_SAMPLES = HCA_SUBFRAME_SAMPLES * HCA_SUBFRAMES;  // 1024
constexpr int HCA_BANDS = 128;
constexpr int HCA_MAX_CHANNELS = 16;
constexpr int HCA_MAX_RATE = 0x7FFFFF;
constexpr int HCA_MAX_FRAME_SIZE = 0xFFFF;
constexpr int HCA_HEADER_SIZE = 96;  // the header this encoder writes
constexpr int HCA_PRIMING_SAMPLES = 128;
constexpr int HCA_MIN_RESOLUTION = 1;
constexpr int HCA_MAX_RESOLUTION = 15;
constexpr int HCA_RESOLUTIONS = 16;    // 0 (not coded) .. 15
constexpr int HCA_SCALE_FACTORS = 64;  // scale-factor indexes 0 (not coded) .. 63
// A frame's bits besides its channels' side data and values: the sync, the
// noise level, the boundary and the CRC.
constexpr int HCA_SYNC_BITS = 16;
constexpr int HCA_NOISE_LEVEL_BITS = 9;
constexpr int HCA_BOUNDARY_BITS = 7;
constexpr int HCA_CRC_BITS = 16;
constexpr int HCA_FRAME_FIXED_BITS = HCA_SYNC_BITS + HCA_NOISE_LEVEL_BITS + HCA_BOUNDARY_BITS + HCA_CRC_BITS;
constexpr int HCA_MAX_NOISE_LEVEL = (1 << HCA_NOISE_LEVEL_BITS) - 1;  // 511
constexpr int HCA_MAX_BOUNDARY = (1 << HCA_BOUNDARY_BITS) - 1;        // 127

// Channel roles inside a track.
enum HcaChannelType : uint8_t {
  HCA_CHANNEL_DISCRETE = 0,
  HCA_CHANNEL_PRIMARY = 1,    // stereo pair, first channel: carries the intensity-coded bands
  HCA_CHANNEL_SECONDARY = 2,  // stereo pair, second channel: base bands only
};

// What the stream header states about a stream.
struct HcaStreamParams {
  int channels = 0;
  int samplingRate = 0;
  uint32_t frameCount = 1;
  int primingSamples = HCA_PRIMING_SAMPLES;
  int paddingSamples = HCA_FRAME_SAMPLES - HCA_PRIMING_SAMPLES;
  int frameSize = 0;  // bytes
  int minResolution = HCA_MIN_RESOLUTION;
  int maxResolution = HCA_MAX_RESOLUTION;
  int trackCount = 1;
  int channelConfig = 0;
  int totalBands = 0;
  int baseBands = 0;
  int stereoBands = 0;
  int bandsPerHfrGroup = 0;
  int hfrGroups = 0;  // derived: ceil((total - base - stereo) / bandsPerHfrGroup)
  int cipherType = 0;
  float volume = 1.0f;
};

// HFR group count of a stream (0 without HFR bands or groups).
int HfrGroupCount(int totalBands, int baseBands, int stereoBands, int bandsPerHfrGroup);

// Channel roles for a stream: with stereo bands and two channels to a track the
// pair is primary/secondary, otherwise every channel is discrete.
void AssignChannelTypes(const HcaStreamParams& params, uint8_t* types);

// Bands that a channel of the given role codes in every frame.
int CodedBandCount(const HcaStreamParams& params, uint8_t type);

// Rounds a pointer inside a work area up to the next 16-byte boundary.
inline uint8_t* AlignWork(void* p) {
  auto v = reinterpret_cast<uintptr_t>(p);
  return reinterpret_cast<uint8_t*>((v + 15u) & ~static_cast<uintptr_t>(15u));
}

}  // namespace hca
