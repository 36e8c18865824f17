// make-scene FOLDER: writes the shipped model "shadow2.3DS" and texture
// "txt.tif" into FOLDER (which must exist). The model is one 3DS mesh object
// with vertices, texture coordinates, an identity local matrix and faces; the
// texture is an RGB TIFF, LZW-compressed with horizontal differencing, in
// strips of 32 rows. The output bytes are the same on every run.
// Exit codes: 0 written, 1 a file could not be written, 64 bad command line.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/mesh_writer.h"
#include "tools/scene_geometry.h"
#include "tools/tiff_writer.h"

namespace {

// Writes the mesh as the first and only object of a 3DS file, with version
// chunks and an identity local matrix as modelling programs write them.
bool WriteModel(const SceneMesh& mesh, const std::string& path) {
  MeshFileLayout layout;
  layout.objectName = "ShadowScene";
  layout.versionChunks = true;
  layout.identityMatrix = true;
  return WriteMeshModel(path, layout, mesh.vertices, mesh.texCoords, mesh.faces);
}

// Writes the texture through libtiff: little-endian, RGB, LZW, Predictor 2,
// strips of 32 rows.
bool WriteTexture(const SceneTexture& texture, const std::string& path) {
  TiffLayout layout;
  layout.width = texture.width;
  layout.height = texture.height;
  layout.samples = 3;
  layout.compression = 5;  // LZW
  layout.predictor = 2;    // horizontal differencing
  layout.rowsPerStrip = 32;
  return WriteTiffWithLibtiff(path, layout, texture.rgb);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-scene FOLDER\n");
    return 64;
  }
  const std::string folder = argv[1];
  const SceneMesh mesh = BuildShippedMesh();
  if (!WriteModel(mesh, folder + "/shadow2.3DS")) {
    std::fprintf(stderr, "make-scene: cannot write %s/shadow2.3DS\n", folder.c_str());
    return 1;
  }
  if (!WriteTexture(BuildShippedTexture(), folder + "/txt.tif")) {
    std::fprintf(stderr, "make-scene: cannot write %s/txt.tif\n", folder.c_str());
    return 1;
  }
  std::printf("make-scene: %zu vertices, %zu faces in %s/shadow2.3DS; 256 x 256 %s/txt.tif\n",
              mesh.vertices.size(), mesh.faces.size(), folder.c_str(), folder.c_str());
  return 0;
}
