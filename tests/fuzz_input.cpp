#include "fuzz_input.h"
#include "cli.h"

#include <string>
#include <vector>

int run_fuzz_input(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"numtone", "--use-audio", "0", "--output-dev", "/dev/null"};
    std::string arg;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(arg);
            arg.clear();
        } else {
            arg += static_cast<char>(data[i]);
        }
    }
    args.push_back(arg);
    for (size_t i = 5; i < args.size(); ++i)
        if (args[i - 1] == "--output-dev")
            args[i] = "/dev/null";
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return cli::numtone_main(static_cast<int>(args.size()), argv.data());
}
