#include "ImageTransfer.h"

#include <string>

#include "../bxa/BxaImage.h"
#include "../common/SimSocket.h"

namespace sim {

namespace {

constexpr uint32_t IMAGE_MAX = 64u << 20;

}  // namespace

ImageTransfer::ImageTransfer(Debuggers& debuggers, const FaultPlan& faults, EventLog& events, std::mutex& mutex,
                             uint64_t downloadKiBps)
    : m_debuggers(debuggers), m_faults(faults), m_events(events), m_mutex(mutex), m_downloadKiBps(downloadKiBps) {}

int32_t ImageTransfer::Handle(const Request& request, const std::vector<uint8_t>& payload, Transfer& transfer) {
  if (request.op == OP_IMAGE_BEGIN) {
    std::lock_guard<std::mutex> lock(m_mutex);
    transfer = Transfer();
    Debugger* d = nullptr;
    if (request.kind == KIND_BOX) {
      d = m_debuggers.Find(KIND_BOX, static_cast<uint32_t>(request.id));
      if (!m_debuggers.Reachable(d)) return -1;
    } else {
      d = m_debuggers.FindSerial(std::string(payload.begin(), payload.end()));
      if (d == nullptr || m_faults.Vanished()) return -1;
    }
    if (request.arg0 <= 0 || static_cast<uint32_t>(request.arg0) > IMAGE_MAX) return -1;
    transfer.active = true;
    transfer.kind = d->kind;
    transfer.id = d->id;
    transfer.expected = static_cast<uint32_t>(request.arg0);
    return 0;
  }
  if (!transfer.active) return -1;
  if (request.op == OP_IMAGE_DATA) {
    if (transfer.image.size() + payload.size() > transfer.expected) {
      transfer = Transfer();
      return -1;
    }
    transfer.image.insert(transfer.image.end(), payload.begin(), payload.end());
    // The box takes its time: the PC's progress callback sees the transfer move.
    SleepMs(static_cast<unsigned>(payload.size() * 1000 / (m_downloadKiBps * 1024)));
    return 0;
  }
  // OP_IMAGE_END
  std::lock_guard<std::mutex> lock(m_mutex);
  const bool recognised = transfer.image.size() == transfer.expected && IsBxaImage(transfer.image);
  Debugger* d = m_debuggers.Find(transfer.kind, transfer.id);
  m_events.Write("download", EventFields()
                                 .Add("debugger", transfer.id)
                                 .Add("via", transfer.kind == KIND_BOX ? "box" : "loadrun")
                                 .Add("bytes", static_cast<uint64_t>(transfer.image.size()))
                                 .Add("recognised", recognised));
  const bool started = recognised && d != nullptr && !m_faults.Vanished();
  if (started) m_debuggers.StartProgram(*d);
  transfer = Transfer();
  return started ? 1 : 0;
}

}  // namespace sim
