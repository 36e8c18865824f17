// The straightforward quadratic edge-list construction: a linear neighbour
// scan per edge with FindNeighbourOpposite, an all-pairs duplicate search and
// the back-to-front hole filling. Kept as the yardstick the fast BuildEdgeList
// must match record for record. Every face index must lie in the mesh.
#pragma once

#include <cstdint>
#include <vector>

#include "model/scene.h"

struct ReferenceEdgeList {
  std::vector<EdgeRecord> edges;  // 3 x faceCount records, live ones first
  int32_t edgeCount = 0;          // live records
};

// Builds the edge list of the mesh without touching the mesh.
ReferenceEdgeList ReferenceBuildEdgeList(const MeshObject& mesh);
