// The simulated device side: the debuggers that the stand-in libraries find
// and connect, the serial channel of each, and the companion program that
// attaches to channel 0, checks every packet the PC sends, decodes settings,
// records audio, sends settings back and injects faults.
//
// One lock guards everything; connection threads block on the condition
// variable in channel reads and in writes while the program stalls.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../common/SimProtocol.h"
#include "EventLog.h"
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

class Device {
 public:
  // The image transfer under way on one connection.
  struct Transfer {
    bool active = false;
    uint32_t kind = 0;
    uint32_t id = 0;
    uint32_t expected = 0;
    std::vector<uint8_t> image;
  };

  Device(const Options& options, EventLog& events, uint64_t startMs);
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // One request of a stand-in; may block (channel reads, stalled writes).
  int32_t Handle(const Request& request, const std::vector<uint8_t>& payload, Transfer& transfer,
                 std::vector<uint8_t>* out);
  // Time-driven work, every few milliseconds: attaching, timed faults,
  // settings sent back, the end of a stall or a vanish.
  void Tick();
  // An answered write has arrived (before the writes ahead of it are
  // taken): during a stall its writer now waits, which the event log tells
  // once per stall.
  void NoteAnsweredWrite();
  // Wakes every blocked request (shutdown).
  void WakeAll();
  // The end of the run: the output queue's figures of the stream playing.
  void Finish();

  Summary GetSummary();
  std::string SummaryLine();

 private:
  struct Debugger {
    uint32_t kind;
    uint32_t id;
    std::string serial;
    bool connected = false;
    bool running = false;  // the companion program runs on this device
    bool open = false;     // the PC has channel 0 open
    bool attached = false;
    uint64_t attachAtMs = 0;  // pending attach (0: none)
    uint32_t session = 0;     // of the current attach; a number of the device's, never 0 once attached
    uint32_t sessionWrites = 0;  // the PC's writes taken in it
    std::deque<uint8_t> toPc;
    // Packet parser of what the PC sends.
    uint8_t header[PACKET_HEADER_SIZE];
    size_t headerBytes = 0;
    uint32_t type = 0;
    std::vector<uint8_t> payload;
    size_t need = 0;
  };

  Debugger* Find(uint32_t kind, uint32_t id);
  Debugger* FindSerial(const std::string& serial);
  bool Reachable(const Debugger* d) const;
  bool ChannelUp(const Debugger* d) const;
  // What the PC may read on d's channel: its byte count, -1 when down.
  int32_t Readable(const Debugger* d) const;
  void ResetParser(Debugger& d);
  void OpenChannel(Debugger& d);
  void CloseChannel(Debugger& d, const char* by, const char* reason);
  void Detach(Debugger& d);
  void StartProgram(Debugger& d);
  void Feed(Debugger& d, const uint8_t* data, size_t size);
  void OnPacket(Debugger& d);
  void RecordAudio(const uint8_t* data, size_t size);
  void CloseQueue();
  void ReportQueue(const OutputQueue::Change& change);
  void Violation(const Debugger& d, const std::string& reason);
  void SendRecord(Debugger& d, const Record& record);
  Debugger* AttachedDebugger();
  uint64_t Now() const;

  int32_t TakeWrite(Debugger* d, uint32_t session, const std::vector<uint8_t>& payload,
                    std::unique_lock<std::mutex>& lock, bool posted);
  uint32_t PostsGranted(const Debugger* d) const;
  // A write's grant (PostsGranted and the session, u32 each) into *out.
  void PutGrant(const Debugger* d, bool taken, std::vector<uint8_t>* out) const;
  void AwaitPostedWrites(Debugger* d, const std::vector<uint8_t>& written, std::unique_lock<std::mutex>& lock);
  int32_t OnImage(const Request& request, const std::vector<uint8_t>& payload, Transfer& transfer);

  const Options m_options;
  EventLog& m_events;
  const uint64_t m_startMs;

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::unique_ptr<Debugger>> m_debuggers;

  uint64_t m_firstAttachMs = 0;  // since start; 0 before the first attach
  bool m_everAttached = false;
  uint64_t m_vanishUntilMs = 0;  // 0: listed
  bool m_vanished = false;
  uint64_t m_stallUntilMs = 0;
  bool m_stallWriteNoted = false;  // write_waits written for this stall
  uint64_t m_pcWrites = 0;
  uint32_t m_attaches = 0;
  // The tokens of the stand-ins' ended watches, newest last.
  std::deque<uint32_t> m_endedWatches;
  std::vector<bool> m_faultDone;
  std::vector<bool> m_sendDone;

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
