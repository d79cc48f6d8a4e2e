#include "run_binary.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <map>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The user nobody, or null where there is none.
const passwd* nobody() {
    return getpwnam("nobody");
}

// In a child about to exec: give up root for nobody, supplementary groups
// too, so that nothing of root's access is left.
bool become_nobody() {
    const passwd* pw = nobody();
    return pw != nullptr && setgroups(0, nullptr) == 0 && setgid(pw->pw_gid) == 0 &&
           setuid(pw->pw_uid) == 0;
}

// A copy, made once, of a file of the build in a directory of mode 0755
// under the temporary directory: the checkout may sit in a home of mode
// 0700, as root's is, where another user cannot reach the build itself.
// The copies go when the tests end.
struct reachable_copies {
    std::string dir;
    std::map<std::string, std::string> made;
    ~reachable_copies() {
        if (!dir.empty())
            std::filesystem::remove_all(dir);
    }
    const std::string& of(const std::string& path) {
        if (dir.empty()) {
            dir = temp_dir();
            chmod(dir.c_str(), 0755);
        }
        std::string& copy = made[path];
        if (copy.empty()) {
            copy = dir + "/" + std::filesystem::path(path).filename().string();
            std::filesystem::copy_file(path, copy,
                                       std::filesystem::copy_options::overwrite_existing);
            chmod(copy.c_str(), 0755);
        }
        return copy;
    }
};
reachable_copies copies;

} // namespace

int spawn_numtone(const std::vector<std::string>& args, const run_options& opt, int stdout_fd,
                  int stderr_fd) {
    // opt.env comes first, then what a preload needs, then what we inherit:
    // the first of each name is the one kept.
    std::vector<std::string> env = opt.env, later;
    std::string preload = opt.fake_dsp ? FAKE_DSP_LIB : opt.preload;
    if (opt.as_nobody && !preload.empty())
        preload = copies.of(preload);
    if (!preload.empty()) {
        later.push_back("LD_PRELOAD=" + preload);
        // A sanitised build wants its runtime first; the preloaded library
        // only stands in for system calls, so let it come before.
        later.push_back("ASAN_OPTIONS=verify_asan_link_order=0:abort_on_error=1");
    }
    for (char** e = environ; *e != nullptr; ++e)
        later.push_back(*e);
    auto name = [](const std::string& e) { return e.substr(0, e.find('=')); };
    for (const auto& candidate : later) {
        bool shadowed = false;
        for (const auto& kept : env)
            shadowed = shadowed || name(kept) == name(candidate);
        if (!shadowed)
            env.push_back(candidate);
    }
    std::vector<char*> argv;
    for (const auto& w : opt.wrapper)
        argv.push_back(const_cast<char*>(w.c_str()));
    const std::string bin = opt.as_nobody ? copies.of(NUMTONE_BIN) : NUMTONE_BIN;
    argv.push_back(const_cast<char*>(bin.c_str()));
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
        signal(SIGPIPE, SIG_DFL); // as a shell would leave it
        if (opt.as_nobody && !become_nobody())
            _exit(126);
        if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) != 0)
            _exit(126);
        if (opt.close_stdin)
            close(0);
        if (stdout_fd < 0)
            close(1);
        if (stdout_fd >= 0)
            dup2(stdout_fd, 1);
        dup2(stderr_fd, 2);
        if (opt.timeout > 0)
            alarm(static_cast<unsigned>(opt.timeout)); // kept across exec
        environ = envp.data();
        execvp(argv[0], argv.data());
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

std::vector<std::string> private_dev(const std::string& command) {
    return {"unshare",
            "-m",
            "--propagation",
            "private",
            "sh",
            "-c",
            "mount -t tmpfs numtone-dev /dev && mknod -m 666 /dev/null c 1 3 && " + command,
            "sh"};
}

std::string cannot_run_as_nobody() {
    if (geteuid() != 0)
        return "not root: cannot run as the user nobody";
    if (nobody() == nullptr)
        return "no user nobody";
    const std::string& bin = copies.of(NUMTONE_BIN);
    const pid_t pid = fork();
    if (pid == 0)
        _exit(become_nobody() && access(bin.c_str(), X_OK) == 0 ? 0 : 1);
    if (wait_status(pid) != 0)
        return "the user nobody cannot reach " + copies.dir + " (set TMPDIR to a directory it can)";
    return "";
}

bool give_to_nobody(const std::string& path) {
    const passwd* pw = nobody();
    return pw != nullptr && chown(path.c_str(), pw->pw_uid, pw->pw_gid) == 0;
}

std::string cannot_make_private_dev() {
    if (geteuid() != 0)
        return "not root: a private /dev needs root";
    if (!have_tools({"unshare", "mount", "mknod"}))
        return "no unshare, mount or mknod";
    // The very wrapper the tests use, running nothing.
    static const std::string why = [] {
        std::string command;
        for (const auto& w : private_dev("true"))
            command += sh_quote(w) + " ";
        int st = 0;
        std::string out = shell(command + "2>&1", &st);
        if (st == 0)
            return std::string();
        out = out.substr(0, out.find('\n'));
        return "no private mount namespace here: " + out.substr(0, 200);
    }();
    return why;
}

testing::AssertionResult same_bytes(const std::string& got, const std::string& want) {
    const std::string d = byte_difference(got, want);
    return d.empty() ? testing::AssertionSuccess() : testing::AssertionFailure() << d;
}

testing::AssertionResult same_text(const std::string& got, const std::string& want) {
    const std::string d = text_difference(got, want);
    return d.empty() ? testing::AssertionSuccess() : testing::AssertionFailure() << d;
}

testing::AssertionResult same_writes(const std::vector<size_t>& got,
                                     const std::vector<size_t>& want) {
    const std::string d = size_difference(got, want);
    return d.empty() ? testing::AssertionSuccess() : testing::AssertionFailure() << d;
}

testing::AssertionResult holds_exactly(const std::string& rec, const std::string& want,
                                       char silence, char pad, size_t pad_bytes) {
    const size_t at = rec.find(want);
    if (at == std::string::npos)
        return testing::AssertionFailure()
               << "the recording (" << rec.size() << " bytes) does not hold the " << want.size()
               << " bytes of the output";
    // Up to pad_bytes of pad right before and right after the output.
    size_t from = at, to = at + want.size();
    for (size_t n = 0; n < pad_bytes && from > 0 && rec[from - 1] == pad; ++n)
        --from;
    for (size_t n = 0; n < pad_bytes && to < rec.size() && rec[to] == pad; ++n)
        ++to;
    auto byte = [&](size_t i) {
        char text[64];
        std::snprintf(text, sizeof text, "byte %02x at offset %zu of the recording",
                      static_cast<unsigned char>(rec[i]), i);
        return std::string(text);
    };
    const size_t before = rec.substr(0, from).find_first_not_of(silence);
    if (before != std::string::npos)
        return testing::AssertionFailure() << byte(before) << ", before the output at " << at;
    const size_t after = rec.find_first_not_of(silence, to);
    if (after != std::string::npos)
        return testing::AssertionFailure()
               << byte(after) << ", " << after - at - want.size() << " bytes after the output";
    return testing::AssertionSuccess();
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

std::string shell(const std::string& cmd, int* status) {
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        throw std::runtime_error("popen");
    std::string out;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, p)) > 0;)
        out.append(chunk, n);
    const int st = pclose(p);
    if (status != nullptr)
        *status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return out;
}

bool have_tools(const std::vector<std::string>& tools) {
    for (const auto& t : tools) {
        int st = 0;
        shell("command -v " + t + " >/dev/null 2>&1", &st);
        if (st != 0)
            return false;
    }
    return true;
}

std::string package_file(const std::string& package, const std::string& name) {
    // A dot in name matches any character too, which a listing of one
    // package never confuses.
    std::string path = shell("dpkg -L " + sh_quote(package) + " 2>/dev/null | grep " +
                             sh_quote("/" + name + "$") + " | head -1");
    if (!path.empty() && path.back() == '\n')
        path.pop_back();
    return path;
}

std::string readme_one_liner(const std::string& lib, std::string& numbers) {
    std::ifstream readme(std::string(SOURCE_DIR) + "/README.md");
    std::string line, command;
    while (std::getline(readme, line))
        if (line.find("LD_PRELOAD=") != std::string::npos && line.find(lib) != std::string::npos)
            command = line.substr(line.find_first_not_of(' '));
    const size_t at = command.find(" numtone ");
    if (at == std::string::npos)
        throw std::runtime_error("no README line runs numtone with " + lib);
    numbers = command.substr(at + 9);
    return command.replace(at + 1, 7, sh_quote(NUMTONE_BIN));
}

std::string sh_quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string value_of(const std::vector<std::string>& args, const std::string& name,
                     const std::string& fallback) {
    std::string v = fallback;
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == name)
            v = args[i + 1];
    return v;
}

long walk_frames(const std::vector<std::string>& numbers, const std::vector<std::string>& args) {
    const std::string keys = "0123456789*#ABCD";
    const long rate = std::stol(value_of(args, "--speed", "8000"));
    auto frames = [&](const char* opt, const char* def) {
        return std::stol(value_of(args, opt, def)) * rate / 1000;
    };
    const long tone = frames("--tone-time", "100"), gap = frames("--silent-time", "50"),
               pause = frames("--sleep-time", "500");
    long n = 0;
    bool tone_last = false;
    for (const auto& number : numbers) {
        if (tone_last)
            n += pause, tone_last = false;
        for (char c : number) {
            if (c == ',' || c == ' ') {
                n += pause, tone_last = false;
                continue;
            }
            if (tone_last)
                n += gap, tone_last = false;
            if (keys.find(c) != std::string::npos)
                n += tone, tone_last = true;
        }
    }
    return n;
}

std::string sox_raw(const std::string& path, int rate, int bits, int channels) {
    return std::string("-t raw -e ") + (bits == 8 ? "unsigned" : "signed") + " -b " +
           std::to_string(bits) + " -L -r " + std::to_string(rate) + " -c " +
           std::to_string(channels) + " " + sh_quote(path);
}

raw_format::raw_format(const std::vector<std::string>& args)
    : rate(std::stoi(value_of(args, "--speed", "8000"))),
      bits(std::stoi(value_of(args, "--bits", "8"))), left(value_of(args, "--left", "0") == "1"),
      right(value_of(args, "--right", "0") == "1") {
    channels = left || right ? 2 : 1;
}

std::string raw_format::sox_input(const std::string& path) const {
    return sox_raw(path, rate, bits, channels);
}

bool raw_format::carries(int channel) const {
    return channels == 1 || (channel == 1 ? left : right);
}

std::string keys_of(const std::vector<std::string>& numbers) {
    std::string keys;
    for (const auto& n : numbers)
        for (char c : n)
            if (std::string("0123456789*#ABCD").find(c) != std::string::npos)
                keys += c;
    return keys;
}

std::string exchange_hears(const std::string& path, const raw_format& f, int channel) {
    int st = 0;
    std::string heard = shell(sh_quote(DTMF_JUDGE) + " " + std::to_string(f.rate) + " " +
                                  std::to_string(f.bits) + " " + std::to_string(f.channels) + " " +
                                  std::to_string(channel) + " < " + sh_quote(path),
                              &st);
    if (st != 0)
        throw std::runtime_error("dtmf_judge failed with status " + std::to_string(st));
    if (!heard.empty() && heard.back() == '\n')
        heard.pop_back();
    return heard;
}

std::string decode_dtmf(const std::string& sox_input, int channel) {
    const std::string out =
        shell("sox -V1 " + sox_input + " -t raw -e signed -b 16 -r 22050 -c 1 - remix " +
              std::to_string(channel) + " | multimon-ng -q -c -a DTMF -t raw - 2>/dev/null");
    std::string digits;
    const std::string mark = "DTMF: ";
    for (size_t at = out.find(mark); at != std::string::npos; at = out.find(mark, at + 1))
        if (at + mark.size() < out.size())
            digits += out[at + mark.size()];
    return digits;
}

double sox_stat(const std::string& sox_input, int channel, const std::string& field,
                const std::string& trim) {
    const std::string out = shell("sox -V1 " + sox_input + " -n remix " + std::to_string(channel) +
                                  " " + trim + " stat 2>&1");
    const size_t at = out.find(field + ":");
    if (at == std::string::npos)
        throw std::runtime_error("sox stat gave no " + field + ":\n" + out);
    return std::strtod(out.c_str() + at + field.size() + 1, nullptr);
}

device_run on_device(const std::string& dir, std::vector<std::string> args,
                     std::vector<std::string> env) {
    const std::string out = dir + "/dsp", log = dir + "/log";
    unlink(log.c_str());
    write_file(out, ""); // the device is there; numtone never creates one
    args.insert(args.begin(), {"--output-dev", out});
    run_options opt;
    opt.fake_dsp = true;
    opt.timeout = 20;
    opt.env = std::move(env);
    opt.env.push_back("FAKE_DSP_LOG=" + log);
    device_run d{run_numtone(args, opt), {}, read_file(out)};
    std::istringstream in(read_file(log));
    for (std::string line; std::getline(in, line);)
        d.log.push_back(line);
    return d;
}

std::vector<std::string> requests(const device_run& d) {
    std::vector<std::string> q;
    for (const auto& l : d.log)
        if (l.rfind("ioctl", 0) == 0)
            q.push_back(l);
    return q;
}

std::vector<int> writes(const device_run& d) {
    std::vector<int> w;
    for (const auto& l : d.log)
        if (l.rfind("write ", 0) == 0 && l.find(' ', 6) == std::string::npos)
            w.push_back(std::stoi(l.substr(6)));
    return w;
}

void in_temp_dir::TearDown() {
    std::filesystem::remove_all(dir);
}
