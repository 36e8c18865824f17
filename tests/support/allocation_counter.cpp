#include "tests/support/allocation_counter.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Threads (a tracer's workers, a driver's) may allocate too.
std::atomic<long long> Calls{0};
std::atomic<long long> ApartCalls{0};
std::atomic<const char*> ApartPart{nullptr};
std::atomic<long long> Live{0};
std::atomic<long long> FailingCall{0};

// Whether a caller within the innermost frames lies in a shared library
// whose path contains `part`. backtrace and dladdr take nothing from
// operator new.
bool CalledFrom(const char* part) {
  void* frames[12];
  const int count = backtrace(frames, 12);
  for (int i = 1; i < count; ++i) {
    Dl_info info;
    if (dladdr(frames[i], &info) != 0 && info.dli_fname != nullptr &&
        std::strstr(info.dli_fname, part) != nullptr)
      return true;
  }
  return false;
}

}  // namespace

long long OperatorNewCalls() {
  return Calls.load();
}

long long SetApartCalls() {
  return ApartCalls.load();
}

long long LiveBlocks() {
  return Live.load();
}

void FailOperatorNewCall(long long call) {
  FailingCall = call;
}

long long AllOperatorNewCalls() {
  return Calls.load() + ApartCalls.load();
}

void SetApartLibrary(const char* part) {
  void* frame[1];
  backtrace(frame, 1);  // loads the unwinder now, not inside an allocation
  ApartPart = part;
}

// Out of line: the compiler must not pair a call it inlines with the
// library's own allocator.
__attribute__((noinline)) void* operator new(std::size_t size) {
  const char* part = ApartPart.load();
  if (part != nullptr && CalledFrom(part))
    ++ApartCalls;
  else
    ++Calls;
  const long long failing = FailingCall.load();
  if (failing > 0 && AllOperatorNewCalls() == failing) throw std::bad_alloc();
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  ++Live;
  return block;
}

__attribute__((noinline)) void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  --Live;
  std::free(block);
}

// Every other form goes through the two above, whichever runtime (a
// sanitizer's, say) would otherwise supply it. Aligned forms are not used by
// this program's code.
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { operator delete(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { operator delete(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { operator delete(block); }
