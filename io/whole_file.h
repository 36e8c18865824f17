// ReadWholeFile: one file's bytes in memory, for readers of untrusted files.
// The bytes are read into memory the reader owns, never mapped: a mapped
// file that shrinks under its reader faults (SIGBUS), and a model watched
// for saves is rewritten in place while it is read. The checks come before
// any read: a directory, a device, a socket or (unless the caller takes
// streams) a FIFO fails at once with its reason, and so does a file larger
// than the caller's cap. No path blocks in open() except a FIFO the caller
// takes (it waits for its writer, as reading a pipe must). A regular file
// whose size or modification time changes while it is read, or that gives
// fewer or more bytes than its size, fails as changed: a save in progress,
// whose bytes belong to no version of the file. Failures are values, never
// exceptions: no memory is a failure too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Why ReadWholeFile gave no bytes.
enum class FileFailure {
  kNone,
  kCannotOpen,        // open or stat failed: errorNumber says why
  kDirectory,         // the path names a directory
  kFifo,              // a FIFO, and the caller takes no streams
  kDevice,            // a character or block device, or a socket: no file to read
  kTooLarge,          // more bytes than the caller's cap
  kCannotRead,        // a read failed before the end: errorNumber says why
  kNoMemory,          // no memory for the copy
  kChangedWhileRead,  // the file changed while it was read (a save in progress)
};

// What the caller accepts.
struct WholeFileLimits {
  uint64_t maxBytes;         // a larger file fails with kTooLarge
  bool takeStreams = false;  // a FIFO is read to its end (waiting for its writer)
};

// The bytes of one file, or why there are none. Owns its copy, released when
// it is destroyed; it can be moved, not copied.
struct FileBytes {
  const uint8_t* data = nullptr;  // size bytes; null when size is 0
  size_t size = 0;
  FileFailure failure = FileFailure::kNone;
  int errorNumber = 0;  // an errno code for every failure (EISDIR, EFBIG, ENOTSUP, EAGAIN for a
                        // change, ... for the checks), 0 after success

  FileBytes() = default;
  FileBytes(FileBytes&& other) noexcept;
  FileBytes& operator=(FileBytes&& other) noexcept;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  std::unique_ptr<uint8_t[]> copy;  // the memory data points into
};

// Reads the whole file at path within limits. Never throws; on failure the
// result has no bytes, a failure and an errno code.
FileBytes ReadWholeFile(const char* path, const WholeFileLimits& limits);

// The same over a descriptor the caller opened (and still owns, and closes):
// the checks are made on the descriptor itself (fstat), so what is read is
// what was checked. A regular file is read from its start whatever the
// descriptor's offset; a FIFO from where it stands, with O_NONBLOCK cleared.
FileBytes ReadOpenFile(int fd, const WholeFileLimits& limits);

// A short phrase for a failure, for messages: the system's text of the
// errno code for kCannotOpen and kCannotRead ("No such file or directory"),
// else what the path is ("is a directory", "is larger than 4096 MiB").
std::string DescribeFileFailure(const FileBytes& file, const WholeFileLimits& limits);
std::string DescribeFileFailure(FileFailure failure, int errorNumber, const WholeFileLimits& limits);

// A seam for tests only, null in the program: called with the descriptor
// after a regular file's size has been taken and before its bytes are read,
// so a test can act out a save that changes the file under the reader.
using BeforeReadHook = void (*)(int fd);
void SetBeforeReadHook(BeforeReadHook hook);
