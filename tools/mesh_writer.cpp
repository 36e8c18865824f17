// The one-object 3DS model writer; see mesh_writer.h.
#include "tools/mesh_writer.h"

void WriteVertexList(ChunkWriter& w, const std::vector<Vec3>& vertices) {
  w.Begin(kChunkVertexList);
  w.U16(static_cast<uint16_t>(vertices.size()));
  for (const Vec3& v : vertices) {
    w.F32(v.x);
    w.F32(v.y);
    w.F32(v.z);
  }
  w.End();
}

void WriteTexCoords(ChunkWriter& w, const std::vector<TexCoord>& texCoords) {
  w.Begin(kChunkTexCoords);
  w.U16(static_cast<uint16_t>(texCoords.size()));
  for (const TexCoord& t : texCoords) {
    w.F32(t.u);
    w.F32(t.v);
  }
  w.End();
}

void BeginFaceList(ChunkWriter& w, const std::vector<Face>& faces) {
  w.Begin(kChunkFaceList);
  w.U16(static_cast<uint16_t>(faces.size()));
  for (const Face& f : faces) {
    for (int32_t corner : f.Corners()) w.U16(static_cast<uint16_t>(corner));
    w.U16(0x0007);  // all three edges visible
  }
}

bool WriteMeshModel(const std::string& path, const MeshFileLayout& layout,
                    const std::vector<Vec3>& vertices, const std::vector<TexCoord>& texCoords,
                    const std::vector<Face>& faces) {
  ChunkWriter w;
  w.Begin(kChunkMain);  // main
  if (layout.versionChunks) {
    w.Begin(kChunkFileVersion);  // file version
    w.U32(3);
    w.End();
  }
  w.Begin(kChunkEditor);  // editor data
  if (layout.versionChunks) {
    w.Begin(kChunkMeshVersion);  // mesh version
    w.U32(3);
    w.End();
  }
  w.Begin(kChunkNamedObject);  // named object
  w.Name(layout.objectName);
  w.Begin(kChunkTriangleMesh);  // triangle mesh
  WriteVertexList(w, vertices);
  if (!texCoords.empty()) WriteTexCoords(w, texCoords);
  if (layout.identityMatrix) {
    w.Begin(kChunkLocalMatrix);  // local matrix: identity rotation, no translation
    const float identity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    for (float m : identity) w.F32(m);
    w.End();
  }
  BeginFaceList(w, faces);
  w.EndAll();  // face list, triangle mesh, named object, editor data, main
  return w.Save(path.c_str());
}
