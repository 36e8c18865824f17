// The PNG writer of a build without libpng (the web page): stb_image_write
// (Debian's libstb-dev) encodes the image in memory, and the file is written
// in one piece, so a failure leaves nothing behind. In the page the files go
// into its own file system (captures; screenshots are offered as downloads).
#include "platform/png_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

void Append(void* context, void* data, int size) {
  auto* bytes = static_cast<std::vector<uint8_t>*>(context);
  const uint8_t* first = static_cast<const uint8_t*>(data);
  bytes->insert(bytes->end(), first, first + size);
}

// The PNG of the image; empty (with *error set) when it cannot be made.
std::vector<uint8_t> Encode(const std::string& path, uint32_t width, uint32_t height,
                            const uint8_t* rgb, std::string* error) {
  std::vector<uint8_t> png;
  // stb_image_write counts in int, the row stride included.
  if (width == 0 || height == 0 || width > 0x7FFFFFFFu / 3 || height > 0x7FFFFFFFu) {
    *error = path + ": cannot write an image of " + std::to_string(width) + " x " +
             std::to_string(height) + " pixels";
    return png;
  }
  if (!stbi_write_png_to_func(Append, &png, static_cast<int>(width), static_cast<int>(height), 3,
                              rgb, static_cast<int>(width * 3)) ||
      png.empty()) {
    png.clear();
    *error = path + ": the PNG encoder failed";
  }
  return png;
}

// Writes all of `png` to the open `fd` and closes it; on failure the file at
// `path` is removed.
bool WriteAndClose(int fd, const std::string& path, const std::vector<uint8_t>& png,
                   std::string* error) {
  size_t done = 0;
  while (done < png.size()) {
    const ssize_t wrote = write(fd, png.data() + done, png.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += static_cast<size_t>(wrote);
  }
  const int writeError = done == png.size() ? 0 : errno;
  if (close(fd) != 0 || writeError != 0) {
    *error = path + ": " + std::strerror(writeError != 0 ? writeError : errno);
    std::remove(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool WritePngRgb(const std::string& path, uint32_t width, uint32_t height, const uint8_t* rgb,
                 std::string* error) {
  const std::vector<uint8_t> png = Encode(path, width, height, rgb, error);
  if (png.empty()) return false;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  return WriteAndClose(fd, path, png, error);
}

// The name is claimed first, so names already taken cost no encoding.
PngCreation WritePngRgbNewFile(const std::string& path, uint32_t width, uint32_t height,
                               const uint8_t* rgb, std::string* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST) return PngCreation::kExists;
    *error = path + ": " + std::strerror(errno);
    return PngCreation::kFailed;
  }
  const std::vector<uint8_t> png = Encode(path, width, height, rgb, error);
  if (png.empty()) {
    close(fd);
    std::remove(path.c_str());
    return PngCreation::kFailed;
  }
  return WriteAndClose(fd, path, png, error) ? PngCreation::kWritten : PngCreation::kFailed;
}
