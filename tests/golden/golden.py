#!/usr/bin/python3
"""Pins velto's console output: runs every invocation of cases.txt and compares
the exit status and both streams with the committed texts in expected/.

What varies from run to run or from machine to machine is masked first, in the
actual and the expected text alike: the processor's own lines, timer
frequencies and sources, the timer-compliance lines, scores, times, iteration
counts and the live progress line. Everything else must match byte for byte.

    golden.py --program build/linux/velto                   compare
    golden.py --program velto.exe --emulator wine --variant x86
    golden.py --program build/linux/velto --update          rewrite expected/

A case whose output differs between the 32-bit build and the others keeps a
second text, expected/NAME.x86.txt, which --variant x86 prefers.
"""

import argparse
import difflib
import os
import re
import shlex
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# The compliance warning of a bypassed check appears only where the fast timer
# breaks the rules (natively here, not under Wine); the abort it replaces is
# pinned by its own end-to-end check.
TIMER_WARNING = re.compile(
    r"===========\n  warning  \n===========\n"
    r"Fast timer is not compliant with HWBOT rules \(fast timer source: [A-Za-z]+\)\n"
    r"Check that this is a detection error[^\n]*\n")

LINE_MASKS = [
    # timer and processor report
    (re.compile(r"^(Fast timer: ).*$"), r"\1<source>"),
    (re.compile(r"^((?:underlying|report) frequency: ).*$"), r"\1<frequency>"),
    (re.compile(r"^((?:tsc|crystal|invariant): ).*$"), r"\1<value>"),
    (re.compile(r"^(?:Intel detected|AMD detected|unknown vendor)$"), "<vendor>"),
    (re.compile(r"^detected family: [0-9a-f]+ model: [0-9a-f]+$"),
     "detected family: <family> model: <model>"),
    (re.compile(r"^Fast timer is hwbot compliant$"), "<compliance>"),
    (re.compile(r"^Fast timer is not compliant with HWBOT rules$"), "<compliance>"),
    (re.compile(r"^Use --bypass-timer-check to run regardless.*$"), None),
    # the version line: the build and its compiler differ between the builds
    (re.compile(r"^(velto [0-9]+\.[0-9]+\.[0-9]+) \((?:linux|windows) x86(?:_64)?, "
                r"(?:GCC|Clang)(?: [0-9]+(?:\.[0-9]+)?)?\)$"), r"\1 (<build>)"),
    # run header and progress
    (re.compile(r"^(Fast Timer Frequency: ).* \([A-Za-z]+\)$"), r"\1<frequency> (<source>)"),
    (re.compile(r"^(Coarse Timer Frequency: ).*$"), r"\1<frequency>"),
    (re.compile(r"^initialization took -?\d+ms$"), "initialization took <ms>ms"),
    (re.compile(r"^\rbenchmarking\.\.\. .*$"), "<progress>"),
    # table and score
    (re.compile(r"^ *thread +grid updates +time +MGups +iterations$"),
     "thread  grid updates  time  MGups  iterations"),
    (re.compile(r"^ *\d+ +\d+ +\d+\.\d\ds +[\d.]+ +\d+$"), "<thread row>"),
    (re.compile(r"^final score: .* MGups$"), "final score: <score> MGups"),
    (re.compile(r"^(fast timer = )-?\d+(ms    coarse timer = )-?\d+ms$"), r"\1<ms>\2<ms>ms"),
    # topology printout: the machine's own numbers
    (re.compile(r"=\d+"), "=#"),
]


VENDOR_LINE = re.compile(r"^(?:Intel detected|AMD detected|unknown vendor)$")


def mask(text):
    text = text.replace("\r\n", "\n")
    text = TIMER_WARNING.sub("", text)
    lines = text.split("\n")
    out = []
    seen_topology = set()
    for index, line in enumerate(lines):
        following = lines[index + 1:index + 3] + ["", ""]
        # The processor's brand string opens the run header (the feature list
        # after it), precedes the vendor in the timer report and follows the
        # version line of a valid result.
        if following[1].startswith("running with ") or VENDOR_LINE.match(following[0]):
            line = "<brand>"
        elif following[0].startswith("running with "):
            line = "<features>"
        elif index > 0 and lines[index - 1].startswith("velto v"):
            line = "<brand>"
        line = re.sub(r"^  velto(\.exe)? ", "  velto ", line)
        for pattern, replacement in LINE_MASKS:
            if pattern.search(line):
                if replacement is None:
                    line = None
                    break
                line = pattern.sub(replacement, line)
        if line is None:
            continue
        # The topology's shape depends on the machine: each kind of line once.
        if re.match(r"^(perf_level_count=|numa node id=|\|--llc id=|\|  \|)", line):
            if line in seen_topology:
                continue
            seen_topology.add(line)
        out.append(line)
    return "\n".join(out)


def render(status, out, err):
    return f"status: {status}\n--- standard output\n{out}\n--- standard error\n{err}\n"


def read_cases(path):
    cases = []
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            name, sep, args = line.partition(":")
            if not sep or not re.fullmatch(r"[a-z0-9_]+", name.strip()):
                sys.exit(f"{path}:{number}: expected 'name: arguments'")
            cases.append((name.strip(), shlex.split(args)))
    return cases


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--emulator", default="", help="a command put before the program (Wine)")
    parser.add_argument("--variant", default="", help="prefer expected/NAME.VARIANT.txt")
    parser.add_argument("--cases", default=os.path.join(HERE, "cases.txt"))
    parser.add_argument("--update", action="store_true", help="rewrite the expected texts")
    parser.add_argument("--only", default="", help="run only the case of this name")
    options = parser.parse_args()

    emulator = shlex.split(options.emulator)
    failures = 0
    cases = read_cases(options.cases)
    for name, args in cases:
        if options.only and name != options.only:
            continue
        completed = subprocess.run(emulator + [options.program] + args, stdin=subprocess.DEVNULL,
                                   capture_output=True, timeout=300)
        actual = render(completed.returncode,
                        mask(completed.stdout.decode("utf-8", "replace")),
                        mask(completed.stderr.decode("utf-8", "replace")))
        candidates = [f"{name}.{options.variant}.txt"] if options.variant else []
        candidates.append(f"{name}.txt")
        paths = [os.path.join(HERE, "expected", c) for c in candidates]
        existing = [p for p in paths if os.path.exists(p)]
        if options.update:
            # A variant keeps only what differs from the common text.
            target = paths[0]
            if options.variant and os.path.exists(paths[-1]):
                with open(paths[-1], encoding="utf-8") as f:
                    if f.read() == actual:
                        if os.path.exists(paths[0]):
                            os.remove(paths[0])
                        continue
            with open(target, "w", encoding="utf-8", newline="\n") as f:
                f.write(actual)
            print(f"golden: wrote {os.path.relpath(target, HERE)}")
            continue
        if not existing:
            print(f"golden: {name}: no expected text ({', '.join(candidates)})")
            failures += 1
            continue
        with open(existing[0], encoding="utf-8") as f:
            expected = f.read()
        if expected != actual:
            failures += 1
            print(f"golden: {name} ({' '.join(args)}) differs from {os.path.basename(existing[0])}:")
            sys.stdout.writelines(difflib.unified_diff(
                expected.splitlines(True), actual.splitlines(True), "expected", "actual"))
        else:
            print(f"golden: {name}: ok")
    if not options.update:
        ran = len([c for c in cases if not options.only or c[0] == options.only])
        print(f"{ran - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
