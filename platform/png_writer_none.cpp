// The PNG writer of a build without libpng (the web page): every capture is
// refused with a reason, so the run reports it as any failed capture.
#include "platform/png_writer.h"

bool WritePngRgb(const std::string& path, uint32_t, uint32_t, const uint8_t*,
                 std::string* error) {
  *error = path + ": this build writes no PNG files (it is made without libpng)";
  return false;
}

PngCreation WritePngRgbNewFile(const std::string& path, uint32_t, uint32_t, const uint8_t*,
                               std::string* error) {
  *error = path + ": this build writes no PNG files (it is made without libpng)";
  return PngCreation::kFailed;
}
