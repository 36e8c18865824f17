// sv-inspect texture, run as a program: its summary line, its exit codes and
// messages, and its PNG output checked against libtiff's decoding.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/demo_runner.h"
#include "tests/support/png_reader.h"
#include "tests/support/tiff_helpers.h"
#include "tests/texture/handmade_tiff.h"

namespace {

// Runs `sv-inspect texture` with the arguments, capturing both output streams.
DemoRun Inspect(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"texture"};
  all.insert(all.end(), args.begin(), args.end());
  return RunInScratchFolder(SV_INSPECT, all);
}

// The PNG's pixels as 8-bit RGB or RGBA rows; empty when it cannot be read
// or does not carry the same channels as the TIFF (alpha exactly when
// `samples` is 4).
std::vector<uint8_t> ReadPngPixels(const std::string& path, int samples, int* width, int* height) {
  const RgbImage image = ReadPng(path, samples == 4);
  if (image.width == 0 || image.storedWithAlpha != (samples == 4)) return {};
  *width = image.width;
  *height = image.height;
  return image.rgb;
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

    const DemoRun run = Inspect({tif, "--png", png});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string line =
        "texture width=" + std::to_string(l.width) + " height=" + std::to_string(l.height) +
        " samples=" + std::to_string(l.samples) + " compression=" + std::to_string(l.compression) +
        " predictor=" + std::to_string(l.predictor == 2 ? 2 : 0) +
        " strips=" + std::to_string(TiffStripCountWithLibtiff(tif)) +
        " bits=8 photometric=2 planar=1 tiled=no pixels=yes decoder=own\n";
    EXPECT_EQ(run.out, line);
    int width = 0, height = 0;
    EXPECT_EQ(ReadPngPixels(png, l.samples, &width, &height), reference);
    EXPECT_EQ(width, l.width);
    EXPECT_EQ(height, l.height);
  }
}

// A TIFF the own reader declines: the line says why and which reader took
// it, and --png writes what libtiff decoded, top row first.
TEST(InspectTexture, DeclinedFilesNameTheReasonAndThePngHoldsLibtiffsDecoding) {
  SilenceLibtiff();
  const std::string source = ScratchPath("source.tif");
  const std::string tiled = ScratchPath("tiled.tif");
  ASSERT_TRUE(WriteTiffWithLibtiff(source, {70, 50, 3, 5, 2, 0}, VariedPixels(70, 50, 3, 22)));
  ASSERT_EQ(std::system(("tiffcp -c zip -t -w 32 -l 32 '" + source + "' '" + tiled + "'").c_str()), 0);
  int width = 0, height = 0;
  const std::vector<uint8_t> rgba = DecodeRgbaWithLibtiff(tiled, &width, &height);
  ASSERT_EQ(width, 70);
  std::vector<uint8_t> reference;
  for (size_t i = 0; i < rgba.size(); i += 4) reference.insert(reference.end(), &rgba[i], &rgba[i + 3]);

  const DemoRun run = Inspect({tiled, "--png", tiled + ".png"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "texture width=70 height=50 samples=3 compression=8 predictor=2 strips=0 bits=8 "
            "photometric=2 planar=1 tiled=yes pixels=yes decoder=libtiff "
            "reason=\"tiles instead of strips\"\n");
  EXPECT_EQ(ReadPngPixels(tiled + ".png", 3, &width, &height), reference);
}

TEST(InspectTexture, FailuresNameTheFileAndExitWithTwo) {
  const std::string missing = ScratchPath("missing.tif");
  DemoRun run = Inspect({missing});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "sv-inspect: " + missing + ": cannot read the file: No such file or directory\n");

  const std::string text = ScratchPath("not-a-tiff.tif");
  WriteBytes(text, {'M', 'M', 0, 42});
  run = Inspect({text, "--png", text + ".png"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out.rfind("\n\n\t\tNot a tif_file!!!texture width=0 ", 0), 0u) << run.out;
  EXPECT_NE(run.out.find(" pixels=no decoder=none reason=\"big-endian byte order, and libtiff "),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.err.rfind("sv-inspect: " + text + ": cannot decode the texture: big-endian", 0), 0u)
      << run.err;
  EXPECT_TRUE(ReadBytes(text + ".png").empty());

  HandmadeTiff gray;  // one sample, no Photometric tag: declined; libtiff takes it as gray
  gray.AddImage(2, 2, 1, 1, 8, 4);
  const std::string grayPath = ScratchPath("gray.tif");
  gray.Write(grayPath);
  run = Inspect({grayPath});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out,
            "texture width=2 height=2 samples=3 compression=1 predictor=0 strips=1 bits=8 "
            "photometric=none planar=1 tiled=no pixels=yes decoder=libtiff "
            "reason=\"1 sample per pixel\"\n");

  EXPECT_EQ(Inspect({}).exitCode, 64);
  EXPECT_EQ(Inspect({grayPath, "--png"}).exitCode, 64);
  const DemoRun help = RunInScratchFolder(SV_INSPECT, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("usage: sv-inspect model FILE", 0), 0u) << help.out;
  const DemoRun version = RunInScratchFolder(SV_INSPECT, {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("sv-inspect ", 0), 0u) << version.out;
}

}  // namespace
