// FindInFolder: the file a model names beside itself (a material library, a
// buffer, a texture), looked up inside the model's own folder and nowhere
// else. Names come from untrusted files: an absolute name, a drive letter or
// a ".." component is refused before anything is opened, and a name that
// resolves outside the folder through a symbolic link is refused too.
// Letter case is forgiven: 3DS files carry DOS upper-case names, and models
// made on Windows name files in any case.
#pragma once

#include <string>

// The folder part of `path` ("dir/" for "dir/model.obj", "" for a bare name),
// ready for a name to be appended.
std::string FolderOf(const std::string& path);

// The last component of `name`, '/' and '\' both counting as separators
// (".\\SpiderTex.jpg" gives "SpiderTex.jpg").
std::string LastComponent(const std::string& name);

// The path of the file `name` (components separated by '/' or '\', "."
// components skipped) inside `folder` ("" for the current directory), each
// component matched exactly or else with a folder entry that differs only in
// letter case. "" when there is none, with *why (when given) saying why:
// "names a path outside the model's folder" for an absolute name or a ".."
// component, "is not in the model's folder" when nothing matches or the match
// resolves outside the folder.
std::string FindInFolder(const std::string& folder, const std::string& name, std::string* why);
