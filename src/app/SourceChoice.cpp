#include "app/CaptureSources.h"

SoundCapture* ChooseCurrentSource(const CaptureSources& sources, const std::string& api) {
  SoundCapture* chosen = nullptr;
  for (int32_t i = 0; i < sources.count; ++i) {
    SoundCapture* source = sources.list[i];
    if (source == nullptr || source->GetDeviceCount() <= 0) continue;
    if (chosen == nullptr || source->GetName() == api) chosen = source;
  }
  return chosen != nullptr ? chosen : sources.list[0];
}
