// Compaction: header rules, the YM2612 register filter, wait folding, command framing,
// loop positions and input that ends early.
#include <gtest/gtest.h>

#include "convert/compact.h"
#include "tests/support.h"
#include "tools/vgm_builder.h"

namespace quorvel::test {
namespace {

constexpr std::size_t kHeader = 0x40;

// The packed commands after a 64-byte header for the given input commands.
Bytes packedBody(std::initializer_list<std::uint8_t> commands, std::uint32_t version = 0x150)
{
    VgmBuilder v(version);
    v.commands(commands);
    const Packed p = compact(v.finish());
    return Bytes(p.stream.begin() + kHeader, p.stream.end());
}

TEST(HeaderPreparation, HeaderSizeFollowsVersionByteAndDataOffset)
{
    struct Case {
        std::uint32_t version, dataOffset, expected;
    };
    const Case cases[] = {
        {0x101, 0x4C, 0x40},        // low version byte below 0x10: always 64
        {0x150, 0x0C, 0x40},
        {0x150, 0x4C, 0x80},
        {0x150, 0x00, 0x40},        // below 64 is raised to 64
        {0x150, 0xFFFFFFF0, 0x40},  // the sum wraps to 0x24
    };
    for (const Case& c : cases) {
        Bytes input = VgmBuilder(c.version, 0x80).field(0x34, c.dataOffset).finish();
        EXPECT_EQ(computeHeaderSize(input), c.expected) << std::hex << c.version << " " << c.dataOffset;
    }
}

TEST(HeaderPreparation, CopiesWholeHeaderWithRewrittenVersionByte)
{
    VgmBuilder v(0x171, 0x80);
    for (std::size_t at = 0x40; at < 0x80; at += 4) v.field(at, 0x70717273);
    v.field(0x34, 0x4C).commands({0x62});
    const Packed p = compact(v.finish());
    ASSERT_EQ(p.stream.size(), 0x82u);
    EXPECT_EQ(p.stream[0x08], 0x52);
    EXPECT_EQ(p.stream[0x09], 0x01);
    EXPECT_EQ(p.stream[0x7F], 0x70);
    EXPECT_EQ(p.stream[0x80], 0x62);
    EXPECT_EQ(p.stream[0x81], 0x66);
}

TEST(Compaction, ChannelThreeModeAndTimerWrites)
{
    EXPECT_EQ(packedBody({0x52, 0x27, 0x15, 0x52, 0x27, 0x40, 0x52, 0x27, 0x55, 0x52, 0x27, 0x05}),
              (Bytes{0x52, 0x27, 0x40, 0x52, 0x27, 0x05, 0x66}));
    EXPECT_EQ(packedBody({0x52, 0x26, 0xC8, 0x52, 0x25, 0x03, 0x52, 0x24, 0x80, 0x53, 0x26, 0x01}),
              (Bytes{0x52, 0x24, 0x80, 0x53, 0x26, 0x01, 0x66}));
}

TEST(Compaction, ShortWaitsFoldIntoPcmWrites)
{
    // 0x7m waits m + 1 samples, all of which the folded 0x8n waits.
    EXPECT_EQ(packedBody({0x85, 0x73, 0x74, 0x61, 0x01, 0x00}), (Bytes{0x8E, 0x61, 0x01, 0x00, 0x66}));
    EXPECT_EQ(packedBody({0x8A, 0x77, 0x61, 0x01, 0x00}), (Bytes{0x8A, 0x77, 0x61, 0x01, 0x00, 0x66}));
    EXPECT_EQ(packedBody({0x73, 0x85, 0x61, 0x01, 0x00}), (Bytes{0x89, 0x61, 0x01, 0x00, 0x66}));
    EXPECT_EQ(packedBody({0x7C, 0x85}), (Bytes{0x7C, 0x85, 0x66}));
    EXPECT_EQ(packedBody({0x78, 0x88}), (Bytes{0x78, 0x88, 0x66}));       // 16 is too much
    EXPECT_EQ(packedBody({0x88, 0x78, 0x62}), (Bytes{0x88, 0x78, 0x62, 0x66}));
    EXPECT_EQ(packedBody({0x87, 0x78, 0x62}), (Bytes{0x87, 0x78, 0x62, 0x66}));
    EXPECT_EQ(packedBody({0x86, 0x78, 0x62}), (Bytes{0x8F, 0x62, 0x66}));
    EXPECT_EQ(packedBody({0x70, 0x8E}), (Bytes{0x8F, 0x66}));
    EXPECT_EQ(packedBody({0x70, 0x8F}), (Bytes{0x70, 0x8F, 0x66}));
    // A dropped write leaves the wait as the command written last.
    EXPECT_EQ(packedBody({0x73, 0x52, 0x27, 0x00, 0x85}), (Bytes{0x89, 0x66}));
    // A folded command is no wait: the next PCM write does not fold onto it.
    EXPECT_EQ(packedBody({0x73, 0x81, 0x82}), (Bytes{0x85, 0x82, 0x66}));
    // A forward attempt that takes nothing does not fold backward either.
    EXPECT_EQ(packedBody({0x73, 0x85, 0x7F}), (Bytes{0x73, 0x85, 0x7F, 0x66}));
}

TEST(Compaction, OperandsThatLookLikeWaitsAreNoWaits)
{
    EXPECT_EQ(packedBody({0x52, 0x4C, 0x7F, 0x80}), (Bytes{0x52, 0x4C, 0x7F, 0x80, 0x66}));
    EXPECT_EQ(packedBody({0x50, 0x80, 0x72}), (Bytes{0x50, 0x80, 0x72, 0x66}));
    EXPECT_EQ(packedBody({0x50, 0x73, 0x81}), (Bytes{0x50, 0x73, 0x81, 0x66}));
    EXPECT_EQ(packedBody({0x61, 0x00, 0x73, 0x81}), (Bytes{0x61, 0x00, 0x73, 0x81, 0x66}));
}

TEST(Compaction, FirstPcmWriteLeavesHeaderAlone)
{
    VgmBuilder v;
    v.field(0x3C, 0x75000000).commands({0x83});
    const Packed p = compact(v.finish());
    EXPECT_EQ(p.stream[0x3F], 0x75);
    EXPECT_EQ(Bytes(p.stream.begin() + kHeader, p.stream.end()), (Bytes{0x83, 0x66}));
}

TEST(Compaction, DataBlocksAreCopiedWhole)
{
    const Bytes data{0x66, 0x67, 0x73, 0x85};
    VgmBuilder v;
    v.dataBlock(0x00, data).commands({0x62});
    const Packed p = compact(v.finish());
    EXPECT_EQ(Bytes(p.stream.begin() + kHeader, p.stream.end()),
              (Bytes{0x67, 0x66, 0x00, 0x04, 0x00, 0x00, 0x00, 0x66, 0x67, 0x73, 0x85, 0x62, 0x66}));

    // Bit 31 of the size marks the second chip and is no part of the length.
    EXPECT_EQ(packedBody({0x67, 0x66, 0x00, 0x02, 0x00, 0x00, 0x80, 0x66, 0x66, 0x62}),
              (Bytes{0x67, 0x66, 0x00, 0x02, 0x00, 0x00, 0x80, 0x66, 0x66, 0x62, 0x66}));
}

TEST(Compaction, DataBlockWithoutItsMarkerIsAnError)
{
    const Converted c = convert(VgmBuilder().commands({0x67, 0x12, 0x00}).finish());
    EXPECT_EQ(c.error, "Illegal command: 0x67 0x12\n");
    EXPECT_EQ(c.console, "Converting in.vgm:");
}

// Every command is followed by its operand count of bytes that would fold or end the
// stream if taken for commands, then by a timer write that compaction drops only when
// it is framed as a command.
TEST(Compaction, FramesEveryCommandByItsVgmOperandLength)
{
    struct Case {
        std::uint8_t command;
        std::size_t operands;
        std::uint32_t version;
    };
    const Case cases[] = {
        {0x30, 1, 0x150}, {0x3F, 1, 0x150}, {0x4F, 1, 0x150}, {0x94, 1, 0x150},
        {0x40, 2, 0x160}, {0x4E, 2, 0x171}, {0x40, 1, 0x151}, {0x4E, 1, 0x101},
        {0x51, 2, 0x150}, {0x5F, 2, 0x150}, {0x61, 2, 0x150}, {0xA0, 2, 0x150}, {0xBF, 2, 0x150},
        {0xC0, 3, 0x150}, {0xDF, 3, 0x150},
        {0xE1, 4, 0x150}, {0xFF, 4, 0x150}, {0x90, 4, 0x150}, {0x91, 4, 0x150}, {0x95, 4, 0x150},
        {0x92, 5, 0x150}, {0x93, 10, 0x150}, {0x68, 11, 0x150},
        {0x00, 0, 0x150}, {0x2F, 0, 0x150}, {0x60, 0, 0x150}, {0x62, 0, 0x150}, {0x96, 0, 0x150},
    };
    for (const std::uint8_t filler : {std::uint8_t{0x73}, std::uint8_t{0x66}}) {
        for (const Case& c : cases) {
            VgmBuilder v(c.version);
            Bytes command{c.command};
            command.insert(command.end(), c.operands, filler);
            v.commands(command).commands({0x81, 0x52, 0x25, 0x00});
            const Packed p = compact(v.finish());
            Bytes expected = command;
            expected.insert(expected.end(), {0x81, 0x66});
            EXPECT_EQ(Bytes(p.stream.begin() + kHeader, p.stream.end()), expected)
                << std::hex << "command 0x" << int(c.command) << " filler 0x" << int(filler);
        }
    }
}

TEST(Compaction, TailAfterEndOfDataIsCopiedUnchanged)
{
    VgmBuilder v;
    v.commands({0x62});
    const Bytes input = v.finish("tail");
    const Packed p = compact(input);
    EXPECT_EQ(p.stream, [&] {
        Bytes b = input;
        b[0x08] = 0x52;
        return b;
    }());
}

TEST(CompactionLoop, LoopPositions)
{
    // No loop.
    EXPECT_EQ(compact(VgmBuilder().commands({0x62}).finish()).loopMark, 0x1Cu);

    // On a dropped write: where the next kept command lands.
    {
        VgmBuilder v;
        v.commands({0x62}).loopHere().commands({0x52, 0x25, 0x00, 0x63});
        EXPECT_EQ(compact(v.finish()).loopMark, 0x41u);
    }
    // On a wait that a forward fold would take: the fold stops there.
    {
        VgmBuilder v;
        v.commands({0x85, 0x71}).loopHere().commands({0x72, 0x62});
        const Packed p = compact(v.finish());
        EXPECT_EQ(Bytes(p.stream.begin() + kHeader, p.stream.end()), (Bytes{0x87, 0x72, 0x62, 0x66}));
        EXPECT_EQ(p.loopMark, 0x41u);
    }
    // On a PCM write after a wait: no backward fold, the write keeps its place.
    {
        VgmBuilder v;
        v.commands({0x73}).loopHere().commands({0x85, 0x62});
        const Packed p = compact(v.finish());
        EXPECT_EQ(Bytes(p.stream.begin() + kHeader, p.stream.end()), (Bytes{0x73, 0x85, 0x62, 0x66}));
        EXPECT_EQ(p.loopMark, 0x41u);
    }
    // On a dropped write between a wait and a PCM write: the fold would reach across
    // the loop start, so the write keeps its place after it.
    {
        VgmBuilder v;
        v.commands({0x73}).loopHere().commands({0x52, 0x27, 0x15, 0x85, 0x62});
        const Packed p = compact(v.finish());
        EXPECT_EQ(Bytes(p.stream.begin() + kHeader, p.stream.end()), (Bytes{0x73, 0x85, 0x62, 0x66}));
        EXPECT_EQ(p.loopMark, 0x41u);
    }
    // On the wait itself: the fold stays inside the loop.
    {
        VgmBuilder v;
        v.commands({0x62}).loopHere().commands({0x73, 0x52, 0x25, 0x00, 0x85, 0x62});
        const Packed p = compact(v.finish());
        EXPECT_EQ(Bytes(p.stream.begin() + kHeader, p.stream.end()), (Bytes{0x62, 0x89, 0x62, 0x66}));
        EXPECT_EQ(p.loopMark, 0x41u);
    }
    // Inside an operand: the input position is kept.
    {
        VgmBuilder v;
        v.commands({0x52, 0x25}).loopHere().commands({0x00, 0x62});
        EXPECT_EQ(compact(v.finish()).loopMark, 0x42u);
    }
    // The channel-3 mode is not reset at the loop.
    {
        VgmBuilder v;
        v.commands({0x52, 0x27, 0x40}).loopHere().commands({0x52, 0x27, 0x40, 0x62});
        const Packed p = compact(v.finish());
        EXPECT_EQ(Bytes(p.stream.begin() + kHeader, p.stream.end()), (Bytes{0x52, 0x27, 0x40, 0x62, 0x66}));
        EXPECT_EQ(p.loopMark, 0x43u);
    }
}

TEST(CompactionEnd, StreamWithoutEndOfDataIsClosed)
{
    struct Case {
        Bytes commands;
        Bytes expected;
        unsigned closedAt;
    };
    const Case cases[] = {
        {{0x62, 0x50, 0x9F}, {0x62, 0x50, 0x9F, 0x66}, 0x43},           // at a command boundary
        {{0x62, 0x52, 0x2B}, {0x62, 0x66}, 0x41},                       // inside operands
        {{0x62, 0x67}, {0x62, 0x66}, 0x41},                             // a lone 0x67
        {{0x62, 0x67, 0x66, 0x00, 0x09, 0x00}, {0x62, 0x66}, 0x41},     // inside the size field
        {{0x62, 0x67, 0x66, 0x00, 0x09, 0x00, 0x00, 0x00, 1, 2}, {0x62, 0x66}, 0x41}, // inside data
        {{0x73, 0x85}, {0x89, 0x66}, 0x42},
    };
    for (const Case& c : cases) {
        VgmBuilder v;
        v.commands(c.commands);
        Bytes input = v.finish();
        input.pop_back(); // no 0x66
        const Packed p = compact(input);
        EXPECT_EQ(Bytes(p.stream.begin() + kHeader, p.stream.end()), c.expected);
        ASSERT_EQ(p.warnings.size(), 1u);
        char line[96];
        std::snprintf(line, sizeof line,
                      "Warning: no end-of-data command; the stream is closed at offset 0x%x\n", c.closedAt);
        EXPECT_EQ(p.warnings[0], line);
    }
}

TEST(CompactionEnd, InputShorterThanItsHeaderIsRefused)
{
    EXPECT_EQ(convert(Bytes(63, 0x00)).error, "Error: the input is 63 bytes, shorter than a 64-byte VGM header\n");
    Bytes input = VgmBuilder(0x150).field(0x34, 0x4C).finish();
    EXPECT_EQ(convert(input).error, "Error: the input is 65 bytes, shorter than its 128-byte header\n");
    EXPECT_EQ(convert(input).console, "");
}

} // namespace
} // namespace quorvel::test
