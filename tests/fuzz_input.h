// One fuzz input run through the whole program in-process.
#pragma once

#include <cstddef>
#include <cstdint>

// The input is split at NUL bytes into arguments after a fixed prefix that
// sends the output to /dev/null without device requests.  An --output-dev
// in the input always gets /dev/null too: whoever runs the fuzzer, the
// input never chooses a path to create.  Returns numtone's exit status.
int run_fuzz_input(const uint8_t* data, size_t size);
