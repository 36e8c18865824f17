// sv-inspect model FILE [--merged]: prints what the model readers made of
// FILE, one record per line: for a file read through assimp first the reader
// line (format, meshes and nodes as stored, points and lines left out), then
// the scene, each object, each material with whether its texture was found,
// and with --merged the totals and bounds of the one mesh the demo merges
// from them, then a warning when a 3DS file ends inside a chunk (a cut-off
// copy), the clips of an animated model and what its animation check noted;
// --merged --animation N --time T poses the model first. Names are
// printed in double quotes with '"', '\' and bytes outside printable ASCII
// escaped (\" \\ \xHH), so every record stays on one line.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>

#include "model/animation.h"
#include "model/load3ds.h"
#include "model/load_model.h"
#include "model/material_texture.h"
#include "model/merge.h"
#include "tools/reports.h"

namespace {

void PrintObject(int index, const MeshObject& object) {
  std::printf("object %d name=%s vertices=%d faces=%d texcoords=%s", index,
              QuotedName(object.name).c_str(), object.vertexCount, object.faceCount,
              object.texCoords != nullptr ? "yes" : "no");
  if (object.materialIndex >= 0) {
    std::printf(" material=%d", object.materialIndex);
  } else {
    std::printf(" material=none");
  }
  if (object.vertexCount > 0) {
    Vec3 lo = object.vertices[0], hi = object.vertices[0];
    for (int i = 1; i < object.vertexCount; ++i) {
      const Vec3& v = object.vertices[i];
      if (v.x < lo.x) lo.x = v.x;
      if (v.y < lo.y) lo.y = v.y;
      if (v.z < lo.z) lo.z = v.z;
      if (v.x > hi.x) hi.x = v.x;
      if (v.y > hi.y) hi.y = v.y;
      if (v.z > hi.z) hi.z = v.z;
    }
    std::printf(" bbox=%g,%g,%g,%g,%g,%g", lo.x, lo.y, lo.z, hi.x, hi.y, hi.z);
  } else {
    std::printf(" bbox=none");
  }
  MeshDefect defect = ValidateMesh(object);
  if (defect.face >= 0) {
    std::printf(" bad_face=%d\n", defect.face);
  } else {
    std::printf(" bad_face=none\n");
  }
}

void PrintMaterial(int index, const Scene& scene, const std::string& path) {
  const Material& m = *scene.materials[index];
  const TextureSource texture = FindMaterialTexture(scene, m, path);
  const char* found = MaterialTextureName(m).empty()                      ? "none"
                      : texture.embedded >= 0 || !texture.path.empty() ? "yes"
                                                                        : "no";
  std::printf(
      "material %d name=%s ambient=0x%06X diffuse=0x%06X specular=0x%06X shininess=%g "
      "strength=%g opacity=%g self_illum=%g texture=%s opacity_map=%s bump_map=%s "
      "texture_found=%s\n",
      index, QuotedName(m.name).c_str(), static_cast<unsigned>(m.ambientColour),
      static_cast<unsigned>(m.diffuseColour), static_cast<unsigned>(m.specularColour), m.shininess,
      m.shininessStrength, m.opacity, m.selfIllumination,
      QuotedText(MaterialTextureName(m)).c_str(), QuotedName(m.opacityMap.fileName).c_str(),
      QuotedName(m.bumpMap.fileName).c_str(), found);
}

// What the demo draws of the scene: its drawable objects merged into one
// mesh, one line of totals, then one line per object left out.
void PrintMerged(const Scene& scene) {
  std::vector<LeftOutObject> leftOut;
  MeshObject* merged = MergeMeshObjects(scene, &leftOut);
  std::printf("merged objects=%d vertices=%d faces=%d texcoords=%s left_out=%d",
              scene.objectCount - static_cast<int>(leftOut.size()),
              merged != nullptr ? merged->vertexCount : 0, merged != nullptr ? merged->faceCount : 0,
              merged != nullptr && merged->texCoords != nullptr ? "yes" : "no",
              static_cast<int>(leftOut.size()));
  if (merged == nullptr) std::printf("\n");
  if (merged != nullptr) {
    Vec3 lo = merged->vertices[0], hi = merged->vertices[0];
    for (int i = 1; i < merged->vertexCount; ++i) {
      const Vec3& v = merged->vertices[i];
      lo = Vec3{std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
      hi = Vec3{std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
    }
    std::printf(" bounds=%g,%g,%g,%g,%g,%g\n", lo.x, lo.y, lo.z, hi.x, hi.y, hi.z);
  }
  for (const LeftOutObject& object : leftOut)
    std::printf("left_out object %d name=%s reason=\"%s\"\n", object.index, object.name.c_str(),
                object.reason.c_str());
  FreeMeshObject(merged);
}

// One line per clip: number, name, duration in seconds, channels, and the
// bones of the whole model.
void PrintClips(const Rig& rig) {
  size_t bones = 0;
  for (const RigMesh& mesh : rig.meshes) bones += mesh.bones.size();
  for (size_t c = 0; c < rig.clips.size(); ++c) {
    const AnimClip& clip = rig.clips[c];
    std::printf("clip %zu name=%s duration=%g channels=%zu bones=%zu\n", c,
                QuotedText(clip.name).c_str(), clip.duration / clip.ticksPerSecond,
                clip.channels.size() + clip.morphs.size(), bones);
  }
}

// Parses a number option's value; false when it is not one.
bool ParseNumber(const char* text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text, &end);
  return end != text && *end == '\0' && std::isfinite(*value);
}

}  // namespace

// argv: "model", FILE, optionally "--merged", then optionally
// "--animation N" and "--time T" (seconds), which pose the model first. Exit 0 after printing, 2 with
// one line on standard error when FILE cannot be read or is not a 3DS file,
// 64 for a bad command line.
int InspectModel(int argc, char** argv) {
  bool merged = false, posed = false;
  double clip = 0, seconds = 0;
  bool usage = argc < 2;
  for (int i = 2; i < argc && !usage; ++i) {
    if (std::strcmp(argv[i], "--merged") == 0) {
      merged = true;
    } else if (i + 1 < argc && std::strcmp(argv[i], "--animation") == 0) {
      usage = !ParseNumber(argv[++i], &clip) || clip < 0 || clip != std::floor(clip) || clip > 1e6;
    } else if (i + 1 < argc && std::strcmp(argv[i], "--time") == 0) {
      usage = !ParseNumber(argv[++i], &seconds);
      posed = true;
    } else {
      usage = true;
    }
  }
  if (usage || (posed && !merged)) {
    std::fprintf(stderr, "usage: sv-inspect model FILE [--merged [--animation N] [--time SECONDS]]\n");
    return 64;
  }
  const char* path = argv[1];
  const ModelLoad load = LoadModel(path);
  Scene* scene = load.scene;
  if (scene == nullptr) {
    if (load.fileFailure != FileFailure::kNone)
      std::fprintf(stderr, "sv-inspect: %s: cannot read: %s\n", path, load.problem.c_str());
    else
      std::fprintf(stderr, "sv-inspect: %s: %s\n", path, load.problem.c_str());
    return 2;
  }
  if (load.reader == ModelReader::kAssimp)
    std::printf("reader=assimp format=%s meshes=%d nodes=%d points_left_out=%lld "
                "lines_left_out=%lld\n",
                QuotedText(load.assimp.format).c_str(), load.assimp.meshes, load.assimp.nodes,
                static_cast<long long>(load.assimp.points),
                static_cast<long long>(load.assimp.lines));
  std::printf("scene objects=%d materials=%d vertices=%d faces=%d\n", scene->objectCount,
              scene->materialCount, scene->totalVertexCount, scene->totalFaceCount);
  for (int i = 0; i < scene->objectCount; ++i) PrintObject(i, *scene->objects[i]);
  for (int i = 0; i < scene->materialCount; ++i) PrintMaterial(i, *scene, path);
  const Rig* rig = scene->rig.get();
  if (posed && rig != nullptr && HasAnimation(*rig)) {
    if (clip >= static_cast<double>(rig->clips.size())) {
      std::fprintf(stderr, "sv-inspect: %s: no animation %d: the model has %zu\n", path,
                   static_cast<int>(clip), rig->clips.size());
      FreeScene(scene);
      return 64;
    }
    AnimationPlayer player(*rig);
    player.SelectClip(static_cast<int>(clip));
    player.SetTimeSeconds(seconds);
    player.Pose();
    ApplyPose(player, *rig, scene);
  }
  if (merged) PrintMerged(*scene);
  if (rig != nullptr) PrintClips(*rig);
  if (scene->endsInsideChunk) std::printf("warning %s\n", DescribeCutOff(*scene).c_str());
  const std::string keyframer = DescribeKeyframerProblem(*scene);
  if (!keyframer.empty()) std::printf("warning %s\n", keyframer.c_str());
  if (rig != nullptr)
    for (const std::string& note : rig->notes) std::printf("warning %s\n", note.c_str());
  FreeScene(scene);
  return 0;
}
