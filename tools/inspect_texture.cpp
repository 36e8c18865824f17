#include <cstdio>

#include "tools/inspect.h"

int InspectTexture(int, char**) {
  std::fprintf(stderr, "sv-inspect: texture inspection is not built yet\n");
  return 2;
}
