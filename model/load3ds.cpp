// The 3DS chunk reader. The whole file is read into memory first and walked
// through ByteReader, whose reads never go past the end: a short read
// delivers zero for what is missing and fails, and the walk then ends with
// the scene read so far. Counts and face indices are unsigned 16-bit values,
// so no allocation is larger than 65,535 elements.
#include "model/load3ds.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Little-endian reads from a fixed byte range. A read that does not fit
// consumes the rest, yields zero and returns false; the failure sticks.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool U8(uint8_t* out) {
    const uint8_t* p = Take(1);
    *out = p ? p[0] : 0;
    return p != nullptr;
  }
  bool U16(uint16_t* out) {
    const uint8_t* p = Take(2);
    *out = p ? static_cast<uint16_t>(p[0] | p[1] << 8) : 0;
    return p != nullptr;
  }
  bool U32(uint32_t* out) {
    const uint8_t* p = Take(4);
    *out = p ? static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                   static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24
             : 0;
    return p != nullptr;
  }
  bool F32(float* out) {
    uint32_t bits;
    bool ok = U32(&bits);
    std::memcpy(out, &bits, sizeof *out);
    return ok;
  }

  // Copies up to `size` bytes without failing, zero-filling what the file
  // lacks; returns how many came from the file. For fixed blocks that may
  // legitimately reach past the last chunk.
  size_t CopyUpTo(void* out, size_t size) {
    size_t n = size < Remaining() ? size : Remaining();
    std::memcpy(out, data_ + position_, n);
    std::memset(static_cast<uint8_t*>(out) + n, 0, size - n);
    position_ += n;
    return n;
  }

  // Moves to an absolute offset; beyond the end it stops at the end and fails.
  bool SeekTo(uint64_t offset) {
    if (offset > size_) {
      position_ = size_;
      failed_ = true;
      return false;
    }
    position_ = static_cast<size_t>(offset);
    return true;
  }

  size_t Position() const { return position_; }
  size_t Remaining() const { return size_ - position_; }
  bool Failed() const { return failed_; }

 private:
  const uint8_t* Take(size_t n) {
    if (n > Remaining()) {
      position_ = size_;
      failed_ = true;
      return nullptr;
    }
    const uint8_t* p = data_ + position_;
    position_ += n;
    return p;
  }

  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
  bool failed_ = false;
};

// Everything one load keeps between chunks.
struct ReaderState {
  Scene* scene;
  int readTexCoords;
  char currentName[kNameSize];      // name for the next mesh object
  MeshObject* object = nullptr;     // the current object; null before the first, or after one
                                    // the table had no room for
  Material* material = nullptr;     // the current material, null likewise
  int32_t* colourTarget = nullptr;  // filled by the next 0x0011 chunk when colourPending
  bool colourPending = false;
  float* percentTarget = nullptr;  // filled by the next 0x0030 chunk when percentPending
  bool percentPending = false;
  char* mapNameTarget = nullptr;  // filled by the next 0xA300 chunk when mapNamePending
  bool mapNamePending = false;
  bool invertPercent = false;  // the next 0x0030 value v counts as 100 - v
};

// Reads a NUL-terminated name into a 64-byte field: the first 63 bytes are
// kept, the rest of the name is read past, the field is NUL-padded. False
// when the file ends before the terminator (what was read is kept).
bool ReadName(ByteReader& reader, char* field) {
  std::memset(field, 0, kNameSize);
  for (int length = 0;; ++length) {
    uint8_t byte;
    if (!reader.U8(&byte)) return false;
    if (byte == 0) return true;
    if (length < kNameSize - 1) field[length] = static_cast<char>(byte);
  }
}

// Creates the next mesh object, named by currentName, holding the chunk's
// vertices; vertices the file lacks are zero.
void ReadVertexList(ReaderState& state, ByteReader& reader) {
  Scene& scene = *state.scene;
  MeshObject* object = new MeshObject();
  scene.objects[scene.objectCount++] = object;
  state.object = object;
  std::memcpy(object->name, state.currentName, kNameSize);
  object->materialIndex = -1;

  uint16_t count;
  reader.U16(&count);
  object->vertexCount = count;
  scene.totalVertexCount += count;
  object->vertices = new Vec3[count]();
  for (int i = 0; i < count && !reader.Failed(); ++i) {
    reader.F32(&object->vertices[i].x);
    reader.F32(&object->vertices[i].y);
    reader.F32(&object->vertices[i].z);
  }
}

// A second face list for the same object replaces the first, so the totals
// stay the sums of the objects' counts.
void ReadFaceList(ReaderState& state, ByteReader& reader) {
  MeshObject* object = state.object;
  state.scene->totalFaceCount -= object->faceCount;
  delete[] object->faces;

  uint16_t count;
  reader.U16(&count);
  object->faceCount = count;
  state.scene->totalFaceCount += count;
  object->faces = new Face[count]();
  for (int i = 0; i < count && !reader.Failed(); ++i) {
    uint16_t a, b, c, flags;
    bool complete = reader.U16(&a) && reader.U16(&b) && reader.U16(&c);
    reader.U16(&flags);  // read past: the flags are not kept
    if (complete) object->faces[i] = Face{a, b, c};
  }
}

// The material name sits at the start of a 64-byte block read from the
// chunk's data; the group's own face list is not used. The walk goes on at
// the chunk's end.
void ReadFaceMaterial(ReaderState& state, ByteReader& reader, uint64_t chunkEnd) {
  char block[kNameSize];
  reader.CopyUpTo(block, sizeof block);
  reader.SeekTo(chunkEnd);
  const Scene& scene = *state.scene;
  for (int i = 0; i < scene.materialCount; ++i) {
    if (std::strncmp(block, scene.materials[i]->name, kNameSize) == 0) {
      state.object->materialIndex = i;
      state.object->material = scene.materials[i];
      return;
    }
  }
}

// Coordinates come in vertex order; the array always has one pair per
// vertex: pairs the chunk lacks stay (0, 0), extra pairs are dropped.
void ReadTexCoords(ReaderState& state, ByteReader& reader) {
  MeshObject* object = state.object;
  delete[] object->texCoords;
  object->texCoords = new TexCoord[object->vertexCount]();
  uint16_t count;
  reader.U16(&count);
  for (int i = 0; i < count && !reader.Failed(); ++i) {
    float u, v;
    reader.F32(&u);
    if (!reader.F32(&v)) u = 0;  // half a pair is no pair
    if (i < object->vertexCount) object->texCoords[i] = TexCoord{u, v};
  }
}

// The file's 3 x 3 block comes row by row and is kept column by column; the
// translation follows unchanged.
void ReadLocalMatrix(ReaderState& state, ByteReader& reader) {
  constexpr int kStoredAt[12] = {0, 3, 6, 1, 4, 7, 2, 5, 8, 9, 10, 11};
  float values[12];
  for (float& value : values) reader.F32(&value);
  for (int i = 0; i < 12; ++i) state.object->localMatrix[kStoredAt[i]] = values[i];
}

// Creates the next material, all zero but for the chunk's name; the property
// chunks that follow fill it.
void ReadMaterialName(ReaderState& state, ByteReader& reader) {
  Scene& scene = *state.scene;
  Material* material = new Material();
  scene.materials[scene.materialCount++] = material;
  state.material = material;
  ReadName(reader, material->name);
}

// A 24-bit colour fills the armed colour field, if any, and disarms it; a
// colour cut off by the end of the file fills nothing.
void ReadColour(ReaderState& state, ByteReader& reader) {
  uint8_t r, g, b;
  reader.U8(&r);
  reader.U8(&g);
  reader.U8(&b);
  if (state.colourPending && !reader.Failed()) *state.colourTarget = r << 16 | g << 8 | b;
  state.colourPending = false;
}

// An integer percentage (signed) fills the armed percentage field as a
// fraction, counted from 100 down after a transparency chunk; it disarms both.
void ReadPercentage(ReaderState& state, ByteReader& reader) {
  uint16_t raw;
  reader.U16(&raw);
  int value = static_cast<int16_t>(raw);
  if (state.invertPercent) value = 100 - value;
  if (state.percentPending && !reader.Failed()) {
    *state.percentTarget = static_cast<float>(value * 0.01);
  }
  state.percentPending = false;
  state.invertPercent = false;
}

// A map file name fills the armed map's name and disarms it; a name whose
// first byte is 4 counts as no name.
void ReadMapName(ReaderState& state, ByteReader& reader) {
  char name[kNameSize];
  ReadName(reader, name);
  if (name[0] == 4) std::memset(name, 0, sizeof name);
  if (state.mapNamePending) std::memcpy(state.mapNameTarget, name, kNameSize);
  state.mapNamePending = false;
}

// Arming points the next value chunk of the matching kind at a field of the
// current material; arming again before a value arrives only redirects it.
void ArmColour(ReaderState& state, int32_t* target) {
  state.colourTarget = target;
  state.colourPending = true;
}

void ArmPercent(ReaderState& state, float* target) {
  state.percentTarget = target;
  state.percentPending = true;
}

void ArmMap(ReaderState& state, MaterialMap* map) {
  ArmPercent(state, &map->strength);
  state.mapNameTarget = map->fileName;
  state.mapNamePending = true;
}

// Chunks that fill the current object, and mean nothing without one.
bool IsMeshDataChunk(uint16_t id) {
  return id == 0x4120 || id == 0x4130 || id == 0x4140 || id == 0x4160;
}

// Chunks that arm or fill a field of the current material, likewise.
bool IsPropertyChunk(uint16_t id) {
  switch (id) {
    case 0xA010:
    case 0xA020:
    case 0xA030:
    case 0x0011:
    case 0xA040:
    case 0xA041:
    case 0xA050:
    case 0xA084:
    case 0x0030:
    case 0xA200:
    case 0xA210:
    case 0xA230:
    case 0xA300:
      return true;
    default:
      return false;
  }
}

// Handles one chunk whose 6-byte header has just been read. Chunks that are
// entered leave the reader right after their header (or name); skipped ones
// leave it at their end.
void HandleChunk(ReaderState& state, ByteReader& reader, uint16_t id, uint64_t chunkEnd) {
  Scene& scene = *state.scene;
  // Mesh data with no object to hold it, property chunks with no material,
  // and objects or materials the tables have no room for are skipped whole.
  bool skip = (IsMeshDataChunk(id) && state.object == nullptr) ||
              (IsPropertyChunk(id) && state.material == nullptr) ||
              (id == 0x4140 && state.readTexCoords != 1);
  if (id == 0x4110 && scene.objectCount == kMaxObjects) {
    state.object = nullptr;
    skip = true;
  }
  if (id == 0xA000 && scene.materialCount == kMaxMaterials) {
    state.material = nullptr;
    skip = true;
  }
  if (skip) {
    reader.SeekTo(chunkEnd);
    return;
  }

  Material* material = state.material;
  switch (id) {
    case 0x4D4D:
    case 0x3D3D:
    case 0x4100:
    case 0xAFFF:
      break;  // entered: their sub-chunks come next
    case 0x4000:
      ReadName(reader, state.currentName);
      break;
    case 0x4110:
      ReadVertexList(state, reader);
      break;
    case 0x4120:
      ReadFaceList(state, reader);
      break;
    case 0x4130:
      ReadFaceMaterial(state, reader, chunkEnd);
      break;
    case 0x4140:
      ReadTexCoords(state, reader);
      break;
    case 0x4160:
      ReadLocalMatrix(state, reader);
      break;
    case 0xA000:
      ReadMaterialName(state, reader);
      break;
    case 0xA010:
      ArmColour(state, &material->ambientColour);
      break;
    case 0xA020:
      ArmColour(state, &material->diffuseColour);
      break;
    case 0xA030:
      ArmColour(state, &material->specularColour);
      break;
    case 0x0011:
      ReadColour(state, reader);
      break;
    case 0xA040:
      ArmPercent(state, &material->shininess);
      break;
    case 0xA041:
      ArmPercent(state, &material->shininessStrength);
      break;
    case 0xA050:
      ArmPercent(state, &material->opacity);
      state.invertPercent = true;
      break;
    case 0xA084:
      ArmPercent(state, &material->selfIllumination);
      break;
    case 0x0030:
      ReadPercentage(state, reader);
      break;
    case 0xA200:
      ArmMap(state, &material->textureMap);
      break;
    case 0xA210:
      ArmMap(state, &material->opacityMap);
      break;
    case 0xA230:
      ArmMap(state, &material->bumpMap);
      break;
    case 0xA300:
      ReadMapName(state, reader);
      break;
    default:
      reader.SeekTo(chunkEnd);
      break;
  }
}

}  // namespace

Scene* Load3dsSceneFromBytes(const uint8_t* data, size_t size, int readTexCoords) {
  ByteReader reader(data, size);
  uint16_t mainId;
  uint32_t mainLength;  // not used: the walk goes to the end of the file
  if (!reader.U16(&mainId) || mainId != 0x4D4D) return nullptr;
  reader.U32(&mainLength);

  Scene* scene = new Scene();
  std::strcpy(scene->name, "Untitled");
  scene->objects = new MeshObject*[kMaxObjects]();
  scene->materials = new Material*[kMaxMaterials]();

  ReaderState state{};
  state.scene = scene;
  state.readTexCoords = readTexCoords;
  std::strcpy(state.currentName, "Untitled");

  // A header cut off, a length too short to hold its own header (a skip by
  // it would go backwards) or data cut off all end the walk.
  while (!reader.Failed()) {
    uint64_t start = reader.Position();
    uint16_t id;
    uint32_t length;
    if (!reader.U16(&id) || !reader.U32(&length) || length < 6) break;
    HandleChunk(state, reader, id, start + length);
  }
  return scene;
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>* bytes, int* errorNumber) {
  bytes->clear();
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    if (errorNumber) *errorNumber = errno;
    return false;
  }
  uint8_t block[65536];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
    bytes->insert(bytes->end(), block, block + got);
  }
  bool failed = std::ferror(file) != 0;
  int error = errno;
  std::fclose(file);
  if (failed && errorNumber) *errorNumber = error;
  return !failed;
}

Scene* Load3dsScene(const char* path, int readTexCoords) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, nullptr)) return nullptr;
  return Load3dsSceneFromBytes(bytes.data(), bytes.size(), readTexCoords);
}

MeshDefect ValidateMesh(const MeshObject& object) {
  for (int f = 0; f < object.faceCount; ++f) {
    const Face& face = object.faces[f];
    for (int32_t index : {face.index0, face.index1, face.index2}) {
      if (index < 0 || index >= object.vertexCount) return MeshDefect{f, index, object.vertexCount};
    }
  }
  return MeshDefect{-1, 0, object.vertexCount};
}

std::string DescribeMeshDefect(const char* fileName, const MeshDefect& defect) {
  if (defect.face < 0) return std::string();
  char text[128];
  std::snprintf(text, sizeof text, ": face %d names vertex %d but the mesh has %d %s",
                static_cast<int>(defect.face), static_cast<int>(defect.vertex),
                static_cast<int>(defect.vertexCount),
                defect.vertexCount == 1 ? "vertex" : "vertices");
  return fileName + std::string(text);
}
