// The real OSS path: numtone opens "/dev/dsp" through PulseAudio's OSS
// emulation (libpulsedsp, preloaded) and plays into a private daemon's null
// sink, whose monitor parec records for multimon-ng to decode.
#include "run_binary.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The sink numtone plays to, and the raw format parec records its monitor
// in.
struct sink {
    std::string name = "numtone";
    std::string format = "s16le";
    int rate = 22050;
    int channels = 2;
};

class Pulse : public ::testing::Test {
  protected:
    static inline std::string dir;
    static inline pid_t daemon = -1;
    static inline std::string dsp_lib;

    static std::vector<std::string> client_env() {
        return {"PULSE_SERVER=unix:" + dir + "/native", "HOME=" + dir + "/home",
                "XDG_RUNTIME_DIR=" + dir + "/run", "PULSE_RUNTIME_PATH=" + dir + "/run/pulse",
                "PULSE_STATE_PATH=" + dir + "/state"};
    }

    // Starts a program with the client environment; it dies with us.
    static pid_t start(const std::vector<std::string>& argv, const std::string& out) {
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (const auto& e : client_env())
                putenv(strdup(e.c_str()));
            const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(open((dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), 2);
            std::vector<char*> a;
            for (const auto& s : argv)
                a.push_back(const_cast<char*>(s.c_str()));
            a.push_back(nullptr);
            execvp(a[0], a.data());
            _exit(127);
        }
        return pid;
    }

    static std::string pactl(const std::string& args) {
        std::string env;
        for (const auto& e : client_env())
            env += e + " ";
        return shell(env + "pactl " + args + " 2>/dev/null");
    }

    // A daemon of our own: its own runtime directory and home, no default
    // script, anonymous access on a socket in our directory, and null sinks:
    // the default one resamples whatever it is given to 22050 Hz stereo, the
    // other two take a stream in their own format as it is, so that their
    // monitors give back the very bytes numtone wrote.  The sinks do no
    // rewinds: a rewind re-renders audio that the monitor has already passed
    // to parec, and the start of a new stream would be missing from the
    // recording.
    static void SetUpTestSuite() {
        if (!have_tools({"pulseaudio", "parec", "pactl", "multimon-ng", "sox"}))
            return;
        dsp_lib = package_file("libpulsedsp", "libpulsedsp.so");
        dir = temp_dir();
        fs::create_directories(dir + "/home");
        fs::create_directories(dir + "/run");
        daemon =
            start({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                   "--system=false", "--disable-shm=yes", "--log-target=stderr", "-L",
                   "module-native-protocol-unix auth-anonymous=1 socket=" + dir + "/native", "-L",
                   "module-null-sink sink_name=numtone rate=22050 channels=2 norewinds=1", "-L",
                   "module-null-sink sink_name=u8 format=u8 rate=8000 channels=1 norewinds=1", "-L",
                   "module-null-sink sink_name=s16 format=s16le rate=44100 channels=2 "
                   "norewinds=1"},
                  dir + "/daemon.log");
        for (int i = 0; i < 100 && pactl("info").find("Default Sink: numtone") == std::string::npos;
             ++i)
            std::this_thread::sleep_for(100ms);
    }

    static void TearDownTestSuite() {
        if (daemon > 0) {
            kill(daemon, SIGTERM);
            waitpid(daemon, nullptr, 0);
            daemon = -1;
        }
        if (!dir.empty())
            fs::remove_all(dir);
    }

    void SetUp() override {
        REQUIRE_TOOLS("pulseaudio", "parec", "pactl", "multimon-ng", "sox");
        ASSERT_FALSE(dsp_lib.empty()) << "libpulsedsp.so not found";
        ASSERT_NE(pactl("info").find("Default Sink: numtone"), std::string::npos)
            << "the private PulseAudio daemon did not come up:\n"
            << read_file(dir + "/stderr");
    }

    struct played {
        run_result r;
        double seconds;  // how long numtone ran
        std::string rec; // the recording
    };

    // Records the sink while numtone plays through the emulated /dev/dsp:
    // numtone itself, or the shell command given, which names numtone.
    static played play(const std::vector<std::string>& args, const sink& to = {},
                       const std::string& command = "") {
        const std::string rec = dir + "/rec.raw";
        const pid_t parec =
            start({"parec", "-d", to.name + ".monitor", "--raw", "--format=" + to.format,
                   "--rate=" + std::to_string(to.rate), "--channels=" + std::to_string(to.channels),
                   "--latency-msec=20"},
                  rec);
        for (int i = 0; i < 50 && pactl("list short source-outputs").empty(); ++i)
            std::this_thread::sleep_for(50ms);
        std::this_thread::sleep_for(200ms);
        run_options opt;
        opt.timeout = 60;
        opt.env = client_env();
        opt.env.push_back("PULSE_SINK=" + to.name);
        opt.env.push_back("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0:abort_on_error=1");
        if (command.empty())
            opt.preload = dsp_lib;
        else
            opt.wrapper = {"sh", "-c", command, "sh"};
        const auto t0 = std::chrono::steady_clock::now();
        run_result r = run_numtone(args, opt);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::this_thread::sleep_for(500ms);
        kill(parec, SIGINT);
        waitpid(parec, nullptr, 0);
        return {r, seconds, rec};
    }

    static std::string decode(const std::string& rec, int channel) {
        return decode_dtmf(sox_raw(rec, 22050, 16, 2), channel);
    }

    static double peak(const std::string& rec, int channel) {
        return sox_stat(sox_raw(rec, 22050, 16, 2), channel, "Maximum amplitude");
    }
};

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
        const played p = play(c.args);
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
        int sample_bytes;
    };
    const std::vector<exact_case> cases{
        {{"555,1212"}, {"u8", "u8", 8000, 1}, 1},
        {{"--bits", "16", "--left", "1", "--speed", "44100", "--bufsize", "4097",
          "0123456789*#ABCD"},
         {"s16", "s16le", 44100, 2},
         2},
        {{"--bits", "16", "--left", "1", "--right", "1", "--speed", "44100", "D#"},
         {"s16", "s16le", 44100, 2},
         2},
    };
    for (const auto& c : cases) {
        const std::string what = show_args(c.args);
        const played p = play(c.args, c.to);
        ASSERT_EQ(p.r.status, 0) << what << "\n" << excerpt(p.r.err);
        const std::string rec = read_file(p.rec), want = pcm(c.args);
        const char silence = c.sample_bytes == 1 ? '\x80' : '\0';
        const size_t at = rec.find(want);
        ASSERT_NE(at, std::string::npos) << what << ": the recording does not hold the output";
        EXPECT_EQ(rec.find_first_not_of(silence), at) << what;
        EXPECT_EQ(rec.find_first_not_of(silence, at + want.size()), std::string::npos) << what;
        // Blocking writes to the device pace the run.
        const double seconds =
            static_cast<double>(want.size()) / (c.to.rate * c.to.channels * c.sample_bytes);
        EXPECT_GE(p.seconds, seconds - 0.5) << what;
    }
}

// The README's line for PulseAudio, run as it stands with numtone the built
// one.
TEST_F(Pulse, ReadmeOneLiner) {
    std::string numbers;
    const std::string command = readme_one_liner("libpulsedsp", numbers);
    const played p = play({}, {}, command);
    EXPECT_EQ(p.r.status, 0) << command << "\n" << excerpt(p.r.err);
    EXPECT_EQ(decode(p.rec, 1), keys_of({numbers})) << command;
}

} // namespace
