// The assimp reader. assimp reads through ConfinedIOSystem: the model's own
// bytes from memory, everything else from the model's folder alone. The
// post-processing is the one a model viewer uses to draw a file as it is:
// triangulate, then pre-transform the vertices (each node's transform applied
// to its meshes, meshes sharing a material and vertex layout joined). Faces
// are kept as assimp gives them: the merge leaves out an object with a face
// naming a vertex it does not have.
#include "model/load_assimp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
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
#include "model/load3ds.h"

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

// Adds `path` to the files the read opened, once, up to kMaxFilesRead.
void NoteFileRead(const std::string& path, AssimpReport* seen) {
  std::vector<std::string>& files = seen->filesRead;
  if (files.size() < kMaxFilesRead && path.size() <= kMaxFileReadPath &&
      std::find(files.begin(), files.end(), path) == files.end())
    files.push_back(path);
}

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
    const uint8_t* bytes = file.data;
    const size_t size = file.size;
    return new ByteStream(bytes, size, std::move(file));
  }
  void Close(Assimp::IOStream* stream) override { delete stream; }

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

Scene* MakeScene(const aiScene& source, AssimpReport* report) {
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
  for (int i = 0; i < meshCount; ++i) {
    if (source.mMeshes[i] == nullptr) continue;
    MeshObject* object = MakeObject(*source.mMeshes[i], scene->materialCount, report);
    if (object == nullptr) continue;
    object->material = object->materialIndex >= 0 ? scene->materials[object->materialIndex] : nullptr;
    scene->objects[scene->objectCount++] = object;
    scene->totalVertexCount += object->vertexCount;
    scene->totalFaceCount += object->faceCount;
  }
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
  return scene;
}

// assimp's OFF importer reserves memory for the counts in the header before
// it reads a single vertex, so a header claiming billions of them exhausts
// memory. A vertex needs at least 6 bytes ("0 0 0\n") and a face 2: a header
// claiming more than the bytes can hold is refused here. Returns why, or ""
// for anything else (not an OFF file, or plausible counts).
std::string ImplausibleOffHeader(const uint8_t* data, size_t size) {
  const std::string head(reinterpret_cast<const char*>(data), std::min<size_t>(size, 4096));
  size_t pos = head.find_first_not_of(" \t\r\n");
  if (pos == std::string::npos) return std::string();
  const size_t end = head.find_first_of(" \t\r\n", pos);
  if (end == std::string::npos) return std::string();
  const std::string keyword = head.substr(pos, end - pos);
  if (keyword.size() < 3 || keyword.compare(keyword.size() - 3, 3, "OFF") != 0)
    return std::string();
  unsigned long long counts[2] = {0, 0};
  pos = end;
  for (unsigned long long& count : counts) {
    // Comments run to the end of their line.
    while (true) {
      pos = head.find_first_not_of(" \t\r\n", pos);
      if (pos == std::string::npos) return std::string();
      if (head[pos] != '#') break;
      pos = head.find('\n', pos);
    }
    const size_t digits = head.find_first_not_of("0123456789", pos);
    if (digits == pos || digits == std::string::npos || digits - pos > 18) return std::string();
    count = std::stoull(head.substr(pos, digits - pos));
    pos = digits;
  }
  if (counts[0] <= size / 6 && counts[1] <= size / 2) return std::string();
  return "the OFF header declares " + std::to_string(counts[0]) + " vertices and " +
         std::to_string(counts[1]) + " faces, more than its " + std::to_string(size) +
         " bytes can hold";
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
    importer.SetIOHandler(new ConfinedIOSystem(data, size, FolderOf(path), name, &seen));
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
    const aiScene* scene =
        importer.ApplyPostProcessing(aiProcess_Triangulate | aiProcess_PreTransformVertices);
    if (scene == nullptr) {
      *error = importer.GetErrorString();
      if (error->empty()) *error = "assimp's post-processing failed";
      return nullptr;
    }
    return MakeScene(*scene, &seen);
  } catch (const std::bad_alloc&) {
    *error = "not enough memory";
  } catch (const std::exception& failure) {
    *error = failure.what();
  }
  return nullptr;
}
