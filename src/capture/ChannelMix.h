// Turns the frames of an endpoint's own format (any channel count and layout,
// 8/16/24/32-bit integer or 32-bit float samples) into the stereo 16-bit
// frames of the block path. Mono goes to both sides at full level; a layout
// with more channels is folded down: the front pair at full level, the centre
// and the side and back channels at -3 dB on their side (a back centre at
// -6 dB on both), the LFE and the height channels dropped. The sum is not
// scaled down, so loud surround material clips at 16 bits instead of making
// ordinary stereo content quieter.
#pragma once

#include <cstddef>
#include <cstdint>

namespace capture {

// The speaker bits of a channel mask, in the order the channels are stored.
constexpr uint32_t MIX_SPEAKER_FRONT_LEFT = 0x1;
constexpr uint32_t MIX_SPEAKER_FRONT_RIGHT = 0x2;
constexpr uint32_t MIX_SPEAKER_FRONT_CENTER = 0x4;
constexpr uint32_t MIX_SPEAKER_LOW_FREQUENCY = 0x8;
constexpr uint32_t MIX_SPEAKER_BACK_LEFT = 0x10;
constexpr uint32_t MIX_SPEAKER_BACK_RIGHT = 0x20;
constexpr uint32_t MIX_SPEAKER_FRONT_LEFT_OF_CENTER = 0x40;
constexpr uint32_t MIX_SPEAKER_FRONT_RIGHT_OF_CENTER = 0x80;
constexpr uint32_t MIX_SPEAKER_BACK_CENTER = 0x100;
constexpr uint32_t MIX_SPEAKER_SIDE_LEFT = 0x200;
constexpr uint32_t MIX_SPEAKER_SIDE_RIGHT = 0x400;

constexpr uint32_t LAYOUT_5_1 = 0x3F;   // FL FR FC LFE BL BR
constexpr uint32_t LAYOUT_7_1 = 0x63F;  // FL FR FC LFE BL BR SL SR

// Wave format tags of the formats the mixer reads.
constexpr uint16_t FORMAT_TAG_PCM = 1;
constexpr uint16_t FORMAT_TAG_FLOAT = 3;
constexpr uint16_t FORMAT_TAG_EXTENSIBLE = 0xFFFE;

// The most channels a layout may have (all mask bits).
constexpr int MAX_MIX_CHANNELS = 32;

class ChannelMixer {
 public:
  // The fields of a wave format record. subFormat: the first two bytes of an
  // extensible record's sub-format (1 integer, 3 float), else ignored;
  // channelMask 0: the usual layout of the channel count (1 mono, 2 stereo,
  // 4 quad, 6 5.1, 8 7.1; others: the first two channels as left and right).
  struct Format {
    uint16_t tag = FORMAT_TAG_PCM;
    uint16_t channels = 2;
    uint16_t bitsPerSample = 16;
    uint16_t blockAlign = 4;
    uint16_t subFormat = 0;
    uint32_t channelMask = 0;
  };

  // Takes a format; false (and the mixer unusable) for one it cannot read:
  // no channels or more than MAX_MIX_CHANNELS, a sample size other than 8,
  // 16, 24, 32 bits (float: 32), a block alignment that does not hold the
  // channels, an unknown tag or sub-format.
  bool Setup(const Format& format);

  // The format is already stereo 16-bit integer: frames pass as they are.
  bool IsPassThrough() const { return m_passThrough; }
  // Bytes of one frame in the source format.
  uint32_t GetBlockAlign() const { return m_blockAlign; }
  int GetChannels() const { return m_channels; }
  // The weight of source channel c on the left (side 0) or right side.
  float GetWeight(int c, int side) const { return m_weights[c][side & 1]; }

  // Converts frames frames of the source format at input to stereo 16-bit
  // frames at output (2 x frames samples).
  void Mix(const uint8_t* input, uint32_t frames, int16_t* output) const;

 private:
  float Sample(const uint8_t* p) const;

  bool m_ready = false;
  bool m_passThrough = false;
  bool m_float = false;
  int m_channels = 0;
  uint32_t m_bytesPerSample = 0;
  uint32_t m_blockAlign = 0;
  float m_weights[MAX_MIX_CHANNELS][2] = {};
};

}  // namespace capture
