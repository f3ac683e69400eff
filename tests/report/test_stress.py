"""Stress records: the per-processor table, the segment-rate chart, the commands that refuse
them."""

import re

import pytest

from conftest import FIXTURE_RECORDS, STRESS_RECORDS, csv_rows, error_lines, load, report, save
from test_charts import assert_drawn, svg_ids, svg_text

# 4 processors, both workloads at 64 and 192; processor 2 slow at 192 for both workloads,
# processor 3 with two errors.
STRESS = STRESS_RECORDS[0]


def test_csv_has_every_digit_of_each_processor_and_kind():
    rows = csv_rows(report("table", "--csv", STRESS).stdout)
    stress = load(STRESS)["stress"]
    kinds = [(a["workload"], a["grid_size"]) for a in stress["known_answers"]]
    assert [[r["errors"], r["first_error_s"]] + [r[f"{c}_{w}_{s}"] for w, s in kinds
                                                 for c in ("mgups", "slow")] for r in rows] == [
        [str(p["errors"]), "" if p["first_error_s"] is None else repr(p["first_error_s"])]
        + [x for w, s in kinds for x in (repr(p["median_mgups"][w][str(s)]),
                                         str({"workload": w, "grid_size": s} in p["slow"]).lower())]
        for p in stress["processors"]]


def test_text_has_a_column_per_kind_marks_the_slow_ones_and_a_kind_never_run_is_a_dash(tmp_path):
    record = load(STRESS)
    record["stress"]["processors"][0]["median_mgups"]["soft_gaussian"].pop("64")
    result = report("table", save(tmp_path / "s.json", record))
    assert [re.split(r" {2,}", line.strip()) for line in result.stdout.splitlines()] == [
        ["processor", "core", "segments", "errors", "sw 64", "sg 64", "sw 192", "sg 192",
         "first error"],
        ["0", "0", "38", "0", "334.05", "-", "189.00", "124.50", "-"],
        ["1", "1", "37", "0", "331.00", "207.70", "190.50", "125.30", "-"],
        ["2", "2", "32", "0", "332.45", "208.20", "167.30*", "104.50*", "-"],
        ["3", "3", "36", "2", "333.60", "206.90", "188.50", "124.10", "56.5s"],
        ["median segment rates in MGups; sw standing_wave, sg soft_gaussian"],
        ["* more than 10% below the median of its performance level"]]
    # Markdown takes the mark literally and drops the blank that stands in for it.
    assert "| 332.45 | 208.20 | 167.30\\* | 104.50\\* |" in report("table", "--markdown",
                                                                 STRESS).stdout


@pytest.mark.parametrize("args, line", [
    (["plot", "B", "S"], "{S}: a stress record: plot does not draw it (table and stress read it)"),
    (["timeline", "S"], "{S}: a stress record: timeline does not draw it (table and stress "
                        "read it)"),
    (["stress", "B"], "{B}: a benchmark record: stress does not draw it (table, plot, timeline "
                      "and scaling read it)"),
    (["scaling", "S"], "{S}: a stress record: scaling does not draw it (table and stress read "
                       "it)"),
    (["table", "B", "S"], "benchmark and stress records make different tables: give them to "
                          "separate commands"),
    (["table", "--sort", "score", "S"], "--per-run, --relative and --sort are for benchmark "
                                        "records; a stress table has a row per processor"),
])
def test_commands_take_their_kind_of_record(tmp_path, args, line):
    files = {"B": FIXTURE_RECORDS[0], "S": STRESS}
    out = tmp_path / "chart.svg"
    result = report(*[files.get(a, a) for a in args], *(["-o", out] if args[0] != "table" else []))
    assert result.returncode == 1
    assert error_lines(result) == ["velto-report: " + line.format(**files)]
    # The records of its kind are still drawn.
    assert out.exists() == (args[0] == "plot")


def test_chart_has_a_line_per_processor_and_panel_and_marks_the_errors(tmp_path):
    out = tmp_path / "stress.svg"
    assert report("stress", STRESS, "-o", out).returncode == 0
    assert svg_ids(out, "cpu-") == [f"cpu-{p}-{s}-{w}" for s in (64, 192)
                                    for w in ("standing_wave", "soft_gaussian") for p in range(4)]
    assert svg_ids(out, "failed-") == ["failed-3-64-standing_wave", "failed-3-192-soft_gaussian"]
    assert svg_ids(out, "error-") == ["error-1", "error-0"]  # panel by panel, 64 first
    for words in ("processor 2 (core 2): slow at sw 192, sg 192", "processor 3 (core 3): 2 errors",
                  "velto stress: Intel Xeon, 4 threads, steady load, 120 s, finished, 2 errors"):
        assert f">{words}<" in svg_text(out)
    assert report("stress", STRESS, "-o", tmp_path / "stress.png").returncode == 0
    assert_drawn(tmp_path / "stress.png")


def test_chart_of_a_test_without_segments_is_refused(tmp_path):
    record = load(STRESS)
    for p in record["stress"]["processors"]:
        p["series"] = []
    result = report("stress", save(tmp_path / "empty.json", record), "-o", tmp_path / "e.png")
    assert result.returncode == 1 and not (tmp_path / "e.png").exists()
    assert error_lines(result) == ["velto-report: the stress record has no segment to draw"]
