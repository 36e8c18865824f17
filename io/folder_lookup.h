// FindInFolder: the file a model names beside itself (a material library, a
// buffer, a texture), looked up inside the model's own folder and nowhere
// else. Names come from untrusted files: an absolute name, a drive letter or
// a ".." component is refused before anything is opened, and a name that
// resolves outside the folder through a symbolic link is refused too.
// Letter case is forgiven: 3DS files carry DOS upper-case names, and models
// made on Windows name files in any case.
// The path is resolved once; what is opened is that resolved path, one
// component at a time from the folder's own descriptor with O_NOFOLLOW, so
// a link swapped in after the check is refused rather than followed, and the
// descriptor read from must be a regular file.
#pragma once

#include <string>

#include "io/whole_file.h"

// The folder part of `path` ("dir/" for "dir/model.obj", "" for a bare name),
// ready for a name to be appended.
std::string FolderOf(const std::string& path);

// The last component of `name`, '/' and '\' both counting as separators
// (".\\SpiderTex.jpg" gives "SpiderTex.jpg").
std::string LastComponent(const std::string& name);

// A file found inside a folder, as resolved once.
struct FolderFile {
  std::string path;      // as the caller names it: the folder, then the matched entries
  std::string root;      // the folder's real path (no symbolic link in it)
  std::string relative;  // the file's real path below root: no link, "." or ".."
};

// Finds the file `name` (components separated by '/' or '\', "."
// components skipped) inside `folder` ("" for the current directory), each
// component matched exactly or else with a folder entry that differs only in
// letter case, and resolves it. False when there is none, with *why (when
// given) saying why: "names a path outside the model's folder" for an
// absolute name or a ".." component, "is not in the model's folder" when
// nothing matches or the match resolves outside the folder or to no regular
// file.
bool LocateInFolder(const std::string& folder, const std::string& name, FolderFile* found,
                    std::string* why);

// LocateInFolder's path, "" when there is none.
std::string FindInFolder(const std::string& folder, const std::string& name, std::string* why);

// Opens a located file read-only: from a descriptor of its root, each
// component of `relative` with O_NOFOLLOW, so nothing swapped in since it
// was located leads out of the root. -1 with *why (when given) set when a
// component is gone or has become a link, or the file is no longer a
// regular file. The caller closes the descriptor.
int OpenLocated(const FolderFile& file, std::string* why);

// LocateInFolder, OpenLocated and ReadOpenFile in one. On a failed lookup or
// open the result fails with kCannotOpen (errno ENOENT, or open's own) and
// *why says why; on a failed read *why is the read's phrase.
FileBytes ReadInFolder(const std::string& folder, const std::string& name,
                       const WholeFileLimits& limits, std::string* why);

// OpenLocated and ReadOpenFile in one, with the same failures as ReadInFolder.
FileBytes ReadLocated(const FolderFile& file, const WholeFileLimits& limits, std::string* why);
