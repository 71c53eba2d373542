#include "hca/HcaTables.h"

#include <cmath>
#include <cstring>

namespace hca {

const uint16_t HCA_LEVELS[16] = {1, 3, 5, 7, 9, 11, 13, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095};

const uint8_t HCA_RESOLUTION_TABLE[72] = {15, 15, 15, 15, 15, 15,                           //
                                          14, 14, 14, 14, 14, 14,                           //
                                          13, 13, 13, 13, 13, 13,                           //
                                          12, 12, 12, 12, 12, 12,                           //
                                          11, 11, 11, 11, 11, 11,                           //
                                          10, 10, 10, 10, 10, 10, 10,                       //
                                          9,  9,  9,  9,  9,  9,                            //
                                          8,  8,  8,  8,  8,  8,                            //
                                          7,  6,  6,  5,  4,  4,  4,  3, 3, 3, 2, 2, 2, 2,  //
                                          1,  1,  1,  1,  1,  1,  1,  1, 1};

const uint8_t HCA_MAGNITUDE_BITS[16] = {0, 0, 0, 0, 0, 0, 0, 0, 4, 5, 6, 7, 8, 9, 10, 11};

const uint8_t HCA_PEEK_BITS[8] = {0, 2, 3, 3, 4, 4, 4, 4};

// Codes from the most negative value to the most positive.
const HcaCode HCA_CODES[8][15] = {
    {},
    {{3, 2}, {0, 1}, {2, 2}},
    {{7, 3}, {2, 2}, {0, 2}, {1, 2}, {6, 3}},
    {{7, 3}, {5, 3}, {3, 3}, {0, 2}, {2, 3}, {4, 3}, {6, 3}},
    {{15, 4}, {6, 3}, {4, 3}, {2, 3}, {0, 3}, {1, 3}, {3, 3}, {5, 3}, {14, 4}},
    {{15, 4}, {13, 4}, {11, 4}, {4, 3}, {2, 3}, {0, 3}, {1, 3}, {3, 3}, {10, 4}, {12, 4}, {14, 4}},
    {{15, 4}, {13, 4}, {11, 4}, {9, 4}, {7, 4}, {2, 3}, {0, 3}, {1, 3}, {6, 4}, {8, 4}, {10, 4}, {12, 4}, {14, 4}},
    {{15, 4},
     {13, 4},
     {11, 4},
     {9, 4},
     {7, 4},
     {5, 4},
     {3, 4},
     {0, 3},
     {2, 4},
     {4, 4},
     {6, 4},
     {8, 4},
     {10, 4},
     {12, 4},
     {14, 4}},
};

namespace {

// The window's kernel: a smooth bell over 129 points, k(m) = (u (1 - u))^p x
// exp(-b d^2 + c d^4) with u = (m + a) / (128 + 2a) and d = u - 1/2. Its
// running sum, normalised, is W[n]^2 (below). The four constants are fitted
// so that the window passes through the values the format pins: W[0] =
// 0.00069053378, W[1] = 0.0019762348, W[2] = 0.0036738645 and W[64] =
// 0.71528041 (W[127] = 0.99999976 then follows from W[0]).
constexpr double KERNEL_A = 0.7453646620920334;
constexpr double KERNEL_P = 2.3888931725524936;
constexpr double KERNEL_B = 20.35335310019454;
constexpr double KERNEL_C = 53.62548001011057;

double WindowKernel(int m) {
  const double u = (m + KERNEL_A) / (128.0 + 2.0 * KERNEL_A);
  const double d = u - 0.5;
  return std::pow(u * (1.0 - u), KERNEL_P) * std::exp(-KERNEL_B * d * d + KERNEL_C * d * d * d * d);
}

void BuildTables(HcaTables* t) {
  for (int i = 0; i < 64; ++i) t->scale[i] = static_cast<float>(std::pow(2.0, 3.5 - (63 - i) * 53.0 / 128.0));
  for (uint32_t bucket = 0; bucket < 2048; ++bucket) {
    // Entries whose bit patterns lie below the bucket, and the one inside it.
    const uint32_t first = bucket << 20;
    int below = 0;
    uint32_t inside = 0xFFFFFFFFu;
    for (int i = 0; i < 64; ++i) {
      uint32_t bits;
      std::memcpy(&bits, &t->scale[i], sizeof(bits));
      if (bits < first)
        ++below;
      else if (bits >> 20 == bucket)
        inside = bits;  // one at most
    }
    t->scaleBelow[bucket] = static_cast<uint8_t>(below);
    t->scaleIn[bucket] = inside;
  }
  t->inverseScale[0] = 0.0f;
  for (int i = 1; i < 64; ++i) t->inverseScale[i] = 1.0f / t->scale[i];
  t->step[0] = 0.0f;
  t->inverseStep[0] = 0.0f;
  t->range[0] = 0.0f;
  for (int r = 1; r < 16; ++r) {
    t->step[r] = static_cast<float>(2.0 / HCA_LEVELS[r]);
    t->inverseStep[r] = static_cast<float>(HCA_LEVELS[r] / 2.0);
    t->range[r] = t->step[r];
  }
  for (int i = -63; i <= 63; ++i) t->hfrRatio[i + 63] = static_cast<float>(std::pow(2.0, i * 53.0 / 128.0));
  for (int i = 0; i < 15; ++i) t->intensity[i] = static_cast<float>((14 - i) / 7.0);

  // W[n]^2 = the running sum of a kernel symmetric over 129 points, divided by
  // its total: then W[n]^2 + W[127 - n]^2 = 1 (power-complementary once
  // mirrored, W[255 - n] = W[n]).
  double kernel[129];
  double total = 0.0;
  for (int m = 0; m <= 128; ++m) {
    kernel[m] = WindowKernel(m);
    total += kernel[m];
  }
  double running = 0.0;
  for (int n = 0; n < 128; ++n) {
    running += kernel[n];
    const auto w = static_cast<float>(std::sqrt(running / total));
    t->window[n] = w;
    t->window[255 - n] = w;
  }

  for (int r = 0; r < 16; ++r) {
    const int half = HCA_LEVELS[r] / 2;
    int bits = HCA_MAGNITUDE_BITS[r];
    int wide = 1;
    if (r >= 1 && r <= 7) {
      // Value 0 has the shortest code; from some |v| on the codes are one bit longer.
      bits = HCA_CODES[r][half].length;
      while (wide <= half && HCA_CODES[r][half + wide].length == bits) ++wide;
    }
    // The offsets of the codes' rule, read off the smallest value on each side of wideFrom.
    int below = 0;
    int from = 0;
    if (r >= 1 && r <= 7) {
      if (wide > 1) below = HCA_CODES[r][half + 1].bits - 2;
      if (wide <= half) from = HCA_CODES[r][half + wide].bits - 2 * wide;
    }
    t->codeBelow[r] = static_cast<int8_t>(below);
    t->codeFrom[r] = static_cast<int8_t>(from);
    t->valueBits[r] = static_cast<uint8_t>(bits);
    t->valueBits8[r] = 8 * bits;
    t->wideFrom[r] = static_cast<uint8_t>(wide);
    t->wideBelow[r] = r == 0 ? 0.0f : static_cast<float>(half - wide + 1);
    t->wideAbove[r] = r == 0 ? INFINITY : static_cast<float>(half + wide);
  }
  for (int i = 0; i < static_cast<int>(sizeof(t->resolutionAt)); ++i)
    t->resolutionAt[i] = static_cast<uint8_t>(ResolutionFor(0, HcaTables::LEVEL_ZERO - i, HCA_MAX_RESOLUTION));

  t->peekShift[0] = 63;
  for (int r = 1; r <= 7; ++r) t->peekShift[r] = static_cast<uint8_t>(64 - HCA_PEEK_BITS[r]);
  for (int r = 1; r <= 7; ++r) {
    int half = HCA_LEVELS[r] / 2;
    int peek = HCA_PEEK_BITS[r];
    for (int v = -half; v <= half; ++v) {
      const HcaCode& code = HCA_CODES[r][v + half];
      t->codeLength[r][v + half] = code.length;
      t->codeWord[r][v + half] = static_cast<uint32_t>(code.bits) << 5 | code.length;
      int shift = peek - code.length;
      for (int tail = 0; tail < (1 << shift); ++tail) {
        HcaCodeEntry& e = t->decode[r][(code.bits << shift) | tail];
        e.value = static_cast<int8_t>(v);
        e.length = code.length;
      }
    }
  }
}

}  // namespace

const HcaTables& Tables() {
  static const HcaTables tables = [] {
    HcaTables t{};
    BuildTables(&t);
    return t;
  }();
  return tables;
}

int HfrGroupCount(int totalBands, int baseBands, int stereoBands, int bandsPerHfrGroup) {
  int hfrBands = totalBands - baseBands - stereoBands;
  if (bandsPerHfrGroup <= 0 || hfrBands <= 0) return 0;
  return (hfrBands + bandsPerHfrGroup - 1) / bandsPerHfrGroup;
}

void AssignChannelTypes(const HcaStreamParams& params, uint8_t* types) {
  int tracks = params.trackCount > 0 ? params.trackCount : 1;
  int perTrack = params.channels / tracks;
  for (int c = 0; c < params.channels; ++c) types[c] = HCA_CHANNEL_DISCRETE;
  if (params.stereoBands <= 0 || perTrack != 2) return;
  for (int c = 0; c + 1 < params.channels; c += 2) {
    types[c] = HCA_CHANNEL_PRIMARY;
    types[c + 1] = HCA_CHANNEL_SECONDARY;
  }
}

int CodedBandCount(const HcaStreamParams& params, uint8_t type) {
  return type == HCA_CHANNEL_SECONDARY ? params.baseBands : params.baseBands + params.stereoBands;
}

}  // namespace hca
