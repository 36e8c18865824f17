// The file-watch service: which of a few files have been written anew. The folder of each file is watched, not the file, so a save
// that writes a new file and renames it over the old one counts as much as a
// save in place. Only the platform layer sees the operating system's event
// interface (inotify on Linux). One thread; polled, never blocks.
#pragma once

#include <string>
#include <vector>

// Watches `paths` (as the program names them), replacing whatever was
// watched before; an empty list stops watching. False, with `error` saying
// why in one line, when a folder cannot be watched (the others still are);
// a line about the files or their folders starts with `asker` and ": ", what
// asked for the watch as the user knows it.
bool WatchFiles(const std::vector<std::string>& paths, const std::string& asker,
                std::string* error);

// The watched paths whose file has been closed after writing, or renamed or
// moved into place, since the last call; each at most once, in the order of
// the list given to WatchFiles. Empty when nothing changed or nothing is
// watched.
std::vector<std::string> ChangedWatchedFiles();
