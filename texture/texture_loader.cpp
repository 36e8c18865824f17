// The texture chain: own reader, then libtiff or libpng over the same bytes in
// memory (a file is read once, so what the readers see is the same file).
// libtiff's and libpng's messages are caught into the note, never printed.
#include "texture/texture_loader.h"

#ifdef SV_WITH_LIBPNG
#include <png.h>
#endif
#ifdef SV_WITH_LIBTIFF
#include <tiffio.h>
#endif

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "io/whole_file.h"
#ifdef SV_WITH_JPEG
#include "texture/jpeg_reader.h"
#endif

namespace {

// "an image size of 0 or more than 256 MiB of pixels", for the cap in force.
std::string SizeRefused(uint64_t maxPixelBytes) {
  return "an image size of 0 or more than " + std::to_string(maxPixelBytes >> 20) +
         " MiB of pixels";
}
#if defined(SV_WITH_JPEG) && defined(SV_WITH_LIBPNG)
constexpr char kFormatsRead[] = "a TIFF, PNG or JPEG file";
#elif defined(SV_WITH_LIBPNG)
constexpr char kFormatsRead[] = "a TIFF or PNG file";
#else
constexpr char kFormatsRead[] = "a TIFF file";
#endif
#ifdef SV_WITH_LIBPNG
constexpr char kSaveAs[] = "save it as 8-bit RGB TIFF or PNG";
#else
constexpr char kSaveAs[] = "save it as 8-bit RGB TIFF, uncompressed or LZW";
#endif
// What a build without the image libraries (the web page) says of a file
// only they could read.
[[maybe_unused]] constexpr char kOwnReaderOnly[] =
    "this build reads textures with its own TIFF reader only (8-bit RGB or RGBA, uncompressed "
    "or LZW)";

#ifdef SV_WITH_LIBTIFF
// ---- libtiff over bytes in memory ----

struct MemoryFile {
  const uint8_t* data;
  uint64_t size;
  uint64_t pos;
};

tmsize_t MemoryRead(thandle_t handle, void* out, tmsize_t n) {
  MemoryFile* file = static_cast<MemoryFile*>(handle);
  if (n <= 0 || file->pos >= file->size) return 0;
  const uint64_t got = std::min<uint64_t>(static_cast<uint64_t>(n), file->size - file->pos);
  std::memcpy(out, file->data + file->pos, static_cast<size_t>(got));
  file->pos += got;
  return static_cast<tmsize_t>(got);
}

tmsize_t MemoryWrite(thandle_t, void*, tmsize_t) {
  return -1;  // read-only
}

toff_t MemorySeek(thandle_t handle, toff_t offset, int whence) {
  MemoryFile* file = static_cast<MemoryFile*>(handle);
  const uint64_t base = whence == SEEK_CUR ? file->pos : whence == SEEK_END ? file->size : 0;
  file->pos = base + offset;  // beyond the end is allowed; reads there give nothing
  return file->pos;
}

int MemoryClose(thandle_t) {
  return 0;
}

toff_t MemorySize(thandle_t handle) {
  return static_cast<MemoryFile*>(handle)->size;
}

// The bytes are in memory already, so libtiff gets them as a mapping: its
// mapped path is the one tiff2rgba takes on a file, and its unmapped path
// in libtiff 4.5 refuses uncompressed tiles ImageMagick writes ("Invalid tile
// byte count for tile 0. Expected 768, got 1024"). Opened read-only, libtiff
// never writes through it.
int MapMemory(thandle_t handle, void** base, toff_t* size) {
  MemoryFile* file = static_cast<MemoryFile*>(handle);
  *base = const_cast<uint8_t*>(file->data);
  *size = file->size;
  return file->data != nullptr;
}

void NoUnmapping(thandle_t, void*, toff_t) {}

// Where libtiff's first error goes, and the name it was opened with.
struct LibtiffErrors {
  std::string* text;
  std::string namePrefix;  // "NAME: ", which some messages start with
};

// Keeps libtiff's first error in the string user data points to; warnings
// are dropped. Returning 1 keeps libtiff from printing them itself.
int KeepFirstError(TIFF*, void* userData, const char*, const char* format, va_list args) {
  LibtiffErrors* errors = static_cast<LibtiffErrors*>(userData);
  std::string* text = errors->text;
  if (text->empty()) {
    char line[256];
    std::vsnprintf(line, sizeof line, format, args);
    *text = line;
    if (text->compare(0, errors->namePrefix.size(), errors->namePrefix) == 0)
      text->erase(0, errors->namePrefix.size());
  }
  return 1;
}

int DropWarning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

// Decodes the first image with libtiff's RGBA interface into image; false
// with *error set when libtiff cannot. Samples are 4 when the file has extra
// (alpha) samples, else 3. Like tiff2rgba, it goes on past a strip or tile it
// cannot read.
bool DecodeWithLibtiff(const uint8_t* data, size_t size, const char* name, uint64_t maxPixelBytes,
                       TextureImage* image, std::string* error) {
  MemoryFile file{data, size, 0};
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return false;
  LibtiffErrors errors{error, std::string(name) + ": "};
  TIFFOpenOptionsSetErrorHandlerExtR(options, KeepFirstError, &errors);
  TIFFOpenOptionsSetWarningHandlerExtR(options, DropWarning, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(maxPixelBytes));
  TIFF* tif = TIFFClientOpenExt(name, "r", &file, MemoryRead, MemoryWrite, MemorySeek, MemoryClose,
                                MemorySize, MapMemory, NoUnmapping, options);
  TIFFOpenOptionsFree(options);
  if (!tif) {
    if (error->empty()) *error = "libtiff cannot open it";
    return false;
  }
  uint32_t width = 0, height = 0;
  uint16_t extraCount = 0;
  uint16_t* extraTypes = nullptr;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
  bool ok = false;
  if (width == 0 || height == 0 || static_cast<uint64_t>(width) * height > maxPixelBytes / 4) {
    *error = SizeRefused(maxPixelBytes);
  } else {
    std::vector<uint32_t> raster;
    raster.resize(static_cast<size_t>(width) * height);
    char message[1024] = "";
    if (!TIFFRGBAImageOK(tif, message)) {
      *error = message;
    } else if (TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_TOPLEFT,
                                         /*stop_on_error=*/0)) {
      // As tiff2rgba: a strip or tile libtiff cannot read leaves its part of
      // the picture as it is, and the rest is decoded; the note keeps the
      // first complaint.
      if (!error->empty()) image->note += " (libtiff: " + *error + ")";
      const int samples = extraCount > 0 ? 4 : 3;
      image->decodedPixels.resize(raster.size() * samples);
      uint8_t* out = image->decodedPixels.data();
      for (uint32_t pixel : raster) {
        *out++ = static_cast<uint8_t>(TIFFGetR(pixel));
        *out++ = static_cast<uint8_t>(TIFFGetG(pixel));
        *out++ = static_cast<uint8_t>(TIFFGetB(pixel));
        if (samples == 4) *out++ = static_cast<uint8_t>(TIFFGetA(pixel));
      }
      image->width = static_cast<int32_t>(width);
      image->height = static_cast<int32_t>(height);
      image->samples = samples;
      ok = true;
    } else if (error->empty()) {
      *error = "libtiff cannot decode the image";
    }
  }
  TIFFClose(tif);
  return ok;
}

#endif  // SV_WITH_LIBTIFF

#ifdef SV_WITH_LIBPNG
// ---- libpng over bytes in memory ----

struct PngSource {
  const uint8_t* data;
  size_t size;
  size_t pos;
  uint64_t maxPixelBytes;
  std::string error;
};

void PngRead(png_structp png, png_bytep out, size_t n) {
  PngSource* source = static_cast<PngSource*>(png_get_io_ptr(png));
  if (n > source->size - source->pos) png_error(png, "the file ends early");
  std::memcpy(out, source->data + source->pos, n);
  source->pos += n;
}

void PngError(png_structp png, png_const_charp message) {
  PngSource* source = static_cast<PngSource*>(png_get_error_ptr(png));
  if (source->error.empty()) source->error = message;
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// The libpng steps between setjmp and the end; every object with a
// destructor lives in the caller, so the longjmp of an error skips none.
bool ReadPngImage(png_structp png, png_infop info, TextureImage* image,
                  std::vector<png_bytep>* rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_user_limits(png, 1u << 20, 1u << 20);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const uint64_t cap = static_cast<PngSource*>(png_get_io_ptr(png))->maxPixelBytes;
  if (static_cast<uint64_t>(width) * height > cap / 4) {
    char message[64];
    std::snprintf(message, sizeof message, "an image size of more than %llu MiB of pixels",
                  static_cast<unsigned long long>(cap >> 20));
    png_error(png, message);
  }
  png_set_expand(png);  // palette to RGB, gray below 8 bits to 8, tRNS to alpha
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int samples = png_get_channels(png, info);
  if (samples != 3 && samples != 4) png_error(png, "unexpected channel count");
  image->decodedPixels.resize(static_cast<size_t>(width) * height * samples);
  rows->resize(height);
  for (png_uint_32 y = 0; y < height; ++y)
    (*rows)[y] = image->decodedPixels.data() + static_cast<size_t>(y) * width * samples;
  png_read_image(png, rows->data());
  png_read_end(png, nullptr);
  image->width = static_cast<int32_t>(width);
  image->height = static_cast<int32_t>(height);
  image->samples = samples;
  return true;
}

bool DecodeWithLibpng(const uint8_t* data, size_t size, uint64_t maxPixelBytes, TextureImage* image,
                      std::string* error) {
  PngSource source{data, size, 0, maxPixelBytes, std::string()};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, PngError, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    *error = "no memory for libpng";
    return false;
  }
  png_set_read_fn(png, &source, PngRead);
  std::vector<png_bytep> rows;
  const bool ok = ReadPngImage(png, info, image, &rows);
  png_destroy_read_struct(&png, &info, nullptr);
  if (!ok) {
    image->decodedPixels.clear();
    image->width = image->height = image->samples = 0;
    *error = source.error.empty() ? "libpng cannot read it" : source.error;
  }
  return ok;
}

#endif  // SV_WITH_LIBPNG

// The first bytes of a file in hex, for a file no reader recognises.
std::string FirstBytes(const uint8_t* data, size_t size) {
  std::string text;
  for (size_t i = 0; i < size && i < 4; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", data[i]);
    text += hex;
  }
  return text;
}

bool StartsWithPngSignature(const uint8_t* data, size_t size) {
#ifdef SV_WITH_LIBPNG
  return size >= 8 && png_sig_cmp(data, 0, 8) == 0;
#else
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return size >= 8 && std::memcmp(data, kSignature, 8) == 0;
#endif
}

}  // namespace

const char* TextureDecoderName(TextureDecoder decoder) {
  switch (decoder) {
    case TextureDecoder::kNone:
      return "none";
    case TextureDecoder::kOwn:
      return "own";
    case TextureDecoder::kLibtiff:
      return "libtiff";
    case TextureDecoder::kPng:
      return "png";
    case TextureDecoder::kJpeg:
      return "jpeg";
  }
  return "none";
}

namespace {

// The chain over bytes in memory; `sceneTexture` lets the own reader print
// its message for bytes that are no little-endian TIFF.
TextureImage DecodeTexture(const uint8_t* data, size_t size, const char* name,
                           uint32_t maxPixelBytes, bool sceneTexture);

TextureImage DecodeTextureFile(const FileBytes& file, const char* name, bool sceneTexture) {
  if (file.failure != FileFailure::kNone) {
    TextureImage image;
    image.tiff = std::make_unique<TiffImage>();
    image.noFile = true;
    image.note = DescribeFileFailure(file, kTextureFileLimits);
    if (file.failure == FileFailure::kCannotOpen || file.failure == FileFailure::kCannotRead)
      image.note = "cannot read the file: " + image.note;
    return image;
  }
  return DecodeTexture(file.data, file.size, name, kMaxPixelBytes, sceneTexture);
}

}  // namespace

TextureImage LoadTexture(const char* path) {
  return DecodeTextureFile(ReadWholeFile(path, kTextureFileLimits), path, true);
}

TextureImage LoadTextureFromFile(const FileBytes& file, const char* name) {
  return DecodeTextureFile(file, name, false);
}

TextureImage LoadTextureFromMemory(const uint8_t* data, size_t size, const char* name,
                                   uint32_t maxPixelBytes) {
  return DecodeTexture(data, size, name, maxPixelBytes, false);
}

namespace {

TextureImage DecodeTexture(const uint8_t* data, size_t size, const char* name,
                           uint32_t maxPixelBytes, bool sceneTexture) {
  TextureImage image;
  image.tiff = std::make_unique<TiffImage>();
  image.tiff->maxPixelBytes = maxPixelBytes;
  image.tiff->printsNotTiff = sceneTexture;
  if (!data) size = 0;
  if (static_cast<uint64_t>(size) > kTextureFileLimits.maxBytes) {
    image.note = "larger than 4096 MiB";
    return image;
  }

  TiffImage& own = *image.tiff;
  if (own.LoadTiffFromBytes(data, size)) {
    image.decoder = TextureDecoder::kOwn;
    image.width = own.width;
    image.height = own.height;
    image.samples = static_cast<int>(own.samplesPerPixel);
    image.pixels = own.pixels;
    return image;
  }

  std::string error;
  if (StartsWithPngSignature(data, size)) {
    image.note = "a PNG file";
#ifdef SV_WITH_LIBPNG
    if (DecodeWithLibpng(data, size, maxPixelBytes, &image, &error)) {
      image.decoder = TextureDecoder::kPng;
      image.pixels = image.decodedPixels.data();
    } else {
      image.note += " that libpng cannot read: " + error;
    }
#else
    image.note += std::string(", and ") + kOwnReaderOnly;
#endif
    return image;
  }
#ifdef SV_WITH_JPEG
  if (StartsWithJpegSignature(data, size)) {
    image.note = "a JPEG file";
    if (DecodeJpeg(data, size, maxPixelBytes, &image.decodedPixels, &image.width, &image.height,
                   &error)) {
      image.decoder = TextureDecoder::kJpeg;
      image.samples = 3;
      image.pixels = image.decodedPixels.data();
    } else {
      image.note += " that libjpeg cannot read: " + error;
    }
    return image;
  }
#endif

  const bool bigEndian = size >= 2 && data[0] == 'M' && data[1] == 'M';
  switch (own.failure) {
    case TiffLoadFailure::kDeclined:
      image.note = own.declineReason;
      break;
    case TiffLoadFailure::kNotLittleEndian:
      if (size == 0) {
        image.note = "the file is empty";
        return image;
      }
      if (!bigEndian) {
        image.note =
            std::string("not ") + kFormatsRead + " (it starts with " + FirstBytes(data, size) + ")";
        return image;
      }
      image.note = "big-endian byte order";
      break;
    default:  // an image size the own reader refuses: libtiff would refuse it too
      image.note = SizeRefused(maxPixelBytes);
      return image;
  }
#ifdef SV_WITH_LIBTIFF
  if (DecodeWithLibtiff(data, size, name ? name : "texture", maxPixelBytes, &image, &error)) {
    image.decoder = TextureDecoder::kLibtiff;
    image.pixels = image.decodedPixels.data();
  } else {
    image.note += ", and libtiff cannot read it either: " + error;
  }
#else
  (void)name;
  image.note += std::string(", and ") + kOwnReaderOnly;
#endif
  return image;
}

}  // namespace

std::string DescribeTextureLoad(const char* path, const TextureImage& image) {
  const std::string name = path;
  switch (image.decoder) {
    case TextureDecoder::kOwn:
      return std::string();
    case TextureDecoder::kLibtiff:
      return name + ": " + image.note + "; read through libtiff";
    case TextureDecoder::kPng:
      return name + ": " + image.note + "; read through libpng";
    case TextureDecoder::kJpeg:
      return name + ": " + image.note + "; read through libjpeg";
    case TextureDecoder::kNone:
      break;
  }
  if (image.noFile) return name + ": " + image.note;
  return name + ": cannot decode the texture: " + image.note + "; " + kSaveAs;
}
