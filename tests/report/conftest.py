"""What the velto-report tests share: the tool run as users run it (the launcher in
tools/), records that the real program writes during the session, and the
committed records in fixtures/. Run by ctest with Debian's interpreter:

    VELTO_EXE=build/linux/velto /usr/bin/python3 -m pytest tests/report

VELTO_EMULATOR, when set, is put before the program (Wine for the Windows
build); VELTO_EXPECT_BUILD is the build column its records must show
("linux x86_64", "windows x86").
"""

import csv
import io
import json
import os
import shlex
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
TOOL = os.path.join(ROOT, "tools", "velto-report")
FIXTURES = os.path.join(HERE, "fixtures")
PROGRAM = os.environ.get("VELTO_EXE", "")
EMULATOR = shlex.split(os.environ.get("VELTO_EMULATOR", ""))
EXPECTED_BUILD = os.environ.get("VELTO_EXPECT_BUILD")

# The package's pure functions are tested directly as well.
sys.path.insert(0, os.path.join(ROOT, "tools"))

_FIXTURES = sorted(name for name in os.listdir(FIXTURES) if name.endswith(".json"))
# The benchmark records velto wrote (version 1) and the stress records, by name.
FIXTURE_RECORDS = [os.path.join(FIXTURES, n) for n in _FIXTURES if "-stress" not in n]
STRESS_RECORDS = [os.path.join(FIXTURES, n) for n in _FIXTURES if "-stress" in n]


def report(*args, env=None):
    """Runs velto-report; env adds to the environment."""
    environment = dict(os.environ)
    environment.update(env or {})
    return subprocess.run([TOOL, *map(str, args)], capture_output=True, text=True,
                          env=environment, timeout=120)


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def save(path, record):
    with open(path, "w", encoding="utf-8") as f:
        json.dump(record, f)
    return str(path)


def set_at(path, value):
    """An edit of a record that puts value at path (keys and indexes)."""
    def edit(record):
        target = record
        for key in path[:-1]:
            target = target[key]
        target[path[-1]] = value
    return edit


def csv_rows(text):
    return list(csv.DictReader(io.StringIO(text)))


def number(field):
    """A CSV figure: None for the empty field of a figure that does not exist."""
    return None if field == "" else float(field)


def error_lines(result):
    assert "Traceback" not in result.stderr, result.stderr
    return result.stderr.splitlines()


def _velto(path, *args):
    target = "Z:" + str(path) if EMULATOR else str(path)
    command = EMULATOR + [PROGRAM, "-s", "64", "-d", "1", "--bypass-timer-check", "--no-prompt",
                          "--export-json", target, *args]
    return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=300)


@pytest.fixture(scope="session")
def fresh(tmp_path_factory):
    """Records the program writes now: one thread twice, two threads, the other workload,
    and a run that cannot start (no valid run)."""
    if not PROGRAM:
        pytest.fail("VELTO_EXE names no program")
    folder = tmp_path_factory.mktemp("records")
    plans = {
        "one_thread": (0, ["-n", "1", "--runs", "2"]),
        "two_threads": (0, ["-n", "2"]),
        "soft_gaussian": (0, ["-n", "1", "--workload", "soft_gaussian"]),
        "no_valid_run": (1, ["-n", "4294967295"]),
    }
    paths = {}
    for name, (status, args) in plans.items():
        path = folder / f"{name}.json"
        result = _velto(path, *args)
        assert result.returncode == status, result.stderr
        paths[name] = str(path)
    return paths
