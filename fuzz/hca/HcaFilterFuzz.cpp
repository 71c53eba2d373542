// Any samples into the HCA filter and codec object: values outside -1..1, not
// a number or infinite (through the filter), and any 16-bit input in calls of
// any size (through CriQuillHca). The encoder must always produce a whole,
// valid frame that the decoder takes, and the output stays finite.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hca/CriQuillHca.h"
#include "hca/HcaCrc.h"
#include "hca/HcaDecoder.h"
#include "hca/HcaEncoder.h"
#include "hca/HcaFilter.h"

using namespace hca;

namespace {

void FuzzFilter(const uint8_t* data, size_t size) {
  static const int RATES[4] = {32728, 16000, 96000, 44100};
  const uint8_t setup = data[0];
  const int channels = 1 + (setup & 1);
  const int rate = RATES[(setup >> 1) & 3];
  const int quality = 1 + ((setup >> 3) % 5);
  HcaFilter* filter = HcaFilter::Create(channels, rate, HcaRequestedBitRate(channels, rate, quality));
  if (!filter) abort();
  ++data;
  --size;
  std::vector<float> planes[2] = {std::vector<float>(1024), std::vector<float>(1024)};
  float* p[2] = {planes[0].data(), planes[1].data()};
  for (int n = 0; n < 3 && size > 0; ++n) {
    for (int c = 0; c < channels; ++c) {
      const size_t bytes = 1024 * sizeof(float);
      std::vector<uint8_t> raw(bytes, 0);
      std::memcpy(raw.data(), data, size < bytes ? size : bytes);
      std::memcpy(planes[c].data(), raw.data(), bytes);
      size_t take = size < bytes ? size : bytes;
      data += take;
      size -= take;
    }
    if (filter->Process(p) != HCA_OK) abort();
    const uint8_t* frame = filter->FrameBuffer();
    const size_t frameSize = static_cast<size_t>(filter->Encoder()->FrameSize());
    if (frame[0] != 0xFF || frame[1] != 0xFF || Crc16(frame, frameSize) != 0) abort();
    for (int c = 0; c < channels; ++c)
      for (float v : planes[c])
        if (!std::isfinite(v)) abort();
  }
  filter->Destroy();
}

void FuzzCodec(const uint8_t* data, size_t size) {
  QuillDll::CODECINFO info{};
  info.codec = QuillDll::CODEC_HCA;
  info.channels = static_cast<uint16_t>(1 + (data[0] & 1));
  info.bytesPerSample = 2;
  info.quality = static_cast<uint16_t>((data[0] >> 1) % 6);
  info.samplingRate = 32728.0;
  ++data;
  --size;
  CriQuillBase* codec = nullptr;
  if (CreateCriQuillHca(info, &codec) != QuillDll::RESULT_SUCCESS) abort();
  const size_t frameBytes = 2u * info.channels;
  // Call sizes come from the data too: a byte of size, then that many frames (x 8).
  std::vector<int16_t> out;
  std::vector<int16_t> in;
  while (size > 0) {
    const uint32_t frames = 8u * data[0] + 1u;
    ++data;
    --size;
    in.assign(frames * info.channels, 0);
    std::memcpy(in.data(), data, size < frames * frameBytes ? size : frames * frameBytes);
    out.assign(frames * info.channels + 1, 0x1234);
    uint32_t processed = 0;
    if (codec->Process(out.data(), frames, in.data(), frames, &processed) != QuillDll::RESULT_SUCCESS) abort();
    if (processed != frames || out[frames * info.channels] != 0x1234) abort();
    const size_t take = size < frames * frameBytes ? size : frames * frameBytes;
    data += take;
    size -= take;
  }
  codec->Release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  if (data[0] & 1)
    FuzzCodec(data + 1, size - 1);
  else
    FuzzFilter(data + 1, size - 1);
  return 0;
}
