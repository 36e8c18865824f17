// The silhouette test of the shadow volume walk, internal to shadow/
// (ShadowVolume is the interface): the plane through the light and a record's
// edge, the side of it a point lies on, and a mask of the silhouette edges
// among up to 64 records. The mask has a scalar form and, on x86-64
// processors with AVX2, a vector form for packed arrays; both use the same
// float32 operations in the same order (no fused multiply-add), so they give
// the same bits, and the walk's own scalar plane tests agree with them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/scene.h"

// The vertex and edge arrays a walk reads, as the binder declared them: both
// byte strides are honoured. Nothing is owned.
struct EdgeWalkArrays {
  const Vec3* vertices;     // vertex 0
  int32_t vertexCount;      // vertices that may be read; <= 0 means none
  int32_t vertexStride;     // bytes from one vertex to the next
  const EdgeRecord* edges;  // record 0
  int32_t edgeStride;       // bytes from one record to the next

  // Record i; i must lie within the bound records.
  const EdgeRecord& Record(int64_t i) const {
    return *reinterpret_cast<const EdgeRecord*>(reinterpret_cast<const char*>(edges) +
                                                static_cast<ptrdiff_t>(edgeStride) * i);
  }

  // Vertex index; index must be covered (see Covers).
  const Vec3& Vertex(int32_t index) const {
    return *reinterpret_cast<const Vec3*>(reinterpret_cast<const char*>(vertices) +
                                          static_cast<ptrdiff_t>(vertexStride) * index);
  }

  // Every index of the record names a readable vertex (negative ones never do).
  bool Covers(const EdgeRecord& edge) const {
    const uint32_t count = vertexCount > 0 ? static_cast<uint32_t>(vertexCount) : 0u;
    return static_cast<uint32_t>(edge.edgeStart) < count &&
           static_cast<uint32_t>(edge.edgeEnd) < count &&
           static_cast<uint32_t>(edge.opposite) < count &&
           static_cast<uint32_t>(edge.neighbourOpposite) < count;
  }
};

// The plane through the light and an edge, f(X) = n . X - n . L.
struct EdgePlane {
  Vec3 n;           // (V0 - L) x (V1 - L), not normalised; zero for a degenerate edge
  float nDotLight;  // n . L
};

inline EdgePlane PlaneThrough(const Vec3& light, const Vec3& v0, const Vec3& v1) {
  const Vec3 a{v0.x - light.x, v0.y - light.y, v0.z - light.z};
  const Vec3 b{v1.x - light.x, v1.y - light.y, v1.z - light.z};
  const Vec3 n{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
  return EdgePlane{n, n.x * light.x + n.y * light.y + n.z * light.z};
}

// +1 when point lies above the plane, 0 on it, -1 below it or not a number.
inline int SideOf(const EdgePlane& plane, const Vec3& point) {
  const Vec3& n = plane.n;
  const float f = (n.x * point.x + n.y * point.y + n.z * point.z) - plane.nDotLight;
  return f > 0.0f ? 1 : f == 0.0f ? 0 : -1;
}

// Both off-edge vertices strictly on one side of the plane.
inline bool IsSilhouette(const EdgePlane& plane, const Vec3& v2, const Vec3& v3) {
  const int s2 = SideOf(plane, v2);
  return s2 != 0 && s2 == SideOf(plane, v3);
}

// Index of the lowest set bit of a non-zero mask.
inline int LowestSetBit(uint64_t mask) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_ctzll(mask);
#else
  int k = 0;
  while (((mask >> k) & 1u) == 0) ++k;
  return k;
#endif
}

// Bit k of the result is set when record first + k (0 <= k < count <= 64)
// names only readable vertices and is a silhouette edge as seen from the
// light. Uses the processor's vector instructions when both arrays are packed.
uint64_t SilhouetteMask(const EdgeWalkArrays& arrays, int64_t first, int count, Vec3 light);
