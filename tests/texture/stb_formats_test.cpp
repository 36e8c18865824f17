// BMP and TGA textures against ImageMagick's decoding: files ImageMagick
// writes in the layouts old model folders hold (24- and 32-bit BMP, palette
// BMP, uncompressed and RLE TGA, grey TGA) and the real .bmp and .tga files
// of assimp-testmodels decode through LoadTexture to exactly the pixels
// `convert FILE rgba:-` gives; a damaged file is one line and no pixels, and
// the pixel cap is checked before anything is decoded.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/whole_file.h"
#include "tests/support/assimp_models.h"
#include "tests/support/scratch.h"
#include "tests/support/tiff_helpers.h"
#include "texture/texture_loader.h"

namespace {

bool Shell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

// ImageMagick's RGBA decoding of `path`, top row first; empty when it fails.
// ImageMagick keeps a TGA's rows in stored order and notes where its origin
// is; -auto-orient applies that note.
std::vector<uint8_t> MagickRgba(const std::string& path, int width, int height) {
  const std::string raw = path + ".rgba";
  std::vector<uint8_t> rgba;
  if (!Shell("convert '" + path + "' -auto-orient -depth 8 'rgba:" + raw + "'")) return rgba;
  const FileBytes bytes = ReadWholeFile(raw.c_str(), kTextureFileLimits);
  if (bytes.failure == FileFailure::kNone &&
      bytes.size == static_cast<size_t>(width) * height * 4)
    rgba.assign(bytes.data, bytes.data + bytes.size);
  return rgba;
}

// LoadTexture's pixels of `path` equal ImageMagick's; RGB images are
// compared on their three samples, and ImageMagick must then call them opaque.
void ExpectDecodesAsMagick(const std::string& path, const char* format) {
  testing::internal::CaptureStdout();  // the own TIFF reader's message
  const TextureImage image = LoadTexture(path.c_str());
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(image.decoder, TextureDecoder::kStb) << DescribeTextureLoad(path.c_str(), image);
  EXPECT_EQ(DescribeTextureLoad("t", image),
            std::string("t: a ") + format + " file; read through stb_image");
  const std::vector<uint8_t> reference = MagickRgba(path, image.width, image.height);
  ASSERT_FALSE(reference.empty()) << "ImageMagick gives another size for " << path;
  const size_t pixels = static_cast<size_t>(image.width) * image.height;
  size_t differing = 0;
  for (size_t i = 0; i < pixels; ++i) {
    for (int c = 0; c < 4; ++c) {
      const uint8_t ours = c < image.samples ? image.pixels[i * image.samples + c] : 255;
      if (ours != reference[i * 4 + c]) ++differing;
    }
  }
  EXPECT_EQ(differing, 0u) << path << " (" << image.samples << " samples, " << image.width << " x " << image.height << ")";
}

struct Layout {
  const char* name;
  const char* format;   // what the note calls it
  const char* options;  // convert's options for writing it
  int samples;          // of the source picture
};

class WrittenByMagick : public testing::TestWithParam<Layout> {};

TEST_P(WrittenByMagick, DecodesAsMagickDoes) {
  const Layout& layout = GetParam();
  const int w = 37, h = 23;  // rows not a multiple of 4 bytes, as BMP pads them
  const std::string folder = ScratchFolder(std::string("stb-") + layout.name);
  const std::string source = folder + "/source.pam";
  std::FILE* out = std::fopen(source.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  const std::vector<uint8_t> pixels = VariedPixels(w, h, layout.samples, 7);
  std::fprintf(out, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n", w, h,
               layout.samples, layout.samples == 4 ? "RGB_ALPHA" : "RGB");
  std::fwrite(pixels.data(), 1, pixels.size(), out);
  ASSERT_EQ(std::fclose(out), 0);
  const std::string file = folder + (layout.format[0] == 'B' ? "/t.bmp" : "/t.tga");
  ASSERT_TRUE(Shell("convert '" + source + "' " + layout.options + " '" + file + "'"));
  ExpectDecodesAsMagick(file, layout.format);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, WrittenByMagick,
    testing::Values(Layout{"bmp24", "BMP", "-type TrueColor", 3},
                    Layout{"bmp32", "BMP", "-type TrueColorAlpha", 4},
                    Layout{"bmp8", "BMP", "-colors 16 -type Palette", 3},
                    Layout{"bmp3", "BMP", "-type TrueColor -define bmp:format=bmp3", 3},
                    Layout{"tga24", "TGA", "-compress None", 3},
                    Layout{"tga32", "TGA", "-compress None", 4},
                    Layout{"tgarle", "TGA", "-compress RLE", 3},
                    Layout{"tgagrey", "TGA", "-colorspace Gray -type Grayscale", 3}),
    [](const testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

// The skins and maps shipped with real models (sydney.md2's sydney.bmp,
// the X and Collada samples' TGAs).
TEST(StbTexture, AssimpTestModelImagesDecodeAsMagickDoes) {
  if (const std::string why = AssimpModelsMissing(); !why.empty()) GTEST_SKIP() << why;
  const std::vector<std::string> files = AssimpModelFiles({""}, {".bmp", ".tga"});
  ASSERT_GE(files.size(), 3u);
  for (const std::string& file : files) {
    const std::string lower = file.substr(file.size() - 3);
    ExpectDecodesAsMagick(file, lower == "bmp" || lower == "BMP" ? "BMP" : "TGA");
  }
}

TEST(StbTexture, DamagedOrHugeFilesAreOneLineAndNoPixels) {
  // An 8-bit BMP's headers (54 bytes) for a 4 x 4 picture, run-length
  // coded, which stb_image does not decode.
  std::vector<uint8_t> bmp = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                              4,   0,   0, 0, 4, 0, 0, 0, 1, 0, 8, 0, 1, 0, 0, 0};
  bmp.resize(54 + 64, 0x80);
  const std::string cut = ScratchPath("cut.bmp");
  std::FILE* out = std::fopen(cut.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite(bmp.data(), 1, bmp.size(), out);
  ASSERT_EQ(std::fclose(out), 0);
  testing::internal::CaptureStdout();
  const TextureImage damaged = LoadTexture(cut.c_str());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(damaged.decoder, TextureDecoder::kNone);
  EXPECT_EQ(damaged.pixels, nullptr);
  EXPECT_EQ(DescribeTextureLoad("skin.bmp", damaged),
            "skin.bmp: cannot decode the texture: a BMP file that stb_image cannot read: its "
            "header is damaged or of a kind stb_image does not decode; save it as 8-bit RGB TIFF "
            "or PNG");

  // The same header uncompressed and claiming 40000 x 40000 pixels: refused
  // from the header under a 1 MiB cap, before any pixel is allocated.
  bmp[30] = 0;
  bmp[18] = 0x40, bmp[19] = 0x9C, bmp[22] = 0x40, bmp[23] = 0x9C;
  testing::internal::CaptureStdout();
  const TextureImage huge = LoadTextureFromMemory(bmp.data(), bmp.size(), "huge.bmp", 1u << 20);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(huge.decoder, TextureDecoder::kNone);
  EXPECT_EQ(DescribeTextureLoad("huge.bmp", huge),
            "huge.bmp: cannot decode the texture: a BMP file that stb_image cannot read: an image "
            "size of 0 or more than 1 MiB of pixels; save it as 8-bit RGB TIFF or PNG");
}

}  // namespace
