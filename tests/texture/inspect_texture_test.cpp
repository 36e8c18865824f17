// sv-inspect texture, run as a program: its summary line, its exit codes and
// messages, and its PNG output checked against libtiff's decoding.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/tiff_helpers.h"
#include "tests/texture/handmade_tiff.h"

namespace {

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

ToolRun Inspect(const std::string& arguments) {
  const std::string out = ScratchPath("stdout.txt");
  const std::string err = ScratchPath("stderr.txt");
  const std::string command =
      std::string("'") + SV_INSPECT + "' texture " + arguments + " >'" + out + "' 2>'" + err + "'";
  const int status = std::system(command.c_str());
  ToolRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadText(out);
  run.err = ReadText(err);
  return run;
}

// The PNG's pixels as 8-bit RGB or RGBA rows; empty when libpng cannot read it.
std::vector<uint8_t> ReadPng(const std::string& path, int samples, int* width, int* height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  const bool wasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  image.format = samples == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  if (wasAlpha != (samples == 4)) return {};  // the PNG must carry the same channels
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  return pixels;
}

TEST(InspectTexture, PngEqualsLibtiffDecoding) {
  SilenceLibtiff();
  struct Case {
    const char* name;
    TiffLayout layout;
  };
  const Case cases[] = {
      {"rgb-lzw-predictor-multistrip.tif", {123, 45, 3, 5, 2, 4}},
      {"rgba-lzw-onestrip.tif", {31, 17, 4, 5, 1, 17}},
      {"rgb-none-multistrip.tif", {300, 40, 3, 1, 1, 0}},
      {"rgba-none-onepixel.tif", {1, 1, 4, 1, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TiffLayout& l = c.layout;
    const std::string tif = ScratchPath(c.name);
    const std::string png = tif + ".png";
    ASSERT_TRUE(WriteTiffWithLibtiff(tif, l, VariedPixels(l.width, l.height, l.samples, 21)));
    const std::vector<uint8_t> reference = DecodeTiffWithLibtiff(tif);
    ASSERT_FALSE(reference.empty());

    const ToolRun run = Inspect("'" + tif + "' --png '" + png + "'");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string line =
        "texture width=" + std::to_string(l.width) + " height=" + std::to_string(l.height) +
        " samples=" + std::to_string(l.samples) + " compression=" + std::to_string(l.compression) +
        " predictor=" + std::to_string(l.predictor == 2 ? 2 : 0) +
        " strips=" + std::to_string(TiffStripCountWithLibtiff(tif)) + " pixels=yes\n";
    EXPECT_EQ(run.out, line);
    int width = 0, height = 0;
    EXPECT_EQ(ReadPng(png, l.samples, &width, &height), reference);
    EXPECT_EQ(width, l.width);
    EXPECT_EQ(height, l.height);
  }
}

TEST(InspectTexture, FailuresNameTheFileAndExitWithTwo) {
  const std::string missing = ScratchPath("missing.tif");
  ToolRun run = Inspect("'" + missing + "'");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "sv-inspect: " + missing + ": cannot be opened\n");

  const std::string text = ScratchPath("not-a-tiff.tif");
  WriteBytes(text, {'M', 'M', 0, 42});
  run = Inspect("'" + text + "' --png '" + text + ".png'");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "\n\n\t\tNot a tif_file!!!");
  EXPECT_EQ(run.err, "sv-inspect: " + text + ": is not a little-endian TIFF file\n");
  EXPECT_TRUE(ReadText(text + ".png").empty());

  HandmadeTiff gray;
  gray.AddImage(2, 2, 1, 1, 8, 4);
  const std::string grayPath = ScratchPath("gray.tif");
  gray.Write(grayPath);
  run = Inspect("'" + grayPath + "'");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out,
            "texture width=2 height=2 samples=1 compression=1 predictor=0 strips=1 pixels=no\n");
  run = Inspect("'" + grayPath + "' --png '" + grayPath + ".png'");
  EXPECT_EQ(run.exitCode, 2);

  EXPECT_EQ(Inspect("").exitCode, 64);
  EXPECT_EQ(Inspect("'" + grayPath + "' --png").exitCode, 64);
}

}  // namespace
