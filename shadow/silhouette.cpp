// The silhouette mask of up to 64 edge records: a scalar form for any
// layout, and on x86-64 processors with AVX2 a vector form for packed arrays
// that tests eight records at once with the scalar form's float32 operations
// in the same order (no fused multiply-add), so both give the same bits. The
// vector form needs 16-byte loads, so it leaves to the scalar form any group
// of eight naming the mesh's last vertex or a vertex outside the mesh.
#include "shadow/silhouette.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define SV_SHADOW_HAVE_AVX2_PATH 1
#endif

namespace {

// The low `count` bits (0 <= count <= 64).
uint64_t LowBits(int count) {
  return count >= 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
}

#ifdef SV_SHADOW_HAVE_AVX2_PATH

// Loads the vertices `low` and `high` (never the mesh's last one, so that all
// 16 bytes lie inside the array) into the low and high halves of a row.
__attribute__((target("avx2"))) inline __m256 LoadPair(const float* base, int32_t low,
                                                       int32_t high) {
  return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(base + 3 * low)),
                              _mm_loadu_ps(base + 3 * high), 1);
}

// The x, y and z of one role's vertices for eight records, in record order.
struct Coordinates8 {
  __m256 x, y, z;
};

__attribute__((target("avx2"))) inline Coordinates8 LoadRole(const float* base,
                                                             const EdgeRecord* rec,
                                                             int32_t EdgeRecord::*role) {
  // Row r holds record r low and record r + 4 high; a 4 x 4 transposition in
  // each half then gives x, y and z of records 0 .. 7 in order.
  const __m256 m0 = LoadPair(base, rec[0].*role, rec[4].*role);
  const __m256 m1 = LoadPair(base, rec[1].*role, rec[5].*role);
  const __m256 m2 = LoadPair(base, rec[2].*role, rec[6].*role);
  const __m256 m3 = LoadPair(base, rec[3].*role, rec[7].*role);
  const __m256 t0 = _mm256_unpacklo_ps(m0, m1), t1 = _mm256_unpackhi_ps(m0, m1);
  const __m256 t2 = _mm256_unpacklo_ps(m2, m3), t3 = _mm256_unpackhi_ps(m2, m3);
  return Coordinates8{_mm256_shuffle_ps(t0, t2, 0x44), _mm256_shuffle_ps(t0, t2, 0xEE),
                      _mm256_shuffle_ps(t1, t3, 0x44)};
}

// Vector silhouette test of `count` (a multiple of 8, <= 64) packed records
// against `vertexCount` (>= 2) packed vertices. Bit k of the result is set when
// record k is covered and a silhouette edge. A group of eight holding an index
// outside the mesh, or the mesh's last vertex (whose 16-byte load would pass
// the end), is left to the caller: its bits are set in *scalar.
__attribute__((target("avx2"))) uint64_t SilhouetteMaskAvx2(const EdgeRecord* records, int count,
                                                            const Vec3* vertices,
                                                            int32_t vertexCount, Vec3 light,
                                                            uint64_t* scalar) {
  const float* base = &vertices[0].x;
  const __m256i lastLoadable = _mm256_set1_epi32(vertexCount - 2);
  const __m256 lx = _mm256_set1_ps(light.x), ly = _mm256_set1_ps(light.y),
               lz = _mm256_set1_ps(light.z);
  const __m256 zero = _mm256_setzero_ps();
  uint64_t mask = 0;
  *scalar = 0;
  for (int k = 0; k < count; k += 8) {
    const EdgeRecord* rec = records + k;
    // Unsigned index <= vertexCount - 2 for all 32 indices (negative ones fail).
    const __m256i* in = reinterpret_cast<const __m256i*>(rec);
    __m256i ok = _mm256_set1_epi32(-1);
    for (int q = 0; q < 4; ++q) {
      const __m256i i = _mm256_loadu_si256(in + q);
      ok = _mm256_and_si256(ok, _mm256_cmpeq_epi32(_mm256_min_epu32(i, lastLoadable), i));
    }
    if (_mm256_movemask_epi8(ok) != -1) {
      *scalar |= uint64_t{0xff} << k;
      continue;
    }
    const Coordinates8 v0 = LoadRole(base, rec, &EdgeRecord::edgeStart);
    const Coordinates8 v1 = LoadRole(base, rec, &EdgeRecord::edgeEnd);
    const Coordinates8 v2 = LoadRole(base, rec, &EdgeRecord::opposite);
    const Coordinates8 v3 = LoadRole(base, rec, &EdgeRecord::neighbourOpposite);
    const __m256 ax = _mm256_sub_ps(v0.x, lx), ay = _mm256_sub_ps(v0.y, ly),
                 az = _mm256_sub_ps(v0.z, lz);
    const __m256 bx = _mm256_sub_ps(v1.x, lx), by = _mm256_sub_ps(v1.y, ly),
                 bz = _mm256_sub_ps(v1.z, lz);
    const __m256 nx = _mm256_sub_ps(_mm256_mul_ps(ay, bz), _mm256_mul_ps(az, by));
    const __m256 ny = _mm256_sub_ps(_mm256_mul_ps(az, bx), _mm256_mul_ps(ax, bz));
    const __m256 nz = _mm256_sub_ps(_mm256_mul_ps(ax, by), _mm256_mul_ps(ay, bx));
    const __m256 nDotLight = _mm256_add_ps(
        _mm256_add_ps(_mm256_mul_ps(nx, lx), _mm256_mul_ps(ny, ly)), _mm256_mul_ps(nz, lz));
    const __m256 f2 =
        _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(nx, v2.x), _mm256_mul_ps(ny, v2.y)),
                                    _mm256_mul_ps(nz, v2.z)),
                      nDotLight);
    const __m256 f3 =
        _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(nx, v3.x), _mm256_mul_ps(ny, v3.y)),
                                    _mm256_mul_ps(nz, v3.z)),
                      nDotLight);
    // Signs non-zero (not-a-number counts as negative, hence "unordered or
    // not equal") and equal ("greater than zero" agrees).
    const __m256 nonZero =
        _mm256_and_ps(_mm256_cmp_ps(f2, zero, _CMP_NEQ_UQ), _mm256_cmp_ps(f3, zero, _CMP_NEQ_UQ));
    const __m256 sidesDiffer =
        _mm256_xor_ps(_mm256_cmp_ps(f2, zero, _CMP_GT_OQ), _mm256_cmp_ps(f3, zero, _CMP_GT_OQ));
    const int bits = _mm256_movemask_ps(_mm256_andnot_ps(sidesDiffer, nonZero));
    mask |= static_cast<uint64_t>(bits) << k;
  }
  return mask;
}

bool ProcessorHasAvx2() {
  return __builtin_cpu_supports("avx2");
}

#endif

}  // namespace

uint64_t SilhouetteMask(const EdgeWalkArrays& arrays, int64_t first, int count, Vec3 light) {
  uint64_t mask = 0;
  uint64_t scalar = LowBits(count);
#ifdef SV_SHADOW_HAVE_AVX2_PATH
  // Packed arrays only, and a mesh of at least two vertices.
  if (arrays.vertexStride == static_cast<int32_t>(sizeof(Vec3)) &&
      arrays.edgeStride == static_cast<int32_t>(sizeof(EdgeRecord)) && arrays.vertexCount >= 2 &&
      count >= 8 && ProcessorHasAvx2()) {
    const int vectorCount = count & ~7;
    uint64_t leftOver = 0;
    mask = SilhouetteMaskAvx2(&arrays.Record(first), vectorCount, arrays.vertices,
                              arrays.vertexCount, light, &leftOver);
    scalar = leftOver | (scalar & ~LowBits(vectorCount));
  }
#endif
  for (; scalar != 0; scalar &= scalar - 1) {
    const int k = LowestSetBit(scalar);
    const EdgeRecord& edge = arrays.Record(first + k);
    if (!arrays.Covers(edge)) continue;
    const EdgePlane plane =
        PlaneThrough(light, arrays.Vertex(edge.edgeStart), arrays.Vertex(edge.edgeEnd));
    if (IsSilhouette(plane, arrays.Vertex(edge.opposite), arrays.Vertex(edge.neighbourOpposite))) {
      mask |= uint64_t{1} << k;
    }
  }
  return mask;
}
