// sv-inspect: prints what the program's loaders make of a model or texture file.
#include <cstdio>
#include <cstring>

#include "tools/reports.h"

namespace {

constexpr const char* kUsage =
    "usage: sv-inspect model FILE [--merged]\n"
    "       sv-inspect texture FILE [--png OUT.png]\n"
    "       sv-inspect --help | --version\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    std::fputs(
        "\n"
        "model    one line for the scene, each object and each material (with whether its\n"
        "         texture was found) the reader read: the own 3DS reader for a file starting\n"
        "         4D 4D, else assimp, whose line (format, meshes, nodes, points and lines left\n"
        "         out) comes first; a warning line when a 3DS file ends inside a chunk;\n"
        "         --merged adds the merged mesh's totals and bounds=minx,...,maxz\n"
        "texture  one line: the TIFF tags, which reader decoded the image (own, libtiff, png\n"
        "         or none) and why the own reader declined it; --png writes the decoded image\n"
        "exit codes: 0 read, 2 the file cannot be read or decoded, 64 bad command line\n",
        stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "-V") == 0 || std::strcmp(argv[1], "--version") == 0) {
    std::printf("sv-inspect %s\n", SV_VERSION);
    return 0;
  }
  if (std::strcmp(argv[1], "model") == 0) return InspectModel(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "texture") == 0) return InspectTexture(argc - 1, argv + 1);
  return Usage();
}
