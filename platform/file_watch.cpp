// The file-watch service over inotify: one descriptor, one watch per folder,
// events matched to the watched files by name. The web build has no files
// that change under it: there the service watches nothing.
#include "platform/file_watch.h"

#ifndef __EMSCRIPTEN__
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#ifdef __EMSCRIPTEN__

bool WatchFiles(const std::vector<std::string>& paths, const std::string& asker,
                std::string* error) {
  if (paths.empty()) return true;
  *error = asker + ": this build cannot watch files";
  return false;
}

std::vector<std::string> ChangedWatchedFiles() {
  return {};
}

#else

namespace {

struct WatchedFile {
  std::string path;    // as given
  std::string folder;  // "." when the path names none
  std::string name;    // the last component
  int watch = -1;      // inotify watch of the folder; -1 when none could be made
};

struct WatchState {
  int fd = -1;  // the inotify descriptor, made on first use
  std::vector<WatchedFile> files;
};

WatchState& Watch() {
  static WatchState state;
  return state;
}

void SplitPath(const std::string& path, std::string* folder, std::string* name) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    *folder = ".";
    *name = path;
  } else {
    *folder = slash == 0 ? "/" : path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

}  // namespace

bool WatchFiles(const std::vector<std::string>& paths, const std::string& asker,
                std::string* error) {
  WatchState& state = Watch();
  // inotify hands out one watch per folder however often it is added, so
  // the old watches are removed first and the new ones made from scratch.
  for (const WatchedFile& file : state.files)
    if (file.watch >= 0) inotify_rm_watch(state.fd, file.watch);
  state.files.clear();
  if (paths.empty()) return true;
  if (state.fd < 0) state.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (state.fd < 0) {
    *error = asker + ": cannot watch files: " + std::strerror(errno);
    return false;
  }
  bool ok = true;
  for (const std::string& path : paths) {
    WatchedFile file;
    file.path = path;
    SplitPath(path, &file.folder, &file.name);
    file.watch = inotify_add_watch(state.fd, file.folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    if (file.watch < 0 && ok) {
      *error = asker + ": " + file.folder + ": cannot watch the folder: " + std::strerror(errno);
      ok = false;
    }
    state.files.push_back(file);
  }
  return ok;
}

std::vector<std::string> ChangedWatchedFiles() {
  WatchState& state = Watch();
  std::vector<bool> changed(state.files.size(), false);
  if (state.fd < 0) return {};
  // Buffers aligned for the event records; a name is at most NAME_MAX bytes.
  alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + 256)];
  while (true) {
    const ssize_t length = read(state.fd, buffer, sizeof buffer);
    if (length <= 0) break;  // EAGAIN: nothing more waiting
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      const size_t recordSize = sizeof(inotify_event) + event.len;
      if (at + static_cast<ssize_t>(recordSize) > length) break;
      // The name is padded with NULs to the record's length.
      const char* name = buffer + at + sizeof(inotify_event);
      const std::string eventName(name, strnlen(name, event.len));
      for (size_t i = 0; i < state.files.size(); ++i)
        if (state.files[i].watch == event.wd && state.files[i].name == eventName) changed[i] = true;
      at += static_cast<ssize_t>(recordSize);
    }
  }
  std::vector<std::string> paths;
  for (size_t i = 0; i < state.files.size(); ++i)
    if (changed[i]) paths.push_back(state.files[i].path);
  return paths;
}

#endif
