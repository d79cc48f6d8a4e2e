// Runs the built numtone as a user would, capturing what it prints.
#pragma once

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
    int uid = -1; // run as this user and group (needs root)
};

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

// The digits in multimon-ng's output, from its "DTMF: d" lines.
std::string dtmf_digits(const std::string& multimon_out);

// The number after "field:" in sox's stat report; throws if there is none.
double stat_field(const std::string& sox_out, const std::string& field);

// Quotes s for sh.
std::string sh_quote(const std::string& s);

// The value the last "name value" pair in args gives, or fallback.
std::string value_of(const std::vector<std::string>& args, const std::string& name,
                     const std::string& fallback);

// Frames of a whole run with these options, by the rules for tones, gaps
// and pauses: the model that output lengths are held to.
long walk_frames(const std::vector<std::string>& numbers, const std::vector<std::string>& args);

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
