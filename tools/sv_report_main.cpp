// sv-inspect: prints what the program's loaders make of a model or texture file.
#include <cstdio>
#include <cstring>

#include "tools/reports.h"

static int Usage() {
  std::fprintf(stderr,
               "usage: sv-inspect model FILE [--merged]\n"
               "       sv-inspect texture FILE [--png OUT.png]\n");
  return 64;
}

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  if (std::strcmp(argv[1], "model") == 0) return InspectModel(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "texture") == 0) return InspectTexture(argc - 1, argv + 1);
  return Usage();
}
