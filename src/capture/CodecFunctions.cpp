#include "capture/CodecFunctions.h"

#include "codec/include/QuillDll.h"

CodecFunctions QuillDllFunctions() {
  CodecFunctions functions;
  functions.Open = &::Open;
  functions.EncodeAndDecode = &::EncodeAndDecode;
  functions.Close = &::Close;
  return functions;
}
