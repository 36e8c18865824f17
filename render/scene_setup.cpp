// Scene set-up: the OpenGL state at start and the model read into the scene
// (merged, fitted, staged, with its normals; the
// looks and the texture upload are scene_textures.cpp's, the swap into
// LoadedScene scene_reload.cpp's). A texture that no reader decodes leaves an
// image with no pixels, which is then not uploaded: one line on standard
// error says why, and the model is drawn untextured; a texture read through
// libtiff or libpng gets one line too. A context that cannot be made, or a
// model with nothing the frames can draw, stops the program before its loop
// with a line on standard error; a model cut off inside a chunk is drawn with
// a warning. Every message starts with the path it is about, as the command
// line gave it.
#include "render/scene_setup.h"

#include <GL/gl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "io/folder_lookup.h"
#include "io/whole_file.h"
#include "model/load3ds.h"
#include "model/load_model.h"
#include "model/material_texture.h"
#include "model/merge.h"
#include "platform/platform.h"
#include "render/camera.h"
#include "render/exact_shadows.h"
#include "render/gl_context.h"
#include "render/render_state.h"
#include "render/scene_animation.h"
#include "render/scene_reload.h"
#include "render/scene_textures.h"
#include "render/stage.h"
#include "shadow/normals.h"
#include "texture/texture_loader.h"
#include "trace/shadow_tracer.h"

namespace {

// " (current directory: /x)" for a file that is not there, with the name of
// a file beside it that differs only in letter case when there is one: the
// usual slip when a model comes from a system that ignores case.
std::string MissingFileContext(const std::string& path) {
  std::vector<char> buffer(4096);
  const std::string cwd = getcwd(buffer.data(), buffer.size()) != nullptr ? buffer.data() : "?";
  std::string text = " (current directory: " + cwd;
  const size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string other = base.empty() ? std::string() : FindInFolder(FolderOf(path), base, nullptr);
  if (!other.empty() && other != path)
    text += "; there is " + other + ", which differs only in letter case";
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

// Says in one line naming `path` why `model` gave no scene with a mesh
// object, or returns an empty string when it has one. A missing file's line
// names the current directory and, when that folder holds a file of the same
// name in other letter case, that file.
std::string DescribeUnusableModel(const std::string& path, const ModelLoad& model) {
  if (model.scene != nullptr && model.scene->objectCount >= 1) return std::string();
  if (model.scene != nullptr && model.reader != ModelReader::kAssimp)
    return path + ": the file holds no mesh object";
  if (model.scene != nullptr)
    return path + ": the file holds no triangles (" + std::to_string(model.assimp.points) +
           " points and " + std::to_string(model.assimp.lines) + " lines are not drawn)";
  if (model.fileFailure == FileFailure::kCannotOpen || model.fileFailure == FileFailure::kCannotRead)
    return path + ": cannot open the model file: " + std::strerror(model.fileError) +
           (model.fileError == ENOENT ? MissingFileContext(path) : std::string());
  return path + ": " + model.problem;
}

}  // namespace

namespace {

// Owns a scene being built until it is swapped in: however set-up ends, by
// a refusal or by an exception, what it made is released.
struct OwnedScene {
  SceneGlobals scene;
  OwnedScene() = default;
  OwnedScene(const OwnedScene&) = delete;
  OwnedScene& operator=(const OwnedScene&) = delete;
  ~OwnedScene() { ReleaseSceneGlobals(&scene); }
};

struct MeshFree {
  void operator()(MeshObject* mesh) const { FreeMeshObject(mesh); }
};
using OwnedMesh = std::unique_ptr<MeshObject, MeshFree>;

// LoadModelIntoScene without the last resort: memory running out throws
// std::bad_alloc, and whatever was built by then is released on the way out.
template <typename Refuse>
SetupResult BuildScene(const SceneRequest& request, std::string* refusal, const Refuse& refuse) {
  const std::string& modelPath = request.modelPath;
  const std::string& texturePath = request.texturePath;
  OwnedScene owned;
  SceneGlobals& loaded = owned.scene;
  ModelLoad model = LoadModel(modelPath);
  loaded.scene = model.scene;
  // The model's materials decide its look when one of them names a texture
  // and no --texture overrides them; txt.tif is then not read.
  const bool materialsDecide =
      !request.textureGiven && model.scene != nullptr && AnyMaterialNamesTexture(*model.scene);
  loaded.textureImage = new TextureImage();
  if (!materialsDecide) {
    *loaded.textureImage = LoadTexture(texturePath.c_str());
    const std::string textureNote = DescribeTextureLoad(texturePath.c_str(), *loaded.textureImage);
    if (!textureNote.empty()) {
      std::fflush(stdout);  // the TIFF reader's own message comes first
      std::fprintf(stderr, "%s%s\n", textureNote.c_str(),
                   loaded.textureImage->pixels ? "" : "; drawing the model untextured");
    }
  }

  const std::string problem = DescribeUnusableModel(modelPath, model);
  if (!problem.empty()) {
    refuse(problem);
    return SetupResult::kModelUnusable;
  }
  if (model.assimp.points > 0 || model.assimp.lines > 0)
    std::fprintf(stderr, "%s: %lld points and %lld lines are left out: only triangles are drawn\n",
                 modelPath.c_str(), static_cast<long long>(model.assimp.points),
                 static_cast<long long>(model.assimp.lines));
  // Every drawable object, in file order, becomes the one mesh drawn. A file
  // cut off inside a chunk is said first, as it explains what follows.
  // A model that moves is merged in its start pose.
  loaded.animation = StartAnimation(loaded.scene, request);
  std::vector<LeftOutObject> leftOut;
  OwnedMesh mesh(MergeMeshObjects(*loaded.scene, &leftOut));
  const std::string cutOff = DescribeCutOff(*loaded.scene);
  // A replacement cut off inside a chunk is most likely a save still being
  // written: the model drawn now stays.
  if (!cutOff.empty() && refusal != nullptr) {
    refuse(modelPath + ": " + cutOff);
    return SetupResult::kModelUnusable;
  }
  if (!cutOff.empty())
    std::fprintf(stderr, "%s: %s%s\n", modelPath.c_str(), cutOff.c_str(),
                 mesh ? "; drawing what was read" : "");
  const std::string keyframerProblem = DescribeKeyframerProblem(*loaded.scene);
  if (!keyframerProblem.empty())
    std::fprintf(stderr, "%s: %s\n", modelPath.c_str(), keyframerProblem.c_str());
  for (const LeftOutObject& object : leftOut)
    std::fprintf(stderr, "%s: object %d %s is left out: %s\n", modelPath.c_str(), object.index,
                 object.name.c_str(), object.reason.c_str());
  if (mesh == nullptr) {
    refuse(modelPath + ": nothing to draw: none of its " +
           std::to_string(loaded.scene->objectCount) + " mesh objects can be drawn");
    return SetupResult::kModelUnusable;
  }
  const MeshFit fit = request.fit ? FitMesh(mesh.get(), kFitHalfExtent) : MeshFit();
  PlaceAnimation(loaded.animation, *loaded.scene, *mesh, fit);
  const int32_t modelFaceCount = mesh->faceCount;
  // The looks hold the model's faces only: the stage's stay white.
  if (materialsDecide)
    loaded.materialLooks = MakeMaterialLooks(*loaded.scene, *mesh, modelPath, &loaded.textureFiles);
  loaded.modelFiles = model.assimp.filesRead;
  if (request.stage) {
    if (MeshObject* staged = MeshWithStage(*mesh)) mesh.reset(staged);
  }
  loaded.mesh = mesh.release();
  // Vertex normals are averaged from the face normals, so those come first.
  ComputeFaceNormals(loaded.mesh);
  ComputeVertexNormals(loaded.mesh);
  // The shadow modes' structures are made when each mode is first drawn
  // (shadow_structures.h).
  loaded.texturedFaceCount = modelFaceCount;

  if (!materialsDecide) {
    loaded.textureUploaded = UploadTexture(*loaded.textureImage, texturePath);
  }
  ReplaceLoadedScene(&loaded);
  return SetupResult::kReady;
}

}  // namespace

SetupResult LoadModelIntoScene(const SceneRequest& request, std::string* refusal) {
  // Why the model is not used: on stderr, or handed back for a replacement.
  auto refuse = [refusal](const std::string& line) {
    if (refusal != nullptr) {
      *refusal = line;
    } else {
      std::fprintf(stderr, "%s\n", line.c_str());
    }
  };
  try {
    return BuildScene(request, refusal, refuse);
  } catch (const std::bad_alloc&) {
    // What was built is released by now; the scene drawn, if any, stays.
    refuse(request.modelPath + ": not enough memory to set the model up");
    return SetupResult::kModelUnusable;
  }
}

SetupResult SetupScene(HWND window) {
  if (!InitOpenGL(window)) {
    std::fprintf(stderr, "shadow_volume: no OpenGL context: %s\n", PlatformFailureReason());
    return SetupResult::kNoContext;
  }
  const StencilSupport stencil = QueryStencilSupport();
  Shadows.stencilAvailable = stencil.bits > 0;
  Shadows.stencilWraps = stencil.wrapping;
  Shadows.streamIndices = stencil.streamIndices;
  Shadows.stencilTwoSided = stencil.twoSided;
  if (!Shadows.stencilAvailable && Shadows.mode == ShadowMode::kExact) {
    std::fprintf(stderr,
                 "shadow_volume: the OpenGL context has no stencil buffer: exact shadows are "
                 "unavailable; drawing blended shadows\n");
    Shadows.mode = ShadowMode::kBlend;
  }
  // Face ids need 8 bits per colour; the mask goes through the stencil.
  GLint colourBits[3] = {0, 0, 0};
  glGetIntegerv(GL_RED_BITS, &colourBits[0]);
  glGetIntegerv(GL_GREEN_BITS, &colourBits[1]);
  glGetIntegerv(GL_BLUE_BITS, &colourBits[2]);
  const char* noTrace = !TracingAvailable() ? "this build has no Embree"
                        : !Shadows.stencilAvailable ? "the OpenGL context has no stencil buffer"
                        : colourBits[0] < 8 || colourBits[1] < 8 || colourBits[2] < 8
                            ? "the OpenGL context has fewer than 8 bits per colour"
                            : nullptr;
  Shadows.traceAvailable = noTrace == nullptr;
  // Soft shadows count each sample point in the stencil buffer and keep
  // face ids and sample bits in the colour bytes.
  Shadows.softAvailable = Shadows.stencilAvailable && colourBits[0] >= 8 && colourBits[1] >= 8 &&
                          colourBits[2] >= 8;
  if (noTrace != nullptr && (Shadows.mode == ShadowMode::kTraced || Shadows.truth)) {
    std::fprintf(stderr, "shadow_volume: %s: traced shadows and the truth view are unavailable%s\n",
                 noTrace, Shadows.mode == ShadowMode::kTraced ? "; drawing blended shadows" : "");
    if (Shadows.mode == ShadowMode::kTraced) Shadows.mode = ShadowMode::kBlend;
    Shadows.truth = false;
  }
  glEnable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);  // vertex colours come from LightVertex
  glEnable(GL_TEXTURE_2D);
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  GlContext.sceneTexture = texture;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);  // no mipmaps needed
  // The textured fragment takes the texel's colour; light and shadow come in
  // through the blending of the frame's passes.
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
  const SetupResult loaded = LoadModelIntoScene(RequestedScene);
  if (loaded != SetupResult::kReady) return loaded;

  // The eye at (0, 0, 200), the light at its start.
  PlaceStartView();
  if (!AnyVertexInView(*LoadedScene.mesh))
    std::fprintf(stderr,
                 "%s: no vertex of the model lies in the first frame's view (eye at 0, 0, 200, "
                 "looking towards -z); run with --fit to centre and scale it into view\n",
                 RequestedScene.modelPath.c_str());
  return SetupResult::kReady;
}
