// The renderer's process-wide variables with their starting values; see
// render_state.h for who writes and reads each.
#include "render/render_state.h"

#include "render/camera.h"

GlContextState GlContext;
PIXELFORMATDESCRIPTOR PixelFormatRequest;
SceneRequest RequestedScene;
SceneGlobals LoadedScene;
ShadowView Shadows;
TraceBuffers Traced;
SoftShadowCounts Soft;
TruthCount LastTruth;
Vec3 CameraPivot = {0.0f, 0.0f, 0.0f};
Vec3 LightPosition = kStartLight;
LightParams PointLight;
