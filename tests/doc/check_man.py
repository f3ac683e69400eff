#!/usr/bin/python3
"""Holds the man page docs/velto.1 to the program it describes.

- The page is lint-clean: `mandoc -Tlint -W warning` and `man --warnings` say
  nothing (each skipped, with a line saying so, where it is not installed).
- Its OPTIONS section has an entry for every option that `velto --help` lists
  and no other, with the same names and the same value name.
- Where the help names the choices of an option ("one of [...]") the entry
  quotes the same list in its error message; where it names a range ("1-100")
  the entry gives the same range ("1 to 100").
- The version in the .TH line is the project's version.

Exit status 0 when all hold, 1 with one line per difference otherwise.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

# The font macros and the fonts their arguments take in turn.
FONT_MACROS = {
    "B": "B", "I": "I", "BR": "BR", "RB": "RB", "BI": "BI",
    "IB": "IB", "IR": "IR", "RI": "RI",
}
# What the page's special characters read as, for comparing texts.
CHARACTERS = {
    "lq": '"', "rq": '"', "mu": "x", "mi": "-", "em": "--", "en": "-",
    "bu": "*", "S3": "3", "ha": "^", "ti": "~", "aq": "'", "dq": '"',
}


def split_arguments(text):
    """The arguments of a macro line: blank-separated, "" quotes a blank."""
    args, i = [], 0
    while i < len(text):
        if text[i] == " ":
            i += 1
            continue
        if text[i] == '"':
            i += 1
            arg = ""
            while i < len(text):
                if text[i] == '"':
                    if text[i + 1:i + 2] == '"':
                        arg += '"'
                        i += 2
                        continue
                    i += 1
                    break
                arg += text[i]
                i += 1
            args.append(arg)
        else:
            j = text.find(" ", i)
            j = len(text) if j < 0 else j
            args.append(text[i:j])
            i = j
    return args


def segments(text, font="R"):
    """Text with its escapes resolved, as (text, font) pieces; font B, I or R."""
    pieces, current, previous = [], "", font
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            current += c
            i += 1
            continue
        e = text[i + 1:i + 2]
        if e == "f":
            name = text[i + 2:i + 3]
            i += 3
            if name == "[":
                end = text.index("]", i)
                name, i = text[i:end], end + 1
            pieces.append((current, font))
            current = ""
            if name == "P":
                font, previous = previous, font
            else:
                previous, font = font, {"B": "B", "I": "I"}.get(name, "R")
        elif e == "(":
            current += CHARACTERS.get(text[i + 2:i + 4], "?")
            i += 4
        elif e == "[":
            end = text.index("]", i)
            current += CHARACTERS.get(text[i + 2:end], "?")
            i = end + 1
        elif e in ("-", "e", "\\"):
            current += "-" if e == "-" else "\\"
            i += 2
        elif e in ("~", " ", "0"):
            current += " "
            i += 2
        else:  # \& and the like: nothing to read
            i += 2
    pieces.append((current, font))
    return [(t, f) for t, f in pieces if t]


def line_segments(line):
    """One input line as (text, font) pieces; None for a structural macro."""
    if line.startswith((".", "'")):
        name, _, rest = line[1:].partition(" ")
        if name not in FONT_MACROS:
            return None
        fonts = FONT_MACROS[name]
        args = split_arguments(rest)
        if len(fonts) == 1:
            return segments(" ".join(args), fonts)
        out = []
        for k, arg in enumerate(args):
            out += segments(arg, fonts[k % 2])
        return out
    return segments(line)


def sections(page_text):
    """The page's lines by section name (.SH), comments left out."""
    result, name = {}, None
    for line in page_text.splitlines():
        if line.startswith(('.\\"', "'\\\"")):
            continue
        if line.startswith(".SH"):
            name = " ".join(split_arguments(line[3:]))
            result[name] = []
        elif name is not None:
            result[name].append(line)
    return result


def option_entries(option_lines):
    """The entries of OPTIONS: (names, value name or None, body as plain text)."""
    entries = []
    lines = iter(option_lines)
    body = None
    for line in lines:
        if line.startswith(".TP"):
            tag = line_segments(next(lines, "")) or []
            names, values = [], []
            for text, font in tag:
                for word in re.split(r"[ ,]+", text):
                    if word.startswith("-"):
                        names.append(word)
                    elif word and font == "I":
                        values.append(word)
            body = []
            entries.append((tuple(names), " ".join(values) or None, body))
        elif body is not None:
            pieces = line_segments(line)
            if pieces:
                body.append("".join(t for t, _ in pieces))
    return [(names, value, " ".join(" ".join(body).split())) for names, value, body in entries]


def help_entries(help_text):
    """The options `--help` lists: (names, value name or None, help text)."""
    entries = []
    in_options = False
    for line in help_text.splitlines():
        if line == "OPTIONS, ARGUMENTS:":
            in_options = True
            continue
        if not in_options:
            continue
        if not line.strip():
            break  # the memory table follows
        match = re.fullmatch(r"  (-\S.*?)(?: <([^>]+)>)?", line)
        if match:
            entries.append([tuple(match.group(1).split(", ")), match.group(2), ""])
        elif entries and line.startswith(" " * 26):
            entries[-1][2] += line.strip()
    return [tuple(e) for e in entries]


def lint(page):
    problems = []
    if shutil.which("mandoc"):
        run = subprocess.run(["mandoc", "-Tlint", "-W", "warning", page],
                             capture_output=True, text=True)
        said = (run.stdout + run.stderr).strip()
        if said or run.returncode != 0:
            problems.append(f"mandoc -Tlint -W warning (status {run.returncode}):\n{said}")
    else:
        print("check_man: mandoc is not installed; its lint is skipped")
    if shutil.which("man"):
        env = dict(os.environ, LC_ALL="C.UTF-8", MANROFFSEQ="", MANWIDTH="80")
        run = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", page],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
        if run.stderr.strip() or run.returncode != 0:
            problems.append(f"man --warnings (status {run.returncode}):\n{run.stderr.strip()}")
    else:
        print("check_man: man is not installed; its warnings are not checked")
    return problems


def compare_options(help_list, man_list):
    problems = []
    man_by_name = {name: (names, value, body) for names, value, body in man_list for name in names}
    help_names = {name for names, _, _ in help_list for name in names}
    for names, value, text in help_list:
        entry = next((man_by_name[n] for n in names if n in man_by_name), None)
        if entry is None:
            problems.append(f"{', '.join(names)}: in --help, not in the man page's OPTIONS")
            continue
        man_names, man_value, body = entry
        if man_names != names:
            problems.append(f"{', '.join(names)}: the man page names it {', '.join(man_names)}")
        if man_value != value:
            problems.append(f"{', '.join(names)}: value <{value}> in --help, "
                            f"{man_value!r} in the man page")
        choices = re.search(r"one of \[([^]]*)\]", text)
        if choices and f"must be one of: {choices.group(1)}" not in body:
            problems.append(f"{', '.join(names)}: the man page does not quote "
                            f"'must be one of: {choices.group(1)}'")
        for low, high in re.findall(r"\b(\d+)-(\d+)", text):
            if f"{low} to {high}" not in body:
                problems.append(f"{', '.join(names)}: --help says {low}-{high}, "
                                f"the man page not '{low} to {high}'")
    for names, _, _ in man_list:
        if not any(n in help_names for n in names):
            problems.append(f"{', '.join(names)}: in the man page's OPTIONS, not in --help")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--page", required=True, help="the man page (docs/velto.1)")
    parser.add_argument("--program", required=True, help="the built velto")
    parser.add_argument("--project-version", required=True, help="CMake's PROJECT_VERSION")
    args = parser.parse_args()

    with open(args.page, encoding="utf-8") as f:
        page_text = f.read()
    problems = lint(args.page)

    run = subprocess.run([args.program, "--help"], capture_output=True, text=True,
                         stdin=subprocess.DEVNULL, timeout=60)
    if run.returncode != 0:
        problems.append(f"velto --help: status {run.returncode}: {run.stderr.strip()}")
    help_list = help_entries(run.stdout)
    if not help_list:
        problems.append("velto --help lists no options")
    page = sections(page_text)
    if "OPTIONS" not in page:
        problems.append("the man page has no OPTIONS section")
    else:
        problems += compare_options(help_list, option_entries(page["OPTIONS"]))

    th = re.search(r'^\.TH VELTO 1 \S+ "velto ([^"]+)"', page_text, re.MULTILINE)
    if not th:
        problems.append('no .TH line of the form .TH VELTO 1 <date> "velto <version>"')
    elif th.group(1) != args.project_version:
        problems.append(f".TH says velto {th.group(1)}, the project is {args.project_version}")

    for problem in problems:
        print(f"check_man: {problem}")
    if not problems:
        print(f"check_man: {len(help_list)} options agree; the page is lint-clean; "
              f"version {args.project_version}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
