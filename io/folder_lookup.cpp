// Confined, case-forgiving lookup of the files a model names.
#include "io/folder_lookup.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr char kOutside[] = "names a path outside the model's folder";
constexpr char kNotInFolder[] = "is not in the model's folder";

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

// The components of `name` between '/' and '\' separators, "." and empty
// ones left out; false when one is "..".
bool SplitName(const std::string& name, std::vector<std::string>* components) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string component = name.substr(start, end - start);
    if (component == "..") return false;
    if (!component.empty() && component != ".") components->push_back(component);
    start = end + 1;
  }
  return true;
}

FileBytes OpenFailed(int errorNumber) {
  FileBytes result;
  result.failure = FileFailure::kCannotOpen;
  result.errorNumber = errorNumber;
  return result;
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

bool LocateInFolder(const std::string& folder, const std::string& name, FolderFile* found,
                    std::string* why) {
  std::string scratch;
  std::string& reason = why != nullptr ? *why : scratch;
  std::vector<std::string> components;
  const bool absolute = !name.empty() && (name[0] == '/' || name[0] == '\\' ||
                                          (name.size() > 1 && name[1] == ':'));
  if (!SplitName(name, &components) || absolute) {
    reason = kOutside;
    return false;
  }
  reason = kNotInFolder;
  if (components.empty()) return false;
  std::string path = folder;
  for (size_t i = 0; i < components.size(); ++i) {
    const std::string entry = MatchEntry(path, components[i]);
    if (entry.empty()) return false;
    path += entry;
    if (i + 1 < components.size()) path += '/';
  }
  // A symbolic link may lead anywhere: the file must resolve inside the folder.
  const std::string root = RealPath(folder), target = RealPath(path);
  if (root.empty() || target.empty()) return false;
  const size_t start = root == "/" ? 1 : root.size() + 1;
  if (target.size() <= start || target.compare(0, root.size(), root) != 0 ||
      (root != "/" && target[root.size()] != '/'))
    return false;
  struct stat info;
  if (stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  reason.clear();
  found->path = path;
  found->root = root;
  found->relative = target.substr(start);
  return true;
}

std::string FindInFolder(const std::string& folder, const std::string& name, std::string* why) {
  FolderFile found;
  return LocateInFolder(folder, name, &found, why) ? found.path : std::string();
}

int OpenLocated(const FolderFile& file, std::string* why) {
  std::vector<std::string> components;
  if (file.root.empty() || !SplitName(file.relative, &components) || components.empty()) {
    if (why != nullptr) *why = kNotInFolder;
    errno = ENOENT;
    return -1;
  }
  int dir = open(file.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (size_t i = 0; dir >= 0 && i + 1 < components.size(); ++i) {
    const int next =
        openat(dir, components[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int saved = errno;
    close(dir);
    errno = saved;
    dir = next;
  }
  // O_NONBLOCK: a FIFO swapped in is opened without waiting, then refused.
  int fd = -1;
  if (dir >= 0) {
    fd = openat(dir, components.back().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const int saved = errno;
    close(dir);
    errno = saved;
  }
  struct stat info;
  if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
    close(fd);
    fd = -1;
    errno = ENOENT;
  }
  if (fd < 0 && why != nullptr)
    *why = std::string(kNotInFolder) + " any more (" + std::strerror(errno) + ")";
  return fd;
}

FileBytes ReadLocated(const FolderFile& file, const WholeFileLimits& limits, std::string* why) {
  const int fd = OpenLocated(file, why);
  if (fd < 0) return OpenFailed(errno);
  FileBytes bytes = ReadOpenFile(fd, limits);
  close(fd);
  if (bytes.failure != FileFailure::kNone && why != nullptr)
    *why = DescribeFileFailure(bytes, limits);
  return bytes;
}

FileBytes ReadInFolder(const std::string& folder, const std::string& name,
                       const WholeFileLimits& limits, std::string* why) {
  FolderFile found;
  if (!LocateInFolder(folder, name, &found, why)) return OpenFailed(ENOENT);
  return ReadLocated(found, limits, why);
}
