// One fuzz input run through the whole program in-process, and through the
// reference, which must agree with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The input is split at NUL bytes into arguments after a fixed prefix that
// sends the output, without device requests, to an anonymous file in
// memory.  An --output-dev in the input always gets that file too: whoever
// runs the fuzzer, the input never chooses a path to create.
//
// Returns "" where the program and the reference agree on the bytes
// written, the messages and the exit status, or where the output would be
// longer than the fuzzer's bound, so that neither is run; otherwise what
// differs.
std::string check_fuzz_input(const uint8_t* data, size_t size);
