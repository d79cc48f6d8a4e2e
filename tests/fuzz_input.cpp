#include "fuzz_input.h"
#include "cli.h"
#include "compare.h"
#include "reference.h"

#include <cstdio>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// Longer outputs are not tried: a few hundred milliseconds of audio shows
// every path (a tone repeats its period after at most a second at 5000
// frames per second), and short runs keep the fuzzer at thousands of
// executions a minute.
constexpr size_t max_bytes = 128 * 1024;

// An anonymous file, open for as long as the check runs.
struct memory_file {
    int fd = memfd_create("numtone-fuzz", 0);
    memory_file() {
        if (fd < 0)
            throw std::runtime_error("memfd_create");
    }
    ~memory_file() { close(fd); }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd); }
    std::string contents() const {
        std::string s;
        char chunk[65536];
        for (ssize_t n; (n = pread(fd, chunk, sizeof chunk, static_cast<off_t>(s.size()))) > 0;)
            s.append(chunk, static_cast<size_t>(n));
        return s;
    }
};

} // namespace

std::string check_fuzz_input(const uint8_t* data, size_t size) {
    const memory_file out, err;
    std::vector<std::string> args{"--use-audio", "0", "--output-dev", out.path()};
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
    for (size_t i = 4; i < args.size(); ++i)
        if (args[i - 1] == "--output-dev")
            args[i] = out.path();

    const reference_run want = reference(args, false, max_bytes);
    if (want.too_long)
        return "";

    std::vector<std::string> argv_strings{"numtone"};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_strings)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(err.fd, 2);
    const int status = cli::numtone_main(static_cast<int>(argv_strings.size()), argv.data());
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);

    std::string differs;
    if (status != want.status)
        differs +=
            "status " + std::to_string(status) + ", not " + std::to_string(want.status) + "\n";
    // Messages short enough to read are shown as they are.
    const std::string got_err = err.contents();
    if (got_err != want.err && got_err.size() + want.err.size() < 200)
        differs += "messages \"" + got_err + "\", not \"" + want.err + "\"\n";
    else if (got_err != want.err)
        differs += "messages: " + byte_difference(got_err, want.err) + "\n";
    const std::string bytes = byte_difference(out.contents(), want.out);
    if (!bytes.empty())
        differs += "output: " + bytes + "\n";
    return differs.empty() ? "" : "numtone " + show_args(args) + ":\n" + differs;
}
