// Every process-wide variable of the renderer, in one place: what it holds,
// who writes it and who reads it. All of it is made during start-up and lives
// until the process ends; one thread only, no locks. Process-wide variables
// are named in CapitalisedWords throughout the program; the application's
// own are listed in app/app_state.h.
#pragma once

#include <string>

#include "model/scene.h"
#include "platform/win32.h"

class ShadowVolume;
struct TextureImage;

// The OpenGL context of the application window.
struct GlContextState {
  HWND window = nullptr;             // the window given to InitOpenGL
  HDC deviceContext = nullptr;       // GetDC(window); kept for the process's life
  HGLRC renderingContext = nullptr;  // null before creation and after ReleaseOpenGL
};

// The files the program reads when the command line names no others, from
// the current directory.
constexpr const char* kModelFileName = "shadow2.3DS";
constexpr const char* kTextureFileName = "txt.tif";

// What the command line asks of the scene.
struct SceneRequest {
  std::string modelPath = kModelFileName;      // --model; every message names it as given
  std::string texturePath = kTextureFileName;  // --texture
  bool fit = false;                            // --fit: centre the model, largest half-extent 50
};

// What SetupScene made, read by every frame.
struct SceneGlobals {
  TextureImage* textureImage = nullptr;  // kept with its pixels after the upload
  Scene* scene = nullptr;                // the model as read, every object kept
  MeshObject* mesh = nullptr;            // the scene's drawable objects merged: the mesh drawn
  ShadowVolume* shadowVolume = nullptr;  // bound to the merged mesh's arrays
  bool textureUploaded = false;          // false: no usable texture, the mesh is drawn untextured
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
