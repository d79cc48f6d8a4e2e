// The real OSS path: numtone opens "/dev/dsp" through PulseAudio's OSS
// emulation (libpulsedsp, preloaded) and plays into a private daemon's null
// sinks, whose monitors parec records: to decode with multimon-ng, and to
// compare byte for byte where the sink takes the stream as it is.
#include "sound_server.h"

#include <gtest/gtest.h>

namespace {

class Pulse : public ::testing::Test {
  protected:
    static inline sound_server server;

    // A daemon of our own: no default script, anonymous access on a socket
    // in our directory, and null sinks: the default one resamples whatever
    // it is given to 22050 Hz stereo, the other two take a stream in their
    // own format as it is, so that their monitors give back the very bytes
    // numtone wrote.  The sinks do no rewinds: a rewind re-renders audio
    // that the monitor has already passed to parec, and the start of a new
    // stream would be missing from the recording.
    static void SetUpTestSuite() {
        if (!have_tools({"pulseaudio", "parec", "pactl", "multimon-ng", "sox"}))
            return;
        server.make_room("native");
        server.start(
            {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--system=false", "--disable-shm=yes", "--log-target=stderr", "-L",
             "module-native-protocol-unix auth-anonymous=1 socket=" + server.dir + "/native", "-L",
             "module-null-sink sink_name=numtone rate=22050 channels=2 norewinds=1", "-L",
             "module-null-sink sink_name=u8 format=u8 rate=8000 channels=1 norewinds=1", "-L",
             "module-null-sink sink_name=s16 format=s16le rate=44100 channels=2 "
             "norewinds=1"},
            server.dir + "/daemon.log", true);
        server.favour_daemons();
        server.wait_for_sink("numtone");
    }

    static void TearDownTestSuite() { server.stop(); }

    void SetUp() override {
        REQUIRE_TOOLS("pulseaudio", "parec", "pactl", "multimon-ng", "sox");
        ASSERT_FALSE(pulsedsp_lib().empty()) << "libpulsedsp.so not found";
        ASSERT_NE(server.pactl("info").find("Default Sink: numtone"), std::string::npos)
            << "the private PulseAudio daemon did not come up:\n"
            << server.log_tail();
    }

    static std::string decode(const std::string& rec, int channel) {
        return decode_dtmf(sox_raw(rec, 22050, 16, 2), channel);
    }

    static double peak(const std::string& rec, int channel) {
        return sox_stat(sox_raw(rec, 22050, 16, 2), channel, "Maximum amplitude");
    }
};

const sink resampling{"numtone"};

struct pulse_case {
    std::vector<std::string> args;
    double audio_seconds;
    bool right_silent;
};

TEST_F(Pulse, PlaysEveryDigitPacedByTheDevice) {
    const std::string keys = "0123456789*#ABCD";
    const std::vector<pulse_case> cases{
        {{keys}, 2.35, false},
        {{"--left", "1", keys}, 2.35, true},
        {{"--bits", "16", "--speed", "11025", "--tone-time", "80", "--silent-time", "60", keys},
         16 * 0.08 + 15 * 0.06,
         false},
    };
    for (const auto& c : cases) {
        const played p = play(server, c.args, resampling, {});
        const std::string what = show_args(c.args);
        EXPECT_EQ(p.r.status, 0) << what << "\n" << excerpt(p.r.err);
        EXPECT_TRUE(same_text(p.r.err, "")) << what;
        EXPECT_EQ(decode(p.rec, 1), keys) << what;
        if (c.right_silent)
            EXPECT_LT(peak(p.rec, 2), 0.001) << what;
        else
            EXPECT_EQ(decode(p.rec, 2), keys) << what;
        // Blocking writes to the device pace the run; the emulation may add
        // a second or two at the end while the close drains it.
        EXPECT_GE(p.seconds, c.audio_seconds - 0.5) << what;
        EXPECT_LT(p.seconds, c.audio_seconds + 6) << what;
    }
}

// Through sinks in the stream's own format nothing is converted: the
// recording holds numtone's file output as one unbroken run, with only
// silence before and after it.
TEST_F(Pulse, PlaysTheBytesOfTheFileOutput) {
    struct exact_case {
        std::vector<std::string> args;
        sink to;
    };
    const std::vector<exact_case> cases{
        {{"555,1212"}, {"u8", "u8", 8000, 1}},
        {{"--bits", "16", "--left", "1", "--speed", "44100", "--bufsize", "4097",
          "0123456789*#ABCD"},
         {"s16", "s16le", 44100, 2}},
        {{"--bits", "16", "--left", "1", "--right", "1", "--speed", "44100", "D#"},
         {"s16", "s16le", 44100, 2}},
    };
    for (const auto& c : cases) {
        const std::string what = show_args(c.args);
        const played p = play(server, c.args, c.to, {});
        ASSERT_EQ(p.r.status, 0) << what << "\n" << excerpt(p.r.err);
        const std::string want = pcm(c.args);
        EXPECT_TRUE(holds_exactly(read_file(p.rec), want, c.to.sample_bytes() == 1 ? '\x80' : 0))
            << what;
        // Blocking writes to the device pace the run.
        const double seconds =
            static_cast<double>(want.size()) / (c.to.rate * c.to.channels * c.to.sample_bytes());
        EXPECT_GE(p.seconds, seconds - 0.5) << what;
    }
}

// The README's line for PulseAudio, run as it stands with numtone the built
// one.
TEST_F(Pulse, ReadmeOneLiner) {
    std::string numbers;
    const std::string command = readme_one_liner("libpulsedsp", numbers);
    run_options opt;
    opt.wrapper = {"sh", "-c", command, "sh"};
    const played p = play(server, {}, resampling, opt);
    EXPECT_EQ(p.r.status, 0) << command << "\n" << excerpt(p.r.err);
    EXPECT_EQ(decode(p.rec, 1), keys_of({numbers})) << command;
}

} // namespace
