#include "io/isolated_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

namespace {

// Exit codes of the child besides 0; chosen far from the common ones.
constexpr int kChildOutOfMemory = 97;
constexpr int kChildThrew = 98;

int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// The child's address space at this moment, from /proc/self/statm (pages);
// 0 when it cannot be read. A sanitizer build reserves terabytes of shadow
// memory up front, so the limit is counted from here, not from zero.
uint64_t CurrentAddressSpace() {
  const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[64] = {};
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  if (got <= 0) return 0;
  uint64_t pages = 0;
  for (const char* c = text; *c >= '0' && *c <= '9'; ++c) pages = pages * 10 + (*c - '0');
  return pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

void OutOfMemory() { _exit(kChildOutOfMemory); }

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t wrote = write(fd, data, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    data += wrote;
    size -= static_cast<size_t>(wrote);
  }
  return true;
}

[[noreturn]] void RunChild(int fd, const std::function<std::vector<uint8_t>()>& work,
                           const IsolationLimits& limits) {
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  if (const uint64_t now = CurrentAddressSpace(); now > 0) {
    const rlimit memory{now + limits.memoryBytes, now + limits.memoryBytes};
    setrlimit(RLIMIT_AS, &memory);
  }
  std::set_new_handler(OutOfMemory);
  // A fault ends the child with its signal, whatever handler the caller (or
  // a sanitizer runtime) installed: the signal is the outcome reported.
  for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGPIPE}) signal(fault, SIG_DFL);
  // What the library prints (its assertion texts, parser chatter) is not the
  // program's to say; the caller reports the outcome in its own words. A
  // sanitizer build keeps standard error, where the sanitizers report.
  if (const int null = open("/dev/null", O_WRONLY | O_CLOEXEC); null >= 0) {
    dup2(null, STDOUT_FILENO);
    if (!kSanitized) dup2(null, STDERR_FILENO);
    close(null);
  }
  try {
    const std::vector<uint8_t> reply = work();
    _exit(WriteAll(fd, reply.data(), reply.size()) ? 0 : kChildThrew);
  } catch (const std::bad_alloc&) {
    _exit(kChildOutOfMemory);
  } catch (...) {
    _exit(kChildThrew);
  }
}

// Reads the child's reply until end of file, the deadline or the cap.
IsolatedOutcome ReadReply(int fd, int64_t deadline, uint64_t cap, std::vector<uint8_t>* reply) {
  uint8_t chunk[1 << 16];
  while (true) {
    const int64_t left = deadline - NowMs();
    if (left <= 0) return IsolatedOutcome::kTimedOut;
    pollfd wait{fd, POLLIN, 0};
    const int ready = poll(&wait, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
    if (ready < 0 && errno != EINTR) return IsolatedOutcome::kExited;
    if (ready <= 0) continue;
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return IsolatedOutcome::kReplied;  // end of file: the child closed it
    if (reply->size() + static_cast<size_t>(got) > cap) return IsolatedOutcome::kReplyTooLarge;
    try {
      reply->insert(reply->end(), chunk, chunk + got);
    } catch (const std::bad_alloc&) {
      return IsolatedOutcome::kOutOfMemory;
    }
  }
}

// Waits for the child until the deadline, then kills it; returns its status.
int Reap(pid_t child, int64_t deadline, bool* killed) {
  int status = 0;
  while (true) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return status;
    if (done < 0 && errno != EINTR) return 0;
    if (NowMs() >= deadline) break;
    const timespec pause{0, 2'000'000};
    nanosleep(&pause, nullptr);
  }
  *killed = true;
  kill(child, SIGKILL);
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

IsolatedResult RunIsolated(const std::function<std::vector<uint8_t>()>& work,
                           const IsolationLimits& limits) {
  IsolatedResult result;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    result.errorNumber = errno;
    return result;
  }
  const int64_t deadline = NowMs() + limits.milliseconds;
  const pid_t child = fork();
  if (child < 0) {
    result.errorNumber = errno;
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  if (child == 0) {
    close(fds[0]);
    RunChild(fds[1], work, limits);
  }
  close(fds[1]);
  const IsolatedOutcome read = ReadReply(fds[0], deadline, limits.maxReplyBytes, &result.reply);
  close(fds[0]);
  bool killed = false;
  const int status = Reap(child, read == IsolatedOutcome::kReplied ? deadline : 0, &killed);
  result.outcome = read;
  if (read == IsolatedOutcome::kReplied && killed) {
    result.outcome = IsolatedOutcome::kTimedOut;
  } else if (read == IsolatedOutcome::kReplied && WIFSIGNALED(status)) {
    result.outcome = IsolatedOutcome::kCrashed;
    result.signal = WTERMSIG(status);
  } else if (read == IsolatedOutcome::kReplied && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    result.exitCode = WEXITSTATUS(status);
    result.outcome = result.exitCode == kChildOutOfMemory ? IsolatedOutcome::kOutOfMemory
                                                          : IsolatedOutcome::kExited;
  }
  if (result.outcome != IsolatedOutcome::kReplied) result.reply.clear();
  return result;
}
