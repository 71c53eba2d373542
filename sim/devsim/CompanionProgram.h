// The companion program on the device: attached to channel 0, it parses and
// checks every packet the PC sends (a wrong header drops the link), decodes
// settings records, holds the PC to the stream contract (--strict), records
// the audio per stream and plays it through the output queue, and sends
// settings records back (--send-config). Callers hold the device's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Debuggers.h"
#include "EventLog.h"
#include "FaultPlan.h"
#include "Options.h"
#include "OutputQueue.h"
#include "SettingsRecord.h"
#include "StreamContract.h"
#include "WavRecorder.h"

namespace sim {

struct Summary {
  uint64_t packets = 0;
  uint64_t audioFrames = 0;
  uint64_t audioPackets = 0;
  uint32_t streams = 0;
  uint32_t configsReceived = 0;
  uint32_t configsSent = 0;
  uint32_t wrongHeaders = 0;
  uint64_t maxAudioGapMs = 0;
  QueueCounts queue;
  uint32_t violations = 0;
};

class CompanionProgram {
 public:
  CompanionProgram(const Options& options, EventLog& events, const Clock& clock, FaultPlan& faults);
  CompanionProgram(const CompanionProgram&) = delete;
  CompanionProgram& operator=(const CompanionProgram&) = delete;

  // The program has attached to a channel: the stream contract starts over.
  void OnAttach();
  // Bytes that the PC wrote on d's channel. Returns null, or why the program
  // drops the link ("wrong_header", "fault"): the caller detaches d, and the
  // rest of the bytes is not read.
  const char* Feed(Debugger& d, const uint8_t* data, size_t size);
  // Forgets a packet begun on d's channel.
  static void ResetParser(Debugger& d);
  // The stream playing ends (the link went): its queue figures are logged.
  void CloseQueue();

  // The clock: the output queue plays on.
  void Advance(uint64_t now);
  // The records of --send-config that are due (times count from the first
  // attach) go to attached, when there is one; the others wait for it.
  void SendDueConfigs(uint64_t now, uint64_t firstAttachMs, Debugger* attached);
  // The badheader fault: a header that no packet has, for the PC.
  void SendBadHeader(Debugger& d);

  Summary GetSummary() const;

 private:
  const char* OnPacket(Debugger& d);
  void RecordAudio(const uint8_t* data, size_t size);
  void ReportQueue(const OutputQueue::Change& change);
  void Violation(const Debugger& d, const std::string& reason);
  void SendRecord(Debugger& d, const Record& record);

  const std::string m_recordPrefix;
  const bool m_strict;
  const std::vector<SendConfigSpec> m_sendConfigs;
  EventLog& m_events;
  const Clock& m_clock;
  FaultPlan& m_faults;
  std::vector<bool> m_sendDone;  // per entry of m_sendConfigs

  Record m_lastRecord;
  bool m_haveRecord = false;
  uint64_t m_lastAudioMs = 0;
  bool m_haveAudio = false;

  // The stream being recorded.
  WavRecorder m_recorder;
  bool m_streamOpen = false;
  uint32_t m_streamToken = 0;
  uint32_t m_streamRate = 0;

  // What the program plays, and what it holds the PC to.
  OutputQueue m_queue;
  StreamContract m_contract;

  Summary m_summary;
};

}  // namespace sim
