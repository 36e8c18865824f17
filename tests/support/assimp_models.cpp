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

namespace {

void CollectFiles(const std::string& folder, const std::vector<std::string>& extensions,
                  std::vector<std::string>* files) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      CollectFiles(path, extensions, files);
      continue;
    }
    for (const std::string& extension : extensions)
      if (name.size() > extension.size() &&
          strcasecmp(name.c_str() + name.size() - extension.size(), extension.c_str()) == 0)
        files->push_back(path);
  }
  closedir(dir);
}

}  // namespace

std::vector<std::string> AssimpModelFiles(const std::vector<std::string>& folders,
                                          const std::vector<std::string>& extensions) {
  std::vector<std::string> files;
  for (const std::string& folder : folders) CollectFiles(AssimpModelPath(folder), extensions, &files);
  std::sort(files.begin(), files.end());
  return files;
}
