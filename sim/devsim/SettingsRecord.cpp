#include "SettingsRecord.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

std::vector<RecordField> MakeFields() {
  const FieldType U = FieldType::U32, S = FieldType::S32, F = FieldType::F32;
  std::vector<RecordField> fields = {
      {"streamToken", 0, U},      {"displayMode", 4, U}, {"samplingRate", 8, S},  {"inputRate", 12, S},
      {"waveFormat", 16, U},      {"outputMode", 20, U}, {"clippingMode", 24, U}, {"surroundDepth", 28, F},
      {"speakerPosition", 32, U}, {"srcType", 36, U},    {"volume", 40, F},       {"panMode", 44, U},
      {"panCurve", 48, U},        {"pan", 52, F},        {"surroundPan", 56, F},  {"frontBypass", 60, U},
      {"lowPassFilter", 64, F},   {"biquadType", 68, U}, {"biquadValue", 72, F},  {"visibleResponse", 76, U},
      {"mainSend", 80, F},        {"fxSendA", 84, F},    {"fxSendB", 88, F},      {"auxBusA", 92, U},
      {"auxBusB", 96, U},
  };
  const std::vector<RecordField> effect = {
      {"earlyReflectionTime", 0, S}, {"fusedTime", 4, S},     {"preDelayTime", 8, S},    {"coloration", 12, F},
      {"reverbDamping", 16, F},      {"comb0", 20, S},        {"comb1", 24, S},          {"allPass", 28, S},
      {"earlyGain", 32, F},          {"fusedGain", 36, F},    {"reverbSurround", 40, U}, {"useHpfDamping", 44, U},
      {"delayTime", 48, S},          {"feedbackGain", 52, F}, {"delayDamping", 56, F},   {"delaySurround", 60, U},
  };
  for (uint32_t bus = 0; bus < 2; ++bus) {
    for (const RecordField& f : effect) {
      fields.push_back({"effect[" + std::to_string(bus) + "]." + f.name, 100 + 64 * bus + f.offset, f.type});
    }
  }
  const std::vector<RecordField> tail = {
      {"analyzerWave", 228, U}, {"analyzerAxis", 232, U}, {"analyzerCurrent", 236, S}, {"amplificationRange", 240, S},
      {"minDecibel", 244, S},   {"analyzerView", 248, U}, {"windowFunction", 252, U},  {"sampleUnit", 256, U},
      {"aggregate", 260, U},    {"background", 264, U},   {"filterF0", 268, S},        {"filterGain", 272, F},
      {"filterQ", 276, F},
  };
  fields.insert(fields.end(), tail.begin(), tail.end());
  return fields;
}

void Put32(Record& record, uint32_t offset, uint32_t value) {
  record[offset] = static_cast<uint8_t>(value);
  record[offset + 1] = static_cast<uint8_t>(value >> 8);
  record[offset + 2] = static_cast<uint8_t>(value >> 16);
  record[offset + 3] = static_cast<uint8_t>(value >> 24);
}

void PutF32(Record& record, uint32_t offset, float value) {
  uint32_t bits;
  memcpy(&bits, &value, 4);
  Put32(record, offset, bits);
}

}  // namespace

const std::vector<RecordField>& RecordFields() {
  static const std::vector<RecordField> fields = MakeFields();
  return fields;
}

const RecordField* FindRecordField(const std::string& name) {
  for (const RecordField& f : RecordFields()) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

uint32_t GetU32(const Record& record, uint32_t offset) {
  if (record.size() < offset + 4) return 0;
  return static_cast<uint32_t>(record[offset]) | static_cast<uint32_t>(record[offset + 1]) << 8 |
         static_cast<uint32_t>(record[offset + 2]) << 16 | static_cast<uint32_t>(record[offset + 3]) << 24;
}

int32_t GetS32(const Record& record, uint32_t offset) {
  const uint32_t v = GetU32(record, offset);
  return v <= 0x7FFFFFFFu ? static_cast<int32_t>(v) : -static_cast<int32_t>(~v) - 1;
}

float GetF32(const Record& record, uint32_t offset) {
  const uint32_t bits = GetU32(record, offset);
  float value;
  memcpy(&value, &bits, 4);
  return value;
}

Record DefaultRecord() {
  Record r(RECORD_SIZE, 0);
  Put32(r, 8, 32728);  // samplingRate
  Put32(r, 20, 3);     // outputMode CONFIG
  Put32(r, 24, 1);     // clippingMode SOFT
  PutF32(r, 28, 1.0f);
  Put32(r, 36, 2);  // srcType 4TAP
  PutF32(r, 40, 1.0f);
  PutF32(r, 84, 1.0f);
  PutF32(r, 88, 1.0f);
  for (uint32_t bus = 0; bus < 2; ++bus) {
    const uint32_t b = 100 + 64 * bus;
    Put32(r, b + 0, 60);
    Put32(r, b + 4, 4000);
    Put32(r, b + 8, 100);
    PutF32(r, b + 12, 0.5f);
    PutF32(r, b + 16, 0.4f);
    Put32(r, b + 20, 3040);
    Put32(r, b + 24, 3680);
    Put32(r, b + 28, 2080);
    PutF32(r, b + 32, 0.6f);
    PutF32(r, b + 36, 0.4f);
    Put32(r, b + 48, 250);
    PutF32(r, b + 52, 0.4f);
    PutF32(r, b + 56, 0.5f);
  }
  Put32(r, 228, 1);     // analyzerWave MIXED
  Put32(r, 232, 1);     // analyzerAxis LOGARITHMIC1
  Put32(r, 240, 1000);  // amplificationRange
  Put32(r, 244, static_cast<uint32_t>(-80));
  Put32(r, 252, 2);  // windowFunction HAMMING
  Put32(r, 256, 2);  // sampleUnit 512
  Put32(r, 264, 1);  // background ANALYSIS
  Put32(r, 268, 5000);
  PutF32(r, 272, 3.0f);
  PutF32(r, 276, 1.0f);
  return r;
}

bool SetRecordField(Record& record, const RecordField& field, const std::string& text) {
  if (text.empty() || record.size() < RECORD_SIZE) return false;
  char* end = nullptr;
  errno = 0;
  switch (field.type) {
    case FieldType::F32: {
      const double v = strtod(text.c_str(), &end);
      if (*end != 0 || errno != 0 || !std::isfinite(v)) return false;
      PutF32(record, field.offset, static_cast<float>(v));
      return true;
    }
    case FieldType::S32: {
      const long long v = strtoll(text.c_str(), &end, 0);
      if (*end != 0 || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
      Put32(record, field.offset, static_cast<uint32_t>(static_cast<int32_t>(v)));
      return true;
    }
    case FieldType::U32: {
      if (text[0] == '-') return false;
      const unsigned long long v = strtoull(text.c_str(), &end, 0);
      if (*end != 0 || errno != 0 || v > UINT32_MAX) return false;
      Put32(record, field.offset, static_cast<uint32_t>(v));
      return true;
    }
  }
  return false;
}

std::string RecordToJson(const Record& record) {
  std::string json = "{";
  char value[64];
  for (const RecordField& f : RecordFields()) {
    switch (f.type) {
      case FieldType::U32:
        snprintf(value, sizeof(value), "%u", GetU32(record, f.offset));
        break;
      case FieldType::S32:
        snprintf(value, sizeof(value), "%d", GetS32(record, f.offset));
        break;
      case FieldType::F32: {
        const float v = GetF32(record, f.offset);
        if (std::isfinite(v)) {
          snprintf(value, sizeof(value), "%.9g", static_cast<double>(v));
        } else {
          snprintf(value, sizeof(value), "null");
        }
        break;
      }
    }
    if (json.size() > 1) json += ",";
    json += "\"" + f.name + "\":" + value;
  }
  return json + "}";
}

}  // namespace sim
