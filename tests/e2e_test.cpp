// The built binary, run as a user would: bytes, messages and exit status.
#include "reference.h"
#include "run_binary.h"

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string usage = reference_usage;

class E2E : public in_temp_dir {
  protected:
    std::string path(const std::string& name) const { return dir + "/" + name; }
};

struct message_case {
    std::vector<std::string> args;
    std::string err;
};

// Every refusal at parse time prints one message, writes nothing and
// creates nothing.
TEST_F(E2E, ParseTimeMessages) {
    const std::string out = path("out.raw");
    auto with_out = [&](std::vector<std::string> a) {
        a.insert(a.begin(), {"--use-audio", "0", "--output-dev", out});
        return a;
    };
    const std::vector<message_case> cases{
        {{}, usage},
        {{"--volume", "50"}, usage},
        {with_out({"--volume", "50"}), usage},
        {{"--speed"}, usage},
        {with_out({"--output-dev"}), usage},
        {with_out({"--frobnicate", "1"}), usage},
        {with_out({"--", "1"}), usage},
        {with_out({"--volume", "101", "1"}), "Value for volume should be in the range 0..100\n"},
        {with_out({"--bits", "24", "1"}), "Value for bits should be in the range 8..16\n"},
        {with_out({"--speed", "1", "1"}), "Value for speed should be in the range 5000..48000\n"},
        {with_out({"--volume", "4294967396", "1"}),
         "Value for volume should be in the range 0..100\n"},
        {with_out({"--tone-time", "-99999999999", "1"}),
         "Value for tone-time should be in the range 10..10000\n"},
        {with_out({"--table-size", "1", "1"}),
         "Value for table-size should be in the range 2..65536\n"},
        {with_out({"--silent-time", "9", "1"}),
         "Value for silent-time should be in the range 10..10000\n"},
        {with_out({"--sleep-time", "10001", "1"}),
         "Value for sleep-time should be in the range 10..10000\n"},
        {with_out({"--bufsize", "65537", "1"}),
         "Value for bufsize should be in the range 4..65536\n"},
        {with_out({"--use-audio", "-1", "1"}), "Value for use-audio should be in the range 0..1\n"},
        {with_out({"--left", "2", "1"}), "Value for left should be in the range 0..1\n"},
        {with_out({"--right", "x2", "--left", "7", "1"}),
         "Value for left should be in the range 0..1\n"},
    };
    for (const auto& c : cases) {
        const run_result r = run_numtone(c.args);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_TRUE(same_text(r.err, c.err));
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(out)) << c.err;
    }
}

TEST_F(E2E, StartUpOrderAndTheOutputFile) {
    const std::string out = path("out.raw");
    write_file(out, "keep");
    run_result r = run_numtone({"--use-audio", "0", "--output-dev", out, "--volume", "101", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(out), "keep"); // a range error comes before the open

    r = run_numtone({"--use-audio", "0", "--output-dev", out, "--bits", "12", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(same_text(r.err, "Value for bits should be 8 or 16\n"));
    EXPECT_TRUE(fs::exists(out));
    EXPECT_EQ(fs::file_size(out), 0u); // the bits check comes after it

    r = run_numtone({"--output-dev", "-", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(same_text(r.err, "ioctl(SNDCTL_DSP_CHANNELS): Inappropriate ioctl for device\n"));

    r = run_numtone({"--use-audio", "0", "--output-dev", path("no/such/dir"), "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(same_text(r.err, path("no/such/dir") + ": No such file or directory\n"));
}

// With the device requests to come, the output must be a device: it is
// opened as it stands, never created and never truncated.
TEST_F(E2E, DeviceOutputIsNeverCreatedOrTruncated) {
    const std::string file = path("notes.raw"), missing = path("missing");
    const std::string chans = "ioctl(SNDCTL_DSP_CHANNELS): Inappropriate ioctl for device\n";
    const std::string bits = "Value for bits should be 8 or 16\n";
    const std::vector<message_case> cases{
        {{"--output-dev", file, "1"}, chans},
        {{"--use-audio", "1", "--output-dev", file, "--bits", "12", "1"}, bits},
        {{"--output-dev", missing, "1"}, missing + ": No such file or directory\n"},
        {{"--output-dev", missing, "--bits", "12", "1"}, missing + ": No such file or directory\n"},
    };
    for (const auto& c : cases) {
        write_file(file, "keep");
        const run_result r = run_numtone(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(same_text(r.err, c.err));
        EXPECT_EQ(read_file(file), "keep") << c.err;
        EXPECT_FALSE(fs::exists(missing)) << c.err;
    }
}

// The default output is a device the user did not name: without the
// requests it is written as it stands, never created, so a machine with no
// /dev/dsp gets no regular file there.  A path the user names is created as
// any output file is.  The stand-in device sends opens of /dev/dsp to a
// path of ours; a read through it comes first, so that no run can reach
// the machine's own /dev/dsp where the redirection does not work.
TEST_F(E2E, DefaultOutputIsNeverCreated) {
    const std::string dsp = path("dsp");
    const std::vector<std::string> env{"FAKE_DSP_PATH=" + dsp};
    write_file(dsp, "probe");
    SKIP_IF(shell("FAKE_DSP_PATH=" + sh_quote(dsp) + " LD_PRELOAD=" + sh_quote(FAKE_DSP_LIB) +
                  " ASAN_OPTIONS=verify_asan_link_order=0 cat /dev/dsp 2>/dev/null") == "probe"
                ? ""
                : "the stand-in device cannot redirect opens of /dev/dsp here");
    fs::remove(dsp);
    run_options opt;
    opt.fake_dsp = true;
    opt.env = env;
    run_result r = run_numtone({"--use-audio", "0", "555"}, opt);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(same_text(r.err, "/dev/dsp: No such file or directory\n"));
    EXPECT_FALSE(fs::exists(dsp));

    write_file(dsp, std::string(10000, 'x')); // a device, as far as numtone can tell
    r = run_numtone({"--use-audio", "0", "555"}, opt);
    EXPECT_EQ(r.status, 0) << "\n" << excerpt(r.err);
    EXPECT_TRUE(same_bytes(read_file(dsp), pcm({"555"})));

    fs::remove(dsp);
    r = run_numtone({"--use-audio", "0", "--output-dev", "/dev/dsp", "555"}, opt);
    EXPECT_EQ(r.status, 0) << "\n" << excerpt(r.err);
    EXPECT_TRUE(same_bytes(read_file(dsp), pcm({"555"})));
}

TEST_F(E2E, NewFileModeFollowsTheUmask) {
    for (const auto& [mask, want] : std::vector<std::pair<int, int>>{{0, 0644}, {027, 0640}}) {
        const std::string out = path("mode") + std::to_string(mask);
        run_options opt;
        opt.umask = mask;
        ASSERT_EQ(run_numtone({"--use-audio", "0", "--output-dev", out, "1"}, opt).status, 0);
        struct stat st {};
        ASSERT_EQ(stat(out.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(want));
        EXPECT_EQ(st.st_size, 800);
    }
}

TEST_F(E2E, TwelveIsToneGapTone) {
    const std::string out = path("12.raw");
    const run_result r = run_numtone({"--use-audio", "0", "--output-dev", out, "12"});
    ASSERT_EQ(r.status, 0) << "\n" << excerpt(r.err);
    EXPECT_TRUE(same_text(r.err, ""));
    const std::string pcm12 = read_file(out);
    ASSERT_EQ(pcm12.size(), 2000u);
    EXPECT_TRUE(same_bytes(pcm12.substr(0, 800), pcm({"1"})));
    EXPECT_TRUE(same_bytes(pcm12.substr(800, 400), std::string(400, '\x80')));
    EXPECT_TRUE(same_bytes(pcm12.substr(1200), pcm({"2"})));
    EXPECT_EQ(static_cast<unsigned char>(pcm12[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(pcm12[1200]), 0xFF);
}

// The walk in tokens: a key for each tone, g for a gap, p for a pause.  At
// 16-bit a tone is 800 frames that begin at the cosine peak, a gap 80 silent
// frames and a pause 240, so a silent run of 80 + 240k is a gap and k
// pauses.
class Walk : public E2E {
  protected:
    static std::vector<std::string> opts() {
        return {"--bits", "16", "--silent-time", "10", "--sleep-time", "30"};
    }
    static std::string run(std::vector<std::string> numbers) {
        std::vector<std::string> a = opts();
        a.insert(a.end(), numbers.begin(), numbers.end());
        return pcm(a);
    }
    std::string tokens(const std::string& s) {
        static std::map<std::string, char> tones;
        if (tones.empty())
            for (char k : std::string("0123456789*#ABCD"))
                tones[run({std::string(1, k)})] = k;
        const size_t tone = 1600;
        auto silent = [&](size_t i) { return s[i] == 0 && s[i + 1] == 0; };
        std::string t;
        size_t i = 0;
        while (i < s.size()) {
            if (!silent(i)) {
                auto k = tones.find(s.substr(i, tone));
                t += k == tones.end() ? '?' : k->second;
                i += tone;
                continue;
            }
            size_t n = 0;
            for (; i < s.size() && silent(i); i += 2)
                ++n;
            if (n % 240 == 80)
                t += 'g';
            else if (n % 240 != 0)
                t.append("[silence ").append(std::to_string(n)).append("]");
            t += std::string(n / 240, 'p');
        }
        return t;
    }
};

struct walk_case {
    std::vector<std::string> numbers;
    std::string want;
};

TEST_F(Walk, TonesGapsAndPauses) {
    const std::vector<walk_case> cases{
        {{"12"}, "1g2"},
        {{"1,2"}, "1p2"},
        {{"1 2"}, "1p2"},
        {{"12", "34"}, "1g2p3g4"},
        {{"1-2"}, "1g2"},
        {{"1--2"}, "1g2"},
        {{",1"}, "p1"},
        {{",,1"}, "pp1"},
        {{"1,"}, "1p"},
        {{"1x"}, "1g"},
        {{"1-,2"}, "1gp2"},
        {{"1,-2"}, "1p2"},
        {{"a"}, ""},
        {{"x", "abc", ""}, ""},
        {{"1", "", "2"}, "1p2"},
        {{"1", "x", "2"}, "1p2"},
        {{"1x", "2"}, "1g2"},
        {{"1,", "2"}, "1p2"},
        {{"Dd"}, "Dg"},
        {{"\xff"
          "1\x80"},
         "1g"},
        {{"0123456789*#ABCD"}, "0g1g2g3g4g5g6g7g8g9g*g#gAgBgCgD"},
        {{"555,1212"}, "5g5g5p1g2g1g2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tokens(run(c.numbers)), c.want) << show_args(c.numbers);
}

TEST_F(E2E, LengthsFollowTheSettings) {
    EXPECT_EQ(pcm({"1"}).size(), 800u);
    EXPECT_EQ(pcm({"--bits", "16", "1"}).size(), 1600u);
    EXPECT_EQ(pcm({"--speed", "5000", "--tone-time", "10", "1"}).size(), 50u);
    EXPECT_EQ(pcm({"--left", "1", "--bits", "16", "12"}).size(), 4u * 2000);
    EXPECT_EQ(pcm({"--speed", "48000", "--tone-time", "10000", "1"}).size(), 480000u);
    const std::string left = pcm({"--left", "1", "1"});
    const std::string mono = pcm({"1"});
    ASSERT_EQ(left.size(), 1600u);
    for (size_t i = 0; i < mono.size(); ++i) {
        ASSERT_EQ(left[2 * i], mono[i]);
        ASSERT_EQ(left[2 * i + 1], '\x80');
    }
    const std::string wide = pcm({"--bits", "16", "1"});
    EXPECT_EQ(wide.substr(0, 2), "\xFE\x7F");
}

// --- The stand-in sound device -------------------------------------------

TEST_F(E2E, DeviceRequestsInOrder) {
    device_run d = on_device(dir, {"1"});
    ASSERT_EQ(d.r.status, 0) << "\n" << excerpt(d.r.err);
    EXPECT_EQ(requests(d),
              (std::vector<std::string>{"ioctl CHANNELS 1", "ioctl SETFMT 8", "ioctl SPEED 8000"}));
    EXPECT_TRUE(same_text(d.r.err, ""));
    EXPECT_TRUE(same_bytes(d.pcm, pcm({"1"})));
    EXPECT_EQ(d.log.back(), "close");

    d = on_device(dir, {"--left", "1", "--bits", "16", "--speed", "11025", "1"});
    EXPECT_EQ(requests(d), (std::vector<std::string>{"ioctl CHANNELS 2", "ioctl SETFMT 16",
                                                     "ioctl SPEED 11025"}));
    d = on_device(dir, {"--right", "1", "1"});
    EXPECT_EQ(requests(d)[0], "ioctl CHANNELS 2");

    // The channel answer is not consulted: the layout follows --left.
    d = on_device(dir, {"--left", "1", "1"}, {"FAKE_DSP_CHANNELS=1"});
    EXPECT_TRUE(same_bytes(d.pcm, pcm({"--left", "1", "1"})));

    d = on_device(dir, {"--use-audio", "0", "1"});
    EXPECT_TRUE(requests(d).empty());
}

struct rate_case {
    int answer;
    int status;
    std::string err;
};

TEST_F(E2E, DeviceRateAnswers) {
    const std::string refused = "Your sound card does not support the requested speed\n";
    const std::vector<rate_case> cases{
        {8000, 0, ""},
        {7999, 0, "Setting speed to 7999\n"},
        {7500, 0, "Setting speed to 7500\n"},
        {8500, 0, "Setting speed to 8500\n"},
        {7499, 1, refused},
        {8501, 1, refused},
        {8600, 1, refused},
        {-2147483647, 1, refused},
    };
    for (const auto& c : cases) {
        const device_run d = on_device(dir, {"1"}, {"FAKE_DSP_SPEED=" + std::to_string(c.answer)});
        EXPECT_EQ(d.r.status, c.status) << c.answer;
        EXPECT_TRUE(same_text(d.r.err, c.err));
        // All timing follows the granted rate: 100 ms at 7999 is 799 frames.
        if (c.status == 0)
            EXPECT_EQ(d.pcm.size(), static_cast<size_t>(c.answer / 10)) << c.answer;
        else
            EXPECT_EQ(d.pcm.size(), 0u);
    }
    const device_run d = on_device(dir, {"1"}, {"FAKE_DSP_SPEED=7999"});
    EXPECT_TRUE(same_bytes(d.pcm, pcm({"--speed", "7999", "1"})));
}

TEST_F(E2E, DeviceFormatAnswerDecidesTheEncoding) {
    device_run d = on_device(dir, {"1"}, {"FAKE_DSP_SETFMT=16"});
    ASSERT_EQ(d.r.status, 0);
    EXPECT_EQ(d.pcm.size(), 1600u);
    EXPECT_EQ(d.pcm.substr(0, 2), "\xFE\x7F");
    EXPECT_TRUE(same_bytes(d.pcm, pcm({"--bits", "16", "1"})));
    d = on_device(dir, {"--bits", "16", "1"}, {"FAKE_DSP_SETFMT=8"});
    EXPECT_TRUE(same_bytes(d.pcm, pcm({"1"})));
}

struct failing_case {
    std::string request;
    std::string err;
    size_t sent; // requests that went out
};

TEST_F(E2E, DeviceRequestFailures) {
    const std::vector<failing_case> cases{
        {"CHANNELS", "ioctl(SNDCTL_DSP_CHANNELS): Invalid argument\n", 1},
        {"SETFMT", "ioctl(SNDCTL_DSP_SETFMT): Invalid argument\n", 2},
        {"SPEED", "ioctl(SNDCTL_DSP_SPEED): Invalid argument\n", 3},
    };
    for (const auto& c : cases) {
        const device_run d = on_device(dir, {"1"}, {"FAKE_DSP_FAIL=" + c.request});
        EXPECT_EQ(d.r.status, 1);
        EXPECT_TRUE(same_text(d.r.err, c.err));
        EXPECT_EQ(requests(d).size(), c.sent);
        EXPECT_TRUE(writes(d).empty());
    }
    const device_run d = on_device(dir, {"1"}, {"FAKE_DSP_FAIL=SETFMT", "FAKE_DSP_ERRNO=16"});
    EXPECT_TRUE(same_text(d.r.err, "ioctl(SNDCTL_DSP_SETFMT): Device or resource busy\n"));
}

// --- Blocks -----------------------------------------------------------

struct block_case {
    std::vector<std::string> args;
    std::vector<int> want;
};

TEST_F(E2E, BlockWrites) {
    const std::vector<block_case> cases{
        {{"1"}, {800}},
        {{"--tone-time", "1250", "1"}, {4096, 4096, 1808}}, // 10000 frames
        {{"--bufsize", "800", "1"}, {800}},                 // exactly full: no final write
        {{"--bufsize", "400", "1"}, {400, 400}},
        {{"--bits", "16", "--left", "1", "--bufsize", "1000", "1"}, {1000, 1000, 1000, 200}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> a{"--use-audio", "0"};
        a.insert(a.end(), c.args.begin(), c.args.end());
        const device_run d = on_device(dir, a);
        EXPECT_EQ(d.r.status, 0);
        EXPECT_EQ(writes(d), c.want) << show_args(c.args);
    }
}

// Every write holds whole frames: a block is bufsize rounded down to a
// whole number of frames, the last write holds the rest, and the stream is
// the same as with any other buffer size.
TEST_F(E2E, BlocksHoldWholeFrames) {
    struct layout {
        std::vector<std::string> args;
        int frame;
    };
    const std::vector<layout> layouts{
        {{"--bits", "16"}, 2},
        {{"--left", "1"}, 2},
        {{"--bits", "16", "--right", "1"}, 4},
        {{"--bits", "16", "--left", "1", "--right", "1"}, 4},
    };
    for (const auto& l : layouts) {
        std::vector<std::string> base = l.args;
        base.insert(base.end(), {"--tone-time", "10", "12"});
        const std::string want = pcm(base);
        for (int size : {4, 5, 6, 7, 9, 4093, 4097}) {
            std::vector<std::string> a{"--use-audio", "0", "--bufsize", std::to_string(size)};
            a.insert(a.end(), base.begin(), base.end());
            const device_run d = on_device(dir, a);
            ASSERT_EQ(d.r.status, 0);
            EXPECT_TRUE(same_bytes(d.pcm, want)) << size << " " << show_args(l.args);
            const int block = size - size % l.frame;
            std::vector<int> w = writes(d);
            ASSERT_FALSE(w.empty());
            const int last = w.back();
            w.pop_back();
            EXPECT_TRUE(std::all_of(w.begin(), w.end(), [&](int n) { return n == block; }))
                << size << " " << show_args(l.args);
            EXPECT_GT(last, 0);
            EXPECT_LE(last, block);
            EXPECT_EQ(last % l.frame, 0);
        }
    }
}

// --- Output that is lost must not pass for success ----------------------

TEST_F(E2E, FullDeviceFailsAtOnce) {
    run_result r = run_numtone({"--use-audio", "0", "--output-dev", "/dev/full", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(same_text(r.err, "write: No space left on device\n"));

    const device_run d =
        on_device(dir, {"--use-audio", "0", "--output-dev", "/dev/full", std::string(50, '1')});
    EXPECT_EQ(d.r.status, 1);
    EXPECT_EQ(writes(d).size(), 1u); // the first failed block ends the run
}

TEST_F(E2E, ShortAndInterruptedWritesLoseNothing) {
    const std::string want = pcm({"--bits", "16", "123"});
    const std::vector<std::vector<std::string>> faults{
        {"FAKE_WRITE_MAX=7"},
        {"FAKE_WRITE_EINTR=1"},
        {"FAKE_WRITE_EAGAIN=1"},
        {"FAKE_WRITE_MAX=3", "FAKE_WRITE_EINTR=1"},
    };
    for (const auto& f : faults) {
        const device_run d = on_device(dir, {"--use-audio", "0", "--bits", "16", "123"}, f);
        EXPECT_EQ(d.r.status, 0) << f[0];
        EXPECT_TRUE(same_text(d.r.err, ""));
        EXPECT_TRUE(same_bytes(d.pcm, want)) << f[0];
    }
}

// A non-blocking pipe whose reader takes a few bytes at a time: the writer
// meets EAGAIN and short writes, and must wait rather than drop.
TEST_F(E2E, SlowReaderOnANonBlockingPipe) {
    const std::vector<std::string> args{"--bits", "16", "--left", "1", "0123"};
    const std::string want = pcm(args);
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    fcntl(p[1], F_SETPIPE_SZ, 4096);
    fcntl(p[1], F_SETFL, fcntl(p[1], F_GETFL) | O_NONBLOCK);
    std::vector<std::string> a{"--use-audio", "0", "--output-dev", "-"};
    a.insert(a.end(), args.begin(), args.end());
    const int err = open("/dev/null", O_WRONLY);
    const int pid = spawn_numtone(a, {}, p[1], err);
    close(p[1]);
    close(err);
    std::string got;
    char piece[13];
    for (ssize_t n; (n = read(p[0], piece, sizeof piece)) != 0;) {
        if (n > 0)
            got.append(piece, static_cast<size_t>(n));
        if (got.size() % 4096 < 13)
            usleep(1000);
    }
    close(p[0]);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_TRUE(same_bytes(got, want));
}

// A write that takes nothing makes no progress: the run ends with the
// device full instead of trying again for ever.
TEST_F(E2E, WriteThatTakesNothingEndsTheRun) {
    const std::string full = "write: No space left on device\n";
    const device_run d = on_device(dir, {"--use-audio", "0", "1"}, {"FAKE_WRITE_ZERO=1"});
    EXPECT_EQ(d.r.status, 1);
    EXPECT_TRUE(same_text(d.r.err, full));

    run_options opt;
    opt.fake_dsp = true;
    opt.env = {"FAKE_WRITE_ZERO=1"};
    opt.timeout = 5;
    const run_result r = run_numtone({"--use-audio", "0", "--output-dev", "-", "1"}, opt);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(same_text(r.err, full));
}

// No memory for the cosine table (2 bytes an entry) or for the block: the
// table comes first, and the output was already opened.
TEST_F(E2E, NoMemory) {
#ifdef NUMTONE_SANITIZED
    GTEST_SKIP() << "the stand-in malloc cannot sit in front of the sanitiser's";
#endif
    const std::string out = path("out.raw");
    struct memory_case {
        std::string fail;
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<memory_case> cases{
        {"24690", {"--table-size", "12345"}, "malloc costab: Cannot allocate memory\n"},
        {"54321", {"--bufsize", "54321"}, "malloc buf: Cannot allocate memory\n"},
        {"54320", {"--bufsize", "54321", "--bits", "16"}, "malloc buf: Cannot allocate memory\n"},
        {"24690",
         {"--table-size", "12345", "--bufsize", "24690"},
         "malloc costab: Cannot allocate memory\n"},
    };
    for (const auto& c : cases) {
        run_options opt;
        opt.preload = FAKE_MALLOC_LIB;
        opt.env = {"FAKE_MALLOC_FAIL=" + c.fail};
        std::vector<std::string> args{"--use-audio", "0", "--output-dev", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("1");
        fs::remove(out);
        const run_result r = run_numtone(args, opt);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_TRUE(same_text(r.err, c.err));
        EXPECT_TRUE(fs::exists(out)) << c.err;
        EXPECT_EQ(read_file(out), "") << c.err;
    }
}

TEST_F(E2E, FailedCloseIsAnError) {
    const device_run d = on_device(dir, {"--use-audio", "0", "1"}, {"FAKE_CLOSE_ERRNO=5"});
    EXPECT_EQ(d.r.status, 1);
    EXPECT_TRUE(same_text(d.r.err, "close: Input/output error\n"));
    EXPECT_EQ(d.log.back(), "close");
    EXPECT_EQ(d.pcm.size(), 800u); // the last block was written before the close
}

} // namespace
