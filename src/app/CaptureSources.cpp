// Creation of the capture sources, in the order the program lists them.
#include <windows.h>

#include "app/CaptureSources.h"
#include "capture/CaptureServices.h"
#include "capture/SoundCaptureCoreAudio.h"
#include "capture/SoundCaptureWaveFile.h"
#include "capture/SoundCaptureWaveIn.h"
#include "link/PacketChannel.h"

namespace {

// Keeps an initialised source (given the channel) or deletes one that failed.
template <typename Source>
void Keep(CaptureSources& sources, Source* source, bool initialised, PacketChannel* channel) {
  if (!initialised || sources.count >= CaptureSources::MAX_SOURCES) {
    delete source;
    return;
  }
  source->SetSerialChannel(channel);
  sources.list[sources.count++] = source;
}

}  // namespace

void CreateCaptureSources(CaptureSources& sources, const Adpcm* adpcm, PacketChannel* channel,
                          MessageBoxSink& messages) {
  sources.count = 0;
  for (SoundCapture*& slot : sources.list) slot = nullptr;

  // The live sources come first: waveIn, Core Audio capture, Core Audio loopback.
  auto* waveIn = new SoundCaptureWaveIn(adpcm, QuillDllFunctions());
  Keep(sources, waveIn, waveIn->Initialize(), channel);

  auto* coreAudio = new SoundCaptureCoreAudio(adpcm, QuillDllFunctions());
  Keep(sources, coreAudio, coreAudio->InitializeCapture(), channel);

  auto* loopback = new SoundCaptureCoreAudio(adpcm, QuillDllFunctions());
  Keep(sources, loopback, loopback->InitializeLoopback(), channel);

  auto* waveFile = new SoundCaptureWaveFile(adpcm, QuillDllFunctions(), messages, SystemClock());
  Keep(sources, waveFile, waveFile->Initialize(), channel);
}

void DeleteCaptureSources(CaptureSources& sources) {
  for (SoundCapture*& slot : sources.list) {
    delete slot;
    slot = nullptr;
  }
  sources.count = 0;
}
