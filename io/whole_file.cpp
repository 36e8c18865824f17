// The whole-file reader: stat and type checks first, then one read of a
// regular file into a buffer sized from fstat (with one byte more, to see
// the file grow), and a second fstat to see it change; a read loop to the end
// for what has no size to trust (a FIFO the caller takes, a file whose size
// stat does not tell, as in /proc).
#include "io/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

namespace {

BeforeReadHook beforeReadHook = nullptr;

FileBytes Failed(FileFailure failure, int errorNumber) {
  FileBytes result;
  result.failure = failure;
  result.errorNumber = errorNumber;
  return result;
}

FileBytes Holding(std::unique_ptr<uint8_t[]> data, size_t size) {
  FileBytes result;
  result.copy = std::move(data);
  result.data = size > 0 ? result.copy.get() : nullptr;
  result.size = size;
  return result;
}

// The failure for a file of this type, kNone for one that may be read.
FileBytes CheckType(mode_t mode, const WholeFileLimits& limits) {
  if (S_ISDIR(mode)) return Failed(FileFailure::kDirectory, EISDIR);
  if (S_ISFIFO(mode) && !limits.takeStreams) return Failed(FileFailure::kFifo, ENOTSUP);
  if (!S_ISREG(mode) && !S_ISFIFO(mode)) return Failed(FileFailure::kDevice, ENOTSUP);
  return FileBytes();
}

// Closes the descriptor on every path out.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

// Reads fd to its end into a copy, starting with room for 64 KiB and
// doubling while the data goes on, never holding more than maxBytes plus
// the one byte that shows it is too large.
FileBytes ReadToEnd(int fd, uint64_t maxBytes) {
  const size_t limit = maxBytes < SIZE_MAX ? static_cast<size_t>(maxBytes) + 1 : SIZE_MAX;
  size_t capacity = std::min<size_t>(64 * 1024, limit);
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[capacity]);
  if (!data) return Failed(FileFailure::kNoMemory, ENOMEM);
  size_t size = 0;
  for (;;) {
    if (size == capacity) {
      if (capacity >= limit) return Failed(FileFailure::kTooLarge, EFBIG);
      const size_t larger = capacity < limit / 2 ? capacity * 2 : limit;
      std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[larger]);
      if (!grown) return Failed(FileFailure::kNoMemory, ENOMEM);
      std::memcpy(grown.get(), data.get(), size);
      data = std::move(grown);
      capacity = larger;
    }
    const ssize_t got = read(fd, data.get() + size, capacity - size);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return Failed(FileFailure::kCannotRead, errno);
    }
    size += static_cast<size_t>(got);
  }
  return Holding(std::move(data), size);
}

// Reads the `size` bytes stat gave for a regular file, from offset 0. One
// byte more is asked for: a file that gives it has grown since, and one that
// ends early has shrunk; both are changes.
FileBytes ReadStatedSize(int fd, size_t size) {
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size + 1]);
  if (!data) return Failed(FileFailure::kNoMemory, ENOMEM);
  size_t done = 0;
  while (done <= size) {
    const ssize_t got = pread(fd, data.get() + done, size + 1 - done, static_cast<off_t>(done));
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return Failed(FileFailure::kCannotRead, errno);
    }
    done += static_cast<size_t>(got);
  }
  if (done != size) return Failed(FileFailure::kChangedWhileRead, EAGAIN);
  return Holding(std::move(data), size);
}

bool SameVersion(const struct stat& before, const struct stat& after) {
  return before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
         before.st_mtim.tv_nsec == after.st_mtim.tv_nsec;
}

}  // namespace

FileBytes::FileBytes(FileBytes&& other) noexcept {
  *this = std::move(other);
}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
  if (this != &other) {
    data = std::exchange(other.data, nullptr);
    size = std::exchange(other.size, 0);
    failure = std::exchange(other.failure, FileFailure::kNone);
    errorNumber = std::exchange(other.errorNumber, 0);
    copy = std::move(other.copy);
  }
  return *this;
}

FileBytes ReadWholeFile(const char* path, const WholeFileLimits& limits) {
  // The type is known before open(), so that a FIFO nobody writes to, which
  // open() would wait on, is refused at once.
  struct stat status;
  if (stat(path, &status) != 0) return Failed(FileFailure::kCannotOpen, errno);
  FileBytes refused = CheckType(status.st_mode, limits);
  if (refused.failure != FileFailure::kNone) return refused;

  // O_NONBLOCK keeps open() from waiting should the path have become a FIFO
  // since stat; a FIFO the caller takes is opened to wait for its writer.
  const int flags = O_RDONLY | O_CLOEXEC | (S_ISFIFO(status.st_mode) ? 0 : O_NONBLOCK);
  Descriptor file{open(path, flags)};
  if (file.fd < 0) return Failed(FileFailure::kCannotOpen, errno);
  return ReadOpenFile(file.fd, limits);
}

FileBytes ReadOpenFile(int fd, const WholeFileLimits& limits) {
  struct stat status;
  if (fstat(fd, &status) != 0) return Failed(FileFailure::kCannotOpen, errno);
  FileBytes refused = CheckType(status.st_mode, limits);
  if (refused.failure != FileFailure::kNone) return refused;
  if (S_ISFIFO(status.st_mode)) {
    // Reads wait for the writer's data (the path may have become a FIFO since stat).
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) != 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return ReadToEnd(fd, limits.maxBytes);
  }

  const uint64_t statedSize = static_cast<uint64_t>(status.st_size);
  if (statedSize > limits.maxBytes || statedSize >= SIZE_MAX)
    return Failed(FileFailure::kTooLarge, EFBIG);
  if (beforeReadHook != nullptr) beforeReadHook(fd);
  FileBytes bytes;
  if (statedSize > 0) {
    bytes = ReadStatedSize(fd, static_cast<size_t>(statedSize));
  } else {
    // Stat says nothing of the size of a /proc file; it is read to its end.
    if (lseek(fd, 0, SEEK_SET) < 0) return Failed(FileFailure::kCannotRead, errno);
    bytes = ReadToEnd(fd, limits.maxBytes);
  }
  if (bytes.failure != FileFailure::kNone) return bytes;
  struct stat after;
  if (fstat(fd, &after) != 0) return Failed(FileFailure::kCannotRead, errno);
  if (!SameVersion(status, after)) return Failed(FileFailure::kChangedWhileRead, EAGAIN);
  return bytes;
}

std::string DescribeFileFailure(const FileBytes& file, const WholeFileLimits& limits) {
  return DescribeFileFailure(file.failure, file.errorNumber, limits);
}

std::string DescribeFileFailure(FileFailure failure, int errorNumber, const WholeFileLimits& limits) {
  switch (failure) {
    case FileFailure::kNone:
      return "no failure";
    case FileFailure::kCannotOpen:
    case FileFailure::kCannotRead:
      return std::strerror(errorNumber);
    case FileFailure::kDirectory:
      return "is a directory";
    case FileFailure::kFifo:
      return "is a FIFO (named pipe), not a regular file";
    case FileFailure::kDevice:
      return "is a device or socket, not a regular file";
    case FileFailure::kTooLarge:
      return "is larger than " + std::to_string(limits.maxBytes >> 20) + " MiB";
    case FileFailure::kNoMemory:
      return "is too large for the memory available";
    case FileFailure::kChangedWhileRead:
      return "changed while it was read (a save still in progress?)";
  }
  return "unknown failure";
}

void SetBeforeReadHook(BeforeReadHook hook) {
  beforeReadHook = hook;
}
