// What a strict device holds the PC to: after every attach the first packet
// is a settings record with a non-zero stream token that differs from the
// stream before, a sampling rate the program can play and every list code
// within its list. Each breach is one violation with a reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SettingsRecord.h"

namespace sim {

// The list fields of the record and how many codes each list has.
struct ListField {
  const char* name;
  uint32_t offset;
  uint32_t codes;
};
const std::vector<ListField>& ListFields();

constexpr int32_t MIN_STREAM_RATE = 16000;
constexpr int32_t MAX_STREAM_RATE = 96000;

// The first thing wrong with the fields of a record ("" when none).
std::string CheckRecordFields(const Record& record);

class StreamContract {
 public:
  // The program attached to the channel: a record has to come first.
  void OnAttach();
  // A settings record from the PC (empty: a CONFIG packet without payload).
  // The violations it makes, one reason each.
  std::vector<std::string> OnRecord(const Record& record);
  // An audio packet; "" or the reason it breaks the contract.
  std::string OnAudio();

 private:
  bool m_expectRecord = false;
  bool m_reportedAudio = false;  // audio before the record: once per attach
  uint32_t m_previousToken = 0;  // the stream before this attach
  uint32_t m_token = 0;          // the stream now
};

}  // namespace sim
