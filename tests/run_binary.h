// Runs the built numtone as a user would, capturing what it prints.
#pragma once

#include "compare.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

struct run_result {
    int status;      // exit status, or 128 + signal
    std::string out; // standard output
    std::string err; // standard error
};

struct run_options {
    std::vector<std::string> env; // NAME=value, added to ours
    bool fake_dsp = false;        // preload the stand-in sound device
    std::string preload;          // or this library
    int umask = 022;
    // Run as the user nobody (needs root; see cannot_run_as_nobody), from
    // copies of the binary and the preload that nobody can reach.
    bool as_nobody = false;
    // numtone runs as the last argument of this command, with its own
    // arguments after it (for example in a private /dev: private_dev()).
    std::vector<std::string> wrapper;
    int timeout = 0; // seconds: past it SIGALRM ends the run, so a hang fails
    std::string cwd; // run in this directory
    bool close_stdin = false;
};

// Status of a run that the timeout ended.
constexpr int timed_out = 128 + 14;

// A wrapper that runs numtone in a private mount namespace whose /dev holds
// only null: no /dev/dsp can be found or left behind, and the machine's own
// /dev is never touched.  Needs root.  There, sh runs command, with numtone
// and its arguments as "$@".
std::vector<std::string> private_dev(const std::string& command = "exec \"$@\"");

run_result run_numtone(const std::vector<std::string>& args, const run_options& opt = {});

// Starts numtone with stdout_fd as its standard output (closed if it is
// negative); returns the pid.
int spawn_numtone(const std::vector<std::string>& args, const run_options& opt, int stdout_fd,
                  int stderr_fd);
int wait_status(int pid);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& data);

// A fresh, empty directory for one test.
std::string temp_dir();

// The PCM bytes numtone writes to standard output for these arguments,
// without a sound device.
std::string pcm(std::vector<std::string> args);

// Runs cmd with sh -c and returns what it printed on standard output;
// status gets its exit status.
std::string shell(const std::string& cmd, int* status = nullptr);

// Whether every program named is on the PATH.
bool have_tools(const std::vector<std::string>& tools);

// sox's input arguments for a raw PCM file of this shape: unsigned at 8
// bits, signed little-endian at 16.
std::string sox_raw(const std::string& path, int rate, int bits, int channels);

// The raw format numtone writes for these options.
struct raw_format {
    int rate, bits, channels;
    bool left, right; // which channels of a stereo frame carry the tone

    explicit raw_format(const std::vector<std::string>& args);
    // sox's input arguments for a file in this format.
    std::string sox_input(const std::string& path) const;
    // Whether channel (from 1) carries the tone.
    bool carries(int channel) const;
};

// The keys dialled in these numbers, in order.
std::string keys_of(const std::vector<std::string>& numbers);

// The keys spandsp's DTMF receiver, a telephone exchange's, hears on one
// channel (from 1) of a raw file in this format (tests/dtmf_judge.c).
std::string exchange_hears(const std::string& path, const raw_format& f, int channel);

// The digits multimon-ng hears on one channel of a sox input (a file, or
// sox_raw's arguments), resampled to the 22050 Hz signed 16-bit mono it
// reads.
std::string decode_dtmf(const std::string& sox_input, int channel);

// One field of "sox ... stat" for one channel of a sox input, after the
// effects in trim; throws if the report has no such field.
double sox_stat(const std::string& sox_input, int channel, const std::string& field,
                const std::string& trim = "");

// The path of the file that Debian's package installs under this name (a
// library to preload), or "" where the package is not installed.
std::string package_file(const std::string& package, const std::string& name);

// The README's one-liner that preloads lib (a line holding "LD_PRELOAD="
// and lib), with "numtone" made the built binary; numbers gets what it
// dials.
std::string readme_one_liner(const std::string& lib, std::string& numbers);

// Quotes s for sh.
std::string sh_quote(const std::string& s);

// The value the last "name value" pair in args gives, or fallback.
std::string value_of(const std::vector<std::string>& args, const std::string& name,
                     const std::string& fallback);

// Frames of a whole run with these options, by the rules for tones, gaps
// and pauses: the model that output lengths are held to.
long walk_frames(const std::vector<std::string>& numbers, const std::vector<std::string>& args);

// A run on the stand-in sound device (tests/fake_dsp.c), at dir/dsp.
struct device_run {
    run_result r;
    std::vector<std::string> log; // requests, writes and closes, in order
    std::string pcm;              // what the device was given
};

device_run on_device(const std::string& dir, std::vector<std::string> args,
                     std::vector<std::string> env = {});

// The device requests of a run, as the log has them ("ioctl SPEED 8000").
std::vector<std::string> requests(const device_run& d);

// The size of each write that went through, in order.
std::vector<int> writes(const device_run& d);

// A test with a fresh, empty directory of its own, removed afterwards.
class in_temp_dir : public ::testing::Test {
  protected:
    void SetUp() override { dir = temp_dir(); }
    void TearDown() override;
    std::string dir;
};

// Streams and write sizes compared with a failure report of a line: both
// lengths and the first difference, never the data.
testing::AssertionResult same_bytes(const std::string& got, const std::string& want);
testing::AssertionResult same_text(const std::string& got, const std::string& want);
testing::AssertionResult same_writes(const std::vector<size_t>& got,
                                     const std::vector<size_t>& want);

// Whether the recording holds want as one unbroken run, with nothing but
// silence before and after it, save up to pad_bytes of pad right before
// and right after it.
testing::AssertionResult holds_exactly(const std::string& rec, const std::string& want,
                                       char silence, char pad = 0, size_t pad_bytes = 0);

// Probes of the environment, for tests that need more than a plain process:
// "" where the test can run here, otherwise a one-line reason to skip.
// They look at the machine only, never at what numtone does.
std::string cannot_run_as_nobody();    // root, a user nobody, a build it can reach
std::string cannot_make_private_dev(); // root, and a mount namespace of our own

// Makes the file the user nobody's (needs root).
bool give_to_nobody(const std::string& path);

#define SKIP_IF(reason)                                                                            \
    do {                                                                                           \
        const std::string why_not = (reason);                                                      \
        if (!why_not.empty())                                                                      \
            GTEST_SKIP() << why_not;                                                               \
    } while (0)

// Tests that judge numtone with real tools run wherever those are installed;
// in CI, which installs them, a missing one is a failure, never a skip.
#define REQUIRE_TOOLS(...)                                                                         \
    do {                                                                                           \
        if (!have_tools({__VA_ARGS__})) {                                                          \
            if (std::getenv("CI") != nullptr)                                                      \
                FAIL() << "missing one of: " #__VA_ARGS__;                                         \
            GTEST_SKIP() << "missing one of: " #__VA_ARGS__;                                       \
        }                                                                                          \
    } while (0)
