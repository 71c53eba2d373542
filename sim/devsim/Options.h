// quill-devsim's command line.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct DebuggerSpec {
  uint32_t kind;  // KIND_BOX or KIND_KMC
  uint32_t id;
};

struct SendConfigSpec {
  uint64_t afterMs;                                         // after the first attach
  std::vector<std::pair<std::string, std::string>> fields;  // name, value text
};

enum class FaultKind { Close, Short, BadHeader, Vanish, Stall };

struct FaultSpec {
  FaultKind kind;
  uint64_t count = 0;  // close@N, short@N
  uint64_t atMs = 0;   // badheader, vanish, stall: after the first attach
  uint64_t forMs = 0;  // vanish, stall
};

struct Options {
  std::string host = "127.0.0.1";
  uint16_t port = 47810;
  std::vector<DebuggerSpec> debuggers;
  bool attachImmediate = false;
  std::string recordPrefix;
  std::string eventsPath;
  std::string portFile;
  std::string stopFile;  // the simulator ends (with its summary) when this file appears
  std::vector<SendConfigSpec> sendConfigs;
  std::vector<FaultSpec> faults;
  uint64_t durationMs = 0;  // 0: until a signal
  uint64_t attachDelayMs = 50;
  uint64_t downloadKiBps = 4096;  // simulated transfer speed of a download
  bool strict = false;            // check the PC against the stream contract
  uint64_t queueFillMs = 60;      // the output queue plays once it holds this much
  uint64_t queueCapMs = 500;      // and drops what goes beyond this
};

// Parses argv; on error writes a message to *error and returns false.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);
const char* UsageText();

const char* FaultName(FaultKind kind);

}  // namespace sim
