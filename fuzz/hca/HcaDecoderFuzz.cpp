// HCA streams into the decoder: any header and any frame must be refused or
// decoded within bounds. The first byte chooses how the rest is used, so that
// the fuzzer reaches the frame parser as well as the header parser:
//   mode 0: the rest is a stream (header, then frames);
//   mode 1: a valid header from the encoder, then the rest as frames;
//   mode 2: a valid header and valid frames, with the rest XORed over the frames;
//   mode 3: a valid header with the rest XORed over it, then valid frames.
// Flag 0x04 repairs CRCs before the decoder sees a block; flag 0x08 gives the
// decoder room for 16 channels and the largest frames.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hca/HcaCrc.h"
#include "hca/HcaDecoder.h"
#include "hca/HcaEncoder.h"

using namespace hca;

namespace {

void RepairCrc(uint8_t* block, size_t size) {
  if (size < 2) return;
  uint16_t crc = Crc16(block, size - 2);
  block[size - 2] = static_cast<uint8_t>(crc >> 8);
  block[size - 1] = static_cast<uint8_t>(crc);
}

// A header and a few frames from the real encoder, chosen by `choice`.
bool MakeStream(uint8_t choice, std::vector<uint8_t>* stream, int* frameSize) {
  static const int RATES[4] = {32728, 16000, 48000, 8000};
  static const int RATIOS[4] = {4, 8, 12, 16};
  const int channels = 1 + (choice & 1);
  const int rate = RATES[(choice >> 1) & 3];
  const int bitRate = rate * 16 * channels / RATIOS[(choice >> 3) & 3];
  std::vector<uint8_t> work(HcaEncoder::WorkSize(2));
  HcaEncoderStart();
  HcaEncoder* encoder = nullptr;
  bool ok = HcaEncoder::Create(2, work.data(), work.size(), nullptr, &encoder) == HCA_OK &&
            encoder->SetChannels(channels, 1, 0) == HCA_OK && encoder->SetSamplingRate(rate, 0) == HCA_OK &&
            encoder->SetBitRate(bitRate < 32000 * channels ? 32000 * channels : bitRate) == HCA_OK;
  size_t written = 0;
  stream->assign(HCA_HEADER_SIZE, 0);
  ok = ok && encoder->WriteHeader(stream->data(), stream->size(), &written) == HCA_OK;
  if (ok) {
    *frameSize = encoder->FrameSize();
    std::vector<float> left(1024), right(1024);
    const float* planes[2] = {left.data(), right.data()};
    for (int n = 0; n < 3 && ok; ++n) {
      for (int i = 0; i < 1024; ++i) {
        left[i] = 0.6f * std::sin(0.05f * static_cast<float>(i + 1024 * n) * static_cast<float>(choice + 1));
        right[i] = ((i * 7919 + n) % 61) / 61.0f - 0.5f;
      }
      std::vector<uint8_t> frame(static_cast<size_t>(*frameSize));
      ok = encoder->PutSamples(planes) == HCA_OK && encoder->GetFrame(frame.data(), frame.size(), &written) == HCA_OK;
      stream->insert(stream->end(), frame.begin(), frame.end());
    }
  }
  if (encoder) encoder->Destroy();
  HcaEncoderFinish();
  return ok;
}

void Decode(HcaDecoder* decoder, uint8_t* stream, size_t size, bool repair) {
  size_t used = 0;
  size_t pos = 0;
  // The header (skipping to a possible start when asked to).
  for (int attempt = 0; attempt < 4 && pos < size; ++attempt) {
    if (repair && size - pos >= 8) {
      size_t headerSize = static_cast<size_t>(stream[pos + 6] << 8 | stream[pos + 7]);
      if (headerSize >= 2 && headerSize <= size - pos) RepairCrc(stream + pos, headerSize);
    }
    int result = decoder->ReadHeader(stream + pos, size - pos, &used);
    if (result == HCA_OK) {
      if (used == 0 || used > size - pos) abort();
      pos += used;
      break;
    }
    if (result == HCA_ERROR_NOT_AT_START && used > 0) {
      if (used > size - pos) abort();
      pos += used;
      continue;
    }
    return;
  }
  if (!decoder->HasHeader()) return;
  const HcaStreamParams& p = decoder->Params();
  if (p.channels < 1 || p.channels > HCA_MAX_CHANNELS || p.frameSize > decoder->FrameBufferSize()) abort();
  const size_t frameSize = static_cast<size_t>(p.frameSize);
  static float samples[HCA_MAX_CHANNELS][HCA_SUBFRAME_SAMPLES];
  float* out[HCA_MAX_CHANNELS];
  for (int c = 0; c < HCA_MAX_CHANNELS; ++c) out[c] = samples[c];
  for (int frames = 0; frames < 64 && pos < size; ++frames) {
    if (repair && size - pos >= frameSize) RepairCrc(stream + pos, frameSize);
    int result = decoder->DecodeFrame(stream + pos, size - pos, &used);
    if (result == HCA_OK && used != frameSize) abort();
    if (result == HCA_ERROR_NEED_MORE) return;
    if (used > size - pos) abort();
    pos += used > 0 ? used : 1;
    int total = 0;
    for (int k = 0; k < 9; ++k) {
      int produced = -1;
      if (decoder->GetSamples(out, HCA_MAX_CHANNELS, HCA_SUBFRAME_SAMPLES, &produced) != HCA_OK) abort();
      if (produced < 0 || produced > HCA_SUBFRAME_SAMPLES) abort();
      total += produced;
    }
    if (result == HCA_OK && total != HCA_FRAME_SAMPLES) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  const int mode = flags & 3;
  const bool repair = (flags & 0x04) != 0;
  const int maxChannels = (flags & 0x08) ? HCA_MAX_CHANNELS : 2;
  ++data;
  --size;

  std::vector<uint8_t> stream;
  if (mode == 0) {
    stream.assign(data, data + size);
  } else {
    // The encoder's streams are the same for the same choice: made once each.
    static std::vector<uint8_t> made[256];
    static bool tried[256];
    if (size < 1) return 0;
    if (!tried[data[0]]) {
      int frameSize = 0;
      tried[data[0]] = true;
      if (!MakeStream(data[0], &made[data[0]], &frameSize)) made[data[0]].clear();
    }
    stream = made[data[0]];
    if (stream.empty()) return 0;
    ++data;
    --size;
    if (mode == 1) {
      stream.resize(HCA_HEADER_SIZE);
      stream.insert(stream.end(), data, data + size);
    } else {
      const size_t from = mode == 2 ? HCA_HEADER_SIZE : 0;
      for (size_t i = 0; i < size && from + i < stream.size(); ++i) stream[from + i] ^= data[i];
    }
  }

  HcaDecoderStart();
  std::vector<uint8_t> work(maxChannels == 2 ? 8192 : HcaDecoder::WorkSize(HCA_MAX_CHANNELS, HCA_MAX_FRAME_SIZE));
  HcaDecoder* decoder = nullptr;
  if (HcaDecoder::Create(maxChannels, 0, work.data(), work.size(), &decoder) != HCA_OK) abort();
  Decode(decoder, stream.data(), stream.size(), repair);
  decoder->Destroy();
  HcaDecoderFinish();
  return 0;
}
