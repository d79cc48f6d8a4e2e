// A sound server of our own for a test suite (PulseAudio, or PipeWire with
// its PulseAudio server): daemons started in a fresh directory with their
// own runtime directory, home and configuration, which die with the test
// process and are stopped by pid; numtone plays to it through PulseAudio's
// OSS emulation (libpulsedsp, preloaded) while parec records a sink's
// monitor.
#pragma once

#include "run_binary.h"

#include <string>
#include <sys/types.h>
#include <vector>

// A sink, and the raw format parec records its monitor in.
struct sink {
    std::string name;
    std::string format = "s16le";
    int rate = 22050;
    int channels = 2;
    int sample_bytes() const { return format == "u8" ? 1 : 2; }
};

struct sound_server {
    std::string dir;              // all the daemons keep; removed by stop()
    std::vector<std::string> env; // what a client needs to reach them
    std::vector<pid_t> daemons;

    // A fresh directory with home/ and run/, and the client environment
    // for a PulseAudio socket at socket (relative to dir).
    void make_room(const std::string& socket);
    // Starts a program with the client environment added, its standard
    // output into out and its standard error appended to dir/stderr; it
    // dies with us.  A daemon's pid is kept for stop().
    pid_t start(const std::vector<std::string>& argv, const std::string& out, bool daemon = false);
    // Raises the daemons' priority, where the machine allows it, so that a
    // busy machine does not starve the graph into underruns.
    void favour_daemons() const;
    // Runs a client command (sh) with the client environment; returns its
    // standard output, its errors dropped.
    std::string client(const std::string& command) const;
    std::string pactl(const std::string& args) const { return client("pactl " + args); }
    // Waits up to ten seconds for pactl info to show this default sink.
    bool wait_for_sink(const std::string& name) const;
    // The end of the daemons' log, for a failure report.
    std::string log_tail() const;
    void stop();
};

// What numtone did while parec recorded.
struct played {
    run_result r;
    double seconds;  // how long numtone ran
    std::string rec; // the recording's path
};

// Records sink `to` while numtone plays with args through the emulated
// /dev/dsp: numtone itself with libpulsedsp preloaded, with opt's wrapper
// around it if any.  opt gets the client environment and a time limit.
played play(sound_server& s, const std::vector<std::string>& args, const sink& to, run_options opt);

// The path of libpulsedsp.so, or "" where Debian's package is missing.
std::string pulsedsp_lib();
