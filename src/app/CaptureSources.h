// The program's capture sources: made at start-up in a fixed order, one of
// them current (the one streamed).
#pragma once

#include <cstdint>
#include <string>

#include "capture/SoundCapture.h"

class Adpcm;
class MessageBoxSink;
class PacketChannel;

struct CaptureSources {
  static constexpr int32_t MAX_SOURCES = 4;
  SoundCapture* list[MAX_SOURCES] = {};  // owned; slots without a source are null
  int32_t count = 0;
};

// Walks the sources in order and takes the first with a device, or a later
// one with a device whose name is exactly api; the first source when none has
// a device. Null only for an empty list.
SoundCapture* ChooseCurrentSource(const CaptureSources& sources, const std::string& api);

#ifdef _WIN32
// Makes and initialises each kind of source in its order; keeps those whose
// initialisation succeeded, each given the serial channel.
// messages (not owned) shows the sources' errors and outlives them.
void CreateCaptureSources(CaptureSources& sources, const Adpcm* adpcm, PacketChannel* channel,
                          MessageBoxSink& messages);
void DeleteCaptureSources(CaptureSources& sources);
#endif
