#!/usr/bin/env python3
"""Whole-process timings of the built numtone, side by side with the limit
(dd moving the same bytes), a peer (sox synthesising the same tones) and
/bin/true, as medians over several runs, printed as ratios.  Given several
binaries (process.py NEW OLD ...), it measures each in the same run, so that
a change can be compared with what it replaced."""
import os
import re
import statistics
import subprocess
import sys
import time

BINARIES = sys.argv[1:] or ["build/numtone"]
RUNS = int(os.environ.get("BENCH_RUNS", "21"))
KEYS = "0123456789*#ABCD"
ROWS = {"1": 697, "2": 697, "3": 697, "A": 697, "4": 770, "5": 770, "6": 770, "B": 770,
        "7": 852, "8": 852, "9": 852, "C": 852, "*": 941, "0": 941, "#": 941, "D": 941}
COLS = {"1": 1209, "4": 1209, "7": 1209, "*": 1209, "2": 1336, "5": 1336, "8": 1336, "0": 1336,
        "3": 1477, "6": 1477, "9": 1477, "#": 1477, "A": 1633, "B": 1633, "C": 1633, "D": 1633}


def median_seconds(cmd, shell=False):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run(cmd, shell=shell, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def peak_rss_kib(cmd):
    r = subprocess.run(["/usr/bin/time", "-v"] + cmd, check=True, capture_output=True, text=True)
    return int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", r.stderr).group(1))


def output_bytes(numtone, args):
    r = subprocess.run([numtone, "--output-dev", "-"] + args, check=True, capture_output=True)
    return len(r.stdout)


def dd(nbytes, block):
    """dd moving exactly nbytes in blocks of block bytes, the last one short."""
    return ["dd", "if=/dev/zero", "of=/dev/null", f"bs={block}", f"count={nbytes}",
            "iflag=count_bytes", "status=none"]


def ms(s):
    return f"{s * 1000:8.2f} ms"


def measure(NUMTONE):
    print(f"\n== {NUMTONE}: medians of {RUNS} runs")

    large = ["--use-audio", "0", "--speed", "48000", "--bits", "16", "--left", "1",
             "--right", "1", "--tone-time", "10000", "--silent-time", "10",
             "--bufsize", "65536", KEYS]
    nbytes = output_bytes(NUMTONE, large)
    t_nt = median_seconds([NUMTONE, "--output-dev", "/dev/null"] + large)
    t_dd = median_seconds(dd(nbytes, 65536))
    sox = "; ".join(
        f"sox -n -r 48000 -b 16 -e signed -c 2 -t raw /dev/null "
        f"synth 10 sine {ROWS[k]} sine {COLS[k]} remix 1,2 1,2" for k in KEYS)
    t_sox = median_seconds(sox, shell=True)
    print(f"\nlarge job, {nbytes} bytes of 48 kHz 16-bit stereo in 64 KiB blocks")
    print(f"  numtone {ms(t_nt)}")
    print(f"  dd      {ms(t_dd)}   numtone/dd  = {t_nt / t_dd:6.2f}  (target <= 1.3)")
    print(f"  sox     {ms(t_sox)}   sox/numtone = {t_sox / t_nt:6.1f}  (target >= 30)")

    digits = ("5551212" * 143)[:1000]
    default = ["--use-audio", "0", digits]
    nbytes = output_bytes(NUMTONE, default)
    t_def = median_seconds([NUMTONE, "--output-dev", "/dev/null"] + default)
    t_dd = median_seconds(dd(nbytes, 4096))
    print(f"\ndefault settings, 1000 digits, {nbytes} bytes of 8 kHz 8-bit mono in 4 KiB blocks")
    print(f"  numtone {ms(t_def)}")
    print(f"  dd      {ms(t_dd)}   numtone/dd  = {t_def / t_dd:6.2f}  (target <= 1.8)")

    short = [NUMTONE, "--use-audio", "0", "--output-dev", "/dev/null", "1"]
    t_short = median_seconds(short)
    t_true = median_seconds(["/bin/true"])
    rss_short = peak_rss_kib(short)
    rss_true = peak_rss_kib(["/bin/true"])
    print("\nshort run, one key")
    print(f"  numtone {ms(t_short)}   peak RSS {rss_short} KiB")
    print(f"  true    {ms(t_true)}   peak RSS {rss_true} KiB")
    print(f"  numtone/true = {t_short / t_true:6.2f}  (target <= 1.2), "
          f"RSS difference = {rss_short - rss_true} KiB  (target <= 1024)")


if __name__ == "__main__":
    for binary in BINARIES:
        measure(binary)
