// The records of one loaded 3DS model: a Scene with its tables of mesh
// objects and materials, and the element types of the mesh arrays.
// Plain data with public fields; the 3DS reader fills them, the mesh
// preprocessing adds the derived arrays, the renderer reads them.
// Every record owns the arrays its pointer fields name (MeshObject::material
// excepted: it points into the scene's own material table). Records are
// allocated with new (zero-initialised), arrays with new[].
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr int kMaxObjects = 1024;   // capacity of Scene::objects
constexpr int kMaxMaterials = 256;  // capacity of Scene::materials
constexpr int kNameSize = 64;       // every name field: up to 63 bytes and a NUL

// A position, normal or direction; arrays of it are tightly packed triples.
struct Vec3 {
  float x;
  float y;
  float z;
};

// One texture coordinate pair, tightly packed.
struct TexCoord {
  float u;
  float v;
};

// One triangle: three vertex indices in the file's order.
struct Face {
  int32_t index0;
  int32_t index1;
  int32_t index2;

  // The three corners as an indexable list, in the file's order.
  std::array<int32_t, 3> Corners() const { return {index0, index1, index2}; }
};

// One edge of one triangle, with the off-edge vertex of that triangle and
// of the neighbouring triangle. All four fields are -2 in a removed record.
struct EdgeRecord {
  int32_t edgeStart;          // first edge vertex, in the producing face's winding
  int32_t edgeEnd;            // second edge vertex
  int32_t opposite;           // the producing face's third vertex
  int32_t neighbourOpposite;  // the neighbour's off-edge vertex, -1 when none
};

// One map slot of a material.
struct MaterialMap {
  float strength;            // map percentage x 0.01
  char fileName[kNameSize];  // NUL-terminated, rest zero; empty when none
};

// One material of the file; a new record is all zero.
struct Material {
  char name[kNameSize];     // NUL-terminated, rest zero
  int32_t ambientColour;    // 0x00RRGGBB
  int32_t diffuseColour;    // 0x00RRGGBB
  int32_t specularColour;   // 0x00RRGGBB
  float shininess;          // percentage x 0.01
  float shininessStrength;  // percentage x 0.01
  float opacity;            // (100 - transparency percentage) x 0.01
  float selfIllumination;   // percentage x 0.01
  MaterialMap textureMap;
  MaterialMap opacityMap;
  MaterialMap bumpMap;
  std::string textureName;  // a file read through assimp: its diffuse texture as named there
                            // (any length; "*N" for an embedded one), "" when none
};

// The texture a material names: textureName, else the 3DS texture map's
// file name; "" when it names none.
std::string MaterialTextureName(const Material& material);

// A texture image carried inside the model file (GLB, FBX).
struct EmbeddedTexture {
  std::string name;            // "*N", as materials name it
  std::string fileName;        // the file name the model gives it, "" when none
  std::vector<uint8_t> bytes;  // a compressed image file when width is 0, else height rows of
                               // width RGBA texels, top row first
  int32_t width = 0;
  int32_t height = 0;
};

// One triangle mesh of the file.
struct MeshObject {
  char name[kNameSize];   // NUL-terminated, rest zero
  int32_t vertexCount;    // 0 .. 65535 as read; more in a merged mesh
  int32_t faceCount;      // 0 .. 65535 as read; more in a merged mesh
  int32_t edgeCount;      // live records at the front of edges
  float localMatrix[12];  // m0 m3 m6 m1 m4 m7 m2 m5 m8 m9 m10 m11 of the file
  bool placed;            // the keyframer moves the vertices (model/keyframer.h)
  float placement[12];    // where, when placed: laid out as localMatrix
  int32_t materialIndex;  // index in Scene::materials, -1 when none is named
  Vec3* vertices;         // [vertexCount]
  Vec3* vertexNormals;    // [vertexCount], null until computed
  Face* faces;            // [faceCount]
  Vec3* faceNormals;      // [faceCount], null until computed
  TexCoord* texCoords;    // [vertexCount] or null
  EdgeRecord* edges;      // [3 x faceCount], null until built
  Material* material;     // the material at materialIndex, or null
  int32_t* faceMaterials; // [faceCount] index in Scene::materials per face, -1 for none; only
                          // in a merged mesh, and null when no merged object names a material
};

struct Rig;  // model/animation.h

// One loaded model file.
struct Scene {
  char name[kNameSize];  // always "Untitled"
  int32_t objectCount;
  int32_t totalVertexCount;  // sum of the objects' vertexCount
  int32_t totalFaceCount;    // sum of the objects' faceCount
  int32_t materialCount;
  MeshObject** objects;  // table of kMaxObjects entries, [0, objectCount) valid
  Material** materials;  // table of kMaxMaterials entries, [0, materialCount) valid
  // A file that ends inside a chunk (a cut-off copy) keeps what was read
  // before its end, and says where it ended:
  bool endsInsideChunk;  // false for a file whose chunks all end within it
  uint16_t endChunkId;   // the innermost chunk the end of the file falls in
  uint64_t fileSize;     // the file's length in bytes, where it ends
  // The keyframer section, when the file has one that cannot be used:
  // the chunk at fault and why (empty when there is no problem)
  uint16_t keyframerProblemChunk;
  uint64_t keyframerProblemOffset;
  char keyframerProblem[kNameSize];
  std::vector<EmbeddedTexture> embeddedTextures;  // read through assimp: the file's own images
  std::shared_ptr<Rig> rig;  // how the objects move (model/animation.h); null when nothing does
};

// Releases a mesh object and every array it owns. Null is allowed.
void FreeMeshObject(MeshObject* object);

// Releases a scene, its objects, its materials and both tables. Null is allowed.
void FreeScene(Scene* scene);

// A text for a message or a report line: in double quotes, with '"', '\'
// and bytes outside printable ASCII escaped (\" \\ \xHH), so it always stays
// on one line.
std::string QuotedText(const std::string& text);

// QuotedText of a name field, read up to its NUL or kNameSize bytes.
std::string QuotedName(const char* name);
