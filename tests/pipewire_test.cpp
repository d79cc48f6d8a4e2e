// Today's desktop sound server: PipeWire, with WirePlumber and PipeWire's
// own PulseAudio server, which serves PulseAudio's OSS emulation as
// PulseAudio does.  numtone plays its default /dev/dsp through the
// emulation, in a private /dev, into null sinks whose monitors parec
// records: byte for byte through a sink in the stream's own format, and
// decoded by a telephone exchange's receiver through a float sink where
// PipeWire converts the stream.
#include "sound_server.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// One graph cycle: 2048 frames.  With the default, much shorter cycle a busy
// machine starves the graph, and every recording, numtone's or any other
// client's, gets blocks of zeros.
const char* const graph_config = R"(context.properties = {
    default.clock.quantum = 2048
    default.clock.min-quantum = 2048
    default.clock.max-quantum = 2048
}
)";

class PipeWire : public ::testing::Test {
  protected:
    static inline sound_server server;
    static inline std::map<std::string, bool> sinks; // loaded so far

    static std::vector<std::string> tools() {
        return {"dbus-daemon", "pipewire", "wireplumber", "pipewire-pulse",
                "pw-metadata", "pactl",    "parec",       "sox"};
    }

    static bool wait_for(const std::string& path) {
        for (int i = 0; i < 100 && !fs::exists(path); ++i)
            std::this_thread::sleep_for(100ms);
        return fs::exists(path);
    }

    // The daemons in the order they need each other: a session bus (without
    // one WirePlumber exits at start), PipeWire, WirePlumber, and PipeWire's
    // PulseAudio server, all with our directory as their runtime directory,
    // home and configuration.
    static void SetUpTestSuite() {
        if (!have_tools(tools()))
            return;
        server.make_room("run/pulse/native");
        const std::string config = server.dir + "/config/pipewire/pipewire.conf.d";
        fs::create_directories(config);
        write_file(config + "/numtone.conf", graph_config);
        server.env.push_back("XDG_CONFIG_HOME=" + server.dir + "/config");
        server.env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + server.dir + "/bus");
        server.start({"dbus-daemon", "--session", "--address=unix:path=" + server.dir + "/bus",
                      "--nofork", "--nopidfile"},
                     "/dev/null", true);
        wait_for(server.dir + "/bus");
        server.start({"pipewire"}, "/dev/null", true);
        wait_for(server.dir + "/run/pipewire-0");
        server.start({"wireplumber"}, "/dev/null", true);
        server.start({"pipewire-pulse"}, "/dev/null", true);
        server.favour_daemons();
        for (int i = 0; i < 100 && server.pactl("info").find("on PipeWire") == std::string::npos;
             ++i)
            std::this_thread::sleep_for(100ms);
    }

    static void TearDownTestSuite() {
        server.stop();
        sinks.clear();
    }

    void SetUp() override {
        SKIP_IF(cannot_make_private_dev());
        REQUIRE_TOOLS("dbus-daemon", "pipewire", "wireplumber", "pipewire-pulse", "pw-metadata",
                      "pactl", "parec", "sox");
        ASSERT_FALSE(pulsedsp_lib().empty()) << "libpulsedsp.so not found";
        ASSERT_FALSE(std::string(DTMF_JUDGE).empty()) << "dtmf_judge was not built (spandsp)";
        ASSERT_NE(server.pactl("info").find("on PipeWire"), std::string::npos)
            << "PipeWire's PulseAudio server did not come up:\n"
            << server.log_tail();
    }

    // A null sink in this format, made the first time it is asked for, and
    // recorded in the same format or in the one given.
    static sink null_sink(const std::string& format, int rate, int channels,
                          const std::string& recorded = "") {
        const sink s{format + "_" + std::to_string(rate) + "_" + std::to_string(channels),
                     recorded.empty() ? format : recorded, rate, channels};
        if (!sinks[s.name]) {
            server.pactl("load-module module-null-sink sink_name=" + s.name + " format=" + format +
                         " rate=" + std::to_string(rate) + " channels=" + std::to_string(channels));
            sinks[s.name] = true;
        }
        return s;
    }

    // The graph runs at this rate: the stream's own, where nothing may be
    // resampled.
    static void clock_rate(int rate) {
        server.client("pw-metadata -n settings 0 clock.force-rate " + std::to_string(rate));
    }

    // Plays numtone in a private /dev, which afterwards must hold only
    // what it held before.
    played play_privately(const std::vector<std::string>& args, const sink& to) {
        const std::string listing = server.dir + "/dev-after";
        run_options opt;
        opt.preload = pulsedsp_lib();
        opt.wrapper = private_dev("\"$@\"; s=$?; ls -A /dev >" + sh_quote(listing) + "; exit $s");
        const played p = play(server, args, to, opt);
        EXPECT_EQ(read_file(listing), "null\n") << show_args(args) << ": /dev changed";
        return p;
    }

    // Blocking writes pace the run, and the close ends it soon after the
    // audio.
    static void expect_paced(const played& p, double audio, const std::string& what) {
        EXPECT_GE(p.seconds, audio - 0.5) << what;
        EXPECT_LE(p.seconds, audio + 1.5) << what;
    }
};

// Through a sink in the stream's own format, with the graph at the stream's
// rate, the recording holds numtone's file output as one unbroken run with
// only silence around it.  PipeWire 0.3.65 fills what an unsigned 8-bit
// stream leaves of a graph cycle with zero bytes, where silence is 0x80:
// after the end of every stream (pacat's too), and before the start of one
// where a busy machine made it late.  Up to a cycle of that, right next to
// the output, is let pass.
TEST_F(PipeWire, PlaysTheBytesOfTheFileOutput) {
    struct exact_case {
        std::vector<std::string> args;
        sink to;
    };
    const std::vector<exact_case> cases{
        {{"555,1212"}, null_sink("u8", 8000, 1)},
        {{"--bits", "16", "--left", "1", "--speed", "44100", "--bufsize", "4097", "0123456789"},
         null_sink("s16le", 44100, 2)},
        {{"--bits", "16", "--left", "1", "--right", "1", "--speed", "22050", "--tone-time", "1500",
          "*#D"},
         null_sink("s16le", 22050, 2)},
    };
    for (const auto& c : cases) {
        const std::string what = show_args(c.args);
        clock_rate(c.to.rate);
        const played p = play_privately(c.args, c.to);
        ASSERT_EQ(p.r.status, 0) << what << "\n" << excerpt(p.r.err);
        EXPECT_TRUE(same_text(p.r.err, "")) << what;
        const std::string want = pcm(c.args);
        const bool u8 = c.to.sample_bytes() == 1;
        EXPECT_TRUE(holds_exactly(read_file(p.rec), want, u8 ? '\x80' : 0, 0, u8 ? 2048 : 0))
            << what;
        expect_paced(
            p, static_cast<double>(want.size()) / (c.to.rate * c.to.channels * c.to.sample_bytes()),
            what);
    }
}

// Through a float stereo sink at 48000 Hz PipeWire converts each stream:
// the receiver hears every key on each channel that carried the tone (both,
// from a mono stream) and nothing on the other.
TEST_F(PipeWire, ConvertedStreamsKeepEveryKey) {
    struct convert_case {
        std::vector<std::string> args;
        bool left, right; // which channels of the recording carry the keys
    };
    const std::string keys = "0123456789*#ABCD";
    const std::vector<convert_case> cases{
        {{keys}, true, true},
        {{"--left", "1", "--speed", "11025", keys}, true, false},
        {{"--bits", "16", "--right", "1", "--speed", "44100", "--volume", "50", keys}, false, true},
    };
    clock_rate(48000);
    const sink to = null_sink("float32le", 48000, 2, "s16le");
    for (const auto& c : cases) {
        const std::string what = show_args(c.args);
        const played p = play_privately(c.args, to);
        ASSERT_EQ(p.r.status, 0) << what << "\n" << excerpt(p.r.err);
        const raw_format recorded(
            {"--speed", "48000", "--bits", "16", "--left", "1", "--right", "1"});
        EXPECT_EQ(exchange_hears(p.rec, recorded, 1), c.left ? keys : "") << what << ", left";
        EXPECT_EQ(exchange_hears(p.rec, recorded, 2), c.right ? keys : "") << what << ", right";
        expect_paced(p,
                     static_cast<double>(walk_frames({keys}, c.args)) /
                         std::stoi(value_of(c.args, "--speed", "8000")),
                     what);
    }
}

} // namespace
