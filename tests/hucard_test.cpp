// HuCard images (-pce): the ROM holds the player and the converted images as the HES
// file does, the card's own bank last with its track table, and the options and
// tags behave as for HES files.
#include <gtest/gtest.h>

#include <fstream>

#include "convert/compact.h"
#include "convert/job.h"
#include "hes/hes_writer.h"
#include "hes/hucard.h"
#include "tests/support.h"

namespace quorvel::test {
namespace {

// A PSG song of `seconds`, with a tag of title, game and author, looping or not.
Bytes taggedSong(const std::u16string& title, const std::u16string& game, const std::u16string& author,
                 std::uint32_t seconds, bool loops)
{
    VgmBuilder v;
    v.field(0x0C, 3579545);
    v.field(0x18, seconds * 44100);
    if (loops) {
        v.field(0x20, seconds * 44100 / 2);
        v.loopHere();
    }
    for (std::uint32_t s = 0; s < seconds; ++s) v.commands({0x50, 0x90, 0x50, 0x8F, 0x50, 0x03}).wait(44100);
    return v.finishWithTag(VgmBuilder::gd3({title, u"", game, u"", u"", u"", author}));
}

std::string cardString(const Bytes& card, std::size_t& at)
{
    std::string s(reinterpret_cast<const char*>(card.data() + at));
    at += s.size() + 1;
    return s;
}

// The player and the song as the HES file holds them, byte for byte; the card's bank
// last, a power of two in all; the reset vector into the player's bank 0; the track's
// length in frames, its fade and its texts.
TEST(HuCard, HoldsWhatTheHesHoldsAndTheTrack)
{
    ScratchDir dir;
    installPlayer(dir.path());
    writeFile(dir / "song.vgm", taggedSong(u"Green Hill", u"A Game", u"Someone", 40, true));
    ASSERT_EQ(runQuorvel({"song.vgm", "song.hes"}, dir.path()).status, 0);
    const RunResult made = runQuorvel({"-pce", "song.vgm", "song.pce"}, dir.path());
    ASSERT_EQ(made.status, 0) << made.out;
    EXPECT_NE(made.out.find("Done!\n"), std::string::npos);
    const Bytes hes = readFile(dir / "song.hes"), rom = readFile(dir / "song.pce");

    ASSERT_EQ(rom.size() & (rom.size() - 1), 0u) << rom.size();
    EXPECT_GE(rom.size(), hes.size() + kCardBankSize - kHesHeaderSize);
    EXPECT_TRUE(std::equal(hes.begin() + kHesHeaderSize, hes.end(), rom.begin() + kHesHeaderSize));
    const std::uint16_t reset = getLe16(rom.data() + 0x1FFE);
    EXPECT_GE(reset, 0xE020);
    EXPECT_LT(reset, 0xFF00);

    const Bytes card(rom.end() - kCardBankSize, rom.end());
    EXPECT_TRUE(std::equal(card.begin(), card.begin() + kCardTable, kCardBank));
    EXPECT_EQ(card[kCardTable], 1);
    // 40 s at the console's 59.826 frames a second, rounded up.
    EXPECT_EQ(card[kCardTracks] | card[kCardTracks + 1] << 8 | card[kCardTracks + 2] << 16, 2394);
    EXPECT_EQ(card[kCardTracks + 3], 1); // it loops: a fade
    std::size_t text = getLe16(card.data() + kCardTracks + 4) - 0xC000u;
    EXPECT_EQ(text, kCardTexts);
    EXPECT_EQ(cardString(card, text), "Green Hill");
    EXPECT_EQ(cardString(card, text), "A Game");
    EXPECT_EQ(cardString(card, text), "Someone");
    EXPECT_EQ(cardString(card, text), "00:40");
}

// -raw is refused with -pce, and nothing is written; -m3u writes no playlist beside
// the image; an album's tracks each get their row, the player's album table is filled
// in, and texts the font cannot show become '?'; a tag with only Japanese text, or
// none, shows the file's name.
TEST(HuCard, OptionsAlbumsAndTexts)
{
    ScratchDir dir;
    installPlayer(dir.path());
    writeFile(dir / "one.vgm", taggedSong(u"Caf\u00e9 \u2192 Z\u00fcrich", u"", u"", 3, false));
    writeFile(dir / "two.vgm", taggedSong(u"", u"", u"", 2, false));
    const RunResult raw = runQuorvel({"-pce", "-raw", "one.vgm", "one.pce"}, dir.path());
    EXPECT_EQ(raw.status, 1);
    EXPECT_NE(raw.out.find("Error: -pce writes a HuCard image, -raw the converted image alone: use one of them\n"),
              std::string::npos)
        << raw.out;
    EXPECT_FALSE(std::ifstream(dir / "one.pce").good());

    // A HuCard image is no HES file: no playlist names it.
    const RunResult listed = runQuorvel({"-pce", "-m3u", "one.vgm", "one.pce"}, dir.path());
    ASSERT_EQ(listed.status, 0);
    EXPECT_NE(listed.out.find("Warning: -m3u writes no playlist beside a HuCard image; none is written\n"),
              std::string::npos)
        << listed.out;
    EXPECT_FALSE(std::ifstream(dir / "one.m3u").good());

    // Beyond 31 banks: -fit brings it in, as for an HES file.
    VgmBuilder big;
    big.field(0x0C, 3579545);
    for (int k = 0; k < 400000; ++k) big.commands({0x50, static_cast<std::uint8_t>(0x90 | (k & 15)), 0x62});
    writeFile(dir / "big.vgm", big.finish());
    const RunResult over = runQuorvel({"-pce", "big.vgm", "big.pce"}, dir.path());
    EXPECT_EQ(over.status, 1);
    EXPECT_NE(over.out.find("bytes, over the 1 MiB a HuC6280 maps: -fit repacks the song\n"), std::string::npos)
        << over.out;
    EXPECT_FALSE(std::ifstream(dir / "big.pce").good());
    const RunResult fitted = runQuorvel({"-pce", "-fit", "big.vgm", "big.pce"}, dir.path());
    ASSERT_EQ(fitted.status, 0) << fitted.out;
    EXPECT_NE(fitted.out.find("Fitting big.vgm: "), std::string::npos) << fitted.out;
    EXPECT_EQ(readFile(dir / "big.pce").size(), 0x10000u);

    const RunResult album = runAlbum({"-pce", "album.pce", "one.vgm", "two.vgm"}, dir.path());
    ASSERT_EQ(album.status, 0) << album.out;
    EXPECT_FALSE(std::ifstream(dir / "album.m3u").good());
    const Bytes rom = readFile(dir / "album.pce");
    EXPECT_EQ(rom[kAlbumTableOffset], 2);
    EXPECT_EQ(rom[kAlbumTableOffset + 1], 0);
    EXPECT_EQ(rom[kAlbumTableOffset + 2], 1);
    const Bytes card(rom.end() - kCardBankSize, rom.end());
    EXPECT_EQ(card[kCardTable], 2);
    EXPECT_EQ(card[kCardTracks + 3], 0); // no loop: no fade
    std::size_t text = getLe16(card.data() + kCardTracks + 4) - 0xC000u;
    EXPECT_EQ(cardString(card, text), "Caf? ? Z?rich");
    text = getLe16(card.data() + kCardTracks + 8 + 4) - 0xC000u;
    EXPECT_EQ(cardString(card, text), "two");
    EXPECT_EQ(cardString(card, text), "");
    EXPECT_EQ(cardText(std::string(40, 'x')).size(), kCardTextLength);
}

// An album of 31 banks fills 1 MiB exactly, the card's bank in the last 8 KiB; one
// bank more is refused.
TEST(HuCard, AtTheBankLimit)
{
    const Bytes player(kPlayerImageEnd - kHesHeaderSize, 0xEA);
    std::vector<Bytes> images(31, Bytes(0x8000, 0x11));
    const std::vector<CardTrack> tracks(31);
    const Bytes rom = makeHuCard(player, images, tracks);
    ASSERT_EQ(rom.size(), kMaxCardSize);
    EXPECT_EQ(rom[kPlayerImageEnd + 31 * 0x8000 - 1], 0x11);
    EXPECT_EQ(rom[kMaxCardSize - kCardBankSize + kCardTable], 31);
    images.emplace_back(0x8000, 0x22);
    EXPECT_THROW(makeHuCard(player, images, std::vector<CardTrack>(32)), ConversionError);
}

} // namespace
} // namespace quorvel::test
