// The reader for every model format other than 3DS, through assimp. The
// file's bytes, read by the caller, are handed to assimp from memory; any
// second file the model names (an OBJ's .mtl, a glTF's buffers) is served
// from the model's own folder through ReadInFolder (io/folder_lookup.h), so
// nothing outside that folder is ever opened. No assimp type leaves the
// reader's source file; a build without assimp leaves that file out.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/model_limits.h"
#include "model/scene.h"

// What the reader saw of the file besides the scene it made.
struct AssimpReport {
  std::string format;   // the importer's name ("Wavefront Object Importer")
  int meshes = 0;       // meshes in the file, as stored
  int nodes = 0;        // nodes of the file's hierarchy, the root included
  int64_t points = 0;   // point primitives left out
  int64_t lines = 0;    // line primitives left out
  std::string refused;  // the first second file refused as outside the folder, "" when none
  int64_t placedTriangles = 0;  // what pre-transforming would make: triangles and vertices of
  int64_t placedVertices = 0;   // every mesh once per node naming it (model/model_limits.h)
  bool overLimit = false;       // those counts exceed the limits: no scene was made
  // The second files the read opened (a glTF's buffers, an OBJ's material
  // library), as located in the model's folder (io/folder_lookup.h), each
  // once, in the order first opened; at most kMaxFilesRead of them.
  std::vector<std::string> filesRead;
};

// The bounds of AssimpReport::filesRead: further files, or longer paths,
// are not listed.
constexpr size_t kMaxFilesRead = 256;
constexpr size_t kMaxFileReadPath = 4096;

// Adds `path` to the files a read opened, once, up to kMaxFilesRead names of
// up to kMaxFileReadPath bytes.
inline void NoteFileRead(const std::string& path, AssimpReport* seen) {
  std::vector<std::string>& files = seen->filesRead;
  if (files.size() < kMaxFilesRead && path.size() <= kMaxFileReadPath &&
      std::find(files.begin(), files.end(), path) == files.end())
    files.push_back(path);
}

// Reads the model whose `size` bytes are at `data`; `path` is the file they
// came from (its folder is where second files are looked up, its name tells
// assimp the format). Triangulates, applies every node's transform (the
// file's own axes kept, as assimp gives them) and gives one object per
// resulting mesh with its triangles and texture coordinate set 0, one
// material per assimp material (name, diffuse colour, diffuse texture), and
// the embedded textures. A file with clips, bones or morph targets gives one
// object per mesh each node places, in node order, at that static pose, and
// the scene's rig (model/animation.h, checked by CheckRig against the bytes
// of the model and its second files). Points and lines are counted in *report, not kept;
// a mesh of nothing else gives no object. Returns a new Scene (FreeScene), or
// null with assimp's own reason in *error (or, when what pre-transforming
// would make exceeds model/model_limits.h, with report->overLimit set and
// DescribeOverLimit's text, before anything is made). Prints nothing, never throws.
Scene* LoadAssimpSceneFromBytes(const uint8_t* data, size_t size, const std::string& path,
                                AssimpReport* report, std::string* error);
