// Every process-wide variable of the renderer, in one place: what it holds,
// who writes it and who reads it. All of it is made during start-up and lives
// until the process ends; one thread only, no locks. Process-wide variables
// are named in CapitalisedWords throughout the program; the application's
// own are listed in app/app_state.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/folder_lookup.h"
#include "model/scene.h"
#include "platform/win32.h"
#include "render/scene_settings.h"

class ExactShadowVolume;
struct SceneAnimation;
class ShadowTracer;
class ShadowVolume;
struct TextureImage;

// The OpenGL context of the application window.
struct GlContextState {
  HWND window = nullptr;             // the window given to InitOpenGL
  HDC deviceContext = nullptr;       // GetDC(window); kept for the process's life
  HGLRC renderingContext = nullptr;  // null before creation and after ReleaseOpenGL
  // The texture object the scene's own texture lives in, bound whenever no
  // material's is: desktop OpenGL's default texture (name 0) would do, but
  // WebGL has none.
  unsigned int sceneTexture = 0;
  // The page only (it has no glDrawPixels): the texture DrawClientPixels
  // draws its images through, made on first use, and the size and format
  // of the image it holds now.
  unsigned int clientImageTexture = 0;
  int clientImageWidth = 0;
  int clientImageHeight = 0;
  unsigned int clientImageFormat = 0;
};

// The files the program reads when the command line names no others, from
// the current directory.
constexpr const char* kModelFileName = "shadow2.3DS";
constexpr const char* kTextureFileName = "txt.tif";

// What the command line asks of the scene.
struct SceneRequest {
  std::string modelPath = kModelFileName;      // --model; every message names it as given
  std::string texturePath = kTextureFileName;  // --texture
  bool textureGiven = false;  // --texture named it: that one texture over everything
  bool fit = false;                            // --fit: centre the model, largest half-extent 50
  bool stage = false;                          // --stage: a floor and a back wall around it
  int animation = 0;                           // --animation: the clip a model that moves starts in
  double time = 0;                             // --time: seconds into it
  bool paused = false;                         // --paused
};

// How shadows are drawn now.
struct ShadowView {
  ShadowMode mode = ShadowMode::kBlend;  // --shadows, then the S key
  bool showVolumes = false;              // --show-volumes, then the V key
  bool stencilAvailable = false;         // the context has stencil bits: exact mode can run
  bool stencilWraps = false;             // GL_INCR_WRAP / GL_DECR_WRAP are offered
  bool streamIndices = false;            // volumes go vertex by vertex (a WebGL context)
  bool stencilTwoSided = false;          // glStencilOpSeparate is offered
  // Traced mode can run: the build has Embree, the context a stencil buffer
  // and 8 bits per colour for the face ids.
  bool traceAvailable = false;
  bool truth = false;  // --truth, then the T key: mark where the mode disagrees with the trace
  // The light's radius: 0 a point, else a disc for soft shadows in exact and
  // traced modes (render/soft_shadows.h). --light-size, then + and -.
  float lightSize = 0;
  // Soft shadows can be drawn: the context has a stencil buffer and 8 bits
  // per colour.
  bool softAvailable = false;
};

// The traced shadows' images, sized to the client area and kept between
// frames, so that a frame allocates nothing unless the window's size changed.
// Rows bottom first, as OpenGL reads them.
struct TraceBuffers {
  std::vector<uint8_t> faceIds;     // RGBA per pixel: face + 1 as the face-id pass drew it,
                                    // then the truth view's marks
  std::vector<uint8_t> mask;        // per pixel: kTraceShadowed, kTraceUnreached bits
  std::vector<uint8_t> modeShadow;  // per pixel: 1 where the drawn mode shadows
  // The page only: RGBA read back where one channel was asked for, as WebGL
  // reads no other format for certain.
  std::vector<uint8_t> readRgba;
};

// Soft shadows' counts, kept between frames (render/soft_shadows.h); sized
// to the client area, so a frame allocates nothing unless the window's size
// changed. Rows bottom first.
struct SoftShadowCounts {
  // What the counts were taken for: any change starts them again.
  ShadowMode mode = ShadowMode::kOff;
  Vec3 light = {0, 0, 0};
  float size = 0;
  float projection[16] = {};
  float modelview[16] = {};
  int viewport[4] = {0, 0, 0, 0};
  int width = 0;            // the client area, in pixels
  int height = 0;
  const MeshObject* mesh = nullptr;
  uint64_t generation = 0;  // SceneGlobals::generation
  uint64_t pose = 0;        // SceneGlobals::poseCount
  int samples = 0;          // sample points taken so far
  std::vector<uint16_t> front;   // per pixel: samples in front of its face
  std::vector<uint16_t> hidden;  // per pixel: of those, the ones it cannot see
  std::vector<uint8_t> shade;    // per pixel: 255 x the darkening, 255 where lit
  std::vector<uint8_t> bits;     // per pixel of the frame's rectangle: bit j, sample j hidden
  int noted = 0;                 // the last note on hard shadows of a round light
};

// The truth view's count for the last frame drawn with it.
struct TruthCount {
  bool measured = false;  // the last frame drew the truth view
  ShadowMode mode = ShadowMode::kBlend;  // the mode drawn (after any fallback)
  int64_t counted = 0;    // pixels where the mode or the trace has a shadow
  int64_t wrong = 0;      // of those, where they disagree: the marked pixels
};

// How the faces of one material are drawn when the model's materials decide
// its look.
struct MaterialLook {
  unsigned int texture = 0;        // OpenGL texture object; 0: the material shows its colour
  float colour[3] = {1, 1, 1};     // the diffuse colour, red, green, blue 0..1
  std::vector<int32_t> faces;      // the merged mesh's faces of this material, in mesh order
};

// A material texture read from a file beside the model: where it was found,
// its texture object and the looks that show it, so that a new save of the
// file replaces the image alone.
struct MaterialTextureFile {
  FolderFile file;                // as located; file.path names it in messages
  unsigned int texture = 0;       // OpenGL texture object; 0 while no save of it decodes
  std::vector<size_t> looks;      // indices in SceneGlobals::materialLooks
};

// What SetupScene made, read by every frame.
struct SceneGlobals {
  TextureImage* textureImage = nullptr;  // kept with its pixels after the upload
  Scene* scene = nullptr;                // the model as read, every object kept
  MeshObject* mesh = nullptr;            // the scene's drawable objects merged: the mesh drawn
  // Each mode's structures, made when the mode is first drawn
  // (shadow_structures.h); null before, or when they could not be made.
  ShadowVolume* shadowVolume = nullptr;  // bound to the merged mesh's arrays and edge list
  ExactShadowVolume* exactVolume = nullptr;  // the stencil-counted volumes of the same mesh
  ShadowTracer* tracer = nullptr;            // the same mesh's triangles for tracing
  bool blendUnavailable = false;  // building the blend volume failed: no shadows drawn
  bool exactUnavailable = false;  // building the exact volume failed: blend stands in
  bool tracerUnavailable = false;  // the tracer could not be made: blend stands in
  SceneAnimation* animation = nullptr;       // null unless the model moves (render/scene_animation.h)
  uint64_t generation = 0;  // a new number for every model set up (scene_reload.cpp)
  uint64_t poseCount = 0;   // counts the frames that moved the mesh
  int32_t texturedFaceCount = 0;  // faces [0, this) are the model's; the rest, the stage, stay white
  bool textureUploaded = false;          // false: no usable texture, the mesh is drawn untextured
  // Empty when one texture lies over everything (--texture, or no material
  // names a texture); else one entry per material of the scene and a last one
  // for the faces with no material, drawn in that order.
  std::vector<MaterialLook> materialLooks;
  std::vector<MaterialTextureFile> textureFiles;  // the looks' textures that come from files
  // The files the model's reader opened besides the model (a glTF's buffers,
  // an OBJ's material library), as located beside it.
  std::vector<std::string> modelFiles;
};

// The point light of the per-vertex lighting.
struct LightParams {
  Vec3 position;     // the light, in the mesh's model coordinates
  float radius;      // distance at which the attenuation reaches 0, model units
  float colour[3];   // red, green, blue of the light, 0..1
  float ambient[3];  // red, green, blue every vertex gets at least, 0..1
};

// Written by InitOpenGL and ReleaseOpenGL; frames present on its
// deviceContext.
extern GlContextState GlContext;

// The pixel-format request, refilled by every InitOpenGL call.
extern PIXELFORMATDESCRIPTOR PixelFormatRequest;

// Written only by main, from the run options, before WinMain; read by
// SetupScene.
extern SceneRequest RequestedScene;

// Written only by SetupScene; read by every frame.
extern SceneGlobals LoadedScene;

// Written by main (from the run options), SetupScene (stencil bits; exact
// mode falls back to blend without them) and the S and V keys; read by every
// frame and the frame-rate title.
extern ShadowView Shadows;

// Written and read only by RenderFrame's traced passes.
extern TraceBuffers Traced;

// Written and read only by RenderFrame's soft shadows; read by the help
// overlay.
extern SoftShadowCounts Soft;

// Written by RenderFrame; read by the help overlay and the end-of-frame
// step's truth line.
extern TruthCount LastTruth;

// The negated eye position, in model coordinates: the sum of all camera
// translation steps, turned with the eye by the orbit. (0, 0, 0) at start,
// (0, 0, -200) after scene set-up. Changed only by camera.cpp.
extern Vec3 CameraPivot;

// The point light's position in model coordinates; starts at (20, 20, 70).
// Changed only by ApplyHeldKeyMotion in light mode and by PlaceStartView.
extern Vec3 LightPosition;

// Written only by the setters of lighting.h, at the start of every lit pass;
// read by LightVertex.
extern LightParams PointLight;
