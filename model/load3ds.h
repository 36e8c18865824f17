// The 3DS model reader: turns a 3DS chunk file into a Scene (model/scene.h).
//
// The file is walked as one flat sequence of chunk headers: chunks whose
// contents matter are entered, chunks with data of interest have it read,
// everything else is skipped whole. Mesh data goes to the most recent mesh
// object, material properties to the most recent material. The keyframer
// section is read apart (model/keyframer.h) and places the objects its nodes
// name; the vertices stay as the file has them, with the placement beside.
// When its tracks move something, the scene also gets the rig that plays
// them (model/animation.h).
// Untrusted bytes are read through a bounded reader: nothing is read or
// written out of bounds whatever the file holds. Data cut off by the end of
// the file is zero and ends the walk; face indices are kept as the file gives
// them, so callers that index vertices must check the mesh with ValidateMesh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/whole_file.h"
#include "model/scene.h"

// Reads the 3DS file at `path`. Texture coordinates are read only when
// `readTexCoords` is true. Returns a new Scene owned by the caller (release
// it with FreeScene), or null when the file cannot be read (then *fileError,
// when given, holds the errno code of why: also EISDIR for a directory,
// ENOTSUP for a FIFO or device, EFBIG past 4 GiB, and *fileFailure, when
// given, what kind of failure it was) or does not start with the bytes 4D 4D
// (*fileError 0, *fileFailure kNone). A file cut off inside a chunk still
// gives a scene, with endsInsideChunk set. Prints nothing.
Scene* Load3dsScene(const char* path, bool readTexCoords, int* fileError = nullptr,
                    FileFailure* fileFailure = nullptr);

// The same reader over bytes already in memory (`size` bytes at `data`).
Scene* Load3dsSceneFromBytes(const uint8_t* data, size_t size, bool readTexCoords);

// What the model reader accepts of a file (io/whole_file.h): no streams, and
// at most 4 GiB, the most a 3DS main chunk's 32-bit length can cover.
constexpr WholeFileLimits kModelFileLimits{uint64_t{1} << 32, false};

// The first face of a mesh that names a vertex the mesh does not have.
struct MeshDefect {
  int32_t face;         // index of that face, -1 when every face is sound
  int32_t vertex;       // the index it names: below 0 or at least vertexCount
  int32_t vertexCount;  // the mesh's vertex count
};

// Checks every face index of `object` against its vertex count and reports
// the first one out of range (face -1 when there is none).
MeshDefect ValidateMesh(const MeshObject& object);

// Why the file's keyframer section was not used, for a warning: "keyframer
// chunk B021 at byte 3000: its data runs past its end; the objects are not
// placed by it"; an empty string when it was used or there is none.
std::string DescribeKeyframerProblem(const Scene& scene);

// Where a cut-off file ended, for a warning:
// "the file ends inside chunk 4120 at byte 3000"; an empty string when the
// scene's file was complete.
std::string DescribeCutOff(const Scene& scene);

