#include "StreamTap.h"

#include "capture/BlockPipeline.h"

#if defined(QUILLCODEC_HCA_TAP)

#include <algorithm>
#include <new>

#include "CriQuillAdx.h"
#include "hca/CriQuillHca.h"
#include "hca/HcaEncoder.h"
#include "hca/HcaFilter.h"

namespace {

// Where the pass's stream goes. The codec functions carry no context of
// their own; the tool runs one pass at a time.
std::vector<uint8_t>* s_stream = nullptr;

struct TapHandle {
  CriQuillBase* codec;  // owned; released by TapClose
  CriQuillHca* hca;     // the codec when it is HCA, else null
  uint32_t frames;      // HCA frames of the stream taken so far
};

// The ADX encoder hands over every piece of its stream as it writes it.
void AppendAdx(void* context, const uint8_t* bytes, int32_t count) {
  auto* stream = static_cast<std::vector<uint8_t>*>(context);
  if (count > 0) stream->insert(stream->end(), bytes, bytes + count);
}

uint32_t TapOpen(void** handle, const QuillDll::CODECINFO* info) {
  if (handle == nullptr) return QuillDll::RESULT_INVALID_PARAMETER;
  *handle = nullptr;
  if (info == nullptr || (info->codec != QuillDll::CODEC_HCA && info->codec != QuillDll::CODEC_ADX) ||
      s_stream == nullptr) {
    return QuillDll::RESULT_INVALID_PARAMETER;
  }
  const bool adx = info->codec == QuillDll::CODEC_ADX;
  CriQuillBase* codec = nullptr;
  uint32_t result = adx ? CreateCriQuillAdx(*info, &codec) : CreateCriQuillHca(*info, &codec);
  if (result != QuillDll::RESULT_SUCCESS) return result;
  auto* tap = new (std::nothrow) TapHandle{codec, nullptr, 0};
  if (tap == nullptr) {
    codec->Release();
    return QuillDll::RESULT_FAILED;
  }
  if (adx) {
    // The encoder writes the header on its first run, inside the first call.
    static_cast<CriQuillAdx*>(codec)->SetStreamObserver(&AppendAdx, s_stream);
  } else {
    tap->hca = static_cast<CriQuillHca*>(codec);
    tap->frames = tap->hca->Filter()->Encoder()->FramesWritten();
    // The filter wrote the stream header into its frame buffer when it was made.
    const uint8_t* header = tap->hca->Filter()->FrameBuffer();
    s_stream->insert(s_stream->end(), header, header + hca::HCA_HEADER_SIZE);
  }
  *handle = tap;
  return QuillDll::RESULT_SUCCESS;
}

uint32_t TapEncodeAndDecode(void* handle, void* out, uint32_t outFrames, void* in, uint32_t inFrames,
                            uint32_t* processed) {
  uint32_t ignored = 0;
  if (processed == nullptr) processed = &ignored;
  *processed = 0;
  if (handle == nullptr) return QuillDll::RESULT_INVALID_PARAMETER;
  auto* tap = static_cast<TapHandle*>(handle);
  if (tap->hca == nullptr) {
    return tap->codec->Process(static_cast<int16_t*>(out), outFrames, static_cast<const int16_t*>(in), inFrames,
                               processed);
  }
  const uint32_t channels = tap->hca->Info().channels;
  const uint32_t n = std::min(inFrames, outFrames);
  uint32_t done = 0;
  while (done < n) {
    // A piece of at most one frame's length completes at most one frame, and
    // the filter keeps only the most recent. The output does not depend on
    // how the input is cut.
    const uint32_t piece = std::min<uint32_t>(n - done, hca::HCA_FRAME_SAMPLES);
    uint32_t got = 0;
    uint32_t result = tap->hca->Process(static_cast<int16_t*>(out) + done * channels, piece,
                                        static_cast<const int16_t*>(in) + done * channels, piece, &got);
    if (result != QuillDll::RESULT_SUCCESS) return result;
    hca::HcaEncoder* encoder = tap->hca->Filter()->Encoder();
    if (encoder->FramesWritten() != tap->frames) {
      const uint8_t* frame = tap->hca->Filter()->FrameBuffer();
      s_stream->insert(s_stream->end(), frame, frame + encoder->FrameSize());
      tap->frames = encoder->FramesWritten();
    }
    if (got == 0) break;
    done += got;
  }
  *processed = done;
  return QuillDll::RESULT_SUCCESS;
}

uint32_t TapClose(void* handle) {
  if (handle == nullptr) return QuillDll::RESULT_INVALID_PARAMETER;
  auto* tap = static_cast<TapHandle*>(handle);
  tap->codec->Release();
  delete tap;
  return QuillDll::RESULT_SUCCESS;
}

}  // namespace

bool StreamTapAvailable(int32_t format) {
  return format >= WAVEFMT_CRI_ADX && format <= WAVEFMT_CRI_HCA_LOWEST;
}

CodecFunctions StreamTapFunctions(std::vector<uint8_t>* stream) {
  s_stream = stream;
  CodecFunctions functions;
  functions.Open = &TapOpen;
  functions.EncodeAndDecode = &TapEncodeAndDecode;
  functions.Close = &TapClose;
  return functions;
}

int32_t CodecLibraryDelay(int32_t format, uint32_t firstFrames) {
  if (format == WAVEFMT_CRI_ADX) return static_cast<int32_t>(AdxDelayFrames(firstFrames));
  if (format >= WAVEFMT_CRI_HCA_HIGHEST && format <= WAVEFMT_CRI_HCA_LOWEST) return HCA_PASS_DELAY_FRAMES;
  return 0;
}

#else

bool StreamTapAvailable(int32_t) {
  return false;
}

CodecFunctions StreamTapFunctions(std::vector<uint8_t>*) {
  return CodecFunctions();
}

int32_t CodecLibraryDelay(int32_t, uint32_t) {
  return 0;
}

#endif
