// make-scene FOLDER: writes the shipped model "shadow2.3DS" and texture
// "txt.tif" into FOLDER (which must exist). The model is one 3DS mesh object
// with vertices, texture coordinates, an identity local matrix and faces; the
// texture is an RGB TIFF, LZW-compressed with horizontal differencing, in
// strips of 32 rows. The output bytes are the same on every run.
// Exit codes: 0 written, 1 a file could not be written, 64 bad command line.
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/mesh_writer.h"
#include "tools/scene_geometry.h"

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

// Writes the texture through libtiff: little-endian, RGB, LZW, Predictor 2.
bool WriteTexture(const SceneTexture& texture, const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "wl");
  if (tif == nullptr) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(texture.width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(texture.height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 32);
  bool ok = true;
  std::vector<uint8_t> row(static_cast<size_t>(texture.width) * 3);
  for (int y = 0; y < texture.height && ok; ++y) {
    // libtiff may encode the row buffer in place, so hand it a copy.
    std::copy_n(&texture.rgb[static_cast<size_t>(y) * row.size()], row.size(), row.begin());
    ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) == 1;
  }
  TIFFClose(tif);
  return ok;
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
