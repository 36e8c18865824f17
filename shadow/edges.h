// Edge adjacency of a triangle mesh for the silhouette walk: one record per
// triangle edge with the off-edge vertex of its own face and of the face that
// shares the edge's two positions, duplicates removed, live records first.
// Adjacency is by vertex position (float32 equality: -0.0 equals 0.0, a
// position with a not-a-number component equals nothing), so faces meeting
// along a texture seam through different indices are still neighbours.
// BuildEdgeList runs in near-linear time (hash tables over positions and
// index pairs) and gives exactly the records of the straightforward
// quadratic search built on FindNeighbourOpposite.
#pragma once

#include <cstdint>

#include "model/scene.h"

// The first face j != skipFace, in index order, that has a slot at position
// start and a slot at position end; returns j's vertex index at the first slot
// (in slot order) that is neither the last slot matching start nor the last
// slot matching end. -1 when no face qualifies. Every index in faces must lie
// in vertices; nothing is checked. Linear in faceCount.
int32_t FindNeighbourOpposite(Vec3 start, Vec3 end, int32_t skipFace, int32_t faceCount,
                              const Vec3* vertices, const Face* faces);

// Replaces object->edges with a new array of 3 x faceCount records and sets
// edgeCount: face f yields (p, q, r, n), (q, r, p, n), (r, p, q, n) at 3f..3f+2
// with n as FindNeighbourOpposite finds it; a record equal to an earlier live
// one on the unordered pairs {edgeStart, edgeEnd} and {opposite,
// neighbourOpposite} is removed (all four fields -2); holes are then filled
// from the back. A slot naming a vertex outside [0, vertexCount) has no
// position: it matches nothing. Null object: nothing happens.
// With `moveGroups` ([vertexCount]), two slots match only when their
// vertices' groups are equal too: the records are those the search above
// would find were each group moved apart from the others. A mesh that will
// move gives equal groups to vertices that always move together, so a seam
// between parts that separate stays open (its edges bound each part) rather
// than pairing faces that no longer meet.
void BuildEdgeList(MeshObject* object, const int32_t* moveGroups = nullptr);
