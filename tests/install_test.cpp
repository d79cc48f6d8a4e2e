// What a user meets outside the build tree: the installed files, the manual
// page, the shell completion and the README's listening examples.
#include "run_binary.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const std::string source = SOURCE_DIR;

class Installed : public in_temp_dir {};

TEST_F(Installed, IntoAFreshPrefix) {
    int st = 0;
    const std::string prefix = dir + "/prefix";
    const std::string log = shell(
        "cmake --install " + sh_quote(BUILD_DIR) + " --prefix " + sh_quote(prefix) + " 2>&1", &st);
    ASSERT_EQ(st, 0) << log;
    const std::string bin = prefix + "/bin/numtone";
    ASSERT_TRUE(fs::exists(bin));
    // share/man on Linux, man on DragonFly: wherever the build puts manuals.
    EXPECT_TRUE(fs::exists(prefix + "/" + MANDIR + "/man1/numtone.1"));
    EXPECT_TRUE(fs::exists(prefix + "/share/bash-completion/completions/numtone"));
    const std::string out = shell(sh_quote(bin) + " --use-audio 0 --output-dev - 12", &st);
    EXPECT_EQ(st, 0);
    EXPECT_TRUE(same_bytes(out, pcm({"12"})));
    const std::string usage = shell(sh_quote(bin) + " 2>&1", &st);
    EXPECT_EQ(st, 1);
    EXPECT_EQ(usage.rfind("usage: numtone [options] number ...\n", 0), 0u);
}

TEST(ManualPage, RendersWithoutWarnings) {
    REQUIRE_TOOLS("mandoc", "groff");
    int st = 0;
    const std::string page = sh_quote(source + "/numtone.1");
    EXPECT_EQ(shell("mandoc -T lint -W warning " + page + " 2>&1", &st), "");
    EXPECT_EQ(st, 0);
    EXPECT_EQ(shell("groff -mdoc -ww -z " + page + " 2>&1", &st), "");
    EXPECT_EQ(st, 0);
    // Every option and every fixed message is in it.
    const std::string text = shell("mandoc -T utf8 " + page + " | col -b");
    for (const char* s : {"--tone-time", "--silent-time", "--sleep-time", "--output-dev",
                          "--use-audio", "--bufsize", "--speed", "--bits", "--table-size",
                          "--volume", "--left", "--right", "Value for bits should be 8 or 16",
                          "Your sound card does not support the requested speed",
                          "ioctl(SNDCTL_DSP_SETFMT)", "Setting speed to", "EXIT STATUS"})
        EXPECT_NE(text.find(s), std::string::npos) << s;
}

std::string complete(const std::string& words) {
    return shell("bash -c " + sh_quote("source " + sh_quote(source + "/completions/numtone") +
                                       "; COMP_WORDS=(" + words +
                                       "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _numtone; "
                                       "printf '%s\\n' \"${COMPREPLY[@]}\""));
}

TEST_F(Installed, BashCompletion) {
    REQUIRE_TOOLS("bash");
    EXPECT_EQ(complete("numtone --to"), "--tone-time\n");
    EXPECT_EQ(complete("numtone --volume 5 --le"), "--left\n");
    EXPECT_EQ(complete("numtone --bits ''"), "8\n16\n");
    EXPECT_EQ(complete("numtone --output-dev --left --sp"), "--speed\n");
    EXPECT_EQ(complete("numtone 12 --to"), "\n"); // numbers have begun
    write_file(dir + "/dial.raw", "");
    EXPECT_EQ(complete("numtone --output-dev " + sh_quote(dir + "/di")), dir + "/dial.raw\n");
}

// The fenced block under "Listening and converting" in the README, run line
// by line in a scratch directory: numtone is the built one and aplay plays
// to ALSA's null device.  Each WAV must carry the raw bytes unchanged.
TEST_F(Installed, ReadmeListeningExamples) {
    REQUIRE_TOOLS("sox", "aplay");
    std::ifstream readme(source + "/README.md");
    std::string line;
    while (std::getline(readme, line) && line != "## Listening and converting") {
    }
    while (std::getline(readme, line) && line.rfind("```", 0) != 0) {
    }
    std::vector<std::string> commands;
    while (std::getline(readme, line) && line.rfind("```", 0) != 0)
        if (!line.empty() && line[0] != '#')
            commands.push_back(line);
    ASSERT_GE(commands.size(), 12u);

    size_t aplays = 0, soxes = 0;
    for (std::string c : commands) {
        if (c.rfind("numtone ", 0) == 0) {
            c = sh_quote(NUMTONE_BIN) + c.substr(7);
        } else if (c.rfind("aplay ", 0) == 0) {
            c = "aplay -q -D null " + c.substr(6);
            ++aplays;
        } else if (c.rfind("sox ", 0) == 0) {
            ++soxes;
        } else {
            continue; // ffmpeg and ffplay are documented, not installed here
        }
        int st = 0;
        const std::string out = shell("cd " + sh_quote(dir) + " && " + c + " 2>&1", &st);
        EXPECT_EQ(st, 0) << c << "\n" << out;
    }
    EXPECT_EQ(aplays, 4u);
    EXPECT_EQ(soxes, 4u);

    struct wav_case {
        std::string raw, wav;
        int channels, rate, bits;
    };
    for (const wav_case& w :
         std::vector<wav_case>{{"u8-mono.raw", "u8-mono.wav", 1, 8000, 8},
                               {"u8-stereo.raw", "u8-stereo.wav", 2, 8000, 8},
                               {"s16-mono.raw", "s16-mono.wav", 1, 8000, 16},
                               {"s16-stereo.raw", "s16-stereo.wav", 2, 8000, 16}}) {
        const std::string raw = read_file(dir + "/" + w.raw);
        const std::string wav = read_file(dir + "/" + w.wav);
        ASSERT_GT(raw.size(), 0u) << w.raw;
        ASSERT_GE(wav.size(), 44u) << w.wav;
        auto u16 = [&](size_t at) {
            return static_cast<int>(static_cast<unsigned char>(wav[at]) |
                                    static_cast<unsigned char>(wav[at + 1]) << 8);
        };
        auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
        EXPECT_EQ(wav.substr(0, 4), "RIFF");
        EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(u16(20), 1) << "PCM";
        EXPECT_EQ(u16(22), w.channels) << w.wav;
        EXPECT_EQ(u32(24), w.rate) << w.wav;
        EXPECT_EQ(u16(34), w.bits) << w.wav;
        const size_t data = wav.find("data", 36);
        ASSERT_NE(data, std::string::npos);
        EXPECT_EQ(static_cast<size_t>(u32(data + 4)), raw.size()) << w.wav;
        EXPECT_TRUE(same_bytes(wav.substr(data + 8, raw.size()), raw)) << w.wav;
        // The length in seconds the timing rules give for 555,1212.
        const double seconds = static_cast<double>(walk_frames({"555,1212"}, {})) / 8000;
        EXPECT_NEAR(sox_stat(sh_quote(dir + "/" + w.wav), 1, "Length (seconds)"), seconds, 1e-6)
            << w.wav;
    }
}

} // namespace
