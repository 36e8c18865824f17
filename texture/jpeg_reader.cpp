// libjpeg's error manager is replaced so that a fatal error longjmps back to
// DecodeJpeg instead of calling exit(), and so that its messages are kept
// instead of printed. Everything with a destructor lives outside the frame
// that calls setjmp, so a longjmp skips no destructor.
#include "texture/jpeg_reader.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

namespace {

constexpr long kMaxScans = 1000;  // a progressive file with more is refused: each costs a pass

struct ErrorManager {
  jpeg_error_mgr base;  // first, so libjpeg's pointer to it is a pointer to this
  jmp_buf escape;
  char message[JMSG_LENGTH_MAX];  // the first message libjpeg produced, "" for none
  bool endedEarly;                // libjpeg met the end of the data before the image's end
};

void KeepMessage(j_common_ptr cinfo) {
  ErrorManager* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (errors->message[0] == '\0') cinfo->err->format_message(cinfo, errors->message);
}

[[noreturn]] void EscapeOnError(j_common_ptr cinfo) {
  KeepMessage(cinfo);
  longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->escape, 1);
}

// Warnings (level -1) about the end of the data turn into failures: a
// truncated texture is reported, not drawn half grey. Other warnings and
// trace messages are dropped.
void WatchMessages(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  ErrorManager* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (cinfo->err->msg_code == JWRN_JPEG_EOF) {
    errors->endedEarly = true;
    std::snprintf(errors->message, sizeof errors->message, "the file ends early");
    longjmp(errors->escape, 1);
  }
}

void LimitScans(j_common_ptr cinfo) {
  const j_decompress_ptr decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (decompress->is_decompressor && decompress->input_scan_number > kMaxScans) {
    ErrorManager* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(errors->message, sizeof errors->message, "more than %ld scans", kMaxScans);
    longjmp(errors->escape, 1);
  }
}

// The libjpeg steps between setjmp and the end. Returns an empty string on
// success, else the reason; *pixels is sized here but owned by the caller.
const char* ReadJpegImage(jpeg_decompress_struct* cinfo, ErrorManager* errors,
                          jpeg_progress_mgr* progress, const uint8_t* data, size_t size,
                          uint64_t maxPixelBytes, std::vector<uint8_t>* pixels, int32_t* width,
                          int32_t* height) {
  if (setjmp(errors->escape))
    return errors->message[0] ? errors->message : "libjpeg cannot read it";
  jpeg_create_decompress(cinfo);  // clears every field but err
  cinfo->progress = progress;
  cinfo->mem->max_memory_to_use = 64L << 20;  // libjpeg's own work buffers; the image is ours
  jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(cinfo, TRUE);
  if (cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK)
    return "CMYK colours";
  const uint64_t pixelCount = static_cast<uint64_t>(cinfo->image_width) * cinfo->image_height;
  if (pixelCount == 0 || pixelCount > maxPixelBytes / 4) {
    std::snprintf(errors->message, sizeof errors->message,
                  "an image size of 0 or more than %llu MiB of pixels",
                  static_cast<unsigned long long>(maxPixelBytes >> 20));
    return errors->message;
  }
  cinfo->out_color_space = JCS_RGB;  // grayscale too
  jpeg_start_decompress(cinfo);
  if (cinfo->output_components != 3) return "unexpected channel count";
  const size_t rowBytes = static_cast<size_t>(cinfo->output_width) * 3;
  pixels->resize(rowBytes * cinfo->output_height);
  while (cinfo->output_scanline < cinfo->output_height) {
    JSAMPROW row = pixels->data() + rowBytes * cinfo->output_scanline;
    jpeg_read_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_decompress(cinfo);
  *width = static_cast<int32_t>(cinfo->output_width);
  *height = static_cast<int32_t>(cinfo->output_height);
  return "";
}

}  // namespace

bool StartsWithJpegSignature(const uint8_t* data, size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool DecodeJpeg(const uint8_t* data, size_t size, uint64_t maxPixelBytes,
                std::vector<uint8_t>* pixels, int32_t* width, int32_t* height, std::string* error) {
  jpeg_decompress_struct cinfo{};
  ErrorManager errors{};
  cinfo.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = EscapeOnError;
  errors.base.output_message = KeepMessage;
  errors.base.emit_message = WatchMessages;
  jpeg_progress_mgr progress{};
  progress.progress_monitor = LimitScans;
  *width = *height = 0;
  const char* reason =
      ReadJpegImage(&cinfo, &errors, &progress, data, size, maxPixelBytes, pixels, width, height);
  jpeg_destroy_decompress(&cinfo);
  if (*reason == '\0') return true;
  *error = reason;
  pixels->clear();
  *width = *height = 0;
  return false;
}
