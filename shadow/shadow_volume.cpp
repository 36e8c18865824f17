// Binding, the silhouette search and the OpenGL side of the shadow volume.
// The walk itself is the header's VisitShadowQuads, shared with the tests.
// The silhouette search has a scalar form and, on x86-64 processors with
// AVX2, a gathered form for packed arrays that tests eight records at once
// with the same float32 operations in the same order (no fused multiply-add),
// so both give the same bits.
#include "shadow/shadow_volume.h"

#include <GL/gl.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define SV_SHADOW_HAVE_AVX2_PATH 1
#endif

namespace {

const char* AddBytes(const void* base, int32_t offset) {
  return reinterpret_cast<const char*>(base) + offset;
}

#ifdef SV_SHADOW_HAVE_AVX2_PATH

// Gathered silhouette test of `count` (a multiple of 8, <= 64) packed records against
// `vertexCount` (>= 1, small enough that 3 x index fits an int32) packed
// vertices. Bit k set when record k is covered and a silhouette edge.
__attribute__((target("avx2"))) uint64_t SilhouetteMaskAvx2(const EdgeRecord* records, int count,
                                                            const Vec3* vertices,
                                                            int32_t vertexCount, Vec3 light) {
  const float* base = &vertices[0].x;
  const __m256i last = _mm256_set1_epi32(vertexCount - 1);
  const __m256 lx = _mm256_set1_ps(light.x), ly = _mm256_set1_ps(light.y),
               lz = _mm256_set1_ps(light.z);
  const __m256 zero = _mm256_setzero_ps();
  // The transposition below leaves records in lane order 0 2 4 6 1 3 5 7.
  const __m256i recordOrder = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  uint64_t mask = 0;
  for (int k = 0; k < count; k += 8) {
    const __m256i* in = reinterpret_cast<const __m256i*>(records + k);
    const __m256i r01 = _mm256_loadu_si256(in), r23 = _mm256_loadu_si256(in + 1);
    const __m256i r45 = _mm256_loadu_si256(in + 2), r67 = _mm256_loadu_si256(in + 3);
    const __m256i se0 = _mm256_unpacklo_epi32(r01, r23), on0 = _mm256_unpackhi_epi32(r01, r23);
    const __m256i se1 = _mm256_unpacklo_epi32(r45, r67), on1 = _mm256_unpackhi_epi32(r45, r67);
    __m256i idx[4] = {_mm256_unpacklo_epi64(se0, se1), _mm256_unpackhi_epi64(se0, se1),
                      _mm256_unpacklo_epi64(on0, on1), _mm256_unpackhi_epi64(on0, on1)};
    // Unsigned index <= vertexCount - 1, which also rejects negative indices.
    __m256i covered = _mm256_set1_epi32(-1);
    for (__m256i& i : idx) {
      covered = _mm256_and_si256(covered, _mm256_cmpeq_epi32(_mm256_min_epu32(i, last), i));
    }
    __m256 x[4], y[4], z[4];
    for (int v = 0; v < 4; ++v) {
      // Uncovered lanes read vertex 0 instead; their result is masked off.
      const __m256i i = _mm256_and_si256(idx[v], covered);
      const __m256i offset = _mm256_add_epi32(i, _mm256_add_epi32(i, i));
      x[v] = _mm256_i32gather_ps(base, offset, 4);
      y[v] = _mm256_i32gather_ps(base + 1, offset, 4);
      z[v] = _mm256_i32gather_ps(base + 2, offset, 4);
    }
    const __m256 ax = _mm256_sub_ps(x[0], lx), ay = _mm256_sub_ps(y[0], ly),
                 az = _mm256_sub_ps(z[0], lz);
    const __m256 bx = _mm256_sub_ps(x[1], lx), by = _mm256_sub_ps(y[1], ly),
                 bz = _mm256_sub_ps(z[1], lz);
    const __m256 nx = _mm256_sub_ps(_mm256_mul_ps(ay, bz), _mm256_mul_ps(az, by));
    const __m256 ny = _mm256_sub_ps(_mm256_mul_ps(az, bx), _mm256_mul_ps(ax, bz));
    const __m256 nz = _mm256_sub_ps(_mm256_mul_ps(ax, by), _mm256_mul_ps(ay, bx));
    const __m256 nDotLight = _mm256_add_ps(
        _mm256_add_ps(_mm256_mul_ps(nx, lx), _mm256_mul_ps(ny, ly)), _mm256_mul_ps(nz, lz));
    const __m256 f2 =
        _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(nx, x[2]), _mm256_mul_ps(ny, y[2])),
                                    _mm256_mul_ps(nz, z[2])),
                      nDotLight);
    const __m256 f3 =
        _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(nx, x[3]), _mm256_mul_ps(ny, y[3])),
                                    _mm256_mul_ps(nz, z[3])),
                      nDotLight);
    // Signs non-zero (not-a-number counts as negative, hence "unordered or
    // not equal") and equal ("greater than zero" agrees).
    const __m256 nonZero =
        _mm256_and_ps(_mm256_cmp_ps(f2, zero, _CMP_NEQ_UQ), _mm256_cmp_ps(f3, zero, _CMP_NEQ_UQ));
    const __m256 sidesDiffer =
        _mm256_xor_ps(_mm256_cmp_ps(f2, zero, _CMP_GT_OQ), _mm256_cmp_ps(f3, zero, _CMP_GT_OQ));
    const __m256 silhouette =
        _mm256_and_ps(_mm256_andnot_ps(sidesDiffer, nonZero), _mm256_castsi256_ps(covered));
    const int bits = _mm256_movemask_ps(_mm256_permutevar8x32_ps(silhouette, recordOrder));
    mask |= static_cast<uint64_t>(bits) << k;
  }
  return mask;
}

bool ProcessorHasAvx2() {
  return __builtin_cpu_supports("avx2");
}

#endif

}  // namespace

void ShadowVolume::BindVertexArray(const Vec3* base, int32_t count, int32_t stride,
                                   int32_t offset) {
  if (base == nullptr) return;
  vertexArray = reinterpret_cast<const Vec3*>(AddBytes(base, offset));
  vertexArrayCount = count;
  vertexArrayStride = stride;
  vertexArrayBound = true;
}

void ShadowVolume::BindEdgeArray(const EdgeRecord* base, int32_t count, int32_t stride,
                                 int32_t offset) {
  if (base == nullptr) return;
  edgeArray = reinterpret_cast<const EdgeRecord*>(AddBytes(base, offset));
  edgeArrayCount = count;
  edgeArrayStride = stride;
  edgeArrayBound = true;
}

uint64_t ShadowVolume::SilhouetteMask(int64_t first, int count, const Vec3& light) const {
  uint64_t mask = 0;
  int k = 0;
#ifdef SV_SHADOW_HAVE_AVX2_PATH
  // Packed arrays only; 3 x index must fit the gather's int32 offsets.
  if (vertexArrayStride == static_cast<int32_t>(sizeof(Vec3)) &&
      edgeArrayStride == static_cast<int32_t>(sizeof(EdgeRecord)) && vertexArrayCount > 0 &&
      vertexArrayCount <= 0x7fffffff / 3 && count >= 8 && ProcessorHasAvx2()) {
    k = count & ~7;
    mask = SilhouetteMaskAvx2(&Record(first), k, vertexArray, vertexArrayCount, light);
  }
#endif
  for (; k < count; ++k) {
    const EdgeRecord& edge = Record(first + k);
    if (!Covers(edge)) continue;
    const EdgePlane plane = PlaneOf(light, Vertex(edge.edgeStart), Vertex(edge.edgeEnd),
                                    Vertex(edge.opposite), Vertex(edge.neighbourOpposite));
    if (IsSilhouette(plane.f2, plane.f3)) mask |= uint64_t{1} << k;
  }
  return mask;
}

void ShadowVolume::DrawShadowQuads(float lightX, float lightY, float lightZ, float eyeX, float eyeY,
                                   float eyeZ, bool separating) const {
  VisitShadowQuads(lightX, lightY, lightZ, eyeX, eyeY, eyeZ, separating,
                   [](int32_t, const Vec3& v0, const Vec3& v1, const Vec3& v0x, const Vec3& v1x) {
                     glColor3f(0.52f, 0.52f, 0.52f);
                     glVertex3f(v0.x, v0.y, v0.z);
                     glVertex3f(v1.x, v1.y, v1.z);
                     glVertex3f(v0x.x, v0x.y, v0x.z);
                     glVertex3f(v0x.x, v0x.y, v0x.z);
                     glVertex3f(v1x.x, v1x.y, v1x.z);
                     glVertex3f(v1.x, v1.y, v1.z);
                   });
}
