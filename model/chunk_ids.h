// The 3DS chunk ids, by name: the ones the model reader enters or reads, and
// the few more that writers of test files and of the shipped model put in
// (the reader skips those whole, like any id not listed).
#pragma once

#include <cstdint>

// File structure
constexpr uint16_t kChunkMain = 0x4D4D;         // the whole file
constexpr uint16_t kChunkFileVersion = 0x0002;  // skipped
constexpr uint16_t kChunkEditor = 0x3D3D;       // editor data: objects and materials
constexpr uint16_t kChunkMeshVersion = 0x3D3E;  // skipped

// Keyframer: read apart from the walk (model/keyframer.h), which skips it
constexpr uint16_t kChunkKeyframer = 0xB000;      // the section: node tags and more
constexpr uint16_t kChunkAmbientNode = 0xB001;    // first of the node tags B001..B007
constexpr uint16_t kChunkObjectNode = 0xB002;     // an object's node: the chunks below
constexpr uint16_t kChunkSpotNode = 0xB007;       // last of the node tags
constexpr uint16_t kChunkFrameRange = 0xB008;     // first and last frame, 32 bits each
constexpr uint16_t kChunkNodeHeader = 0xB010;     // name, two flag words, parent id
constexpr uint16_t kChunkPivot = 0xB013;          // x y z floats
constexpr uint16_t kChunkPositionTrack = 0xB020;  // keys of x y z
constexpr uint16_t kChunkRotationTrack = 0xB021;  // keys of angle, axis x y z
constexpr uint16_t kChunkScaleTrack = 0xB022;     // keys of x y z
constexpr uint16_t kChunkNodeId = 0xB030;         // the node's 16-bit id

// Objects
constexpr uint16_t kChunkNamedObject = 0x4000;   // a name, then the object's chunks
constexpr uint16_t kChunkTriangleMesh = 0x4100;  // holds the mesh data chunks
constexpr uint16_t kChunkVertexList = 0x4110;    // count, then x y z floats
constexpr uint16_t kChunkFaceList = 0x4120;      // count, then a b c flags
constexpr uint16_t kChunkFaceMaterial = 0x4130;  // material name, then its faces
constexpr uint16_t kChunkTexCoords = 0x4140;     // count, then u v floats
constexpr uint16_t kChunkLocalMatrix = 0x4160;   // 3 x 3 rows, then the translation
constexpr uint16_t kChunkLight = 0x4600;         // skipped

// Materials
constexpr uint16_t kChunkMaterial = 0xAFFF;  // holds one material's chunks
constexpr uint16_t kChunkMaterialName = 0xA000;
constexpr uint16_t kChunkAmbient = 0xA010;            // arms the next colour
constexpr uint16_t kChunkDiffuse = 0xA020;            // likewise
constexpr uint16_t kChunkSpecular = 0xA030;           // likewise
constexpr uint16_t kChunkShininess = 0xA040;          // arms the next percentage
constexpr uint16_t kChunkShininessStrength = 0xA041;  // likewise
constexpr uint16_t kChunkTransparency = 0xA050;       // likewise, counted from 100 down
constexpr uint16_t kChunkSelfIllumination = 0xA084;   // likewise
constexpr uint16_t kChunkTextureMap = 0xA200;         // arms a percentage and a map name
constexpr uint16_t kChunkOpacityMap = 0xA210;         // likewise
constexpr uint16_t kChunkBumpMap = 0xA230;            // likewise
constexpr uint16_t kChunkMapFileName = 0xA300;        // a name for the armed map

// Values that the property chunks above arm
constexpr uint16_t kChunkColourFloat = 0x0010;     // three floats r g b, 0..1
constexpr uint16_t kChunkColour24 = 0x0011;        // three bytes r g b
constexpr uint16_t kChunkLinColour24 = 0x0012;     // three bytes, gamma-corrected twin: skipped
constexpr uint16_t kChunkLinColourFloat = 0x0013;  // three floats, likewise
constexpr uint16_t kChunkPercentInt = 0x0030;   // a signed 16-bit percentage
