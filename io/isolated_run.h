// RunIsolated: runs a function in a child process made by fork(), under a
// memory and a time limit, and returns the bytes it produced. For code that
// parses untrusted input inside a library we cannot fix: a crash, an abort,
// a runaway allocation or an endless loop there ends the child, never the
// caller, and comes back as a value.
//
// fork() without exec: the child is a copy of the caller, so it works the
// same from every program that links the code (the demo, the tools, tests,
// fuzzers), with no helper binary to find and no second start-up of the
// display libraries. Only the calling thread exists in the child; glibc's
// fork resets the malloc and stdio locks, and the child runs `work` and then
// _exit()s, calling nothing else of the caller's (no atexit handlers, no
// stdio flush, no GL). `work` must therefore touch only memory and the files
// it opens itself. Its standard output and error go to /dev/null (standard
// error stays in a sanitizer build, for the sanitizers' reports).
//
// Not for the web page: Emscripten has no fork.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct IsolationLimits {
  uint64_t memoryBytes;    // address space the child may add to what it has at fork
  int64_t milliseconds;    // wall-clock time from fork to the reply's end
  uint64_t maxReplyBytes;  // a longer reply ends the child
};

enum class IsolatedOutcome {
  kReplied,        // `work` returned and its bytes arrived in full
  kCrashed,        // the child ended by a signal (`signal`), not ours
  kTimedOut,       // it was still running at the deadline and was killed
  kOutOfMemory,    // an allocation failed under the memory limit (under AddressSanitizer,
                   // whose allocator reports and exits itself, this is kExited)
  kReplyTooLarge,  // it sent more than maxReplyBytes and was killed
  kExited,         // it exited without a reply (`exitCode`; `work` threw)
  kCannotStart,    // pipe or fork failed (`errorNumber`)
};

struct IsolatedResult {
  IsolatedOutcome outcome = IsolatedOutcome::kCannotStart;
  int signal = 0;
  int exitCode = 0;
  int errorNumber = 0;
  std::vector<uint8_t> reply;  // only with kReplied
};

// Runs `work` in a child under `limits` and waits for it; the child is
// always reaped before this returns. Never throws; a failed allocation of
// the reply in the caller is kOutOfMemory.
IsolatedResult RunIsolated(const std::function<std::vector<uint8_t>()>& work,
                           const IsolationLimits& limits);
