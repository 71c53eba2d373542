#include "capture/CodecFunctions.h"

#include "codec/include/QuillDll.h"

CodecFunctions QuillDllFunctions() {
  CodecFunctions functions;
#if defined(QUILL_HAVE_QUILLDLL)
  functions.Open = &::Open;
  functions.EncodeAndDecode = &::EncodeAndDecode;
  functions.Close = &::Close;
#endif
  return functions;
}
