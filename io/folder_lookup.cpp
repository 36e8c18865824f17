// Confined, case-forgiving lookup of the files a model names.
#include "io/folder_lookup.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <vector>

namespace {

// realpath() as a string; "" when the path does not resolve.
std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.empty() ? "." : path.c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string text = resolved;
  std::free(resolved);
  return text;
}

// The entry of `folder` called `component`, or one differing only in letter
// case; "" when there is none.
std::string MatchEntry(const std::string& folder, const std::string& component) {
  struct stat info;
  if (lstat((folder + component).c_str(), &info) == 0) return component;
  std::string match;
  if (DIR* dir = opendir(folder.empty() ? "." : folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (strcasecmp(entry->d_name, component.c_str()) == 0) {
        match = entry->d_name;
        break;
      }
    }
    closedir(dir);
  }
  return match;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string LastComponent(const std::string& name) {
  const size_t separator = name.find_last_of("/\\");
  return separator == std::string::npos ? name : name.substr(separator + 1);
}

std::string FindInFolder(const std::string& folder, const std::string& name, std::string* why) {
  std::string scratch;
  std::string& reason = why != nullptr ? *why : scratch;
  std::vector<std::string> components;
  size_t start = 0;
  const bool absolute = !name.empty() && (name[0] == '/' || name[0] == '\\' ||
                                          (name.size() > 1 && name[1] == ':'));
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string component = name.substr(start, end - start);
    if (component == "..") {
      reason = "names a path outside the model's folder";
      return std::string();
    }
    if (!component.empty() && component != ".") components.push_back(component);
    start = end + 1;
  }
  if (absolute) {
    reason = "names a path outside the model's folder";
    return std::string();
  }
  reason = "is not in the model's folder";
  if (components.empty()) return std::string();
  std::string path = folder;
  for (size_t i = 0; i < components.size(); ++i) {
    const std::string entry = MatchEntry(path, components[i]);
    if (entry.empty()) return std::string();
    path += entry;
    if (i + 1 < components.size()) path += '/';
  }
  // A symbolic link may lead anywhere: the file must resolve inside the folder.
  const std::string root = RealPath(folder), target = RealPath(path);
  if (root.empty() || target.empty()) return std::string();
  if (target.compare(0, root.size(), root) != 0 ||
      (target.size() > root.size() && target[root.size()] != '/' && root != "/"))
    return std::string();
  struct stat info;
  if (stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::string();
  reason.clear();
  return path;
}
