// The codec library's vector path. Where the compiler targets SSE2 (every
// x86-64 build, and the shipped 32-bit build with -msse2), the hot loops of
// the ADX and HCA codecs have an SSE2 form beside their scalar form; anywhere
// else only the scalar form is built. Both forms do the same operations on
// every value in the same order, so they give the same samples and the same
// stream bit for bit; the tests run both.
#pragma once

#include <atomic>

#if defined(__SSE2__) && !defined(QUILL_CODEC_NO_SSE2)
#define QUILL_CODEC_SSE2 1
#include <emmintrin.h>
#endif

namespace codec_simd {

// Off only while a test asks for the scalar form (SetVectorPath(false)).
inline std::atomic<bool> g_vectorPath{true};

// True when the SSE2 form runs: built, and not switched off.
inline bool VectorPath() {
#if defined(QUILL_CODEC_SSE2)
  return g_vectorPath.load(std::memory_order_relaxed);
#else
  return false;
#endif
}

// For tests: the scalar form (false) or, where built, the SSE2 form (true).
// Switch between passes, while no codec runs.
inline void SetVectorPath(bool on) {
  g_vectorPath.store(on, std::memory_order_relaxed);
}

}  // namespace codec_simd
