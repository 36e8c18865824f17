// The transform math and the player. Sampling finds each channel's keys by
// binary search, so a frame costs the same whatever the time; everything the
// pose writes was sized in the constructor.
#include "model/animation.h"

#include <algorithm>
#include <cmath>

Matrix34 MultiplyMatrix(const Matrix34& a, const Matrix34& b) {
  Matrix34 out;
  for (int r = 0; r < 3; ++r) {
    const float* row = &a.m[4 * r];
    for (int c = 0; c < 4; ++c)
      out.m[4 * r + c] = row[0] * b.m[c] + row[1] * b.m[4 + c] + row[2] * b.m[8 + c];
    out.m[4 * r + 3] += row[3];
  }
  return out;
}

Matrix34 ComposeMatrix(const Vec3& t, const Quaternion& q, const Vec3& s) {
  const float x = q.x, y = q.y, z = q.z, w = q.w;
  const float r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
                      2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
                      2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
  const float scale[3] = {s.x, s.y, s.z};
  const float move[3] = {t.x, t.y, t.z};
  Matrix34 out;
  for (int row = 0; row < 3; ++row) {
    for (int c = 0; c < 3; ++c) out.m[4 * row + c] = r[3 * row + c] * scale[c];
    out.m[4 * row + 3] = move[row];
  }
  return out;
}

Vec3 TransformPoint(const Matrix34& a, const Vec3& v) {
  const float* m = a.m;
  return Vec3{m[0] * v.x + m[1] * v.y + m[2] * v.z + m[3], m[4] * v.x + m[5] * v.y + m[6] * v.z + m[7],
              m[8] * v.x + m[9] * v.y + m[10] * v.z + m[11]};
}

// In double: in float, acos near 1 loses most of the small angle it returns.
Quaternion Slerp(const Quaternion& a, Quaternion b, float f) {
  double cosine = double{a.w} * b.w + double{a.x} * b.x + double{a.y} * b.y + double{a.z} * b.z;
  if (cosine < 0) {  // the other sign of b is the same rotation, the shorter way
    cosine = -cosine;
    b = Quaternion{-b.w, -b.x, -b.y, -b.z};
  }
  double wa = 1.0 - f, wb = f;
  if (cosine < 1 - 1e-12) {
    const double angle = std::acos(cosine);
    const double sine = std::sin(angle);
    wa = std::sin((1.0 - f) * angle) / sine;
    wb = std::sin(f * angle) / sine;
  }
  const double w = wa * a.w + wb * b.w, x = wa * a.x + wb * b.x, y = wa * a.y + wb * b.y,
               z = wa * a.z + wb * b.z;
  const double length = std::sqrt(w * w + x * x + y * y + z * z);
  if (!(length > 0)) return a;
  return Quaternion{static_cast<float>(w / length), static_cast<float>(x / length),
                    static_cast<float>(y / length), static_cast<float>(z / length)};
}

namespace {

// The key segment holding `time`: the index of the last key at or before it
// (0 before the first), and how far towards the next key it lies (0 when
// held before the first key or after the last).
template <typename Key>
size_t FindSegment(const std::vector<Key>& keys, double time, float* fraction) {
  *fraction = 0;
  if (keys.size() < 2 || time <= keys.front().time) return 0;
  if (time >= keys.back().time) return keys.size() - 1;
  const auto after = std::upper_bound(keys.begin(), keys.end(), time,
                                      [](double t, const Key& key) { return t < key.time; });
  const size_t next = static_cast<size_t>(after - keys.begin());
  const Key& k0 = keys[next - 1];
  const Key& k1 = keys[next];
  *fraction = static_cast<float>((time - k0.time) / (k1.time - k0.time));
  return next - 1;
}

Vec3 SampleVector(const std::vector<VectorKey>& keys, double time) {
  float f;
  const size_t i = FindSegment(keys, time, &f);
  if (f == 0) return keys[i].value;
  const Vec3 &a = keys[i].value, &b = keys[i + 1].value;
  return Vec3{a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f};
}

Quaternion SampleRotation(const std::vector<RotationKey>& keys, double time) {
  float f;
  const size_t i = FindSegment(keys, time, &f);
  if (f == 0) return keys[i].value;
  return Slerp(keys[i].value, keys[i + 1].value, f);
}

// Splits an affine transform into translation, rotation and scale, for a
// channel that moves only some of them. Shear is lost.
void Decompose(const Matrix34& a, Vec3* t, Quaternion* q, Vec3* s) {
  const float* m = a.m;
  *t = Vec3{m[3], m[7], m[11]};
  float c[3][3];  // columns
  float len[3];
  for (int col = 0; col < 3; ++col) {
    len[col] = std::sqrt(m[col] * m[col] + m[4 + col] * m[4 + col] + m[8 + col] * m[8 + col]);
    for (int r = 0; r < 3; ++r) c[col][r] = len[col] > 0 ? m[4 * r + col] / len[col] : 0;
  }
  const float det = c[0][0] * (c[1][1] * c[2][2] - c[2][1] * c[1][2]) -
                    c[1][0] * (c[0][1] * c[2][2] - c[2][1] * c[0][2]) +
                    c[2][0] * (c[0][1] * c[1][2] - c[1][1] * c[0][2]);
  if (det < 0) {  // a mirror: kept in the scale
    len[0] = -len[0];
    for (float& v : c[0]) v = -v;
  }
  *s = Vec3{len[0], len[1], len[2]};
  // Rotation matrix element (row r, column k) is c[k][r].
  const float trace = c[0][0] + c[1][1] + c[2][2];
  Quaternion out;
  if (trace > 0) {
    const float k = 0.5f / std::sqrt(trace + 1);
    out = Quaternion{0.25f / k, (c[1][2] - c[2][1]) * k, (c[2][0] - c[0][2]) * k,
                     (c[0][1] - c[1][0]) * k};
  } else if (c[0][0] > c[1][1] && c[0][0] > c[2][2]) {
    const float k = 2 * std::sqrt(std::max(0.0f, 1 + c[0][0] - c[1][1] - c[2][2]));
    out = Quaternion{(c[1][2] - c[2][1]) / k, 0.25f * k, (c[1][0] + c[0][1]) / k,
                     (c[2][0] + c[0][2]) / k};
  } else if (c[1][1] > c[2][2]) {
    const float k = 2 * std::sqrt(std::max(0.0f, 1 + c[1][1] - c[0][0] - c[2][2]));
    out = Quaternion{(c[2][0] - c[0][2]) / k, (c[1][0] + c[0][1]) / k, 0.25f * k,
                     (c[2][1] + c[1][2]) / k};
  } else {
    const float k = 2 * std::sqrt(std::max(0.0f, 1 + c[2][2] - c[0][0] - c[1][1]));
    out = Quaternion{(c[0][1] - c[1][0]) / k, (c[2][0] + c[0][2]) / k, (c[2][1] + c[1][2]) / k,
                     0.25f * k};
  }
  if (!std::isfinite(out.w) || !std::isfinite(out.x) || !std::isfinite(out.y) || !std::isfinite(out.z))
    out = Quaternion();
  *q = out;
}

}  // namespace

bool HasAnimation(const Rig& rig) { return !rig.clips.empty() && !rig.meshes.empty(); }

AnimationPlayer::AnimationPlayer(const Rig& rig) : rig_(&rig) {
  const size_t nodes = rig.nodes.size();
  local_.resize(nodes);
  global_.resize(nodes);
  bindParts_.resize(nodes);
  for (size_t n = 0; n < nodes; ++n)
    Decompose(rig.nodes[n].local, &bindParts_[n].translation, &bindParts_[n].rotation,
              &bindParts_[n].scale);
  // Each node gets room for as many morph weights as the most targets of a
  // mesh it places.
  std::vector<uint32_t> targets(nodes, 0);
  size_t bones = 0;
  for (const RigMesh& mesh : rig.meshes) {
    if (mesh.node >= 0 && static_cast<size_t>(mesh.node) < nodes)
      targets[mesh.node] = std::max<uint32_t>(targets[mesh.node],
                                              static_cast<uint32_t>(mesh.morphTargets.size()));
    bones += mesh.bones.size();
  }
  morphWeightStart_.assign(nodes + 1, 0);
  for (size_t n = 0; n < nodes; ++n) morphWeightStart_[n + 1] = morphWeightStart_[n] + targets[n];
  morphWeights_.assign(morphWeightStart_[nodes], 0.0f);
  boneMatrices_.resize(bones);
  morphed_.resize(rig.meshes.size());
  positions_.resize(rig.meshes.size());
  inverseTotals_.resize(rig.meshes.size());
  for (size_t i = 0; i < rig.meshes.size(); ++i) {
    const RigMesh& mesh = rig.meshes[i];
    positions_[i] = mesh.bindPositions;
    if (!mesh.morphTargets.empty()) morphed_[i] = mesh.bindPositions;
    if (mesh.bones.empty()) continue;
    std::vector<float>& inverse = inverseTotals_[i];
    inverse.assign(mesh.bindPositions.size(), 0.0f);
    for (size_t v = 0; v < inverse.size(); ++v) {
      float total = 0;
      for (uint32_t k = mesh.influenceStart[v]; k < mesh.influenceStart[v + 1]; ++k)
        total += mesh.influences[k].weight;
      inverse[v] = total > 0 ? 1 / total : 0;
    }
  }
}

void AnimationPlayer::SelectClip(int index) {
  const int count = ClipCount();
  clip_ = count > 0 ? ((index % count) + count) % count : 0;
  ticks_ = 0;
}

double AnimationPlayer::TimeSeconds() const {
  if (ClipCount() == 0) return 0;
  return ticks_ / rig_->clips[clip_].ticksPerSecond;
}

void AnimationPlayer::SetTimeSeconds(double seconds) {
  ticks_ = 0;
  StepSeconds(seconds);
}

void AnimationPlayer::Advance(double seconds) {
  if (!paused_) StepSeconds(seconds);
}

void AnimationPlayer::StepSeconds(double seconds) {
  if (ClipCount() == 0) return;
  const AnimClip& clip = rig_->clips[clip_];
  if (!(clip.duration > 0) || !std::isfinite(seconds)) {
    ticks_ = 0;
    return;
  }
  const double ticks = std::fmod(ticks_ + seconds * clip.ticksPerSecond, clip.duration);
  ticks_ = ticks < 0 ? ticks + clip.duration : ticks;
  if (!(ticks_ < clip.duration)) ticks_ = 0;  // round-off at the wrap
}

void AnimationPlayer::Pose() {
  const Rig& rig = *rig_;
  const size_t nodes = rig.nodes.size();
  for (size_t n = 0; n < nodes; ++n) local_[n] = rig.nodes[n].local;
  std::fill(morphWeights_.begin(), morphWeights_.end(), 0.0f);
  if (ClipCount() > 0) {
    const AnimClip& clip = rig.clips[clip_];
    for (const NodeChannel& channel : clip.channels) {
      const NodeParts& bind = bindParts_[channel.node];
      Vec3 t = bind.translation, s = bind.scale;
      Quaternion q = bind.rotation;
      if (!channel.positions.empty()) t = SampleVector(channel.positions, ticks_);
      if (!channel.rotations.empty()) q = SampleRotation(channel.rotations, ticks_);
      if (!channel.scales.empty()) s = SampleVector(channel.scales, ticks_);
      local_[channel.node] = ComposeMatrix(t, q, s);
    }
    for (const MorphChannel& channel : clip.morphs) {
      float f;
      const size_t k = FindSegment(channel.keys, ticks_, &f);
      float* out = morphWeights_.data() + morphWeightStart_[channel.node];
      const size_t room = morphWeightStart_[channel.node + 1] - morphWeightStart_[channel.node];
      const std::vector<float>& a = channel.keys[k].weights;
      const std::vector<float>& b = channel.keys[f == 0 ? k : k + 1].weights;
      for (size_t w = 0; w < room && w < a.size() && w < b.size(); ++w)
        out[w] = a[w] + (b[w] - a[w]) * f;
    }
  }
  // One walk: parents come first.
  for (size_t n = 0; n < nodes; ++n) {
    const int32_t parent = rig.nodes[n].parent;
    global_[n] = parent >= 0 ? MultiplyMatrix(global_[parent], local_[n]) : local_[n];
  }
  size_t boneBase = 0;
  for (size_t i = 0; i < rig.meshes.size(); ++i) {
    const RigMesh& mesh = rig.meshes[i];
    const std::vector<Vec3>* source = &mesh.bindPositions;
    if (!mesh.morphTargets.empty()) {
      // Morphed first, in the mesh's own space: base + sum of w (target - base).
      const float* weights = morphWeights_.data() + morphWeightStart_[mesh.node];
      std::vector<Vec3>& morphed = morphed_[i];
      std::copy(mesh.bindPositions.begin(), mesh.bindPositions.end(), morphed.begin());
      for (size_t t = 0; t < mesh.morphTargets.size(); ++t) {
        const float w = weights[t];
        if (w == 0) continue;
        const std::vector<Vec3>& target = mesh.morphTargets[t];
        for (size_t v = 0; v < morphed.size(); ++v) {
          const Vec3 &base = mesh.bindPositions[v], &to = target[v];
          morphed[v].x += w * (to.x - base.x);
          morphed[v].y += w * (to.y - base.y);
          morphed[v].z += w * (to.z - base.z);
        }
      }
      source = &morphed;
    }
    std::vector<Vec3>& out = positions_[i];
    const Matrix34 rigid = MultiplyMatrix(global_[mesh.node], mesh.meshMatrix);
    if (mesh.bones.empty()) {
      for (size_t v = 0; v < out.size(); ++v) out[v] = TransformPoint(rigid, (*source)[v]);
      continue;
    }
    Matrix34* bones = &boneMatrices_[boneBase];
    for (size_t b = 0; b < mesh.bones.size(); ++b)
      bones[b] = mesh.bones[b].node >= 0
                     ? MultiplyMatrix(global_[mesh.bones[b].node], mesh.bones[b].offset)
                     : rigid;
    boneBase += mesh.bones.size();
    const std::vector<float>& inverseTotal = inverseTotals_[i];
    for (size_t v = 0; v < out.size(); ++v) {
      const Vec3& p = (*source)[v];
      if (inverseTotal[v] == 0) {  // no weight: where the mesh's node puts it
        out[v] = TransformPoint(rigid, p);
        continue;
      }
      Vec3 sum{0, 0, 0};
      for (uint32_t k = mesh.influenceStart[v]; k < mesh.influenceStart[v + 1]; ++k) {
        const Influence& influence = mesh.influences[k];
        const Vec3 moved = TransformPoint(bones[influence.bone], p);
        const float share = influence.weight * inverseTotal[v];
        sum.x += share * moved.x;
        sum.y += share * moved.y;
        sum.z += share * moved.z;
      }
      out[v] = sum;
    }
  }
}

void ApplyPose(const AnimationPlayer& player, const Rig& rig, Scene* scene) {
  for (size_t i = 0; i < rig.meshes.size(); ++i) {
    const std::vector<Vec3>& posed = player.Positions(i);
    MeshObject* object = scene->objects[rig.meshes[i].object];
    std::copy(posed.begin(), posed.end(), object->vertices);
    object->placed = false;  // the pose includes any placement
  }
}
