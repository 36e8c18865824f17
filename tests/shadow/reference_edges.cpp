// Quadratic reference edge list; see reference_edges.h.
#include "tests/shadow/reference_edges.h"

#include "shadow/edges.h"

namespace {

constexpr int32_t kRemoved = -2;

bool SameUnordered(int32_t a0, int32_t a1, int32_t b0, int32_t b1) {
  return (a0 == b0 && a1 == b1) || (a0 == b1 && a1 == b0);
}

}  // namespace

ReferenceEdgeList ReferenceBuildEdgeList(const MeshObject& mesh) {
  ReferenceEdgeList out;
  const int32_t faceCount = mesh.faceCount;
  const int32_t total = 3 * faceCount;
  out.edges.resize(total);
  const Vec3* v = mesh.vertices;
  for (int32_t f = 0; f < faceCount; ++f) {
    const int32_t p = mesh.faces[f].index0, q = mesh.faces[f].index1, r = mesh.faces[f].index2;
    out.edges[3 * f + 0] =
        EdgeRecord{p, q, r, FindNeighbourOpposite(v[p], v[q], f, faceCount, v, mesh.faces)};
    out.edges[3 * f + 1] =
        EdgeRecord{q, r, p, FindNeighbourOpposite(v[q], v[r], f, faceCount, v, mesh.faces)};
    out.edges[3 * f + 2] =
        EdgeRecord{r, p, q, FindNeighbourOpposite(v[r], v[p], f, faceCount, v, mesh.faces)};
  }
  int32_t count = total;
  for (int32_t b = 0; b < total; ++b) {
    const EdgeRecord rb = out.edges[b];
    if (rb.edgeStart == kRemoved) continue;
    for (int32_t k = b + 1; k < total; ++k) {
      EdgeRecord& rk = out.edges[k];
      if (SameUnordered(rk.edgeStart, rk.edgeEnd, rb.edgeStart, rb.edgeEnd) &&
          SameUnordered(rk.opposite, rk.neighbourOpposite, rb.opposite, rb.neighbourOpposite)) {
        rk = EdgeRecord{kRemoved, kRemoved, kRemoved, kRemoved};
        --count;
      }
    }
  }
  out.edgeCount = count;
  int32_t j = total - 1;
  for (int32_t k = 0; k < total; ++k) {
    if (out.edges[k].edgeStart != kRemoved) continue;
    while (j >= 0 && out.edges[j].edgeStart == kRemoved) --j;
    if (j <= k) break;
    out.edges[k] = out.edges[j];
    out.edges[j] = EdgeRecord{kRemoved, kRemoved, kRemoved, kRemoved};
  }
  return out;
}
