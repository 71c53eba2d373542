// The HCA encoder's last stage: the values quantised at the resolutions the
// allocation chose, and the frame written bit by bit with its CRC.
#include <cstring>

#include "hca/BitStream.h"
#include "hca/HcaCrc.h"
#include "hca/HcaEncoder.h"
#include "hca/HcaEncoderChannel.h"
#include "hca/HcaEncoderKernels.h"
#include "hca/HcaTables.h"

namespace hca {

// Quantises the coded bands at their final resolutions into the codes
// WriteFrame writes (bands of resolution 0 get empty codes); returns the
// codes' bits.
int HcaEncoder::QuantiseBands(HcaEncoderChannel& c) const {
  int total = 0;
  for (int j = 0; j < c.codedBands; ++j) {
    const int r = c.resolution[j];
    if (r == 0) {
      for (uint32_t& code : c.code[j]) code = 0;
      continue;
    }
    total += QuantiseBand(*m_tables, c.norm[j], r, c.code[j]);
  }
  return total;
}

// The frame: sync, noise level and boundary; per channel the scale factors
// (a width w, the first factor whole, then differences of w bits with an
// escape to a whole factor, or every factor whole for w = 6), then the
// intensity indexes or HFR scales; then subframe by subframe every channel's
// codes; zeros up to the CRC.
int HcaEncoder::WriteFrame(uint8_t* buffer) {
  const HcaStreamParams& p = m_params;
  const int frameSize = p.frameSize;
  std::memset(buffer, 0, static_cast<size_t>(frameSize));
  BitWriter out(buffer, static_cast<size_t>(frameSize - HCA_CRC_BITS / 8));
  out.Write(0xFFFF, HCA_SYNC_BITS);
  out.Write(static_cast<uint32_t>(m_allocation.NoiseLevel()), HCA_NOISE_LEVEL_BITS);
  out.Write(static_cast<uint32_t>(m_allocation.Boundary()), HCA_BOUNDARY_BITS);
  for (int ci = 0; ci < p.channels; ++ci) {
    const HcaEncoderChannel& c = m_channels[ci];
    out.Write(static_cast<uint32_t>(c.scaleWidth), HCA_SCALE_WIDTH_BITS);
    if (c.scaleWidth > 0 && c.codedBands > 0) {
      out.Write(c.scale[0], HCA_SCALE_BITS);
      const int w = c.scaleWidth;
      const int t = (1 << (w - 1)) - 1;
      for (int j = 1; j < c.codedBands; ++j) {
        if (w == HCA_SCALE_BITS) {
          out.Write(c.scale[j], HCA_SCALE_BITS);
          continue;
        }
        int d = c.scale[j] - c.scale[j - 1];
        if (d >= -t && d <= t) {
          out.Write(static_cast<uint32_t>(d + t), w);
        } else {
          out.Write((1u << w) - 1u, w);
          out.Write(c.scale[j], HCA_SCALE_BITS);
        }
      }
    }
    if (c.type == HCA_CHANNEL_SECONDARY) {
      for (int s = 0; s < HCA_SUBFRAMES; ++s) out.Write(c.intensity[s], HCA_INTENSITY_BITS);
    } else {
      for (int g = 0; g < p.hfrGroups; ++g) out.Write(c.hfrScale[g], HCA_HFR_SCALE_BITS);
    }
  }
  int valueBits = 0;
  for (int ci = 0; ci < p.channels; ++ci) valueBits += QuantiseBands(m_channels[ci]);
  // The codes hold their bits only, so they go without masking or, once the
  // room for all of them is known, without a check each.
  const bool room = out.HasRoom(static_cast<size_t>(valueBits));
  for (int s = 0; s < HCA_SUBFRAMES; ++s) {
    for (int ci = 0; ci < p.channels; ++ci) {
      const HcaEncoderChannel& c = m_channels[ci];
      for (int j = 0; j < c.codedBands; ++j) {
        const uint32_t code = c.code[j][s];
        if (room)
          out.WriteCode(code >> 5, static_cast<int>(code & 31));
        else
          out.Write(code >> 5, static_cast<int>(code & 31));
      }
    }
  }
  out.Flush();
  if (out.Overflowed()) return HCA_ERROR_FRAME_OVERFLOW;
  if (out.BitsWritten() + HCA_CRC_BITS !=
      static_cast<size_t>(m_allocation.CountBits(m_allocation.NoiseLevel(), m_allocation.Boundary())))
    return HCA_ERROR_BIT_COUNT;
  PutBigEndian16(buffer + frameSize - 2, Crc16(buffer, static_cast<size_t>(frameSize - 2)));
  return HCA_OK;
}

}  // namespace hca
