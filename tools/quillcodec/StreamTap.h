// The codec pass with the compressed stream handed out, for --stream.
//
// QuillDll keeps its stream inside the library. The tool links the codec's own
// objects instead and reads the stream where the codec keeps it: the HCA
// codec holds the stream header and its most recent frame in its filter, so
// the tool takes the header at Open and every frame as it completes; the ADX
// encoder hands a copy of every piece it writes (header, then block groups)
// to an observer. ADPCM has no stream to hand out: the adapter codes every
// block with its history afresh, per channel, and throws the code away.
#pragma once

#include <cstdint>
#include <vector>

#include "capture/CodecFunctions.h"

// A codec of this wave format can hand out its stream.
bool StreamTapAvailable(int32_t format);

// Codec functions over the codec linked into the tool that append the stream
// (the header, then each frame, exactly as the encoder wrote them) to stream.
// One pass at a time: stream must stay valid until Close.
CodecFunctions StreamTapFunctions(std::vector<uint8_t>* stream);

// Frames by which the codec library's pass of a CRI format delays its input,
// as the codec is built: CRI ADX depends on the frames of the first call
// (firstFrames), CRI HCA does not. 0 for the other formats.
int32_t CodecLibraryDelay(int32_t format, uint32_t firstFrames);
