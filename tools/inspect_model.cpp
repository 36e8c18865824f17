#include <cstdio>

#include "tools/inspect.h"

int InspectModel(int, char**) {
  std::fprintf(stderr, "sv-inspect: model inspection is not built yet\n");
  return 2;
}
