// The 3DS keyframer's object placement: where the file's object nodes put
// each mesh at frame 0, as lib3ds and assimp place it.
//
// A 3DS mesh stores its vertices as they were when the file was written,
// with the matrix they were written under (chunk 4160). The keyframer's
// nodes form a hierarchy by parent id; an object's node (chunk B002) holds a
// pivot and position, rotation and scale keys, and the nodes of cameras,
// lights and targets, which can be parents too, a position. An object named
// by a node is drawn at
//   world = parent chain of (T(position) R(rotation) S(scale)) x T(-pivot)
//           x inverse(4160) x vertex,
// with the keys of the earliest frame. For a mesh whose 4160 matrix mirrors
// (negative determinant), x is negated after the inverse, as assimp does.
//
// Only the keyframer chunk itself is read here, through a reader bounded by
// that chunk: any chunk that runs past its parent, any data that runs past
// its chunk, a parent chain that loops, or a placement that is not finite
// makes the whole section unusable, and every object is then drawn where its
// vertices lie, with the problem kept for one warning line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/scene.h"

// One key of a track.
struct KeyframerKey {
  int32_t frame = 0;
  float value[4] = {0, 0, 0, 0};
};

// One node of the keyframer section (chunks B001..B007), as read: an
// object's node (B002) in full; of the others (cameras, lights, targets),
// which can be parents, only the header, id and position.
struct KeyframerNode {
  bool object = false;         // an object's node (B002)
  uint64_t offset = 0;         // the node chunk's position in the file
  uint16_t id = 0;             // chunk B030, else its index among the section's nodes
  uint16_t parentId = 0xFFFF;  // from chunk B010; 0xFFFF: no parent
  char name[kNameSize] = {};   // from chunk B010, NUL-terminated
  float pivot[3] = {0, 0, 0};
  float position[3] = {0, 0, 0};     // the earliest position key; 0 without one
  float rotation[4] = {0, 1, 0, 0};  // the earliest key: angle (radians), axis x y z; 0 angle
                                     // without one
  float scale[3] = {1, 1, 1};        // the earliest scale key; 1 without one
  // Every key of each track in file order: frame, then the values (x y z,
  // or angle x y z for rotations, each relative to the key before it).
  std::vector<KeyframerKey> positionKeys;
  std::vector<KeyframerKey> rotationKeys;  // object nodes only
  std::vector<KeyframerKey> scaleKeys;     // object nodes only
};

// The keyframer section as read, or why it cannot be used.
struct Keyframer {
  bool present = false;              // the file has a keyframer chunk (B000)
  std::vector<KeyframerNode> nodes;  // its nodes in file order
  bool hasRange = false;             // chunk B008 gave the frame range
  uint32_t rangeStart = 0;           // first frame of the animation
  uint32_t rangeEnd = 0;             // last frame
  uint64_t problemOffset = 0;        // the chunk at fault, when problem is set
  uint16_t problemChunk = 0;         // its id
  std::string problem;               // why the section is not used; empty when it is
};

// Reads the keyframer chunk that starts at `chunkStart` in the file's bytes
// (its header included; `chunkEnd` as its header states) into `keyframer`.
// Never reads outside [0, size) nor, for a sub-chunk, outside its parent.
// A second keyframer chunk in a file is a problem too.
void ReadKeyframer(const uint8_t* data, size_t size, uint64_t chunkStart, uint64_t chunkEnd,
                   Keyframer* keyframer);

// Fills each object's placement from the nodes that name it (the first
// node of a name places the first object of that name). An object no node
// names, and every object when the section has a problem, stays unplaced;
// so does an object whose placement is the identity to float precision,
// which keeps a file whose keys agree with its meshes' matrices drawn from
// its own vertices, bit for bit. Records a problem found here (a parent
// chain that loops, a placement that is not finite) in `keyframer`.
void PlaceObjects(Keyframer* keyframer, Scene* scene);

// The matrix that takes `object`'s stored vertices into the space of the
// node that names it: T(-pivot) x inverse(4160), x negated after the
// inverse for a mirroring matrix; row by row, 3 x 4 (model/animation.h's
// Matrix34). False when the 4160 matrix has no inverse.
bool NodeSpaceMatrix(const MeshObject& object, const float pivot[3], float out[12]);

// The rig that plays the tracks over the frame range (model/animation.h),
// checked against the file's `fileSize`: a time in ticks is a frame after
// the range's first (25 a second, as assimp plays a 3DS file), and the clip
// lasts the range (the last key's frame without one). Nodes are ordered
// parents first; an object moves as `world x T(-pivot) x inverse(4160)`,
// as PlaceObjects places it. Null when no track has two keys, or the
// section has a problem.
std::shared_ptr<Rig> KeyframerRig(const Keyframer& keyframer, const Scene& scene,
                                  uint64_t fileSize);

// The vertex `v` of `object` where its placement puts it; `v` itself when
// the object is unplaced.
Vec3 PlacedVertex(const MeshObject& object, const Vec3& v);
