// The Embree side of the traced shadows. One device for the process, one
// scene per tracer with one triangle geometry whose buffers Embree owns
// (rtcSetNewGeometryBuffer, filled once, refitted on a pose), released in
// the reverse order. A few worker threads, started with the first trace and
// kept for the process, share the rows of an image with the calling thread;
// each gathers its pixels' occlusion rays into packets of 16 on its own
// stack, so a frame allocates nothing.
#include "trace/shadow_tracer.h"

#include <embree3/rtcore.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Along the occlusion ray from a surface point (0) to the light (1), the
// part left out at each end, so the point's own face and the light never
// count as blockers.
constexpr float kRayEndTrim = 1e-4f;
constexpr int kRowsPerTask = 4;  // rows a worker takes at a time
constexpr int kMaxThreads = 8;

void ReportEmbreeError(void*, RTCError code, const char* message) {
  std::fprintf(stderr, "shadow_volume: Embree error %d: %s\n", static_cast<int>(code),
               message != nullptr ? message : "");
}

// The process's one device, made on first use; null when Embree refuses.
RTCDevice Device() {
  static const RTCDevice device = [] {
    RTCDevice made = rtcNewDevice(nullptr);
    if (made != nullptr) rtcSetDeviceErrorFunction(made, ReportEmbreeError, nullptr);
    return made;
  }();
  return device;
}

bool Finite(const Vec3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// A face's plane, counter-clockwise side positive: n . p = d on it.
struct Plane {
  double n[3] = {0, 0, 0};
  double d = 0;
  bool usable = false;  // corners in range and finite, area not zero
};

// One image to trace: the camera's eye and inverse rotation, and where the
// workers write.
struct TraceJob {
  const TraceView* view;
  const uint8_t* faceIds;
  uint8_t* mask;
  const std::vector<Plane>* planes;
  RTCScene scene;  // null: nothing casts
  double eye[3];       // model coordinates
  double toModel[9];   // row-major inverse of the modelview's 3 x 3 block
  std::atomic<int> nextRow{0};
};

// Sends the packet's `count` rays and marks the blocked ones' pixels.
void Flush(TraceJob& job, RTCRay16& rays, const int32_t* pixels, int count) {
  if (count == 0) return;
  alignas(64) int valid[16];
  for (int i = 0; i < 16; ++i) valid[i] = i < count ? -1 : 0;
  RTCIntersectContext context;
  rtcInitIntersectContext(&context);
  rtcOccluded16(valid, job.scene, &context, &rays);
  for (int i = 0; i < count; ++i)
    if (!(rays.tfar[i] >= 0.0f)) job.mask[pixels[i]] |= kTraceShadowed;
}

// Takes rows until none are left: every pixel's mask byte.
void TraceRows(TraceJob& job) {
  const TraceView& view = *job.view;
  const std::vector<Plane>& planes = *job.planes;
  const int32_t faceCount = static_cast<int32_t>(planes.size());
  const float* p = view.projection;
  const double reach2 = static_cast<double>(view.reach) * view.reach;
  const double light[3] = {view.light.x, view.light.y, view.light.z};
  alignas(64) RTCRay16 rays;
  int32_t pixels[16];
  int count = 0;
  for (;;) {
    const int first = job.nextRow.fetch_add(kRowsPerTask);
    if (first >= view.height) break;
    for (int y = first; y < std::min(first + kRowsPerTask, view.height); ++y) {
      const double yNdc = 2.0 * (y + 0.5 - view.viewport[1]) / view.viewport[3] - 1.0;
      for (int x = 0; x < view.width; ++x) {
        const int32_t pixel = y * view.width + x;
        job.mask[pixel] = 0;
        const uint8_t* rgba = job.faceIds + 4 * static_cast<size_t>(pixel);
        const int32_t id = rgba[0] | rgba[1] << 8 | rgba[2] << 16;
        if (id == 0 || id > faceCount || !planes[id - 1].usable) continue;
        const Plane& plane = planes[id - 1];
        // The eye ray through the pixel's centre, in eye and then model
        // coordinates, meets the face's plane.
        const double xNdc = 2.0 * (x + 0.5 - view.viewport[0]) / view.viewport[2] - 1.0;
        const double de[3] = {(xNdc + p[8]) / p[0], (yNdc + p[9]) / p[5], -1.0};
        double dm[3];
        for (int r = 0; r < 3; ++r)
          dm[r] = job.toModel[3 * r] * de[0] + job.toModel[3 * r + 1] * de[1] +
                  job.toModel[3 * r + 2] * de[2];
        const double along = plane.n[0] * dm[0] + plane.n[1] * dm[1] + plane.n[2] * dm[2];
        const double t = (plane.d - plane.n[0] * job.eye[0] - plane.n[1] * job.eye[1] -
                          plane.n[2] * job.eye[2]) / along;
        if (!(t > 0) || !std::isfinite(t)) continue;
        double point[3], toLight[3];
        for (int k = 0; k < 3; ++k) {
          point[k] = job.eye[k] + t * dm[k];
          toLight[k] = light[k] - point[k];
        }
        const double distance2 =
            toLight[0] * toLight[0] + toLight[1] * toLight[1] + toLight[2] * toLight[2];
        if (distance2 >= reach2) job.mask[pixel] |= kTraceUnreached;
        if (plane.n[0] * toLight[0] + plane.n[1] * toLight[1] + plane.n[2] * toLight[2] <= 0) {
          job.mask[pixel] |= kTraceShadowed;  // turned away from the light
          continue;
        }
        if (job.scene == nullptr) continue;
        rays.org_x[count] = static_cast<float>(point[0]);
        rays.org_y[count] = static_cast<float>(point[1]);
        rays.org_z[count] = static_cast<float>(point[2]);
        rays.dir_x[count] = static_cast<float>(toLight[0]);
        rays.dir_y[count] = static_cast<float>(toLight[1]);
        rays.dir_z[count] = static_cast<float>(toLight[2]);
        rays.tnear[count] = kRayEndTrim;
        rays.tfar[count] = 1.0f - kRayEndTrim;
        rays.time[count] = 0.0f;
        rays.mask[count] = 0xFFFFFFFFu;
        rays.id[count] = static_cast<unsigned>(count);
        rays.flags[count] = 0;
        pixels[count] = pixel;
        if (++count == 16) {
          Flush(job, rays, pixels, count);
          count = 0;
        }
      }
    }
  }
  Flush(job, rays, pixels, count);
}

// The worker threads: each frame's job is handed to all of them and to the
// caller, who returns once every row is done.
class WorkerPool {
 public:
  explicit WorkerPool(int workers) {
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Loop(); });
  }

  void Run(TraceJob& job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = &job;
      ++generation_;
      busy_ = static_cast<int>(threads_.size());
    }
    wake_.notify_all();
    TraceRows(job);
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return busy_ == 0; });
    job_ = nullptr;
  }

 private:
  void Loop() {
    uint64_t seen = 0;
    for (;;) {
      TraceJob* job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return generation_ != seen; });
        seen = generation_;
        job = job_;
      }
      TraceRows(*job);
      std::lock_guard<std::mutex> lock(mutex_);
      if (--busy_ == 0) finished_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  TraceJob* job_ = nullptr;
  uint64_t generation_ = 0;
  int busy_ = 0;
  std::vector<std::thread> threads_;
};

// The process's pool, started on the first trace and never stopped: the
// threads wait on it until the process ends.
WorkerPool& Workers() {
  static WorkerPool* const pool = [] {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return new WorkerPool(std::max(0, std::min(cores, kMaxThreads) - 1));
  }();
  return *pool;
}

}  // namespace

bool TracingAvailable() {
  return true;
}

struct ShadowTracer::State {
  RTCScene scene = nullptr;
  RTCGeometry geometry = nullptr;  // null while no face can cast
  int32_t vertexCount = 0;
  std::vector<Face> faces;
  std::vector<Plane> planes;  // per face
  std::vector<uint8_t> wasUsable;  // per face, kept so that a refit allocates nothing
  int32_t usableFaces = 0;    // the geometry's triangles
  std::string problem;

  // The planes of every face from `vertices`; counts the usable ones.
  void DerivePlanes(const Vec3* vertices) {
    usableFaces = 0;
    for (size_t f = 0; f < faces.size(); ++f) {
      Plane& plane = planes[f];
      plane = Plane();
      const std::array<int32_t, 3> c = faces[f].Corners();
      bool inRange = true;
      for (int32_t v : c) inRange = inRange && v >= 0 && v < vertexCount && Finite(vertices[v]);
      if (!inRange) continue;
      double a[3][3];
      for (int k = 0; k < 3; ++k) a[k][0] = vertices[c[k]].x, a[k][1] = vertices[c[k]].y,
                                   a[k][2] = vertices[c[k]].z;
      const double e1[3] = {a[1][0] - a[0][0], a[1][1] - a[0][1], a[1][2] - a[0][2]};
      const double e2[3] = {a[2][0] - a[0][0], a[2][1] - a[0][1], a[2][2] - a[0][2]};
      plane.n[0] = e1[1] * e2[2] - e1[2] * e2[1];
      plane.n[1] = e1[2] * e2[0] - e1[0] * e2[2];
      plane.n[2] = e1[0] * e2[1] - e1[1] * e2[0];
      plane.d = plane.n[0] * a[0][0] + plane.n[1] * a[0][1] + plane.n[2] * a[0][2];
      plane.usable = plane.n[0] != 0 || plane.n[1] != 0 || plane.n[2] != 0;
      if (plane.usable) ++usableFaces;
    }
  }

  // Copies the vertices into the geometry's buffer (non-finite ones, which
  // no usable face names, as the origin).
  void FillVertices(const Vec3* vertices) {
    float* out = static_cast<float*>(rtcGetGeometryBufferData(geometry, RTC_BUFFER_TYPE_VERTEX, 0));
    for (int32_t v = 0; v < vertexCount; ++v) {
      const bool finite = Finite(vertices[v]);
      out[3 * v] = finite ? vertices[v].x : 0.0f;
      out[3 * v + 1] = finite ? vertices[v].y : 0.0f;
      out[3 * v + 2] = finite ? vertices[v].z : 0.0f;
    }
  }

  // A new geometry holding exactly the usable faces, in place of the old.
  void MakeGeometry(const Vec3* vertices) {
    if (geometry != nullptr) {
      rtcDetachGeometry(scene, 0);
      rtcReleaseGeometry(geometry);
      geometry = nullptr;
    }
    if (usableFaces == 0) return;
    geometry = rtcNewGeometry(Device(), RTC_GEOMETRY_TYPE_TRIANGLE);
    rtcSetGeometryBuildQuality(geometry, RTC_BUILD_QUALITY_REFIT);
    rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                            3 * sizeof(float), static_cast<size_t>(vertexCount));
    unsigned* indices = static_cast<unsigned*>(
        rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                3 * sizeof(unsigned), static_cast<size_t>(usableFaces)));
    FillVertices(vertices);
    for (size_t f = 0; f < faces.size(); ++f) {
      if (!planes[f].usable) continue;
      for (int32_t v : faces[f].Corners()) *indices++ = static_cast<unsigned>(v);
    }
    rtcCommitGeometry(geometry);
    rtcAttachGeometryByID(scene, geometry, 0);
  }
};

ShadowTracer::ShadowTracer(const Vec3* vertices, int32_t vertexCount, const Face* faces,
                           int32_t faceCount)
    : state_(new State()) {
  State& s = *state_;
  if (Device() == nullptr) {
    s.problem = "Embree could not start on this processor";
    return;
  }
  if (faceCount > kMaxTracedFaces) {
    s.problem = "the model has more faces (" + std::to_string(faceCount) +
                ") than a face-id image can name";
    return;
  }
  s.vertexCount = std::max<int32_t>(0, vertexCount);
  s.faces.assign(faces, faces + std::max<int32_t>(0, faceCount));
  s.planes.resize(s.faces.size());
  s.DerivePlanes(vertices);
  s.scene = rtcNewScene(Device());
  rtcSetSceneFlags(s.scene, RTC_SCENE_FLAG_DYNAMIC | RTC_SCENE_FLAG_ROBUST);
  s.MakeGeometry(vertices);
  rtcCommitScene(s.scene);
}

ShadowTracer::~ShadowTracer() {
  // The reverse of the making: geometry, scene; the device stays.
  if (state_->geometry != nullptr) rtcReleaseGeometry(state_->geometry);
  if (state_->scene != nullptr) rtcReleaseScene(state_->scene);
  delete state_;
}

bool ShadowTracer::Ready() const {
  return state_->scene != nullptr;
}

const std::string& ShadowTracer::Problem() const {
  return state_->problem;
}

void ShadowTracer::UpdatePositions(const Vec3* vertices) {
  State& s = *state_;
  if (s.scene == nullptr) return;
  s.wasUsable.resize(s.faces.size());
  for (size_t f = 0; f < s.faces.size(); ++f) s.wasUsable[f] = s.planes[f].usable;
  s.DerivePlanes(vertices);
  bool sameFaces = s.geometry != nullptr;
  for (size_t f = 0; f < s.faces.size() && sameFaces; ++f)
    sameFaces = (s.wasUsable[f] != 0) == s.planes[f].usable;
  if (sameFaces) {
    s.FillVertices(vertices);
    rtcUpdateGeometryBuffer(s.geometry, RTC_BUFFER_TYPE_VERTEX, 0);
    rtcCommitGeometry(s.geometry);
  } else {
    s.MakeGeometry(vertices);
  }
  rtcCommitScene(s.scene);
}

void ShadowTracer::Trace(const TraceView& view, const uint8_t* faceIds, uint8_t* mask) {
  const State& s = *state_;
  if (view.width <= 0 || view.height <= 0) return;
  if (s.scene == nullptr || view.viewport[2] <= 0 || view.viewport[3] <= 0 ||
      view.projection[0] == 0 || view.projection[5] == 0) {
    std::fill(mask, mask + static_cast<size_t>(view.width) * view.height, uint8_t{0});
    return;
  }
  TraceJob job;
  job.view = &view;
  job.faceIds = faceIds;
  job.mask = mask;
  job.planes = &s.planes;
  job.scene = s.geometry != nullptr ? s.scene : nullptr;
  // The modelview is m = [A | t]: model point q goes to A q + t, so the eye
  // (eye-space origin) is -A^-1 t and an eye-space direction e is A^-1 e.
  const float* m = view.modelview;
  const double a[3][3] = {{m[0], m[4], m[8]}, {m[1], m[5], m[9]}, {m[2], m[6], m[10]}};
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  if (det == 0 || !std::isfinite(det)) {
    std::fill(mask, mask + static_cast<size_t>(view.width) * view.height, uint8_t{0});
    return;
  }
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      // Cofactor of a[c][r] over the determinant: the inverse's (r, c).
      const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      job.toModel[3 * r + c] = (a[r1][c1] * a[r2][c2] - a[r1][c2] * a[r2][c1]) / det;
    }
  for (int r = 0; r < 3; ++r)
    job.eye[r] = -(job.toModel[3 * r] * m[12] + job.toModel[3 * r + 1] * m[13] +
                   job.toModel[3 * r + 2] * m[14]);
  Workers().Run(job);
}
