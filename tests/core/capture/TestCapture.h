// Stand-ins for the capture tests: a codec library that copies frames, a
// ramp of stereo frames, and the folders of the test ADPCM libraries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/CodecFunctions.h"
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

// Stereo frames whose left sample counts up from first and right one down.
std::vector<int16_t> Ramp(size_t frames, int first);

// The folder of one of the test ADPCM libraries (bin/adpcm-test/<name>/).
std::string TestLibraryFolder(const char* name);
