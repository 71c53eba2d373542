// quillcodec [--format NAME] [--rate HZ] [--stream FILE] IN.wav OUT.wav
#include <cstdio>

#include "QuillCodec.h"

int main(int argc, char** argv) {
  return QuillCodecMain(argc, argv, stdout, stderr);
}
