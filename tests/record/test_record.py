"""End-to-end checks of the result record: the real program writes records
that validate against docs/velto-result.schema.json and agree with what it
printed. Run by ctest with Debian's interpreter:

    VELTO_EXE=build/linux/velto /usr/bin/python3 -m pytest tests/record

VELTO_EMULATOR, when set, is put before the program (Wine for the Windows
build); VELTO_SCHEMA names the schema (docs/velto-result.schema.json by default).
"""

import json
import os
import re
import shlex
import subprocess

import jsonschema
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SCHEMA_PATH = os.environ.get(
    "VELTO_SCHEMA", os.path.join(HERE, "..", "..", "docs", "velto-result.schema.json"))
PROGRAM = os.environ.get("VELTO_EXE", "")
EMULATOR = shlex.split(os.environ.get("VELTO_EMULATOR", ""))

TABLE_HEADER = re.compile(r"^ *thread +grid updates +time +MGups +iterations$")
TABLE_ROW = re.compile(r"^ *(\d+) +(\d+) +(\d+\.\d\d)s +([\d.]+) +(\d+)$")
SUMMARY = re.compile(
    r"^runs: (\d+), valid: (\d+), median (\d+\.\d\d) MGups, min (\d+\.\d\d), "
    r"max (\d+\.\d\d), spread (\d+\.\d)%$")


def arg(path):
    # Under Wine a host path is reached through drive Z:.
    return "Z:" + str(path) if EMULATOR else str(path)


def velto(*args, stdin=subprocess.DEVNULL, timeout=300):
    if not PROGRAM:
        pytest.fail("VELTO_EXE names no program")
    return subprocess.run(EMULATOR + [PROGRAM, *args], stdin=stdin, capture_output=True,
                          text=True, timeout=timeout)


def validate(record):
    with open(SCHEMA_PATH, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.validate(record, schema, cls=jsonschema.Draft202012Validator)


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def console_score(score):
    # The console's own rule for the score line.
    return f"{score:.2f} MGups" if score > 100 else f"{score:.4g} MGups"


def table_rows(out):
    lines = out.splitlines()
    rows = []
    for i, line in enumerate(lines):
        if TABLE_HEADER.match(line):
            for row in lines[i + 1:]:
                m = TABLE_ROW.match(row)
                if not m:
                    break
                rows.append(m.groups())
            break
    return rows


def timer_compliant():
    report = velto("--timer-debug", timeout=120).stdout
    return "Fast timer is hwbot compliant" in report


def test_valid_run_record_matches_the_console(tmp_path):
    path = tmp_path / "run.json"
    # Standard input stays open: --no-prompt must return all the same.
    with subprocess.Popen(EMULATOR + [PROGRAM, "-s", "64", "-d", "2", "-n", "2",
                                      "--bypass-timer-check", "--export-json", arg(path),
                                      "--no-prompt"],
                          stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True) as process:
        out, err = _wait_open(process)
    assert process.returncode == 0, err
    assert "press enter to exit" not in out
    record = load(path)
    validate(record)
    assert not (tmp_path / "run.json.tmp").exists()
    run = record["runs"][0]
    assert run["valid"] and run["reasons"] == []
    assert run["threads_used"] == 2 and run["duration_s"] == 2
    assert f"initialization took {run['init_ms']}ms" in out.splitlines()
    assert record["config"]["grid_size"] == 64 and record["config"]["runs"] == 1
    assert record["command_line"][-3:] == ["--export-json", arg(path), "--no-prompt"]
    final = [line for line in out.splitlines() if line.startswith("final score: ")]
    assert final == ["final score: " + console_score(run["score_mgups"])]
    rows = table_rows(out)
    assert len(rows) == 2
    for row, thread in zip(rows, run["threads"]):
        index, updates, seconds, rate, iterations = row
        assert int(index) == thread["index"]
        assert int(updates) == thread["updates"]
        assert seconds == f"{thread['fast_us'] / 1e6:.2f}"
        assert rate == f"{thread['rate_mgups']:.2f}"
        assert int(iterations) == thread["iterations"]
    assert abs(sum(t["rate_mgups"] for t in run["threads"]) - run["score_mgups"]) < 1e-9
    # One sample per coarse second of the loop, give or take one.
    assert abs(len(run["samples"]) - run["duration_s"]) <= 1
    assert [round(x["t_s"]) for x in run["samples"]] == list(range(1, len(run["samples"]) + 1))
    # The last sample is taken as thread 0 ends; another may still make a step.
    reporter = next(t for t in run["threads"] if t["index"] == 0)
    assert (reporter["iterations"] <= run["samples"][-1]["iterations"]
            <= max(t["iterations"] for t in run["threads"]))
    assert run["throttle_pct"] is None  # shorter than 10 s
    if not EMULATOR:
        assert 0.0 <= run["other_cpu_share"] <= 1.0
    assert record["started_at"] <= record["finished_at"]
    summary = record["summary"]
    assert summary["runs"] == 1 and summary["valid_runs"] == 1
    assert summary["median_mgups"] == run["score_mgups"]


def _wait_open(process):
    # Reads both streams to their end without ever closing standard input.
    import threading
    chunks = {"out": [], "err": []}

    def drain(stream, key):
        chunks[key].append(stream.read())

    readers = [threading.Thread(target=drain, args=(process.stdout, "out")),
               threading.Thread(target=drain, args=(process.stderr, "err"))]
    for r in readers:
        r.start()
    try:
        process.wait(timeout=300)
    except subprocess.TimeoutExpired:
        process.kill()
        pytest.fail("velto waited with standard input open despite --no-prompt")
    for r in readers:
        r.join()
    return "".join(chunks["out"]), "".join(chunks["err"])


def test_aborted_runs_write_a_record_that_says_why(tmp_path):
    cases = [(["-n", "4294967295", "-s", "64", "-d", "1", "--bypass-timer-check"],
              ["could_not_prepare", "results_missing"],
              "not enough memory to prepare a run of 4294967295 threads; aborting")]
    if not timer_compliant():
        cases.append((["-n", "1", "-s", "64", "-d", "1"],
                      ["timer_not_compliant", "results_missing"],
                      "Fast Timer is not HWBOT compliant"))
    for args, reasons, message in cases:
        path = tmp_path / "aborted.json"
        result = velto(*args, "--export-json", arg(path))
        assert result.returncode == 1, result.stderr
        record = load(path)
        validate(record)
        run = record["runs"][0]
        assert run["valid"] is False
        assert run["score_mgups"] is None
        assert run["reasons"] == reasons
        assert run["messages"][0].startswith(message)
        # Every message was printed on the error stream.
        for text in run["messages"]:
            assert text in result.stderr
        assert record["summary"]["valid_runs"] == 0
        assert record["summary"]["median_mgups"] is None


def test_unwritable_paths_are_refused_before_the_run(tmp_path):
    plain = tmp_path / "plain"
    plain.write_text("not a directory")
    (tmp_path / "taken.json").mkdir()
    cases = [
        (tmp_path / "missing" / "r.json", "No such file or directory"),
        (tmp_path / "taken.json", "Is a directory"),
        (plain / "r.json", "Not a directory" if not EMULATOR else None),
    ]
    for path, reason in cases:
        result = velto("-s", "64", "-d", "1", "-n", "1", "--bypass-timer-check",
                       "--export-json", arg(path))
        assert result.returncode == 1
        assert result.stdout == ""  # nothing measured, not even the header
        lines = result.stderr.splitlines()
        assert len(lines) == 1, result.stderr
        assert lines[0].startswith(f"cannot write the result record to '{arg(path)}': ")
        if reason:
            assert lines[0].endswith(reason)
    assert plain.read_text() == "not a directory"


def test_series_of_three_runs_and_its_summary(tmp_path):
    path = tmp_path / "series.json"
    result = velto("-s", "64", "-d", "1", "-n", "1", "--bypass-timer-check", "--runs", "3",
                   "--export-json", arg(path))
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[-1] == "press enter to exit"
    assert sum(1 for line in lines if line.startswith("final score: ")) == 3
    m = SUMMARY.match(lines[-2])
    assert m, lines[-2]
    record = load(path)
    validate(record)
    assert len(record["runs"]) == 3 and record["config"]["runs"] == 3
    s = record["summary"]
    assert (s["runs"], s["valid_runs"]) == (3, 3)
    assert s["min_mgups"] <= s["median_mgups"] <= s["max_mgups"]
    scores = sorted(r["score_mgups"] for r in record["runs"])
    assert s["median_mgups"] == scores[1]
    assert m.groups() == ("3", "3", f"{s['median_mgups']:.2f}", f"{s['min_mgups']:.2f}",
                          f"{s['max_mgups']:.2f}", f"{s['spread_pct']:.1f}")


ROOFLINE = re.compile(r"^memory roofline: (\d+\.\d\d) MGups \((\d+\.\d\d) GB/s at 96 bytes per "
                      r"update\), score at (\d+\.\d)% of it$")


def test_scaling_with_roofline_measures_each_count_and_its_record_agrees(tmp_path):
    path = tmp_path / "scaling.json"
    result = velto("-s", "64", "-d", "1", "--roofline", "--scaling", "--bypass-timer-check",
                   "--no-prompt", "--export-json", arg(path))
    assert result.returncode == 0, result.stderr
    record = load(path)
    validate(record)
    lines = result.stdout.splitlines()
    counts = record["scaling"]["thread_counts"]
    assert counts[0] == 1 and len(record["runs"]) == len(counts)
    measured = [m["threads"] for m in record["roofline"]["measurements"]]
    assert measured == counts
    assert [line for line in lines if line.startswith("measuring memory bandwidth")] == [
        f"measuring memory bandwidth with {t} thread{'s' if t > 1 else ''} over "
        f"{m['working_set_bytes'] / 2**30:.2f} GiB..."
        for t, m in zip(counts, record["roofline"]["measurements"])]
    rooflines = [ROOFLINE.match(line).groups() for line in lines if ROOFLINE.match(line)]
    assert len(rooflines) == len(counts)
    for run, m, shown in zip(record["runs"], record["roofline"]["measurements"], rooflines):
        assert run["roofline_mgups"] == m["roofline_mgups"]
        assert run["roofline_pct"] == pytest.approx(run["score_mgups"] / m["roofline_mgups"] * 100)
        assert shown == (f"{m['roofline_mgups']:.2f}", f"{m['bandwidth_gb_s']:.2f}",
                         f"{run['roofline_pct']:.1f}")
    table = lines[lines.index("thread scaling") + 2:]
    assert [row.split()[0] for row in table] == [str(t) for t in counts]
    for row, point in zip(table, record["scaling"]["points"]):
        assert row.split()[1] == f"{point['median_mgups']:.2f}"
        assert row.split()[4] == f"{point['roofline_pct']:.1f}%"


def test_runs_out_of_range_is_bad_usage():
    for value in ("0", "101", "x"):
        result = velto("--runs", value, "-s", "64")
        assert result.returncode == 1
        assert result.stdout == ""
        assert "--runs" in result.stderr


@pytest.mark.skipif(os.environ.get("VELTO_HEAVY") != "1" or EMULATOR or os.cpu_count() < 2,
                    reason="needs a quiet machine with two processors (ctest -L heavy)")
def test_busy_neighbour_shows_in_other_cpu_share(tmp_path):
    # A busy loop on processor 1 beside a one-thread run pinned to processor 0
    # takes half of the machine's processor time.
    busy = subprocess.Popen(["/usr/bin/python3", "-c",
                             "import os\nos.sched_setaffinity(0, {1})\nwhile True: pass"])
    try:
        path = tmp_path / "busy.json"
        result = velto("-s", "64", "-d", "4", "-n", "1", "--threading", "numa",
                       "--bypass-timer-check", "--export-json", arg(path))
    finally:
        busy.kill()
        busy.wait()
    assert result.returncode == 0, result.stderr
    record = load(path)
    validate(record)
    assert record["runs"][0]["other_cpu_share"] > 0.3


def stress_rows(out):
    """Verified and error counts of the stress table's rows, by processor name."""
    lines = out.splitlines()
    start = next(i for i, line in enumerate(lines) if line.lstrip().startswith("processor  core"))
    rows = {}
    for line in lines[start + 1:]:
        cells = line.split()
        if not cells or not cells[0][0].isdigit():
            break
        rows[cells[0]] = (int(cells[3]), int(cells[4]))
    return rows


def test_stress_with_two_threads_is_stable_and_its_record_agrees(tmp_path):
    path = tmp_path / "stress.json"
    result = velto("--stress", "1", "-n", "2", "-s", "64", "--no-prompt",
                   "--export-json", arg(path), timeout=240)
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""
    assert "\nverdict: stable, " in result.stdout
    record = load(path)
    validate(record)
    stress = record["stress"]
    assert (record["kind"], stress["end"], stress["threads"]) == ("stress", "finished", 2)
    assert stress["error_count"] == 0 and stress["segments"] >= 2
    rows = stress_rows(result.stdout)
    for processor in stress["processors"]:
        name = str(processor["processor"])
        if processor["group"]:
            name = f"{processor['group']}:{name}"
        assert rows[name] == (processor["segments"] - processor["errors"], processor["errors"])


@pytest.mark.skipif(bool(EMULATOR), reason="signals reach the Windows program as Wine passes them")
def test_ctrl_c_ends_an_untimed_stress_test_cleanly(tmp_path):
    import signal
    import threading
    path = tmp_path / "stress.json"
    process = subprocess.Popen(
        [PROGRAM, "--stress", "0", "-n", "1", "-s", "64", "--workload", "soft_gaussian",
         "--export-json", str(path)],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = bytearray()
    verified = threading.Event()

    def read():  # the status line is redrawn with a carriage return, never ended
        while chunk := process.stdout.read1(4096):
            out.extend(chunk)
            if b"  1 segments" in out:
                verified.set()

    reader = threading.Thread(target=read)
    reader.start()
    # Ctrl-C once a segment is verified: seconds natively, longer in a sanitizer build.
    verified.wait(timeout=600)
    process.send_signal(signal.SIGINT)
    err = process.stderr.read().decode()
    process.wait(timeout=120)
    reader.join()
    assert verified.is_set(), out.decode()
    assert process.returncode == 0, err
    assert err == ""
    assert "\nverdict: stable, " in out.decode()
    record = load(path)
    validate(record)
    assert record["stress"]["end"] == "interrupted"
