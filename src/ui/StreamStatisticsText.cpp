#include "ui/StreamStatisticsText.h"

#include <cinttypes>
#include <cstdio>

#include "resources/resource.h"
#include "support/Language.h"

namespace {

std::string Count(uint64_t n) {
  char text[32];
  snprintf(text, sizeof(text), "%" PRIu64, n);
  return text;
}

// Microseconds as milliseconds with three decimals.
std::string Milliseconds(uint64_t micros) {
  char text[40];
  snprintf(text, sizeof(text), "%" PRIu64 ".%03" PRIu64, micros / 1000, micros % 1000);
  return text;
}

}  // namespace

std::string StreamStatisticsText(const StreamFigures& f) {
  std::string text = FormatResourceString(IDS_STATS_WRITES, Count(f.blocks).c_str(), Count(f.frames).c_str(),
                                          Milliseconds(f.writeMaxUs).c_str(), Milliseconds(f.WriteMeanUs()).c_str());
  text += "\n";
  text += FormatResourceString(IDS_STATS_GAPS, Count(f.lateBuffers).c_str(), Count(f.discontinuities).c_str(),
                               Count(f.shortBlocks).c_str());
  text += "\n";
  text += FormatResourceString(IDS_STATS_LOSSES, Count(f.framesDropped).c_str(), Count(f.framesInserted).c_str(),
                               Count(f.framesUnsent).c_str());
  text += "\n";
  text += FormatResourceString(IDS_STATS_RESTARTS, Count(f.restarts).c_str(), Count(f.linkDropped).c_str());
  text += "\n";
  return text;
}
