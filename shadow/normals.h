// Per-face and per-vertex normals of a mesh object, derived once after
// loading. Face normals point the opposite way to the counter-clockwise
// normal, (R - P) x (Q - P) normalised, because the vertex lighting compares
// them with the direction from the light to the vertex. Vertex normals are
// plain averages of face normals and are not renormalised.
// Limits: face slots naming a vertex outside [0, vertexCount) are tolerated
// (see each function) rather than read; nothing is reported.
#pragma once

#include <cstdint>

#include "model/scene.h"

// Replaces object->faceNormals with a new array of faceCount unit normals, one
// per face in index order. A face with a zero cross product, or naming a vertex
// outside the mesh, gets (0, 0, 0). Null object: nothing happens.
void ComputeFaceNormals(MeshObject* object);

// The same normals written into the object's existing faceNormals (for a
// mesh whose vertices moved); nothing happens without them. No allocation.
void RecomputeFaceNormals(MeshObject* object);

// Replaces object->vertexNormals with a new array of vertexCount normals, each
// the average of the normals of the face slots naming that vertex (a face
// naming it twice counts twice). Unused vertices get (0, 0, 0); slots naming a
// vertex outside the mesh are skipped. Without faceNormals every vertex normal
// is (0, 0, 0). Null object: nothing happens.
void ComputeVertexNormals(MeshObject* object);

// The same normals written into the object's existing vertexNormals, with
// `counters` ([vertexCount]) as scratch; nothing happens without them. No
// allocation.
void RecomputeVertexNormals(MeshObject* object, int32_t* counters);
