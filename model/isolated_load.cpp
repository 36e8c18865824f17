#include "model/isolated_load.h"

#ifndef __EMSCRIPTEN__
#include <cstring>
#include <vector>

#include "io/isolated_run.h"
#include "model/scene_wire.h"
#endif

Scene* LoadAssimpSceneIsolated(const uint8_t* data, size_t size, const std::string& path,
                               AssimpReport* report, std::string* error, std::string* failure,
                               int64_t timeLimitMs) {
  failure->clear();
#ifdef __EMSCRIPTEN__
  (void)timeLimitMs;
  return LoadAssimpSceneFromBytes(data, size, path, report, error);
#else
  const IsolationLimits limits{kAssimpMemoryLimitBytes, timeLimitMs, kAssimpMemoryLimitBytes};
  const IsolatedResult result = RunIsolated(
      [&] {
        AssimpReport seen;
        std::string why;
        Scene* scene = LoadAssimpSceneFromBytes(data, size, path, &seen, &why);
        std::vector<uint8_t> bytes = EncodeAssimpRead(scene, seen, why);
        FreeScene(scene);
        return bytes;
      },
      limits);
  switch (result.outcome) {
    case IsolatedOutcome::kReplied: {
      Scene* scene = nullptr;
      std::string problem;
      if (DecodeAssimpRead(result.reply.data(), result.reply.size(), &scene, report, error,
                           &problem))
        return scene;
      *report = AssimpReport();
      error->clear();
      *failure = "assimp's reader sent back a malformed scene (" + problem + ")";
      return nullptr;
    }
    case IsolatedOutcome::kCrashed:
      *failure = "assimp crashed reading it (signal " + std::to_string(result.signal) + ")";
      break;
    case IsolatedOutcome::kTimedOut:
      *failure = "assimp took longer than " +
                 (timeLimitMs % 1000 == 0 ? std::to_string(timeLimitMs / 1000) + " s"
                                          : std::to_string(timeLimitMs) + " ms") +
                 " reading it";
      break;
    case IsolatedOutcome::kOutOfMemory:
      *failure = "assimp needed more than " + std::to_string(limits.memoryBytes >> 20) +
                 " MB reading it";
      break;
    case IsolatedOutcome::kReplyTooLarge:
      *failure = "assimp made more than " + std::to_string(limits.maxReplyBytes >> 20) +
                 " MB of geometry reading it";
      break;
    case IsolatedOutcome::kExited:
      *failure = "assimp's reader stopped (exit status " + std::to_string(result.exitCode) + ")";
      break;
    case IsolatedOutcome::kCannotStart:
      *failure = std::string("assimp's reader could not be started: ") +
                 std::strerror(result.errorNumber);
      break;
  }
  *report = AssimpReport();
  error->clear();
  return nullptr;
#endif
}
