// Posing an animated model at a time: the records a reader fills (a node
// tree, clips of node channels and morph weights, the meshes a node places
// or bones deform), their check, and the player that turns a clip and a time
// into vertex positions.
//
// After ozz-animation, sampling and local-to-model are separate passes over
// flat arrays: every channel of the clip is sampled into its node's local
// transform, the tree is walked once (each parent comes before its
// children), then each mesh is morphed, skinned or moved by its node into
// buffers sized when the player was made. Posing allocates nothing.
//
// A mesh's posed vertex, after assimp's viewer, for a mesh with bones:
//   sum over its weights of (weight / total) x (global(bone node) x offset) x v
// where the mesh node's own transform is not applied again; a vertex whose
// weights total zero, and every vertex of a mesh without bones, is
//   global(mesh node) x meshMatrix x v.
// Times are in the clip's ticks; the player keeps time in ticks too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/scene.h"

// An affine transform, row by row: v' = (m[0] m[1] m[2]) . v + m[3], and so on.
struct Matrix34 {
  float m[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
};

// A rotation as a unit quaternion.
struct Quaternion {
  float w = 1;
  float x = 0;
  float y = 0;
  float z = 0;
};

// a x b: b first, then a.
Matrix34 MultiplyMatrix(const Matrix34& a, const Matrix34& b);

// The matrix of translation x rotation x scale.
Matrix34 ComposeMatrix(const Vec3& translation, const Quaternion& rotation, const Vec3& scale);

Vec3 TransformPoint(const Matrix34& a, const Vec3& v);

// The shorter-arc spherical interpolation from a (f = 0) to b (f = 1).
Quaternion Slerp(const Quaternion& a, Quaternion b, float f);

// One node of the tree, parents before their children.
struct AnimNode {
  int32_t parent = -1;  // index of the parent node, below this node's own; -1 for a root
  std::string name;
  Matrix34 local;       // the node's own transform when no channel moves it
};

struct VectorKey {
  double time = 0;  // ticks
  Vec3 value{0, 0, 0};
};

struct RotationKey {
  double time = 0;  // ticks
  Quaternion value;
};

// The keys that move one node. A kind of key the channel lacks keeps that
// part of the node's own transform.
struct NodeChannel {
  int32_t node = -1;  // index in Rig::nodes; -1: names a node the model lacks
  std::string nodeName;
  std::vector<VectorKey> positions;
  std::vector<RotationKey> rotations;
  std::vector<VectorKey> scales;
};

// Morph weights over time for the meshes one node places.
struct MorphKey {
  double time = 0;               // ticks
  std::vector<float> weights;    // one per morph target of those meshes
};

struct MorphChannel {
  int32_t node = -1;  // index in Rig::nodes; -1: names a node the model lacks
  std::string nodeName;
  std::vector<MorphKey> keys;
};

// One animation of the file.
struct AnimClip {
  std::string name;
  double duration = 0;         // ticks
  double ticksPerSecond = 25;  // the file's, or 25 where it gives 0
  std::vector<NodeChannel> channels;
  std::vector<MorphChannel> morphs;
};

struct Bone {
  int32_t node = -1;  // the node whose global transform moves it; -1 when the file names a
                      // node it lacks: its share of a vertex stays where the mesh's node puts it
  std::string name;
  Matrix34 offset;    // from the mesh's space to the bone's, in the bind pose
};

// One bone's share of one vertex: the weight as the file gives it.
struct Influence {
  int32_t bone = 0;  // index in RigMesh::bones
  float weight = 0;
};

// One mesh the rig moves: the Scene object it poses and how.
struct RigMesh {
  int32_t object = -1;        // index in Scene::objects, whose vertexCount it matches
  int32_t node = -1;          // the node that places it
  Matrix34 meshMatrix;        // applied before the node's global transform
  std::vector<Vec3> bindPositions;          // [vertexCount], in the mesh's own space
  std::vector<Bone> bones;                  // empty: moved by its node alone
  std::vector<uint32_t> influenceStart;     // [vertexCount + 1] into influences; empty without bones
  std::vector<Influence> influences;
  std::vector<std::vector<Vec3>> morphTargets;  // each [vertexCount]: positions at weight 1
};

// What a reader made of a file's animation.
struct Rig {
  std::vector<AnimNode> nodes;
  std::vector<AnimClip> clips;
  std::vector<RigMesh> meshes;
  std::vector<std::string> notes;  // problems found, one line each, without the file's name
};

// Bounds on what a file of `fileBytes` bytes may make (memory stays
// proportional to the file): keys of all clips, bones, weights.
struct RigLimits {
  uint64_t maxKeys;
  uint64_t maxBones;
  uint64_t maxInfluences;
};
RigLimits LimitsForFileSize(uint64_t fileBytes);

// Checks a rig as read against `scene` and `limits`. A clip with keys that
// are not finite, out of time order or at equal times, a channel naming a
// missing node, a duration below zero or not finite, or more keys than the
// limits allow is dropped; a clip of zero duration is kept as a still pose.
// Bones or weights that cannot be used (not finite, negative, totalling more
// than 2, too many, naming missing nodes) or a mesh that does not match its
// object leave the model in its static pose: the rig is emptied. Every
// problem adds one line to rig->notes.
void CheckRig(const Scene& scene, const RigLimits& limits, Rig* rig);

// Whether the rig has anything to play.
bool HasAnimation(const Rig& rig);

// One player per model: the clip, the time and the pause state, and the
// posed positions. It keeps a pointer to `rig`, which must outlive it and
// stay unchanged.
class AnimationPlayer {
 public:
  explicit AnimationPlayer(const Rig& rig);

  int ClipCount() const { return static_cast<int>(rig_->clips.size()); }
  int Clip() const { return clip_; }
  // Selects clip `index` modulo the clip count, at time 0.
  void SelectClip(int index);
  double TimeTicks() const { return ticks_; }
  double TimeSeconds() const;
  // Sets the time; a clip loops over its duration, one of zero duration stays at 0.
  void SetTimeSeconds(double seconds);
  // Moves the time on by `seconds` unless paused (StepSeconds moves it even then).
  void Advance(double seconds);
  void StepSeconds(double seconds);
  bool Paused() const { return paused_; }
  void SetPaused(bool paused) { paused_ = paused; }

  // Poses every mesh at the current clip and time. No allocation.
  void Pose();
  // The positions of rig mesh `mesh` as last posed ([vertexCount]).
  const std::vector<Vec3>& Positions(size_t mesh) const { return positions_[mesh]; }
  // The global transforms of the nodes as last posed.
  const std::vector<Matrix34>& Globals() const { return global_; }

 private:
  const Rig* rig_;
  int clip_ = 0;
  double ticks_ = 0;
  bool paused_ = false;
  struct NodeParts {  // a node's own transform taken apart, for channels that move only a part
    Vec3 translation;
    Quaternion rotation;
    Vec3 scale;
  };
  std::vector<NodeParts> bindParts_;
  std::vector<Matrix34> local_;
  std::vector<Matrix34> global_;
  std::vector<float> morphWeights_;              // per node: the morph channel's sampled weights
  std::vector<uint32_t> morphWeightStart_;       // [nodes + 1] into morphWeights_
  std::vector<Matrix34> boneMatrices_;           // all meshes' bones, one after another
  std::vector<std::vector<Vec3>> morphed_;       // per mesh with morph targets
  std::vector<std::vector<float>> inverseTotals_;  // per skinned mesh and vertex: 1 / weight
                                                   // total, 0 for a vertex without weight
  std::vector<std::vector<Vec3>> positions_;
};

// Writes the posed positions into the scene's objects the rig moves; those
// objects are then unplaced (model/keyframer.h), the pose holding their place.
void ApplyPose(const AnimationPlayer& player, const Rig& rig, Scene* scene);
