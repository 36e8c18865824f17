// The check of a rig as a reader made it, before anything plays it. What a
// file gets wrong in a clip costs that clip; what it gets wrong in the node
// tree, the bones or the weights costs the animation, and the model is drawn
// in its static pose. Every index the player follows is checked here, so the
// player itself trusts them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "model/animation.h"

namespace {

constexpr uint64_t kMaxBones = 65536;

bool Finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

bool Finite(const Matrix34& a) {
  for (float value : a.m)
    if (!std::isfinite(value)) return false;
  return true;
}

std::string ClipLabel(const AnimClip& clip, size_t index) {
  return "animation " + std::to_string(index) + " " + QuotedText(clip.name);
}

// Why the keys cannot be played, or "": times finite and strictly rising,
// values finite. Rotations are normalised on the way (one of no length is
// refused).
template <typename Key, typename ValueCheck>
std::string KeyProblem(std::vector<Key>& keys, const char* kind, ValueCheck valueOk) {
  for (size_t k = 0; k < keys.size(); ++k) {
    if (!std::isfinite(keys[k].time) || !valueOk(keys[k]))
      return std::string(kind) + " key " + std::to_string(k) + " is not a finite number";
    if (k > 0 && !(keys[k].time > keys[k - 1].time)) {
      char text[160];
      std::snprintf(text, sizeof text, "%s key %zu at tick %g is not after the key before it (%g)",
                    kind, k, keys[k].time, keys[k - 1].time);
      return text;
    }
  }
  return std::string();
}

bool NormaliseRotation(Quaternion& q) {
  const float length = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  if (!std::isfinite(length) || !(length > 0)) return false;
  q = Quaternion{q.w / length, q.x / length, q.y / length, q.z / length};
  return true;
}

// Why `clip` cannot be played, or "". Counts its keys into *keys.
std::string ClipProblem(AnimClip& clip, size_t nodeCount, uint64_t* keys) {
  if (!std::isfinite(clip.duration) || clip.duration < 0) {
    char text[96];
    std::snprintf(text, sizeof text, "its duration %g ticks is not a length of time", clip.duration);
    return text;
  }
  if (!std::isfinite(clip.ticksPerSecond) || !(clip.ticksPerSecond > 0))
    return "its ticks per second are not a positive number";
  for (size_t c = 0; c < clip.channels.size(); ++c) {
    NodeChannel& channel = clip.channels[c];
    const std::string where = "channel " + std::to_string(c) + " (node " +
                              QuotedText(channel.nodeName) + ")";
    if (channel.node < 0 || static_cast<size_t>(channel.node) >= nodeCount)
      return where + " names a node the model does not have";
    std::string why = KeyProblem(channel.positions, "position", [](const VectorKey& key) { return Finite(key.value); });
    if (why.empty()) why = KeyProblem(channel.scales, "scale", [](const VectorKey& key) { return Finite(key.value); });
    if (why.empty())
      why = KeyProblem(channel.rotations, "rotation", [](RotationKey& key) { return NormaliseRotation(key.value); });
    if (!why.empty()) return where + ": " + why;
    *keys += channel.positions.size() + channel.rotations.size() + channel.scales.size();
  }
  for (size_t c = 0; c < clip.morphs.size(); ++c) {
    MorphChannel& channel = clip.morphs[c];
    const std::string where = "morph channel " + std::to_string(c) + " (node " +
                              QuotedText(channel.nodeName) + ")";
    if (channel.node < 0 || static_cast<size_t>(channel.node) >= nodeCount)
      return where + " names a node the model does not have";
    if (channel.keys.empty()) return where + " has no keys";
    const std::string why = KeyProblem(channel.keys, "weight", [](const MorphKey& key) {
      for (float value : key.weights)
        if (!std::isfinite(value)) return false;
      return true;
    });
    if (!why.empty()) return where + ": " + why;
    for (const MorphKey& key : channel.keys) *keys += 1 + key.weights.size();
  }
  return std::string();
}

// Why the mesh cannot be posed, or "". Counts its bones and weights.
std::string MeshProblem(const RigMesh& mesh, const Scene& scene, size_t nodeCount, uint64_t* bones,
                        uint64_t* influences) {
  if (mesh.object < 0 || mesh.object >= scene.objectCount)
    return "it poses an object the model does not have";
  const MeshObject& object = *scene.objects[mesh.object];
  const size_t vertices = static_cast<size_t>(object.vertexCount);
  if (mesh.bindPositions.size() != vertices) return "its vertex count differs from its object's";
  if (mesh.node < 0 || static_cast<size_t>(mesh.node) >= nodeCount)
    return "it is placed by a node the model does not have";
  if (!Finite(mesh.meshMatrix)) return "its matrix is not finite";
  for (size_t t = 0; t < mesh.morphTargets.size(); ++t) {
    if (mesh.morphTargets[t].size() != vertices)
      return "morph target " + std::to_string(t) + " has another vertex count";
    for (const Vec3& v : mesh.morphTargets[t])
      if (!Finite(v)) return "morph target " + std::to_string(t) + " is not finite";
  }
  *bones += mesh.bones.size();
  *influences += mesh.influences.size();
  if (mesh.bones.empty()) return std::string();
  for (size_t b = 0; b < mesh.bones.size(); ++b) {
    const Bone& bone = mesh.bones[b];
    const std::string where = "bone " + std::to_string(b) + " " + QuotedText(bone.name);
    if (bone.node < -1 || (bone.node >= 0 && static_cast<size_t>(bone.node) >= nodeCount))
      return where + " names a node the model does not have";
    if (!Finite(bone.offset)) return where + ": its offset matrix is not finite";
  }
  if (mesh.influenceStart.size() != vertices + 1 || mesh.influenceStart.front() != 0 ||
      mesh.influenceStart.back() != mesh.influences.size())
    return "its weights do not match its vertices";
  for (size_t v = 0; v < vertices; ++v) {
    if (mesh.influenceStart[v + 1] < mesh.influenceStart[v] ||
        mesh.influenceStart[v + 1] > mesh.influences.size())
      return "its weights do not match its vertices";
    double total = 0;
    for (uint32_t k = mesh.influenceStart[v]; k < mesh.influenceStart[v + 1]; ++k) {
      const Influence& influence = mesh.influences[k];
      if (influence.bone < 0 || static_cast<size_t>(influence.bone) >= mesh.bones.size())
        return "a weight of vertex " + std::to_string(v) + " names a bone the mesh does not have";
      if (!std::isfinite(influence.weight) || influence.weight < 0) {
        char text[128];
        std::snprintf(text, sizeof text, "vertex %zu has the weight %g, which is not a share", v,
                      influence.weight);
        return text;
      }
      total += influence.weight;
    }
    if (total > 2) {
      char text[128];
      std::snprintf(text, sizeof text, "the weights of vertex %zu total %g, more than 2", v, total);
      return text;
    }
  }
  return std::string();
}

}  // namespace

RigLimits LimitsForFileSize(uint64_t fileBytes) {
  // No format stores a key, an offset matrix or a weight in fewer bytes than these.
  return RigLimits{fileBytes, std::min<uint64_t>(kMaxBones, fileBytes / 16), fileBytes / 2};
}

void CheckRig(const Scene& scene, const RigLimits& limits, Rig* rig) {
  const size_t nodeCount = rig->nodes.size();
  std::string problem;
  for (size_t n = 0; n < nodeCount && problem.empty(); ++n) {
    const AnimNode& node = rig->nodes[n];
    if (node.parent >= static_cast<int32_t>(n) || node.parent < -1)
      problem = "node " + QuotedText(node.name) + " comes before its parent";
    else if (!Finite(node.local))
      problem = "the transform of node " + QuotedText(node.name) + " is not finite";
  }
  uint64_t bones = 0, influences = 0;
  for (size_t m = 0; m < rig->meshes.size() && problem.empty(); ++m) {
    const std::string why = MeshProblem(rig->meshes[m], scene, nodeCount, &bones, &influences);
    if (!why.empty()) problem = "mesh " + std::to_string(m) + ": " + why;
  }
  if (problem.empty() && bones > limits.maxBones)
    problem = std::to_string(bones) + " bones, more than the " + std::to_string(limits.maxBones) +
              " the file's size allows";
  if (problem.empty() && influences > limits.maxInfluences)
    problem = std::to_string(influences) + " weights, more than the " +
              std::to_string(limits.maxInfluences) + " the file's size allows";
  if (!problem.empty()) {
    rig->notes.push_back(problem + "; the model is shown in its static pose");
    rig->nodes.clear();
    rig->clips.clear();
    rig->meshes.clear();
    return;
  }
  for (size_t m = 0; m < rig->meshes.size(); ++m)
    for (const Bone& bone : rig->meshes[m].bones)
      if (bone.node < 0)
        rig->notes.push_back("mesh " + std::to_string(m) + ": bone " + QuotedText(bone.name) +
                             " names no node of the model: its vertices stay where the mesh's "
                             "node puts them");
  uint64_t keys = 0;
  std::vector<AnimClip> kept;
  for (size_t c = 0; c < rig->clips.size(); ++c) {
    AnimClip& clip = rig->clips[c];
    uint64_t clipKeys = 0;
    std::string why = ClipProblem(clip, nodeCount, &clipKeys);
    if (why.empty() && keys + clipKeys > limits.maxKeys)
      why = "its keys bring the total to " + std::to_string(keys + clipKeys) + ", more than the " +
            std::to_string(limits.maxKeys) + " the file's size allows";
    if (!why.empty()) {
      rig->notes.push_back(ClipLabel(clip, c) + " left out: " + why);
      continue;
    }
    keys += clipKeys;
    if (clip.duration == 0)
      rig->notes.push_back(ClipLabel(clip, c) + " lasts no time: it is a still pose");
    kept.push_back(std::move(clip));
  }
  rig->clips = std::move(kept);
}
