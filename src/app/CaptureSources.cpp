// Creation of the capture sources, in the order the program lists them.
#include <windows.h>

#include <memory>

#include "core/CaptureChoice.h"
#include "app/CaptureSources.h"
#include "capture/CaptureServices.h"
#include "capture/SoundCaptureCoreAudio.h"
#include "capture/SoundCaptureWaveFile.h"
#include "capture/SoundCaptureWaveIn.h"
#include "link/PacketChannel.h"

void CreateCaptureSources(CaptureChoice& choice, const Adpcm* adpcm, PacketChannel* channel,
                          MessageBoxSink& messages, const CaptureTexts& texts) {
  choice.Clear();

  // The live sources come first: waveIn, Core Audio capture, Core Audio
  // loopback. A source whose initialisation fails is dropped.
  std::unique_ptr<SoundCaptureWaveIn> waveIn(new SoundCaptureWaveIn(adpcm, QuillDllFunctions()));
  waveIn->SetTexts(texts);
  if (waveIn->Initialize()) {
    waveIn->SetPacketChannel(channel);
    choice.Add(std::move(waveIn));
  }

  std::unique_ptr<SoundCaptureCoreAudio> coreAudio(new SoundCaptureCoreAudio(adpcm, QuillDllFunctions()));
  coreAudio->SetTexts(texts);
  if (coreAudio->InitializeCapture()) {
    coreAudio->SetPacketChannel(channel);
    choice.Add(std::move(coreAudio));
  }

  std::unique_ptr<SoundCaptureCoreAudio> loopback(new SoundCaptureCoreAudio(adpcm, QuillDllFunctions()));
  loopback->SetTexts(texts);
  if (loopback->InitializeLoopback()) {
    loopback->SetPacketChannel(channel);
    choice.Add(std::move(loopback));
  }

  std::unique_ptr<SoundCaptureWaveFile> waveFile(
      new SoundCaptureWaveFile(adpcm, QuillDllFunctions(), messages, SystemClock()));
  waveFile->SetTexts(texts);
  if (waveFile->Initialize()) {
    waveFile->SetPacketChannel(channel);
    choice.AddWaveFile(std::move(waveFile));
  }
}
