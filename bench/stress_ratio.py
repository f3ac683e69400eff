#!/usr/bin/env python3
"""The stability test's rate against the benchmark's, per workload and size.

A stability segment restarts its workload, makes the S steps of its known
answer and hashes both fields; the benchmark only steps. What the segment
pays on top, the restart and the hash once per S steps, shows as the ratio of
the two rates at the same workload, size and thread count:

  benchmark  velto -s N --workload W -n T -d D --bypass-timer-check
             score = runs[0].score_mgups of its record
  stress     velto --stress M -s N --workload W -n T
             rate = mean rate_mgups of every series point of every processor,
             times the threads (each thread runs one segment at a time)

The two alternate, benchmark first in even rounds and stress first in odd
ones, and every cell is visited once per round, so each round's pair is taken
in the same window of a shared machine; the table compares the medians and
shows the spread of the rounds' own ratios.

Usage: bench/stress_ratio.py [--velto build/linux/velto] [-n THREADS]
       [--rounds 3] [--duration 0] [--minutes 1] [--sizes 64 192]
       [--workloads standing_wave soft_gaussian] [--json out.json]
A quick check: --rounds 1 --duration 2 --sizes 64 (a stability test lasts at
least one minute). Figures need a quiet machine: every round prints the share of
the machine other programs took during each of its two runs (its busy time
less velto's own), and the table also gives the median ratio of the quiet
rounds alone, those where both shares stay under --quiet.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

TARGETS = {64: 0.90, 192: 0.97}
WORKLOADS = ("standing_wave", "soft_gaussian")


def load():
    return os.getloadavg()[0]


def busy_seconds():
    """Seconds every processor of the machine has spent busy since boot."""
    with open("/proc/stat") as f:
        fields = [int(v) for v in f.readline().split()[1:]]
    idle = fields[3] + (fields[4] if len(fields) > 4 else 0)
    return (sum(fields[:8]) - idle) / os.sysconf("SC_CLK_TCK")


# The share of the machine that other programs took while the last run ran:
# the machine's busy time less velto's own, over wall time x processors.
last_other_share = [None]


def run(cmd, timeout):
    """(exit code, stdout, stderr) of cmd; sets last_other_share."""
    last_other_share[0] = None
    try:
        with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
            busy0, wall0 = busy_seconds(), time.monotonic()
            p = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                 text=True)
            # wait4 rather than Popen.wait: it gives the child's own processor time.
            timer = threading.Timer(timeout, p.kill)
            timer.start()
            _, status, usage = os.wait4(p.pid, 0)
            timer.cancel()
            p.returncode = os.waitstatus_to_exitcode(status)
            wall = time.monotonic() - wall0
            own = usage.ru_utime + usage.ru_stime
            last_other_share[0] = max(0.0, (busy_seconds() - busy0 - own) /
                                      (wall * (os.cpu_count() or 1)))
            out.seek(0)
            err.seek(0)
            return p.returncode, out.read(), err.read()
    except OSError as error:
        return -1, "", str(error)


def read_record(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def last_words(out, err):
    return (out.strip().splitlines()[-1:] + err.strip().splitlines()[-1:]) or ["no output"]


def benchmark(exe, workload, n, threads, duration, tmp):
    """(score in MGups or None, other_cpu_share, complaint)."""
    path = os.path.join(tmp, "benchmark.json")
    if os.path.exists(path):
        os.remove(path)
    rc, out, err = run([exe, "-s", str(n), "--workload", workload, "-n", str(threads),
                        "-d", str(duration), "--bypass-timer-check", "--no-prompt",
                        "--export-json", path], timeout=duration + 600)
    record = read_record(path)
    if rc != 0 or not record or not record.get("runs") or not record["runs"][0].get("valid"):
        return None, None, f"benchmark exit {rc}: {last_words(out, err)}"
    first = record["runs"][0]
    return first["score_mgups"], first.get("other_cpu_share"), ""


def stress(exe, workload, n, threads, minutes, tmp):
    """(rate in MGups or None, segments, complaint)."""
    path = os.path.join(tmp, "stress.json")
    if os.path.exists(path):
        os.remove(path)
    rc, out, err = run([exe, "--stress", str(minutes), "-s", str(n), "--workload", workload,
                        "-n", str(threads), "--no-prompt", "--export-json", path],
                       timeout=minutes * 60 + 600)
    record = read_record(path)
    test = (record or {}).get("stress")
    if rc != 0 or not test:
        return None, 0, f"stress exit {rc}: {last_words(out, err)}"
    if test["end"] != "finished" or test["error_count"] != 0:
        return None, test["segments"], (f"stress ended {test['end']} with "
                                        f"{test['error_count']} errors")
    rates = [point["rate_mgups"] for processor in test["processors"]
             for point in processor["series"]
             if point["workload"] == workload and point["grid_size"] == n]
    if not rates:
        return None, 0, "stress: no segment finished"
    return statistics.mean(rates) * test["threads"], test["segments"], ""


def fmt(value, digits=1):
    return "-" if value is None else f"{value:.{digits}f}"


def pct(value):
    return "-" if value is None else f"{100 * value:.0f}%"


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def span(values, digits=0, scale=1.0):
    values = [v * scale for v in values if v is not None]
    if not values:
        return ""
    return f"{min(values):.{digits}f}-{max(values):.{digits}f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--velto", default="build/linux/velto")
    parser.add_argument("-n", "--threads", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--duration", type=int, default=0,
                        help="seconds of each benchmark run (-d); 0, the default, for as "
                             "long as a stability test, since this machine's rate drifts by "
                             "several percent from one minute to the next")
    parser.add_argument("--minutes", type=int, default=1,
                        help="minutes of each stability test (--stress, at least 1)")
    parser.add_argument("--sizes", type=int, nargs="+", default=[64, 192],
                        choices=sorted(TARGETS))
    parser.add_argument("--workloads", nargs="+", default=list(WORKLOADS), choices=WORKLOADS)
    parser.add_argument("--quiet", type=float, default=0.05,
                        help="a round is quiet when other programs took at most this share "
                             "of the machine during both of its runs")
    parser.add_argument("--json", help="also write every figure to this file")
    args = parser.parse_args()
    if not os.access(args.velto, os.X_OK):
        sys.exit(f"stress_ratio: no velto at {args.velto} (build it, or pass --velto)")
    if args.minutes < 1 or args.rounds < 1 or args.duration < 0 or args.threads < 1:
        sys.exit("stress_ratio: --minutes, --rounds and -n start at 1")
    if args.duration == 0:
        args.duration = min(60 * args.minutes, 1000)

    cells = [(w, n) for w in args.workloads for n in args.sizes]
    figures = {cell: {"benchmark": [], "stress": [], "other_benchmark": [], "other_stress": [],
                      "segments": [], "load": []} for cell in cells}
    print(f"velto {args.velto}; {args.threads} threads; {args.rounds} rounds of "
          f"{args.duration} s benchmarks and {args.minutes} min stability tests; "
          f"load {load():.2f}")
    with tempfile.TemporaryDirectory() as tmp:
        for r in range(args.rounds):
            for workload, n in cells:
                order = ("benchmark", "stress") if r % 2 == 0 else ("stress", "benchmark")
                cell = figures[(workload, n)]
                got = {}
                for kind in order:
                    if kind == "benchmark":
                        score, _, complaint = benchmark(args.velto, workload, n,
                                                        args.threads, args.duration, tmp)
                        got[kind] = score
                    else:
                        rate, segments, complaint = stress(args.velto, workload, n,
                                                           args.threads, args.minutes, tmp)
                        got[kind] = rate
                        cell["segments"].append(segments)
                    cell["other_" + kind].append(last_other_share[0])
                    if complaint:
                        print(f"  {complaint}", file=sys.stderr)
                cell["benchmark"].append(got["benchmark"])
                cell["stress"].append(got["stress"])
                cell["load"].append(load())
                ratio = (got["stress"] / got["benchmark"]
                         if got["benchmark"] and got["stress"] else None)
                print(f"round {r + 1} {workload:<14} {n:>4}: benchmark "
                      f"{fmt(got['benchmark'])} stress {fmt(got['stress'])} ratio "
                      f"{fmt(ratio * 100 if ratio else None)}% (others took "
                      f"{pct(cell['other_benchmark'][-1])} and "
                      f"{pct(cell['other_stress'][-1])} of the machine)", flush=True)

    print()
    print(f"{'workload':<14} {'N':>4} {'thr':>3} {'benchmark MGups':>22} "
          f"{'stress MGups':>22} {'ratio':>7} {'rounds':>13} {'quiet rounds':>16} "
          f"{'target':>6}")
    rows = []
    for (workload, n), cell in figures.items():
        bench, rate = median(cell["benchmark"]), median(cell["stress"])
        ratio = rate / bench if bench and rate else None
        rounds = [s / b for b, s in zip(cell["benchmark"], cell["stress"]) if b and s]
        quiet = [s / b for b, s, ob, os_ in zip(cell["benchmark"], cell["stress"],
                                                 cell["other_benchmark"], cell["other_stress"])
                 if b and s and ob is not None and os_ is not None
                 and max(ob, os_) <= args.quiet]
        quiet_text = (f"{100 * median(quiet):.1f}% of {len(quiet)}" if quiet else "none")
        target = TARGETS[n]
        verdict = "-" if ratio is None else ("met" if ratio >= target else "missed")
        print(f"{workload:<14} {n:>4} {args.threads:>3} "
              f"{fmt(bench):>8} ({span(cell['benchmark']):>11}) "
              f"{fmt(rate):>8} ({span(cell['stress']):>11}) "
              f"{fmt(ratio * 100 if ratio else None)+'%':>7} "
              f"{span(rounds, 1, 100.0):>13} {quiet_text:>16} {target * 100:>5.0f}% {verdict}")
        rows.append({"workload": workload, "grid_size": n, "threads": args.threads,
                     "benchmark_mgups": cell["benchmark"], "stress_mgups": cell["stress"],
                     "ratio": ratio, "round_ratios": rounds, "target": target,
                     "quiet_round_ratios": quiet,
                     "other_share_benchmark": cell["other_benchmark"],
                     "other_share_stress": cell["other_stress"], "segments": cell["segments"],
                     "load": cell["load"]})
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"velto": args.velto, "threads": args.threads, "rounds": args.rounds,
                       "duration_s": args.duration, "minutes": args.minutes, "cells": rows},
                      f, indent=1)


if __name__ == "__main__":
    main()
