#include "sound_server.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void sound_server::make_room(const std::string& socket) {
    dir = temp_dir();
    fs::create_directories(dir + "/home");
    fs::create_directories(dir + "/run");
    env = {"PULSE_SERVER=unix:" + dir + "/" + socket, "HOME=" + dir + "/home",
           "XDG_RUNTIME_DIR=" + dir + "/run", "PULSE_RUNTIME_PATH=" + dir + "/run/pulse",
           "PULSE_STATE_PATH=" + dir + "/state"};
}

pid_t sound_server::start(const std::vector<std::string>& argv, const std::string& out,
                          bool daemon) {
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (const auto& e : env)
            putenv(strdup(e.c_str()));
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open((dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), 2);
        std::vector<char*> a;
        for (const auto& s : argv)
            a.push_back(const_cast<char*>(s.c_str()));
        a.push_back(nullptr);
        execvp(a[0], a.data());
        _exit(127);
    }
    if (daemon && pid > 0)
        daemons.push_back(pid);
    return pid;
}

void sound_server::favour_daemons() const {
    for (pid_t pid : daemons)
        setpriority(PRIO_PROCESS, static_cast<id_t>(pid), -10); // refused without CAP_SYS_NICE
}

std::string sound_server::client(const std::string& command) const {
    std::string vars;
    for (const auto& e : env)
        vars += sh_quote(e) + " ";
    return shell("env " + vars + command + " 2>/dev/null");
}

bool sound_server::wait_for_sink(const std::string& name) const {
    for (int i = 0; i < 100; ++i) {
        if (pactl("info").find("Default Sink: " + name) != std::string::npos)
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

std::string sound_server::log_tail() const {
    const std::string log = read_file(dir + "/stderr");
    return excerpt(log.substr(log.size() > 2000 ? log.size() - 2000 : 0));
}

void sound_server::stop() {
    for (auto d = daemons.rbegin(); d != daemons.rend(); ++d) {
        kill(*d, SIGTERM);
        waitpid(*d, nullptr, 0);
    }
    daemons.clear();
    if (!dir.empty())
        fs::remove_all(dir);
    dir.clear();
}

played play(sound_server& s, const std::vector<std::string>& args, const sink& to,
            run_options opt) {
    const std::string rec = s.dir + "/rec.raw";
    // A latency of 200 ms: at parec's default a busy machine loses blocks,
    // and a stop loses what parec has not yet handed on.
    const pid_t parec = s.start({"parec", "-d", to.name + ".monitor", "--raw",
                                 "--format=" + to.format, "--rate=" + std::to_string(to.rate),
                                 "--channels=" + std::to_string(to.channels), "--latency-msec=200"},
                                rec);
    for (int i = 0; i < 50 && s.pactl("list short source-outputs").empty(); ++i)
        std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(300ms);
    opt.timeout = opt.timeout > 0 ? opt.timeout : 60;
    opt.env.insert(opt.env.end(), s.env.begin(), s.env.end());
    opt.env.push_back("PULSE_SINK=" + to.name);
    opt.env.push_back("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0:abort_on_error=1");
    if (opt.preload.empty() && opt.wrapper.empty())
        opt.preload = pulsedsp_lib();
    const auto t0 = std::chrono::steady_clock::now();
    run_result r = run_numtone(args, opt);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::this_thread::sleep_for(700ms);
    kill(parec, SIGTERM);
    waitpid(parec, nullptr, 0);
    return {r, seconds, rec};
}

std::string pulsedsp_lib() {
    return package_file("libpulsedsp", "libpulsedsp.so");
}
