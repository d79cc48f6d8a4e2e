#include "run_binary.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int spawn_numtone(const std::vector<std::string>& args, const run_options& opt, int stdout_fd,
                  int stderr_fd) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    for (const auto& e : opt.env)
        env.push_back(e);
    if (opt.fake_dsp)
        env.push_back("LD_PRELOAD=" FAKE_DSP_LIB);
    std::vector<char*> argv{const_cast<char*>(NUMTONE_BIN)};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork");
    if (pid == 0) {
        umask(static_cast<mode_t>(opt.umask));
        dup2(stdout_fd, 1);
        dup2(stderr_fd, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int wait_status(int pid) {
    int st = 0;
    while (waitpid(pid, &st, 0) < 0) {
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

std::string temp_dir() {
    std::string tmpl = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    tmpl += "/numtone-test-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp");
    return tmpl;
}

run_result run_numtone(const std::vector<std::string>& args, const run_options& opt) {
    const std::string dir = temp_dir();
    const std::string out = dir + "/stdout", err = dir + "/stderr";
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int status = wait_status(spawn_numtone(args, opt, o, e));
    close(o);
    close(e);
    run_result r{status, read_file(out), read_file(err)};
    unlink(out.c_str());
    unlink(err.c_str());
    rmdir(dir.c_str());
    return r;
}

std::string pcm(std::vector<std::string> args) {
    args.insert(args.begin(), {"--use-audio", "0", "--output-dev", "-"});
    const run_result r = run_numtone(args);
    if (r.status != 0)
        throw std::runtime_error("numtone failed: " + r.err);
    return r.out;
}
