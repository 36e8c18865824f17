// Scene set-up. A texture that no reader decodes leaves an image with no
// pixels, which is then not uploaded: one line on standard error says why,
// and the model is drawn untextured; a texture read through libtiff or
// libpng gets one line too. A context that cannot be made, or a model with
// nothing the frames can draw, stops the program before its loop with a line
// on standard error; a model cut off inside a chunk is drawn with a warning.
// Every message starts with the path it is about, as the command line gave it.
#include "render/scene_setup.h"

#include <GL/gl.h>
#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "io/whole_file.h"
#include "model/load3ds.h"
#include "model/merge.h"
#include "platform/platform.h"
#include "render/camera.h"
#include "render/gl_context.h"
#include "render/render_state.h"
#include "render/texture_upload.h"
#include "shadow/edges.h"
#include "shadow/normals.h"
#include "shadow/shadow_volume.h"
#include "texture/texture_loader.h"

// Extruded silhouette points lie this many times as far from the light as
// the points they come from: far beyond the far plane at 1000.
constexpr float kSceneExtrusion = 3000.0f;

namespace {

// " (current directory: /x)" for a file that is not there, with the name of
// a file beside it that differs only in letter case when there is one: the
// usual slip when a model comes from a system that ignores case.
std::string MissingFileContext(const std::string& path) {
  std::vector<char> buffer(4096);
  const std::string cwd = getcwd(buffer.data(), buffer.size()) != nullptr ? buffer.data() : "?";
  std::string text = " (current directory: " + cwd;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (DIR* dir = base.empty() ? nullptr : opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (strcasecmp(entry->d_name, base.c_str()) == 0 && base != entry->d_name) {
        const std::string other = (slash == std::string::npos ? "" : folder) + entry->d_name;
        text += "; there is " + other + ", which differs only in letter case";
        break;
      }
    }
    closedir(dir);
  }
  return text + ")";
}

// Whether model point `p` lies inside the view volume of the current
// projection and modelview matrices (column-major, as OpenGL returns them).
bool InView(const float projection[16], const float modelview[16], const Vec3& p) {
  float eye[4], clip[4];
  for (int r = 0; r < 4; ++r)
    eye[r] = modelview[r] * p.x + modelview[4 + r] * p.y + modelview[8 + r] * p.z + modelview[12 + r];
  for (int r = 0; r < 4; ++r)
    clip[r] = projection[r] * eye[0] + projection[4 + r] * eye[1] + projection[8 + r] * eye[2] +
              projection[12 + r] * eye[3];
  const float w = clip[3];
  return w > 0 && clip[0] >= -w && clip[0] <= w && clip[1] >= -w && clip[1] <= w &&
         clip[2] >= -w && clip[2] <= w;
}

// Whether any vertex of `mesh` lies in the view of the matrices as they
// stand now.
bool AnyVertexInView(const MeshObject& mesh) {
  float projection[16], modelview[16];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  for (int i = 0; i < mesh.vertexCount; ++i)
    if (InView(projection, modelview, mesh.vertices[i])) return true;
  return false;
}

// Says in one line naming `path` why the model read from it (null when
// Load3dsScene gave none) has no mesh object, or returns an empty string when
// it has one. `openError` is errno from opening the file, 0 when it opened; a
// missing file's line names the current directory and, when that folder holds
// a file of the same name in other letter case, that file. `fileFailure` says
// what the path is when it is no regular file (a directory, a FIFO, a device).
std::string DescribeUnusableModel(const std::string& path, const Scene* scene, int openError,
                                  FileFailure fileFailure) {
  if (scene != nullptr)
    return scene->objectCount < 1 ? path + ": the file holds no mesh object" : std::string();
  if (fileFailure != FileFailure::kNone && fileFailure != FileFailure::kCannotOpen &&
      fileFailure != FileFailure::kCannotRead)
    return path + ": " + DescribeFileFailure(fileFailure, openError, kModelFileLimits);
  if (openError == 0) return path + ": not a 3DS file (it does not start with the main chunk 4D 4D)";
  return path + ": cannot open the model file: " + std::strerror(openError) +
         (openError == ENOENT ? MissingFileContext(path) : std::string());
}

}  // namespace

SetupResult SetupScene(HWND window) {
  const std::string& modelPath = RequestedScene.modelPath;
  const std::string& texturePath = RequestedScene.texturePath;
  // The texture is read before any OpenGL context exists.
  LoadedScene.textureImage = new TextureImage(LoadTexture(texturePath.c_str()));
  const std::string textureNote =
      DescribeTextureLoad(texturePath.c_str(), *LoadedScene.textureImage);
  if (!textureNote.empty()) {
    std::fflush(stdout);  // the TIFF reader's own message comes first
    std::fprintf(stderr, "%s%s\n", textureNote.c_str(),
                 LoadedScene.textureImage->pixels ? "" : "; drawing the model untextured");
  }
  if (!InitOpenGL(window)) {
    std::fprintf(stderr, "shadow_volume: no OpenGL context: %s\n", PlatformFailureReason());
    return SetupResult::kNoContext;
  }

  int openError = 0;
  FileFailure fileFailure = FileFailure::kNone;
  LoadedScene.scene = Load3dsScene(modelPath.c_str(), true, &openError, &fileFailure);
  const std::string problem =
      DescribeUnusableModel(modelPath, LoadedScene.scene, openError, fileFailure);
  if (!problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    return SetupResult::kModelUnusable;
  }
  // Every drawable object, in file order, becomes the one mesh drawn. A file
  // cut off inside a chunk is said first, as it explains what follows.
  std::vector<LeftOutObject> leftOut;
  MeshObject* mesh = MergeMeshObjects(*LoadedScene.scene, &leftOut);
  const std::string cutOff = DescribeCutOff(*LoadedScene.scene);
  if (!cutOff.empty())
    std::fprintf(stderr, "%s: %s%s\n", modelPath.c_str(), cutOff.c_str(),
                 mesh ? "; drawing what was read" : "");
  for (const LeftOutObject& object : leftOut)
    std::fprintf(stderr, "%s: object %d %s is left out: %s\n", modelPath.c_str(), object.index,
                 object.name.c_str(), object.reason.c_str());
  if (mesh == nullptr) {
    std::fprintf(stderr, "%s: nothing to draw: none of its %d mesh objects can be drawn\n",
                 modelPath.c_str(), LoadedScene.scene->objectCount);
    return SetupResult::kModelUnusable;
  }
  if (RequestedScene.fit) FitMesh(mesh, kFitHalfExtent);
  LoadedScene.mesh = mesh;
  // Vertex normals are averaged from the face normals, so those come first.
  ComputeFaceNormals(mesh);
  ComputeVertexNormals(mesh);
  BuildEdgeList(mesh);

  LoadedScene.shadowVolume = new ShadowVolume();
  LoadedScene.shadowVolume->BindVertexArray(mesh->vertices, mesh->vertexCount, sizeof(Vec3), 0);
  LoadedScene.shadowVolume->BindEdgeArray(mesh->edges, mesh->edgeCount, sizeof(EdgeRecord), 0);
  LoadedScene.shadowVolume->SetExtrusion(kSceneExtrusion);

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
  LoadedScene.textureUploaded = UploadTexture(*LoadedScene.textureImage, texturePath);

  // The eye at (0, 0, 200), the light at its start.
  PlaceStartView();
  if (!AnyVertexInView(*mesh))
    std::fprintf(stderr,
                 "%s: no vertex of the model lies in the first frame's view (eye at 0, 0, 200, "
                 "looking towards -z); run with --fit to centre and scale it into view\n",
                 modelPath.c_str());
  return SetupResult::kReady;
}
