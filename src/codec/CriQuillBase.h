// The codec object behind an open QuillDll handle, and the two set-ups that
// make one (ADX here, HCA in hca/).
//
// Process contract (every codec keeps it): with n = min(inFrames, outFrames),
// a call consumes exactly the first n frames of `in`, writes exactly n frames
// to `out`, leaves everything beyond them untouched and stores n in
// *processed when `processed` is not null. A null `out` or `in` is allowed
// only with a zero count (RESULT_INVALID_PARAMETER otherwise). A frame is one
// signed 16-bit sample per channel, interleaved, channel 0 first. The object
// keeps its stream state between calls; it is used by one thread at a time.
#pragma once

#include <cstdint>

#include "QuillDll.h"

class CriQuillBase {
 public:
  // Pushes min(inFrames, outFrames) frames through the codec; see above.
  virtual uint32_t Process(int16_t* out, uint32_t outFrames, const int16_t* in, uint32_t inFrames,
                           uint32_t* processed) = 0;
  // Tears the codec down and deletes the object (`delete this`); always
  // RESULT_SUCCESS. The object must not be used afterwards.
  virtual uint32_t Release() = 0;
  virtual ~CriQuillBase() = default;

  CriQuillBase(const CriQuillBase&) = delete;
  CriQuillBase& operator=(const CriQuillBase&) = delete;

 protected:
  CriQuillBase() = default;
};

// ADX set-up (CriQuillAdx.cpp). `info.codec` must be CODEC_ADX.
// Returns RESULT_SUCCESS and the new object in *codec, RESULT_INVALID_PARAMETER
// for a field out of range, or RESULT_FAILED (nothing left behind) when the
// codec cannot be set up. *codec is null on failure.
uint32_t CreateCriQuillAdx(const QuillDll::CODECINFO& info, CriQuillBase** codec);

// HCA set-up, provided by hca/.
// Same contract as CreateCriQuillAdx, with `info.codec` CODEC_HCA and
// `info.quality` 0..5. Called with QuillDll's set-up lock held, so it never
// runs beside another Open or Close.
uint32_t CreateCriQuillHca(const QuillDll::CODECINFO& info, CriQuillBase** codec);
