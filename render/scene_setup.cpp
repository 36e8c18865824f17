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
#include <map>
#include <string>
#include <vector>

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
#include "render/stage.h"
#include "shadow/edges.h"
#include "shadow/exact_volume.h"
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

// The image's texels as OpenGL reads them for an upright texture: rows
// bottom first, so the image's top row lies at t = 1 as 3DS texture
// coordinates mean it, scaled down by averaging whole blocks of pixels to
// `width` x `height` (at most the image's own size).
std::vector<uint8_t> UprightTexels(const TextureImage& image, int samples, int width, int height) {
  std::vector<uint8_t> texels(static_cast<size_t>(width) * height * samples);
  const int64_t sourceWidth = image.width, sourceHeight = image.height;
  std::vector<uint32_t> sum(samples);
  for (int y = 0; y < height; ++y) {
    // Output row y (bottom first) covers these source rows (top first).
    const int64_t top = height - 1 - y;
    const int64_t y0 = top * sourceHeight / height;
    const int64_t y1 = std::max(y0 + 1, (top + 1) * sourceHeight / height);
    for (int x = 0; x < width; ++x) {
      const int64_t x0 = x * sourceWidth / width;
      const int64_t x1 = std::max(x0 + 1, (x + 1) * sourceWidth / width);
      std::fill(sum.begin(), sum.end(), 0u);
      for (int64_t sy = y0; sy < y1; ++sy) {
        const uint8_t* row = image.pixels + (sy * sourceWidth) * samples;
        for (int64_t sx = x0; sx < x1; ++sx)
          for (int k = 0; k < samples; ++k) sum[k] += row[sx * samples + k];
      }
      const uint32_t count = static_cast<uint32_t>((y1 - y0) * (x1 - x0));
      uint8_t* out = &texels[(static_cast<size_t>(y) * width + x) * samples];
      for (int k = 0; k < samples; ++k) out[k] = static_cast<uint8_t>((sum[k] + count / 2) / count);
    }
  }
  return texels;
}

// Uploads the decoded image, upright, to the bound texture as RGB. Rows are
// tightly packed, so the unpack alignment is 1; four samples lose their
// alpha. A side above GL_MAX_TEXTURE_SIZE is scaled down to that limit, with a
// note. An image without pixels is not uploaded at all, which leaves the
// texture incomplete and texturing in effect off, as for a missing file; so
// does an upload OpenGL refuses, which is reported. Returns whether a
// texture image was defined.
bool UploadTexture(const TextureImage& image, const std::string& path) {
  if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) return false;
  if (image.samples != 3 && image.samples != 4) return false;
  const int samples = image.samples;
  GLint limit = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
  int width = image.width, height = image.height;
  if (limit > 0 && (width > limit || height > limit)) {
    width = std::min(width, static_cast<int>(limit));
    height = std::min(height, static_cast<int>(limit));
    std::fprintf(stderr,
                 "%s: %d x %d pixels is more than this OpenGL's texture limit of %d; scaled down "
                 "to %d x %d\n",
                 path.c_str(), image.width, image.height, static_cast<int>(limit), width, height);
  }
  std::vector<uint8_t> texels = UprightTexels(image, samples, width, height);
  // The texture is stored as RGB, as it always was (DECAL ignores no alpha
  // it lacks): an RGBA image's alpha is dropped here rather than by OpenGL,
  // since WebGL wants the upload's format to match the stored one.
  if (samples == 4) {
    const size_t pixels = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < pixels; ++i) {
      for (int k = 0; k < 3; ++k) texels[3 * i + k] = texels[4 * i + k];
    }
    texels.resize(pixels * 3);
  }
  // Errors left by earlier calls would be blamed on the upload.
  for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i) {
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR) {
    std::fprintf(stderr, "%s: OpenGL refused the %d x %d texture (error 0x%04X); drawing untextured\n",
                 path.c_str(), width, height, static_cast<unsigned>(error));
    return false;
  }
  return true;
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

// A new texture object with the default texture's parameters, holding
// `image` upright; 0 when it has no pixels or OpenGL refuses it.
unsigned int MakeTextureObject(const TextureImage& image, const std::string& name) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  const bool uploaded = UploadTexture(image, name);
  glBindTexture(GL_TEXTURE_2D, GlContext.sceneTexture);
  if (!uploaded) {
    glDeleteTextures(1, &texture);
    return 0;
  }
  return texture;
}

// The decoded image of a texture found for a material.
TextureImage ReadMaterialTexture(const Scene& scene, const TextureSource& source) {
  if (source.embedded < 0)
    return LoadTextureFromFile(ReadLocated(source.file, kTextureFileLimits, nullptr),
                               source.path.c_str());
  const EmbeddedTexture& embedded = scene.embeddedTextures[source.embedded];
  if (embedded.width == 0)
    return LoadTextureFromMemory(embedded.bytes.data(), embedded.bytes.size(),
                                 embedded.name.c_str());
  TextureImage image;  // raw RGBA texels
  if (embedded.height <= 0 ||
      embedded.bytes.size() / 4 / static_cast<size_t>(embedded.width) <
          static_cast<size_t>(embedded.height))
    return image;
  image.width = embedded.width;
  image.height = embedded.height;
  image.samples = 4;
  image.decodedPixels = embedded.bytes;
  image.pixels = image.decodedPixels.data();
  return image;
}

// One look per material of `scene`, and one for the faces without a
// material: the material's texture when it names one that can be read, its
// diffuse colour otherwise. A texture that cannot be found or read gives one
// line naming it. Textures named by several materials are read once.
std::vector<MaterialLook> MakeMaterialLooks(const Scene& scene, const MeshObject& mesh,
                                            const std::string& modelPath) {
  std::vector<MaterialLook> looks(static_cast<size_t>(scene.materialCount) + 1);
  std::map<std::string, unsigned int> made;  // by path or "*N"
  for (int m = 0; m < scene.materialCount; ++m) {
    const Material& material = *scene.materials[m];
    MaterialLook& look = looks[m];
    look.colour[0] = ((material.diffuseColour >> 16) & 0xFF) / 255.0f;
    look.colour[1] = ((material.diffuseColour >> 8) & 0xFF) / 255.0f;
    look.colour[2] = (material.diffuseColour & 0xFF) / 255.0f;
    const std::string name = MaterialTextureName(material);
    if (name.empty()) continue;
    const TextureSource source = FindMaterialTexture(scene, material, modelPath);
    const std::string key = source.embedded >= 0 ? "*" + std::to_string(source.embedded) : source.path;
    if (key.empty()) {
      std::fprintf(stderr, "%s: texture %s of material %s %s; the material shows its colour\n",
                   modelPath.c_str(), QuotedText(name).c_str(), QuotedName(material.name).c_str(),
                   source.why.c_str());
      continue;
    }
    const auto known = made.find(key);
    if (known != made.end()) {
      look.texture = known->second;
      continue;
    }
    const std::string shown = source.embedded >= 0 ? modelPath + " (embedded " + name + ")" : source.path;
    const TextureImage image = ReadMaterialTexture(scene, source);
    look.texture = MakeTextureObject(image, shown);
    if (image.pixels == nullptr) {
      const std::string note = DescribeTextureLoad(shown.c_str(), image);
      std::fflush(stdout);  // the TIFF reader's own message comes first
      std::fprintf(stderr, "%s; material %s shows its colour\n",
                   note.empty() ? (shown + ": cannot decode the texture").c_str() : note.c_str(),
                   QuotedName(material.name).c_str());
    }
    made[key] = look.texture;
  }
  for (int f = 0; f < mesh.faceCount; ++f) {
    const int32_t m = mesh.faceMaterials != nullptr ? mesh.faceMaterials[f] : -1;
    looks[m >= 0 && m < scene.materialCount ? m : scene.materialCount].faces.push_back(f);
  }
  return looks;
}

}  // namespace

// Releases what `scene` holds (null pointers allowed) and leaves it empty.
void ReleaseSceneGlobals(SceneGlobals* scene) {
  for (const MaterialLook& look : scene->materialLooks) {
    // Materials naming one file share one object: delete it once.
    GLuint texture = look.texture;
    if (texture != 0 && glIsTexture(texture)) glDeleteTextures(1, &texture);
  }
  delete scene->textureImage;
  FreeScene(scene->scene);
  FreeMeshObject(scene->mesh);
  delete scene->shadowVolume;
  delete scene->exactVolume;
  *scene = SceneGlobals();
}

SetupResult LoadModelIntoScene(const SceneRequest& request, std::string* refusal) {
  // Why the model is not used: on stderr, or handed back for a replacement.
  auto refuse = [refusal](const std::string& line) {
    if (refusal != nullptr) {
      *refusal = line;
    } else {
      std::fprintf(stderr, "%s\n", line.c_str());
    }
  };
  const std::string& modelPath = request.modelPath;
  const std::string& texturePath = request.texturePath;
  SceneGlobals loaded;
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
    ReleaseSceneGlobals(&loaded);
    return SetupResult::kModelUnusable;
  }
  if (model.assimp.points > 0 || model.assimp.lines > 0)
    std::fprintf(stderr, "%s: %lld points and %lld lines are left out: only triangles are drawn\n",
                 modelPath.c_str(), static_cast<long long>(model.assimp.points),
                 static_cast<long long>(model.assimp.lines));
  // Every drawable object, in file order, becomes the one mesh drawn. A file
  // cut off inside a chunk is said first, as it explains what follows.
  std::vector<LeftOutObject> leftOut;
  MeshObject* mesh = MergeMeshObjects(*loaded.scene, &leftOut);
  const std::string cutOff = DescribeCutOff(*loaded.scene);
  // A replacement cut off inside a chunk is most likely a save still being
  // written: the model drawn now stays.
  if (!cutOff.empty() && refusal != nullptr) {
    refuse(modelPath + ": " + cutOff);
    FreeMeshObject(mesh);
    ReleaseSceneGlobals(&loaded);
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
    ReleaseSceneGlobals(&loaded);
    return SetupResult::kModelUnusable;
  }
  if (request.fit) FitMesh(mesh, kFitHalfExtent);
  const int32_t modelFaceCount = mesh->faceCount;
  // The looks hold the model's faces only: the stage's stay white.
  if (materialsDecide) loaded.materialLooks = MakeMaterialLooks(*loaded.scene, *mesh, modelPath);
  if (request.stage) {
    if (MeshObject* staged = MeshWithStage(*mesh)) {
      FreeMeshObject(mesh);
      mesh = staged;
    }
  }
  loaded.mesh = mesh;
  // Vertex normals are averaged from the face normals, so those come first.
  ComputeFaceNormals(mesh);
  ComputeVertexNormals(mesh);
  BuildEdgeList(mesh);

  loaded.shadowVolume = new ShadowVolume();
  loaded.shadowVolume->BindVertexArray(mesh->vertices, mesh->vertexCount, sizeof(Vec3), 0);
  loaded.shadowVolume->BindEdgeArray(mesh->edges, mesh->edgeCount, sizeof(EdgeRecord), 0);
  loaded.shadowVolume->SetExtrusion(kSceneExtrusion);
  loaded.texturedFaceCount = modelFaceCount;
  if (Shadows.stencilAvailable) {
    loaded.exactVolume = new ExactShadowVolume();
    loaded.exactVolume->Build(mesh->vertices, mesh->vertexCount, mesh->faces, mesh->faceCount);
  }

  if (!materialsDecide) {
    loaded.textureUploaded = UploadTexture(*loaded.textureImage, texturePath);
  }
  // The default texture keeps the last image defined for it: an empty one
  // makes it incomplete again, so the new model shows untextured.
  if (!loaded.textureUploaded && LoadedScene.textureUploaded)
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
  ReleaseSceneGlobals(&LoadedScene);
  LoadedScene = loaded;
  return SetupResult::kReady;
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
