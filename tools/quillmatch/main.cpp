// quillmatch: see QuillMatch.h.
#include <cstdio>

#include "QuillMatch.h"

int main(int argc, char** argv) {
  return quillmatch::Main(argc, argv, stdout, stderr);
}
