// Closed shadow volumes for counting in the stencil buffer, right for any
// triangle soup: open edges, edges of three or more faces, faces wound
// inconsistently, degenerate faces.
//
// Build once per mesh: vertices are merged by position (float32 equality,
// -0.0 equals 0.0), every triangle edge is keyed by its unordered pair of
// positions, and each connected set of faces is classified. A set that is
// closed and consistently wound (every edge has exactly two faces that run
// it in opposite directions) casts from the faces that face the light, as a
// solid does; inside-out sets are read the other way round. Any other face
// casts on its own, turned to face the light, so that the count at a point
// is the number of such faces between it and the light.
//
// Per frame (Update): the casting faces become the front cap as they are,
// and the back cap extruded away from the light (for a flat patch, an open
// consistently wound set of faces in one plane, both caps are fans from one
// of its corners over the edges that bound what casts: the same region with
// far fewer triangles); each edge's multiplicity
// is the sum of +1 / -1 over its casting faces by the direction they run it
// in, and the edge gets |m| side quads wound by the sign. Caps and sides
// then form a closed surface wound outwards (counter-clockwise seen from
// outside), whatever the input (Stich, Wachter and Keller's multiplicity
// count). Faces whose volume cannot come nearer the light than `reach` are
// left out, and the back cap ends beyond `reach`: nothing inside the reach
// changes its count. Faces with a vertex outside the mesh, a coordinate
// that is not finite, or two corners at one position are ignored.
//
// No OpenGL here: the renderer draws the vertex and index arrays. Update
// allocates nothing after the first call.
#pragma once

#include <cstdint>
#include <climits>
#include <vector>

#include "model/scene.h"

class ExactShadowVolume {
 public:
  // The most faces a volume is built for: every index count the update
  // makes (at most 36 per face) then fits int32, as OpenGL's counts need.
  static constexpr int32_t kMaxFaces = INT32_MAX / 36;

  // Builds the adjacency of `faceCount` faces over `vertexCount` vertices;
  // copies what it needs, so the arrays need not outlive the call. Throws
  // std::length_error for more than kMaxFaces faces and std::bad_alloc when
  // memory runs out, leaving an empty volume.
  // With `moveGroups` ([vertexCount]), vertices merge only when their groups
  // are equal too: a mesh that will move gives equal groups to vertices that
  // always move together, so a seam between parts that part stays open.
  void Build(const Vec3* vertices, int32_t vertexCount, const Face* faces, int32_t faceCount,
             const int32_t* moveGroups = nullptr);

  // New positions for the vertices Build saw (`vertexCount` must be Build's;
  // otherwise nothing changes): the topology and the classification into
  // solids stay as built. Flat patches are given up on the first call, as a
  // moving patch need not stay flat. Call Update afterwards. No allocation.
  void UpdatePositions(const Vec3* vertices, int32_t vertexCount);

  // Makes the volumes of a point light at `light`. With `reach` > 0, faces
  // whose bounding sphere lies wholly beyond it are left out, and every
  // point of the back cap lies beyond the reach: each position is extruded
  // to 1.5 x reach or, for a face that spans a wide angle as seen from the
  // light, farther, or to infinity (w = 0) for a very wide one. Without a
  // reach the whole back cap lies at infinity.
  // With `planeCount` planes (a, b, c, d: a x + b y + c z + d >= 0 inside,
  // (a, b, c) of unit length; the view's sides and near plane), faces whose volume within the reach
  // lies wholly outside one of them are left out too.
  // A reach that is not finite counts as none.
  void Update(Vec3 light, float reach, const float (*planes)[4] = nullptr, int planeCount = 0);

  // The reach that keeps every point a vertex-lit pass lights with a light
  // of `radius` at `light`: such a pass interpolates the colours of a face's
  // corners, so a face with one corner nearer than `radius` is lit all over,
  // out to its farthest corner. At least `radius`; infinity when a distance
  // overflows. Reads the kept faces only, allocates nothing.
  float LitReach(Vec3 light, float radius) const;

  // x, y, z, w of every vertex: the merged positions (w = 1) followed by
  // their extrusions, PositionCount() apart.
  const float* Vertices() const { return vertices_.data(); }
  int32_t PositionCount() const { return static_cast<int32_t>(positions_.size()); }

  // Triangles into Vertices(), wound outwards: the side quads, the back
  // cap and the front cap, one after the other in that order.
  const uint32_t* Indices() const { return indices_.data(); }
  int32_t SideIndexCount() const { return sideCount_; }
  int32_t CapIndexCount() const { return capCount_; }  // back cap, then front cap, same size
  int32_t IndexCount() const { return sideCount_ + capCount_; }

  // The faces kept (valid and not degenerate) and how many edges they have.
  int32_t TriangleCount() const { return static_cast<int32_t>(corners_.size() / 3); }
  int32_t EdgeCount() const { return static_cast<int32_t>(edgeEnds_.size() / 2); }
  // How many kept faces cast as part of a closed solid (the rest cast alone).
  int32_t SolidTriangleCount() const { return solidCount_; }

 private:
  std::vector<Vec3> positions_;       // merged positions
  std::vector<int32_t> corners_;      // 3 position ids per kept face, in its winding
  std::vector<int32_t> cornerEdges_;  // per corner k: edge (k, k+1) as 2 x edge + (1 if run hi->lo)
  std::vector<int8_t> solidSign_;     // per face: +1 / -1 part of a solid (-1 inside out), 0 alone
  std::vector<float> bounds_;         // per face: centre x, y, z and radius
  std::vector<int32_t> edgeEnds_;     // per edge: lo < hi position ids
  std::vector<int32_t> positionOf_;   // per vertex Build saw: its position id, -1 for none
  int32_t solidCount_ = 0;
  // Flat patches: open sets of faces in one plane, consistently wound, of a
  // few faces or more; their caps are fans over the edges that bound what
  // casts.
  struct Patch {
    int32_t origin;  // position id every fan triangle starts at
    float bound[4];  // centre x, y, z and radius of the patch
  };
  std::vector<Patch> patches_;
  std::vector<int32_t> patchOfFace_;  // per face: its patch, -1 for none
  std::vector<int32_t> edgePatch_;    // per edge: its faces' patch, -1 for none

  // Each face's bounding sphere from the positions.
  void ComputeBounds();
  // Classifies the open parts into flat patches (Build's last step).
  void FindFlatPatches(std::vector<int32_t>& parent, const std::vector<int32_t>& uses,
                       const std::vector<int32_t>& runSum);

  // Per-frame scratch, sized by Build.
  std::vector<float> vertices_;
  std::vector<float> directions_;    // per position: unit direction from the light, distance
  std::vector<float> extrudeTo_;     // per position: distance of its extrusion from the light
  std::vector<int32_t> multiplicity_;  // per edge
  std::vector<uint32_t> indices_;
  std::vector<uint32_t> backCap_;
  std::vector<int8_t> patchState_;  // per patch this frame: 0 undecided, 1 kept, -1 left out
  int32_t sideCount_ = 0;
  int32_t capCount_ = 0;
};
