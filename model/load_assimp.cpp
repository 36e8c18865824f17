// The assimp reader. assimp reads through ConfinedIOSystem: the model's own
// bytes from memory, everything else from the model's folder alone. The
// post-processing is the one a model viewer uses to draw a file as it is:
// triangulate, then pre-transform the vertices (each node's transform applied
// to its meshes, meshes sharing a material and vertex layout joined). Faces
// are kept as assimp gives them: the merge leaves out an object with a face
// naming a vertex it does not have. A file that moves (clips, bones, morph
// targets) is not pre-transformed: its node tree, clips and bones are kept
// in a rig (model/animation.h), and its objects are placed at the static
// pose by the same node transforms pre-transforming would apply.
#include "model/load_assimp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>
#include <assimp/Importer.hpp>
#include <assimp/importerdesc.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include "io/folder_lookup.h"
#include "io/whole_file.h"
#include "model/animation.h"
#include "model/load3ds.h"
#include "model/model_limits.h"

namespace {

// A read-only stream over bytes it may own.
class ByteStream : public Assimp::IOStream {
 public:
  ByteStream(const uint8_t* data, size_t size, FileBytes owned = FileBytes())
      : data_(data), size_(size), owned_(std::move(owned)) {}

  size_t Read(void* out, size_t itemSize, size_t count) override {
    if (itemSize == 0 || position_ >= size_) return 0;
    const size_t items = std::min(count, (size_ - position_) / itemSize);
    if (items > 0) std::memcpy(out, data_ + position_, items * itemSize);
    position_ += items * itemSize;
    return items;
  }
  size_t Write(const void*, size_t, size_t) override { return 0; }
  aiReturn Seek(size_t offset, aiOrigin origin) override {
    // assimp seeks back from the end with a wrapped (unsigned) offset.
    const size_t base = origin == aiOrigin_SET ? 0 : origin == aiOrigin_CUR ? position_ : size_;
    const size_t target = base + offset;
    if (target > size_) return aiReturn_FAILURE;
    position_ = target;
    return aiReturn_SUCCESS;
  }
  size_t Tell() const override { return position_; }
  size_t FileSize() const override { return size_; }
  void Flush() override {}

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
  FileBytes owned_;
};

// Serves the model's own name from memory and every other name from the
// model's folder, through LocateInFolder and ReadLocated; refuses the rest.
// Notes in `seen` the first name refused as outside the folder and each
// file it served, as located.
class ConfinedIOSystem : public Assimp::IOSystem {
 public:
  ConfinedIOSystem(const uint8_t* data, size_t size, std::string folder, std::string modelName,
                   AssimpReport* seen)
      : data_(data), size_(size), folder_(std::move(folder)), modelName_(std::move(modelName)),
        seen_(seen) {}

  bool Exists(const char* name) const override {
    return IsModel(name) || !FindInFolder(folder_, name, nullptr).empty();
  }
  char getOsSeparator() const override { return '/'; }

  Assimp::IOStream* Open(const char* name, const char* mode) override {
    if (name == nullptr || mode == nullptr || std::strchr(mode, 'w') || std::strchr(mode, 'a'))
      return nullptr;
    if (IsModel(name)) return new ByteStream(data_, size_);
    std::string why;
    FolderFile located;
    FileBytes file;
    const bool found = LocateInFolder(folder_, name, &located, &why);
    if (found) {
      NoteFileRead(located.path, seen_);  // even when unreadable now: a save may fix it
      file = ReadLocated(located, kModelFileLimits, &why);
    }
    if (!found || file.failure != FileFailure::kNone) {
      if (seen_->refused.empty() && why.find("outside") != std::string::npos) seen_->refused = name;
      return nullptr;
    }
    secondFileBytes_ += file.size;
    const uint8_t* bytes = file.data;
    const size_t size = file.size;
    return new ByteStream(bytes, size, std::move(file));
  }
  void Close(Assimp::IOStream* stream) override { delete stream; }
  // The bytes of the files other than the model served so far (a glTF's buffers).
  uint64_t SecondFileBytes() const { return secondFileBytes_; }

 private:
  bool IsModel(const char* name) const {
    if (name == nullptr) return false;
    const char* bare = name;
    while (bare[0] == '.' && (bare[1] == '/' || bare[1] == '\\')) bare += 2;
    return modelName_ == bare;
  }

  const uint8_t* data_;
  size_t size_;
  std::string folder_;
  std::string modelName_;
  AssimpReport* seen_;
  uint64_t secondFileBytes_ = 0;
};

// Copies `text` into a name field, cut at kNameSize - 1 bytes.
void CopyName(char (&field)[kNameSize], const char* text) {
  const size_t length = strnlen(text, kNameSize - 1);
  std::memcpy(field, text, length);
  field[length] = '\0';
}

int CountNodes(const aiNode* node, int depth) {
  if (node == nullptr || depth > 1000) return 0;
  int count = 1;
  for (unsigned i = 0; i < node->mNumChildren; ++i) count += CountNodes(node->mChildren[i], depth + 1);
  return count;
}

// What pre-transforming `scene` would make: every node occurrence places a
// copy of each mesh it names, triangulated (a polygon of n corners gives
// n - 2 triangles). Counted without allocating anything per occurrence, in
// saturating 64-bit sums, so that a few kilobytes of nodes naming one large
// mesh many times are refused before assimp builds the copies. The walk
// has no depth limit (assimp's own has none), and a hierarchy of more than
// 2^26 node visits (only a damaged graph has that many) counts as saturated.
void CountPlaced(const aiScene& scene, AssimpReport* report) {
  constexpr int64_t kSaturated = int64_t{1} << 60;
  int64_t visitsLeft = int64_t{1} << 26;
  std::vector<int64_t> triangles(scene.mNumMeshes, 0);
  for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
    const aiMesh* mesh = scene.mMeshes[m];
    if (mesh == nullptr || mesh->mFaces == nullptr) continue;
    for (unsigned f = 0; f < mesh->mNumFaces; ++f)
      triangles[m] += mesh->mFaces[f].mNumIndices >= 3 ? mesh->mFaces[f].mNumIndices - 2 : 0;
  }
  int64_t placedTriangles = 0, placedVertices = 0;
  std::vector<const aiNode*> pending;
  if (scene.mRootNode != nullptr) pending.push_back(scene.mRootNode);
  while (!pending.empty()) {
    const aiNode* node = pending.back();
    pending.pop_back();
    if (--visitsLeft < 0) {
      placedTriangles = placedVertices = kSaturated;
      break;
    }
    for (unsigned i = 0; i < node->mNumMeshes && node->mMeshes != nullptr; ++i) {
      const unsigned m = node->mMeshes[i];
      if (m >= scene.mNumMeshes || scene.mMeshes[m] == nullptr) continue;
      placedTriangles = std::min(kSaturated, placedTriangles + triangles[m]);
      placedVertices = std::min<int64_t>(kSaturated, placedVertices + scene.mMeshes[m]->mNumVertices);
    }
    if (node->mChildren == nullptr) continue;
    for (unsigned i = 0; i < node->mNumChildren; ++i)
      if (node->mChildren[i] != nullptr) pending.push_back(node->mChildren[i]);
  }
  report->placedTriangles = placedTriangles;
  report->placedVertices = placedVertices;
}

int32_t PackColour(const aiColor4D& colour) {
  auto level = [](float value) {
    if (!(value > 0)) return 0;  // NaN too
    if (value >= 1) return 255;
    return static_cast<int>(value * 255.0f + 0.5f);
  };
  return (level(colour.r) << 16) | (level(colour.g) << 8) | level(colour.b);
}

Material* MakeMaterial(const aiMaterial& source) {
  Material* material = new Material();
  aiString name;
  if (source.Get(AI_MATKEY_NAME, name) == aiReturn_SUCCESS)
    CopyName(material->name, name.C_Str());
  aiColor4D diffuse(1, 1, 1, 1);
  source.Get(AI_MATKEY_COLOR_DIFFUSE, diffuse);
  material->diffuseColour = PackColour(diffuse);
  material->opacity = 1.0f;
  aiString texture;
  if (source.GetTextureCount(aiTextureType_DIFFUSE) > 0 &&
      source.GetTexture(aiTextureType_DIFFUSE, 0, &texture) == aiReturn_SUCCESS &&
      texture.length > 0) {
    material->textureName = texture.C_Str();
    CopyName(material->textureMap.fileName, texture.C_Str());
    material->textureMap.strength = 1.0f;
  }
  return material;
}

// One object from `mesh`: its triangles (points and lines counted in
// `report`), and null when it has none.
MeshObject* MakeObject(const aiMesh& mesh, int materialCount, AssimpReport* report) {
  int64_t triangles = 0;
  for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
    const unsigned corners = mesh.mFaces[f].mNumIndices;
    if (corners == 3) ++triangles;
    else if (corners == 1) ++report->points;
    else if (corners == 2) ++report->lines;
  }
  if (triangles == 0 || mesh.mNumVertices == 0 || mesh.mVertices == nullptr) return nullptr;
  MeshObject* object = new MeshObject();
  CopyName(object->name, mesh.mName.C_Str());
  object->vertexCount = static_cast<int32_t>(mesh.mNumVertices);
  object->faceCount = static_cast<int32_t>(triangles);
  object->materialIndex = static_cast<int>(mesh.mMaterialIndex) < materialCount
                              ? static_cast<int32_t>(mesh.mMaterialIndex)
                              : -1;
  object->vertices = new Vec3[mesh.mNumVertices];
  for (unsigned v = 0; v < mesh.mNumVertices; ++v)
    object->vertices[v] = Vec3{mesh.mVertices[v].x, mesh.mVertices[v].y, mesh.mVertices[v].z};
  if (mesh.mTextureCoords[0] != nullptr) {
    object->texCoords = new TexCoord[mesh.mNumVertices];
    for (unsigned v = 0; v < mesh.mNumVertices; ++v)
      object->texCoords[v] = TexCoord{mesh.mTextureCoords[0][v].x, mesh.mTextureCoords[0][v].y};
  }
  object->faces = new Face[triangles];
  int64_t next = 0;
  for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
    const aiFace& face = mesh.mFaces[f];
    if (face.mNumIndices != 3) continue;
    object->faces[next++] = Face{static_cast<int32_t>(face.mIndices[0]),
                                 static_cast<int32_t>(face.mIndices[1]),
                                 static_cast<int32_t>(face.mIndices[2])};
  }
  return object;
}

// A new scene with the file's materials and nothing else yet.
Scene* MakeSceneShell(const aiScene& source) {
  Scene* scene = new Scene();
  std::snprintf(scene->name, sizeof scene->name, "Untitled");
  const int materialCount = static_cast<int>(std::min<unsigned>(source.mNumMaterials, 1u << 20));
  scene->materials = new Material*[std::max(materialCount, kMaxMaterials)]();
  for (int i = 0; i < materialCount; ++i) {
    scene->materials[i] = source.mMaterials[i] ? MakeMaterial(*source.mMaterials[i]) : new Material();
    scene->materialCount = i + 1;
  }
  const int meshCount = static_cast<int>(std::min<unsigned>(source.mNumMeshes, 1u << 20));
  scene->objects = new MeshObject*[std::max(meshCount, kMaxObjects)]();
  return scene;
}

// Appends `object` (not null) to the scene, with room for it.
void AddObject(Scene* scene, MeshObject* object, int* capacity) {
  if (scene->objectCount == *capacity) {
    const int grown = *capacity * 2;
    MeshObject** table = new MeshObject*[grown]();
    std::copy(scene->objects, scene->objects + scene->objectCount, table);
    delete[] scene->objects;
    scene->objects = table;
    *capacity = grown;
  }
  object->material = object->materialIndex >= 0 ? scene->materials[object->materialIndex] : nullptr;
  scene->objects[scene->objectCount++] = object;
  scene->totalVertexCount += object->vertexCount;
  scene->totalFaceCount += object->faceCount;
}

// One object per mesh, as pre-transformed.
void AddMeshes(const aiScene& source, Scene* scene, AssimpReport* report) {
  const int meshCount = static_cast<int>(std::min<unsigned>(source.mNumMeshes, 1u << 20));
  int capacity = std::max(meshCount, kMaxObjects);
  for (int i = 0; i < meshCount; ++i) {
    if (source.mMeshes[i] == nullptr) continue;
    MeshObject* object = MakeObject(*source.mMeshes[i], scene->materialCount, report);
    if (object != nullptr) AddObject(scene, object, &capacity);
  }
}

void AddEmbeddedTextures(const aiScene& source, Scene* scene) {
  for (unsigned i = 0; i < source.mNumTextures; ++i) {
    const aiTexture* texture = source.mTextures[i];
    if (texture == nullptr || texture->pcData == nullptr) continue;
    EmbeddedTexture embedded;
    embedded.name = "*" + std::to_string(i);
    embedded.fileName = texture->mFilename.C_Str();
    if (texture->mHeight == 0) {
      // Compressed: mWidth is the byte count.
      const uint8_t* bytes = reinterpret_cast<const uint8_t*>(texture->pcData);
      embedded.bytes.assign(bytes, bytes + texture->mWidth);
    } else {
      embedded.width = static_cast<int32_t>(texture->mWidth);
      embedded.height = static_cast<int32_t>(texture->mHeight);
      const size_t texels = static_cast<size_t>(texture->mWidth) * texture->mHeight;
      embedded.bytes.resize(texels * 4);
      for (size_t t = 0; t < texels; ++t) {
        const aiTexel& texel = texture->pcData[t];
        uint8_t* out = &embedded.bytes[t * 4];
        out[0] = texel.r;
        out[1] = texel.g;
        out[2] = texel.b;
        out[3] = texel.a;
      }
    }
    scene->embeddedTextures.push_back(std::move(embedded));
  }
}

// ---- Animated files: the node tree, the clips and the bones, kept for posing.

// Whether anything in the file moves: clips, bones or morph targets.
bool Moves(const aiScene& source) {
  if (source.mNumAnimations > 0) return true;
  for (unsigned i = 0; i < source.mNumMeshes; ++i) {
    const aiMesh* mesh = source.mMeshes[i];
    if (mesh != nullptr && (mesh->mNumBones > 0 || mesh->mNumAnimMeshes > 0)) return true;
  }
  return false;
}

Matrix34 ToMatrix34(const aiMatrix4x4& a) {
  return Matrix34{{a.a1, a.a2, a.a3, a.a4, a.b1, a.b2, a.b3, a.b4, a.c1, a.c2, a.c3, a.c4}};
}

Vec3 ToVec3(const aiVector3D& v) { return Vec3{v.x, v.y, v.z}; }

// The node tree in depth-first order (parents first), with each node's
// global transform as assimp's pre-transform step makes it. Nodes deeper
// than 1000 levels are left out.
void CollectNodes(const aiNode* root, Rig* rig, std::vector<const aiNode*>* nodes,
                  std::vector<aiMatrix4x4>* globals) {
  struct Pending {
    const aiNode* node;
    int32_t parent;
    int depth;
  };
  std::vector<Pending> stack;
  if (root != nullptr) stack.push_back({root, -1, 0});
  while (!stack.empty()) {
    const Pending next = stack.back();
    stack.pop_back();
    const int32_t index = static_cast<int32_t>(nodes->size());
    nodes->push_back(next.node);
    rig->nodes.push_back(AnimNode{next.parent, next.node->mName.C_Str(),
                                  ToMatrix34(next.node->mTransformation)});
    globals->push_back(next.parent >= 0 ? (*globals)[next.parent] * next.node->mTransformation
                                        : next.node->mTransformation);
    if (next.depth >= 1000) continue;
    for (unsigned c = next.node->mNumChildren; c-- > 0;)
      if (next.node->mChildren[c] != nullptr) stack.push_back({next.node->mChildren[c], index, next.depth + 1});
  }
}

// The bones and per-vertex weights of `mesh`; a weight naming a vertex the
// mesh lacks is a problem that leaves the whole model static.
std::string CollectBones(const aiMesh& mesh, const std::unordered_map<std::string, int32_t>& nodeOf,
                         RigMesh* out) {
  if (mesh.mNumBones == 0 || mesh.mBones == nullptr) return std::string();
  std::vector<uint32_t> count(mesh.mNumVertices + 1, 0);
  for (unsigned b = 0; b < mesh.mNumBones; ++b) {
    const aiBone* bone = mesh.mBones[b];
    if (bone == nullptr) return "a bone is missing";
    const auto node = nodeOf.find(bone->mName.C_Str());
    out->bones.push_back(Bone{node == nodeOf.end() ? -1 : node->second, bone->mName.C_Str(),
                              ToMatrix34(bone->mOffsetMatrix)});
    for (unsigned w = 0; w < bone->mNumWeights; ++w) {
      const unsigned vertex = bone->mWeights[w].mVertexId;
      if (vertex >= mesh.mNumVertices)
        return "bone " + QuotedText(bone->mName.C_Str()) + " weighs vertex " +
               std::to_string(vertex) + " of a mesh of " + std::to_string(mesh.mNumVertices);
      ++count[vertex + 1];
    }
  }
  for (unsigned v = 0; v < mesh.mNumVertices; ++v) count[v + 1] += count[v];
  out->influenceStart = count;
  out->influences.resize(count.back());
  for (unsigned b = 0; b < mesh.mNumBones; ++b) {
    const aiBone& bone = *mesh.mBones[b];
    for (unsigned w = 0; w < bone.mNumWeights; ++w)
      out->influences[count[bone.mWeights[w].mVertexId]++] =
          Influence{static_cast<int32_t>(b), bone.mWeights[w].mWeight};
  }
  return std::string();
}

// Every node's meshes become objects in node order, each at the static pose
// (its node's global transform applied, as pre-transforming would), with the
// rig mesh that poses it.
void AddPosedObjects(const aiScene& source, const std::vector<const aiNode*>& nodes,
                     const std::vector<aiMatrix4x4>& globals,
                     const std::unordered_map<std::string, int32_t>& nodeOf, Scene* scene, Rig* rig,
                     AssimpReport* report, std::string* problem) {
  int capacity = std::max(static_cast<int>(std::min<unsigned>(source.mNumMeshes, 1u << 20)), kMaxObjects);
  for (size_t n = 0; n < nodes.size(); ++n) {
    for (unsigned k = 0; k < nodes[n]->mNumMeshes; ++k) {
      const unsigned index = nodes[n]->mMeshes[k];
      if (index >= source.mNumMeshes || source.mMeshes[index] == nullptr) continue;
      const aiMesh& mesh = *source.mMeshes[index];
      MeshObject* object = MakeObject(mesh, scene->materialCount, report);
      if (object == nullptr) continue;
      RigMesh posed;
      posed.object = scene->objectCount;
      posed.node = static_cast<int32_t>(n);
      posed.bindPositions.assign(object->vertices, object->vertices + object->vertexCount);
      for (int v = 0; v < object->vertexCount; ++v)
        object->vertices[v] = ToVec3(globals[n] * mesh.mVertices[v]);
      AddObject(scene, object, &capacity);
      if (problem->empty()) *problem = CollectBones(mesh, nodeOf, &posed);
      for (unsigned t = 0; t < mesh.mNumAnimMeshes && mesh.mAnimMeshes != nullptr; ++t) {
        const aiAnimMesh* target = mesh.mAnimMeshes[t];
        std::vector<Vec3> positions(posed.bindPositions);  // a target without positions moves none
        if (target != nullptr && target->mVertices != nullptr && target->mNumVertices == mesh.mNumVertices)
          for (unsigned v = 0; v < mesh.mNumVertices; ++v) positions[v] = ToVec3(target->mVertices[v]);
        posed.morphTargets.push_back(std::move(positions));
      }
      rig->meshes.push_back(std::move(posed));
    }
  }
}

template <typename Key>
std::vector<VectorKey> VectorKeys(const Key* keys, unsigned count) {
  std::vector<VectorKey> out;
  if (keys == nullptr) return out;
  out.reserve(count);
  for (unsigned k = 0; k < count; ++k) out.push_back(VectorKey{keys[k].mTime, ToVec3(keys[k].mValue)});
  return out;
}

// The file's clips as they are; CheckRig judges them. Clips whose keys alone
// would pass `maxKeys` are left out before anything is copied.
void CollectClips(const aiScene& source, const std::unordered_map<std::string, int32_t>& nodeOf,
                  uint64_t maxKeys, Rig* rig) {
  auto nodeNamed = [&nodeOf](const aiString& name) {
    const auto found = nodeOf.find(name.C_Str());
    return found == nodeOf.end() ? -1 : found->second;
  };
  for (unsigned a = 0; a < source.mNumAnimations && source.mAnimations != nullptr; ++a) {
    const aiAnimation* animation = source.mAnimations[a];
    if (animation == nullptr) continue;
    AnimClip clip;
    clip.name = animation->mName.C_Str();
    clip.duration = animation->mDuration;
    clip.ticksPerSecond = animation->mTicksPerSecond == 0 ? 25 : animation->mTicksPerSecond;
    uint64_t keys = 0;
    for (unsigned c = 0; c < animation->mNumChannels; ++c)
      if (const aiNodeAnim* channel = animation->mChannels[c])
        keys += uint64_t{channel->mNumPositionKeys} + channel->mNumRotationKeys + channel->mNumScalingKeys;
    for (unsigned c = 0; c < animation->mNumMorphMeshChannels; ++c)
      if (const aiMeshMorphAnim* channel = animation->mMorphMeshChannels[c])
        for (unsigned k = 0; k < channel->mNumKeys; ++k) keys += 1 + channel->mKeys[k].mNumValuesAndWeights;
    if (keys > maxKeys) {
      rig->notes.push_back("animation " + std::to_string(a) + " " + QuotedText(clip.name) +
                           " left out: its " + std::to_string(keys) + " keys are more than the " +
                           std::to_string(maxKeys) + " the file's size allows");
      continue;
    }
    for (unsigned c = 0; c < animation->mNumChannels; ++c) {
      const aiNodeAnim* source = animation->mChannels[c];
      if (source == nullptr) continue;
      NodeChannel channel;
      channel.nodeName = source->mNodeName.C_Str();
      channel.node = nodeNamed(source->mNodeName);
      channel.positions = VectorKeys(source->mPositionKeys, source->mNumPositionKeys);
      channel.scales = VectorKeys(source->mScalingKeys, source->mNumScalingKeys);
      for (unsigned k = 0; k < source->mNumRotationKeys && source->mRotationKeys != nullptr; ++k) {
        const aiQuatKey& key = source->mRotationKeys[k];
        channel.rotations.push_back(
            RotationKey{key.mTime, Quaternion{key.mValue.w, key.mValue.x, key.mValue.y, key.mValue.z}});
      }
      clip.channels.push_back(std::move(channel));
    }
    for (unsigned c = 0; c < animation->mNumMorphMeshChannels; ++c) {
      const aiMeshMorphAnim* source = animation->mMorphMeshChannels[c];
      if (source == nullptr) continue;
      MorphChannel channel;
      // glTF names the channel after the node, with "*" and a mesh number after it.
      std::string name = source->mName.C_Str();
      if (nodeOf.count(name) == 0 && name.find('*') != std::string::npos) name.resize(name.rfind('*'));
      channel.nodeName = name;
      const auto node = nodeOf.find(name);
      channel.node = node == nodeOf.end() ? -1 : node->second;
      for (unsigned k = 0; k < source->mNumKeys && source->mKeys != nullptr; ++k) {
        const aiMeshMorphKey& key = source->mKeys[k];
        MorphKey morph;
        morph.time = key.mTime;
        for (unsigned w = 0; w < key.mNumValuesAndWeights; ++w) {
          const unsigned target = key.mValues[w];
          if (target >= 4096) continue;  // no mesh has that many targets
          if (morph.weights.size() <= target) morph.weights.resize(target + 1, 0.0f);
          morph.weights[target] = static_cast<float>(key.mWeights[w]);
        }
        channel.keys.push_back(std::move(morph));
      }
      clip.morphs.push_back(std::move(channel));
    }
    rig->clips.push_back(std::move(clip));
  }
}

// The scene of a file that moves: objects at the static pose, and the rig
// that poses them, checked (CheckRig) against the bytes the files gave.
Scene* MakeAnimatedScene(const aiScene& source, uint64_t fileBytes, AssimpReport* report) {
  Scene* scene = MakeSceneShell(source);
  auto rig = std::make_shared<Rig>();
  std::vector<const aiNode*> nodes;
  std::vector<aiMatrix4x4> globals;
  CollectNodes(source.mRootNode, rig.get(), &nodes, &globals);
  std::unordered_map<std::string, int32_t> nodeOf;
  for (size_t n = 0; n < rig->nodes.size(); ++n)
    nodeOf.emplace(rig->nodes[n].name, static_cast<int32_t>(n));  // the first of a name
  std::string problem;
  AddPosedObjects(source, nodes, globals, nodeOf, scene, rig.get(), report, &problem);
  AddEmbeddedTextures(source, scene);
  const RigLimits limits = LimitsForFileSize(fileBytes);
  CollectClips(source, nodeOf, limits.maxKeys, rig.get());
  if (!problem.empty()) {
    rig->notes.push_back(problem + "; the model is shown in its static pose");
    rig->nodes.clear();
    rig->clips.clear();
    rig->meshes.clear();
  }
  CheckRig(*scene, limits, rig.get());
  scene->rig = std::move(rig);
  return scene;
}

}  // namespace

Scene* LoadAssimpSceneFromBytes(const uint8_t* data, size_t size, const std::string& path,
                                AssimpReport* report, std::string* error) {
  AssimpReport scratch;
  AssimpReport& seen = report != nullptr ? *report : scratch;
  seen = AssimpReport();
  if (const std::string why = ImplausibleOffHeader(data, size); !why.empty()) {
    *error = why;
    return nullptr;
  }
  try {
    Assimp::Importer importer;
    // The name assimp is given keeps the extension that chooses the importer.
    const std::string name = LastComponent(path).empty() ? "model" : LastComponent(path);
    ConfinedIOSystem* io = new ConfinedIOSystem(data, size, FolderOf(path), name, &seen);
    importer.SetIOHandler(io);  // the importer owns it
    const aiScene* raw = importer.ReadFile(name, 0);
    if (raw == nullptr) {
      *error = importer.GetErrorString();
      if (error->empty()) *error = "assimp read no scene";
      return nullptr;
    }
    seen.meshes = static_cast<int>(raw->mNumMeshes);
    seen.nodes = CountNodes(raw->mRootNode, 0);
    const size_t dot = name.rfind('.');
    const aiImporterDesc* format =
        dot == std::string::npos
            ? nullptr
            : importer.GetImporterInfo(importer.GetImporterIndex(name.substr(dot).c_str()));
    seen.format = format != nullptr ? format->mName : "assimp";
    CountPlaced(*raw, &seen);
    if (seen.placedTriangles > kMaxModelTriangles || seen.placedVertices > kMaxModelVertices) {
      seen.overLimit = true;
      *error = DescribeOverLimit(seen.placedTriangles, seen.placedVertices);
      return nullptr;
    }
    // A file that moves keeps its node tree; any other is pre-transformed.
    const bool moves = Moves(*raw);
    const aiScene* scene = importer.ApplyPostProcessing(
        moves ? unsigned{aiProcess_Triangulate}
              : unsigned{aiProcess_Triangulate | aiProcess_PreTransformVertices});
    if (scene == nullptr) {
      *error = importer.GetErrorString();
      if (error->empty()) *error = "assimp's post-processing failed";
      return nullptr;
    }
    if (moves) return MakeAnimatedScene(*scene, size + io->SecondFileBytes(), &seen);
    Scene* made = MakeSceneShell(*scene);
    AddMeshes(*scene, made, &seen);
    AddEmbeddedTextures(*scene, made);
    return made;
  } catch (const std::bad_alloc&) {
    *error = "not enough memory";
  } catch (const std::exception& failure) {
    *error = failure.what();
  }
  return nullptr;
}
