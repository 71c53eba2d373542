#include "adx/AdxEncoder.h"

#include <cstring>

namespace {

AdxEncoder s_encoders[ADX_ENCODER_POOL_SIZE];
AdxChannelState s_channelStates[ADX_CHANNEL_POOL_SIZE];
AdxPredictor s_predictors[ADX_CHANNEL_POOL_SIZE];
bool s_channelStateUsed[ADX_CHANNEL_POOL_SIZE];
bool s_predictorUsed[ADX_CHANNEL_POOL_SIZE];
// Service users. The count and the pools are not locked (AdxEncoder.h).
int s_users = 0;

AdxChannelState* TakeChannelState() {
  for (int i = 0; i < ADX_CHANNEL_POOL_SIZE; ++i) {
    if (s_channelStateUsed[i]) continue;
    s_channelStateUsed[i] = true;
    s_channelStates[i] = AdxChannelState{};
    return &s_channelStates[i];
  }
  return nullptr;
}

AdxPredictor* TakePredictor() {
  for (int i = 0; i < ADX_CHANNEL_POOL_SIZE; ++i) {
    if (s_predictorUsed[i]) continue;
    s_predictorUsed[i] = true;
    s_predictors[i] = AdxPredictor{};
    return &s_predictors[i];
  }
  return nullptr;
}

// Returns a channel record and its predictor to their pools.
void FreeChannel(AdxChannelState* state) {
  if (state == nullptr) return;
  if (state->predictor != nullptr) s_predictorUsed[state->predictor - s_predictors] = false;
  s_channelStateUsed[state - s_channelStates] = false;
  *state = AdxChannelState{};
}

void ClearPools() {
  for (AdxEncoder& e : s_encoders) e = AdxEncoder{};
  for (int i = 0; i < ADX_CHANNEL_POOL_SIZE; ++i) {
    s_channelStates[i] = AdxChannelState{};
    s_predictors[i] = AdxPredictor{};
    s_channelStateUsed[i] = false;
    s_predictorUsed[i] = false;
  }
}

}  // namespace

void AdxEncoder_Init() {
  if (s_users++ == 0) ClearPools();
}

void AdxEncoder_Finish() {
  if (s_users == 0 || --s_users > 0) return;
  ClearPools();
}

AdxEncoder* AdxEncoder_Create(int channels, const SjHandle* inputs, SjHandle stream) {
  if (channels < 1 || channels > ADX_MAX_CHANNELS || inputs == nullptr || stream == nullptr) return nullptr;
  for (int c = 0; c < channels; ++c) {
    if (inputs[c] == nullptr) return nullptr;
  }
  AdxEncoder* e = nullptr;
  for (AdxEncoder& candidate : s_encoders) {
    if (candidate.m_used == 0) {
      e = &candidate;
      break;
    }
  }
  if (e == nullptr) return nullptr;
  *e = AdxEncoder{};
  e->m_used = 1;
  for (int c = 0; c < channels; ++c) {
    AdxChannelState* state = TakeChannelState();
    AdxPredictor* predictor = state != nullptr ? TakePredictor() : nullptr;
    if (predictor == nullptr) {
      FreeChannel(state);
      AdxEncoder_Destroy(e);
      return nullptr;
    }
    state->predictor = predictor;
    e->m_channel[c] = state;
    e->m_input[c] = inputs[c];
  }
  e->m_channels = static_cast<uint8_t>(channels);
  e->m_rings = static_cast<uint8_t>(channels);
  e->m_stream = stream;
  e->m_state = AdxEncoder::STOPPED;
  e->m_totalSamples = ADX_TOTAL_UNLIMITED;
  e->m_blockSamples = ADX_BLOCK_SAMPLES;
  e->m_dataOffset = ADX_DATA_OFFSET;
  e->m_encodingType = ADX_ENCODING_TYPE;
  e->m_blockBytes = ADX_BLOCK_BYTES;
  e->m_bitsPerSample = ADX_BITS_PER_SAMPLE;
  e->m_samplingRate = 44100;
  e->m_cutoff = ADX_CUTOFF_HZ;
  return e;
}

void AdxEncoder::SetStreamObserver(AdxStreamObserver observer, void* context) {
  m_observer = observer;
  m_observerContext = context;
}

// Hands a written chunk of the stream to the decoder's lane (and a copy to
// the observer, if any).
void AdxEncoder::Emit(SjChunk* out) {
  if (m_observer != nullptr) m_observer(m_observerContext, out->data, out->len);
  SJ_AddChunk(m_stream, SJ_LIN_DATA, out);
}

void AdxEncoder_Destroy(AdxEncoder* encoder) {
  if (encoder == nullptr || encoder->m_used == 0) return;
  for (AdxChannelState* state : encoder->m_channel) FreeChannel(state);
  *encoder = AdxEncoder{};
}

void AdxEncoder::SetDataOffset(int32_t offset) {
  if (offset > 0 && offset <= ADX_MAX_HEADER - 4) m_dataOffset = offset;
}

void AdxEncoder::SetSamplingRate(int32_t rateHz) {
  if (rateHz > 0) m_samplingRate = rateHz;
}

void AdxEncoder::SetChannels(int channels) {
  if (channels >= 1 && channels <= m_rings) m_channels = static_cast<uint8_t>(channels);
}

void AdxEncoder::SetBitsPerSample(int bits) {
  if (bits == ADX_BITS_PER_SAMPLE) m_bitsPerSample = bits;
}

void AdxEncoder::SetTotalSamples(int32_t total) {
  if (total > 0) m_totalSamples = total;
}

void AdxEncoder::Start() {
  m_state = HEADER_PENDING;
  m_bytesWritten = 0;
  m_samplesEncoded = 0;
}

void AdxEncoder::Stop() {
  m_state = STOPPED;
}

bool AdxEncoder::Finished() const {
  return m_totalSamples != ADX_TOTAL_UNLIMITED && m_samplesEncoded >= m_totalSamples;
}

bool AdxEncoder::WriteHeader() {
  // The header carries each channel's first sample as the initial history, so
  // it waits until every channel has one.
  for (int c = 0; c < m_channels; ++c) {
    SjChunk peek;
    SJ_TakeChunk(m_input[c], SJ_LIN_DATA, 2, &peek);
    const bool have = peek.len == 2;
    if (have) std::memcpy(&m_first[c], peek.data, 2);
    SJ_ReturnChunk(m_input[c], SJ_LIN_DATA, &peek);
    if (!have) return false;
  }
  int32_t offset = AdxMinimumDataOffset(m_channels, false);
  if (m_dataOffset > offset) offset = m_dataOffset;
  const int32_t length = offset + 4;
  SjChunk out;
  SJ_TakeChunk(m_stream, SJ_LIN_FREE, length, &out);
  if (out.len < length) {
    SJ_ReturnChunk(m_stream, SJ_LIN_FREE, &out);
    return false;
  }
  uint8_t* h = out.data;
  std::memset(h, 0, static_cast<size_t>(length));
  AdxPutBe16(h + ADX_HDR_SIGNATURE, ADX_SIGNATURE);
  AdxPutBe16(h + ADX_HDR_DATA_OFFSET, static_cast<uint32_t>(offset));
  h[ADX_HDR_ENCODING_TYPE] = static_cast<uint8_t>(m_encodingType);
  h[ADX_HDR_BLOCK_BYTES] = static_cast<uint8_t>(m_blockBytes);
  h[ADX_HDR_BITS_PER_SAMPLE] = static_cast<uint8_t>(m_bitsPerSample);
  h[ADX_HDR_CHANNELS] = m_channels;
  AdxPutBe32(h + ADX_HDR_SAMPLING_RATE, static_cast<uint32_t>(m_samplingRate));
  AdxPutBe32(h + ADX_HDR_TOTAL_SAMPLES, static_cast<uint32_t>(m_totalSamples));
  AdxPutBe16(h + ADX_HDR_CUTOFF, static_cast<uint32_t>(m_cutoff));
  h[ADX_HDR_VERSION] = ADX_HEADER_VERSION;
  h[ADX_HDR_FLAGS] = 0;
  AdxPutBe32(h + ADX_HDR_LOOP, static_cast<uint32_t>(m_loopCount));
  for (int c = 0; c < m_channels; ++c) {
    const auto first = static_cast<uint16_t>(m_first[c]);
    AdxPutBe16(h + ADX_HDR_HISTORY + 4 * c, first);
    AdxPutBe16(h + ADX_HDR_HISTORY + 4 * c + 2, first);
  }
  std::memcpy(h + length - ADX_TAG_LENGTH, ADX_TAG, ADX_TAG_LENGTH);
  Emit(&out);
  m_bytesWritten += length;

  int32_t c1 = 0;
  int32_t c2 = 0;
  AdxCalcCoefficients(m_cutoff, static_cast<uint32_t>(m_samplingRate), &c1, &c2);
  for (int c = 0; c < m_channels; ++c) {
    AdxChannelState* state = m_channel[c];
    state->c1 = state->predictor->c1 = static_cast<int16_t>(c1);
    state->c2 = state->predictor->c2 = static_cast<int16_t>(c2);
    state->s1 = state->s2 = state->predictor->s1 = state->predictor->s2 = m_first[c];
  }
  return true;
}

bool AdxEncoder::WriteEndMark() {
  SjChunk out;
  SJ_TakeChunk(m_stream, SJ_LIN_FREE, ADX_BLOCK_BYTES, &out);
  if (out.len < ADX_BLOCK_BYTES) {
    SJ_ReturnChunk(m_stream, SJ_LIN_FREE, &out);
    return false;
  }
  std::memset(out.data, 0, ADX_BLOCK_BYTES);
  AdxPutBe16(out.data, ADX_END_MARK);
  AdxPutBe16(out.data + 2, ADX_BLOCK_BYTES - 4);
  Emit(&out);
  m_bytesWritten += ADX_BLOCK_BYTES;
  return true;
}

// Codes `groups` block groups of `samples` (<= 32, zero-padded) samples per
// channel from the channels' sample runs into `out`.
int AdxEncoder::EncodeGroups(int groups, int samples, const uint8_t* const* input, uint8_t* out) {
  int16_t block[ADX_MAX_CHANNELS][ADX_BLOCK_SAMPLES];
  const bool scrambled = m_scrambleState != 0 || m_scrambleMultiplier != 0 || m_scrambleIncrement != 0;
  if (m_channels == 2 && samples == ADX_BLOCK_SAMPLES && !scrambled) {
    // A stereo run of whole groups, coded where it lies in the rings (the
    // coder reads it bytewise).
    AdxEncodeBlockPairs(m_channel[0], reinterpret_cast<const int16_t*>(input[0]), m_channel[1],
                        reinterpret_cast<const int16_t*>(input[1]), groups, out);
    return groups;
  }
  for (int g = 0; g < groups; ++g) {
    const int16_t* run[ADX_MAX_CHANNELS];
    for (int c = 0; c < m_channels; ++c) {
      const uint8_t* from = input[c] + static_cast<size_t>(g) * ADX_BLOCK_SAMPLES * 2;
      if (samples == ADX_BLOCK_SAMPLES) {
        // A whole block is coded where it lies in the ring (the coder reads it bytewise).
        run[c] = reinterpret_cast<const int16_t*>(from);
        continue;
      }
      std::memcpy(block[c], from, static_cast<size_t>(samples) * 2);
      std::memset(block[c] + samples, 0, static_cast<size_t>(ADX_BLOCK_SAMPLES - samples) * 2);
      run[c] = block[c];
    }
    int c = 0;
    for (; c + 1 < m_channels; c += 2) {
      AdxEncodeBlockPair(m_channel[c], run[c], out + c * ADX_BLOCK_BYTES, m_channel[c + 1], run[c + 1],
                         out + (c + 1) * ADX_BLOCK_BYTES);
    }
    if (c < m_channels) AdxEncodeBlock(m_channel[c], run[c], out + c * ADX_BLOCK_BYTES, nullptr);
    for (c = 0; scrambled && c < m_channels; ++c) {
      uint8_t* word = out + c * ADX_BLOCK_BYTES;
      AdxPutBe16(word, AdxGetBe16(word) ^ (m_scrambleState & 0x1FFFu));
      m_scrambleState = static_cast<uint16_t>((m_scrambleState * m_scrambleMultiplier + m_scrambleIncrement) & 0x7FFF);
    }
    out += ADX_BLOCK_BYTES * m_channels;
  }
  return groups;
}

// Codes as many whole groups as the contiguous input and room allow, taking
// each ring's chunk once per run.
void AdxEncoder::EncodeGroupsBatched() {
  const int32_t groupBytes = ADX_BLOCK_BYTES * m_channels;
  const int32_t blockInput = ADX_BLOCK_SAMPLES * 2;
  int32_t room = 0;
  SJ_CanTake(m_stream, SJ_LIN_FREE, 0x7FFFFFFF, &room);
  int32_t groups = room / groupBytes;
  if (m_totalSamples != ADX_TOTAL_UNLIMITED) {
    const int64_t left = (m_totalSamples - m_samplesEncoded) / ADX_BLOCK_SAMPLES;
    if (left < groups) groups = static_cast<int32_t>(left);
  }
  for (int c = 0; c < m_channels && groups > 0; ++c) {
    int32_t available = 0;
    SJ_CanTake(m_input[c], SJ_LIN_DATA, groups * blockInput, &available);
    if (available / blockInput < groups) groups = available / blockInput;
  }
  if (groups <= 0) return;

  SjChunk in[ADX_MAX_CHANNELS];
  const uint8_t* runs[ADX_MAX_CHANNELS];
  for (int c = 0; c < m_channels; ++c) {
    SJ_TakeChunk(m_input[c], SJ_LIN_DATA, groups * blockInput, &in[c]);
    runs[c] = in[c].data;
  }
  SjChunk out;
  SJ_TakeChunk(m_stream, SJ_LIN_FREE, groups * groupBytes, &out);
  EncodeGroups(groups, ADX_BLOCK_SAMPLES, runs, out.data);
  Emit(&out);
  for (int c = 0; c < m_channels; ++c) SJ_AddChunk(m_input[c], SJ_LIN_FREE, &in[c]);
  m_bytesWritten += static_cast<int64_t>(groups) * groupBytes;
  m_samplesEncoded += static_cast<int64_t>(groups) * ADX_BLOCK_SAMPLES;
}

// Codes one group whose samples may lie across a ring's wrap, or the last,
// short group of a limited stream. False when input or room is missing.
bool AdxEncoder::EncodeOneGroupGathered() {
  int32_t samples = ADX_BLOCK_SAMPLES;
  if (m_totalSamples != ADX_TOTAL_UNLIMITED && m_totalSamples - m_samplesEncoded < samples) {
    samples = static_cast<int32_t>(m_totalSamples - m_samplesEncoded);
  }
  const int32_t groupBytes = ADX_BLOCK_BYTES * m_channels;
  int32_t room = 0;
  if (!SJ_CanTake(m_stream, SJ_LIN_FREE, groupBytes, &room)) return false;
  for (int c = 0; c < m_channels; ++c) {
    if (SJ_CountBytes(m_input[c], SJ_LIN_DATA) < samples * 2) return false;
  }
  int16_t gathered[ADX_MAX_CHANNELS][ADX_BLOCK_SAMPLES];
  const uint8_t* runs[ADX_MAX_CHANNELS];
  for (int c = 0; c < m_channels; ++c) {
    auto* dest = reinterpret_cast<uint8_t*>(gathered[c]);
    int32_t need = samples * 2;
    while (need > 0) {
      SjChunk piece;
      SJ_TakeChunk(m_input[c], SJ_LIN_DATA, need, &piece);
      if (piece.len <= 0) break;  // cannot happen: the count was checked
      std::memcpy(dest, piece.data, static_cast<size_t>(piece.len));
      SJ_AddChunk(m_input[c], SJ_LIN_FREE, &piece);
      dest += piece.len;
      need -= piece.len;
    }
    if (need > 0) std::memset(dest, 0, static_cast<size_t>(need));
    runs[c] = reinterpret_cast<const uint8_t*>(gathered[c]);
  }
  SjChunk out;
  SJ_TakeChunk(m_stream, SJ_LIN_FREE, groupBytes, &out);
  EncodeGroups(1, samples, runs, out.data);
  Emit(&out);
  m_bytesWritten += groupBytes;
  m_samplesEncoded += ADX_BLOCK_SAMPLES;
  return true;
}

void AdxEncoder::RunOnce() {
  if (m_state == HEADER_PENDING) {
    if (!WriteHeader()) return;
    m_state = ENCODING;
  }
  if (m_state != ENCODING) return;
  for (;;) {
    if (Finished()) {
      if (WriteEndMark()) m_state = ENDED;
      return;
    }
    const int64_t before = m_samplesEncoded;
    EncodeGroupsBatched();
    if (m_samplesEncoded == before && !EncodeOneGroupGathered()) return;
  }
}
