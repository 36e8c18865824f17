// Per-vertex lighting computed on the processor: one point light with a finite
// reach. The lit pass fills the process-wide PointLight (render_state.h)
// through the three setters at the start of every frame and asks LightVertex
// for the colour of each vertex it sends. Nothing here touches OpenGL;
// nothing clamps colours.
#pragma once

#include "model/scene.h"
#include "render/render_state.h"

// Stores the light's position and reach. A radius of 0 or less lights nothing.
void SetLightPosition(float x, float y, float z, float radius);

// Stores the light's colour.
void SetLightColour(float red, float green, float blue);

// Stores the ambient colour, the least colour any vertex gets.
void SetLightAmbient(float red, float green, float blue);

// The colour of a vertex with a normal of any non-zero length at a position:
// ambient plus the light's excess over ambient times a diffuse term and a
// distance attenuation. The normal is expected to point the way the light's
// rays travel for a lit face (the mesh's stored normals point to the back of
// a counter-clockwise front face). A zero or NaN normal,
// or a vertex exactly at the light, yields the ambient colour.
void LightVertex(Vec3 normal, Vec3 position, float& red, float& green, float& blue);

// The same, for callers holding the normal and position as loose coordinates.
void LightVertex(float nx, float ny, float nz, float px, float py, float pz, float& red,
                 float& green, float& blue);
