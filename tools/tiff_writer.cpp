// The libtiff writer behind WriteTiffWithLibtiff; see tiff_writer.h.
#include "tools/tiff_writer.h"

#include <tiffio.h>

#include <algorithm>

bool WriteTiffWithLibtiff(const std::string& path, const TiffLayout& layout,
                          const std::vector<uint8_t>& pixels) {
  const size_t rowBytes = static_cast<size_t>(layout.width) * layout.samples * layout.bits / 8;
  if (pixels.size() < rowBytes * layout.height) return false;
  TIFF* tif = TIFFOpen(path.c_str(), layout.bigEndian ? "wb" : "wl");
  if (!tif) return false;
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.width) &&
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.height) &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples) &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits) &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric) &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
  if (ok && layout.samples == 4 && layout.photometric == PHOTOMETRIC_RGB) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (ok && layout.predictor != 1) ok = TIFFSetField(tif, TIFFTAG_PREDICTOR, layout.predictor);
  const uint32_t rowsPerStrip = layout.rowsPerStrip > 0 ? static_cast<uint32_t>(layout.rowsPerStrip)
                                                        : TIFFDefaultStripSize(tif, 0);
  if (ok) ok = TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  // Write whole strips: TIFFWriteEncodedStrip encodes its own copy.
  for (uint32_t row = 0, strip = 0; ok && row < static_cast<uint32_t>(layout.height);
       row += rowsPerStrip, ++strip) {
    uint32_t rows = std::min<uint32_t>(rowsPerStrip, layout.height - row);
    std::vector<uint8_t> copy(pixels.begin() + row * rowBytes,
                              pixels.begin() + (row + rows) * rowBytes);
    ok = TIFFWriteEncodedStrip(tif, strip, copy.data(), static_cast<tmsize_t>(copy.size())) >= 0;
  }
  TIFFClose(tif);
  return ok;
}
