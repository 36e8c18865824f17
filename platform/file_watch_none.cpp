// The file-watch service of a build without the operating system's event
// interface (the web page, whose files live in the page's memory): nothing
// is watched, and asking says so.
#include "platform/file_watch.h"

bool WatchFiles(const std::vector<std::string>& paths, const std::string&, std::string* error) {
  if (paths.empty()) return true;
  *error = "this build watches no files (the web page's files change only when dropped)";
  return false;
}

std::vector<std::string> ChangedWatchedFiles() {
  return {};
}
