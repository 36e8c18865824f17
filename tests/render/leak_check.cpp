// Shows that the suite's leak suppressions hide only system libraries: the
// program makes a headless OpenGL context as the render tests do (Mesa's
// one-time allocations included) and, with --leak, loses memory from our own
// code. Under the suite's sanitizer options the plain run exits 0 and the
// --leak run must fail.
#include <cstdio>
#include <cstring>

#include "surfaceless_gl.h"

namespace {

// Out of line, so that the lost block's allocation stack names our code and
// no live register or stack slot keeps its address once it returns.
__attribute__((noinline)) void LoseBlock() {
  int* volatile block = new int[64];
  block[0] = 1;
}

}  // namespace

int main(int argc, char** argv) {
  SurfacelessGl gl;
  if (!gl.Ok()) {
    std::fprintf(stderr, "leak_check: no headless OpenGL context\n");
    return 1;
  }
  if (argc > 1 && std::strcmp(argv[1], "--leak") == 0) LoseBlock();
  return 0;
}
