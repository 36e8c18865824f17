// Finding the assimp-testmodels files; see assimp_models.h.
#include "tests/support/assimp_models.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>

std::string AssimpModelsMissing() {
  struct stat info;
  if (stat(SV_ASSIMP_MODELS_DIR, &info) == 0 && S_ISDIR(info.st_mode)) return "";
  return std::string(SV_ASSIMP_MODELS_DIR) +
         " is missing: install Debian's assimp-testmodels package (scripts/setup-deps)";
}

std::string AssimpModelPath(const std::string& relative) {
  return std::string(SV_ASSIMP_MODELS_DIR) + "/" + relative;
}

std::vector<std::string> Assimp3dsFiles() {
  std::vector<std::string> files;
  const std::string folder = AssimpModelPath("3DS");
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    bool is3ds = name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".3ds") == 0;
    if (is3ds || name == "testFormatDetection") files.push_back(folder + "/" + name);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}
