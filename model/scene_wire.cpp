#include "model/scene_wire.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "io/byte_reader.h"
#include "model/model_limits.h"

namespace {

constexpr char kMagic[8] = {'S', 'V', 'S', 'C', 'E', 'N', 'E', '1'};

// Record tags. A new kind of record takes the next number.
enum Tag : uint32_t {
  kEnd = 0,
  kOutcome = 1,   // error text, whether a scene follows
  kReport = 2,    // AssimpReport
  kScene = 3,     // scene fields and table sizes; before any material, object or texture
  kMaterial = 4,  // one material, in table order
  kObject = 5,    // one mesh object, in table order
  kTexture = 6,   // one embedded texture
};

constexpr uint32_t kMaxTableEntries = 1u << 20;  // as the reader makes them
constexpr uint32_t kMaxText = 1u << 20;

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>* out) : out_(out) {}

  template <typename T>
  void Put(const T& value) {
    static_assert(std::is_trivially_copyable<T>::value, "plain values only");
    PutBytes(&value, sizeof value);
  }
  void PutBytes(const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (size > 0) out_->insert(out_->end(), bytes, bytes + size);
  }
  void PutText(const std::string& text) {
    Put(static_cast<uint64_t>(text.size()));
    PutBytes(text.data(), text.size());
  }
  // Starts a record; End() fills in its length.
  void Begin(Tag tag) {
    Put(static_cast<uint32_t>(tag));
    lengthAt_ = out_->size();
    Put(uint64_t{0});
  }
  void End() {
    const uint64_t length = out_->size() - lengthAt_ - sizeof(uint64_t);
    std::memcpy(out_->data() + lengthAt_, &length, sizeof length);
  }

 private:
  std::vector<uint8_t>* out_;
  size_t lengthAt_ = 0;
};

// Reads plain values from a record's payload; any read past its end fails.
struct Reader {
  ByteReader bytes;

  template <typename T>
  bool Get(T* value) {
    static_assert(std::is_trivially_copyable<T>::value, "plain values only");
    return bytes.ReadUpTo(reinterpret_cast<uint8_t*>(value), sizeof *value) == sizeof *value;
  }
  bool GetText(std::string* text, uint64_t limit) {
    uint64_t length = 0;
    if (!Get(&length) || length > limit || length > bytes.Remaining()) return false;
    text->assign(reinterpret_cast<const char*>(bytes.data + bytes.pos), length);
    bytes.pos += length;
    return true;
  }
  // A new array of `count` elements read from the payload; null when they
  // are not all there (nothing is allocated then).
  template <typename T>
  T* GetArray(int64_t count) {
    if (count < 0 || static_cast<uint64_t>(count) > bytes.Remaining() / sizeof(T)) return nullptr;
    T* array = new T[count];
    bytes.ReadUpTo(reinterpret_cast<uint8_t*>(array), count * sizeof(T));
    return array;
  }
  bool AtEnd() const { return bytes.pos == bytes.size && !bytes.failed; }
};

void PutMaterial(Writer& w, const Material& m) {
  w.Put(m.name);
  w.Put(m.ambientColour);
  w.Put(m.diffuseColour);
  w.Put(m.specularColour);
  w.Put(m.shininess);
  w.Put(m.shininessStrength);
  w.Put(m.opacity);
  w.Put(m.selfIllumination);
  w.Put(m.textureMap);
  w.Put(m.opacityMap);
  w.Put(m.bumpMap);
  w.PutText(m.textureName);
}

bool GetMaterial(Reader& r, Material* m) {
  const bool ok = r.Get(&m->name) && r.Get(&m->ambientColour) && r.Get(&m->diffuseColour) &&
                  r.Get(&m->specularColour) && r.Get(&m->shininess) &&
                  r.Get(&m->shininessStrength) && r.Get(&m->opacity) &&
                  r.Get(&m->selfIllumination) && r.Get(&m->textureMap) && r.Get(&m->opacityMap) &&
                  r.Get(&m->bumpMap) && r.GetText(&m->textureName, kMaxText);
  // Names are read up to a NUL within the field: make sure there is one.
  m->name[kNameSize - 1] = '\0';
  for (MaterialMap* map : {&m->textureMap, &m->opacityMap, &m->bumpMap})
    map->fileName[kNameSize - 1] = '\0';
  return ok;
}

void PutObject(Writer& w, const MeshObject& o) {
  w.Put(o.name);
  w.Put(o.vertexCount);
  w.Put(o.faceCount);
  w.Put(o.materialIndex);
  w.Put(o.localMatrix);
  w.Put(static_cast<uint8_t>(o.placed));
  w.Put(o.placement);
  w.Put(static_cast<uint8_t>(o.texCoords != nullptr));
  w.Put(static_cast<uint8_t>(o.faceMaterials != nullptr));
  w.PutBytes(o.vertices, sizeof(Vec3) * o.vertexCount);
  if (o.texCoords != nullptr) w.PutBytes(o.texCoords, sizeof(TexCoord) * o.vertexCount);
  w.PutBytes(o.faces, sizeof(Face) * o.faceCount);
  if (o.faceMaterials != nullptr) w.PutBytes(o.faceMaterials, sizeof(int32_t) * o.faceCount);
}

// Reads one object into `o` (its arrays owned by it, so FreeMeshObject
// releases a half-read one). Counts are checked against what is left of the
// model limits, `vertexBudget` and `faceBudget`.
bool GetObject(Reader& r, MeshObject* o, int32_t materialCount, int64_t vertexBudget,
               int64_t faceBudget) {
  uint8_t placed = 0, hasTexCoords = 0, hasFaceMaterials = 0;
  if (!(r.Get(&o->name) && r.Get(&o->vertexCount) && r.Get(&o->faceCount) &&
        r.Get(&o->materialIndex) && r.Get(&o->localMatrix) && r.Get(&placed) &&
        r.Get(&o->placement) && r.Get(&hasTexCoords) && r.Get(&hasFaceMaterials)))
    return false;
  o->name[kNameSize - 1] = '\0';
  o->placed = placed != 0;
  if (o->vertexCount < 0 || o->vertexCount > vertexBudget || o->faceCount < 0 ||
      o->faceCount > faceBudget || o->materialIndex < -1 || o->materialIndex >= materialCount)
    return false;
  o->vertices = r.GetArray<Vec3>(o->vertexCount);
  if (o->vertices == nullptr) return false;
  if (hasTexCoords && (o->texCoords = r.GetArray<TexCoord>(o->vertexCount)) == nullptr) return false;
  if ((o->faces = r.GetArray<Face>(o->faceCount)) == nullptr) return false;
  if (hasFaceMaterials && (o->faceMaterials = r.GetArray<int32_t>(o->faceCount)) == nullptr)
    return false;
  return true;
}

void PutTexture(Writer& w, const EmbeddedTexture& t) {
  w.PutText(t.name);
  w.PutText(t.fileName);
  w.Put(t.width);
  w.Put(t.height);
  w.Put(static_cast<uint64_t>(t.bytes.size()));
  w.PutBytes(t.bytes.data(), t.bytes.size());
}

bool GetTexture(Reader& r, EmbeddedTexture* t) {
  uint64_t length = 0;
  if (!(r.GetText(&t->name, kMaxText) && r.GetText(&t->fileName, kMaxText) && r.Get(&t->width) &&
        r.Get(&t->height) && r.Get(&length)))
    return false;
  if (t->width < 0 || t->height < 0 || length > r.bytes.Remaining()) return false;
  if (t->width > 0 && length != uint64_t{4} * static_cast<uint64_t>(t->width) * t->height)
    return false;
  t->bytes.resize(length);
  r.bytes.ReadUpTo(t->bytes.data(), length);
  return true;
}

void PutReport(Writer& w, const AssimpReport& report) {
  w.PutText(report.format);
  w.Put(report.meshes);
  w.Put(report.nodes);
  w.Put(report.points);
  w.Put(report.lines);
  w.PutText(report.refused);
  w.Put(report.placedTriangles);
  w.Put(report.placedVertices);
  w.Put(static_cast<uint8_t>(report.overLimit));
}

bool GetReport(Reader& r, AssimpReport* report) {
  uint8_t overLimit = 0;
  const bool ok = r.GetText(&report->format, kMaxText) && r.Get(&report->meshes) &&
                  r.Get(&report->nodes) && r.Get(&report->points) && r.Get(&report->lines) &&
                  r.GetText(&report->refused, kMaxText) && r.Get(&report->placedTriangles) &&
                  r.Get(&report->placedVertices) && r.Get(&overLimit);
  report->overLimit = overLimit != 0;
  return ok;
}

void PutSceneFields(Writer& w, const Scene& scene) {
  w.Put(scene.name);
  w.Put(scene.objectCount);
  w.Put(scene.materialCount);
  w.Put(static_cast<uint8_t>(scene.endsInsideChunk));
  w.Put(scene.endChunkId);
  w.Put(scene.fileSize);
  w.Put(scene.keyframerProblemChunk);
  w.Put(scene.keyframerProblemOffset);
  w.Put(scene.keyframerProblem);
}

// The scene record: a new scene with empty tables of the sizes it states.
Scene* GetSceneFields(Reader& r, int32_t* objects, int32_t* materials) {
  auto scene = std::make_unique<Scene>();
  uint8_t endsInside = 0;
  if (!(r.Get(&scene->name) && r.Get(objects) && r.Get(materials) && r.Get(&endsInside) &&
        r.Get(&scene->endChunkId) && r.Get(&scene->fileSize) &&
        r.Get(&scene->keyframerProblemChunk) && r.Get(&scene->keyframerProblemOffset) &&
        r.Get(&scene->keyframerProblem)))
    return nullptr;
  if (*objects < 0 || static_cast<uint32_t>(*objects) > kMaxTableEntries || *materials < 0 ||
      static_cast<uint32_t>(*materials) > kMaxTableEntries)
    return nullptr;
  scene->name[kNameSize - 1] = '\0';
  scene->keyframerProblem[kNameSize - 1] = '\0';
  scene->endsInsideChunk = endsInside != 0;
  scene->objects = new MeshObject*[std::max(*objects, kMaxObjects)]();
  scene->materials = new Material*[std::max(*materials, kMaxMaterials)]();
  return scene.release();
}

// The decoder's state: what has been read so far, released unless handed out.
struct Decoding {
  Scene* scene = nullptr;
  int32_t objectsStated = 0, materialsStated = 0;
  bool sceneFollows = false, sawOutcome = false, sawReport = false;
  int64_t vertices = 0, faces = 0;

  ~Decoding() { FreeScene(scene); }

  // One record; false when it is malformed or out of place.
  bool Take(uint32_t tag, Reader& r, AssimpReport* report, std::string* error) {
    switch (tag) {
      case kOutcome: {
        uint8_t follows = 0;
        if (sawOutcome || !r.GetText(error, kMaxText) || !r.Get(&follows)) return false;
        sawOutcome = true;
        sceneFollows = follows != 0;
        return true;
      }
      case kReport:
        if (sawReport) return false;
        sawReport = true;
        return GetReport(r, report);
      case kScene:
        if (!sceneFollows || scene != nullptr) return false;
        scene = GetSceneFields(r, &objectsStated, &materialsStated);
        return scene != nullptr;
      case kMaterial: {
        if (scene == nullptr || scene->materialCount >= materialsStated) return false;
        Material* material = new Material();
        scene->materials[scene->materialCount++] = material;
        return GetMaterial(r, material);
      }
      case kObject: {
        if (scene == nullptr || scene->materialCount != materialsStated ||
            scene->objectCount >= objectsStated)
          return false;
        MeshObject* object = new MeshObject();
        scene->objects[scene->objectCount++] = object;
        if (!GetObject(r, object, scene->materialCount, kMaxModelVertices - vertices,
                       kMaxModelTriangles - faces))
          return false;
        object->material = object->materialIndex >= 0 ? scene->materials[object->materialIndex] : nullptr;
        vertices += object->vertexCount;
        faces += object->faceCount;
        scene->totalVertexCount = static_cast<int32_t>(vertices);
        scene->totalFaceCount = static_cast<int32_t>(faces);
        return true;
      }
      case kTexture: {
        if (scene == nullptr) return false;
        EmbeddedTexture texture;
        if (!GetTexture(r, &texture)) return false;
        scene->embeddedTextures.push_back(std::move(texture));
        return true;
      }
      default:
        return false;
    }
  }
};

}  // namespace

std::vector<uint8_t> EncodeAssimpRead(const Scene* scene, const AssimpReport& report,
                                      const std::string& error) {
  std::vector<uint8_t> out;
  Writer w(&out);
  w.PutBytes(kMagic, sizeof kMagic);
  w.Begin(kOutcome);
  w.PutText(error);
  w.Put(static_cast<uint8_t>(scene != nullptr));
  w.End();
  w.Begin(kReport);
  PutReport(w, report);
  w.End();
  if (scene != nullptr) {
    w.Begin(kScene);
    PutSceneFields(w, *scene);
    w.End();
    for (int i = 0; i < scene->materialCount; ++i) {
      w.Begin(kMaterial);
      PutMaterial(w, scene->materials[i] != nullptr ? *scene->materials[i] : Material());
      w.End();
    }
    for (int i = 0; i < scene->objectCount; ++i) {
      w.Begin(kObject);
      PutObject(w, *scene->objects[i]);
      w.End();
    }
    for (const EmbeddedTexture& texture : scene->embeddedTextures) {
      w.Begin(kTexture);
      PutTexture(w, texture);
      w.End();
    }
  }
  w.Begin(kEnd);
  w.End();
  return out;
}

bool DecodeAssimpRead(const uint8_t* data, size_t size, Scene** scene, AssimpReport* report,
                      std::string* error, std::string* problem) {
  *scene = nullptr;
  *report = AssimpReport();
  error->clear();
  if (size < sizeof kMagic || std::memcmp(data, kMagic, sizeof kMagic) != 0) {
    *problem = "it does not start with the scene stream's mark";
    return false;
  }
  try {
    Decoding decoding;
    ByteReader stream{data, size, PastEnd::kFail};
    stream.pos = sizeof kMagic;
    while (true) {
      uint32_t tag = 0;
      uint64_t length = 0;
      Reader head{stream};
      if (!head.Get(&tag) || !head.Get(&length) || length > head.bytes.Remaining()) {
        *problem = "it ends inside a record";
        return false;
      }
      stream.pos = head.bytes.pos + length;
      Reader payload{ByteReader{data + head.bytes.pos, static_cast<size_t>(length), PastEnd::kFail}};
      if (tag == kEnd) {
        if (length != 0 || stream.pos != size || !decoding.sawOutcome || !decoding.sawReport ||
            decoding.sceneFollows != (decoding.scene != nullptr) ||
            (decoding.scene != nullptr &&
             (decoding.scene->objectCount != decoding.objectsStated ||
              decoding.scene->materialCount != decoding.materialsStated))) {
          *problem = "it ends before its records are complete";
          return false;
        }
        *scene = decoding.scene;
        decoding.scene = nullptr;
        return true;
      }
      if (!decoding.Take(tag, payload, report, error) || !payload.AtEnd()) {
        *problem = "record " + std::to_string(tag) + " is malformed or out of place";
        return false;
      }
    }
  } catch (const std::bad_alloc&) {
    *problem = "not enough memory to read it";
  }
  return false;
}
