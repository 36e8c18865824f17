// The assimp reader run in a child process (io/isolated_run.h), so that a
// file which crashes libassimp, exhausts memory inside it or keeps it busy
// ends the child, not the program. The child reads the model with
// LoadAssimpSceneFromBytes and sends the scene back (model/scene_wire.h).
// The web page has no fork: there the reader runs in the calling process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "model/load_assimp.h"
#include "model/scene.h"

// The child's limits: address space beyond what it has at the fork, and
// wall-clock time for the whole read.
constexpr uint64_t kAssimpMemoryLimitBytes = uint64_t{4} << 30;
constexpr int kAssimpTimeLimitSeconds = 30;

// As LoadAssimpSceneFromBytes; `timeLimitMs` replaces the time limit (the
// fuzz harness, which must answer within a second, gives less). When the child fails instead of answering,
// the result is null with `*failure` saying how, after "assimp": "assimp
// crashed reading it (signal 11)", "assimp took longer than 30 s reading
// it", "assimp needed more than 4096 MB reading it", ...; otherwise
// `*failure` is "" and *error is the reader's own reason.
Scene* LoadAssimpSceneIsolated(const uint8_t* data, size_t size, const std::string& path,
                               AssimpReport* report, std::string* error, std::string* failure,
                               int64_t timeLimitMs = int64_t{kAssimpTimeLimitSeconds} * 1000);
