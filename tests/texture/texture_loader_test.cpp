// The texture chain against libtiff and libpng: every TIFF layout the own
// reader declines, written by libtiff or its tools, decodes through
// LoadTexture to exactly libtiff's own RGBA decoding, with the reason the own
// reader gave; a PNG decodes to what libpng's simplified reader gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/assimp_models.h"
#include "tests/support/png_reader.h"
#include "tests/support/scratch.h"
#include "tests/support/tiff_helpers.h"
#include "texture/texture_loader.h"

namespace {

bool Shell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

// 16-bit samples whose high bytes are the 8-bit test pixels.
std::vector<uint8_t> SixteenBit(const std::vector<uint8_t>& eightBit) {
  std::vector<uint8_t> out;
  for (uint8_t v : eightBit) {
    const uint16_t wide = static_cast<uint16_t>(v * 257);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&wide);
    out.insert(out.end(), bytes, bytes + 2);
  }
  return out;
}

TEST(TextureLoader, EveryDeclinedTiffLayoutDecodesAsLibtiffDecodesIt) {
  SilenceLibtiff();
  const int w = 100, h = 70;
  const std::string base = ScratchPath("base-rgb-lzw.tif");
  const std::string gray = ScratchPath("gray.tif");
  ASSERT_TRUE(WriteTiffWithLibtiff(base, {w, h, 3, 5, 2, 8}, VariedPixels(w, h, 3, 31)));
  TiffLayout grayLayout{w, h, 1, 1, 1, 0};
  grayLayout.photometric = 1;
  ASSERT_TRUE(WriteTiffWithLibtiff(gray, grayLayout, VariedPixels(w, h, 1, 32)));
  const auto tiffcp = [&](const std::string& options) {
    return [=](const std::string& out) { return Shell("tiffcp " + options + " '" + base + "' '" + out + "'"); };
  };
  const auto written = [&](TiffLayout layout, int bits, int photometric) {
    layout.bits = bits;
    layout.photometric = photometric;
    return [=](const std::string& out) {
      const std::vector<uint8_t> pixels = VariedPixels(w, h, layout.samples, 33);
      return WriteTiffWithLibtiff(out, layout, bits == 16 ? SixteenBit(pixels) : pixels);
    };
  };
  struct Variant {
    const char* name;
    std::function<bool(const std::string&)> make;
    const char* reason;  // empty: the own reader decodes it
  };
  const Variant variants[] = {
      {"own-rgb-lzw", tiffcp("-c lzw:2"), ""},
      {"rgb-16-bit", written({w, h, 3, 1, 1, 0}, 16, 2), "16-bit samples"},
      {"rgba-16-bit-lzw", written({w, h, 4, 5, 1, 0}, 16, 2), "16-bit samples"},
      {"deflate", tiffcp("-c zip"), "Deflate (zip) compression"},
      {"packbits", tiffcp("-c packbits"), "PackBits compression"},
      {"jpeg-ycbcr", tiffcp("-c jpeg -r 16"), "YCbCr colours"},
      {"jpeg-rgb", tiffcp("-c jpeg:r -r 16"), "JPEG compression"},
      {"tiled-64", tiffcp("-t -w 64 -l 64"), "tiles instead of strips"},
      {"planar-separate", tiffcp("-p separate"), "separate colour planes"},
      {"big-endian", tiffcp("-B"), "big-endian byte order"},
      {"grayscale", [&](const std::string& out) { return Shell("tiffcp '" + gray + "' '" + out + "'"); },
       "grayscale"},
      {"palette", [&](const std::string& out) { return Shell("tiffmedian '" + base + "' '" + out + "'"); },
       "palette colours"},
      {"bilevel",
       [&](const std::string& out) { return Shell("tiffdither '" + gray + "' '" + out + "'"); },
       "black and white (1 bit per pixel)"},
      {"cmyk", written({w, h, 4, 5, 1, 0}, 8, 5), "CMYK colours"},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    const std::string path = ScratchPath(std::string(v.name) + ".tif");
    ASSERT_TRUE(v.make(path));
    int refWidth = 0, refHeight = 0;
    const std::vector<uint8_t> reference = DecodeRgbaWithLibtiff(path, &refWidth, &refHeight);
    ASSERT_FALSE(reference.empty());

    testing::internal::CaptureStdout();  // a big-endian file still gets the own reader's message
    const TextureImage image = LoadTexture(path.c_str());
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, std::string(v.name) == "big-endian" ? "\n\n\t\tNot a tif_file!!!" : "");
    EXPECT_EQ(image.decoder, *v.reason ? TextureDecoder::kLibtiff : TextureDecoder::kOwn);
    EXPECT_EQ(image.note, v.reason);
    EXPECT_EQ(image.tiff->declineReason, std::string(v.name) == "big-endian" ? "" : v.reason);
    ASSERT_NE(image.pixels, nullptr);
    ASSERT_EQ(image.width, refWidth);
    ASSERT_EQ(image.height, refHeight);
    ASSERT_TRUE(image.samples == 3 || image.samples == 4);
    int mismatches = 0;
    for (size_t i = 0; i < static_cast<size_t>(refWidth) * refHeight; ++i) {
      const uint8_t* ours = image.pixels + i * image.samples;
      const uint8_t* theirs = &reference[i * 4];
      const uint8_t alpha = image.samples == 4 ? ours[3] : 255;
      if (ours[0] != theirs[0] || ours[1] != theirs[1] || ours[2] != theirs[2] || alpha != theirs[3])
        ++mismatches;
    }
    EXPECT_EQ(mismatches, 0);
  }
}

// libtiff 4.5 refuses 16x16 uncompressed tiles when it reads them unmapped,
// and a damaged tile stops its RGBA reader unless told to go on: tiff2rgba
// maps the file and goes on, and the texture chain must give what it gives.
TEST(TextureLoader, TiledTiffDecodesAsTiff2rgbaDecodesIt) {
  SilenceLibtiff();
  const int w = 70, h = 46;
  const std::string base = ScratchPath("base.tif");
  ASSERT_TRUE(WriteTiffWithLibtiff(base, {w, h, 3, 1, 1, 0}, VariedPixels(w, h, 3, 34)));
  const std::string tiled = ScratchPath("tiled-16.tif");
  const std::string damaged = ScratchPath("tiled-16-lzw-damaged.tif");
  ASSERT_TRUE(Shell("tiffcp -c none -t -w 16 -l 16 '" + base + "' '" + tiled + "'"));
  ASSERT_TRUE(Shell("tiffcp -c lzw -t -w 16 -l 16 '" + base + "' '" + damaged + "'"));
  {
    std::FILE* file = std::fopen(damaged.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::fseek(file, 20, SEEK_SET);  // inside the first tile's LZW codes
    for (int i = 0; i < 40; ++i) std::fputc(0xFF, file);
    std::fclose(file);
  }
  for (const std::string& path : {tiled, damaged}) {
    SCOPED_TRACE(path);
    const std::string reference = path + ".rgba.tif";
    ASSERT_TRUE(Shell("tiff2rgba -c none -n '" + path + "' '" + reference + "'"));
    const std::vector<uint8_t> expected = DecodeTiffWithLibtiff(reference);
    ASSERT_EQ(expected.size(), static_cast<size_t>(w) * h * 3);
    const TextureImage image = LoadTexture(path.c_str());
    ASSERT_EQ(image.decoder, TextureDecoder::kLibtiff) << image.note;
    EXPECT_EQ(image.note, path == tiled ? "tiles instead of strips"
                                        : "tiles instead of strips (libtiff: Using code not yet "
                                          "in table)");
    ASSERT_EQ(image.samples, 3);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.pixels));
  }
}

TEST(TextureLoader, PngIsReadThroughLibpngAndForeignBytesByNothing) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  const std::string png = AssimpModelPath("3DS/test.png");
  testing::internal::CaptureStdout();
  const TextureImage image = LoadTexture(png.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\n\t\tNot a tif_file!!!");
  EXPECT_EQ(image.decoder, TextureDecoder::kPng);
  EXPECT_EQ(DescribeTextureLoad("txt.tif", image), "txt.tif: a PNG file; read through libpng");
  // The same file as a material's texture: read without the message.
  testing::internal::CaptureStdout();
  const TextureImage material =
      LoadTextureFromFile(ReadWholeFile(png.c_str(), kTextureFileLimits), png.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(material.decoder, TextureDecoder::kPng);
  const RgbImage reference = ReadPng(png);
  ASSERT_GT(reference.width, 0);
  ASSERT_EQ(image.width, reference.width);
  ASSERT_EQ(image.height, reference.height);
  ASSERT_EQ(image.samples, 3);
  EXPECT_TRUE(std::equal(reference.rgb.begin(), reference.rgb.end(), image.pixels));

  const std::string foreign = ScratchPath("hello.tif");
  std::FILE* out = std::fopen(foreign.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fputs("hello world", out);
  std::fclose(out);
  testing::internal::CaptureStdout();
  const TextureImage none = LoadTexture(foreign.c_str());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(none.decoder, TextureDecoder::kNone);
  EXPECT_EQ(none.pixels, nullptr);
  EXPECT_EQ(DescribeTextureLoad("txt.tif", none),
            "txt.tif: cannot decode the texture: not a TIFF, PNG or JPEG file (it starts with 68 65 6C "
            "6C); save it as 8-bit RGB TIFF or PNG");
}

}  // namespace
