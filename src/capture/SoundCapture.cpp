#include "capture/SoundCapture.h"

#include "support/Log.h"

SoundCapture::SoundCapture(const Adpcm* adpcm, const CodecFunctions& codec) : m_pipeline(adpcm, codec, *m_clock) {}

void SoundCapture::NoteFallback(bool fallback, const std::string& chosenName) {
  if (fallback && !m_onFallback) {
    Log("%s: \"%s\" is gone, recording from the default device\n", GetName().c_str(), chosenName.c_str());
    m_fallbackNotice = true;
  }
  m_onFallback = fallback;
}
