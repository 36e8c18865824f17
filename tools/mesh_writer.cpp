// The one-object 3DS model writer; see mesh_writer.h.
#include "tools/mesh_writer.h"

void WriteVertexList(ChunkWriter& w, const std::vector<Vec3>& vertices) {
  w.Begin(0x4110);
  w.U16(static_cast<uint16_t>(vertices.size()));
  for (const Vec3& v : vertices) {
    w.F32(v.x);
    w.F32(v.y);
    w.F32(v.z);
  }
  w.End();
}

void WriteTexCoords(ChunkWriter& w, const std::vector<TexCoord>& texCoords) {
  w.Begin(0x4140);
  w.U16(static_cast<uint16_t>(texCoords.size()));
  for (const TexCoord& t : texCoords) {
    w.F32(t.u);
    w.F32(t.v);
  }
  w.End();
}

void BeginFaceList(ChunkWriter& w, const std::vector<Face>& faces) {
  w.Begin(0x4120);
  w.U16(static_cast<uint16_t>(faces.size()));
  for (const Face& f : faces) {
    w.U16(static_cast<uint16_t>(f.index0));
    w.U16(static_cast<uint16_t>(f.index1));
    w.U16(static_cast<uint16_t>(f.index2));
    w.U16(0x0007);  // all three edges visible
  }
}

bool WriteMeshModel(const std::string& path, const MeshFileLayout& layout,
                    const std::vector<Vec3>& vertices, const std::vector<TexCoord>& texCoords,
                    const std::vector<Face>& faces) {
  ChunkWriter w;
  w.Begin(0x4D4D);  // main
  if (layout.versionChunks) {
    w.Begin(0x0002);  // file version
    w.U32(3);
    w.End();
  }
  w.Begin(0x3D3D);  // editor data
  if (layout.versionChunks) {
    w.Begin(0x3D3E);  // mesh version
    w.U32(3);
    w.End();
  }
  w.Begin(0x4000);  // named object
  w.Name(layout.objectName);
  w.Begin(0x4100);  // triangle mesh
  WriteVertexList(w, vertices);
  if (!texCoords.empty()) WriteTexCoords(w, texCoords);
  if (layout.identityMatrix) {
    w.Begin(0x4160);  // local matrix: identity rotation, no translation
    const float identity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    for (float m : identity) w.F32(m);
    w.End();
  }
  BeginFaceList(w, faces);
  w.EndAll();  // face list, triangle mesh, named object, editor data, main
  return w.Save(path.c_str());
}
