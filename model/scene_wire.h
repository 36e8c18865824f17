// The bytes that carry an assimp read from the child process that made it
// (model/isolated_load.h) back to the program: the scene with its objects,
// materials and embedded textures, the AssimpReport, or the reader's error.
// Both ends are the same build, so values travel in the machine's own
// layout. The stream is a header and then tagged records (tag, byte length,
// payload), so that more kinds of record can be added beside the present
// ones. The decoder trusts nothing: the child parsed a hostile file, so every
// count, length and index is checked against the bytes and the model limits
// before anything is allocated or read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/load_assimp.h"
#include "model/scene.h"

// The read's outcome as bytes: `scene` (may be null), `report`, and `error`
// (the reader's reason when there is no scene).
std::vector<uint8_t> EncodeAssimpRead(const Scene* scene, const AssimpReport& report,
                                      const std::string& error);

// Decodes EncodeAssimpRead's bytes into a new scene (null when the read made
// none; release with FreeScene), the report and the error. Returns false, with
// `*problem` saying what was malformed, when the bytes are not one whole
// well-formed stream within the limits; nothing is then returned or leaked.
bool DecodeAssimpRead(const uint8_t* data, size_t size, Scene** scene, AssimpReport* report,
                      std::string* error, std::string* problem);
