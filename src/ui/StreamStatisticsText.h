// The figures of a stream as the Stream Statistics box shows them, worded
// from the string table in the user's language.
#pragma once

#include <string>

#include "capture/StreamStats.h"

// Four lines, each ending in '\n': writes, gaps, frames lost or made up,
// restarts and the link's drops.
std::string StreamStatisticsText(const StreamFigures& figures);
