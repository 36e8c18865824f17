// ChunkWriter: builds 3DS chunk files in memory, for tools/make-scene (which
// writes the shipped model with it) and for the tests' hand-made files.
//
// A chunk is opened with Begin(id) and closed with End(), which patches the
// chunk's length (header included, sub-chunks included) in place; chunks nest.
// Values are appended little-endian: U8, U16, U32, F32, Name (a string and its
// NUL) and Raw (any bytes, no terminator added).
// Malformed files are written on purpose with Header (a bare header with
// any length, nothing to close), Raw and Truncate.
//
//   ChunkWriter w;
//   w.Begin(kChunkMain);                          // main
//   w.Begin(kChunkEditor);                        //   editor data
//   w.Begin(kChunkNamedObject); w.Name("Box");    //     named object
//   w.Begin(kChunkTriangleMesh);                  //       triangle mesh
//   w.Begin(kChunkVertexList); w.U16(3); ...      //         vertex list
//   w.EndAll();                                   // closes all five
//   w.Save("box.3ds");
//
// Limits: no checks that the chunks make sense; End() with no open chunk and
// Truncate() to a size beyond the end cuts nothing. Lengths are 32-bit like the format's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/chunk_ids.h"  // the ids, by name, for the writers of 3DS files

class ChunkWriter {
 public:
  // Opens a chunk: writes its ID and a length placeholder that End() fills.
  void Begin(uint16_t id);
  // Closes the innermost open chunk, setting its length to the bytes written
  // since its header began. Does nothing when no chunk is open.
  void End();
  // Closes every open chunk, innermost first, as End() does.
  void EndAll();
  // Writes a bare chunk header with the given length; nothing is left open.
  void Header(uint16_t id, uint32_t length);

  void U8(uint8_t value);
  void U16(uint16_t value);
  void U32(uint32_t value);
  void F32(float value);
  // Writes the bytes of a NUL-terminated string, then its NUL.
  void Name(const char* text);
  // Writes `size` bytes as they are.
  void Raw(const void* data, size_t size);

  // Closes every open chunk (as EndAll does), then cuts the file to its first
  // `size` bytes: the lengths still tell the size the file had before the cut.
  void Truncate(size_t size);

  size_t Size() const { return bytes_.size(); }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  // Writes the bytes to `path`; false when the file cannot be written.
  bool Save(const char* path) const;

 private:
  void PatchLength(size_t chunkStart, uint32_t length);

  std::vector<uint8_t> bytes_;
  std::vector<size_t> open_;  // start offsets of the chunks still open, innermost last
};
