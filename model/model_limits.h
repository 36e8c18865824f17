// The most geometry a model read through assimp may make. assimp's
// pre-transform step copies each mesh once for every node that places it, so
// a small file can name far more than it holds; the reader counts what the
// step would make before running it and refuses a model over either limit.
// The limits also keep every int32 count the program derives from a mesh
// safe: 3 edge records a face, exact-volume indices, merged totals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int64_t kMaxModelTriangles = 20'000'000;
constexpr int64_t kMaxModelVertices = 60'000'000;

// "it would make 400,000,000 triangles and 480,000,000 vertices once its
// nodes place its meshes, more than the 20,000,000 triangles and 60,000,000
// vertices a model may have": for counts over a limit.
std::string DescribeOverLimit(int64_t triangles, int64_t vertices);

// 1234567 as "1,234,567".
std::string GroupedDigits(int64_t value);

// assimp's OFF importer reserves memory for the counts in the header before
// it reads a single vertex, so a header claiming billions of them exhausts
// memory. A vertex needs at least 6 bytes ("0 0 0\n") and a face 2: a header
// claiming more than the bytes can hold is refused here. Returns why, or ""
// for anything else (not an OFF file, or plausible counts).
std::string ImplausibleOffHeader(const uint8_t* data, size_t size);
