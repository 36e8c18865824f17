#include "tests/support/skinned_gltf.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "tests/support/test_meshes.h"

namespace {

// The binary buffer, and a view plus accessor per array put into it.
struct Buffer {
  std::vector<uint8_t> bytes;
  std::ostringstream views, accessors;
  int count = 0;

  template <typename T>
  int Add(const std::vector<T>& values, int componentType, const char* type, int elements) {
    while (bytes.size() % 4 != 0) bytes.push_back(0);
    const size_t offset = bytes.size();
    bytes.resize(offset + values.size() * sizeof(T));
    std::memcpy(bytes.data() + offset, values.data(), values.size() * sizeof(T));
    const char* comma = count > 0 ? "," : "";
    views << comma << "{\"buffer\":0,\"byteOffset\":" << offset
          << ",\"byteLength\":" << values.size() * sizeof(T) << "}";
    accessors << comma << "{\"bufferView\":" << count << ",\"componentType\":" << componentType
              << ",\"count\":" << values.size() / elements << ",\"type\":\"" << type << "\"";
    if (std::strcmp(type, "VEC3") == 0 && componentType == 5126) {  // POSITION needs its bounds
      float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
      for (size_t i = 0; i < values.size(); ++i) {
        const float v = static_cast<float>(values[i]);
        lo[i % 3] = std::fmin(lo[i % 3], v);
        hi[i % 3] = std::fmax(hi[i % 3], v);
      }
      accessors << ",\"min\":[" << lo[0] << "," << lo[1] << "," << lo[2] << "],\"max\":[" << hi[0]
                << "," << hi[1] << "," << hi[2] << "]";
    }
    accessors << "}";
    return count++;
  }
};

// Writes the .gltf text and the buffer; the .gltf's path or "".
std::string WriteFiles(const std::string& folder, const std::string& name, const std::string& json,
                       const Buffer& buffer) {
  const std::string path = folder + "/" + name + ".gltf";
  std::ofstream gltf(path, std::ios::binary);
  gltf << json;
  std::ofstream bin(folder + "/" + name + ".bin", std::ios::binary);
  bin.write(reinterpret_cast<const char*>(buffer.bytes.data()), static_cast<std::streamsize>(buffer.bytes.size()));
  return gltf && bin ? path : std::string();
}

std::vector<float> Floats(const std::vector<Vec3>& points) {
  std::vector<float> out;
  for (const Vec3& p : points) out.insert(out.end(), {p.x, p.y, p.z});
  return out;
}

std::vector<uint32_t> Indices(const std::vector<Face>& faces) {
  std::vector<uint32_t> out;
  for (const Face& f : faces)
    out.insert(out.end(), {static_cast<uint32_t>(f.index0), static_cast<uint32_t>(f.index1),
                           static_cast<uint32_t>(f.index2)});
  return out;
}

}  // namespace

std::string WriteSlidingGltf(const std::string& folder, const std::string& name,
                             const std::vector<Vec3>& stillVertices, const std::vector<Face>& stillFaces,
                             const std::vector<Vec3>& movingVertices, const std::vector<Face>& movingFaces,
                             const std::vector<float>& times, const std::vector<Vec3>& translations) {
  Buffer buffer;
  const int p0 = buffer.Add(Floats(stillVertices), 5126, "VEC3", 3);
  const int i0 = buffer.Add(Indices(stillFaces), 5125, "SCALAR", 1);
  const int p1 = buffer.Add(Floats(movingVertices), 5126, "VEC3", 3);
  const int i1 = buffer.Add(Indices(movingFaces), 5125, "SCALAR", 1);
  const int t = buffer.Add(times, 5126, "SCALAR", 1);
  const int v = buffer.Add(Floats(translations), 5126, "VEC3", 3);
  std::ostringstream json;
  json << "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0,1]}],"
       << "\"nodes\":[{\"name\":\"Still\",\"mesh\":0},{\"name\":\"Moving\",\"mesh\":1}],"
       << "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":" << p0 << "},\"indices\":" << i0
       << "}]},{\"primitives\":[{\"attributes\":{\"POSITION\":" << p1 << "},\"indices\":" << i1 << "}]}],"
       << "\"animations\":[{\"name\":\"Slide\",\"channels\":[{\"sampler\":0,\"target\":{\"node\":1,"
       << "\"path\":\"translation\"}}],\"samplers\":[{\"input\":" << t << ",\"output\":" << v
       << ",\"interpolation\":\"LINEAR\"}]}],"
       << "\"buffers\":[{\"uri\":\"" << name << ".bin\",\"byteLength\":" << buffer.bytes.size() << "}],"
       << "\"bufferViews\":[" << buffer.views.str() << "],\"accessors\":[" << buffer.accessors.str()
       << "]}";
  return WriteFiles(folder, name, json.str(), buffer);
}

std::string WriteSkinnedGltf(const std::string& folder, const std::string& name,
                             SkinnedGltfFlaw flaw) {
  // Five rows of two vertices, y = 0 .. 2, x = -0.5 and 0.5, z leaning with y.
  std::vector<float> positions;
  for (int row = 0; row < 5; ++row)
    for (float x : {-0.5f, 0.5f}) positions.insert(positions.end(), {x, row * 0.5f, 0.1f * row});
  std::vector<uint16_t> indices;
  for (uint16_t row = 0; row < 4; ++row) {
    const uint16_t a = 2 * row;
    indices.insert(indices.end(), {a, uint16_t(a + 1), uint16_t(a + 3), a, uint16_t(a + 3), uint16_t(a + 2)});
  }
  // Joints 0 Hip, 1 Knee, 2 Toe.
  std::vector<uint8_t> joints = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0,
                                 1, 2, 0, 0, 1, 2, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
  std::vector<float> weights = {0.9f, 0, 0, 0, 1, 0, 0, 0, 0.6f, 0.7f, 0, 0, 0.5f, 0.5f, 0, 0,
                                1, 0, 0, 0, 0.5f, 0.5f, 0, 0, 0.3f, 0.7f, 0, 0, 1, 0, 0, 0,
                                1, 0, 0, 0, 0, 0, 0, 0};
  if (flaw == SkinnedGltfFlaw::kHeavyWeights) weights[12] = 2.0f;  // 2.0 + 0.5
  // Bind pose: the mesh node at (0.25, 0, 0); Hip at its origin, Knee 1 up,
  // Toe 2 up; inverse binds undo those (column-major 4 x 4).
  std::vector<float> inverseBinds;
  for (float up : {0.0f, 1.0f, 2.0f})
    inverseBinds.insert(inverseBinds.end(), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -0.25f, -up, 0, 1});
  if (flaw == SkinnedGltfFlaw::kNanInverseBind) inverseBinds[16 + 5] = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> hipTimes = {0.5f, 1.5f}, hipMoves = {0, 0, 0, 0.3f, -0.2f, 0.4f};
  std::vector<float> kneeTimes = {0, 1, 2};
  if (flaw == SkinnedGltfFlaw::kKeysOutOfOrder) kneeTimes = {0, 2, 1};
  if (flaw == SkinnedGltfFlaw::kEqualKeyTimes) kneeTimes = {0, 0, 2};
  const float s90 = std::sqrt(0.5f), s170 = std::sin(85 * 3.14159265f / 180), c170 = std::cos(85 * 3.14159265f / 180);
  std::vector<float> kneeTurns = {0, 0, 0, 1, 0, 0, s90, s90, 0, 0, -s170, -c170};  // x y z w
  std::vector<float> toeTimes = {0, 2}, toeScales = {1, 1, 1, 2, 0.5f, 1};

  Buffer buffer;
  const int pos = buffer.Add(positions, 5126, "VEC3", 3);
  const int idx = buffer.Add(indices, 5123, "SCALAR", 1);
  const int jnt = buffer.Add(joints, 5121, "VEC4", 4);
  const int wgt = buffer.Add(weights, 5126, "VEC4", 4);
  const int ibm = buffer.Add(inverseBinds, 5126, "MAT4", 16);
  const int t0 = buffer.Add(hipTimes, 5126, "SCALAR", 1);
  const int v0 = buffer.Add(hipMoves, 5126, "VEC3", 3);
  const int t1 = buffer.Add(kneeTimes, 5126, "SCALAR", 1);
  const int v1 = buffer.Add(kneeTurns, 5126, "VEC4", 4);
  const int t2 = buffer.Add(toeTimes, 5126, "SCALAR", 1);
  const int v2 = buffer.Add(toeScales, 5126, "VEC3", 3);

  std::ostringstream json;
  json << "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],"
       << "\"nodes\":[{\"name\":\"Body\",\"mesh\":0,\"skin\":0,\"translation\":[0.25,0,0],"
       << "\"children\":[1]},"
       << "{\"name\":\"Hip\",\"children\":[2]},"
       << "{\"name\":\"Knee\",\"translation\":[0,1,0],\"children\":[3]},"
       << "{\"name\":\"Toe\",\"translation\":[0,1,0]}],"
       << "\"meshes\":[{\"name\":\"Strip\",\"primitives\":[{\"attributes\":{\"POSITION\":" << pos
       << ",\"JOINTS_0\":" << jnt << ",\"WEIGHTS_0\":" << wgt << "},\"indices\":" << idx << "}]}],"
       << "\"skins\":[{\"inverseBindMatrices\":" << ibm << ",\"joints\":[1,2,3]}],"
       << "\"animations\":[{\"name\":\"Bend\",\"channels\":["
       << "{\"sampler\":0,\"target\":{\"node\":1,\"path\":\"translation\"}},"
       << "{\"sampler\":1,\"target\":{\"node\":2,\"path\":\"rotation\"}},"
       << "{\"sampler\":2,\"target\":{\"node\":3,\"path\":\"scale\"}}],\"samplers\":["
       << "{\"input\":" << t0 << ",\"output\":" << v0 << ",\"interpolation\":\"LINEAR\"},"
       << "{\"input\":" << t1 << ",\"output\":" << v1 << ",\"interpolation\":\"LINEAR\"},"
       << "{\"input\":" << t2 << ",\"output\":" << v2 << ",\"interpolation\":\"LINEAR\"}]}],"
       << "\"buffers\":[{\"uri\":\"" << name << ".bin\",\"byteLength\":" << buffer.bytes.size() << "}],"
       << "\"bufferViews\":[" << buffer.views.str() << "],\"accessors\":[" << buffer.accessors.str()
       << "]}";
  return WriteFiles(folder, name, json.str(), buffer);
}

std::string WriteSlidingBoxGltf(const std::string& folder, const std::string& name) {
  TestMesh wall, box;
  AddWall(wall, TestWall{});
  AddBox(box, Vec3{-10, -10, 0}, Vec3{5, 5, 15});
  return WriteSlidingGltf(folder, name, wall.vertices, wall.faces, box.vertices, box.faces, {0.0f, 2.0f},
                          {Vec3{-15, -5, 0}, Vec3{25, 15, 10}});
}

std::string WriteSkinnedMeshGltf(const std::string& folder, const std::string& name,
                                 const SkinnedMeshLayout& layout) {
  Buffer buffer;
  std::vector<uint8_t> joints;
  std::vector<float> weights, turns;
  for (const auto& j : layout.joints) joints.insert(joints.end(), j.begin(), j.end());
  for (const auto& w : layout.weights) weights.insert(weights.end(), w.begin(), w.end());
  std::vector<float> identities;
  for (int b = 0; b < layout.boneCount; ++b)
    identities.insert(identities.end(), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
  const int pos = buffer.Add(Floats(layout.vertices), 5126, "VEC3", 3);
  const int idx = buffer.Add(Indices(layout.faces), 5125, "SCALAR", 1);
  const int jnt = buffer.Add(joints, 5121, "VEC4", 4);
  const int wgt = buffer.Add(weights, 5126, "VEC4", 4);
  const int ibm = buffer.Add(identities, 5126, "MAT4", 16);
  const int time = buffer.Add(layout.times, 5126, "SCALAR", 1);
  const int slide = buffer.Add(Floats(layout.rootTranslations), 5126, "VEC3", 3);
  std::ostringstream meshes, nodes, jointList, channels, samplers;
  meshes << "{\"name\":\"Skinned\",\"primitives\":[{\"attributes\":{\"POSITION\":" << pos
         << ",\"JOINTS_0\":" << jnt << ",\"WEIGHTS_0\":" << wgt << "},\"indices\":" << idx << "}]}";
  nodes << "{\"name\":\"Body\",\"mesh\":0,\"skin\":0},{\"name\":\"Root\",\"children\":[";
  channels << "{\"sampler\":0,\"target\":{\"node\":1,\"path\":\"translation\"}}";
  samplers << "{\"input\":" << time << ",\"output\":" << slide << ",\"interpolation\":\"LINEAR\"}";
  for (int b = 0; b < layout.boneCount; ++b) {
    const char* comma = b > 0 ? "," : "";
    nodes << comma << 2 + b;
    jointList << comma << 2 + b;
    turns.clear();
    for (const auto& q : layout.boneTurns[b]) turns.insert(turns.end(), q.begin(), q.end());
    channels << ",{\"sampler\":" << 1 + b << ",\"target\":{\"node\":" << 2 + b
             << ",\"path\":\"rotation\"}}";
    samplers << ",{\"input\":" << time << ",\"output\":" << buffer.Add(turns, 5126, "VEC4", 4)
             << ",\"interpolation\":\"LINEAR\"}";
  }
  nodes << "]}";
  for (int b = 0; b < layout.boneCount; ++b) nodes << ",{\"name\":\"Bone" << b << "\"}";
  std::string sceneNodes = "0,1";
  if (!layout.stillVertices.empty()) {
    const int still = buffer.Add(Floats(layout.stillVertices), 5126, "VEC3", 3);
    const int stillIdx = buffer.Add(Indices(layout.stillFaces), 5125, "SCALAR", 1);
    meshes << ",{\"name\":\"Still\",\"primitives\":[{\"attributes\":{\"POSITION\":" << still
           << "},\"indices\":" << stillIdx << "}]}";
    nodes << ",{\"name\":\"Still\",\"mesh\":1}";
    sceneNodes += "," + std::to_string(2 + layout.boneCount);
  }
  std::ostringstream json;
  json << "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[" << sceneNodes
       << "]}],\"nodes\":[" << nodes.str() << "],\"meshes\":[" << meshes.str() << "],"
       << "\"skins\":[{\"inverseBindMatrices\":" << ibm << ",\"joints\":[" << jointList.str() << "]}],"
       << "\"animations\":[{\"name\":\"Move\",\"channels\":[" << channels.str()
       << "],\"samplers\":[" << samplers.str() << "]}],"
       << "\"buffers\":[{\"uri\":\"" << name << ".bin\",\"byteLength\":" << buffer.bytes.size() << "}],"
       << "\"bufferViews\":[" << buffer.views.str() << "],\"accessors\":[" << buffer.accessors.str()
       << "]}";
  return WriteFiles(folder, name, json.str(), buffer);
}
