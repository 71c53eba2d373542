// The capture base opened up for tests: a source without a device whose
// block operations the test calls itself, over a stand-in codec library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/CodecFunctions.h"
#include "capture/SoundCapture.h"
#include "codec/include/QuillDll.h"

// A codec library stand-in: copies frames unchanged and takes only whole
// granules of them (granule 1: everything, as the real library does). A
// test resets g_codec before it uses it.
struct FakeCodecLibrary {
  QuillDll::CODECINFO lastInfo = {};
  uint32_t openResult = QuillDll::RESULT_SUCCESS;
  bool nullHandle = false;
  uint32_t granule = 1;
  int opens = 0;
  int closes = 0;
  std::vector<uint32_t> calls;  // frames given to each EncodeAndDecode
};
extern FakeCodecLibrary g_codec;
CodecFunctions FakeCodecFunctions();

// The base with its protected block operations opened up.
class TestCapture : public SoundCapture {
 public:
  explicit TestCapture(const Adpcm* adpcm, const CodecFunctions& codec = FakeCodecFunctions())
      : SoundCapture(adpcm, codec) {}
  std::string GetName() const override { return "Test"; }
  bool EnumerateDevices() override { return true; }
  bool Start(const DeviceEntry&, int32_t outputRate, int32_t waveFormat) override {
    if (!PrepareStream(outputRate, waveFormat)) return false;
    BeginStream();
    return true;
  }
  void Stop() override {
    EndStream();
    ClearCarry();
    CloseCodec();
  }
  void Poll() override {}
  using SoundCapture::ProcessCaptured;
  using SoundCapture::SendBlock;
  using SoundCapture::SetupConverter;
  using SoundCapture::UpdateLevels;
};

// Stereo frames whose left sample counts up from first and right one down.
std::vector<int16_t> Ramp(size_t frames, int first);

// The folder of one of the test ADPCM libraries (bin/adpcm-test/<name>/).
std::string TestLibraryFolder(const char* name);
