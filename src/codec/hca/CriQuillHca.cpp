#include "hca/CriQuillHca.h"

#include <cstring>
#include <new>

#include "hca/HcaFilter.h"
#include "runtime/CodecSimd.h"

namespace {

// Compression against 16-bit PCM by quality, for one and for two channels.
const int QUALITY_RATIO[2][6] = {
    {6, 12, 10, 8, 6, 4},
    {6, 16, 12, 8, 6, 4},
};

// Rates from here up cannot be converted to an integer rate safely; the
// encoder accepts at most 0x7FFFFF anyway.
constexpr double MAX_RATE = 2147483647.0;

inline int16_t ToPcm(float v) {
  float scaled = v * 32768.0f;
  if (scaled >= 32767.0f) return 32767;
  if (scaled <= -32768.0f) return -32768;
  if (!(scaled == scaled)) return 0;
  return static_cast<int16_t>(scaled);  // truncated toward zero
}

}  // namespace

int64_t HcaRequestedBitRate(int channels, double samplingRate, int quality) {
  const int ratio = QUALITY_RATIO[channels == 1 ? 0 : 1][quality];
  return static_cast<int64_t>(samplingRate * 16.0 * channels / ratio);
}

uint32_t CreateCriQuillHca(const QuillDll::CODECINFO& info, CriQuillBase** codec) {
  if (!codec) return QuillDll::RESULT_INVALID_PARAMETER;
  *codec = nullptr;
  if (info.codec != QuillDll::CODEC_HCA || info.channels < 1 || info.channels > 2 || info.bytesPerSample != 2 ||
      !(info.samplingRate > 0.0) || info.quality > 5)
    return QuillDll::RESULT_INVALID_PARAMETER;
  // A rate the codec cannot carry (beyond any integer rate, or below 1 Hz once
  // truncated) means the filter cannot be made.
  if (!(info.samplingRate < MAX_RATE)) return QuillDll::RESULT_FAILED;
  const int rate = static_cast<int>(info.samplingRate);
  const int64_t bitRate = HcaRequestedBitRate(info.channels, info.samplingRate, info.quality);

  hca::HcaFilter* filter = hca::HcaFilter::Create(info.channels, rate, bitRate);
  if (!filter) return QuillDll::RESULT_FAILED;
  CriQuillHca* object = new (std::nothrow) CriQuillHca(info, filter);
  if (!object) {
    filter->Destroy();
    return QuillDll::RESULT_FAILED;
  }
  *codec = object;
  return QuillDll::RESULT_SUCCESS;
}

CriQuillHca::CriQuillHca(const QuillDll::CODECINFO& codecInfo, hca::HcaFilter* hcaFilter)
    : info(codecInfo), filter(hcaFilter), planes(), block(), fill(0) {}

CriQuillHca::~CriQuillHca() {
  if (filter) filter->Destroy();
}

uint32_t CriQuillHca::Release() {
  delete this;
  return QuillDll::RESULT_SUCCESS;
}

uint32_t CriQuillHca::Process(int16_t* out, uint32_t outFrames, const int16_t* in, uint32_t inFrames,
                              uint32_t* processed) {
  uint32_t dummy = 0;
  if (!processed) processed = &dummy;
  *processed = 0;
  if ((!out && outFrames > 0) || (!in && inFrames > 0)) return QuillDll::RESULT_INVALID_PARAMETER;
  const uint32_t n = inFrames < outFrames ? inFrames : outFrames;
  const int channels = info.channels;
  uint32_t done = 0;
  while (done < n) {
    uint32_t slice = static_cast<uint32_t>(hca::HCA_FRAME_SAMPLES - fill);
    if (slice > n - done) slice = n - done;
    const size_t offset = static_cast<size_t>(done) * channels;
    const size_t at = static_cast<size_t>(fill) * channels;
    const size_t count = static_cast<size_t>(slice) * channels;
    // Out go the decoded frames of the previous block (zeros before the first),
    // in come the new frames at the same place.
    std::memcpy(out + offset, block + at, count * sizeof(int16_t));
    std::memcpy(block + at, in + offset, count * sizeof(int16_t));
    fill += static_cast<int32_t>(slice);
    done += slice;
    if (fill == hca::HCA_FRAME_SAMPLES) {
      RunFilter();
      fill = 0;
    }
  }
  *processed = n;
  return QuillDll::RESULT_SUCCESS;
}

void CriQuillHca::RunFilter() {
  const int channels = info.channels;
  float* p[2] = {planes[0], planes[1]};
#if defined(QUILL_CODEC_SSE2)
  if (channels == 2 && codec_simd::VectorPath()) {
    // Four frames at a time: sample / 32768 is exact in float as in double.
    const __m128 in = _mm_set1_ps(1.0f / 32768.0f);
    for (int i = 0; i < hca::HCA_FRAME_SAMPLES; i += 4) {
      const __m128i pcm = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 2 * i));
      const __m128 first = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(pcm, pcm), 16));   // L0 R0 L1 R1
      const __m128 second = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(pcm, pcm), 16));  // L2 R2 L3 R3
      _mm_storeu_ps(planes[0] + i, _mm_mul_ps(_mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0)), in));
      _mm_storeu_ps(planes[1] + i, _mm_mul_ps(_mm_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1)), in));
    }
    filter->Process(p);
    // ToPcm: not-a-number to 0, clamped, truncated toward zero.
    const __m128 out = _mm_set1_ps(32768.0f);
    const __m128 low = _mm_set1_ps(-32768.0f);
    const __m128 high = _mm_set1_ps(32767.0f);
    for (int i = 0; i < hca::HCA_FRAME_SAMPLES; i += 4) {
      __m128 left = _mm_mul_ps(_mm_loadu_ps(planes[0] + i), out);
      __m128 right = _mm_mul_ps(_mm_loadu_ps(planes[1] + i), out);
      left = _mm_min_ps(_mm_max_ps(_mm_and_ps(left, _mm_cmpord_ps(left, left)), low), high);
      right = _mm_min_ps(_mm_max_ps(_mm_and_ps(right, _mm_cmpord_ps(right, right)), low), high);
      const __m128i l = _mm_cvttps_epi32(left);
      const __m128i r = _mm_cvttps_epi32(right);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 2 * i),
                       _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r)));
    }
    return;
  }
#endif
  for (int i = 0; i < hca::HCA_FRAME_SAMPLES; ++i)
    for (int c = 0; c < channels; ++c) planes[c][i] = static_cast<float>(block[i * channels + c] / 32768.0);
  filter->Process(p);
  for (int i = 0; i < hca::HCA_FRAME_SAMPLES; ++i)
    for (int c = 0; c < channels; ++c) block[i * channels + c] = ToPcm(planes[c][i]);
}
