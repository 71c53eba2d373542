// The HCA transform: a modified discrete cosine transform over 256 windowed
// samples with a hop of 128, built on a scaled 128-point DCT-IV. Analysis and
// synthesis share the window; together they reproduce the input exactly
// (within float rounding) 128 samples later.
#pragma once

namespace hca {

// out[k] = 1/8 * sum over n of in[n] * cos(pi / 128 * (n + 1/2) * (k + 1/2)),
// k = 0..127, through a 64-point complex FFT. Applied twice it gives the input
// back. `in` and `out` may be the same array.
void Dct4(const float* in, float* out);

// Analysis of one subframe. `history` holds the previous subframe's 128
// samples (zeros at the start of a stream) and receives `samples`. The
// coefficients are the negated DCT-IV of the folded block: that is the sign
// the stream format carries, so that a positive pulse plays positive in any
// decoder of the format. Negation is exact in floating point, so the sign
// changes nothing else.
void AnalyseSubframe(float* history, const float* samples, float* coefficients);

// Analysis of a frame's 8 subframes (samples: 1024), as 8 AnalyseSubframe
// calls in turn would give them.
void AnalyseFrame(float* history, const float* samples, float (*coefficients)[128]);

// Synthesis of one subframe. `overlap` holds the second half of the previous
// inverse transform (zeros at the start) and is updated; 128 samples out.
// The coefficients carry the stream's sign (see AnalyseSubframe).
void SynthesiseSubframe(const float* coefficients, float* overlap, float* samples);

// Synthesis of `blocks` subframes in turn, as SynthesiseSubframe would
// give them one after the other: block b's coefficients overlap-added to
// overlaps[b] into samples[b], its next overlap to nextOverlaps[b] (which may
// be the same array). A block may overlap what an earlier one of the same
// call leaves.
void SynthesiseSubframes(int blocks, const float* const* coefficients, const float* const* overlaps,
                         float* const* nextOverlaps, float* const* samples);

}  // namespace hca
