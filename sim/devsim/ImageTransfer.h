// Loading a program image onto a debugger, by the box interface's download
// or the loader tool: OP_IMAGE_BEGIN names the debugger (the box by id, a
// KMC debugger by serial number) and the image's size, OP_IMAGE_DATA brings
// the bytes at the box's speed (--download-kbps), and OP_IMAGE_END checks
// the image and starts the companion program on a recognised one.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "../common/SimProtocol.h"
#include "Debuggers.h"
#include "EventLog.h"
#include "FaultPlan.h"

namespace sim {

class ImageTransfer {
 public:
  // The transfer under way on one connection (the connection keeps it).
  struct Transfer {
    bool active = false;
    uint32_t kind = 0;
    uint32_t id = 0;
    uint32_t expected = 0;
    std::vector<uint8_t> image;
  };

  ImageTransfer(Debuggers& debuggers, const FaultPlan& faults, EventLog& events, std::mutex& mutex,
                uint64_t downloadKiBps);
  ImageTransfer(const ImageTransfer&) = delete;
  ImageTransfer& operator=(const ImageTransfer&) = delete;

  static bool Handles(uint32_t op) { return op == OP_IMAGE_BEGIN || op == OP_IMAGE_DATA || op == OP_IMAGE_END; }
  // One request of a transfer; takes the lock where it touches the
  // debuggers, not while the bytes come.
  int32_t Handle(const Request& request, const std::vector<uint8_t>& payload, Transfer& transfer);

 private:
  Debuggers& m_debuggers;
  const FaultPlan& m_faults;
  EventLog& m_events;
  std::mutex& m_mutex;
  const uint64_t m_downloadKiBps;
};

}  // namespace sim
