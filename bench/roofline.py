#!/usr/bin/env python3
"""velto's score against the memory roofline of the machine it runs on.

One node update of a half-step moves about 96 bytes (the other field read
once, the own field read and written once) while the planes it reuses stay in
cache, so the honest ceiling of a score is the bandwidth of a stream that reads
two arrays and writes one of them back in place, divided by 96 bytes.
likwid-bench's daxpy kernel measures exactly that stream. Memory bandwidth
drifts from minute to minute on a shared machine, so daxpy runs are
interleaved with the velto runs of each table cell and every ratio compares
figures taken in the same window.

Besides the table the script reports velto's own bandwidth probe (--roofline)
against likwid-bench daxpy over the same working set, at one thread and at all
cores, run after run in the same window; and, for the standing wave:
  - the share of the timed loop spent outside the two kernels (perf samples of
    the cpu-clock event between the initial energy sum and the final one);
  - the initialisation time against a zero-fill of the same memory;
  - the peak resident memory against threads x memory_per_thread;
  - the Windows build's score under Wine against the native one.

Usage: bench/roofline.py [--velto build/linux/velto] [--runs 3] [--duration 5]
Needs likwid-bench (scripts/install-deps --perf), /usr/bin/time, and perf and
Wine for the optional parts. Scores need a quiet machine: the 1-minute load is
printed with every table.
"""

import argparse
import ctypes
import json
import mmap
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BYTES_PER_UPDATE = 96
MIB = 1 << 20


def memory_per_thread(n):
    return 64 * (n + 2) ** 3


def load():
    return os.getloadavg()[0]


def run(cmd, timeout=900, env=None):
    try:
        p = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                           timeout=timeout, env=env)
        return p.returncode, p.stdout, p.stderr
    except (OSError, subprocess.TimeoutExpired) as error:
        return -1, "", str(error)


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def spread(values):
    values = [v for v in values if v is not None]
    return (min(values), max(values)) if values else (None, None)


def span(values):
    low, high = spread(values)
    return f"({low:.0f}-{high:.0f})" if low is not None else ""


# ---------------------------------------------------------------- daxpy
def llc_bytes():
    try:
        text = open("/sys/devices/system/cpu/cpu0/cache/index3/size").read().strip()
        units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
        return int(text[:-1]) * units[text[-1]] if text[-1] in units else int(text)
    except (OSError, ValueError, IndexError):
        return 64 * MIB


def daxpy_working_set():
    # Far beyond the last-level cache, but never more than a quarter of memory.
    avail = os.sysconf("SC_AVPHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
    want = max(2 << 30, 4 * llc_bytes())
    return min(want, avail // 4) // MIB


def daxpy(threads, working_set_mib):
    """GB/s of likwid-bench's daxpy, pinned to the first `threads` cores of S0."""
    rc, out, err = run(["likwid-bench", "-t", "daxpy", "-w",
                        f"S0:{working_set_mib}MB:{threads}"], timeout=300)
    m = re.search(r"^MByte/s:\s+([0-9.]+)", out, re.M)
    if rc != 0 or not m:
        print(f"  likwid-bench failed: {(err or out).strip()[:200]}", file=sys.stderr)
        return None
    return float(m.group(1)) / 1000.0


# ---------------------------------------------------------------- velto
class VeltoRun:
    def __init__(self, score=None, init_ms=None, peak_rss=None, valid=False, text=""):
        self.score, self.init_ms, self.peak_rss, self.valid, self.text = (
            score, init_ms, peak_rss, valid, text)


def parse_velto(out):
    score = re.search(r"final score: ([0-9.]+) MGups", out)
    init = re.search(r"initialization took (-?\d+)ms", out)
    return (float(score.group(1)) if score else None, int(init.group(1)) if init else None,
            "valid result" in out)


def velto(exe, n, threads, duration, workload, threading, prefix=(), env=None):
    cmd = list(prefix) + [exe, "-s", str(n), "-n", str(threads), "-d", str(duration),
                          "--workload", workload, "--threading", threading,
                          "--bypass-timer-check"]
    if not prefix and os.path.exists("/usr/bin/time"):
        cmd = ["/usr/bin/time", "-v"] + cmd
    rc, out, err = run(cmd, env=env)
    score, init_ms, valid = parse_velto(out)
    rss = re.search(r"Maximum resident set size \(kbytes\): (\d+)", err)
    if not valid:
        score = None
    # Keep velto's own last words, not /usr/bin/time's report.
    own_err = err.split("\tCommand being timed")[0]
    return VeltoRun(score, init_ms, int(rss.group(1)) * 1024 if rss else None, valid,
                    (out[-200:] + own_err[-200:]))


# ---------------------------------------------------------------- zero-fill
def zero_fill_seconds(size, huge):
    """Time to write zeros into `size` fresh bytes (page faults included)."""
    m = mmap.mmap(-1, size, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS)
    if huge and hasattr(mmap, "MADV_HUGEPAGE"):
        m.madvise(mmap.MADV_HUGEPAGE)
    view = ctypes.c_char.from_buffer(m)
    address = ctypes.addressof(view)
    start = time.perf_counter()
    ctypes.memset(address, 0, size)
    elapsed = time.perf_counter() - start
    del view
    m.close()
    return elapsed


# ---------------------------------------------------------------- overhead
KERNEL = re.compile(r"update_[he]\b|update_[he]_row")


def loop_overhead(exe, n, duration, threading):
    """Shares of the standing wave's timed loop spent outside update_h/update_e:
    velto's own work (checks, progress line, timer reads, their system calls)
    and the kernel's interrupts and preemption, which land on whatever runs.

    update_e never runs during initialisation, so the timed loop is the
    stretch of samples from the first step (the H half-step before the first
    E half-step) to the first total_energy of validation."""
    if not shutil.which("perf"):
        return None, None, "perf is not installed"
    with tempfile.TemporaryDirectory() as tmp:
        data = os.path.join(tmp, "perf.data")
        rc, _, err = run(["perf", "record", "-q", "-g", "-e", "cpu-clock", "-F", "4999",
                          "-o", data, "--", exe, "-s", str(n), "-n", "1", "-d", str(duration),
                          "--threading", threading, "--bypass-timer-check"])
        if rc != 0:
            return None, None, f"perf record failed: {err.strip()[:200]}"
        # perf prints a symbol only together with its address; one block of
        # lines per sample, innermost frame first.
        rc, out, err = run(["perf", "script", "-i", data, "-F", "ip,sym"])
        if rc != 0:
            return None, None, f"perf script failed: {err.strip()[:200]}"
    samples = []
    for block in out.split("\n\n"):
        frames = [line.strip().partition(" ")[2] for line in block.strip().splitlines()]
        if frames:
            samples.append((frames[0], " ".join(frames)))
    syms = [sym for sym, _ in samples]
    first_e = next((i for i, s in enumerate(syms) if "update_e" in s), None)
    if first_e is None:
        return None, None, "no sample in update_e"
    # The first step's H half-step comes right before the first E half-step;
    # before it lie initialisation's energy sums, its own H half-step and the
    # filling of the fields (whose page faults would count as outside work).
    start = first_e
    while start > 0 and re.search(r"update_h|total_energy|node_energy", syms[start - 1]):
        start -= 1
    energy = [i for i, s in enumerate(syms) if "total_energy" in s and i > first_e]
    last_kernel = max(i for i, s in enumerate(syms) if KERNEL.search(s))
    end = min(energy) if energy else last_kernel + 1
    window = samples[start:end]
    own, interrupts = {}, 0
    for sym, chain in window:
        if KERNEL.search(sym):
            continue
        if "entry_SYSCALL" not in chain and re.search(r"asm_sysvec|asm_common_interrupt", chain):
            interrupts += 1
        else:
            own[sym] = own.get(sym, 0) + 1
    total = len(window)
    top = sorted(own.items(), key=lambda kv: -kv[1])[:4]
    detail = ", ".join(f"{s[:40] or '?'} {100.0 * c / total:.2f}%" for s, c in top)
    return sum(own.values()) / total, interrupts / total, f"{total} samples; {detail}"


# ---------------------------------------------------------------- probe
def velto_probe(exe, threads, threading, prefix=(), env=None):
    """(GB/s, working set bytes, seconds) of velto's own bandwidth probe
    (--roofline) at `threads` threads, from its record; the run after it is
    the shortest there is."""
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "probe.json")
        target = "Z:" + path if prefix else path
        rc, out, err = run(list(prefix) + [exe, "-s", "64", "-d", "1", "-n", str(threads),
                                           "--threading", threading, "--roofline",
                                           "--bypass-timer-check", "--no-prompt",
                                           "--export-json", target], env=env)
        try:
            with open(path) as f:
                m = json.load(f)["roofline"]["measurements"][0]
        except (OSError, ValueError, KeyError, IndexError):
            print(f"  velto probe failed (exit {rc}): {(err or out).strip()[-200:]}",
                  file=sys.stderr)
            return None, None, None
    return m["bandwidth_gb_s"], m["working_set_bytes"], m["duration_s"]


THP = "/sys/kernel/mm/transparent_hugepage/enabled"


def thp_mode():
    try:
        text = open(THP).read()
        return text[text.index("[") + 1:text.index("]")]
    except (OSError, ValueError):
        return None


def set_thp(mode):
    try:
        with open(THP, "w") as f:
            f.write(mode)
        return True
    except OSError:
        return False


def likwid_daxpy(threads, working_set_mib, huge):
    """likwid-bench daxpy; with `huge`, on transparent huge pages as velto's
    arrays are (the system-wide mode is set to "always" for the run and put
    back after it: likwid-bench itself never asks for them)."""
    if not huge:
        return daxpy(threads, working_set_mib)
    before = thp_mode()
    if before is None or not set_thp("always"):
        return None
    try:
        return daxpy(threads, working_set_mib)
    finally:
        set_thp(before)


def probe_against_likwid(args, cores):
    """velto's probe against likwid-bench daxpy at one thread and all cores,
    interleaved round by round over the same working set. velto's arrays are
    on transparent huge pages where the kernel allows them (as its fields are),
    likwid-bench's on whatever the system-wide mode gives; one thread on 4 KiB
    pages is TLB-bound, so --likwid-huge-pages compares like with like."""
    lines, figures = [], []
    if args.likwid_huge_pages:
        lines.append(f"likwid-bench on huge pages (transparent huge pages \"always\" for its runs,"
                     f" \"{thp_mode()}\" otherwise)")
    else:
        lines.append(f"likwid-bench on transparent huge pages \"{thp_mode()}\"")
    for threads in sorted({1, cores}):
        ours, theirs, size, seconds = [], [], None, []
        for _ in range(args.runs):
            gbs, ws, took = velto_probe(args.velto, threads, args.threading)
            ours.append(gbs)
            seconds.append(took)
            size = ws or size
            # likwid-bench spreads its working set over the threads itself.
            theirs.append(likwid_daxpy(threads, (size or 1 << 30) // MIB,
                                       args.likwid_huge_pages))
        a, b = median(ours), median(theirs)
        lines.append(f"{threads} thread{'s' if threads > 1 else ''}: velto {fmt(a, 2)} GB/s "
                     f"{span(ours)}, likwid-bench daxpy {fmt(b, 2)} GB/s {span(theirs)}, "
                     f"velto / likwid {pct(a, b)}; working set {fmt((size or 0) / MIB, 0)} MiB, "
                     f"probe {fmt(median(seconds), 2)} s; load {load():.2f}")
        figures.append({"threads": threads, "velto_gbs": ours, "likwid_gbs": theirs,
                        "working_set": size, "probe_s": seconds})
    return lines, figures


# ---------------------------------------------------------------- wine
def wine_score(args, native_exe):
    """Median wine score at N = 192, one thread, interleaved with native runs."""
    lines = []
    prefix, exe, label = None, None, None
    wine32 = shutil.which("wine")
    if wine32 and os.path.exists(args.win32):
        rc, out, err = run([wine32, args.win32, "--help"], timeout=120)
        if rc == 0 and "USAGE" in out:
            prefix, exe, label = [wine32], args.win32, "32-bit velto.exe under wine"
        else:
            lines.append(f"32-bit build cannot run here ({args.win32}, exit {rc}: "
                         f"{(err or out).strip().splitlines()[-1:] or ['no output']})")
    else:
        lines.append(f"32-bit build not run (wine or {args.win32} missing)")
    if exe is None:
        if os.path.exists(args.win64) and os.path.exists("/usr/lib/wine/wine64"):
            prefix, exe = ["/usr/lib/wine/wine64"], args.win64
            label = "64-bit velto.exe under wine64 (in place of the 32-bit build)"
        else:
            lines.append(f"64-bit Windows build not found either ({args.win64})")
            return lines
    env = dict(os.environ, WINEDEBUG="-all")
    natives, wines = [], []
    for _ in range(args.runs):
        natives.append(velto(native_exe, 192, 1, args.duration, "standing_wave",
                             args.threading).score)
        wines.append(velto(exe, 192, 1, args.duration, "standing_wave", args.threading,
                           prefix=prefix, env=env).score)
    nat, win = median(natives), median(wines)
    lines.append(f"{label}: {fmt(win)} MGups against native {fmt(nat)} MGups"
                 f" = {pct(win, nat)} (N = 192, 1 thread, load {load():.2f})")
    return lines


# ---------------------------------------------------------------- output
def fmt(value, digits=1):
    return "-" if value is None else f"{value:.{digits}f}"


def pct(a, b):
    return "-" if a is None or not b else f"{100.0 * a / b:.1f}%"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--velto", default="build/linux/velto")
    parser.add_argument("--win32", default="build/windows-i686/velto.exe")
    parser.add_argument("--win64", default="build/windows-x86_64/velto.exe")
    parser.add_argument("--sizes", type=int, nargs="+", default=[192, 448])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--duration", type=int, default=5)
    parser.add_argument("--threading", default="os", choices=["os", "numa", "phte"])
    parser.add_argument("--settle", type=int, default=15,
                        help="seconds between initialisation measurements (see the init part)")
    parser.add_argument("--skip", nargs="*", default=[],
                        choices=["table", "overhead", "init", "wine", "probe"])
    parser.add_argument("--likwid-huge-pages", action="store_true",
                        help="run the probe part's likwid-bench on transparent huge pages "
                             "(needs root; the system-wide mode is put back after each run)")
    parser.add_argument("--json", help="also write every figure to this file")
    args = parser.parse_args()
    if not os.access(args.velto, os.X_OK):
        sys.exit(f"roofline: no velto at {args.velto} (build it, or pass --velto)")
    if not shutil.which("likwid-bench") and not {"table", "probe"} <= set(args.skip):
        sys.exit("roofline: likwid-bench is missing (scripts/install-deps --perf)")

    cores = os.cpu_count() or 1
    ws = daxpy_working_set()
    record = {"velto": args.velto, "cores": cores, "cells": [], "load_start": load()}
    print(f"velto {args.velto}; {cores} cores; daxpy working set {ws} MiB; "
          f"{args.runs} runs of {args.duration} s; load {load():.2f}")

    if "table" not in args.skip:
        print()
        print(f"{'N':>5} {'thr':>3} {'workload':<14} {'MGups':>8} {'min-max':>15} "
              f"{'daxpy GB/s':>15} {'roofline':>9} {'ratio':>7} {'peak RSS':>10} "
              f"{'budget':>10} {'load':>5}")
        for n in args.sizes:
            for threads in sorted({1, cores}):
                bandwidth = [daxpy(threads, ws)]
                runs = {"standing_wave": [], "soft_gaussian": []}
                for _ in range(args.runs):
                    for workload in runs:
                        runs[workload].append(velto(args.velto, n, threads, args.duration,
                                                    workload, args.threading))
                    bandwidth.append(daxpy(threads, ws))
                gbs = median(bandwidth)
                roof = gbs * 1e9 / BYTES_PER_UPDATE / 1e6 if gbs else None
                budget = threads * memory_per_thread(n) * 1.01 + 16 * MIB
                for workload, results in runs.items():
                    scores = [r.score for r in results]
                    lo, hi = spread(scores)
                    rss = max([r.peak_rss for r in results if r.peak_rss] or [0]) or None
                    score = median(scores)
                    bl, bh = spread(bandwidth)
                    print(f"{n:>5} {threads:>3} {workload:<14} {fmt(score):>8} "
                          f"{fmt(lo) + '-' + fmt(hi):>15} "
                          f"{fmt(gbs, 2) + ' ' + fmt(bl, 0) + '-' + fmt(bh, 0):>15} "
                          f"{fmt(roof):>9} {pct(score, roof):>7} "
                          f"{fmt(rss / MIB if rss else None, 0) + ' MiB':>10} "
                          f"{fmt(budget / MIB, 0) + ' MiB':>10} {load():>5.2f}")
                    for r in results:
                        if not r.valid:
                            print(f"      invalid run: {r.text.strip()[-200:]!r}")
                    record["cells"].append({
                        "n": n, "threads": threads, "workload": workload, "scores": scores,
                        "daxpy_gbs": bandwidth, "roofline": roof, "peak_rss": rss,
                        "rss_budget": budget,
                        "init_ms": [r.init_ms for r in results], "load": load()})

    if "probe" not in args.skip:
        print()
        print("velto's bandwidth probe (--roofline) against likwid-bench daxpy, interleaved:")
        lines, figures = probe_against_likwid(args, cores)
        for line in lines:
            print("  " + line)
        record["probe"] = figures

    if "init" not in args.skip:
        # Freed memory goes back to the host of a virtual machine after a few
        # seconds (balloon free-page reporting), and touching it again costs
        # twenty times more than touching memory just released. velto and each
        # fill therefore start from the same settled state: every measurement
        # waits --settle seconds after the one before it.
        print()
        print("initialisation (1 thread, standing_wave) against a zero-fill of the same memory,")
        print(f"each started {args.settle} s after the previous measurement:")
        for n in args.sizes:
            size = memory_per_thread(n)
            inits, plains, huges = [], [], []
            for _ in range(args.runs):
                time.sleep(args.settle)
                inits.append(velto(args.velto, n, 1, 1, "standing_wave", args.threading).init_ms)
                time.sleep(args.settle)
                plains.append(zero_fill_seconds(size, False) * 1000)
                time.sleep(args.settle)
                huges.append(zero_fill_seconds(size, True) * 1000)
            inits = [i for i in inits if i is not None]
            init = median(inits) if inits else None
            plain = median(plains)
            huge = median(huges)
            print(f"  N = {n}: init {fmt(init, 0)} ms {span(inits)}; zero-fill of "
                  f"{size / MIB:.0f} MiB {plain:.0f} ms {span(plains)} (4 KiB pages), "
                  f"{huge:.0f} ms {span(huges)} (huge pages); "
                  f"init / zero-fill {fmt(init / plain if init else None, 2)} and "
                  f"{fmt(init / huge if init else None, 2)}; load {load():.2f}")
            record[f"init_{n}"] = {"init_ms": inits, "fill_ms": plains, "fill_huge_ms": huges,
                                   "settle_s": args.settle}

    if "overhead" not in args.skip:
        print()
        print("share of the timed loop outside update_h/update_e (standing_wave, 1 thread):")
        for n in (64, 192):
            share, irq, detail = loop_overhead(args.velto, n, args.duration, args.threading)
            print(f"  N = {n}: {pct(share, 1.0)}, and {pct(irq, 1.0)} in interrupts and "
                  f"preemption ({detail}); load {load():.2f}")
            record[f"overhead_{n}"] = {"own": share, "interrupts": irq}

    if "wine" not in args.skip:
        print()
        print("Windows build:")
        for line in wine_score(args, args.velto):
            print("  " + line)

    if args.json:
        with open(args.json, "w") as f:
            json.dump(record, f, indent=1)


if __name__ == "__main__":
    main()
