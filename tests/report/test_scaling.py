"""Records of --scaling and --roofline: the checks, the table's roofline column and the scaling
chart. Nothing is assumed of the fixture that a real two-count series would not hold."""

import copy
import os
import re
import statistics

import pytest

from conftest import FIXTURES, csv_rows, error_lines, load, number, report, save, set_at
from test_charts import assert_drawn, svg_ids
from velto_report.checks import summarise

SCALING = os.path.join(FIXTURES, "linux-x86_64-scaling.json")
ONE_THREAD = os.path.join(FIXTURES, "linux-x86_64-1-thread.json")
TWO_THREADS = os.path.join(FIXTURES, "linux-x86_64-2-threads.json")


def last(record):
    return record["scaling"]["points"][-1]


def _invalid_first_run(record):
    record["runs"][0].update(valid=False, reasons=["interrupted"], score_mgups=None)


# (an edit of the scaling record, the line after "<file>: " from the unedited record)
REFUSED = [
    (_invalid_first_run, lambda r: "not valid against the record schema: "
     f"{r['runs'][0]['roofline_pct']!r} is not of type 'null' (at $.runs[0].roofline_pct)"),
    (set_at(["scaling", "points", -1, "median_mgups"], 1.0), lambda r: "contradicts itself: "
     f"median_mgups is 1.0, its runs give {last(r)['median_mgups']!r} "
     f"(at $.scaling.points[{len(r['scaling']['points']) - 1}].median_mgups)"),
    (lambda r: r["scaling"]["points"][0].update(runs=r["scaling"]["points"][0]["runs"] + 1),
     lambda r: f"contradicts itself: the points hold {len(r['runs']) + 1} runs, the record "
     f"{len(r['runs'])} (at $.scaling.points)"),
]


@pytest.mark.parametrize("edit, why", REFUSED)
def test_the_series_is_read_and_what_contradicts_it_refused(tmp_path, edit, why):
    record = load(SCALING)
    edited = copy.deepcopy(record)
    edit(edited)
    path = save(tmp_path / "edited.json", edited)
    result = report("table", "--csv", SCALING, path)
    assert result.returncode == 1
    assert error_lines(result) == [f"velto-report: {path}: {why(record)}"]
    assert [row["file"] for row in csv_rows(result.stdout)] == [SCALING]


@pytest.mark.parametrize("per_run", [False, True])
@pytest.mark.parametrize("form", ["text", "markdown", "csv"])
def test_the_roofline_column_is_there_when_a_record_has_one(tmp_path, per_run, form):
    # The series' largest count alone, a record of --roofline without --scaling.
    plain = load(SCALING)
    del plain["runs"][:-last(plain)["runs"]], plain["scaling"]
    files = [TWO_THREADS, SCALING, save(tmp_path / "roofline.json", plain)]
    options = (["--per-run"] if per_run else []) + ([] if form == "text" else [f"--{form}"])
    assert "roofline" not in report("table", *options, *files[:1]).stdout.splitlines()[0]
    result = report("table", *options, *files)
    assert result.returncode == 0, result.stderr
    records = [load(f) for f in files]
    want = ([run.get("roofline_pct") for r in records for run in r["runs"]] if per_run else
            [None, last(records[1])["roofline_pct"],
             statistics.median(run["roofline_pct"] for run in plain["runs"] if run["valid"])])
    if form == "csv":
        assert [number(row["roofline_pct"]) for row in csv_rows(result.stdout)] == want
        return
    lines = [line for line in result.stdout.splitlines() if not line.startswith("|-")]
    assert [re.split(r" {2,}| \| ", line.strip("| "))[-1] for line in lines] == ["roofline"] + [
        "-" if pct is None else f"{pct:.1f}%" for pct in want]


@pytest.mark.parametrize("suffix", [".png", ".svg"])
def test_the_scaling_chart_is_the_same_every_time_and_refuses_a_record_without_a_score(
        tmp_path, suffix):
    record = load(TWO_THREADS)
    for run in record["runs"]:
        run.update(valid=False, reasons=["timers_disagree"], score_mgups=None)
    record["summary"] = summarise(record["runs"])
    bad = save(tmp_path / "no-score.json", record)
    first, second = tmp_path / ("a" + suffix), tmp_path / ("b" + suffix)
    for out in (first, second):
        result = report("scaling", SCALING, bad, ONE_THREAD, "-o", out)
        assert result.returncode == 1
        assert error_lines(result) == [
            f"velto-report: {bad}: no valid score at any thread count to draw"]
    assert first.read_bytes() == second.read_bytes()
    if suffix == ".png":
        assert_drawn(first)
    else:
        # The series has an ideal and a roofline; the one-thread record only its point.
        assert sorted(svg_ids(first, "(?:scaling|ideal|roofline)-")) == [
            "ideal-0", "roofline-0", "scaling-0", "scaling-1"]
