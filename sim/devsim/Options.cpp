#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "../common/SimProtocol.h"
#include "../common/SimSocket.h"
#include "SettingsRecord.h"

namespace sim {

namespace {

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = strtoull(text.c_str(), &end, 10);
  if (*end != 0 || errno != 0 || v > max) return false;
  *value = v;
  return true;
}

// Seconds (a decimal number) as milliseconds.
bool ParseSeconds(const std::string& text, uint64_t* ms) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = strtod(text.c_str(), &end);
  if (*end != 0 || errno != 0 || !std::isfinite(v) || v < 0 || v > 1e7) return false;
  *ms = static_cast<uint64_t>(std::llround(v * 1000.0));
  return true;
}

bool ParseFault(const std::string& text, FaultSpec* fault) {
  const size_t at = text.find('@');
  if (at == std::string::npos) return false;
  const std::string kind = text.substr(0, at);
  const std::string when = text.substr(at + 1);
  if (kind == "close" || kind == "short") {
    fault->kind = kind == "close" ? FaultKind::Close : FaultKind::Short;
    return ParseUnsigned(when, UINT32_MAX, &fault->count) && fault->count > 0;
  }
  if (kind == "badheader") {
    fault->kind = FaultKind::BadHeader;
    return ParseSeconds(when, &fault->atMs);
  }
  const size_t colon = when.find(':');
  if (colon == std::string::npos) return false;
  if (kind == "vanish") {
    fault->kind = FaultKind::Vanish;
    return ParseSeconds(when.substr(0, colon), &fault->atMs) && ParseSeconds(when.substr(colon + 1), &fault->forMs);
  }
  if (kind == "stall") {
    fault->kind = FaultKind::Stall;
    return ParseSeconds(when.substr(0, colon), &fault->atMs) &&
           ParseUnsigned(when.substr(colon + 1), 3600000, &fault->forMs);
  }
  return false;
}

bool ParseSendConfig(const std::string& text, SendConfigSpec* entry, std::string* error) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || !ParseSeconds(text.substr(0, colon), &entry->afterMs)) return false;
  std::string rest = text.substr(colon + 1);
  size_t from = 0;
  while (from <= rest.size()) {
    size_t comma = rest.find(',', from);
    if (comma == std::string::npos) comma = rest.size();
    const std::string item = rest.substr(from, comma - from);
    const size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    const std::string name = item.substr(0, eq);
    const std::string value = item.substr(eq + 1);
    const RecordField* field = FindRecordField(name);
    if (field == nullptr) {
      *error = "unknown settings field: " + name;
      return false;
    }
    Record probe = DefaultRecord();
    if (!SetRecordField(probe, *field, value)) {
      *error = "bad value for " + name + ": " + value;
      return false;
    }
    entry->fields.emplace_back(name, value);
    from = comma + 1;
  }
  return !entry->fields.empty();
}

}  // namespace

const char* FaultName(FaultKind kind) {
  switch (kind) {
    case FaultKind::Close:
      return "close";
    case FaultKind::Short:
      return "short";
    case FaultKind::BadHeader:
      return "badheader";
    case FaultKind::Vanish:
      return "vanish";
    case FaultKind::Stall:
      return "stall";
  }
  return "?";
}

const char* UsageText() {
  return "usage: quill-devsim [--listen HOST:PORT] [--debugger box:ID|kmc:ID]... [--attach download|immediate]\n"
         "                    [--record PREFIX] [--events FILE] [--send-config SECONDS:FIELD=VALUE[,...]]...\n"
         "                    [--fault KIND@WHEN]... [--duration SECONDS] [--port-file FILE] [--stop-file FILE]\n"
         "                    [--attach-delay MS] [--download-kbps N] [--strict]\n"
         "                    [--queue-fill MS] [--queue-cap MS]\n"
         "\n"
         "Plays the debuggers (default: one box, id 12345678) and the companion program for the\n"
         "stand-in host-I/O libraries, which reach it at QUILLON_DEVSIM (default 127.0.0.1:47810).\n"
         "  --attach download   the program attaches after Quillon.bxa was downloaded (default)\n"
         "  --attach immediate  the program runs from the start\n"
         "  --record PREFIX     audio to PREFIX-1.wav, PREFIX-2.wav... (one per stream token)\n"
         "  --events FILE       one JSON object per line\n"
         "  --send-config T:F=V sends the last record received, with fields changed, T s after attach\n"
         "  --fault close@N      the program detaches after N audio packets\n"
         "  --fault short@N      the Nth write of the PC is taken only in part\n"
         "  --fault badheader@T  the program sends a malformed header\n"
         "  --fault vanish@T:S   the debugger is unlisted (and unreachable) for S seconds\n"
         "  --fault stall@T:MS   the program stops reading for MS milliseconds\n"
         "  Times T count seconds from the program's first attach.\n"
         "  --strict            every attach must be followed by a settings record with a new\n"
         "                      non-zero token, a rate of 16000-96000 Hz and list codes in range;\n"
         "                      each breach is a violation (a line, an event, counted)\n"
         "  --queue-fill MS     the output queue starts playing at this fill (default 60)\n"
         "  --queue-cap MS      and drops audio beyond this (default 500)\n"
         "  --port-file FILE    writes the port listened on (useful with port 0)\n"
         "  --stop-file FILE    ends, as on SIGINT, when FILE appears (for harnesses without signals)\n";
}

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&](std::string* value) {
      if (i + 1 >= argc) return false;
      *value = argv[++i];
      return true;
    };
    std::string value;
    if (arg == "--help" || arg == "-h") {
      *error = "";
      return false;
    }
    if (arg == "--strict") {
      options->strict = true;
      continue;
    }
    if (!next(&value)) {
      *error = "missing value or unknown option: " + arg;
      return false;
    }
    if (arg == "--listen") {
      if (!ParseAddress(value, &options->host, &options->port)) {
        *error = "bad address: " + value;
        return false;
      }
    } else if (arg == "--debugger") {
      DebuggerSpec d;
      uint64_t id = 0;
      const size_t colon = value.find(':');
      const std::string kind = value.substr(0, colon == std::string::npos ? 0 : colon);
      if ((kind != "box" && kind != "kmc") || !ParseUnsigned(value.substr(colon + 1), UINT32_MAX, &id) || id == 0 ||
          id > INT32_MAX) {
        *error = "bad debugger: " + value;
        return false;
      }
      d.kind = kind == "box" ? KIND_BOX : KIND_KMC;
      d.id = static_cast<uint32_t>(id);
      options->debuggers.push_back(d);
    } else if (arg == "--attach") {
      if (value != "download" && value != "immediate") {
        *error = "bad attach mode: " + value;
        return false;
      }
      options->attachImmediate = value == "immediate";
    } else if (arg == "--record") {
      options->recordPrefix = value;
    } else if (arg == "--events") {
      options->eventsPath = value;
    } else if (arg == "--port-file") {
      options->portFile = value;
    } else if (arg == "--stop-file") {
      options->stopFile = value;
    } else if (arg == "--send-config") {
      SendConfigSpec entry;
      if (!ParseSendConfig(value, &entry, error)) {
        if (error->empty()) *error = "bad --send-config: " + value;
        return false;
      }
      options->sendConfigs.push_back(entry);
    } else if (arg == "--fault") {
      FaultSpec fault;
      if (!ParseFault(value, &fault)) {
        *error = "bad fault: " + value;
        return false;
      }
      options->faults.push_back(fault);
    } else if (arg == "--duration") {
      if (!ParseSeconds(value, &options->durationMs)) {
        *error = "bad duration: " + value;
        return false;
      }
    } else if (arg == "--attach-delay") {
      if (!ParseUnsigned(value, 60000, &options->attachDelayMs)) {
        *error = "bad attach delay: " + value;
        return false;
      }
    } else if (arg == "--download-kbps") {
      if (!ParseUnsigned(value, 1u << 30, &options->downloadKiBps) || options->downloadKiBps == 0) {
        *error = "bad download speed: " + value;
        return false;
      }
    } else if (arg == "--queue-fill" || arg == "--queue-cap") {
      uint64_t* ms = arg == "--queue-fill" ? &options->queueFillMs : &options->queueCapMs;
      if (!ParseUnsigned(value, 60000, ms) || *ms == 0) {
        *error = "bad " + arg.substr(2) + ": " + value;
        return false;
      }
    } else {
      *error = "unknown option: " + arg;
      return false;
    }
  }
  if (options->queueFillMs >= options->queueCapMs) {
    *error = "the queue's fill must be below its cap";
    return false;
  }
  if (options->debuggers.empty()) options->debuggers.push_back({KIND_BOX, 12345678});
  return true;
}

}  // namespace sim
