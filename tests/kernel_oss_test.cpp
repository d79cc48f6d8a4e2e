// A kernel OSS driver: Linux's own OSS emulation (snd-pcm-oss) over ALSA's
// loopback card (snd-aloop), in a small virtual machine.  The guest boots
// the distribution's kernel with a busybox initramfs, mounts this machine's
// root read-only over 9p as its own, with its own /dev, /proc, /sys and
// /tmp, and loads the sound modules: its /dev/dsp is the loopback's
// playback side, and arecord records the capture side.  Nothing of it
// touches this machine: no module is loaded here and no /dev/dsp appears.
//
// The loopback holds the playback side to the capture's rate and channels,
// and takes 16-bit samples only: in the emulation's default mode an 8-bit
// stream arrives converted, each byte u as 0x00 then u ^ 0x80.  In its
// direct mode, chosen per program name, the driver answers the requests
// with what the card does, as real hardware would.
#include "run_binary.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A played case: what numtone is given in the guest, and the capture the
// loopback is held to.
struct vm_case {
    std::vector<std::string> args;       // each number ends in a pause: see guest_script
    int rate, channels;                  // of the capture
    bool direct = false;                 // the emulation's direct mode
    std::vector<std::string> plays = {}; // what the card plays, as --use-audio 0 options
    std::string err = "";
    int status = 0;
};

// The newest kernel installed with its modules, or "".
std::string guest_kernel() {
    std::string newest;
    for (const auto& m : fs::directory_iterator("/lib/modules"))
        if (fs::exists("/boot/vmlinuz-" + m.path().filename().string()) &&
            m.path().filename().string() > newest)
            newest = m.path().filename().string();
    return newest;
}

class KernelOss : public in_temp_dir {
  protected:
    void SetUp() override {
        in_temp_dir::SetUp();
        REQUIRE_TOOLS("qemu-system-x86_64", "modprobe", "arecord");
        if (!fs::exists("/lib/modules") || guest_kernel().empty()) {
            if (std::getenv("CI") != nullptr)
                FAIL() << "no kernel in /boot with its modules (Debian's linux-image-amd64)";
            GTEST_SKIP() << "no kernel in /boot with its modules (Debian's linux-image-amd64)";
        }
        int st = 0;
        shell("ldd /bin/busybox >/dev/null 2>&1", &st);
        if (st == 0) { // dynamic: the initramfs has no libraries for it
            if (std::getenv("CI") != nullptr)
                FAIL() << "/bin/busybox is not static (Debian's busybox-static)";
            GTEST_SKIP() << "/bin/busybox is not static (Debian's busybox-static)";
        }
        kernel = guest_kernel();
    }

    // The initramfs: busybox, the modules for virtio, 9p and the sound
    // card in the order they load, and an init that mounts this machine's
    // root and the results folder, then runs guest.sh from it.
    void make_initramfs() {
        const std::string tree = dir + "/tree";
        fs::create_directories(tree + "/bin");
        fs::copy_file("/bin/busybox", tree + "/bin/busybox");
        const std::string order =
            shell("modprobe -S " + kernel +
                  " -a --show-depends virtio_pci 9pnet_virtio 9p snd-aloop snd-pcm-oss"
                  " | awk '$1 == \"insmod\" && !seen[$2]++ { print $2 }'");
        std::istringstream in(order);
        for (std::string m; std::getline(in, m);) {
            fs::create_directories(tree + fs::path(m).parent_path().string());
            fs::copy_file(m, tree + m);
        }
        write_file(tree + "/modules", order);
        write_file(tree + "/init", R"(#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mkdir -p /proc /sys /dev /host /out
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /modules); do insmod $m || echo "insmod $m failed"; done
mount -t 9p -o trans=virtio,version=9p2000.L,ro host /host
mount -t 9p -o trans=virtio,version=9p2000.L out /out
for d in proc sys dev; do mount --bind /$d /host/$d; done
mount -t tmpfs tmp /host/tmp
mkdir /host/tmp/out
mount --bind /out /host/tmp/out
echo NUMTONE-GUEST-UP
chroot /host /bin/sh /tmp/out/guest.sh >/out/guest.log 2>&1
echo NUMTONE-GUEST-DONE
poweroff -f
)");
        fs::permissions(tree + "/init", fs::perms::owner_all, fs::perm_options::add);
        int st = 0;
        const std::string log =
            shell("cd " + sh_quote(tree) + " && find . | busybox cpio -o -H newc > " +
                      sh_quote(dir + "/initrd.cpio") + " 2>&1",
                  &st);
        ASSERT_EQ(st, 0) << log;
    }

    // One shell function call per case.  The capture starts first, and the
    // player only once the capture side runs: arecord takes seconds to
    // start in an emulated guest.  Every number ends in a pause, where the
    // loopback may lose up to a capture period of a stream's end.
    void write_guest_script(const std::vector<vm_case>& cases) {
        std::string s = "cp " + sh_quote(NUMTONE_BIN) + " /tmp/numtone-direct\n";
        s += R"sh(echo "numtone-direct 0 0 direct" > /proc/asound/card0/pcm0p/oss
t() { cut -d' ' -f1 /proc/uptime; }
play() { # case, rate, channels, program, arguments...
  n=$1 rate=$2 channels=$3 program=$4
  shift 4
  arecord -D hw:0,1,0 -f S16_LE -r $rate -c $channels -t raw --period-time=10000 \
    /tmp/out/cap$n.raw 2>/tmp/out/arecord$n.err &
  a=$!
  i=0
  until grep -q RUNNING /proc/asound/card0/pcm1c/sub0/status 2>/dev/null; do
    sleep 0.05; i=$((i + 1)); [ $i -lt 1200 ] || break
  done
  start=$(t)
  timeout 120 $program "$@" 2>/tmp/out/err$n
  echo $? >/tmp/out/status$n
  echo "$start $(t)" >/tmp/out/time$n
  sleep 0.3
  kill -TERM $a; sleep 0.3; kill -KILL $a 2>/dev/null; wait $a
}
)sh";
        for (size_t i = 0; i < cases.size(); ++i) {
            const auto& c = cases[i];
            s += "play " + std::to_string(i) + " " + std::to_string(c.rate) + " " +
                 std::to_string(c.channels) + " " +
                 (c.direct ? std::string("/tmp/numtone-direct") : sh_quote(NUMTONE_BIN));
            for (const auto& a : c.args)
                s += " " + sh_quote(a);
            s += "\n";
        }
        fs::create_directories(dir + "/out");
        write_file(dir + "/out/guest.sh", s);
    }

    // Boots the guest under KVM where the CPU offers it, else (or where
    // the guest does not come up under KVM) under TCG.  Returns "" once the
    // guest has run every case, and otherwise why not; sets cannot_boot
    // where the guest did not even come up, before numtone had any part.
    std::string boot() {
        const bool kvm = shell("grep -m1 -wo -E 'vmx|svm' /proc/cpuinfo") != "" &&
                         access("/dev/kvm", R_OK | W_OK) == 0;
        for (const std::string& accel :
             kvm ? std::vector<std::string>{"kvm", "tcg"} : std::vector<std::string>{"tcg"}) {
            const auto t0 = std::chrono::steady_clock::now();
            int st = 0;
            shell("timeout 900 qemu-system-x86_64 -machine q35 -accel " + accel +
                      (accel == "kvm" ? " -cpu host" : "") +
                      " -m 512 -smp 1 -nographic -no-reboot -kernel /boot/vmlinuz-" + kernel +
                      " -initrd " + sh_quote(dir + "/initrd.cpio") +
                      " -append 'console=ttyS0 rdinit=/init panic=-1 quiet'"
                      " -fsdev local,id=host,path=/,security_model=none,readonly=on,multidevs=remap"
                      " -device virtio-9p-pci,fsdev=host,mount_tag=host"
                      " -fsdev local,id=out,path=" +
                      sh_quote(dir + "/out") +
                      ",security_model=none -device virtio-9p-pci,fsdev=out,mount_tag=out >" +
                      sh_quote(dir + "/console.log") + " 2>&1",
                  &st);
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            const std::string console = read_file(dir + "/console.log");
            if (console.find("NUMTONE-GUEST-DONE") != std::string::npos) {
                std::cout << "guest under " << (accel == "kvm" ? "KVM" : "TCG")
                          << (kvm ? "" : " (the CPU shows no vmx or svm)") << ": "
                          << static_cast<int>(seconds) << " s\n";
                RecordProperty("accel", accel);
                return "";
            }
            if (console.find("NUMTONE-GUEST-UP") != std::string::npos)
                return "the guest came up under " + accel + " but did not finish" +
                       (st == 124 ? " in 900 s: starved of CPU, or a run hung\n" : "\n") +
                       excerpt(read_file(dir + "/out/guest.log"));
        }
        cannot_boot = true;
        std::string console = read_file(dir + "/console.log");
        console = console.substr(console.size() > 300 ? console.size() - 300 : 0);
        return "qemu cannot boot a guest here: " + excerpt(console);
    }

    std::string out(size_t i, const std::string& what) const {
        return read_file(dir + "/out/" + what + std::to_string(i) + (what == "cap" ? ".raw" : ""));
    }

    std::string kernel;
    bool cannot_boot = false;
};

// What the card plays for a stream numtone writes in 8 bits: the kernel's
// exact conversion to 16 bits.
std::string as_s16(const std::string& u8) {
    std::string s;
    for (char u : u8) {
        s += '\0';
        s += static_cast<char>(static_cast<unsigned char>(u) ^ 0x80);
    }
    return s;
}

// The capture holds the output as one unbroken run, with silence around
// it.  After a stream ends the loopback may copy up to 64 stale bytes of
// its ring buffer once more, whoever wrote the stream (aplay writing to
// ALSA directly does too): past the output, one run of at most 128 bytes
// that repeats bytes of the output is let pass, and nothing else.
testing::AssertionResult plays_exactly(const std::string& cap, const std::string& want) {
    const size_t at = cap.find(want);
    if (at != std::string::npos) {
        const size_t first = cap.find_first_not_of('\0', at + want.size());
        if (first != std::string::npos) {
            const std::string stale = cap.substr(first, cap.find_last_not_of('\0') + 1 - first);
            if (stale.size() <= 128 && want.find(stale) != std::string::npos)
                return holds_exactly(cap.substr(0, first), want, '\0');
        }
    }
    return holds_exactly(cap, want, '\0');
}

TEST_F(KernelOss, PlaysAndAnswersAsTheDriverDoes) {
    const std::vector<std::string> pause{"--sleep-time", "200"};
    auto with_pause = [&](std::vector<std::string> a) {
        a.insert(a.begin(), pause.begin(), pause.end());
        return a;
    };
    std::vector<vm_case> cases{
        // The default mode: every width and layout, rates from 8000 to
        // 48000, blocks that are not whole frames, a tone of seconds.
        {with_pause({"555,1212,"}), 8000, 1},
        {with_pause({"--bits", "16", "--speed", "11025", "0123456789*#ABCD,"}), 11025, 1},
        {with_pause({"--left", "1", "--speed", "22050", "147,"}), 22050, 2},
        {with_pause({"--right", "1", "--speed", "16000", "--bufsize", "5", "258,"}), 16000, 2},
        {with_pause({"--bits", "16", "--left", "1", "--right", "1", "--speed", "48000", "--bufsize",
                     "4097", "369,"}),
         48000, 2},
        {with_pause({"--bits", "16", "--right", "1", "--speed", "12345", "--bufsize", "7", "*0#,"}),
         12345, 2},
        {with_pause({"--speed", "32000", "--tone-time", "3000", "D,"}), 32000, 1},
        // The direct mode: a rate within 500 is granted as the card's, a
        // format answer decides the encoding, a rate far off is refused.
        {with_pause({"--bits", "16", "--left", "1", "--speed", "44000", "58,"}),
         44100,
         2,
         true,
         {"--bits", "16", "--left", "1", "--speed", "44100"},
         "Setting speed to 44100\n"},
        {with_pause({"90,"}), 8000, 1, true, {"--bits", "16"}},
        {with_pause({"--speed", "22000", "A,"}),
         22050,
         1,
         true,
         {"--bits", "16", "--speed", "22050"},
         "Setting speed to 22050\n"},
        {with_pause({"--bits", "16", "--speed", "8000", "1,"}),
         48000,
         1,
         true,
         {},
         "Your sound card does not support the requested speed\n",
         1},
    };
    make_initramfs();
    write_guest_script(cases);
    const std::string failed = boot();
    SKIP_IF(cannot_boot ? failed : "");
    ASSERT_TRUE(failed.empty()) << failed;
    ASSERT_FALSE(fs::exists("/dev/dsp") && !fs::is_character_file("/dev/dsp"));

    std::vector<std::string> starved;
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        const std::string what = (c.direct ? "direct " : "") + show_args(c.args);
        // An overrun is arecord falling behind: the guest was starved of
        // CPU, and what was captured says nothing about numtone.
        if (out(i, "arecord").find("overrun") != std::string::npos) {
            starved.push_back(what);
            continue;
        }
        EXPECT_EQ(out(i, "status"), std::to_string(c.status) + "\n") << what;
        EXPECT_TRUE(same_text(out(i, "err"), c.err)) << what;
        const std::string cap = out(i, "cap");
        ASSERT_FALSE(cap.empty()) << what << ": nothing captured\n" << excerpt(out(i, "arecord"));
        if (c.status != 0) {
            EXPECT_EQ(cap.find_first_not_of('\0'), std::string::npos) << what << ": played";
            continue;
        }
        // The card's format and rate go just before the number, where
        // they win over the case's own.
        std::vector<std::string> plays = c.args;
        plays.insert(plays.end() - 1, c.plays.begin(), c.plays.end());
        const std::string file = pcm(plays);
        const raw_format f(plays);
        EXPECT_TRUE(plays_exactly(cap, f.bits == 16 ? file : as_s16(file))) << what;
        // The device paces the writes: the run takes the audio's length,
        // and the driver's drain after it.
        std::istringstream times(out(i, "time"));
        double start = 0, end = 0;
        times >> start >> end;
        const double audio = static_cast<double>(file.size()) / (f.bits / 8 * f.channels) / f.rate;
        EXPECT_GE(end - start, audio - 0.05) << what;
        EXPECT_LE(end - start, audio + 3) << what;
    }
    if (!starved.empty())
        GTEST_SKIP() << "the guest was starved of CPU (arecord overran) in " << starved.size()
                     << " of " << cases.size()
                     << " cases, which were not judged; first: " << starved.front();
}

} // namespace
