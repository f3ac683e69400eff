"""Records of --scaling and --roofline: the schema, the table's roofline column and the
scaling chart. Nothing is assumed of the fixture that a real two-count series would not hold."""

import copy
import json
import os
import re

import jsonschema
import pytest

from conftest import (FIXTURES, ROOT, STRESS_RECORDS, csv_rows, error_lines, load, number,
                      report, save, set_at)
from test_charts import assert_drawn, svg_ids
from velto_report.checks import summarise

SCALING = os.path.join(FIXTURES, "linux-x86_64-scaling.json")
ONE_THREAD = os.path.join(FIXTURES, "linux-x86_64-1-thread.json")
TWO_THREADS = os.path.join(FIXTURES, "linux-x86_64-2-threads.json")


def top_point(record):
    return max(record["scaling"]["points"], key=lambda p: p["threads"])


def test_the_scaling_record_is_valid_against_the_schema():
    with open(os.path.join(ROOT, "docs", "velto-result.schema.json"), encoding="utf-8") as f:
        schema = json.load(f)
    record = load(SCALING)
    jsonschema.validate(record, schema, cls=jsonschema.Draft202012Validator)
    assert record["config"]["roofline"] is True and record["config"]["scaling"] is True
    assert report("table", SCALING).returncode == 0


def _invalid_first_run(record):
    record["runs"][0].update(valid=False, reasons=["interrupted"], score_mgups=None)


def _one_run_more_at_the_first_count(record):
    record["scaling"]["points"][0]["runs"] += 1


def _runs_beyond_the_series(record):
    asked = record["config"]["runs"] * len(record["scaling"]["thread_counts"])
    record["runs"] += [record["runs"][-1]] * (asked + 1 - len(record["runs"]))


# (an edit of the scaling record, or of the stress record when the edit is a pair, and the
# line after "<file>: " from the unedited record)
REFUSED = [
    (_invalid_first_run, lambda r: "not valid against the record schema: "
     f"{r['runs'][0]['roofline_pct']!r} is not of type 'null' (at $.runs[0].roofline_pct)"),
    (set_at(["scaling", "points", -1, "median_mgups"], 1.0), lambda r: "contradicts itself: "
     f"median_mgups is 1.0, its runs give {top_point(r)['median_mgups']!r} "
     f"(at $.scaling.points[{len(r['scaling']['points']) - 1}].median_mgups)"),
    (_one_run_more_at_the_first_count, lambda r: "contradicts itself: the points hold "
     f"{len(r['runs']) + 1} runs, the record {len(r['runs'])} (at $.scaling.points)"),
    (_runs_beyond_the_series, lambda r: "contradicts itself: the record holds "
     f"{r['config']['runs'] * 2 + 1} runs, config.runs at 2 thread counts asks for "
     f"{r['config']['runs'] * 2} (at $.runs)"),
    (("stress", set_at(["scaling"], {})), lambda r: "not valid against the record schema: "
     "False schema does not allow {} (at $.scaling)"),
]


@pytest.mark.parametrize("edit, why", REFUSED)
def test_records_that_contradict_the_series_are_refused(tmp_path, edit, why):
    source = SCALING
    if isinstance(edit, tuple):
        source, edit = STRESS_RECORDS[0], edit[1]
    record = load(source)
    edited = copy.deepcopy(record)
    edit(edited)
    path = save(tmp_path / "edited.json", edited)
    result = report("table", path)
    assert result.returncode == 1
    assert error_lines(result) == [f"velto-report: {path}: {why(record)}"]


def _plain_roofline_record(tmp_path):
    """The scaling record as --roofline alone writes it: the runs of its largest count."""
    record = load(SCALING)
    count = top_point(record)["threads"]
    record["runs"] = [r for r in record["runs"] if r["threads_used"] == count]
    del record["scaling"]
    record["config"]["scaling"] = False
    record["roofline"]["measurements"] = [m for m in record["roofline"]["measurements"]
                                          if m["threads"] == count]
    return save(tmp_path / "roofline.json", record)


def _median(values):
    values = sorted(values)
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


@pytest.mark.parametrize("per_run", [False, True])
@pytest.mark.parametrize("form", ["text", "markdown", "csv"])
def test_the_roofline_column_shows_the_share_where_a_record_has_one(tmp_path, per_run, form):
    files = [TWO_THREADS, SCALING, _plain_roofline_record(tmp_path)]
    options = (["--per-run"] if per_run else []) + ([] if form == "text" else [f"--{form}"])
    without = report("table", *options, TWO_THREADS, ONE_THREAD)
    assert "roofline" not in without.stdout.splitlines()[0]
    result = report("table", *options, *files)
    assert result.returncode == 0, result.stderr
    records = [load(f) for f in files]
    if per_run:
        want = [run.get("roofline_pct") for r in records for run in r["runs"]]
    else:
        want = [None, top_point(records[1])["roofline_pct"],
                _median([run["roofline_pct"] for run in records[2]["runs"] if run["valid"]])]
    if form == "csv":
        assert [number(row["roofline_pct"]) for row in csv_rows(result.stdout)] == want
        return
    lines = [line.strip("| ") for line in result.stdout.splitlines() if "---" not in line]
    assert re.split(r" {2,}| \| ", lines[0])[-1] == "roofline"
    assert [re.split(r" {2,}| \| ", line)[-1] for line in lines[1:]] == [
        "-" if pct is None else f"{pct:.1f}%" for pct in want]


@pytest.mark.parametrize("suffix", [".png", ".svg"])
def test_the_scaling_chart_draws_each_record_the_same_every_time(tmp_path, suffix):
    first, second = tmp_path / ("a" + suffix), tmp_path / ("b" + suffix)
    for out in (first, second):
        result = report("scaling", SCALING, ONE_THREAD, "-o", out)
        assert (result.returncode, result.stderr) == (0, "")
    assert first.read_bytes() == second.read_bytes()
    if suffix == ".png":
        assert_drawn(first)
    else:
        # The series has an ideal and a roofline; the one-thread record only its point.
        assert sorted(svg_ids(first, "(?:scaling|ideal|roofline)-")) == [
            "ideal-0", "roofline-0", "scaling-0", "scaling-1"]


def test_a_record_without_a_valid_score_is_refused_by_the_scaling_chart(tmp_path):
    record = load(TWO_THREADS)
    for run in record["runs"]:
        run.update(valid=False, reasons=["timers_disagree"], score_mgups=None)
    record["summary"] = summarise(record["runs"])
    bad = save(tmp_path / "no-score.json", record)
    for files, drawn in (([bad, SCALING], True), ([bad], False)):
        out = tmp_path / f"chart-{len(files)}.svg"
        result = report("scaling", *files, "-o", out)
        assert result.returncode == 1
        assert error_lines(result) == [
            f"velto-report: {bad}: no valid score at any thread count to draw"]
        assert out.exists() == drawn
