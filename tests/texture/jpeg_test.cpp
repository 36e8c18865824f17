// JPEG textures against libjpeg-turbo's own command-line decoder: files made
// by cjpeg in the layouts a model folder holds (baseline with chroma
// subsampling, progressive, grayscale) and a real texture of
// assimp-testmodels decode through LoadTexture, and through
// LoadTextureFromMemory, to exactly djpeg's RGB output; a truncated file is
// one line and no pixels.
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

#ifdef SV_WITH_JPEG
namespace {

bool Shell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

bool WritePpm(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  std::fprintf(out, "P6\n%d %d\n255\n", width, height);
  const bool ok = std::fwrite(rgb.data(), 1, rgb.size(), out) == rgb.size();
  return std::fclose(out) == 0 && ok;
}

// A binary PPM (P6, maxval 255) as djpeg -rgb writes it; empty when it is not one.
std::vector<uint8_t> ReadPpm(const std::string& path, int* width, int* height) {
  std::vector<uint8_t> rgb;
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return rgb;
  int maxval = 0;
  if (std::fscanf(in, "P6 %d %d %d", width, height, &maxval) == 3 && maxval == 255 &&
      std::fgetc(in) != EOF) {
    rgb.resize(static_cast<size_t>(*width) * *height * 3);
    if (std::fread(rgb.data(), 1, rgb.size(), in) != rgb.size()) rgb.clear();
  }
  std::fclose(in);
  return rgb;
}

void ExpectDecodesAsDjpeg(const std::string& jpeg) {
  const std::string ppm = jpeg + ".ppm";
  ASSERT_TRUE(Shell("djpeg -rgb -outfile '" + ppm + "' '" + jpeg + "'"));
  int width = 0, height = 0;
  const std::vector<uint8_t> reference = ReadPpm(ppm, &width, &height);
  ASSERT_FALSE(reference.empty());

  testing::internal::CaptureStdout();  // the own TIFF reader's message
  const TextureImage image = LoadTexture(jpeg.c_str());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(image.decoder, TextureDecoder::kJpeg);
  EXPECT_EQ(DescribeTextureLoad("t.jpg", image), "t.jpg: a JPEG file; read through libjpeg");
  ASSERT_EQ(image.width, width);
  ASSERT_EQ(image.height, height);
  ASSERT_EQ(image.samples, 3);
  EXPECT_TRUE(std::equal(reference.begin(), reference.end(), image.pixels));

  const FileBytes bytes = ReadWholeFile(jpeg.c_str(), kTextureFileLimits);
  testing::internal::CaptureStdout();  // an embedded image: no TIFF reader's message
  const TextureImage fromMemory = LoadTextureFromMemory(bytes.data, bytes.size, "embedded");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_EQ(fromMemory.decoder, TextureDecoder::kJpeg);
  EXPECT_TRUE(std::equal(reference.begin(), reference.end(), fromMemory.pixels));
}

TEST(JpegTexture, DecodesAsDjpegDoes) {
  const int w = 123, h = 77;  // not multiples of the 8x8 or 16x16 blocks
  const std::string ppm = ScratchPath("varied.ppm");
  ASSERT_TRUE(WritePpm(ppm, w, h, VariedPixels(w, h, 3, 41)));
  const char* const variants[][2] = {
      {"baseline-420", "-quality 85"},           {"baseline-444", "-quality 95 -sample 1x1"},
      {"progressive", "-progressive -optimize"}, {"grayscale", "-grayscale"},
      {"restart-markers", "-restart 2"},
  };
  for (const auto& variant : variants) {
    SCOPED_TRACE(variant[0]);
    const std::string jpeg = ScratchPath(std::string(variant[0]) + ".jpg");
    ASSERT_TRUE(
        Shell(std::string("cjpeg ") + variant[1] + " -outfile '" + jpeg + "' '" + ppm + "'"));
    ExpectDecodesAsDjpeg(jpeg);
  }
  if (AssimpModelsMissing().empty()) {
    SCOPED_TRACE("SpiderTex.jpg");
    ExpectDecodesAsDjpeg(AssimpModelPath("OBJ/SpiderTex.jpg"));
  }
}

TEST(JpegTexture, TruncatedOrCorruptFileIsOneLineAndNoPixels) {
  const int w = 64, h = 64;
  const std::string ppm = ScratchPath("source.ppm");
  const std::string jpeg = ScratchPath("whole.jpg");
  ASSERT_TRUE(WritePpm(ppm, w, h, VariedPixels(w, h, 3, 42)));
  ASSERT_TRUE(Shell("cjpeg -outfile '" + jpeg + "' '" + ppm + "'"));
  const FileBytes whole = ReadWholeFile(jpeg.c_str(), kTextureFileLimits);
  ASSERT_GT(whole.size, 1000u);
  std::vector<uint8_t> bytes(whole.data, whole.data + whole.size);

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* line;
  };
  std::vector<uint8_t> badHeader = bytes;
  badHeader.resize(300);  // inside the tables: libjpeg fails instead of warning
  std::vector<uint8_t> huffmanGarbage = bytes;
  for (size_t i = huffmanGarbage.size() / 2; i + 2 < huffmanGarbage.size(); ++i)
    huffmanGarbage[i] = static_cast<uint8_t>(i * 151);
  const Case cases[] = {
      {"ends inside the image data",
       std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2),
       "t.jpg: cannot decode the texture: a JPEG file that libjpeg cannot read: the file ends "
       "early; save it as 8-bit RGB TIFF or PNG"},
      {"ends inside the header", badHeader,
       "t.jpg: cannot decode the texture: a JPEG file that libjpeg cannot read: the file ends "
       "early; save it as 8-bit RGB TIFF or PNG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStdout();
    const TextureImage image = LoadTextureFromMemory(c.bytes.data(), c.bytes.size(), "t.jpg");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(image.decoder, TextureDecoder::kNone);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(DescribeTextureLoad("t.jpg", image), c.line);
  }
  // Garbage in the entropy-coded data is libjpeg's to judge (it may warn and
  // go on); whatever it decides, the answer is a value, not a crash.
  testing::internal::CaptureStdout();
  const TextureImage garbage =
      LoadTextureFromMemory(huffmanGarbage.data(), huffmanGarbage.size(), "t.jpg");
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(garbage.decoder == TextureDecoder::kNone || garbage.decoder == TextureDecoder::kJpeg);
  EXPECT_EQ(garbage.pixels != nullptr, garbage.decoder == TextureDecoder::kJpeg);
}

}  // namespace
#endif
