// The LZW strip decoder and the predictor on hand-made code streams: the
// known small strips, the one-early width switches, the guards against
// strips that name missing entries, lack an end code or overflow the buffer.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/texture/handmade_tiff.h"
#include "texture/lzw_decoder.h"
#include "texture/predictor.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Decode(const Bytes& strip, uint32_t outSize = 1 << 20) {
  return DecodeLzwBytes(strip.data(), static_cast<int32_t>(strip.size()), outSize);
}

// Codes at 9 bits, as a strip that stores fewer than 253 entries is written.
Bytes NineBitStrip(const std::vector<uint32_t>& codes) {
  LzwBitWriter writer;
  for (uint32_t code : codes) writer.Put(code, 9);
  return writer.Finish();
}

TEST(LzwDecoder, KnownSmallStrips) {
  EXPECT_EQ(Decode({0x80, 0x40, 0x40}), Bytes{});
  EXPECT_EQ(Decode({0x80, 0x10, 0x60, 0x20}), (Bytes{65}));
  EXPECT_EQ(Decode({0x80, 0x10, 0x48, 0x50, 0x28, 0x08}), (Bytes{65, 66, 65, 66}));
  EXPECT_EQ(Decode({0x80, 0x10, 0x60, 0x50, 0x10}), (Bytes{65, 65, 65}));
  // The bit writer produces the same bytes for the same codes.
  EXPECT_EQ(NineBitStrip({256, 65, 66, 258, 257}), (Bytes{0x80, 0x10, 0x48, 0x50, 0x28, 0x08}));
}

// A strip of single-byte codes: after the clear code, every code but the
// first stores one entry, and the width grows after entries 510, 1022 and
// 2046 are stored. A clear code at 12 bits returns to 9.
TEST(LzwDecoder, CodeWidthGrowsOneEntryEarlyAndClearReturnsToNine) {
  LzwBitWriter writer;
  Bytes expected;
  writer.Put(256, 9);
  int nextEntry = 258;  // entry the next code after the first stores
  int width = 9;
  for (int i = 0; i < 2100; ++i) {
    const uint8_t byte = static_cast<uint8_t>((i * 7) % 256);
    writer.Put(byte, width);
    expected.push_back(byte);
    if (i == 0) continue;  // the first code after a clear stores nothing
    if (nextEntry == 510) width = 10;
    if (nextEntry == 1022) width = 11;
    if (nextEntry == 2046) width = 12;
    ++nextEntry;
  }
  ASSERT_EQ(width, 12);
  writer.Put(256, 12);
  writer.Put(200, 9);
  writer.Put(201, 9);
  writer.Put(258, 9);  // 200 201, stored when 201 arrived
  writer.Put(257, 9);
  expected.insert(expected.end(), {200, 201, 200, 201});
  EXPECT_EQ(Decode(writer.Finish()), expected);

  // Switching one code late reads garbage: the widths matter.
  LzwBitWriter late;
  late.Put(256, 9);
  for (int i = 0; i < 254; ++i) late.Put(static_cast<uint8_t>(i), 9);
  late.Put(7, 9);  // should be 10 bits wide
  late.Put(257, 10);
  const Bytes lateOut = Decode(late.Finish());
  ASSERT_GE(lateOut.size(), 255u);
  EXPECT_NE(lateOut[254], 7);
}

// Past entry 4094 nothing more is stored and codes stay 12 bits wide until
// the next clear code; code 4095, which can then name nothing, ends the strip.
TEST(LzwDecoder, FullTableStopsGrowingAndStaysAtTwelveBits) {
  LzwBitWriter writer;
  Bytes expected;
  writer.Put(256, 9);
  int nextEntry = 258;
  int width = 9;
  for (int i = 0; i < 4000; ++i) {
    const uint8_t byte = static_cast<uint8_t>(i * 13 + i / 256);
    writer.Put(byte, width);
    expected.push_back(byte);
    if (i == 0 || nextEntry > 4094) continue;
    if (nextEntry == 510) width = 10;
    if (nextEntry == 1022) width = 11;
    if (nextEntry == 2046) width = 12;
    ++nextEntry;
  }
  ASSERT_EQ(nextEntry, 4095);
  writer.Put(4094, 12);  // the last stored entry: two bytes
  LzwBitWriter tail = writer;
  tail.Put(257, 12);
  // Entry 4094 was stored when byte 3837 arrived: bytes 3836 and 3837.
  Bytes full = expected;
  full.insert(full.end(), {expected[3836], expected[3837]});
  auto decoder = std::make_unique<LzwDecoder>();
  Bytes out(1 << 20);
  uint32_t written = 0;
  const Bytes ended = tail.Finish();
  decoder->DecodeStrip(ended.data(), static_cast<int32_t>(ended.size()), out.data(),
                       static_cast<uint32_t>(out.size()), &written);
  EXPECT_EQ(decoder->NextCode(), 4095);
  EXPECT_EQ(decoder->CodeWidth(), 12);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + written), full);

  LzwBitWriter bad = writer;
  bad.Put(4095, 12);
  bad.Put(65, 12);
  bad.Put(257, 12);
  const Bytes badOut = Decode(bad.Finish());
  EXPECT_EQ(badOut.size(), expected.size() + 2);  // stops at 4095
}

TEST(LzwDecoder, StripWithoutLeadingClearCodeDecodesAsIfItHadOne) {
  EXPECT_EQ(Decode(NineBitStrip({65, 66, 258, 257})), (Bytes{65, 66, 65, 66}));
  EXPECT_EQ(Decode(NineBitStrip({65, 258, 257})), (Bytes{65, 65, 65}));
}

TEST(LzwDecoder, CodesNamingNoStringEndTheStrip) {
  // A clear code followed by a clear code, or by a code of 258 or more.
  EXPECT_EQ(Decode(NineBitStrip({65, 256, 256, 66, 257})), (Bytes{65}));
  EXPECT_EQ(Decode(NineBitStrip({65, 256, 258, 66, 257})), (Bytes{65}));
  EXPECT_EQ(Decode(NineBitStrip({256, 300, 66, 257})), Bytes{});
  // No previous string at the start of the strip.
  EXPECT_EQ(Decode(NineBitStrip({258, 65, 257})), Bytes{});
  EXPECT_EQ(Decode(NineBitStrip({511, 65, 257})), Bytes{});
  // Beyond nextCode with a previous string: taken as the not-yet-stored
  // entry, which is then the previous string.
  EXPECT_EQ(Decode(NineBitStrip({256, 65, 300, 258, 257})), (Bytes{65, 65, 65, 65, 65}));
}

TEST(LzwDecoder, StripWithoutEndCodeEndsWithItsData) {
  // 65 66 and then seven bits of zero: too few for another code.
  EXPECT_EQ(Decode(NineBitStrip({256, 65, 66})), (Bytes{65, 66}));
  // Without the end code but with whole codes up to the last byte.
  LzwBitWriter writer;
  for (uint32_t code : {256u, 65u, 66u, 67u, 68u, 69u, 70u, 71u}) writer.Put(code, 9);
  EXPECT_EQ(Decode(writer.Finish()), (Bytes{65, 66, 67, 68, 69, 70, 71}));
  EXPECT_EQ(Decode(Bytes{}), Bytes{});
  EXPECT_EQ(Decode(Bytes{0x80}), Bytes{});
}

TEST(LzwDecoder, OutputStopsAtTheEndOfTheBuffer) {
  // 258 = 65 66 when 66 arrives, 259 = 66 65 when 258 arrives.
  const Bytes strip = NineBitStrip({256, 65, 66, 258, 259, 257});
  EXPECT_EQ(Decode(strip), (Bytes{65, 66, 65, 66, 66, 65}));
  EXPECT_EQ(Decode(strip, 3), (Bytes{65, 66, 65}));
  EXPECT_EQ(Decode(strip, 5), (Bytes{65, 66, 65, 66, 66}));
  EXPECT_EQ(Decode(NineBitStrip({256, 65, 258, 257}), 2), (Bytes{65, 65}));  // string plus first
  EXPECT_EQ(Decode(strip, 0), Bytes{});
}

TEST(LzwDecoder, EveryStripStartsAtNineBitsAndOutputRunsOn) {
  LzwDecoder decoder;
  Bytes out(8);
  uint32_t written = 0;
  const Bytes first = NineBitStrip({256, 65, 66, 258, 257});
  const Bytes second = NineBitStrip({256, 67, 258, 257});
  decoder.DecodeStrip(first.data(), static_cast<int32_t>(first.size()), out.data(), 8, &written);
  decoder.DecodeStrip(second.data(), static_cast<int32_t>(second.size()), out.data(), 8, &written);
  EXPECT_EQ(written, 7u);
  EXPECT_EQ(out, (Bytes{65, 66, 65, 66, 67, 67, 67, 0}));
}

TEST(Predictor, ThreeAndFourSamplesSumEachSampleOnItsOwn) {
  Bytes rgb{200, 1, 2, 100, 1, 2, 10, 1, 2, 5, 6, 7, 250, 250, 250, 1, 1, 1};
  UndoHorizontalPredictor(rgb.data(), 2, 3, 3);
  EXPECT_EQ(rgb, (Bytes{200, 1, 2, 44, 2, 4, 54, 3, 6, 5, 6, 7, 255, 0, 1, 0, 1, 2}));

  Bytes rgba{10, 20, 30, 255, 1, 1, 1, 1};
  UndoHorizontalPredictor(rgba.data(), 1, 2, 4);
  EXPECT_EQ(rgba, (Bytes{10, 20, 30, 255, 11, 21, 31, 0}));
}

}  // namespace
