// Scene set-up. The texture's result is not examined: a missing or unusable
// texture leaves an image with no pixels, which is then not uploaded. A
// context that cannot be made, or a model the frames cannot draw, stops the
// program before its loop with one line on standard error.
#include "render/scene_setup.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "model/load3ds.h"
#include "platform/platform.h"
#include "render/camera.h"
#include "render/gl_context.h"
#include "shadow/edges.h"
#include "shadow/normals.h"

std::string DescribeUnusableModel(const Scene* scene, int openError) {
  const std::string name = kModelFileName;
  if (scene == nullptr) {
    if (openError != 0) return name + ": cannot open the model file: " + std::strerror(openError);
    return name + ": not a 3DS file (it does not start with the main chunk 4D 4D)";
  }
  if (scene->objectCount < 1 || scene->objects[0] == nullptr)
    return name + ": the file holds no mesh object";
  const MeshDefect defect = ValidateMesh(*scene->objects[0]);
  if (defect.face >= 0) return DescribeMeshDefect(kModelFileName, defect);
  return std::string();
}

// Uploads the decoded image to the default texture. Rows are tightly packed,
// so the unpack alignment is 1 (widths whose rows are not a multiple of 4
// bytes would otherwise be read sheared); four samples are read as RGBA. An
// image without pixels is not uploaded at all, which leaves the texture
// incomplete and texturing in effect off, as for a missing file. Returns
// whether a texture image was defined.
static bool UploadTexture(const TiffImage& image) {
  if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) return false;
  if (image.samplesPerPixel != 3 && image.samplesPerPixel != 4) return false;
  const GLenum format = image.samplesPerPixel == 4 ? GL_RGBA : GL_RGB;
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, 3, image.width, image.height, 0, format, GL_UNSIGNED_BYTE,
               image.pixels);
  return true;
}

SetupResult SetupScene(HWND window) {
  // The texture is read before any OpenGL context exists.
  LoadedScene.textureImage = new TiffImage();
  LoadedScene.textureImage->LoadTiff(kTextureFileName);
  if (!InitOpenGL(window)) {
    std::fprintf(stderr, "shadow_volume: no OpenGL context: %s\n", PlatformFailureReason());
    return SetupResult::kNoContext;
  }

  int openError = 0;
  LoadedScene.scene = Load3dsScene(kModelFileName, true, &openError);
  const std::string problem = DescribeUnusableModel(LoadedScene.scene, openError);
  if (!problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    return SetupResult::kModelUnusable;
  }

  MeshObject* mesh = LoadedScene.scene->objects[0];
  // Vertex normals are averaged from the face normals, so those come first.
  ComputeFaceNormals(mesh);
  ComputeVertexNormals(mesh);
  BuildEdgeList(mesh);

  LoadedScene.shadowVolume = new ShadowVolume();
  LoadedScene.shadowVolume->BindVertexArray(mesh->vertices, mesh->vertexCount, sizeof(Vec3), 0);
  LoadedScene.shadowVolume->BindEdgeArray(mesh->edges, mesh->edgeCount, sizeof(EdgeRecord), 0);
  // Extruded silhouette points lie 3000 times as far from the light as the
  // points they come from: far beyond the far plane at 1000.
  LoadedScene.shadowVolume->SetExtrusion(3000.0f);

  glEnable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);  // vertex colours come from LightVertex
  glEnable(GL_TEXTURE_2D);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);  // no mipmaps needed
  // The textured fragment takes the texel's colour; light and shadow come in
  // through the blending of the frame's passes.
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
  LoadedScene.textureUploaded = UploadTexture(*LoadedScene.textureImage);

  // The modelview is the identity here: the eye ends at (0, 0, 200).
  TranslateCamera(0.0f, 0.0f, -200.0f);
  return SetupResult::kReady;
}
