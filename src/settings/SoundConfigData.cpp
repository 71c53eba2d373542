#include "settings/SoundConfigData.h"

#include <cstring>

#include "support/Diag.h"

namespace {
constexpr size_t WORD_COUNT = SOUND_CONFIG_SIZE / 4;

uint8_t* WordAt(SoundConfigData& record, size_t offset) {
  QASSERT(offset % 4 == 0 && offset + 4 <= SOUND_CONFIG_SIZE);
  return reinterpret_cast<uint8_t*>(&record) + offset;
}

const uint8_t* WordAt(const SoundConfigData& record, size_t offset) {
  QASSERT(offset % 4 == 0 && offset + 4 <= SOUND_CONFIG_SIZE);
  return reinterpret_cast<const uint8_t*>(&record) + offset;
}
}  // namespace

uint32_t GetRecordU32(const SoundConfigData& record, size_t offset) {
  uint32_t value;
  memcpy(&value, WordAt(record, offset), 4);
  return value;
}

void SetRecordU32(SoundConfigData& record, size_t offset, uint32_t value) {
  memcpy(WordAt(record, offset), &value, 4);
}

int32_t GetRecordS32(const SoundConfigData& record, size_t offset) {
  int32_t value;
  memcpy(&value, WordAt(record, offset), 4);
  return value;
}

void SetRecordS32(SoundConfigData& record, size_t offset, int32_t value) {
  memcpy(WordAt(record, offset), &value, 4);
}

float GetRecordF32(const SoundConfigData& record, size_t offset) {
  float value;
  memcpy(&value, WordAt(record, offset), 4);
  return value;
}

void SetRecordF32(SoundConfigData& record, size_t offset, float value) {
  memcpy(WordAt(record, offset), &value, 4);
}

// Every field is one 32-bit word (the static_asserts of the header prove the
// layout), and an IEEE single has the byte order of a 32-bit integer on every
// machine this runs on, so each word is written least significant byte first.
void PackRecord(const SoundConfigData& record, uint8_t (&bytes)[SOUND_CONFIG_SIZE]) {
  for (size_t i = 0; i < WORD_COUNT; ++i) {
    uint32_t word = GetRecordU32(record, i * 4);
    bytes[i * 4 + 0] = static_cast<uint8_t>(word);
    bytes[i * 4 + 1] = static_cast<uint8_t>(word >> 8);
    bytes[i * 4 + 2] = static_cast<uint8_t>(word >> 16);
    bytes[i * 4 + 3] = static_cast<uint8_t>(word >> 24);
  }
}

void UnpackRecord(const uint8_t (&bytes)[SOUND_CONFIG_SIZE], SoundConfigData& record) {
  for (size_t i = 0; i < WORD_COUNT; ++i) {
    uint32_t word = static_cast<uint32_t>(bytes[i * 4 + 0]) | static_cast<uint32_t>(bytes[i * 4 + 1]) << 8 |
                    static_cast<uint32_t>(bytes[i * 4 + 2]) << 16 | static_cast<uint32_t>(bytes[i * 4 + 3]) << 24;
    SetRecordU32(record, i * 4, word);
  }
}
