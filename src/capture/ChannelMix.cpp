#include "capture/ChannelMix.h"

#include "capture/StereoFrames.h"
#include <cmath>
#include <cstring>

namespace capture {
namespace {
constexpr float kMinus3Db = 0.70710678f;
constexpr float kMinus6Db = 0.5f;

uint32_t DefaultMask(int channels) {
  switch (channels) {
    case 2:
      return MIX_SPEAKER_FRONT_LEFT | MIX_SPEAKER_FRONT_RIGHT;
    case 4:
      return MIX_SPEAKER_FRONT_LEFT | MIX_SPEAKER_FRONT_RIGHT | MIX_SPEAKER_BACK_LEFT | MIX_SPEAKER_BACK_RIGHT;
    case 6:
      return LAYOUT_5_1;
    case 8:
      return LAYOUT_7_1;
    default:
      return 0;
  }
}

// The left and right weights of one speaker position.
void SpeakerWeights(uint32_t speaker, float* left, float* right) {
  *left = 0.0f;
  *right = 0.0f;
  switch (speaker) {
    case MIX_SPEAKER_FRONT_LEFT:
    case MIX_SPEAKER_FRONT_LEFT_OF_CENTER:
      *left = 1.0f;
      break;
    case MIX_SPEAKER_FRONT_RIGHT:
    case MIX_SPEAKER_FRONT_RIGHT_OF_CENTER:
      *right = 1.0f;
      break;
    case MIX_SPEAKER_FRONT_CENTER:
      *left = kMinus3Db;
      *right = kMinus3Db;
      break;
    case MIX_SPEAKER_BACK_LEFT:
    case MIX_SPEAKER_SIDE_LEFT:
      *left = kMinus3Db;
      break;
    case MIX_SPEAKER_BACK_RIGHT:
    case MIX_SPEAKER_SIDE_RIGHT:
      *right = kMinus3Db;
      break;
    case MIX_SPEAKER_BACK_CENTER:
      *left = kMinus6Db;
      *right = kMinus6Db;
      break;
    default:  // the LFE, the height channels and anything unknown
      break;
  }
}

int16_t Clip16(float value) {
  // NaN compares false both ways and ends as 0.
  if (value >= 32767.0f) return 32767;
  if (value <= -32768.0f) return -32768;
  if (std::isnan(value)) return 0;
  return static_cast<int16_t>(std::lround(value));
}
}  // namespace

bool ChannelMixer::Setup(const Format& format) {
  m_ready = false;
  m_passThrough = false;
  uint16_t kind = format.tag;
  if (kind == FORMAT_TAG_EXTENSIBLE) kind = format.subFormat;
  if (kind != FORMAT_TAG_PCM && kind != FORMAT_TAG_FLOAT) return false;
  const bool isFloat = kind == FORMAT_TAG_FLOAT;
  const uint16_t bits = format.bitsPerSample;
  if (isFloat ? bits != 32 : (bits != 8 && bits != 16 && bits != 24 && bits != 32)) return false;
  if (format.channels < 1 || format.channels > MAX_MIX_CHANNELS) return false;
  const uint32_t bytes = bits / 8u;
  if (format.blockAlign < bytes * format.channels) return false;

  m_float = isFloat;
  m_channels = format.channels;
  m_bytesPerSample = bytes;
  m_blockAlign = format.blockAlign;
  memset(m_weights, 0, sizeof(m_weights));
  if (m_channels == 1) {
    m_weights[0][0] = 1.0f;
    m_weights[0][1] = 1.0f;
  } else {
    const uint32_t mask = format.channelMask != 0 ? format.channelMask : DefaultMask(m_channels);
    if (mask == 0) {
      m_weights[0][0] = 1.0f;
      m_weights[1][1] = 1.0f;
    } else {
      // The channels are stored in the order of the mask's bits, lowest first;
      // channels beyond the mask's bits have no position and are dropped.
      int c = 0;
      for (uint32_t bit = 1; bit != 0 && c < m_channels; bit <<= 1) {
        if ((mask & bit) == 0) continue;
        SpeakerWeights(bit, &m_weights[c][0], &m_weights[c][1]);
        ++c;
      }
    }
  }
  m_passThrough = !isFloat && bits == 16 && m_channels == 2 && m_blockAlign == 4 && m_weights[0][0] == 1.0f &&
                  m_weights[0][1] == 0.0f && m_weights[1][0] == 0.0f && m_weights[1][1] == 1.0f;
  m_ready = true;
  return true;
}

// One sample on the 16-bit scale.
float ChannelMixer::Sample(const uint8_t* p) const {
  if (m_float) {
    float value;
    memcpy(&value, p, sizeof(value));
    return value * 32768.0f;
  }
  switch (m_bytesPerSample) {
    case 1:
      return static_cast<float>((static_cast<int>(p[0]) - 128) * 256);
    case 2:
      return static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8))));
    case 3: {
      const uint32_t raw = (static_cast<uint32_t>(p[0]) << 8) | (static_cast<uint32_t>(p[1]) << 16) |
                           (static_cast<uint32_t>(p[2]) << 24);
      return static_cast<float>(static_cast<int32_t>(raw)) / 65536.0f;
    }
    default: {
      const uint32_t raw = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
      return static_cast<float>(static_cast<int32_t>(raw)) / 65536.0f;
    }
  }
}

void ChannelMixer::Mix(const uint8_t* input, uint32_t frames, int16_t* output) const {
  if (!m_ready) {
    memset(output, 0, static_cast<size_t>(frames) * capture::BYTES_PER_FRAME);
    return;
  }
  if (m_passThrough) {
    memcpy(output, input, static_cast<size_t>(frames) * capture::BYTES_PER_FRAME);
    return;
  }
  for (uint32_t f = 0; f < frames; ++f) {
    const uint8_t* frame = input + static_cast<size_t>(f) * m_blockAlign;
    float left = 0.0f;
    float right = 0.0f;
    for (int c = 0; c < m_channels; ++c) {
      const float l = m_weights[c][0];
      const float r = m_weights[c][1];
      if (l == 0.0f && r == 0.0f) continue;
      const float s = Sample(frame + static_cast<size_t>(c) * m_bytesPerSample);
      left += l * s;
      right += r * s;
    }
    output[2 * static_cast<size_t>(f)] = Clip16(left);
    output[2 * static_cast<size_t>(f) + 1] = Clip16(right);
  }
}

}  // namespace capture
