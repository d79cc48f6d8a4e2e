// libFuzzer entry: every input is a command line for the whole program.
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    run_fuzz_input(data, size);
    return 0;
}
