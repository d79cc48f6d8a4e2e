// Runs the built numtone as a user would, capturing what it prints.
#pragma once

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
    int umask = 022;
};

run_result run_numtone(const std::vector<std::string>& args, const run_options& opt = {});

// Starts numtone with stdout_fd as its standard output; returns the pid.
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
