// The whole conversion in memory: finished images compared byte for byte with images
// worked out by hand, the progress line, warnings, and the HES header.
#include <gtest/gtest.h>

#include "hes/hes_writer.h"
#include "tests/support.h"
#include "tools/vgm_builder.h"

namespace quorvel::test {
namespace {

const std::string kTenGlyphs(10, '\xB1');

// The input header as the image carries it: version byte rewritten.
Bytes headerOf(const Bytes& input, std::size_t size = 0x40)
{
    Bytes header(input.begin(), input.begin() + static_cast<long>(size));
    header[0x08] = 0x52;
    return header;
}

Bytes padded(Bytes image)
{
    image.resize((image.size() + 0x7FFF) / 0x8000 * 0x8000, 0x00);
    return image;
}

TEST(Pipeline, SmallestSong)
{
    const Bytes input = VgmBuilder().commands({0x62}).finish();
    const Converted c = convert(input);
    Bytes expected = headerOf(input);
    expected.insert(expected.end(), {0x62, 0x66});
    setLe32(expected, 0x04, 0x3E);
    EXPECT_EQ(c.image, padded(expected));
    EXPECT_EQ(c.image.size(), 0x8000u);
    EXPECT_EQ(c.console, "Converting in.vgm:" + kTenGlyphs + "\n");
}

TEST(Pipeline, TailAndGd3OffsetMoveWithTheDroppedBytes)
{
    VgmBuilder v;
    v.commands({0x52, 0x26, 0xC8, 0x62, 0x66});
    Bytes tail(0x40);
    for (std::size_t n = 0; n < tail.size(); ++n) tail[n] = static_cast<std::uint8_t>(0x4B + n);
    v.commands(tail).field(0x14, 0x31);
    Bytes input = v.finish();
    input.pop_back(); // the builder's own 0x66
    ASSERT_EQ(input.size(), 0x85u);

    const Converted c = convert(input);
    Bytes expected = headerOf(input);
    expected.insert(expected.end(), {0x62, 0x66});
    expected.insert(expected.end(), tail.begin(), tail.end());
    setLe32(expected, 0x04, 0x3E);
    setLe32(expected, 0x14, 0x2E);
    EXPECT_EQ(c.image, padded(expected));
}

TEST(Pipeline, Gd3OffsetMovesEvenWithoutTail)
{
    const Bytes input = VgmBuilder().commands({0x52, 0x25, 0x00, 0x62}).field(0x14, 0x100).finish();
    const Converted c = convert(input);
    EXPECT_EQ(getLe32(c.image, 0x14), 0x100u + 0x42 - 0x45);

    // A GD3 offset of 0 stays 0 although the tail is copied.
    Bytes withTail = VgmBuilder().commands({0x62, 0x66, 'x', 'y'}).finish();
    withTail.pop_back();
    const Converted t = convert(withTail);
    EXPECT_EQ(getLe32(t.image, 0x14), 0u);
    EXPECT_EQ(t.image[0x42], 'x');
    EXPECT_EQ(getLe32(t.image, 0x04), 0x3Eu);
}

TEST(Pipeline, ImageFillingExactlyOneBank)
{
    VgmBuilder v;
    v.commands(Bytes(0x7FFC - 0x40, 0x62));
    const Bytes input = v.finish();
    Converted c = convert(input);
    ASSERT_EQ(c.image.size(), 0x8000u);
    EXPECT_EQ(getLe32(c.image, 0x04), 0x7FFCu);
    EXPECT_EQ(Bytes(c.image.end() - 3, c.image.end()), (Bytes{0x4B, 0x00, 0x00}));

    Bytes withTail = input;
    const Bytes tail(0x20, 0x47);
    withTail.insert(withTail.end(), tail.begin(), tail.end());
    c = convert(withTail);
    ASSERT_EQ(c.image.size(), 0x10000u);
    EXPECT_EQ(getLe32(c.image, 0x04), 0x7FFCu);
    EXPECT_EQ(Bytes(c.image.begin() + 0x8000, c.image.begin() + 0x8020), tail);
    EXPECT_EQ(std::count(c.image.begin() + 0x8020, c.image.end(), 0), 0x8000 - 0x20);
}

TEST(Pipeline, LoopOffset)
{
    VgmBuilder second;
    second.commands(Bytes(0x7FFD - 0x40, 0x62)).loopHere().commands({0x63});
    EXPECT_EQ(getLe32(convert(second.finish()).image, 0x1C), 0x8000u - 0x1C);

    // A loop target that neither pass meets keeps the input's loop offset.
    VgmBuilder inside;
    inside.commands({0x50}).loopHere().commands({0x9F, 0x62});
    EXPECT_EQ(getLe32(convert(inside.finish()).image, 0x1C), 0x41u - 0x1C);

    // A loop that moves with compaction.
    VgmBuilder moved;
    moved.commands({0x52, 0x25, 0x00, 0x73, 0x81}).loopHere().commands({0x62});
    EXPECT_EQ(getLe32(convert(moved.finish()).image, 0x1C), 0x41u - 0x1C);

    EXPECT_EQ(getLe32(convert(VgmBuilder().commands({0x62}).finish()).image, 0x1C), 0u);
}

TEST(Pipeline, ProgressLineAfterNineGlyphs)
{
    VgmBuilder v;
    v.commands(Bytes(999 - 0x40, 0x62));
    const Converted c = convert(v.finish());
    EXPECT_EQ(c.console, "Converting in.vgm:" + kTenGlyphs + "\n");
}

TEST(Pipeline, WarningsFollowTheProgressLine)
{
    VgmBuilder v;
    v.dataBlock(0x00, Bytes(0xF8000, 0x00));
    Bytes input = v.finish();
    input.pop_back();
    input.insert(input.end(), {0x52, 0x30});
    const Converted c = convert(input);
    EXPECT_EQ(c.image.size(), 0x100000u);
    EXPECT_EQ(c.console, "Converting in.vgm:" + kTenGlyphs +
                             "\nWarning: no end-of-data command; the stream is closed at offset 0xf8047\n"
                             "Warning: the image is 1048576 bytes; a HuC6280 player can map only the first "
                             "1015808 (31 banks): -fit repacks it\n");
    EXPECT_EQ(c.image[0xF8047], 0x66);
    EXPECT_EQ(getLe32(c.image, 0x04), 0xF8048u - 4);
}

TEST(HesHeader, ConstantFieldsAndDataSize)
{
    const auto header = makeHesHeader(0x8000);
    const Bytes expected{'H', 'E', 'S', 'M', 0x00, 0x00, 0x00, 0x40, 0xFF, 0xF8, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00,
                         'D', 'A', 'T', 'A', 0xE0, 0xBF, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(header.begin(), header.end()), expected);
    EXPECT_EQ(getLe32(makeHesHeader(0x10000).data() + 0x14), 0x13FE0u);
    EXPECT_EQ(getLe32(makeHesHeader(0x1000000).data() + 0x14), 0x1003FE0u); // top byte too
}

} // namespace
} // namespace quorvel::test
