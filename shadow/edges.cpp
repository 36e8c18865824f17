// Edge adjacency. The neighbour of an edge is the first other face, in index
// order, holding both edge positions; rather than scanning every face per
// edge, BuildEdgeList gives every distinct position a dense id and records,
// for each position and each unordered pair of positions, the first two faces
// holding it: the first of those that is not the asking face is the answer.
// Duplicate records are found with a hash of their two unordered index pairs.
// Memory: a few flat arrays proportional to the vertex and face counts, all
// released before returning.
#include "shadow/edges.h"

#include <cstring>
#include <vector>

namespace {

constexpr int32_t kRemoved = -2;

bool SamePosition(const Vec3& a, const Vec3& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

// Bit pattern under which float32-equal values are identical: both zeros map to
// +0. Not-a-number never reaches here (such positions get no id).
uint32_t CanonicalBits(float value) {
  if (value == 0.0f) return 0u;
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

uint64_t Mix64(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return x;
}

// Open-addressing capacity: a power of two at least twice the entry count.
size_t TableCapacity(size_t entries) {
  size_t capacity = 16;
  while (capacity < entries * 2) capacity <<= 1;
  return capacity;
}

// Dense ids of the mesh's distinct positions, one per vertex; -1 for a vertex
// with a not-a-number component, since such a position equals nothing.
struct PositionIds {
  std::vector<int32_t> ofVertex;  // [vertexCount]
  int32_t count = 0;              // number of distinct positions
};

PositionIds AssignPositionIds(const Vec3* vertices, int32_t vertexCount) {
  struct Slot {
    uint32_t x, y, z;
    int32_t id;  // -1 when the slot is empty
  };
  PositionIds result;
  result.ofVertex.assign(static_cast<size_t>(vertexCount), -1);
  const size_t capacity = TableCapacity(static_cast<size_t>(vertexCount));
  const size_t mask = capacity - 1;
  std::vector<Slot> table(capacity, Slot{0u, 0u, 0u, -1});
  for (int32_t v = 0; v < vertexCount; ++v) {
    const Vec3& p = vertices[v];
    if (p.x != p.x || p.y != p.y || p.z != p.z) continue;
    const uint32_t x = CanonicalBits(p.x), y = CanonicalBits(p.y), z = CanonicalBits(p.z);
    size_t i = Mix64((static_cast<uint64_t>(x) << 32 | y) ^ Mix64(z)) & mask;
    while (table[i].id >= 0 && !(table[i].x == x && table[i].y == y && table[i].z == z)) {
      i = (i + 1) & mask;
    }
    if (table[i].id < 0) table[i] = Slot{x, y, z, result.count++};
    result.ofVertex[v] = table[i].id;
  }
  return result;
}

// The first two faces, in index order, holding a position or a pair of them.
struct FirstTwoFaces {
  int32_t face[2];  // -1 when fewer faces hold it
};

// Adds face f unless already there; faces arrive in increasing order.
void AddHolder(FirstTwoFaces& holders, int32_t f) {
  if (holders.face[0] < 0) {
    holders.face[0] = f;
  } else if (holders.face[0] != f && holders.face[1] < 0) {
    holders.face[1] = f;
  }
}

// Unordered pair key of two ints; same pair in either order, same key.
uint64_t PairKey(int32_t a, int32_t b) {
  if (a > b) {
    const int32_t t = a;
    a = b;
    b = t;
  }
  return static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32 | static_cast<uint32_t>(b);
}

// Finds every record's neighbour opposite: the vertex index, in the first
// other face holding both edge positions, at the first slot that is neither
// the last slot at the start position nor the last at the end position.
void FindAllNeighbours(const MeshObject& object, int32_t faceCount, EdgeRecord* edges) {
  const PositionIds positions =
      AssignPositionIds(object.vertices, object.vertexCount > 0 ? object.vertexCount : 0);
  const size_t total = 3 * static_cast<size_t>(faceCount);

  // Position id of every face slot; -1 for no position (NaN or not in the mesh).
  std::vector<int32_t> slotIds(total);
  for (size_t s = 0; s < total; ++s) {
    const Face& face = object.faces[s / 3];
    const int32_t index = s % 3 == 0 ? face.index0 : s % 3 == 1 ? face.index1 : face.index2;
    slotIds[s] = index >= 0 && index < object.vertexCount ? positions.ofVertex[index] : -1;
  }

  // holders[0, count) per position; holders[count + i] per slot i of the pair table.
  const size_t pairCapacity = TableCapacity(total);
  const size_t mask = pairCapacity - 1;
  constexpr uint64_t kEmptyKey = ~0ULL;  // no pair of non-negative ids makes it
  std::vector<uint64_t> pairKeys(pairCapacity, kEmptyKey);
  std::vector<FirstTwoFaces> holders(positions.count + pairCapacity, FirstTwoFaces{{-1, -1}});
  std::vector<int64_t> recordHolder(total, -1);  // holder asked by each record, -1 none

  for (int32_t f = 0; f < faceCount; ++f) {
    const int32_t* ids = &slotIds[3 * static_cast<size_t>(f)];
    for (int k = 0; k < 3; ++k) {
      if (ids[k] >= 0) AddHolder(holders[ids[k]], f);
    }
    // A triangle's three edges are all its slot pairs, so every face holding
    // two distinct positions is entered under that pair here.
    for (int e = 0; e < 3; ++e) {
      const int32_t a = ids[e], b = ids[(e + 1) % 3];
      size_t record = 3 * static_cast<size_t>(f) + e;
      if (a < 0 || b < 0) continue;
      if (a == b) {
        recordHolder[record] = a;
        continue;
      }
      const uint64_t key = PairKey(a, b);
      size_t i = Mix64(key) & mask;
      while (pairKeys[i] != kEmptyKey && pairKeys[i] != key) i = (i + 1) & mask;
      pairKeys[i] = key;
      AddHolder(holders[positions.count + i], f);
      recordHolder[record] = static_cast<int64_t>(positions.count + i);
    }
  }

  for (size_t record = 0; record < total; ++record) {
    edges[record].neighbourOpposite = -1;
    if (recordHolder[record] < 0) continue;
    const int32_t f = static_cast<int32_t>(record / 3);
    const FirstTwoFaces& h = holders[recordHolder[record]];
    const int32_t j = h.face[0] != f ? h.face[0] : h.face[1];
    if (j < 0) continue;
    const int e = static_cast<int>(record % 3);
    const int32_t start = slotIds[record], end = slotIds[3 * static_cast<size_t>(f) + (e + 1) % 3];
    const int32_t* ids = &slotIds[3 * static_cast<size_t>(j)];
    int startSlot = 0, endSlot = 0;
    for (int k = 0; k < 3; ++k) {
      if (ids[k] == start) startSlot = k;
      if (ids[k] == end) endSlot = k;
    }
    int other = 0;
    while (other == startSlot || other == endSlot) ++other;
    const Face& neighbour = object.faces[j];
    edges[record].neighbourOpposite = other == 0   ? neighbour.index0
                                      : other == 1 ? neighbour.index1
                                                   : neighbour.index2;
  }
}

}  // namespace

int32_t FindNeighbourOpposite(Vec3 start, Vec3 end, int32_t skipFace, int32_t faceCount,
                              const Vec3* vertices, const Face* faces) {
  for (int32_t j = 0; j < faceCount; ++j) {
    if (j == skipFace) continue;
    const int32_t slots[3] = {faces[j].index0, faces[j].index1, faces[j].index2};
    int startSlot = -1, endSlot = -1;
    for (int k = 0; k < 3; ++k) {
      if (SamePosition(vertices[slots[k]], start)) startSlot = k;
    }
    if (startSlot < 0) continue;
    for (int k = 0; k < 3; ++k) {
      if (SamePosition(vertices[slots[k]], end)) endSlot = k;
    }
    if (endSlot < 0) continue;
    int other = 0;
    while (other == startSlot || other == endSlot) ++other;
    return slots[other];
  }
  return -1;
}

void BuildEdgeList(MeshObject* object) {
  if (object == nullptr) return;
  delete[] object->edges;
  object->edges = nullptr;
  object->edgeCount = 0;
  const int32_t faceCount = object->faceCount > 0 ? object->faceCount : 0;
  const size_t total = 3 * static_cast<size_t>(faceCount);
  EdgeRecord* edges = new EdgeRecord[total];

  for (int32_t f = 0; f < faceCount; ++f) {
    const Face& face = object->faces[f];
    edges[3 * f + 0] = EdgeRecord{face.index0, face.index1, face.index2, -1};
    edges[3 * f + 1] = EdgeRecord{face.index1, face.index2, face.index0, -1};
    edges[3 * f + 2] = EdgeRecord{face.index2, face.index0, face.index1, -1};
  }
  FindAllNeighbours(*object, faceCount, edges);

  // Duplicates: equal unordered {start, end} and {opposite, neighbourOpposite}
  // is an equivalence, so the first record of each class survives. Removal is
  // tracked apart from the field values so that a face naming vertex -2 is not
  // mistaken for a hole.
  std::vector<uint8_t> removed(total, 0);
  const size_t capacity = TableCapacity(total);
  const size_t mask = capacity - 1;
  std::vector<int32_t> seen(capacity, -1);  // record index per slot, -1 empty
  size_t count = total;
  for (size_t r = 0; r < total; ++r) {
    const EdgeRecord& rec = edges[r];
    const uint64_t edgeKey = PairKey(rec.edgeStart, rec.edgeEnd);
    const uint64_t sideKey = PairKey(rec.opposite, rec.neighbourOpposite);
    size_t i = Mix64(edgeKey ^ Mix64(sideKey)) & mask;
    bool duplicate = false;
    while (seen[i] >= 0) {
      const EdgeRecord& other = edges[seen[i]];
      if (PairKey(other.edgeStart, other.edgeEnd) == edgeKey &&
          PairKey(other.opposite, other.neighbourOpposite) == sideKey) {
        duplicate = true;
        break;
      }
      i = (i + 1) & mask;
    }
    if (duplicate) {
      removed[r] = 1;
      --count;
    } else {
      seen[i] = static_cast<int32_t>(r);
    }
  }
  for (size_t r = 0; r < total; ++r) {
    if (removed[r]) edges[r] = EdgeRecord{kRemoved, kRemoved, kRemoved, kRemoved};
  }

  // Compaction: each hole, front to back, takes the live record nearest the end.
  if (total > 0) {
    size_t back = total - 1;
    for (size_t k = 0; k < total; ++k) {
      if (!removed[k]) continue;
      while (back > k && removed[back]) --back;
      if (back <= k) break;
      edges[k] = edges[back];
      removed[k] = 0;
      edges[back] = EdgeRecord{kRemoved, kRemoved, kRemoved, kRemoved};
      removed[back] = 1;
    }
  }

  object->edges = edges;
  object->edgeCount = static_cast<int32_t>(count);
}
