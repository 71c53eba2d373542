// The 280-byte settings record shared with the device program: the payload of
// a CONFIG packet in both directions. In memory it is a plain struct in the
// machine's byte order; on the wire it is little-endian, written and read by
// PackRecord / UnpackRecord word by word whatever the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "link/PacketHeader.h"

// The parameters of one AUX bus effect: a reverb and a delay, 64 bytes.
struct EffectBlock {
  int32_t earlyReflectionTime;
  int32_t fusedTime;
  int32_t preDelayTime;
  float coloration;
  float reverbDamping;
  int32_t comb0;
  int32_t comb1;
  int32_t allPass;
  float earlyGain;
  float fusedGain;
  uint32_t reverbSurround;
  uint32_t useHpfDamping;
  int32_t delayTime;
  float feedbackGain;
  float delayDamping;
  uint32_t delaySurround;
};

struct SoundConfigData {
  uint32_t streamToken;  // new non-zero value for every stream; chosen by the PC
  uint32_t displayMode;
  int32_t samplingRate;  // output rate of the stream, Hz
  int32_t inputRate;     // the capture source's input rate, Hz; set before every send
  uint32_t waveFormat;   // codec of the stream: 0 PCM ... 7 CRI HCA LOWEST
  uint32_t outputMode;
  uint32_t clippingMode;
  float surroundDepth;
  uint32_t speakerPosition;
  uint32_t srcType;
  float volume;
  uint32_t panMode;
  uint32_t panCurve;
  float pan;
  float surroundPan;
  uint32_t frontBypass;
  float lowPassFilter;
  uint32_t biquadType;
  float biquadValue;
  uint32_t visibleResponse;
  float mainSend;
  float fxSendA;
  float fxSendB;
  uint32_t auxBusA;
  uint32_t auxBusB;
  EffectBlock effect[2];  // AUX bus A, AUX bus B
  uint32_t analyzerWave;
  uint32_t analyzerAxis;
  int32_t analyzerCurrent;
  int32_t amplificationRange;
  int32_t minDecibel;
  uint32_t analyzerView;
  uint32_t windowFunction;
  uint32_t sampleUnit;
  uint32_t aggregate;
  uint32_t background;
  int32_t filterF0;
  float filterGain;
  float filterQ;
};

// Every field is a 32-bit word and the fields follow each other without gaps,
// so the record is 70 words that PackRecord / UnpackRecord swap as needed.
static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559, "f32 fields are IEEE 754 singles");
static_assert(sizeof(EffectBlock) == 64, "effect block size");
static_assert(offsetof(EffectBlock, earlyReflectionTime) == 0, "earlyReflectionTime");
static_assert(offsetof(EffectBlock, fusedTime) == 4, "fusedTime");
static_assert(offsetof(EffectBlock, preDelayTime) == 8, "preDelayTime");
static_assert(offsetof(EffectBlock, coloration) == 12, "coloration");
static_assert(offsetof(EffectBlock, reverbDamping) == 16, "reverbDamping");
static_assert(offsetof(EffectBlock, comb0) == 20, "comb0");
static_assert(offsetof(EffectBlock, comb1) == 24, "comb1");
static_assert(offsetof(EffectBlock, allPass) == 28, "allPass");
static_assert(offsetof(EffectBlock, earlyGain) == 32, "earlyGain");
static_assert(offsetof(EffectBlock, fusedGain) == 36, "fusedGain");
static_assert(offsetof(EffectBlock, reverbSurround) == 40, "reverbSurround");
static_assert(offsetof(EffectBlock, useHpfDamping) == 44, "useHpfDamping");
static_assert(offsetof(EffectBlock, delayTime) == 48, "delayTime");
static_assert(offsetof(EffectBlock, feedbackGain) == 52, "feedbackGain");
static_assert(offsetof(EffectBlock, delayDamping) == 56, "delayDamping");
static_assert(offsetof(EffectBlock, delaySurround) == 60, "delaySurround");

// Size of the record and of the CONFIG payload.
constexpr size_t SOUND_CONFIG_SIZE = PacketHeader::CONFIG_PAYLOAD;

static_assert(sizeof(SoundConfigData) == SOUND_CONFIG_SIZE, "record size");
static_assert(offsetof(SoundConfigData, streamToken) == 0, "streamToken");
static_assert(offsetof(SoundConfigData, displayMode) == 4, "displayMode");
static_assert(offsetof(SoundConfigData, samplingRate) == 8, "samplingRate");
static_assert(offsetof(SoundConfigData, inputRate) == 12, "inputRate");
static_assert(offsetof(SoundConfigData, waveFormat) == 16, "waveFormat");
static_assert(offsetof(SoundConfigData, outputMode) == 20, "outputMode");
static_assert(offsetof(SoundConfigData, clippingMode) == 24, "clippingMode");
static_assert(offsetof(SoundConfigData, surroundDepth) == 28, "surroundDepth");
static_assert(offsetof(SoundConfigData, speakerPosition) == 32, "speakerPosition");
static_assert(offsetof(SoundConfigData, srcType) == 36, "srcType");
static_assert(offsetof(SoundConfigData, volume) == 40, "volume");
static_assert(offsetof(SoundConfigData, panMode) == 44, "panMode");
static_assert(offsetof(SoundConfigData, panCurve) == 48, "panCurve");
static_assert(offsetof(SoundConfigData, pan) == 52, "pan");
static_assert(offsetof(SoundConfigData, surroundPan) == 56, "surroundPan");
static_assert(offsetof(SoundConfigData, frontBypass) == 60, "frontBypass");
static_assert(offsetof(SoundConfigData, lowPassFilter) == 64, "lowPassFilter");
static_assert(offsetof(SoundConfigData, biquadType) == 68, "biquadType");
static_assert(offsetof(SoundConfigData, biquadValue) == 72, "biquadValue");
static_assert(offsetof(SoundConfigData, visibleResponse) == 76, "visibleResponse");
static_assert(offsetof(SoundConfigData, mainSend) == 80, "mainSend");
static_assert(offsetof(SoundConfigData, fxSendA) == 84, "fxSendA");
static_assert(offsetof(SoundConfigData, fxSendB) == 88, "fxSendB");
static_assert(offsetof(SoundConfigData, auxBusA) == 92, "auxBusA");
static_assert(offsetof(SoundConfigData, auxBusB) == 96, "auxBusB");
static_assert(offsetof(SoundConfigData, effect) == 100, "effect[0]");
static_assert(offsetof(SoundConfigData, effect) + sizeof(EffectBlock) == 164, "effect[1]");
static_assert(offsetof(SoundConfigData, analyzerWave) == 228, "analyzerWave");
static_assert(offsetof(SoundConfigData, analyzerAxis) == 232, "analyzerAxis");
static_assert(offsetof(SoundConfigData, analyzerCurrent) == 236, "analyzerCurrent");
static_assert(offsetof(SoundConfigData, amplificationRange) == 240, "amplificationRange");
static_assert(offsetof(SoundConfigData, minDecibel) == 244, "minDecibel");
static_assert(offsetof(SoundConfigData, analyzerView) == 248, "analyzerView");
static_assert(offsetof(SoundConfigData, windowFunction) == 252, "windowFunction");
static_assert(offsetof(SoundConfigData, sampleUnit) == 256, "sampleUnit");
static_assert(offsetof(SoundConfigData, aggregate) == 260, "aggregate");
static_assert(offsetof(SoundConfigData, background) == 264, "background");
static_assert(offsetof(SoundConfigData, filterF0) == 268, "filterF0");
static_assert(offsetof(SoundConfigData, filterGain) == 272, "filterGain");
static_assert(offsetof(SoundConfigData, filterQ) == 276, "filterQ");

// Byte offset of a field of the effect block of one bus within the record.
constexpr size_t EffectFieldOffset(uint32_t bus, size_t offsetInBlock) {
  return offsetof(SoundConfigData, effect) + bus * sizeof(EffectBlock) + offsetInBlock;
}

// The record's 32-bit word at a byte offset (a multiple of 4 below 280), as
// the item families read and write their fields.
uint32_t GetRecordU32(const SoundConfigData& record, size_t offset);
void SetRecordU32(SoundConfigData& record, size_t offset, uint32_t value);
int32_t GetRecordS32(const SoundConfigData& record, size_t offset);
void SetRecordS32(SoundConfigData& record, size_t offset, int32_t value);
float GetRecordF32(const SoundConfigData& record, size_t offset);
void SetRecordF32(SoundConfigData& record, size_t offset, float value);

// The record as the 280 little-endian bytes of the wire, and back.
void PackRecord(const SoundConfigData& record, uint8_t (&bytes)[SOUND_CONFIG_SIZE]);
void UnpackRecord(const uint8_t (&bytes)[SOUND_CONFIG_SIZE], SoundConfigData& record);
