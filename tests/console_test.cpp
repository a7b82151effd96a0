// The console on a terminal and the installed program: UTF-8 progress glyphs on a
// UTF-8 terminal and the byte 0xB1 everywhere else, a help text naming every option,
// and an installed quorvel that finds its player image from any folder.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support.h"

namespace quorvel::test {
namespace {

const std::string kBlocks = [] {
    std::string s;
    for (int n = 0; n < 10; ++n) s += "\xE2\x96\x92";
    return s;
}();

// Runs `binary` with `args` in `cwd` on a pseudo-terminal with LANG=`lang`; what it
// printed, with the terminal's line ends.
std::string runOnTerminal(const std::string& binary, const std::vector<std::string>& args, const std::string& cwd,
                          const char* lang)
{
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(127);
        setenv("LANG", lang, 1);
        unsetenv("LC_ALL");
        unsetenv("LC_CTYPE");
        std::vector<char*> argv{const_cast<char*>(binary.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n <= 0) break; // EIO once the program has closed its side
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(terminal);
    waitpid(pid, nullptr, 0);
    return out;
}

bool validUtf8(const std::string& s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
        if (more == 9 || s.size() - i <= more) return more == 0;
        for (std::size_t k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        }
        i += more + 1;
    }
    return true;
}

TEST(Console, ProgressGlyphsFollowTheTerminal)
{
    ScratchDir dir;
    installPlayer(dir.path());
    writeFile(dir / "in.vgm", VgmBuilder().commands({0x50, 0x9F, 0x62}).finish("t"));
    const std::string utf8 = runOnTerminal(QUORVEL_BINARY, {"in.vgm", "tty.hes"}, dir.path(), "C.UTF-8");
    EXPECT_NE(utf8.find("Converting in.vgm:" + kBlocks + "\r\nDone!"), std::string::npos) << utf8;
    EXPECT_TRUE(validUtf8(utf8));
    const std::string latin = runOnTerminal(QUORVEL_BINARY, {"in.vgm", "c.hes"}, dir.path(), "C");
    EXPECT_NE(latin.find("Converting in.vgm:" + std::string(10, '\xB1') + "\r\n"), std::string::npos) << latin;
    const RunResult piped = runQuorvel({"in.vgm", "pipe.hes"}, dir.path());
    EXPECT_NE(piped.out.find("Converting in.vgm:" + std::string(10, '\xB1') + "\nDone!\n"), std::string::npos);
    EXPECT_EQ(readFile(dir / "tty.hes"), readFile(dir / "pipe.hes"));
    EXPECT_EQ(readFile(dir / "c.hes"), readFile(dir / "pipe.hes"));
    const std::string album = runOnTerminal(QUORVEL_ALBUM_BINARY, {"a.hes", "in.vgm"}, dir.path(), "C.UTF-8");
    EXPECT_NE(album.find("Converting in.vgm:" + kBlocks + "\r\n"), std::string::npos) << album;
}

TEST(Console, HelpNamesEveryOption)
{
    ScratchDir dir;
    for (const char* option : {"-h", "-help", "-?"}) {
        const RunResult r = runQuorvel({option}, dir.path());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(kBanner + "Usage: quorvel <input> <output>\n", 0), 0u) << r.out;
        for (const char* name : {"-raw", "-m3u", "-fit", "-version", "--version", "-help", "-?"}) {
            EXPECT_NE(r.out.find(name), std::string::npos) << option << " does not name " << name;
        }
        const RunResult album = runAlbum({option}, dir.path());
        EXPECT_EQ(album.status, 0);
        EXPECT_NE(album.out.find("-fit"), std::string::npos) << album.out;
    }
    const RunResult missing = runQuorvel({"in.vgm"}, dir.path());
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, kBanner + "Usage: quorvel <input> <output>\n");
}

TEST(Install, FindsItsPlayerImageFromAnyFolder)
{
    ScratchDir prefix, work;
    const std::string build = std::filesystem::path(QUORVEL_BINARY).parent_path().string();
    ASSERT_EQ(runProgram("/usr/bin/env", {"cmake", "--install", build, "--prefix", prefix.path()}, prefix.path()).status, 0);
    const std::string installed = prefix / "bin/quorvel";
    const Bytes song = VgmBuilder().commands({0x50, 0x9F, 0x62}).finish("t");
    writeFile(work / "in.vgm", song);
    ASSERT_EQ(runProgram(installed.c_str(), {"in.vgm", "installed.hes"}, work.path()).status, 0);
    ASSERT_EQ(runProgram((prefix / "bin/quorvel-album").c_str(), {"album.hes", "in.vgm"}, work.path()).status, 0);

    ScratchDir here;
    installPlayer(here.path());
    writeFile(here / "in.vgm", song);
    ASSERT_EQ(runQuorvel({"in.vgm", "here.hes"}, here.path()).status, 0);
    EXPECT_EQ(readFile(work / "installed.hes"), readFile(here / "here.hes"));

    // A player image in the current folder wins over the installed one.
    Bytes player = readFile(here / "drovan_huc6280.bin");
    player[0x100] ^= 0xFF;
    writeFile(work / "drovan_huc6280.bin", player);
    ASSERT_EQ(runProgram(installed.c_str(), {"in.vgm", "own.hes"}, work.path()).status, 0);
    const Bytes own = readFile(work / "own.hes");
    ASSERT_GT(own.size(), 0x100u);
    EXPECT_EQ(own[0x100], player[0x100]);
}

} // namespace
} // namespace quorvel::test
