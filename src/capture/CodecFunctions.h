// The three functions of the codec library that the capture sources call, as
// a table: by default QuillDll's own exports, replaced by fakes in tests.
#pragma once

#include <cstdint>

// QuillDll.h is kept out of this header: its GetVersion clashes with the one
// of <windows.h>, and the sources' headers are included beside it.
namespace QuillDll {
struct CODECINFO;
}

struct CodecFunctions {
  using OpenFunction = uint32_t (*)(void** handle, const QuillDll::CODECINFO* info);
  using EncodeAndDecodeFunction = uint32_t (*)(void* handle, void* out, uint32_t outFrames, void* in, uint32_t inFrames,
                                               uint32_t* processed);
  using CloseFunction = uint32_t (*)(void* handle);

  OpenFunction Open = nullptr;
  EncodeAndDecodeFunction EncodeAndDecode = nullptr;
  CloseFunction Close = nullptr;

  bool IsBound() const { return Open != nullptr && EncodeAndDecode != nullptr && Close != nullptr; }
};

// QuillDll's exports (every build links the codec library).
CodecFunctions QuillDllFunctions();
