// The HCA encoder's inner loops. Each has a scalar form, the reference, and
// where the build has SSE2 a vector form that gives the same results bit for
// bit; codec_simd::VectorPath() picks one at run time, and the tests run the
// codec through both.
#pragma once

#include <cstdint>

#include "hca/HcaCommon.h"
#include "hca/HcaTables.h"

namespace hca {

// Limits a frame of input to -1..1; not-a-number becomes 0.
void ClipFrame(const float* from, float* to);

// Per band: the scale-factor index of its largest magnitude over the 8
// subframes (0 for bands from `limit` on), and its 8 values divided by that
// scale, turned from subframes by band (coef) into bands by subframe (norm).
void ScaleAndNormalise(const HcaTables& t, const float (*coef)[HCA_BANDS], int limit, uint8_t* scale,
                       float (*norm)[HCA_SUBFRAMES]);

// The bits of a band's 8 normalised values at resolution r (1..15), without
// quantising them: valueBits8[r], plus one for every value whose quantiser
// input u = (1 - x) x inverseStep[r] falls outside [wideBelow[r],
// wideAbove[r]) (HcaTables).
int BandBits(const HcaTables& t, const float* x, int r);

// Quantises a band's 8 normalised values at resolution r (1..15) into their
// codes as written (bits << 5 | length); returns the codes' bits.
int QuantiseBand(const HcaTables& t, const float* x, int r, uint32_t* code);

}  // namespace hca
