// The keyframer's tracks as a rig (model/animation.h). Rotation keys in a
// 3DS file are each relative to the key before them: the rig's keys are the
// running products, as lib3ds and assimp take them. Position and scale keys
// are absolute. The node tree is the section's, ordered parents first.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "model/animation.h"
#include "model/keyframer.h"

namespace {

constexpr char kDummyName[] = "$$$DUMMY";

// A key's turn: -angle about its axis (the sign the placement uses); an
// axis of no length turns nothing.
Quaternion KeyRotation(const float key[4]) {
  const double length =
      std::sqrt(double{key[1]} * key[1] + double{key[2]} * key[2] + double{key[3]} * key[3]);
  if (!(length > 1e-8)) return Quaternion();
  const double half = -0.5 * key[0];
  const double s = std::sin(half) / length;
  return Quaternion{static_cast<float>(std::cos(half)), static_cast<float>(key[1] * s),
                    static_cast<float>(key[2] * s), static_cast<float>(key[3] * s)};
}

// a x b, normalised.
Quaternion Product(const Quaternion& a, const Quaternion& b) {
  const double w = double{a.w} * b.w - double{a.x} * b.x - double{a.y} * b.y - double{a.z} * b.z;
  const double x = double{a.w} * b.x + double{a.x} * b.w + double{a.y} * b.z - double{a.z} * b.y;
  const double y = double{a.w} * b.y - double{a.x} * b.z + double{a.y} * b.w + double{a.z} * b.x;
  const double z = double{a.w} * b.z + double{a.x} * b.y - double{a.y} * b.x + double{a.z} * b.w;
  const double n = std::sqrt(w * w + x * x + y * y + z * z);
  if (!(n > 0)) return Quaternion();
  return Quaternion{static_cast<float>(w / n), static_cast<float>(x / n), static_cast<float>(y / n),
                    static_cast<float>(z / n)};
}

Vec3 KeyVector(const KeyframerKey& key) { return Vec3{key.value[0], key.value[1], key.value[2]}; }

bool Moves(const KeyframerNode& node) {
  return node.positionKeys.size() > 1 || node.rotationKeys.size() > 1 || node.scaleKeys.size() > 1;
}

// The node's channel: times are frames after `start`.
NodeChannel Channel(const KeyframerNode& node, int32_t rigIndex, double start) {
  NodeChannel channel;
  channel.node = rigIndex;
  channel.nodeName = node.name;
  for (const KeyframerKey& key : node.positionKeys)
    channel.positions.push_back(VectorKey{key.frame - start, KeyVector(key)});
  for (const KeyframerKey& key : node.scaleKeys)
    channel.scales.push_back(VectorKey{key.frame - start, KeyVector(key)});
  Quaternion running;
  for (size_t k = 0; k < node.rotationKeys.size(); ++k) {
    const Quaternion turn = KeyRotation(node.rotationKeys[k].value);
    running = k == 0 ? turn : Product(running, turn);
    channel.rotations.push_back(RotationKey{node.rotationKeys[k].frame - start, running});
  }
  return channel;
}

}  // namespace

std::shared_ptr<Rig> KeyframerRig(const Keyframer& keyframer, const Scene& scene,
                                  uint64_t fileSize) {
  if (!keyframer.problem.empty()) return nullptr;
  const std::vector<KeyframerNode>& nodes = keyframer.nodes;
  if (std::none_of(nodes.begin(), nodes.end(), Moves)) return nullptr;
  const size_t count = nodes.size();

  // Parents as PlaceObjects finds them (the first node of an id); the
  // section has no loop, or it would have a problem.
  std::unordered_map<uint16_t, int32_t> nodeOfId;
  for (size_t i = 0; i < count; ++i) nodeOfId.emplace(nodes[i].id, static_cast<int32_t>(i));
  std::vector<int32_t> parent(count, -1);
  for (size_t i = 0; i < count; ++i) {
    const auto found = nodes[i].parentId == 0xFFFF ? nodeOfId.end() : nodeOfId.find(nodes[i].parentId);
    if (found != nodeOfId.end()) parent[i] = found->second;
  }
  std::vector<size_t> depth(count, 0);
  for (size_t i = 0; i < count; ++i) {
    size_t d = 0;
    for (int32_t n = parent[i]; n >= 0 && d <= count; n = parent[n]) ++d;
    if (d > count) return nullptr;  // a loop after all: no animation rather than a hang
    depth[i] = d;
  }
  std::vector<int32_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = static_cast<int32_t>(i);
  std::stable_sort(order.begin(), order.end(), [&depth](int32_t a, int32_t b) { return depth[a] < depth[b]; });
  std::vector<int32_t> rigIndex(count);
  for (size_t r = 0; r < count; ++r) rigIndex[order[r]] = static_cast<int32_t>(r);

  auto rig = std::make_shared<Rig>();
  const double start = keyframer.hasRange ? keyframer.rangeStart : 0;
  AnimClip clip;
  clip.name = "keyframer";
  clip.ticksPerSecond = 25;
  double lastFrame = 0;
  for (int32_t i : order) {
    const KeyframerNode& node = nodes[i];
    const Vec3 position{node.position[0], node.position[1], node.position[2]};
    const Vec3 scale{node.scale[0], node.scale[1], node.scale[2]};
    rig->nodes.push_back(AnimNode{parent[i] >= 0 ? rigIndex[parent[i]] : -1, node.name,
                                  ComposeMatrix(position, KeyRotation(node.rotation), scale)});
    if (Moves(node)) clip.channels.push_back(Channel(node, rigIndex[i], start));
    for (const auto* keys : {&node.positionKeys, &node.rotationKeys, &node.scaleKeys})
      for (const KeyframerKey& key : *keys) lastFrame = std::max(lastFrame, key.frame - start);
  }
  clip.duration = keyframer.hasRange ? static_cast<double>(keyframer.rangeEnd) - start : lastFrame;
  rig->clips.push_back(std::move(clip));

  // Each node moves the objects of its name that no earlier node took.
  std::unordered_map<std::string, std::vector<int>> objectsNamed;
  for (int o = 0; o < scene.objectCount; ++o) {
    const char* name = scene.objects[o]->name;
    objectsNamed[std::string(name, strnlen(name, kNameSize))].push_back(o);
  }
  for (size_t i = 0; i < count; ++i) {
    const KeyframerNode& node = nodes[i];
    if (!node.object || std::strcmp(node.name, kDummyName) == 0) continue;
    const auto named = objectsNamed.find(node.name);
    if (named == objectsNamed.end()) continue;
    std::vector<int> objects;
    objects.swap(named->second);
    for (int o : objects) {
      const MeshObject& object = *scene.objects[o];
      RigMesh mesh;
      if (!NodeSpaceMatrix(object, node.pivot, mesh.meshMatrix.m)) continue;
      mesh.object = o;
      mesh.node = rigIndex[i];
      mesh.bindPositions.assign(object.vertices, object.vertices + object.vertexCount);
      rig->meshes.push_back(std::move(mesh));
    }
  }
  CheckRig(scene, LimitsForFileSize(fileSize), rig.get());
  return rig;
}
