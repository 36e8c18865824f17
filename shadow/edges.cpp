// Edge adjacency. The neighbour of an edge is the first other face, in index
// order, holding both edge positions. Rather than scanning every face per
// edge, BuildEdgeList works in three short linear steps: every face slot gets
// the dense id of its position; one flat hash over the faces' edges (unordered
// pairs of position ids) keeps the first two faces holding each; every record
// then takes the first of those that is not its own face. Duplicate records
// are found with the same kind of hash over their two unordered index pairs.
// Memory: a few flat arrays proportional to the vertex and face counts, all
// released before returning.
#include "shadow/edges.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int32_t kRemoved = -2;
constexpr EdgeRecord kRemovedRecord{kRemoved, kRemoved, kRemoved, kRemoved};

bool SamePosition(const Vec3& a, const Vec3& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

// The first slot (0, 1, 2) that is neither of two found slots of a face.
int OffEdgeSlot(int startSlot, int endSlot) {
  int other = 0;
  while (other == startSlot || other == endSlot) ++other;
  return other;
}

uint64_t Mix64(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return x;
}

// A position under float32 equality (both zeros give the same bits) and its
// move group. Not-a-number never gets here (such a position equals nothing).
struct PositionKey {
  uint32_t x, y, z;
  int32_t group;
};

uint32_t CanonicalBits(float value) {
  if (value == 0.0f) return 0u;
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

PositionKey KeyOf(const Vec3& p, int32_t group) {
  return PositionKey{CanonicalBits(p.x), CanonicalBits(p.y), CanonicalBits(p.z), group};
}

bool operator==(const PositionKey& a, const PositionKey& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z && a.group == b.group;
}

uint64_t KeyHash(const PositionKey& k) {
  return Mix64((static_cast<uint64_t>(k.x) << 32 | k.y) ^
               Mix64(static_cast<uint64_t>(k.z) << 32 | static_cast<uint32_t>(k.group)));
}

// Two ints as an unordered pair: the same key in either order.
struct UnorderedPair {
  uint64_t bits;
};

UnorderedPair PairOf(int32_t a, int32_t b) {
  const uint32_t low = static_cast<uint32_t>(a < b ? a : b);
  const uint32_t high = static_cast<uint32_t>(a < b ? b : a);
  return UnorderedPair{static_cast<uint64_t>(low) << 32 | high};
}

bool operator==(const UnorderedPair& a, const UnorderedPair& b) {
  return a.bits == b.bits;
}

uint64_t KeyHash(const UnorderedPair& k) {
  return Mix64(k.bits);
}

// What makes two edge records duplicates: equal unordered {edgeStart, edgeEnd}
// and equal unordered {opposite, neighbourOpposite}.
struct RecordKey {
  UnorderedPair edge, sides;
};

bool operator==(const RecordKey& a, const RecordKey& b) {
  return a.edge == b.edge && a.sides == b.sides;
}

uint64_t KeyHash(const RecordKey& k) {
  return Mix64(k.edge.bits ^ Mix64(k.sides.bits));
}

// Dense ids of distinct keys, 0, 1, 2, ... in the order they are first met:
// open addressing with linear probing over a power of two of slots at least
// twice the number of keys it was made for (which must not be exceeded).
template <typename Key>
struct KeyIds {
  struct Slot {
    Key key;
    int32_t id;  // -1 when the slot is empty
  };
  std::vector<Slot> slots;
  int32_t count = 0;  // ids handed out

  explicit KeyIds(size_t maxKeys) {
    size_t capacity = 16;
    while (capacity < maxKeys * 2) capacity <<= 1;
    slots.assign(capacity, Slot{Key{}, -1});
  }

  // The id of key; a key not met before gets the next id and *added is true.
  int32_t Intern(const Key& key, bool* added) {
    const size_t mask = slots.size() - 1;
    size_t i = KeyHash(key) & mask;
    while (slots[i].id >= 0 && !(slots[i].key == key)) i = (i + 1) & mask;
    *added = slots[i].id < 0;
    if (*added) slots[i] = Slot{key, count++};
    return slots[i].id;
  }
};

// Step one: the position id of every face slot, slot k of face f at 3f + k.
// With move groups a position id stands for a position within one group;
// ids are handed out in vertex order either way, so that without groups
// (every vertex in group 0) they are those of positions alone.
struct SlotPositions {
  std::vector<int32_t> ofSlot;  // -1: index outside the mesh, or a not-a-number position
  int32_t count = 0;            // distinct positions
};

SlotPositions AssignSlotPositions(const MeshObject& object, int32_t faceCount,
                                  const int32_t* moveGroups) {
  const int32_t vertexCount = object.vertexCount > 0 ? object.vertexCount : 0;
  KeyIds<PositionKey> ids(static_cast<size_t>(vertexCount));
  std::vector<int32_t> ofVertex(static_cast<size_t>(vertexCount), -1);
  for (int32_t v = 0; v < vertexCount; ++v) {
    const Vec3& p = object.vertices[v];
    if (p.x != p.x || p.y != p.y || p.z != p.z) continue;
    bool added;
    ofVertex[v] = ids.Intern(KeyOf(p, moveGroups != nullptr ? moveGroups[v] : 0), &added);
  }
  SlotPositions positions;
  positions.count = ids.count;
  positions.ofSlot.reserve(3 * static_cast<size_t>(faceCount));
  for (int32_t f = 0; f < faceCount; ++f) {
    for (int32_t index : object.faces[f].Corners()) {
      positions.ofSlot.push_back(index >= 0 && index < vertexCount ? ofVertex[index] : -1);
    }
  }
  return positions;
}

// The first two faces, in index order, holding a position or an edge.
struct FirstTwoFaces {
  int32_t face[2] = {-1, -1};  // -1 when fewer faces hold it
};

// Adds face f unless already there; faces arrive in increasing order.
void AddHolder(FirstTwoFaces& holders, int32_t f) {
  if (holders.face[0] < 0) {
    holders.face[0] = f;
  } else if (holders.face[0] != f && holders.face[1] < 0) {
    holders.face[1] = f;
  }
}

// Step two: for every record, the first two faces holding both its edge
// positions. An edge whose two ends share a position is held by every face
// holding that position, so ids [0, positions.count) are positions and the
// distinct edges follow.
struct EdgeHolders {
  std::vector<FirstTwoFaces> ofId;  // per position, then per distinct edge
  std::vector<int32_t> idOfRecord;  // -1 when an edge end has no position
};

EdgeHolders CollectEdgeHolders(const SlotPositions& positions, int32_t faceCount) {
  const size_t total = 3 * static_cast<size_t>(faceCount);
  EdgeHolders holders;
  holders.ofId.reserve(static_cast<size_t>(positions.count) + total);
  holders.ofId.resize(static_cast<size_t>(positions.count));
  holders.idOfRecord.assign(total, -1);
  KeyIds<UnorderedPair> edgeIds(total);
  for (int32_t f = 0; f < faceCount; ++f) {
    const int32_t* ids = &positions.ofSlot[3 * static_cast<size_t>(f)];
    for (int k = 0; k < 3; ++k) {
      if (ids[k] >= 0) AddHolder(holders.ofId[ids[k]], f);
    }
    // A triangle's three edges are all its slot pairs, so every face holding
    // two distinct positions is entered under that pair here.
    for (int e = 0; e < 3; ++e) {
      const int32_t a = ids[e], b = ids[(e + 1) % 3];
      if (a < 0 || b < 0) continue;
      int32_t id = a;
      if (a != b) {
        bool added;
        id = positions.count + edgeIds.Intern(PairOf(a, b), &added);
        if (added) holders.ofId.emplace_back();
        AddHolder(holders.ofId[id], f);
      }
      holders.idOfRecord[3 * static_cast<size_t>(f) + e] = id;
    }
  }
  return holders;
}

// Step three: each record's neighbourOpposite, in the first other face holding
// both edge positions, at the first slot that is neither the last slot at the
// start position nor the last at the end position.
void ResolveNeighbours(const MeshObject& object, const SlotPositions& positions,
                       const EdgeHolders& holders, EdgeRecord* edges) {
  for (size_t record = 0; record < holders.idOfRecord.size(); ++record) {
    edges[record].neighbourOpposite = -1;
    if (holders.idOfRecord[record] < 0) continue;
    const int32_t f = static_cast<int32_t>(record / 3);
    const FirstTwoFaces& h = holders.ofId[holders.idOfRecord[record]];
    const int32_t j = h.face[0] != f ? h.face[0] : h.face[1];
    if (j < 0) continue;
    const int32_t start = positions.ofSlot[record];
    const int32_t end = positions.ofSlot[3 * static_cast<size_t>(f) + (record + 1) % 3];
    const int32_t* ids = &positions.ofSlot[3 * static_cast<size_t>(j)];
    int startSlot = 0, endSlot = 0;
    for (int k = 0; k < 3; ++k) {
      if (ids[k] == start) startSlot = k;
      if (ids[k] == end) endSlot = k;
    }
    edges[record].neighbourOpposite = object.faces[j].Corners()[OffEdgeSlot(startSlot, endSlot)];
  }
}

// Marks every record equal to an earlier one on both unordered pairs: that is
// an equivalence, so the first record of each class survives. Removal is kept
// apart from the field values so that a face naming vertex -2 is not mistaken
// for a hole. Returns the number removed.
size_t RemoveDuplicates(const EdgeRecord* edges, std::vector<uint8_t>& removed) {
  KeyIds<RecordKey> seen(removed.size());
  size_t count = 0;
  for (size_t r = 0; r < removed.size(); ++r) {
    const EdgeRecord& rec = edges[r];
    bool added;
    seen.Intern(RecordKey{PairOf(rec.edgeStart, rec.edgeEnd),
                          PairOf(rec.opposite, rec.neighbourOpposite)},
                &added);
    if (added) continue;
    removed[r] = 1;
    ++count;
  }
  return count;
}

// Each hole, front to back, takes the live record nearest the end; the
// `removedCount` records left at the end are then marked removed.
void FillHolesFromTheBack(EdgeRecord* edges, const std::vector<uint8_t>& removed,
                          size_t removedCount) {
  const size_t total = removed.size();
  if (total == 0) return;
  for (size_t k = 0, back = total - 1; k < back; ++k) {
    if (!removed[k]) continue;
    while (back > k && removed[back]) --back;
    if (back <= k) break;
    edges[k] = edges[back--];
  }
  std::fill(edges + (total - removedCount), edges + total, kRemovedRecord);
}

}  // namespace

int32_t FindNeighbourOpposite(Vec3 start, Vec3 end, int32_t skipFace, int32_t faceCount,
                              const Vec3* vertices, const Face* faces) {
  for (int32_t j = 0; j < faceCount; ++j) {
    if (j == skipFace) continue;
    const std::array<int32_t, 3> corners = faces[j].Corners();
    int startSlot = -1, endSlot = -1;
    for (int k = 0; k < 3; ++k) {
      if (SamePosition(vertices[corners[k]], start)) startSlot = k;
    }
    if (startSlot < 0) continue;
    for (int k = 0; k < 3; ++k) {
      if (SamePosition(vertices[corners[k]], end)) endSlot = k;
    }
    if (endSlot < 0) continue;
    return corners[OffEdgeSlot(startSlot, endSlot)];
  }
  return -1;
}

void BuildEdgeList(MeshObject* object, const int32_t* moveGroups) {
  if (object == nullptr) return;
  delete[] object->edges;
  object->edges = nullptr;
  object->edgeCount = 0;
  const int32_t faceCount = object->faceCount > 0 ? object->faceCount : 0;
  const size_t total = 3 * static_cast<size_t>(faceCount);
  // Owned here until done, so that memory running out on the way loses nothing.
  std::unique_ptr<EdgeRecord[]> owner(new EdgeRecord[total]);
  EdgeRecord* edges = owner.get();

  for (int32_t f = 0; f < faceCount; ++f) {
    const std::array<int32_t, 3> c = object->faces[f].Corners();
    for (int e = 0; e < 3; ++e) {
      edges[3 * f + e] = EdgeRecord{c[e], c[(e + 1) % 3], c[(e + 2) % 3], -1};
    }
  }
  const SlotPositions positions = AssignSlotPositions(*object, faceCount, moveGroups);
  ResolveNeighbours(*object, positions, CollectEdgeHolders(positions, faceCount), edges);

  std::vector<uint8_t> removed(total, 0);
  const size_t removedCount = RemoveDuplicates(edges, removed);
  FillHolesFromTheBack(edges, removed, removedCount);

  object->edges = owner.release();
  object->edgeCount = static_cast<int32_t>(total - removedCount);
}
