// The real 3DS files of Debian's assimp-testmodels package, an oracle nobody
// here wrote. The folder is the SV_ASSIMP_MODELS_DIR cache variable (default
// /usr/share/assimp/models). Tests that read it skip when it is missing:
//
//   if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
#pragma once

#include <string>
#include <vector>

// "" when the folder is there; otherwise a message naming the missing folder
// and the package that provides it.
std::string AssimpModelsMissing();

// The path of a file of the package, `relative` to its folder ("3DS/x.3DS").
std::string AssimpModelPath(const std::string& relative);

// Every 3DS file of the package, sorted: the .3ds/.3DS files of its 3DS
// folder, and testFormatDetection there, a 3DS file without an extension.
// Empty when the folder is missing.
std::vector<std::string> Assimp3dsFiles();

// Every file of the package's `folders` (searched to any depth) whose
// extension is one of `extensions` (lower case, with the dot; matched in any
// case), sorted. Empty when the folder is missing.
std::vector<std::string> AssimpModelFiles(const std::vector<std::string>& folders,
                                          const std::vector<std::string>& extensions);
