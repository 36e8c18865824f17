// Reading the keyframer's object nodes and placing the objects they name.
// The section is read through ByteReaders that end where the chunk being
// read ends (PastEnd::kFail), so no read leaves it; the math is in double
// precision and only its result is rounded to float.
#include "model/keyframer.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "io/byte_reader.h"
#include "model/chunk_ids.h"

namespace {

constexpr size_t kMaxNodes = 65536;  // node ids are 16-bit
constexpr char kDummyName[] = "$$$DUMMY";

// v' = m v + t.
struct Affine {
  double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double t[3] = {0, 0, 0};
};

Affine Multiply(const Affine& a, const Affine& b) {
  Affine out;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      out.m[r][c] = a.m[r][0] * b.m[0][c] + a.m[r][1] * b.m[1][c] + a.m[r][2] * b.m[2][c];
    out.t[r] = a.m[r][0] * b.t[0] + a.m[r][1] * b.t[1] + a.m[r][2] * b.t[2] + a.t[r];
  }
  return out;
}

Affine Translation(double x, double y, double z) {
  Affine out;
  out.t[0] = x;
  out.t[1] = y;
  out.t[2] = z;
  return out;
}

// A rotation key turns by -angle about its axis (lib3ds and assimp both take
// the key's angle with this sign); an axis of no length turns nothing.
Affine Rotation(const float key[4]) {
  Affine out;
  const double length =
      std::sqrt(double{key[1]} * key[1] + double{key[2]} * key[2] + double{key[3]} * key[3]);
  if (!(length > 1e-8)) return out;
  const double half = -0.5 * key[0];
  const double s = std::sin(half) / length;
  const double x = key[1] * s, y = key[2] * s, z = key[3] * s, w = std::cos(half);
  out.m[0][0] = 1 - 2 * (y * y + z * z);
  out.m[0][1] = 2 * (x * y - w * z);
  out.m[0][2] = 2 * (x * z + w * y);
  out.m[1][0] = 2 * (x * y + w * z);
  out.m[1][1] = 1 - 2 * (x * x + z * z);
  out.m[1][2] = 2 * (y * z - w * x);
  out.m[2][0] = 2 * (x * z - w * y);
  out.m[2][1] = 2 * (y * z + w * x);
  out.m[2][2] = 1 - 2 * (x * x + y * y);
  return out;
}

Affine Scaling(const float s[3]) {
  Affine out;
  for (int i = 0; i < 3; ++i) out.m[i][i] = s[i];
  return out;
}

double Determinant(const Affine& a) {
  const auto& m = a.m;
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
         m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// False for a matrix with no inverse.
bool Invert(const Affine& a, Affine* out) {
  const double det = Determinant(a);
  if (!std::isfinite(det) || std::fabs(det) < 1e-12) return false;
  const auto& m = a.m;
  out->m[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
  out->m[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
  out->m[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
  out->m[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
  out->m[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
  out->m[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
  out->m[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
  out->m[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
  out->m[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
  for (int r = 0; r < 3; ++r)
    out->t[r] = -(out->m[r][0] * a.t[0] + out->m[r][1] * a.t[1] + out->m[r][2] * a.t[2]);
  return true;
}

// The mesh's 4160 matrix as read (MeshObject::localMatrix); a mesh without
// one (all zero) counts as written under the identity, as lib3ds and assimp
// take it.
Affine MeshMatrix(const MeshObject& object) {
  Affine out;
  bool any = false;
  for (float value : object.localMatrix) any = any || value != 0;
  if (!any) return out;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) out.m[r][c] = object.localMatrix[3 * r + c];
    out.t[r] = object.localMatrix[9 + r];
  }
  return out;
}

// True when `a` moves no vertex by more than float round-off would: its
// matrix within 1e-5 of the identity, its translation within 1e-5 of the
// sizes that went into it.
bool NearIdentity(const Affine& a, double size) {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      if (!(std::fabs(a.m[r][c] - (r == c ? 1.0 : 0.0)) <= 1e-5)) return false;
    if (!(std::fabs(a.t[r]) <= 1e-5 * size)) return false;
  }
  return true;
}

double LargestTranslation(const Affine& a) {
  return std::fmax(std::fabs(a.t[0]), std::fmax(std::fabs(a.t[1]), std::fabs(a.t[2])));
}

void SetProblem(Keyframer* keyframer, uint64_t offset, uint16_t chunk, const std::string& why) {
  if (!keyframer->problem.empty()) return;  // the first one is the one said
  keyframer->problemOffset = offset;
  keyframer->problemChunk = chunk;
  keyframer->problem = why;
}

// One chunk inside [.., parentEnd): its header read at the reader's cursor.
struct ChildChunk {
  uint64_t start;
  uint16_t id;
  uint64_t end;
};

// Reads the next child's header; false, with the problem set, when the
// header or the child's stated length does not fit inside its parent.
bool NextChild(ByteReader& reader, uint64_t parentEnd, uint16_t parentId, uint64_t parentStart,
               Keyframer* keyframer, ChildChunk* child) {
  child->start = reader.pos;
  uint32_t length = 0;
  if (!reader.ReadU16(&child->id) || !reader.ReadU32(&length)) {
    SetProblem(keyframer, parentStart, parentId, "a chunk header is cut off at its end");
    return false;
  }
  child->end = child->start + length;
  if (length < 6 || child->end > parentEnd) {
    SetProblem(keyframer, child->start, child->id,
               length < 6 ? "its length is shorter than its header"
                          : "it runs past the end of the chunk that holds it");
    return false;
  }
  return true;
}

// A reader over one chunk's data: it ends where the chunk ends.
ByteReader ChunkData(const uint8_t* data, const ChildChunk& chunk) {
  ByteReader reader{data, static_cast<size_t>(chunk.end), PastEnd::kFail};
  reader.Seek(chunk.start + 6);
  return reader;
}

// A track: flags, 8 bytes, a key count, then per key its frame, spline
// flags (each of the low five bits adds one float) and `count` values. Keeps
// every key in `keys`, and the values of the key with the earliest frame
// (the first of equal ones) in `values`. Each key kept was read from at
// least 6 bytes of the chunk, so what is kept is bounded by the file.
bool ReadTrack(ByteReader& reader, int count, float* values, std::vector<KeyframerKey>* keys) {
  uint16_t flags;
  uint32_t unused, keyCount;
  if (!reader.ReadU16(&flags) || !reader.ReadU32(&unused) || !reader.ReadU32(&unused) ||
      !reader.ReadU32(&keyCount))
    return false;
  bool first = true;
  int32_t earliest = 0;
  for (uint32_t k = 0; k < keyCount; ++k) {
    uint32_t frameBits;
    uint16_t spline;
    if (!reader.ReadU32(&frameBits) || !reader.ReadU16(&spline)) return false;
    for (int bit = 0; bit < 5; ++bit) {
      float ignored;
      if ((spline >> bit & 1) && !reader.ReadF32(&ignored)) return false;
    }
    KeyframerKey key;
    key.frame = static_cast<int32_t>(frameBits);
    for (int i = 0; i < count; ++i)
      if (!reader.ReadF32(&key.value[i])) return false;
    if (first || key.frame < earliest) {
      std::memcpy(values, key.value, sizeof(float) * count);
      earliest = key.frame;
      first = false;
    }
    keys->push_back(key);
  }
  return true;
}

// The node header: name, two flag words, the parent's id.
bool ReadNodeHeader(ByteReader& reader, KeyframerNode* node) {
  char name[kNameSize] = {};
  for (int length = 0;; ++length) {
    uint8_t byte;
    if (!reader.ReadU8(&byte)) return false;  // no terminator inside the chunk
    if (byte == 0) break;
    if (length < kNameSize - 1) name[length] = static_cast<char>(byte);
  }
  std::memcpy(node->name, name, kNameSize);
  uint16_t flags1, flags2;
  return reader.ReadU16(&flags1) && reader.ReadU16(&flags2) && reader.ReadU16(&node->parentId);
}

// One node chunk; false with the problem set when it cannot be read. Of a
// node other than an object's (a camera, a light, a target) only what makes
// it a parent is kept, its position, as lib3ds keeps it.
bool ReadNode(const uint8_t* data, const ChildChunk& nodeChunk, uint16_t index,
              Keyframer* keyframer) {
  KeyframerNode node;
  node.offset = nodeChunk.start;
  node.id = index;
  node.object = nodeChunk.id == kChunkObjectNode;
  ByteReader reader = ChunkData(data, nodeChunk);
  while (reader.Remaining() > 0) {
    ChildChunk child;
    if (!NextChild(reader, nodeChunk.end, nodeChunk.id, nodeChunk.start, keyframer, &child))
      return false;
    ByteReader field = ChunkData(data, child);
    bool ok = true;
    switch (child.id) {
      case kChunkNodeHeader:
        ok = ReadNodeHeader(field, &node);
        break;
      case kChunkNodeId:
        ok = field.ReadU16(&node.id);
        break;
      case kChunkPositionTrack:
        ok = ReadTrack(field, 3, node.position, &node.positionKeys);
        break;
      case kChunkPivot:
        for (float& value : node.pivot) ok = ok && (!node.object || field.ReadF32(&value));
        break;
      case kChunkRotationTrack:
        ok = !node.object || ReadTrack(field, 4, node.rotation, &node.rotationKeys);
        break;
      case kChunkScaleTrack:
        ok = !node.object || ReadTrack(field, 3, node.scale, &node.scaleKeys);
        break;
      default:
        break;  // other tracks, the bounding box, the instance name: not needed
    }
    if (!ok) {
      SetProblem(keyframer, child.start, child.id, "its data runs past its end");
      return false;
    }
    reader.Seek(child.end);
  }
  keyframer->nodes.push_back(node);
  return true;
}

// The node tags: each is one node of the hierarchy, whose index is its id
// when it has no id chunk.
bool IsNodeTag(uint16_t id) {
  return id >= kChunkAmbientNode && id <= kChunkSpotNode;
}

}  // namespace

void ReadKeyframer(const uint8_t* data, size_t size, uint64_t chunkStart, uint64_t chunkEnd,
                   Keyframer* keyframer) {
  const bool second = keyframer->present;
  keyframer->present = true;
  if (!keyframer->problem.empty()) return;
  if (second) {
    SetProblem(keyframer, chunkStart, kChunkKeyframer, "the file has a second keyframer section");
    return;
  }
  if (chunkEnd > size) {
    SetProblem(keyframer, chunkStart, kChunkKeyframer, "the file ends inside it");
    return;
  }
  const ChildChunk section{chunkStart, kChunkKeyframer, chunkEnd};
  ByteReader reader = ChunkData(data, section);
  size_t nodeTags = 0;
  while (reader.Remaining() > 0) {
    ChildChunk child;
    if (!NextChild(reader, chunkEnd, kChunkKeyframer, chunkStart, keyframer, &child)) return;
    if (IsNodeTag(child.id)) {
      if (nodeTags == kMaxNodes) {
        SetProblem(keyframer, child.start, child.id, "more than 65536 nodes");
        return;
      }
      if (!ReadNode(data, child, static_cast<uint16_t>(nodeTags), keyframer)) return;
      ++nodeTags;
    } else if (child.id == kChunkFrameRange) {
      ByteReader field = ChunkData(data, child);
      if (!field.ReadU32(&keyframer->rangeStart) || !field.ReadU32(&keyframer->rangeEnd)) {
        SetProblem(keyframer, child.start, child.id, "its data runs past its end");
        return;
      }
      keyframer->hasRange = true;
    }
    reader.Seek(child.end);
  }
}

void PlaceObjects(Keyframer* keyframer, Scene* scene) {
  if (!keyframer->problem.empty() || keyframer->nodes.empty()) return;
  const std::vector<KeyframerNode>& nodes = keyframer->nodes;
  const size_t count = nodes.size();

  // Parents by id (the first node of an id); a parent id no node has leaves
  // the node at the top, as lib3ds does.
  std::vector<int32_t> nodeOfId(kMaxNodes, -1);
  for (size_t i = 0; i < count; ++i)
    if (nodeOfId[nodes[i].id] < 0) nodeOfId[nodes[i].id] = static_cast<int32_t>(i);
  std::vector<int32_t> parent(count, -1);
  for (size_t i = 0; i < count; ++i)
    if (nodes[i].parentId != 0xFFFF) parent[i] = nodeOfId[nodes[i].parentId];

  // World transforms, each parent before its children: a node's chain is
  // walked up to a node already done, and a chain that comes back to a node
  // on it loops.
  enum : uint8_t { kNotDone, kOnChain, kDone };
  std::vector<uint8_t> state(count, kNotDone);
  std::vector<Affine> world(count);
  std::vector<int32_t> chain;
  for (size_t i = 0; i < count; ++i) {
    chain.clear();
    for (int32_t n = static_cast<int32_t>(i); n >= 0 && state[n] != kDone; n = parent[n]) {
      if (state[n] == kOnChain) {
        SetProblem(keyframer, nodes[n].offset, kChunkObjectNode,
                   "its parent chain comes back to itself");
        return;
      }
      state[n] = kOnChain;
      chain.push_back(n);
    }
    for (size_t k = chain.size(); k-- > 0;) {
      const int32_t n = chain[k];
      const KeyframerNode& node = nodes[n];
      const Affine local =
          Multiply(Multiply(Translation(node.position[0], node.position[1], node.position[2]),
                            Rotation(node.rotation)),
                   Scaling(node.scale));
      world[n] = parent[n] >= 0 ? Multiply(world[parent[n]], local) : local;
      state[n] = kDone;
    }
  }

  // Each node places the objects of its name that no earlier node placed
  // (found through a table of names, so many nodes cost no more than a few).
  std::unordered_map<std::string, std::vector<int>> objectsNamed;
  for (int o = 0; o < scene->objectCount; ++o) {
    const char* name = scene->objects[o]->name;
    objectsNamed[std::string(name, strnlen(name, kNameSize))].push_back(o);
  }
  std::vector<Affine> placement(scene->objectCount);
  std::vector<bool> placed(scene->objectCount, false);
  for (size_t i = 0; i < count; ++i) {
    const KeyframerNode& node = nodes[i];
    if (!node.object || std::strcmp(node.name, kDummyName) == 0) continue;
    const auto named = objectsNamed.find(node.name);
    if (named == objectsNamed.end()) continue;
    std::vector<int> objects;
    objects.swap(named->second);  // taken: a later node of the same name finds none
    for (int o : objects) {
      const MeshObject& object = *scene->objects[o];
      const Affine mesh = MeshMatrix(object);
      Affine inverse;
      if (!Invert(mesh, &inverse)) continue;  // no way back to the node's space: left as it is
      if (Determinant(mesh) < 0) {            // assimp's mirror: x negated after the inverse
        for (double& value : inverse.m[0]) value = -value;
        inverse.t[0] = -inverse.t[0];
      }
      const Affine full = Multiply(
          Multiply(world[i], Translation(-node.pivot[0], -node.pivot[1], -node.pivot[2])), inverse);
      bool finite = true;
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) finite = finite && std::isfinite(full.m[r][c]);
        finite = finite && std::isfinite(full.t[r]);
      }
      if (!finite) {
        SetProblem(keyframer, node.offset, kChunkObjectNode, "its placement is not finite");
        return;
      }
      const double size = 1 + std::fmax(LargestTranslation(mesh), LargestTranslation(world[i])) +
                          std::fabs(node.pivot[0]) + std::fabs(node.pivot[1]) +
                          std::fabs(node.pivot[2]);
      if (NearIdentity(full, size)) continue;
      placement[o] = full;
      placed[o] = true;
    }
  }
  for (int o = 0; o < scene->objectCount; ++o) {
    MeshObject& object = *scene->objects[o];
    object.placed = placed[o];
    if (!placed[o]) continue;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c)
        object.placement[3 * r + c] = static_cast<float>(placement[o].m[r][c]);
      object.placement[9 + r] = static_cast<float>(placement[o].t[r]);
    }
  }
}

Vec3 PlacedVertex(const MeshObject& object, const Vec3& v) {
  if (!object.placed) return v;
  const float* p = object.placement;
  // In double, as the placement was made: a float sum would round differently.
  const double x = v.x, y = v.y, z = v.z;
  return Vec3{static_cast<float>(p[0] * x + p[1] * y + p[2] * z + p[9]),
              static_cast<float>(p[3] * x + p[4] * y + p[5] * z + p[10]),
              static_cast<float>(p[6] * x + p[7] * y + p[8] * z + p[11])};
}

bool NodeSpaceMatrix(const MeshObject& object, const float pivot[3], float out[12]) {
  const Affine mesh = MeshMatrix(object);
  Affine inverse;
  if (!Invert(mesh, &inverse)) return false;
  if (Determinant(mesh) < 0) {
    for (double& value : inverse.m[0]) value = -value;
    inverse.t[0] = -inverse.t[0];
  }
  const Affine full = Multiply(Translation(-pivot[0], -pivot[1], -pivot[2]), inverse);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) out[4 * r + c] = static_cast<float>(full.m[r][c]);
    out[4 * r + 3] = static_cast<float>(full.t[r]);
  }
  return true;
}
