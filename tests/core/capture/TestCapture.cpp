#include "TestCapture.h"

#include <gtest/gtest.h>

#include <cstring>

#include "capture/StereoFrames.h"
#include "platform/Platform.h"
#include "support/Strings.h"

FakeCodecLibrary g_codec;

namespace {
int g_handle;

uint32_t FakeOpen(void** handle, const QuillDll::CODECINFO* info) {
  g_codec.lastInfo = *info;
  ++g_codec.opens;
  *handle = g_codec.nullHandle ? nullptr : &g_handle;
  return g_codec.openResult;
}

uint32_t FakeEncodeAndDecode(void* handle, void* out, uint32_t outFrames, void* in, uint32_t inFrames,
                             uint32_t* processed) {
  EXPECT_EQ(handle, &g_handle);
  EXPECT_EQ(outFrames, inFrames);
  g_codec.calls.push_back(inFrames);
  uint32_t n = inFrames / g_codec.granule * g_codec.granule;
  memcpy(out, in, n * capture::BYTES_PER_FRAME);
  *processed = n;
  return QuillDll::RESULT_SUCCESS;
}

uint32_t FakeClose(void* handle) {
  EXPECT_EQ(handle, &g_handle);
  ++g_codec.closes;
  return QuillDll::RESULT_SUCCESS;
}
}  // namespace

CodecFunctions FakeCodecFunctions() {
  CodecFunctions f;
  f.Open = &FakeOpen;
  f.EncodeAndDecode = &FakeEncodeAndDecode;
  f.Close = &FakeClose;
  return f;
}

std::vector<int16_t> Ramp(size_t frames, int first) {
  std::vector<int16_t> v(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    v[2 * i] = static_cast<int16_t>(first + static_cast<int>(i));
    v[2 * i + 1] = static_cast<int16_t>(-first - static_cast<int>(i));
  }
  return v;
}

std::string TestLibraryFolder(const char* name) {
  return GetDirectory(platform::GetProgramPath()) + "adpcm-test/" + name + "/";
}
