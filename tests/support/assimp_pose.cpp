#include "tests/support/assimp_pose.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cmath>
#include <array>
#include <map>
#include <string>

namespace {

struct M4 {
  double a[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
};

M4 Mul(const M4& x, const M4& y) {
  M4 out;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      out.a[r][c] = 0;
      for (int k = 0; k < 4; ++k) out.a[r][c] += x.a[r][k] * y.a[k][c];
    }
  return out;
}

M4 FromAssimp(const aiMatrix4x4& m) {
  M4 out;
  const float* v = &m.a1;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) out.a[r][c] = v[4 * r + c];
  return out;
}

struct Q {
  double w, x, y, z;
};

// T x R x S.
M4 Trs(const aiVector3D& t, Q q, const aiVector3D& s) {
  const double n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  q = Q{q.w / n, q.x / n, q.y / n, q.z / n};
  const double rot[3][3] = {
      {1 - 2 * (q.y * q.y + q.z * q.z), 2 * (q.x * q.y - q.w * q.z), 2 * (q.x * q.z + q.w * q.y)},
      {2 * (q.x * q.y + q.w * q.z), 1 - 2 * (q.x * q.x + q.z * q.z), 2 * (q.y * q.z - q.w * q.x)},
      {2 * (q.x * q.z - q.w * q.y), 2 * (q.y * q.z + q.w * q.x), 1 - 2 * (q.x * q.x + q.y * q.y)}};
  const double scale[3] = {s.x, s.y, s.z}, move[3] = {t.x, t.y, t.z};
  M4 out;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) out.a[r][c] = rot[r][c] * scale[c];
    out.a[r][3] = move[r];
  }
  return out;
}

// The key pair around `t` by a plain scan: before the first and after the
// last key the end key is held.
template <typename Key>
void Around(const Key* keys, unsigned count, double t, unsigned* i, unsigned* j, double* f) {
  *i = *j = 0;
  *f = 0;
  if (t <= keys[0].mTime) return;
  for (unsigned k = 0; k + 1 < count; ++k)
    if (t < keys[k + 1].mTime) {
      *i = k;
      *j = k + 1;
      *f = (t - keys[k].mTime) / (keys[k + 1].mTime - keys[k].mTime);
      return;
    }
  *i = *j = count - 1;
}

aiVector3D Lerp(const aiVectorKey* keys, unsigned count, double t) {
  unsigned i, j;
  double f;
  Around(keys, count, t, &i, &j, &f);
  const aiVector3D &a = keys[i].mValue, &b = keys[j].mValue;
  return aiVector3D(static_cast<float>(a.x + (b.x - a.x) * f), static_cast<float>(a.y + (b.y - a.y) * f),
                    static_cast<float>(a.z + (b.z - a.z) * f));
}

Q Slerp(const aiQuatKey* keys, unsigned count, double t) {
  unsigned i, j;
  double f;
  Around(keys, count, t, &i, &j, &f);
  const aiQuaternion &qa = keys[i].mValue, &qb = keys[j].mValue;
  // Keys are taken as the unit quaternions they stand for.
  auto unit = [](const aiQuaternion& q) {
    const double n = std::sqrt(double{q.w} * q.w + double{q.x} * q.x + double{q.y} * q.y + double{q.z} * q.z);
    return Q{q.w / n, q.x / n, q.y / n, q.z / n};
  };
  Q a = unit(qa), b = unit(qb);
  double dot = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
  if (dot < 0) {
    b = Q{-b.w, -b.x, -b.y, -b.z};
    dot = -dot;
  }
  if (dot > 1) dot = 1;
  const double angle = std::acos(dot);
  double wa = 1 - f, wb = f;
  if (angle > 1e-9) {
    wa = std::sin((1 - f) * angle) / std::sin(angle);
    wb = std::sin(f * angle) / std::sin(angle);
  }
  return Q{wa * a.w + wb * b.w, wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z};
}

void Walk(const aiNode* node, const M4& parent, const std::map<std::string, const aiNodeAnim*>& moved,
          double ticks, bool undoRoot, std::map<std::string, M4>* globals,
          std::vector<const aiNode*>* order, std::map<const aiNode*, M4>* byNode) {
  M4 local = undoRoot && node->mParent == nullptr ? M4() : FromAssimp(node->mTransformation);
  const auto channel = moved.find(node->mName.C_Str());
  if (channel != moved.end()) {
    const aiNodeAnim& c = *channel->second;
    aiVector3D t, s;
    aiQuaternion r;
    node->mTransformation.Decompose(s, r, t);
    Q q{r.w, r.x, r.y, r.z};
    if (c.mNumPositionKeys > 0) t = Lerp(c.mPositionKeys, c.mNumPositionKeys, ticks);
    if (c.mNumRotationKeys > 0) q = Slerp(c.mRotationKeys, c.mNumRotationKeys, ticks);
    if (c.mNumScalingKeys > 0) s = Lerp(c.mScalingKeys, c.mNumScalingKeys, ticks);
    local = Trs(t, q, s);
  }
  const M4 global = Mul(parent, local);
  globals->emplace(node->mName.C_Str(), global);  // the first node of a name
  (*byNode)[node] = global;
  order->push_back(node);
  for (unsigned c = 0; c < node->mNumChildren; ++c)
    Walk(node->mChildren[c], global, moved, ticks, false, globals, order, byNode);
}

Vec3 Apply(const M4& m, const aiVector3D& v) {
  double out[3];
  for (int r = 0; r < 3; ++r) out[r] = m.a[r][0] * v.x + m.a[r][1] * v.y + m.a[r][2] * v.z + m.a[r][3];
  return Vec3{static_cast<float>(out[0]), static_cast<float>(out[1]), static_cast<float>(out[2])};
}

}  // namespace

namespace {

struct PosedMesh {
  std::vector<Vec3> vertices;
  std::vector<std::array<unsigned, 3>> triangles;
};

bool PoseFile(const std::string& path, int clip, double seconds, bool undoRoot,
              std::vector<PosedMesh>* meshes, std::string* error) {
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(path, aiProcess_Triangulate);
  if (scene == nullptr || scene->mRootNode == nullptr) {
    *error = importer.GetErrorString();
    return false;
  }
  if (clip < 0 || static_cast<unsigned>(clip) >= scene->mNumAnimations) {
    *error = "no such clip";
    return false;
  }
  const aiAnimation& animation = *scene->mAnimations[clip];
  const double perSecond = animation.mTicksPerSecond != 0 ? animation.mTicksPerSecond : 25;
  double ticks = 0;
  if (animation.mDuration > 0) {
    ticks = std::fmod(seconds * perSecond, animation.mDuration);
    if (ticks < 0) ticks += animation.mDuration;
  }
  std::map<std::string, const aiNodeAnim*> moved;
  for (unsigned c = 0; c < animation.mNumChannels; ++c)
    moved.emplace(animation.mChannels[c]->mNodeName.C_Str(), animation.mChannels[c]);
  std::map<std::string, M4> globals;
  std::vector<const aiNode*> order;
  std::map<const aiNode*, M4> byNode;
  Walk(scene->mRootNode, M4(), moved, ticks, undoRoot, &globals, &order, &byNode);
  meshes->clear();
  for (const aiNode* node : order) {
    for (unsigned k = 0; k < node->mNumMeshes; ++k) {
      const aiMesh& mesh = *scene->mMeshes[node->mMeshes[k]];
      PosedMesh posed;
      for (unsigned f = 0; f < mesh.mNumFaces; ++f)
        if (mesh.mFaces[f].mNumIndices == 3)
          posed.triangles.push_back({mesh.mFaces[f].mIndices[0], mesh.mFaces[f].mIndices[1],
                                     mesh.mFaces[f].mIndices[2]});
      if (posed.triangles.empty()) continue;
      std::vector<Vec3>* out = &posed.vertices;
      const M4& own = byNode[node];
      // Morph targets first: base + sum of weight x (target - base), the
      // weights interpolated between the keys of the node's morph channel.
      std::vector<aiVector3D> base(mesh.mVertices, mesh.mVertices + mesh.mNumVertices);
      for (unsigned c = 0; c < animation.mNumMorphMeshChannels; ++c) {
        const aiMeshMorphAnim& morph = *animation.mMorphMeshChannels[c];
        if (std::string(morph.mName.C_Str()) != node->mName.C_Str() || morph.mNumKeys == 0) continue;
        unsigned i, j;
        double f;
        Around(morph.mKeys, morph.mNumKeys, ticks, &i, &j, &f);
        std::vector<double> weights(mesh.mNumAnimMeshes, 0.0);
        for (unsigned w = 0; w < morph.mKeys[i].mNumValuesAndWeights; ++w)
          if (morph.mKeys[i].mValues[w] < weights.size()) weights[morph.mKeys[i].mValues[w]] += (1 - f) * morph.mKeys[i].mWeights[w];
        for (unsigned w = 0; w < morph.mKeys[j].mNumValuesAndWeights; ++w)
          if (morph.mKeys[j].mValues[w] < weights.size()) weights[morph.mKeys[j].mValues[w]] += f * morph.mKeys[j].mWeights[w];
        for (unsigned t = 0; t < mesh.mNumAnimMeshes; ++t)
          for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
            const aiVector3D moved = mesh.mAnimMeshes[t]->mVertices[v] - mesh.mVertices[v];
            base[v] += aiVector3D(static_cast<float>(weights[t] * moved.x), static_cast<float>(weights[t] * moved.y),
                                  static_cast<float>(weights[t] * moved.z));
          }
      }
      if (mesh.mNumBones == 0) {
        for (unsigned v = 0; v < mesh.mNumVertices; ++v) out->push_back(Apply(own, base[v]));
        meshes->push_back(std::move(posed));
        continue;
      }
      std::vector<double> total(mesh.mNumVertices, 0);
      std::vector<std::array<double, 3>> sum(mesh.mNumVertices, {0, 0, 0});
      for (unsigned b = 0; b < mesh.mNumBones; ++b) {
        const aiBone& bone = *mesh.mBones[b];
        const auto found = globals.find(bone.mName.C_Str());
        const M4 matrix = found != globals.end() ? Mul(found->second, FromAssimp(bone.mOffsetMatrix)) : own;
        for (unsigned w = 0; w < bone.mNumWeights; ++w) {
          const aiVertexWeight& weight = bone.mWeights[w];
          const Vec3 p = Apply(matrix, base[weight.mVertexId]);
          total[weight.mVertexId] += weight.mWeight;
          sum[weight.mVertexId][0] += weight.mWeight * p.x;
          sum[weight.mVertexId][1] += weight.mWeight * p.y;
          sum[weight.mVertexId][2] += weight.mWeight * p.z;
        }
      }
      for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
        if (total[v] == 0) {
          out->push_back(Apply(own, base[v]));
        } else {
          out->push_back(Vec3{static_cast<float>(sum[v][0] / total[v]),
                              static_cast<float>(sum[v][1] / total[v]),
                              static_cast<float>(sum[v][2] / total[v])});
        }
      }
      meshes->push_back(std::move(posed));
    }
  }
  return true;
}

}  // namespace

bool AssimpPosedVertices(const std::string& path, int clip, double seconds, std::vector<Vec3>* out,
                         std::string* error) {
  std::vector<PosedMesh> meshes;
  if (!PoseFile(path, clip, seconds, false, &meshes, error)) return false;
  out->clear();
  for (const PosedMesh& mesh : meshes) out->insert(out->end(), mesh.vertices.begin(), mesh.vertices.end());
  return true;
}

std::vector<WorldTriangle> AssimpPosedTriangles(const std::string& path, int clip, double seconds,
                                                bool undoRoot, std::string* error) {
  std::vector<PosedMesh> meshes;
  std::vector<WorldTriangle> out;
  if (!PoseFile(path, clip, seconds, undoRoot, &meshes, error)) return out;
  for (const PosedMesh& mesh : meshes)
    for (const auto& corners : mesh.triangles) {
      WorldTriangle triangle;
      for (int k = 0; k < 3; ++k) {
        const Vec3& v = mesh.vertices[corners[k]];
        triangle[3 * k] = v.x;
        triangle[3 * k + 1] = v.y;
        triangle[3 * k + 2] = v.z;
      }
      out.push_back(triangle);
    }
  return out;
}

std::vector<AssimpClipInfo> AssimpClips(const std::string& path) {
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(path, 0);
  std::vector<AssimpClipInfo> clips;
  if (scene == nullptr) return clips;
  for (unsigned a = 0; a < scene->mNumAnimations; ++a) {
    const aiAnimation& animation = *scene->mAnimations[a];
    const double perSecond = animation.mTicksPerSecond != 0 ? animation.mTicksPerSecond : 25;
    clips.push_back(AssimpClipInfo{animation.mName.C_Str(), animation.mDuration / perSecond});
  }
  return clips;
}
