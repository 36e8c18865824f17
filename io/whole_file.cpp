// The whole-file reader: stat and type checks first, then a read-only mapping
// of a regular file, or a read loop for what cannot be mapped (a FIFO the
// caller takes, a file whose size stat does not tell, as in /proc).
#include "io/whole_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

namespace {

FileBytes Failed(FileFailure failure, int errorNumber) {
  FileBytes result;
  result.failure = failure;
  result.errorNumber = errorNumber;
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

// Maps size bytes of a regular file read-only; false when the mapping fails,
// and the caller reads the file instead. MAP_POPULATE maps every page at
// once instead of one fault per few pages; the descriptor may be closed
// afterwards.
bool MapFile(int fd, size_t size, FileBytes* bytes) {
  void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (mapped == MAP_FAILED) return false;
  bytes->mapping = mapped;
  bytes->data = static_cast<const uint8_t*>(mapped);
  bytes->size = size;
  return true;
}

// Reads fd to its end into a copy, starting with room for `expected` bytes
// plus one (to see the end) and doubling while the data goes on, never
// holding more than maxBytes plus the one byte that shows it is too large.
FileBytes ReadToEnd(int fd, size_t expected, uint64_t maxBytes) {
  const size_t limit = maxBytes < SIZE_MAX ? static_cast<size_t>(maxBytes) + 1 : SIZE_MAX;
  size_t capacity = std::min(std::max<size_t>(expected + 1, 64 * 1024), limit);
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
  FileBytes result;
  result.copy = std::move(data);
  result.data = size > 0 ? result.copy.get() : nullptr;
  result.size = size;
  return result;
}

}  // namespace

FileBytes::FileBytes(FileBytes&& other) noexcept {
  *this = std::move(other);
}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
  if (this != &other) {
    if (mapping) munmap(mapping, size);
    data = std::exchange(other.data, nullptr);
    size = std::exchange(other.size, 0);
    failure = std::exchange(other.failure, FileFailure::kNone);
    errorNumber = std::exchange(other.errorNumber, 0);
    mapping = std::exchange(other.mapping, nullptr);
    copy = std::move(other.copy);
  }
  return *this;
}

FileBytes::~FileBytes() {
  if (mapping) munmap(mapping, size);
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
  if (fstat(file.fd, &status) != 0) return Failed(FileFailure::kCannotOpen, errno);
  refused = CheckType(status.st_mode, limits);
  if (refused.failure != FileFailure::kNone) return refused;
  if (S_ISFIFO(status.st_mode)) {
    // Reads wait for the writer's data (the path may have become a FIFO since stat).
    if ((flags & O_NONBLOCK) != 0) fcntl(file.fd, F_SETFL, fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
    return ReadToEnd(file.fd, 0, limits.maxBytes);
  }

  const uint64_t statedSize = static_cast<uint64_t>(status.st_size);
  if (statedSize > limits.maxBytes || statedSize >= SIZE_MAX)
    return Failed(FileFailure::kTooLarge, EFBIG);
  FileBytes mapped;
  if (statedSize > 0 && MapFile(file.fd, static_cast<size_t>(statedSize), &mapped)) return mapped;
  return ReadToEnd(file.fd, static_cast<size_t>(statedSize), limits.maxBytes);
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
  }
  return "unknown failure";
}
