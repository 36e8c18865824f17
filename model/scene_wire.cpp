#include "model/scene_wire.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "io/byte_reader.h"
#include "model/animation.h"
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
  kRig = 7,       // the rig that poses the objects; after every object
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
  w.Put(static_cast<uint64_t>(report.filesRead.size()));
  for (const std::string& file : report.filesRead) w.PutText(file);
}

bool GetReport(Reader& r, AssimpReport* report) {
  uint8_t overLimit = 0;
  const bool ok = r.GetText(&report->format, kMaxText) && r.Get(&report->meshes) &&
                  r.Get(&report->nodes) && r.Get(&report->points) && r.Get(&report->lines) &&
                  r.GetText(&report->refused, kMaxText) && r.Get(&report->placedTriangles) &&
                  r.Get(&report->placedVertices) && r.Get(&overLimit);
  report->overLimit = overLimit != 0;
  uint64_t files = 0;
  if (!ok || !r.Get(&files) || files > kMaxFilesRead) return false;
  report->filesRead.resize(files);
  for (std::string& file : report->filesRead)
    if (!r.GetText(&file, kMaxFileReadPath)) return false;
  return true;
}

// ---- The rig. Every count is read as a u32 and checked against what is
// left of the record at the fewest bytes an element takes, before anything
// is sized by it; the indices are then checked by CheckRig, as the reader's
// were.

void PutCount(Writer& w, size_t count) { w.Put(static_cast<uint32_t>(count)); }

// A count of elements of at least `minBytes` each that the rest of the record can hold.
bool GetCount(Reader& r, size_t minBytes, size_t* count) {
  uint32_t value = 0;
  if (!r.Get(&value) || value > r.bytes.Remaining() / minBytes) return false;
  *count = value;
  return true;
}

template <typename T>
void PutPlainVector(Writer& w, const std::vector<T>& values) {
  PutCount(w, values.size());
  w.PutBytes(values.data(), sizeof(T) * values.size());
}

template <typename T>
bool GetPlainVector(Reader& r, std::vector<T>* values) {
  size_t count = 0;
  if (!GetCount(r, sizeof(T), &count)) return false;
  values->resize(count);
  return r.bytes.ReadUpTo(reinterpret_cast<uint8_t*>(values->data()), sizeof(T) * count) ==
         sizeof(T) * count;
}

void PutVectorKeys(Writer& w, const std::vector<VectorKey>& keys) {
  PutCount(w, keys.size());
  for (const VectorKey& key : keys) {
    w.Put(key.time);
    w.Put(key.value);
  }
}

bool GetVectorKeys(Reader& r, std::vector<VectorKey>* keys) {
  size_t count = 0;
  if (!GetCount(r, sizeof(double) + sizeof(Vec3), &count)) return false;
  keys->resize(count);
  for (VectorKey& key : *keys)
    if (!r.Get(&key.time) || !r.Get(&key.value)) return false;
  return true;
}

void PutClip(Writer& w, const AnimClip& clip) {
  w.PutText(clip.name);
  w.Put(clip.duration);
  w.Put(clip.ticksPerSecond);
  PutCount(w, clip.channels.size());
  for (const NodeChannel& channel : clip.channels) {
    w.Put(channel.node);
    w.PutText(channel.nodeName);
    PutVectorKeys(w, channel.positions);
    PutCount(w, channel.rotations.size());
    for (const RotationKey& key : channel.rotations) {
      w.Put(key.time);
      w.Put(key.value);
    }
    PutVectorKeys(w, channel.scales);
  }
  PutCount(w, clip.morphs.size());
  for (const MorphChannel& channel : clip.morphs) {
    w.Put(channel.node);
    w.PutText(channel.nodeName);
    PutCount(w, channel.keys.size());
    for (const MorphKey& key : channel.keys) {
      w.Put(key.time);
      PutPlainVector(w, key.weights);
    }
  }
}

bool GetClip(Reader& r, AnimClip* clip) {
  size_t count = 0;
  if (!(r.GetText(&clip->name, kMaxText) && r.Get(&clip->duration) && r.Get(&clip->ticksPerSecond) &&
        GetCount(r, sizeof(int32_t) + sizeof(uint64_t) + 3 * sizeof(uint32_t), &count)))
    return false;
  clip->channels.resize(count);
  for (NodeChannel& channel : clip->channels) {
    size_t rotations = 0;
    if (!(r.Get(&channel.node) && r.GetText(&channel.nodeName, kMaxText) &&
          GetVectorKeys(r, &channel.positions) &&
          GetCount(r, sizeof(double) + sizeof(Quaternion), &rotations)))
      return false;
    channel.rotations.resize(rotations);
    for (RotationKey& key : channel.rotations)
      if (!r.Get(&key.time) || !r.Get(&key.value)) return false;
    if (!GetVectorKeys(r, &channel.scales)) return false;
  }
  if (!GetCount(r, sizeof(int32_t) + sizeof(uint64_t) + sizeof(uint32_t), &count)) return false;
  clip->morphs.resize(count);
  for (MorphChannel& channel : clip->morphs) {
    if (!(r.Get(&channel.node) && r.GetText(&channel.nodeName, kMaxText) &&
          GetCount(r, sizeof(double) + sizeof(uint32_t), &count)))
      return false;
    channel.keys.resize(count);
    for (MorphKey& key : channel.keys)
      if (!r.Get(&key.time) || !GetPlainVector(r, &key.weights)) return false;
  }
  return true;
}

void PutRigMesh(Writer& w, const RigMesh& mesh) {
  w.Put(mesh.object);
  w.Put(mesh.node);
  w.Put(mesh.meshMatrix);
  PutPlainVector(w, mesh.bindPositions);
  PutCount(w, mesh.bones.size());
  for (const Bone& bone : mesh.bones) {
    w.Put(bone.node);
    w.PutText(bone.name);
    w.Put(bone.offset);
  }
  PutPlainVector(w, mesh.influenceStart);
  PutPlainVector(w, mesh.influences);
  PutCount(w, mesh.morphTargets.size());
  for (const std::vector<Vec3>& target : mesh.morphTargets) PutPlainVector(w, target);
}

bool GetRigMesh(Reader& r, RigMesh* mesh) {
  size_t count = 0;
  if (!(r.Get(&mesh->object) && r.Get(&mesh->node) && r.Get(&mesh->meshMatrix) &&
        GetPlainVector(r, &mesh->bindPositions) &&
        GetCount(r, sizeof(int32_t) + sizeof(uint64_t) + sizeof(Matrix34), &count)))
    return false;
  mesh->bones.resize(count);
  for (Bone& bone : mesh->bones)
    if (!(r.Get(&bone.node) && r.GetText(&bone.name, kMaxText) && r.Get(&bone.offset))) return false;
  if (!(GetPlainVector(r, &mesh->influenceStart) && GetPlainVector(r, &mesh->influences) &&
        GetCount(r, sizeof(uint32_t), &count)))
    return false;
  mesh->morphTargets.resize(count);
  for (std::vector<Vec3>& target : mesh->morphTargets)
    if (!GetPlainVector(r, &target)) return false;
  return true;
}

void PutRig(Writer& w, const Rig& rig) {
  PutCount(w, rig.nodes.size());
  for (const AnimNode& node : rig.nodes) {
    w.Put(node.parent);
    w.PutText(node.name);
    w.Put(node.local);
  }
  PutCount(w, rig.clips.size());
  for (const AnimClip& clip : rig.clips) PutClip(w, clip);
  PutCount(w, rig.meshes.size());
  for (const RigMesh& mesh : rig.meshes) PutRigMesh(w, mesh);
  PutCount(w, rig.notes.size());
  for (const std::string& note : rig.notes) w.PutText(note);
}

// The rig as the reader left it: structurally whole, and unchanged by
// CheckRig (a sound reader only sends a checked rig), within limits as large
// as the whole stream, which no sound rig's records can pass.
bool GetRig(Reader& r, const Scene& scene, uint64_t streamBytes, Rig* rig) {
  size_t count = 0;
  if (!GetCount(r, sizeof(int32_t) + sizeof(uint64_t) + sizeof(Matrix34), &count)) return false;
  rig->nodes.resize(count);
  for (AnimNode& node : rig->nodes)
    if (!(r.Get(&node.parent) && r.GetText(&node.name, kMaxText) && r.Get(&node.local))) return false;
  if (!GetCount(r, sizeof(uint64_t) + 2 * sizeof(double) + 2 * sizeof(uint32_t), &count)) return false;
  rig->clips.resize(count);
  for (AnimClip& clip : rig->clips)
    if (!GetClip(r, &clip)) return false;
  if (!GetCount(r, 2 * sizeof(int32_t) + sizeof(Matrix34) + 5 * sizeof(uint32_t), &count)) return false;
  rig->meshes.resize(count);
  for (RigMesh& mesh : rig->meshes)
    if (!GetRigMesh(r, &mesh)) return false;
  if (!GetCount(r, sizeof(uint64_t), &count)) return false;
  rig->notes.resize(count);
  for (std::string& note : rig->notes)
    if (!r.GetText(&note, kMaxText)) return false;
  const size_t clips = rig->clips.size(), meshes = rig->meshes.size(), notes = rig->notes.size();
  CheckRig(scene, LimitsForFileSize(streamBytes), rig);
  if (rig->clips.size() != clips || rig->meshes.size() != meshes) return false;
  rig->notes.resize(notes);  // the reader's notes already say what the check says again
  return true;
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
  uint64_t streamBytes = 0;

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
      case kRig: {
        if (scene == nullptr || scene->rig != nullptr || scene->objectCount != objectsStated)
          return false;
        auto rig = std::make_shared<Rig>();
        if (!GetRig(r, *scene, streamBytes, rig.get())) return false;
        scene->rig = std::move(rig);
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
    if (scene->rig != nullptr) {
      w.Begin(kRig);
      PutRig(w, *scene->rig);
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
    decoding.streamBytes = size;
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
