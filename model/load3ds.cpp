// The 3DS chunk reader. The whole file is read into memory first
// (io/whole_file.h) and walked through a ByteReader that reads zeros past the
// end: a short read delivers zero for what is missing and fails, and the walk
// then ends with the scene read so far. Counts and face indices are unsigned
// 16-bit values, so no allocation is larger than 65,535 elements.
#include "model/load3ds.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "io/byte_reader.h"
#include "model/chunk_ids.h"
#include "model/keyframer.h"

namespace {

// Everything one load keeps between chunks. A property chunk arms a target
// field; the next value chunk of its kind fills it, if armed, and disarms it.
struct ReaderState {
  Scene* scene;
  bool readTexCoords;
  char currentName[kNameSize];      // name for the next mesh object
  MeshObject* object = nullptr;     // the current object; null before the first, or after one
                                    // the table had no room for
  Material* material = nullptr;     // the current material, null likewise
  int32_t* colourTarget = nullptr;  // filled by the next kChunkColour24
  float* percentTarget = nullptr;   // filled by the next kChunkPercentInt
  char* mapNameTarget = nullptr;    // filled by the next kChunkMapFileName
  bool invertPercent = false;       // the next percentage v counts as 100 - v
  Keyframer keyframer;              // the keyframer section, read when it comes
};

// Reads a NUL-terminated name into a 64-byte field: the first 63 bytes are
// kept, the rest of the name is read past, the field is NUL-padded. False
// when the file ends before the terminator (what was read is kept).
bool ReadName(ByteReader& reader, char* field) {
  std::memset(field, 0, kNameSize);
  for (int length = 0;; ++length) {
    uint8_t byte;
    if (!reader.ReadU8(&byte)) return false;
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
  reader.ReadU16(&count);
  object->vertexCount = count;
  scene.totalVertexCount += count;
  object->vertices = new Vec3[count]();
  for (int i = 0; i < count && !reader.failed; ++i) {
    reader.ReadF32(&object->vertices[i].x);
    reader.ReadF32(&object->vertices[i].y);
    reader.ReadF32(&object->vertices[i].z);
  }
}

// A second face list for the same object replaces the first, so the totals
// stay the sums of the objects' counts.
void ReadFaceList(ReaderState& state, ByteReader& reader) {
  MeshObject* object = state.object;
  state.scene->totalFaceCount -= object->faceCount;
  delete[] object->faces;

  uint16_t count;
  reader.ReadU16(&count);
  object->faceCount = count;
  state.scene->totalFaceCount += count;
  object->faces = new Face[count]();
  for (int i = 0; i < count && !reader.failed; ++i) {
    uint16_t a, b, c, flags;
    bool complete = reader.ReadU16(&a) && reader.ReadU16(&b) && reader.ReadU16(&c);
    reader.ReadU16(&flags);  // read past: the flags are not kept
    if (complete) object->faces[i] = Face{a, b, c};
  }
}

// The material name sits at the start of a 64-byte block read from the
// chunk's data; the group's own face list is not used. The walk goes on at
// the chunk's end.
void ReadFaceMaterial(ReaderState& state, ByteReader& reader, uint64_t chunkEnd) {
  char block[kNameSize];
  reader.ReadUpTo(reinterpret_cast<uint8_t*>(block), sizeof block);
  reader.Seek(chunkEnd);
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
  reader.ReadU16(&count);
  for (int i = 0; i < count && !reader.failed; ++i) {
    float u, v;
    reader.ReadF32(&u);
    if (!reader.ReadF32(&v)) u = 0;  // half a pair is no pair
    if (i < object->vertexCount) object->texCoords[i] = TexCoord{u, v};
  }
}

// The file's 3 x 3 block comes row by row and is kept column by column; the
// translation follows unchanged.
void ReadLocalMatrix(ReaderState& state, ByteReader& reader) {
  constexpr int kStoredAt[12] = {0, 3, 6, 1, 4, 7, 2, 5, 8, 9, 10, 11};
  float values[12];
  for (float& value : values) reader.ReadF32(&value);
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
  reader.ReadU8(&r);
  reader.ReadU8(&g);
  reader.ReadU8(&b);
  if (state.colourTarget && !reader.failed) *state.colourTarget = r << 16 | g << 8 | b;
  state.colourTarget = nullptr;
}

// A float colour (0..1 a channel, as assimp writes them) fills the armed
// colour field but leaves it armed: where a property gives both kinds, the
// 24-bit colour wins. Values outside 0..1, and NaN, are clamped.
void ReadColourFloat(ReaderState& state, ByteReader& reader) {
  int32_t colour = 0;
  for (int channel = 0; channel < 3; ++channel) {
    float value = 0;
    reader.ReadF32(&value);
    const float clamped = value > 0 ? (value < 1 ? value : 1) : 0;  // NaN gives 0
    colour = colour << 8 | static_cast<int32_t>(clamped * 255 + 0.5f);
  }
  if (state.colourTarget && !reader.failed) *state.colourTarget = colour;
}

// An integer percentage (signed) fills the armed percentage field as a
// fraction, counted from 100 down after a transparency chunk; it disarms both.
void ReadPercentage(ReaderState& state, ByteReader& reader) {
  uint16_t raw;
  reader.ReadU16(&raw);
  int value = static_cast<int16_t>(raw);
  if (state.invertPercent) value = 100 - value;
  if (state.percentTarget && !reader.failed) {
    *state.percentTarget = static_cast<float>(value * 0.01);
  }
  state.percentTarget = nullptr;
  state.invertPercent = false;
}

// A map file name fills the armed map's name and disarms it; a name whose
// first byte is 4 counts as no name.
void ReadMapName(ReaderState& state, ByteReader& reader) {
  char name[kNameSize];
  ReadName(reader, name);
  if (name[0] == 4) std::memset(name, 0, sizeof name);
  if (state.mapNameTarget) std::memcpy(state.mapNameTarget, name, kNameSize);
  state.mapNameTarget = nullptr;
}

// A map chunk arms its strength (the next percentage) and its file name.
void ArmMap(ReaderState& state, MaterialMap* map) {
  state.percentTarget = &map->strength;
  state.mapNameTarget = map->fileName;
}

// Enters or reads one chunk whose 6-byte header has just been read: entered
// chunks leave the reader right after their header (or name). Returns false
// for a chunk to be skipped whole: an id not read, mesh data with no object
// to hold it, a property with no material, an object or material the tables
// have no room for, and texture coordinates when they are not wanted.
bool ReadChunk(ReaderState& state, ByteReader& reader, uint16_t id, uint64_t chunkEnd) {
  Scene& scene = *state.scene;
  MeshObject* object = state.object;
  Material* material = state.material;
  switch (id) {
    case kChunkMain:
    case kChunkEditor:
    case kChunkTriangleMesh:
    case kChunkMaterial:
      return true;  // entered: their sub-chunks come next
    case kChunkNamedObject:
      ReadName(reader, state.currentName);
      return true;
    case kChunkVertexList:
      if (scene.objectCount == kMaxObjects) {
        state.object = nullptr;  // the mesh data that follows has nowhere to go
        return false;
      }
      ReadVertexList(state, reader);
      return true;
    case kChunkFaceList:
      if (object) ReadFaceList(state, reader);
      return object != nullptr;
    case kChunkFaceMaterial:
      if (object) ReadFaceMaterial(state, reader, chunkEnd);
      return object != nullptr;
    case kChunkTexCoords:
      if (!state.readTexCoords) return false;
      if (object) ReadTexCoords(state, reader);
      return object != nullptr;
    case kChunkLocalMatrix:
      if (object) ReadLocalMatrix(state, reader);
      return object != nullptr;
    case kChunkMaterialName:
      if (scene.materialCount == kMaxMaterials) {
        state.material = nullptr;  // likewise its properties
        return false;
      }
      ReadMaterialName(state, reader);
      return true;
    // Properties: a property chunk arms a field of the current material (see
    // ReaderState); arming again before a value arrives only redirects it.
    case kChunkAmbient:
      if (material) state.colourTarget = &material->ambientColour;
      return material != nullptr;
    case kChunkDiffuse:
      if (material) state.colourTarget = &material->diffuseColour;
      return material != nullptr;
    case kChunkSpecular:
      if (material) state.colourTarget = &material->specularColour;
      return material != nullptr;
    case kChunkColour24:
      if (material) ReadColour(state, reader);
      return material != nullptr;
    case kChunkColourFloat:
    case kChunkLinColourFloat:
      if (material) ReadColourFloat(state, reader);
      return material != nullptr;
    case kChunkShininess:
      if (material) state.percentTarget = &material->shininess;
      return material != nullptr;
    case kChunkShininessStrength:
      if (material) state.percentTarget = &material->shininessStrength;
      return material != nullptr;
    case kChunkTransparency:
      if (material) {
        state.percentTarget = &material->opacity;
        state.invertPercent = true;
      }
      return material != nullptr;
    case kChunkSelfIllumination:
      if (material) state.percentTarget = &material->selfIllumination;
      return material != nullptr;
    case kChunkPercentInt:
      if (material) ReadPercentage(state, reader);
      return material != nullptr;
    case kChunkTextureMap:
      if (material) ArmMap(state, &material->textureMap);
      return material != nullptr;
    case kChunkOpacityMap:
      if (material) ArmMap(state, &material->opacityMap);
      return material != nullptr;
    case kChunkBumpMap:
      if (material) ArmMap(state, &material->bumpMap);
      return material != nullptr;
    case kChunkMapFileName:
      if (material) ReadMapName(state, reader);
      return material != nullptr;
    case kChunkKeyframer:  // read on its own, bounded by itself, then skipped whole
      ReadKeyframer(reader.data, reader.size, reader.pos - 6, chunkEnd, &state.keyframer);
      return false;
    default:
      return false;
  }
}

// The chunks after the main header, one after another, until the end of the
// file or a chunk that cannot be walked; says in the scene where a file cut
// off inside a chunk ended.
void WalkChunks(ReaderState& state, ByteReader& reader, uint32_t mainLength) {
  Scene* scene = state.scene;
  const size_t size = reader.size;
  // A header cut off, a length too short to hold its own header (a skip by
  // it would go backwards) or data cut off all end the walk. Chunks nest, so
  // of the chunks whose stated end lies past the end of the file the one
  // read last is the innermost; the end of the file falls inside it.
  bool pastEnd = mainLength > size;
  uint16_t pastEndId = kChunkMain;
  while (!reader.failed) {
    const uint64_t start = reader.pos;
    if (reader.Remaining() == 0) break;  // the end of the file between chunks
    uint16_t id = pastEndId;
    uint32_t length;
    const bool idRead = reader.ReadU16(&id);
    if (!reader.ReadU32(&length)) {  // a header cut off: the end falls inside it
      scene->endsInsideChunk = true;
      scene->endChunkId = idRead ? id : pastEndId;
      return;
    }
    if (length < 6) break;
    if (start + length > size) {
      pastEnd = true;
      pastEndId = id;
    }
    if (!ReadChunk(state, reader, id, start + length)) reader.Seek(start + length);
    if (reader.failed) {  // its data, or a skip over it, ran past the end
      scene->endsInsideChunk = true;
      scene->endChunkId = id;
      return;
    }
  }
  scene->endsInsideChunk = pastEnd;
  scene->endChunkId = pastEnd ? pastEndId : 0;
}

}  // namespace

Scene* Load3dsSceneFromBytes(const uint8_t* data, size_t size, bool readTexCoords) {
  ByteReader reader{data, size, PastEnd::kReadZeros};
  uint16_t mainId;
  uint32_t mainLength = 0;  // only compared with the file's size: the walk goes to its end
  if (!reader.ReadU16(&mainId) || mainId != kChunkMain) return nullptr;
  reader.ReadU32(&mainLength);

  // Owned here until it is returned: memory running out on the way, which
  // throws std::bad_alloc, loses nothing (FreeScene takes a partial scene).
  struct Free {
    void operator()(Scene* s) const { FreeScene(s); }
  };
  std::unique_ptr<Scene, Free> owner(new Scene());
  Scene* scene = owner.get();
  std::strcpy(scene->name, "Untitled");
  scene->objects = new MeshObject*[kMaxObjects]();
  scene->materials = new Material*[kMaxMaterials]();

  ReaderState state{};
  state.scene = scene;
  state.readTexCoords = readTexCoords;
  std::strcpy(state.currentName, "Untitled");

  scene->fileSize = size;
  if (reader.failed) {  // the main chunk's own header is cut off
    scene->endsInsideChunk = true;
    scene->endChunkId = kChunkMain;
    return owner.release();
  }
  WalkChunks(state, reader, mainLength);
  PlaceObjects(&state.keyframer, scene);
  const Keyframer& keyframer = state.keyframer;
  scene->rig = KeyframerRig(keyframer, *scene, size);
  if (!keyframer.problem.empty()) {
    scene->keyframerProblemChunk = keyframer.problemChunk;
    scene->keyframerProblemOffset = keyframer.problemOffset;
    std::snprintf(scene->keyframerProblem, sizeof scene->keyframerProblem, "%s",
                  keyframer.problem.c_str());
  }
  return owner.release();
}

Scene* Load3dsScene(const char* path, bool readTexCoords, int* fileError,
                    FileFailure* fileFailure) {
  const FileBytes file = ReadWholeFile(path, kModelFileLimits);
  if (fileError) *fileError = file.errorNumber;
  if (fileFailure) *fileFailure = file.failure;
  if (file.failure != FileFailure::kNone) return nullptr;
  return Load3dsSceneFromBytes(file.data, file.size, readTexCoords);
}

std::string DescribeKeyframerProblem(const Scene& scene) {
  if (scene.keyframerProblem[0] == '\0') return std::string();
  char text[160];
  std::snprintf(text, sizeof text,
                "keyframer chunk %04X at byte %llu: %s; the objects are not "
                "placed by it",
                static_cast<unsigned>(scene.keyframerProblemChunk),
                static_cast<unsigned long long>(scene.keyframerProblemOffset),
                scene.keyframerProblem);
  return text;
}

std::string DescribeCutOff(const Scene& scene) {
  if (!scene.endsInsideChunk) return std::string();
  char text[96];
  std::snprintf(text, sizeof text, "the file ends inside chunk %04X at byte %llu",
                static_cast<unsigned>(scene.endChunkId),
                static_cast<unsigned long long>(scene.fileSize));
  return text;
}

MeshDefect ValidateMesh(const MeshObject& object) {
  for (int f = 0; f < object.faceCount; ++f) {
    for (int32_t index : object.faces[f].Corners()) {
      if (index < 0 || index >= object.vertexCount) return MeshDefect{f, index, object.vertexCount};
    }
  }
  return MeshDefect{-1, 0, object.vertexCount};
}
