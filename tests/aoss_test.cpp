// A second real OSS implementation: ALSA's emulation (libaoss, preloaded)
// turns numtone's default /dev/dsp into an ALSA stream.  Our own ALSA
// configuration makes that stream a file, so what the device was given can
// be compared byte for byte with what numtone writes to a file.  Every run
// is in a private /dev that holds only null, and under a timeout, so that a
// hang fails the test instead of stalling it.
#include "run_binary.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The emulation opens ALSA's pcm "dsp0" for /dev/dsp: here the file plugin,
// raw, over a null device, into the path the environment names.
const char* const alsa_config = R"(pcm.dsp0 {
    type file
    slave.pcm { type null }
    file { @func getenv vars [ NUMTONE_PLAYED ] default "/dev/null" }
    format raw
}
)";

class Aoss : public in_temp_dir {
  protected:
    void SetUp() override {
        in_temp_dir::SetUp();
        SKIP_IF(cannot_make_private_dev());
        REQUIRE_TOOLS("dpkg");
        lib = package_file("alsa-oss", "libaoss.so.0");
        ASSERT_FALSE(lib.empty()) << "libaoss.so.0 not found (Debian's alsa-oss)";
        write_file(dir + "/asound.conf", alsa_config);
    }

    run_options options() const {
        run_options opt;
        opt.wrapper = private_dev();
        opt.timeout = 30;
        opt.env = {"ALSA_CONFIG_PATH=" + dir + "/asound.conf", "NUMTONE_PLAYED=" + played(),
                   "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0:abort_on_error=1"};
        return opt;
    }

    std::string played() const { return dir + "/played.raw"; }
    std::string lib;
};

TEST_F(Aoss, PlaysTheBytesOfTheFileOutput) {
    const std::vector<std::vector<std::string>> cases{
        {"555,1212"},
        {"--bits", "16", "0123456789*#ABCD"},
        {"--left", "1", "--speed", "11025", "12"},
        {"--right", "1", "--bits", "16", "--speed", "44100", "#9"},
        {"--left", "1", "--right", "1", "--speed", "7919", "--table-size", "1021", "D0"},
        // Blocks that are not whole frames: the emulation takes whole frames
        // only, and a write that split one would never complete.
        {"--bits", "16", "--left", "1", "--bufsize", "4097", "147"},
        {"--bits", "16", "--bufsize", "5", "*0"},
        {"--bits", "16", "--bufsize", "7", "--speed", "22050", "1-2"},
        {"--right", "1", "--bufsize", "5", "--speed", "5000", "3,6"},
        {"--bits", "16", "--right", "1", "--bufsize", "65535", "--speed", "48000", "--tone-time",
         "4000", "5"},
    };
    for (const auto& args : cases) {
        const std::string what = show_args(args);
        fs::remove(played());
        run_options opt = options();
        opt.preload = lib;
        const run_result r = run_numtone(args, opt);
        ASSERT_EQ(r.status, 0) << what << "\n" << excerpt(r.err);
        EXPECT_TRUE(same_text(r.err, "")) << what;
        EXPECT_TRUE(same_bytes(read_file(played()), pcm(args))) << what;
    }
}

// Without the requests the default device still plays: the bytes go out
// as they are, and the device takes them at its own defaults, 8000 Hz,
// unsigned 8-bit, mono, which are numtone's defaults too.
TEST_F(Aoss, DefaultDeviceWithoutRequests) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--use-audio", "0", "555,1212"},
             {"--use-audio", "0", "--bufsize", "5", "--tone-time", "2500", "0*"}}) {
        fs::remove(played());
        run_options opt = options();
        opt.preload = lib;
        const run_result r = run_numtone(args, opt);
        ASSERT_EQ(r.status, 0) << show_args(args) << "\n" << excerpt(r.err);
        EXPECT_TRUE(same_text(r.err, "")) << show_args(args);
        EXPECT_TRUE(same_bytes(read_file(played()), pcm(args))) << show_args(args);
    }
}

// With no device and no emulation there is nothing to play on: the run
// says so, with or without the requests, and leaves no file behind where
// the device should be.
TEST_F(Aoss, NoDeviceAtAll) {
    const bool had_dsp = fs::exists("/dev/dsp");
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"555"}, {"--use-audio", "0", "555"}}) {
        run_options opt = options();
        const std::string listing = dir + "/dev-after";
        opt.wrapper = private_dev("\"$@\"; s=$?; ls -A /dev >" + sh_quote(listing) + "; exit $s");
        const run_result r = run_numtone(args, opt);
        EXPECT_EQ(r.status, 1) << show_args(args);
        EXPECT_TRUE(same_text(r.err, "/dev/dsp: No such file or directory\n")) << show_args(args);
        EXPECT_EQ(read_file(listing), "null\n") << show_args(args);
    }
    EXPECT_EQ(fs::exists("/dev/dsp"), had_dsp);
}

// The README's line for ALSA, run as it stands with numtone the built one.
TEST_F(Aoss, ReadmeOneLiner) {
    std::string numbers;
    const std::string command = readme_one_liner("libaoss", numbers);
    run_options opt = options();
    opt.wrapper = private_dev(command); // the line names numtone itself
    const run_result r = run_numtone({}, opt);
    EXPECT_EQ(r.status, 0) << command << "\n" << excerpt(r.err);
    EXPECT_TRUE(same_bytes(read_file(played()), pcm({numbers}))) << command;
}

} // namespace
