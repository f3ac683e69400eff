"""Records valid against the schema that contradict themselves, and mutations of the real
records through every sub-command."""

import contextlib
import copy
import io
import math
import os
import random
import re
import warnings
from collections import Counter
from functools import reduce

from conftest import (FIXTURE_RECORDS, STRESS_RECORDS, csv_rows, error_lines, load, number,
                      report, save, set_at)
from velto_report import cli

# linux-x86_64-2-threads.json: its first run's rows are thread 1, then thread 0.
TWO_THREADS = FIXTURE_RECORDS[1]


def _only_first_run_valid(record):
    for run in record["runs"][1:]:
        run.update(valid=False, reasons=["timers_disagree"], score_mgups=None)
    score = record["runs"][0]["score_mgups"]
    record["summary"].update(valid_runs=1, median_mgups=score, min_mgups=score, max_mgups=score,
                             mean_mgups=score, spread_pct=0.0)


ROW = ["runs", 0, "threads", 0]
DEEP = reduce(lambda value, _: [value], range(100), "deep")
# (an edit of the two-thread record or a file's bytes, the line's text after "<file>: ")
CONTRADICTIONS = [
    (set_at(["summary", "min_mgups"], 1e308),
     "1e+308 is beyond any figure velto writes (at $.summary.min_mgups)"),
    (set_at(ROW + ["updates"], 10**40),
     "a 41-digit number is beyond any figure velto writes (at $.runs[0].threads[0].updates)"),
    (set_at(["summary", "mean_mgups"], math.nan),
     "NaN is not a finite number (at $.summary.mean_mgups)"),
    (set_at(ROW + ["fast_us"], -5), "-5 is negative (at $.runs[0].threads[0].fast_us)"),
    (set_at(["config", "runs"], 2),
     "contradicts itself: the record holds 3 runs, config.runs asked for 2 (at $.runs)"),
    (set_at(["runs", 0, "threads"], []),
     "contradicts itself: a valid run without thread rows (at $.runs[0].threads)"),
    (set_at(["runs", 0, "threads_used"], 3),
     "contradicts itself: threads_used is 3, its thread rows give 2 (at $.runs[0].threads_used)"),
    (set_at(ROW + ["index"], 2),
     "contradicts itself: index is 2, a run of 2 threads numbers them 0 to 1 "
     "(at $.runs[0].threads[0].index)"),
    (set_at(["runs", 0, "threads", 1, "index"], 1),
     "contradicts itself: index 1 is already that of threads[0] (at $.runs[0].threads[1].index)"),
    (set_at(ROW + ["fast_us"], 0),
     "contradicts itself: rate_mgups is 204.81886252894657, but fast_us is 0 "
     "(at $.runs[0].threads[0].fast_us)"),
    (set_at(ROW + ["updates"], 2066743296),
     "contradicts itself: rate_mgups is 204.81886252894657, updates / fast_us give "
     "206.23140640845656 (at $.runs[0].threads[0].rate_mgups)"),
    (set_at(["runs", 0, "score_mgups"], 500.0),
     "contradicts itself: score_mgups is 500.0, its thread rows' rates give 410.1786431015453 "
     "(at $.runs[0].score_mgups)"),
    (set_at(["summary", "runs"], 4),
     "contradicts itself: runs is 4, the record's runs give 3 (at $.summary.runs)"),
    (set_at(["summary", "min_mgups"], 500),
     "contradicts itself: min_mgups is 500, the valid runs' scores give 406.9771275848102 "
     "(at $.summary.min_mgups)"),
    (set_at(["summary", "median_mgups"], None),
     "contradicts itself: median_mgups is null, the valid runs' scores give 409.06416332654595 "
     "(at $.summary.median_mgups)"),
    (_only_first_run_valid,
     "contradicts itself: stddev_mgups is 1.625191525126626, the valid runs' scores give none "
     "(at $.summary.stddev_mgups)"),
    (set_at(["machine", "brand"], DEEP), "not a velto result record (nested too deeply)"),
    (b"[" * 100000, "not a velto result record (nested too deeply)"),
]


def test_a_contradiction_is_one_line_naming_the_first(tmp_path):
    paths = []
    for i, (edit, _) in enumerate(CONTRADICTIONS):
        path = tmp_path / f"case-{i:02}.json"
        if isinstance(edit, bytes):
            path.write_bytes(edit)
        else:
            record = load(TWO_THREADS)
            edit(record)
            save(path, record)
        paths.append(str(path))
    result = report("table", "--csv", TWO_THREADS, *paths)
    assert result.returncode == 1
    assert error_lines(result) == [f"velto-report: {path}: {line}"
                                   for path, (_, line) in zip(paths, CONTRADICTIONS)]
    assert [row["file"] for row in csv_rows(result.stdout)] == [TWO_THREADS]


PROCESSOR = ["stress", "processors", 0]
# (an edit of the stress record, the line's text after "<file>: ")
STRESS_CONTRADICTIONS = [
    (set_at(["stress", "segments"], 140), "segments is 140, its processors give 143 "
                                          "(at $.stress.segments)"),
    (set_at(["stress", "error_count"], 3), "error_count is 3, its processors give 2 "
                                           "(at $.stress.error_count)"),
    (lambda r: r["stress"]["errors"].pop(), "errors holds 1 entries, an error_count of 2 keeps "
                                            "2 (at $.stress.errors)"),
    (set_at(["stress", "grid_sizes"], [192, 64]), "grid_sizes are not in ascending order "
                                                  "(at $.stress.grid_sizes)"),
    (set_at(["stress", "errors", 1, "processor"], 7), "processor 7 is not among the processors "
                                                      "(at $.stress.errors[1].processor)"),
    (set_at(PROCESSOR + ["first_error_s"], 3.5), "first_error_s is 3.5 with 0 errors "
                                                 "(at $.stress.processors[0].first_error_s)"),
    (set_at(["stress", "workloads"], ["standing_wave"]), "median_mgups names workload "
     "soft_gaussian, which is not among workloads (at $.stress.processors[0].median_mgups."
     "soft_gaussian)"),
    (lambda r: r["stress"]["known_answers"].pop(), "median_mgups names soft_gaussian at 192, "
     "which has no known answer (at $.stress.processors[0].median_mgups.soft_gaussian)"),
    (set_at(PROCESSOR + ["slow"], [{"workload": "standing_wave", "grid_size": 128}]),
     "slow names grid size 128, which is not among grid_sizes (at "
     "$.stress.processors[0].slow[0])"),
    (lambda r: r["stress"]["processors"][0].update(
        median_mgups={}, slow=[{"workload": "standing_wave", "grid_size": 192}]),
     "slow names standing_wave at 192, which has no median_mgups (at "
     "$.stress.processors[0].slow[0])"),
]


def test_a_stress_record_whose_counts_do_not_add_up_is_refused(tmp_path):
    paths = []
    for i, (edit, _) in enumerate(STRESS_CONTRADICTIONS):
        record = load(STRESS_RECORDS[0])
        edit(record)
        paths.append(save(tmp_path / f"stress-{i}.json", record))
    result = report("table", "--csv", *paths)
    assert (result.returncode, result.stdout) == (1, "")
    assert error_lines(result) == [f"velto-report: {path}: contradicts itself: {line}"
                                   for path, (_, line) in zip(paths, STRESS_CONTRADICTIONS)]


def test_the_summary_is_computed_and_the_records_own_only_checked(tmp_path):
    # A last-bit difference, as a build that rounds otherwise could write, is no contradiction.
    record = load(TWO_THREADS)
    written = record["summary"]
    written["min_mgups"] = math.nextafter(written["min_mgups"], 0.0)
    written["stddev_mgups"] = math.nextafter(written["stddev_mgups"], math.inf)
    path = save(tmp_path / "rounded.json", record)
    result = report("table", "--csv", path)
    assert result.returncode == 0, result.stderr
    (row,) = csv_rows(result.stdout)
    assert number(row["min_mgups"]) == min(run["score_mgups"] for run in record["runs"])


# What the mutations put in place of a value; "removed" takes the key or item out.
MUTATIONS = {
    "null": lambda value: None,
    "negative": lambda value: (-value if isinstance(value, (int, float))
                               and not isinstance(value, bool) and value else -1),
    "huge": lambda value: 1e308,
    "string": lambda value: "text",
    "list": lambda value: [value],
    "object": lambda value: {"value": value},
    "removed": None,
}
MUTANTS = 300
CHART_BATCH = 100


def _paths(node, path=()):
    children = (node.items() if isinstance(node, dict)
                else enumerate(node) if isinstance(node, list) else ())
    for key, child in children:
        if isinstance(child, (dict, list)):
            yield from _paths(child, path + (key,))
        else:
            yield path + (key,)


def _mutants(folder):
    """MUTANTS files, each a fixture with one value changed or removed; the same every run."""
    chooser = random.Random(21)
    originals = [load(path) for path in FIXTURE_RECORDS]
    paths = [list(_paths(record)) for record in originals]
    files = []
    for n in range(MUTANTS):
        which = chooser.randrange(len(originals))
        record = copy.deepcopy(originals[which])
        *parent_path, key = chooser.choice(paths[which])
        kind = chooser.choice(sorted(MUTATIONS))
        parent = record
        for step in parent_path:
            parent = parent[step]
        if kind == "removed":
            del parent[key]
        else:
            parent[key] = MUTATIONS[kind](parent[key])
        files.append(save(folder / f"mutant-{n:03}.json", record))
    return files


def _run(*args):
    """velto-report in this process: its status, standard output and standard error. An
    exception that left main() would have been a traceback, a warning lines on stderr."""
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err), \
            warnings.catch_warnings():
        warnings.simplefilter("error")
        # The ones Python shows no user by default.
        for quiet in (DeprecationWarning, PendingDeprecationWarning, ImportWarning,
                      ResourceWarning):
            warnings.simplefilter("ignore", quiet)
        try:
            status = cli.main(list(args))
        except BaseException as e:  # anything at all is the fault looked for
            shown = " ".join(os.path.basename(arg) for arg in args)
            raise AssertionError(f"velto-report {shown} raised {e!r}") from e
    assert status in (0, 1)
    return status, out.getvalue(), err.getvalue().splitlines()


def _refusals(lines, files):
    """The refused files and their reasons; every line must name one file, once."""
    refused = {}
    for line in lines:
        match = re.fullmatch(r"velto-report: (.+?\.json): (.+)", line)
        assert match and match[1] in files and match[1] not in refused, line
        refused[match[1]] = match[2]
    return refused


def _check_kind(reason):
    if reason.startswith("contradicts itself: "):
        return "contradicts: " + reason.split()[2]
    for words in ("against the record schema", "beyond any figure", "not a finite number",
                  "is negative", "nested too deeply"):
        if words in reason:
            return words
    return reason


def test_mutated_records_never_end_in_a_traceback(tmp_path):
    files = _mutants(tmp_path)
    refused = {}
    invocations = outputs = 0
    for path in files:
        status, out, lines = _run("table", path)
        invocations += 1
        refused.update(_refusals(lines, [path]))
        assert status == (1 if lines else 0)
        assert len(out.splitlines()) == (0 if lines else 2)
        outputs += not lines
    for start in range(0, len(files), CHART_BATCH):
        batch = files[start:start + CHART_BATCH]
        for command in (["plot", "--force"], ["timeline"], ["scaling", "--force"]):
            chart = tmp_path / f"{command[0]}-{start}.svg"
            status, out, lines = _run(*command, *batch, "-o", str(chart))
            invocations += 1
            # The charts refuse exactly what the table refused, for the same reasons; the
            # scaling chart also a record without a score.
            found = _refusals(lines, batch)
            if command[0] == "scaling":
                found = {p: why for p, why in found.items()
                         if p in refused or why != "no valid score at any thread count to draw"}
            assert found == {p: refused[p] for p in batch if p in refused}
            drawn = len(batch) - len(lines)
            assert status == (1 if drawn < len(batch) else 0)
            assert chart.exists() == bool(drawn) and out == ""
            outputs += chart.exists()
    kinds = Counter(_check_kind(reason) for reason in refused.values())
    # Shown with -s.
    print(f"\n{MUTANTS} mutants, {invocations} invocations, {outputs} outputs, "
          f"{len(refused)} refused: " + ", ".join(f"{n} {k}" for k, n in kinds.most_common()))

