// assimp's importer and exporter for the tests; see assimp_oracle.h.
#include "tests/support/assimp_oracle.h"

#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

void CollectTriangles(const aiScene& scene, const aiNode& node, const aiMatrix4x4& parent,
                      const aiMatrix4x4& undo, std::vector<WorldTriangle>* out) {
  const aiMatrix4x4 world = parent * node.mTransformation;
  const aiMatrix4x4 full = undo * world;
  for (unsigned i = 0; i < node.mNumMeshes; ++i) {
    const aiMesh& mesh = *scene.mMeshes[node.mMeshes[i]];
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
      const aiFace& face = mesh.mFaces[f];
      if (face.mNumIndices != 3) continue;
      WorldTriangle triangle;
      for (int c = 0; c < 3; ++c) {
        const aiVector3D v = full * mesh.mVertices[face.mIndices[c]];
        triangle[3 * c] = v.x;
        triangle[3 * c + 1] = v.y;
        triangle[3 * c + 2] = v.z;
      }
      out->push_back(triangle);
    }
  }
  for (unsigned c = 0; c < node.mNumChildren; ++c)
    CollectTriangles(scene, *node.mChildren[c], world, undo, out);
}

}  // namespace

std::vector<WorldTriangle> AssimpWorldTriangles(const std::string& path, bool undoRoot,
                                                std::string* error) {
  std::vector<WorldTriangle> out;
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(path, aiProcess_Triangulate);
  if (scene == nullptr || scene->mRootNode == nullptr) {
    *error = importer.GetErrorString();
    return out;
  }
  aiMatrix4x4 undo;
  if (undoRoot) {
    undo = scene->mRootNode->mTransformation;
    undo.Inverse();
  }
  CollectTriangles(*scene, *scene->mRootNode, aiMatrix4x4(), undo, &out);
  return out;
}

bool ExportWithAssimp(const std::string& source, const std::string& formatId,
                      const std::string& out, std::string* error) {
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(source, 0);
  if (scene == nullptr) {
    *error = importer.GetErrorString();
    return false;
  }
  Assimp::Exporter exporter;
  if (exporter.Export(scene, formatId, out) != AI_SUCCESS) {
    *error = exporter.GetErrorString();
    return false;
  }
  return true;
}

std::vector<WorldTriangle> MeshTriangles(const MeshObject& mesh) {
  std::vector<WorldTriangle> out;
  for (int f = 0; f < mesh.faceCount; ++f) {
    WorldTriangle triangle;
    const std::array<int32_t, 3> corners = mesh.faces[f].Corners();
    for (int c = 0; c < 3; ++c) {
      const Vec3& v = mesh.vertices[corners[c]];
      triangle[3 * c] = v.x;
      triangle[3 * c + 1] = v.y;
      triangle[3 * c + 2] = v.z;
    }
    out.push_back(triangle);
  }
  return out;
}

int UnmatchedTriangles(const std::vector<WorldTriangle>& ours,
                       const std::vector<WorldTriangle>& theirs, float tolerance) {
  // Theirs hashed by the cell of their centroid; a partner's centroid lies
  // within the tolerance, so in the same or a neighbouring cell.
  const double cell = std::max(tolerance * 4.0, 1e-30);
  using Cell = std::array<long long, 3>;
  const auto cellOf = [&](const WorldTriangle& t) {
    Cell out;
    for (int a = 0; a < 3; ++a)
      out[a] = static_cast<long long>(std::floor((t[a] + t[3 + a] + t[6 + a]) / 3 / cell));
    return out;
  };
  std::map<Cell, std::vector<size_t>> grid;
  for (size_t i = 0; i < theirs.size(); ++i) grid[cellOf(theirs[i])].push_back(i);
  std::vector<bool> used(theirs.size(), false);
  const auto same = [&](const WorldTriangle& a, const WorldTriangle& b, int rotation) {
    for (int c = 0; c < 3; ++c)
      for (int k = 0; k < 3; ++k)
        if (!(std::fabs(a[3 * c + k] - b[3 * ((c + rotation) % 3) + k]) <= tolerance)) return false;
    return true;
  };
  int unmatched = 0;
  for (const WorldTriangle& triangle : ours) {
    const Cell home = cellOf(triangle);
    bool found = false;
    for (int d = 0; d < 27 && !found; ++d) {
      const Cell at{home[0] + d % 3 - 1, home[1] + d / 3 % 3 - 1, home[2] + d / 9 - 1};
      const auto it = grid.find(at);
      if (it == grid.end()) continue;
      for (size_t j : it->second) {
        if (used[j]) continue;
        for (int rotation = 0; rotation < 3 && !found; ++rotation)
          found = same(triangle, theirs[j], rotation);
        if (found) {
          used[j] = true;
          break;
        }
      }
    }
    if (!found) ++unmatched;
  }
  return unmatched;
}

float LargestCoordinate(const std::vector<WorldTriangle>& triangles) {
  float largest = 0;
  for (const WorldTriangle& t : triangles)
    for (float v : t) largest = std::max(largest, std::fabs(v));
  return largest;
}

bool AssimpPreTransformed(const std::string& path, AssimpMergedMesh* out, std::string* error) {
  Assimp::Importer importer;
  const aiScene* scene =
      importer.ReadFile(path, aiProcess_PreTransformVertices | aiProcess_Triangulate);
  if (scene == nullptr) {
    *error = importer.GetErrorString();
    return false;
  }
  *out = AssimpMergedMesh();
  for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
    const aiMesh& mesh = *scene->mMeshes[m];
    std::vector<Face> faces;
    const int32_t base = static_cast<int32_t>(out->vertices.size());
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
      const aiFace& face = mesh.mFaces[f];
      if (face.mNumIndices != 3) continue;
      faces.push_back(Face{base + static_cast<int32_t>(face.mIndices[0]),
                           base + static_cast<int32_t>(face.mIndices[1]),
                           base + static_cast<int32_t>(face.mIndices[2])});
    }
    if (faces.empty()) continue;
    out->faces.insert(out->faces.end(), faces.begin(), faces.end());
    out->anyTexCoords = out->anyTexCoords || mesh.mTextureCoords[0] != nullptr;
    for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
      out->vertices.push_back(Vec3{mesh.mVertices[v].x, mesh.mVertices[v].y, mesh.mVertices[v].z});
      out->texCoords.push_back(mesh.mTextureCoords[0] != nullptr
                                   ? TexCoord{mesh.mTextureCoords[0][v].x, mesh.mTextureCoords[0][v].y}
                                   : TexCoord{0, 0});
    }
  }
  return true;
}
