// Writes the animation tests' sliding box (tests/support/skinned_gltf.h) as
// FOLDER/NAME.gltf and FOLDER/NAME.bin, for the web tests, which serve it to
// the page and give it to the native demo. Exit code 1 when the files cannot
// be written.
#include <cstdio>

#include "tests/support/skinned_gltf.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: write-sliding-box FOLDER NAME\n");
    return 64;
  }
  if (WriteSlidingBoxGltf(argv[1], argv[2]).empty()) {
    std::fprintf(stderr, "%s: could not write %s.gltf and %s.bin there\n", argv[1], argv[2], argv[2]);
    return 1;
  }
  return 0;
}
