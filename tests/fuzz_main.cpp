// libFuzzer entry: every input is a command line for the whole program, and
// the program must agree with the reference on it.
#include "fuzz_input.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string differs = check_fuzz_input(data, size);
    if (!differs.empty()) {
        std::fputs(differs.c_str(), stderr);
        std::abort(); // libFuzzer keeps the input
    }
    return 0;
}
