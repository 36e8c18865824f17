// sv-inspect model FILE: prints what the 3DS reader made of FILE, one record
// per line: the scene, then each object, then each material. Names are
// printed in double quotes with '"', '\' and bytes outside printable ASCII
// escaped (\" \\ \xHH), so every record stays on one line.
#include <cstdio>
#include <string>

#include "model/load3ds.h"
#include "tools/reports.h"

namespace {

std::string Quoted(const char* name) {
  std::string out = "\"";
  for (const char* p = name; *p != '\0' && p < name + kNameSize; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void PrintObject(int index, const MeshObject& object) {
  std::printf("object %d name=%s vertices=%d faces=%d texcoords=%s", index,
              Quoted(object.name).c_str(), object.vertexCount, object.faceCount,
              object.texCoords != nullptr ? "yes" : "no");
  if (object.materialIndex >= 0) {
    std::printf(" material=%d", object.materialIndex);
  } else {
    std::printf(" material=none");
  }
  if (object.vertexCount > 0) {
    Vec3 lo = object.vertices[0], hi = object.vertices[0];
    for (int i = 1; i < object.vertexCount; ++i) {
      const Vec3& v = object.vertices[i];
      if (v.x < lo.x) lo.x = v.x;
      if (v.y < lo.y) lo.y = v.y;
      if (v.z < lo.z) lo.z = v.z;
      if (v.x > hi.x) hi.x = v.x;
      if (v.y > hi.y) hi.y = v.y;
      if (v.z > hi.z) hi.z = v.z;
    }
    std::printf(" bbox=%g,%g,%g,%g,%g,%g", lo.x, lo.y, lo.z, hi.x, hi.y, hi.z);
  } else {
    std::printf(" bbox=none");
  }
  MeshDefect defect = ValidateMesh(object);
  if (defect.face >= 0) {
    std::printf(" bad_face=%d\n", defect.face);
  } else {
    std::printf(" bad_face=none\n");
  }
}

void PrintMaterial(int index, const Material& m) {
  std::printf(
      "material %d name=%s ambient=0x%06X diffuse=0x%06X specular=0x%06X shininess=%g "
      "strength=%g opacity=%g self_illum=%g texture=%s opacity_map=%s bump_map=%s\n",
      index, Quoted(m.name).c_str(), static_cast<unsigned>(m.ambientColour),
      static_cast<unsigned>(m.diffuseColour), static_cast<unsigned>(m.specularColour), m.shininess,
      m.shininessStrength, m.opacity, m.selfIllumination, Quoted(m.textureMap.fileName).c_str(),
      Quoted(m.opacityMap.fileName).c_str(), Quoted(m.bumpMap.fileName).c_str());
}

}  // namespace

// argv: "model", FILE. Exit 0 after printing, 2 with one line on standard
// error when FILE cannot be read or is not a 3DS file, 64 for a bad command line.
int InspectModel(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sv-inspect model FILE\n");
    return 64;
  }
  const char* path = argv[1];
  const FileBytes file = ReadWholeFile(path, kModelFileLimits);
  if (file.failure != FileFailure::kNone) {
    std::fprintf(stderr, "sv-inspect: %s: cannot read: %s\n", path,
                 DescribeFileFailure(file, kModelFileLimits).c_str());
    return 2;
  }
  Scene* scene = Load3dsSceneFromBytes(file.data, file.size, true);
  if (scene == nullptr) {
    std::fprintf(stderr, "sv-inspect: %s: not a 3DS file: it does not start with the bytes 4D 4D\n",
                 path);
    return 2;
  }
  std::printf("scene objects=%d materials=%d vertices=%d faces=%d\n", scene->objectCount,
              scene->materialCount, scene->totalVertexCount, scene->totalFaceCount);
  for (int i = 0; i < scene->objectCount; ++i) PrintObject(i, *scene->objects[i]);
  for (int i = 0; i < scene->materialCount; ++i) PrintMaterial(i, *scene->materials[i]);
  FreeScene(scene);
  return 0;
}
