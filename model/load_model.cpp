// The choice of model reader. The assimp reader is compiled in only when
// SV_WITH_ASSIMP is set; without it, other files are declined with a line
// saying so. assimp reads in a child process (model/isolated_load.h); the own
// 3DS reader, which the fuzzer and the bad-file tests hold to its bounds,
// reads in this one.
#include "model/load_model.h"

#include <strings.h>

#include "model/load3ds.h"
#if SV_WITH_ASSIMP
#include "model/isolated_load.h"
#endif

namespace {

bool HasExtension3ds(const std::string& path) {
  return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".3ds") == 0;
}

}  // namespace

const char* ModelReaderName(ModelReader reader) {
  switch (reader) {
    case ModelReader::kOwn3ds: return "3ds";
    case ModelReader::kAssimp: return "assimp";
    case ModelReader::kNone: break;
  }
  return "none";
}

bool ModelFormatsBeyond3ds() {
#if SV_WITH_ASSIMP
  return true;
#else
  return false;
#endif
}

ModelLoad LoadModel(const std::string& path) {
  ModelLoad load;
  const FileBytes file = ReadWholeFile(path.c_str(), kModelFileLimits);
  if (file.failure != FileFailure::kNone) {
    load.fileFailure = file.failure;
    load.fileError = file.errorNumber;
    load.problem = DescribeFileFailure(file, kModelFileLimits);
    return load;
  }
  const bool magic3ds = file.size >= 2 && file.data[0] == 0x4D && file.data[1] == 0x4D;
  if (magic3ds) {
    load.reader = ModelReader::kOwn3ds;
    load.scene = Load3dsSceneFromBytes(file.data, file.size, true);
    return load;
  }
  if (HasExtension3ds(path) || !ModelFormatsBeyond3ds()) {
    load.problem = HasExtension3ds(path) || ModelFormatsBeyond3ds()
                       ? "not a 3DS file: it does not start with the bytes 4D 4D"
                       : "only 3DS files are read in this build";
    return load;
  }
#if SV_WITH_ASSIMP
  load.reader = ModelReader::kAssimp;
  std::string error, failure;
  load.scene = LoadAssimpSceneIsolated(file.data, file.size, path, &load.assimp, &error, &failure);
  if (load.scene == nullptr && !failure.empty()) {
    load.problem = failure;
  } else if (load.scene == nullptr && load.assimp.overLimit) {
    load.problem = error;
  } else if (load.scene == nullptr) {
    load.problem = "assimp cannot read it: " + error;
    if (!load.assimp.refused.empty())
      load.problem += " (it names " + QuotedText(load.assimp.refused) +
                      ", outside the model's folder, which is never read)";
  }
#endif
  return load;
}
