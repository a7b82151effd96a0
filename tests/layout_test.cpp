// Bank layout: bank-end markers and fills, commands across bank boundaries, the output
// loop position, the progress glyphs and the codec's put slot.
#include <gtest/gtest.h>

#include <algorithm>

#include "convert/compact.h"
#include "convert/layout.h"
#include "convert/patch.h"
#include "tests/support.h"
#include "tools/vgm_builder.h"

namespace quorvel::test {
namespace {

struct Laid {
    Bytes image;
    std::uint32_t loop;
    std::string console;
};

// Runs header preparation, compaction and bank layout; `codec` replaces the NullCodec.
Laid layOut(const Bytes& input, std::unique_ptr<Codec> (*makeCodec)(ConversionJob&) = nullptr)
{
    Console console;
    ConversionJob job;
    loadJob(job, input, console.stream());
    prepareHeader(job);
    if (makeCodec) job.codec = makeCodec(job);
    compactCommands(job);
    layoutBanks(job);
    EXPECT_EQ(job.codec, nullptr);
    return {imageBytes(job), job.outputLoopPosition, console.text()};
}

// A 64-byte header and one-byte commands (0x62) up to image size `size`.
VgmBuilder filledTo(std::size_t size)
{
    VgmBuilder v;
    v.commands(Bytes(size - 0x40, 0x62));
    return v;
}

// Derived without overrides: it takes the byte-by-byte path, which must give the same
// image as the block copies used for a plain NullCodec.
class PassThroughCodec : public NullCodec {
public:
    using NullCodec::NullCodec;
};

TEST(BankLayout, EndOfDataLeavingThreeBytesClosesTheBank)
{
    const Laid l = layOut(filledTo(0x7FFC).finish());
    ASSERT_EQ(l.image.size(), 0x8000u);
    EXPECT_EQ(l.image[0x7FFB], 0x62);
    EXPECT_EQ(l.image[0x7FFC], 0x66);
    EXPECT_EQ(l.image[0x7FFD], 0x4B);
    EXPECT_EQ(l.image[0x7FFE], 0x00);
    EXPECT_EQ(l.image[0x7FFF], 0x00);
}

TEST(BankLayout, MarkerAndFillForEveryCommandEnd)
{
    auto passThrough = [](ConversionJob& job) -> std::unique_ptr<Codec> {
        return std::make_unique<PassThroughCodec>(job.bankImage);
    };
    // A five-byte command ending at each offset around the end of the first bank.
    for (std::size_t end = 0x7FFB; end <= 0x8001; ++end) {
        const Bytes input = filledTo(end - 5).commands({0xE0, 1, 2, 3, 4, 0x63}).finish();
        const Bytes image = layOut(input).image;
        EXPECT_EQ(layOut(input, passThrough).image, image) << std::hex << end;
        ASSERT_EQ(image[end - 5], 0xE0);
        if (end % 0x8000 > 0x7FFC) {
            EXPECT_EQ(image[end], 0x4B) << std::hex << end;
            EXPECT_EQ(std::count(image.begin() + static_cast<long>(end) + 1, image.begin() + 0x8000, 0),
                      static_cast<long>(0x7FFF - end)) << std::hex << end;
            EXPECT_EQ(image[0x8000], 0x63) << std::hex << end;
        } else {
            EXPECT_EQ(image[end], 0x63) << std::hex << end;
        }
    }
}

TEST(BankLayout, CommandEndingAtRoomLimitLeavesNoMarker)
{
    const Laid l = layOut(filledTo(0x7FF9).commands({0x52, 0x30, 0x00, 0x62, 0x63}).finish());
    ASSERT_EQ(l.image.size(), 0x8002u);
    EXPECT_EQ(Bytes(l.image.begin() + 0x7FF9, l.image.end()),
              (Bytes{0x52, 0x30, 0x00, 0x62, 0x4B, 0x00, 0x00, 0x63, 0x66}));
}

TEST(BankLayout, CommandsMeetingOrCrossingTheBoundary)
{
    // Ends exactly at 0x8000: no marker, the next command starts the next bank.
    Laid l = layOut(filledTo(0x7FFB).commands({0xE0, 1, 2, 3, 4, 0x63}).finish());
    EXPECT_EQ(Bytes(l.image.begin() + 0x7FFB, l.image.end()), (Bytes{0xE0, 1, 2, 3, 4, 0x63, 0x66}));

    // Starts at 0x7FFC and runs one byte into the next bank.
    l = layOut(filledTo(0x7FFC).commands({0xE0, 1, 2, 3, 4, 0x63}).finish());
    EXPECT_EQ(Bytes(l.image.begin() + 0x7FFC, l.image.end()), (Bytes{0xE0, 1, 2, 3, 4, 0x63, 0x66}));
}

TEST(BankLayout, DataBlockRunsThroughBanksWithoutMarkers)
{
    VgmBuilder v = filledTo(0x7000);
    const Bytes data(0x10000, 0x66); // block ends at 0x7000 + 7 + 0x10000 = 0x17007
    v.dataBlock(0x00, data);
    v.commands(Bytes(0x17FFD - 0x17007, 0x62)); // the 0x62 that ends at 0x17FFD closes the bank
    const Laid l = layOut(v.finish());
    ASSERT_EQ(l.image.size(), 0x18001u);
    EXPECT_EQ(std::count(l.image.begin() + 0x7007, l.image.begin() + 0x17007, 0x66), 0x10000);
    EXPECT_EQ(l.image[0x17FFC], 0x62);
    EXPECT_EQ(Bytes(l.image.begin() + 0x17FFD, l.image.end()), (Bytes{0x4B, 0x00, 0x00, 0x66}));
}

TEST(BankLayout, LoopAfterAFillLandsOnTheNextBank)
{
    VgmBuilder v = filledTo(0x7FFD);
    v.loopHere().commands({0x63});
    const Laid l = layOut(v.finish());
    EXPECT_EQ(l.loop, 0x8000u);
    EXPECT_EQ(l.image[0x8000], 0x63);

    const Laid none = layOut(VgmBuilder().commands({0x62}).finish());
    EXPECT_EQ(none.loop, 0x1Cu);
}

// Logs every command byte on the console, so the text shows where glyphs fall.
class LoggingCodec : public NullCodec {
public:
    LoggingCodec(Bytes& image, std::FILE* console) : NullCodec(image), console_(console) {}
    void putCommand(int byte) override
    {
        std::fprintf(console_, "[%02x]", static_cast<unsigned>(byte));
        NullCodec::putCommand(byte);
    }

private:
    std::FILE* console_;
};

TEST(BankLayout, ProgressGlyphSchedule)
{
    auto logging = [](ConversionJob& job) -> std::unique_ptr<Codec> {
        return std::make_unique<LoggingCodec>(job.bankImage, job.console);
    };
    // K = 1000: a glyph before the commands at 100, 200, ... 900.
    Laid l = layOut(filledTo(999).finish(), logging);
    std::string expected = "Converting in.vgm:";
    for (unsigned k = 0x40; k < 1000; ++k) {
        if (k % 100 == 0) expected += '\xB1';
        expected += k == 999 ? "[66]" : "[62]";
    }
    EXPECT_EQ(l.console, expected);

    // One glyph at most per command, even where a long command skips several tenths.
    VgmBuilder v;
    v.dataBlock(0x00, Bytes(500 - 0x40 - 7, 0x00)).commands(Bytes(499, 0x62));
    l = layOut(v.finish(), logging);
    EXPECT_EQ(l.console.substr(0, 32), "Converting in.vgm:[67]\xB1[62]\xB1[62]");
}

// Transforms every byte sent through put().
class InvertingCodec : public NullCodec {
public:
    using NullCodec::NullCodec;
    void put(int byte) override { NullCodec::put(byte ^ 0xFF); }
};

TEST(BankLayout, OperandsPassThroughPut)
{
    auto inverting = [](ConversionJob& job) -> std::unique_ptr<Codec> {
        return std::make_unique<InvertingCodec>(job.bankImage);
    };
    const Laid l = layOut(VgmBuilder().commands({0x50, 0x9F, 0x62}).finish(), inverting);
    EXPECT_EQ(Bytes(l.image.begin() + 0x40, l.image.end()), (Bytes{0x50, 0x60, 0x62, 0x66}));
}

TEST(BankLayout, SlotAndBlockPathsAgree)
{
    auto passThrough = [](ConversionJob& job) -> std::unique_ptr<Codec> {
        return std::make_unique<PassThroughCodec>(job.bankImage);
    };
    VgmBuilder v = filledTo(0x7FF0);
    v.commands({0x52, 0x30, 0x00, 0x50, 0x9F, 0x61, 0x01, 0x00, 0xE0, 1, 2, 3, 4});
    v.dataBlock(0x00, Bytes(0x9000, 0x4B)).loopHere().commands(Bytes(0x7000, 0x62));
    const std::vector<Bytes> inputs{v.finish("x"), readFile(std::string(QUORVEL_SOURCE_DIR) + "/examples/demo.vgm")};
    for (const Bytes& input : inputs) {
        const Laid slots = layOut(input, passThrough);
        const Laid blocks = layOut(input);
        EXPECT_EQ(slots.image, blocks.image);
        EXPECT_EQ(slots.loop, blocks.loop);
        EXPECT_EQ(slots.console, blocks.console);
    }
}

} // namespace
} // namespace quorvel::test
