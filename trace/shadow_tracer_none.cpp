// The traced shadows' stand-in for a build without Embree (the web page):
// nothing can trace, every tracer says why and every mask is lit.
#include <algorithm>

#include "trace/shadow_tracer.h"

bool TracingAvailable() {
  return false;
}

struct ShadowTracer::State {
  std::string problem = "this build has no Embree, so no traced shadows";
};

ShadowTracer::ShadowTracer(const Vec3*, int32_t, const Face*, int32_t) : state_(new State()) {}

ShadowTracer::~ShadowTracer() {
  delete state_;
}

bool ShadowTracer::Ready() const {
  return false;
}

const std::string& ShadowTracer::Problem() const {
  return state_->problem;
}

void ShadowTracer::UpdatePositions(const Vec3*) {}

void ShadowTracer::Trace(const TraceView& view, const uint8_t*, uint8_t* mask) {
  if (view.width > 0 && view.height > 0)
    std::fill(mask, mask + static_cast<size_t>(view.width) * view.height, uint8_t{0});
}
