// PNG output for the frame captures: one libpng write per file, errors
// reported through libpng's setjmp convention and turned into a message.
#include "platform/png_writer.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// libpng reports errors by long-jumping out; keep its text for the caller.
struct PngErrorSink {
  char message[256] = {};  // the last libpng error text
};

void OnPngError(png_structp png, png_const_charp text) {
  auto* sink = static_cast<PngErrorSink*>(png_get_error_ptr(png));
  std::snprintf(sink->message, sizeof sink->message, "%s", text);
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Runs the libpng calls; kept apart so no C++ object with a destructor lives
// in the frame that setjmp returns to.
bool WriteRows(FILE* file, uint32_t width, uint32_t height, png_bytepp rows, PngErrorSink* sink) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, sink, OnPngError, OnPngWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

namespace {

// Writes the image into `file`, opened for `path`, and closes it; a failed
// write removes the file.
bool WriteAndClose(FILE* file, const std::string& path, uint32_t width, uint32_t height,
                   const uint8_t* rgb, std::string* error) {
  std::vector<png_bytep> rows(height);
  for (uint32_t y = 0; y < height; ++y) {
    rows[y] = const_cast<png_bytep>(rgb + static_cast<size_t>(y) * width * 3);
  }
  PngErrorSink sink;
  bool written = WriteRows(file, width, height, rows.data(), &sink);
  bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    *error = path + ": cannot write PNG: " + (sink.message[0] ? sink.message : "write failed");
    std::remove(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool WritePngRgb(const std::string& path, uint32_t width, uint32_t height, const uint8_t* rgb,
                 std::string* error) {
  if (width == 0 || height == 0 || rgb == nullptr) {
    *error = path + ": no image to write";
    return false;
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *error = path + ": cannot create: " + std::strerror(errno);
    return false;
  }
  return WriteAndClose(file, path, width, height, rgb, error);
}

PngCreation WritePngRgbNewFile(const std::string& path, uint32_t width, uint32_t height,
                               const uint8_t* rgb, std::string* error) {
  if (width == 0 || height == 0 || rgb == nullptr) {
    *error = path + ": no image to write";
    return PngCreation::kFailed;
  }
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST) return PngCreation::kExists;
    *error = path + ": cannot create: " + std::strerror(errno);
    return PngCreation::kFailed;
  }
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    *error = path + ": cannot create: " + std::strerror(errno);
    close(fd);
    std::remove(path.c_str());
    return PngCreation::kFailed;
  }
  return WriteAndClose(file, path, width, height, rgb, error) ? PngCreation::kWritten
                                                              : PngCreation::kFailed;
}
