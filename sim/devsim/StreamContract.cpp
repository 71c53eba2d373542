#include "StreamContract.h"

namespace sim {

const std::vector<ListField>& ListFields() {
  // The lists of the settings catalogue, code = position in the list.
  static const std::vector<ListField> fields = {
      {"displayMode", 4, 2},
      {"waveFormat", 16, 8},
      {"outputMode", 20, 4},
      {"clippingMode", 24, 2},
      {"speakerPosition", 32, 2},
      {"srcType", 36, 3},
      {"panMode", 44, 2},
      {"panCurve", 48, 9},
      {"frontBypass", 60, 2},
      {"biquadType", 68, 11},
      {"visibleResponse", 76, 2},
      {"auxBusA", 92, 3},
      {"auxBusB", 96, 3},
      {"effect[0].reverbSurround", 140, 2},
      {"effect[0].useHpfDamping", 144, 2},
      {"effect[0].delaySurround", 160, 2},
      {"effect[1].reverbSurround", 204, 2},
      {"effect[1].useHpfDamping", 208, 2},
      {"effect[1].delaySurround", 224, 2},
      {"analyzerWave", 228, 2},
      {"analyzerAxis", 232, 4},
      {"analyzerView", 248, 3},
      {"windowFunction", 252, 6},
      {"sampleUnit", 256, 6},
      {"aggregate", 260, 2},
      {"background", 264, 3},
  };
  return fields;
}

std::string CheckRecordFields(const Record& record) {
  const int32_t rate = GetS32(record, 8);
  if (rate < MIN_STREAM_RATE || rate > MAX_STREAM_RATE) return "samplingRate " + std::to_string(rate);
  for (const ListField& f : ListFields()) {
    const uint32_t code = GetU32(record, f.offset);
    if (code >= f.codes) return std::string(f.name) + " code " + std::to_string(code);
  }
  return "";
}

void StreamContract::OnAttach() {
  m_expectRecord = true;
  m_reportedAudio = false;
  m_previousToken = m_token;
}

std::vector<std::string> StreamContract::OnRecord(const Record& record) {
  std::vector<std::string> reasons;
  if (record.size() != RECORD_SIZE) {
    reasons.push_back("empty settings record");
    return reasons;
  }
  const uint32_t token = GetU32(record, 0);
  if (token == 0) {
    reasons.push_back("stream token 0");
  } else if (m_expectRecord && token == m_previousToken) {
    reasons.push_back("stream token " + std::to_string(token) + " reused after attach");
  }
  const std::string fields = CheckRecordFields(record);
  if (!fields.empty()) reasons.push_back(fields);
  m_expectRecord = false;
  m_token = token;
  return reasons;
}

std::string StreamContract::OnAudio() {
  if (!m_expectRecord || m_reportedAudio) return "";
  m_reportedAudio = true;
  return "audio before the settings record";
}

}  // namespace sim
