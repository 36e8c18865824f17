// LoadModel: any model file into a Scene, through the reader that fits it.
// A file that starts with the 3DS main chunk's bytes 4D 4D is read by the
// program's own 3DS reader, whatever its name; any other file goes to assimp
// (model/load_assimp.h), except one named .3ds, which is reported as no 3DS
// file. A build without assimp reads 3DS files only.
#pragma once

#include <string>

#include "io/whole_file.h"
#include "model/load_assimp.h"
#include "model/scene.h"

// Which reader made the scene.
enum class ModelReader { kNone, kOwn3ds, kAssimp };

// "3ds", "assimp" or "none", for reports.
const char* ModelReaderName(ModelReader reader);

// A model as read, or why it could not be.
struct ModelLoad {
  Scene* scene = nullptr;  // owned by the caller (FreeScene); null on failure
  ModelReader reader = ModelReader::kNone;
  AssimpReport assimp;     // what assimp saw, when it read the file
  FileFailure fileFailure = FileFailure::kNone;  // why the file gave no bytes
  int fileError = 0;       // errno for fileFailure
  std::string problem;     // no scene: what was wrong, without the path ("not a 3DS file ...",
                           // "assimp cannot read it: ...")
};

// Whether this build reads other formats than 3DS.
bool ModelFormatsBeyond3ds();

// Reads the file at `path` (io/whole_file.h, kModelFileLimits) with the
// reader that fits it. Prints nothing, never throws.
ModelLoad LoadModel(const std::string& path);
