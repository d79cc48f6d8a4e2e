// The built binary against the reference (reference.cpp): every byte, every
// message, the exit status and the size of every write.
#include "reference.h"
#include "run_binary.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

class Reference : public in_temp_dir {
  protected:
    // Runs numtone on the stand-in device, which logs each write and grants
    // every request as asked, and compares the run with the reference for
    // the same arguments.
    device_run expect_same(const std::vector<std::string>& args) {
        const std::string what = show_args(args);
        const device_run d = on_device(dir, args);
        std::vector<std::string> full{"--output-dev", dir + "/dsp"};
        full.insert(full.end(), args.begin(), args.end());
        const reference_run want = reference(full, true);
        EXPECT_EQ(d.r.status, want.status) << what;
        EXPECT_TRUE(same_text(d.r.err, want.err)) << what;
        EXPECT_TRUE(same_bytes(d.pcm, want.out)) << what;
        std::vector<size_t> got;
        for (int w : writes(d))
            got.push_back(static_cast<size_t>(w));
        EXPECT_TRUE(same_writes(got, want.writes)) << what;
        return d;
    }
};

// 16-bit output keeps every bit of a sample, so it is used wherever a table
// entry or a carry could hide in the top byte.
TEST_F(Reference, SameBytesAndWrites) {
    const std::vector<std::vector<std::string>> cases{
        // The defaults, but for the output.
        {"--use-audio", "0", "1"},
        {"--use-audio", "0", "0123456789*#ABCD"},
        {"--use-audio", "0", "--bits", "16", "0123456789*#ABCD"},
        // Table sizes.
        {"--use-audio", "0", "--bits", "16", "--table-size", "2", "159D"},
        {"--use-audio", "0", "--bits", "16", "--table-size", "3", "260#"},
        {"--use-audio", "0", "--bits", "16", "--table-size", "1021", "37*A"},
        {"--use-audio", "0", "--bits", "16", "--table-size", "4000", "1"},
        {"--use-audio", "0", "--bits", "16", "--table-size", "65536", "48BC"},
        // Rates.
        {"--use-audio", "0", "--bits", "16", "--speed", "5000", "--tone-time", "10", "1D"},
        {"--use-audio", "0", "--bits", "16", "--speed", "7919", "2580"},
        {"--use-audio", "0", "--bits", "16", "--speed", "44100", "*#"},
        {"--use-audio", "0", "--bits", "16", "--speed", "48000", "--table-size", "65536", "9C"},
        // Key 3 at 48000 reads entry 49543 of 65536, the one entry a 2 pi
        // short of a few digits gets wrong.
        {"--use-audio", "0", "--bits", "16", "--speed", "48000", "--table-size", "65536",
         "--tone-time", "500", "3"},
        // Channel layouts, 8 and 16 bits.
        {"--use-audio", "0", "--left", "1", "12"},
        {"--use-audio", "0", "--right", "1", "34"},
        {"--use-audio", "0", "--left", "1", "--right", "1", "56"},
        {"--use-audio", "0", "--bits", "16", "--left", "1", "78"},
        {"--use-audio", "0", "--bits", "16", "--right", "1", "90"},
        {"--use-audio", "0", "--bits", "16", "--left", "1", "--right", "1", "AB"},
        // Volumes.
        {"--use-audio", "0", "--bits", "16", "--volume", "0", "1,2"},
        {"--use-audio", "0", "--bits", "16", "--volume", "1", "3"},
        {"--use-audio", "0", "--bits", "16", "--volume", "37", "--table-size", "1021", "D"},
        {"--use-audio", "0", "--volume", "37", "#"},
        // Tones longer than two seconds: the period of each is repeated.
        {"--use-audio", "0", "--bits", "16", "--tone-time", "2500", "7"},
        {"--use-audio", "0", "--bits", "16", "--tone-time", "3001", "--speed", "7919",
         "--table-size", "1021", "*D"},
        {"--use-audio", "0", "--bits", "16", "--left", "1", "--tone-time", "2100", "--speed",
         "44100", "--bufsize", "4097", "5"},
        // The period kept from one long tone must grow for a longer one:
        // key 8 repeats every 2000 frames at 8000 Hz, key 1 every 8000.
        {"--use-audio", "0", "--tone-time", "3000", "--table-size", "65536", "--bufsize", "1001",
         "8", "1"},
        {"--use-audio", "0", "--bits", "16", "--right", "1", "--tone-time", "3000", "--table-size",
         "65536", "--bufsize", "1001", "8", "1"},
        // Block sizes that are not whole frames.
        {"--use-audio", "0", "--bits", "16", "--bufsize", "5", "12"},
        {"--use-audio", "0", "--bits", "16", "--bufsize", "7", "--speed", "11025", "3"},
        {"--use-audio", "0", "--right", "1", "--bufsize", "5", "45"},
        {"--use-audio", "0", "--bits", "16", "--left", "1", "--right", "1", "--bufsize", "4097",
         "--tone-time", "2500", "6"},
        {"--use-audio", "0", "--bits", "16", "--left", "1", "--bufsize", "65535", "7"},
        // Separators, non-keys and several numbers.
        {"--use-audio", "0", "--sleep-time", "20", "--silent-time", "10", ",1-2 3,,x", "", "4", "y",
         "5d6"},
        {"--use-audio", "0", "--bits", "16", "--tone-time", "10", "555,1212", "1-800-555"},
        // Errors, after which nothing is written.
        {"--use-audio", "0", "--volume", "101", "1"},
        {"--use-audio", "0", "--bits", "12", "1"},
        {"--use-audio", "0", "--frobnicate", "1"},
        {"--use-audio", "0"},
    };
    for (const auto& args : cases)
        expect_same(args);
}

// Each numeric option refused one past each end of its range and accepted
// at each end.
TEST_F(Reference, EveryRangeAtBothEnds) {
    struct range {
        const char* option;
        long min, max;
    };
    const std::vector<range> ranges{
        {"--tone-time", 10, 10000},  {"--silent-time", 10, 10000},
        {"--sleep-time", 10, 10000}, {"--use-audio", 0, 1},
        {"--bufsize", 4, 65536},     {"--speed", 5000, 48000},
        {"--bits", 8, 16},           {"--table-size", 2, 65536},
        {"--volume", 0, 100},        {"--left", 0, 1},
        {"--right", 0, 1},
    };
    for (const auto& r : ranges) {
        const std::string refused = "Value for " + std::string(r.option + 2) +
                                    " should be in the range " + std::to_string(r.min) + ".." +
                                    std::to_string(r.max) + "\n";
        for (long v : {r.min - 1, r.min, r.max, r.max + 1}) {
            const std::vector<std::string> args{
                "--use-audio", "0", "--tone-time", "20", r.option, std::to_string(v), "1,1"};
            const bool in_range = v >= r.min && v <= r.max;
            const device_run d = expect_same(args);
            EXPECT_EQ(d.r.status, in_range ? 0 : 1) << r.option << " " << v << ": "
                                                    << "\n"
                                                    << excerpt(d.r.err);
            EXPECT_TRUE(same_text(d.r.err, in_range ? "" : refused)) << r.option << " " << v;
        }
    }
}

// Only "-" itself is standard output; "-out.raw" is a file like any other.
TEST_F(Reference, OnlyDashIsStandardOutput) {
    run_options opt;
    opt.cwd = dir;
    const run_result r = run_numtone({"--use-audio", "0", "--output-dev", "-out.raw", "12"}, opt);
    EXPECT_EQ(r.status, 0) << "\n" << excerpt(r.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(dir + "/-out.raw"), reference({"--use-audio", "0", "12"}).out);
}

// With standard input closed the output file gets descriptor 0, which is
// as good as any other.
TEST_F(Reference, StandardInputClosed) {
    run_options opt;
    opt.close_stdin = true;
    const std::string out = dir + "/out.raw";
    const run_result r = run_numtone({"--use-audio", "0", "--output-dev", out, "12"}, opt);
    EXPECT_EQ(r.status, 0) << "\n" << excerpt(r.err);
    EXPECT_TRUE(same_text(r.err, ""));
    EXPECT_EQ(read_file(out), reference({"--use-audio", "0", "12"}).out);
}

// The output is opened for writing only: a file or a device its user may
// write but not read is written all the same, as the user nobody, on a file
// of mode 0200 that nobody owns.  The device is the stand-in one, which
// answers the requests on any descriptor.
TEST_F(Reference, WriteOnlyOutput) {
    SKIP_IF(cannot_run_as_nobody());
    const std::string out = dir + "/out.raw", log = dir + "/log";
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    for (const char* audio : {"0", "1"}) {
        for (const auto& f : {out, log}) {
            write_file(f, "");
            ASSERT_TRUE(give_to_nobody(f)) << f;
        }
        ASSERT_EQ(chmod(out.c_str(), 0200), 0);
        run_options opt;
        opt.as_nobody = true;
        opt.fake_dsp = true;
        opt.env = {"FAKE_DSP_LOG=" + log};
        const run_result r =
            run_numtone({"--use-audio", audio, "--bits", "16", "--output-dev", out, "12"}, opt);
        EXPECT_EQ(r.status, 0) << "--use-audio " << audio << ": "
                               << "\n"
                               << excerpt(r.err);
        EXPECT_TRUE(same_text(r.err, "")) << "--use-audio " << audio;
        const std::string want = reference({"--use-audio", "0", "--bits", "16", "12"}).out;
        EXPECT_TRUE(same_bytes(read_file(out), want)) << "--use-audio " << audio;
    }
}

} // namespace
