// Bad input and hostile surroundings: each gets a clear error or its
// defined behaviour, and nothing is lost or half-written beyond what the
// start-up order defines.
#include "fuzz_input.h"
#include "run_binary.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class Hostile : public in_temp_dir {};

// Bytes numtone writes to a pipe, read to the end.
struct piped {
    int status;
    size_t bytes;
};

piped through_pipe(const std::vector<std::string>& args) {
    int p[2];
    if (pipe(p) != 0)
        throw std::runtime_error("pipe");
    const int err = open("/dev/null", O_WRONLY);
    std::vector<std::string> a{"--use-audio", "0", "--output-dev", "-"};
    a.insert(a.end(), args.begin(), args.end());
    const int pid = spawn_numtone(a, {}, p[1], err);
    close(p[1]);
    close(err);
    size_t total = 0;
    char chunk[65536];
    for (ssize_t n; (n = read(p[0], chunk, sizeof chunk)) != 0;)
        if (n > 0)
            total += static_cast<size_t>(n);
    close(p[0]);
    return {wait_status(pid), total};
}

// The longest argument Linux takes is 128 KiB less its terminating zero.
TEST_F(Hostile, LongestArgument) {
    std::string number;
    while (number.size() + 2 <= 131071)
        number += "1x";
    number += "1";
    ASSERT_EQ(number.size(), 131071u);
    const piped p = through_pipe({number});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.bytes, static_cast<size_t>(walk_frames({number}, {})));

    const std::string commas(131071, ',');
    const piped q = through_pipe({"--sleep-time", "10", commas});
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.bytes, 131071u * 80);
}

TEST_F(Hostile, EveryByteValue) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    const std::vector<std::vector<std::string>> cases{
        {all},
        {"", "", "1", ""},
        {"\x80\xff\xfe", "\xc3\xa9", "D", "abcd"},
        {"1", "\t\n\r", "2"},
    };
    for (const auto& numbers : cases) {
        const piped p = through_pipe(numbers);
        EXPECT_EQ(p.status, 0);
        EXPECT_EQ(p.bytes, static_cast<size_t>(walk_frames(numbers, {}))) << show_args(numbers);
    }
}

TEST_F(Hostile, EveryOptionWithoutItsValue) {
    for (const char* o :
         {"--tone-time", "--silent-time", "--sleep-time", "--output-dev", "--use-audio",
          "--bufsize", "--speed", "--bits", "--table-size", "--volume", "--left", "--right"}) {
        const run_result r = run_numtone({"--use-audio", "0", o});
        EXPECT_EQ(r.status, 1) << o;
        EXPECT_EQ(r.err.rfind("usage: numtone [options] number ...\n", 0), 0u) << o;
        EXPECT_EQ(r.out, "");
    }
}

struct value_case {
    std::string option, value;
    std::string err;                  // empty: accepted
    std::vector<std::string> same_as; // accepted: gives the output of these options
};

TEST_F(Hostile, ValuesWithSpaceSignsJunkAndOverflow) {
    const std::string vol = "Value for volume should be in the range 0..100\n";
    const std::string spd = "Value for speed should be in the range 5000..48000\n";
    const std::vector<value_case> cases{
        {"--volume", " \t\n\v\f\r50", "", {"--volume", "50"}},
        {"--volume", "+50", "", {"--volume", "50"}},
        {"--volume", "50 60", "", {"--volume", "50"}},
        {"--volume", "5e1", "", {"--volume", "5"}},
        {"--volume", "0x50", "", {"--volume", "0"}},
        {"--volume", "junk", "", {"--volume", "0"}},
        {"--volume", "", "", {"--volume", "0"}},
        {"--volume", "-0", "", {"--volume", "0"}},
        {"--volume", "+-5", "", {"--volume", "0"}},
        {"--volume", "- 5", "", {"--volume", "0"}},
        {"--volume", "-5", vol, {}},
        {"--volume", "--5", "", {"--volume", "0"}},
        {"--volume", "4294967396", vol, {}},
        {"--volume", "-4294967296", vol, {}},
        {"--volume", "18446744073709551716", vol, {}},
        {"--volume", std::string(5000, '9'), vol, {}},
        {"--volume", std::string(5000, '0') + "7", "", {"--volume", "7"}},
        {"--speed", "2147483647", spd, {}},
        {"--speed", "2147483648", spd, {}},
        {"--speed", "-2147483648", spd, {}},
        {"--speed", "-2147483649", spd, {}},
        {"--speed", "\xef\xbc\x98\xef\xbc\x90\xef\xbc\x90\xef\xbc\x90", spd, {}}, // fullwidth 8000
        {"--speed", "11025.9", "", {"--speed", "11025"}},
    };
    for (const auto& c : cases) {
        const run_result r =
            run_numtone({"--use-audio", "0", "--output-dev", "-", c.option, c.value, "1"});
        const std::string what = c.option + " " + show_args({c.value});
        if (!c.err.empty()) {
            EXPECT_EQ(r.status, 1) << what;
            EXPECT_TRUE(same_text(r.err, c.err)) << what;
            EXPECT_EQ(r.out, "") << what;
            continue;
        }
        EXPECT_EQ(r.status, 0) << what << "\n" << excerpt(r.err);
        std::vector<std::string> same = c.same_as;
        same.push_back("1");
        EXPECT_TRUE(same_bytes(r.out, pcm(same))) << what;
    }
}

TEST_F(Hostile, OutputPaths) {
    const std::string sub = dir + "/sub";
    fs::create_directories(sub);
    struct path_case {
        std::string path, err;
    };
    const std::vector<path_case> cases{
        {sub, sub + ": Is a directory\n"},
        {dir + "/missing/out.raw", dir + "/missing/out.raw: No such file or directory\n"},
        {"", "No such file or directory\n"}, // perror leaves out an empty prefix
        {sub + "/", sub + "/: Is a directory\n"},
    };
    for (const auto& c : cases) {
        const run_result r = run_numtone({"--use-audio", "0", "--output-dev", c.path, "1"});
        EXPECT_EQ(r.status, 1) << c.path;
        EXPECT_TRUE(same_text(r.err, c.err));
    }
}

// Run as a user who cannot write the directory (nobody, when we are root,
// who may write anywhere; otherwise a directory without write permission).
TEST_F(Hostile, UnwritableOutput) {
    run_options opt;
    if (geteuid() == 0) {
        SKIP_IF(cannot_run_as_nobody());
        opt.as_nobody = true;
    }
    const std::string locked = dir + "/locked";
    fs::create_directories(locked);
    chmod(dir.c_str(), 0755);
    chmod(locked.c_str(), 0555);
    const std::string out = locked + "/out.raw";
    const run_result r = run_numtone({"--use-audio", "0", "--output-dev", out, "1"}, opt);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(same_text(r.err, out + ": Permission denied\n"));
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(Hostile, StandardOutputClosed) {
    const int err = open((dir + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int pid = spawn_numtone({"--use-audio", "0", "--output-dev", "-", "1"}, {}, -1, err);
    EXPECT_EQ(wait_status(pid), 1);
    EXPECT_EQ(read_file(dir + "/err"), "write: Bad file descriptor\n");

    // Nothing to write: the close still tells that the output was not there.
    ftruncate(err, 0);
    lseek(err, 0, SEEK_SET);
    pid = spawn_numtone({"--use-audio", "0", "--output-dev", "-", "x"}, {}, -1, err);
    EXPECT_EQ(wait_status(pid), 1);
    EXPECT_EQ(read_file(dir + "/err"), "close: Bad file descriptor\n");

    // A file opened while standard output is closed takes descriptor 1 and
    // is written like any other.
    ftruncate(err, 0);
    lseek(err, 0, SEEK_SET);
    const std::string out = dir + "/out.raw";
    pid = spawn_numtone({"--use-audio", "0", "--output-dev", out, "1"}, {}, -1, err);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_TRUE(same_bytes(read_file(out), pcm({"1"})));
    close(err);
}

// As with other Unix tools, a reader that goes away ends the run by SIGPIPE.
TEST_F(Hostile, ReaderGoesAway) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    close(p[0]);
    const int err = open("/dev/null", O_WRONLY);
    const int pid = spawn_numtone({"--use-audio", "0", "--output-dev", "-", "123"}, {}, p[1], err);
    close(p[1]);
    close(err);
    EXPECT_EQ(wait_status(pid), 128 + SIGPIPE);
}

// Options at both ends of their ranges, every buffer size from 4 to 9 with
// every frame size: the stream has the length the walk gives, and in the
// sanitised build nothing is read or written out of bounds.
TEST_F(Hostile, ExtremeSettings) {
    std::vector<std::vector<std::string>> cases{
        {"--tone-time", "10",   "--silent-time", "10", "--sleep-time", "10", "--bufsize", "4",
         "--speed",     "5000", "--bits",        "8",  "--table-size", "2",  "--volume",  "0",
         "--left",      "0",    "--right",       "0"},
        {"--tone-time",  "10000", "--silent-time", "10000", "--sleep-time", "10000",
         "--bufsize",    "65536", "--speed",       "48000", "--bits",       "16",
         "--table-size", "65536", "--volume",      "100",   "--left",       "1",
         "--right",      "1"},
        {"--table-size", "2", "--speed", "48000", "--bits", "16"},
        {"--table-size", "65536", "--speed", "5000", "--right", "1"},
    };
    for (const char* size : {"4", "5", "6", "7", "8", "9"})
        for (const auto& layout : std::vector<std::vector<std::string>>{
                 {},
                 {"--bits", "16"},
                 {"--left", "1"},
                 {"--bits", "16", "--right", "1"},
                 {"--bits", "16", "--left", "1", "--right", "1"}}) {
            std::vector<std::string> c{"--bufsize", size, "--tone-time", "20"};
            c.insert(c.end(), layout.begin(), layout.end());
            cases.push_back(c);
        }
    const std::vector<std::string> numbers{"1,2-", "D#"};
    for (auto args : cases) {
        const long frame =
            (value_of(args, "--bits", "8") == "16" ? 2 : 1) *
            (value_of(args, "--left", "0") == "1" || value_of(args, "--right", "0") == "1" ? 2 : 1);
        const long want = walk_frames(numbers, args) * frame;
        args.insert(args.end(), numbers.begin(), numbers.end());
        const piped p = through_pipe(args);
        EXPECT_EQ(p.status, 0) << show_args(args);
        EXPECT_EQ(p.bytes, static_cast<size_t>(want)) << show_args(args);
    }
}

// Every input the fuzzer was seeded with, or ever crashed on or found the
// program differing from the reference on, runs through the whole program
// in-process and through the reference, as the fuzz target runs it.
TEST(FuzzRegression, SavedInputs) {
    size_t inputs = 0;
    for (const char* sub : {"corpus", "crashes"}) {
        const fs::path dir = fs::path(FUZZ_DIR) / sub;
        for (const auto& f : fs::directory_iterator(dir)) {
            if (!f.is_regular_file() || f.path().filename() == ".keep")
                continue;
            const std::string data = read_file(f.path().string());
            const std::string differs =
                check_fuzz_input(reinterpret_cast<const uint8_t*>(data.data()), data.size());
            EXPECT_TRUE(differs.empty()) << f.path().filename() << ": " << differs;
            ++inputs;
        }
    }
    EXPECT_GT(inputs, 0u);
}

} // namespace
