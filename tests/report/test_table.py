"""velto-report table: its figures against the records' own."""

import re

import pytest

from conftest import FIXTURE_RECORDS, EXPECTED_BUILD, csv_rows, load, number, report, save

HEADER = ["machine", "os", "build", "threads", "grid", "workload", "MGups", "min", "max",
          "spread", "valid", "other cpu", "throttle", "relative"]


def summed_runs(record):
    """The runs a record's row sums up: of a scaling series those of its last count."""
    last = record["scaling"]["points"][-1]["runs"] if "scaling" in record else len(record["runs"])
    return record["runs"][len(record["runs"]) - last:]


def valid_runs(record):
    return [r for r in summed_runs(record) if r["valid"]]


def expected_row(record):
    """What a record's row must say, straight from the record."""
    s = record["summary"]
    shares = [r["other_cpu_share"] for r in valid_runs(record) if r["other_cpu_share"] is not None]
    throttles = [r["throttle_pct"] for r in valid_runs(record) if r["throttle_pct"] is not None]
    used = [r["threads_used"] for r in summed_runs(record) if r["threads_used"]]
    return {
        "brand": record["machine"]["brand"],
        "build": f"{record['velto']['os']} {record['velto']['arch']}",
        "threads": used[0] if used else (record["config"]["threads"] or None),
        "grid_size": record["config"]["grid_size"],
        "workload": record["config"]["workload"],
        "score": s["median_mgups"], "min": s["min_mgups"], "max": s["max_mgups"],
        "spread": s["spread_pct"], "valid": (s["valid_runs"], s["runs"]),
        "other_cpu": max(shares) if shares else None,
        "throttle": min(throttles) if throttles else None,
    }


@pytest.fixture(scope="module")
def records(fresh):
    return list(fresh.values()) + FIXTURE_RECORDS


def test_csv_figures_equal_the_records(records, fresh):
    result = report("table", "--csv", *records)
    assert result.returncode == 0, result.stderr
    rows = csv_rows(result.stdout)
    assert [row["file"] for row in rows] == records
    for row in rows:
        want = expected_row(load(row["file"]))
        # Every digit survives: the figures compare equal, not merely close.
        assert number(row["score_mgups"]) == want["score"]
        assert number(row["min_mgups"]) == want["min"]
        assert number(row["max_mgups"]) == want["max"]
        assert number(row["spread_pct"]) == want["spread"]
        assert (int(row["valid_runs"]), int(row["runs"])) == want["valid"]
        assert number(row["other_cpu_share"]) == want["other_cpu"]
        assert number(row["throttle_pct"]) == want["throttle"]
        assert row["brand"] == want["brand"] and row["build"] == want["build"]
        assert number(row["threads"]) == want["threads"]
        assert int(row["grid_size"]) == want["grid_size"] and row["workload"] == want["workload"]
    if EXPECTED_BUILD:
        assert {r["build"] for r in rows if r["file"] in fresh.values()} == {EXPECTED_BUILD}
    by_file = {row["file"]: row for row in rows}
    assert by_file[fresh["one_thread"]]["runs"] == "2"
    assert by_file[fresh["no_valid_run"]]["score_mgups"] == ""


def fmt(value, form, scale=1.0, suffix=""):
    return "-" if value is None else f"{value * scale:{form}}{suffix}"


def test_text_table_shows_the_figures_rounded_and_aligned(records):
    result = report("table", *records)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    # No cell holds two spaces in a row; columns are two or more apart.
    roofline = any("roofline" in load(path) for path in records)
    assert re.split(r" {2,}", lines[0]) == HEADER + ["roofline"] * roofline
    assert len(lines) == len(records) + 1
    # The last column is a figure, right-aligned: every line ends at the same place.
    assert len({len(line) for line in lines}) == 1
    for line, path in zip(lines[1:], records):
        cells = dict(zip(HEADER, re.split(r" {2,}", line)))
        want = expected_row(load(path))
        assert cells["MGups"] == fmt(want["score"], ".2f")
        assert cells["min"] == fmt(want["min"], ".2f") and cells["max"] == fmt(want["max"], ".2f")
        assert cells["spread"] == fmt(want["spread"], ".1f", suffix="%")
        assert cells["valid"] == "%d/%d" % want["valid"]
        assert cells["other cpu"] == fmt(want["other_cpu"], ".1f", 100.0, "%")
        assert cells["throttle"] == fmt(want["throttle"], "+.1f", suffix="%")
        assert cells["build"] == want["build"]
        assert "(R)" not in cells["machine"]


def test_per_run_rows(records):
    result = report("table", "--per-run", "--csv", *records)
    assert result.returncode == 0, result.stderr
    rows = csv_rows(result.stdout)
    want = [(path, n, run) for path in records
            for n, run in enumerate(load(path)["runs"], start=1)]
    assert len(rows) == len(want)
    for row, (path, n, run) in zip(rows, want):
        assert (row["file"], int(row["run"])) == (path, n)
        assert number(row["score_mgups"]) == run["score_mgups"]
        assert row["valid"] == ("true" if run["valid"] else "false")
        assert row["reasons"].split() == run["reasons"]
        assert number(row["other_cpu_share"]) == run["other_cpu_share"]
        assert number(row["throttle_pct"]) == run["throttle_pct"]
        assert number(row["threads"]) == (run["threads_used"] or None)
    text = report("table", "--per-run", *records).stdout.splitlines()
    assert len(text) == len(want) + 1
    assert any(line.endswith("-") and "no: could_not_prepare, results_missing" in line
               for line in text)


@pytest.mark.parametrize("names, options, reference", [
    (["one_thread", "two_threads", "no_valid_run"], [], "first"),
    (["two_threads", "one_thread"], ["--relative", "first"], "first"),
    (["one_thread", "no_valid_run", "two_threads"], ["--relative", "best"], "best"),
    (["one_thread", "two_threads"], ["--sort", "score"], "first"),
    (["no_valid_run", "one_thread"], [], None),  # the reference has no score
])
def test_relative_column(fresh, names, options, reference):
    result = report("table", "--csv", *options, *(fresh[n] for n in names))
    assert result.returncode == 0, result.stderr
    rows = csv_rows(result.stdout)
    scores = [number(r["score_mgups"]) for r in rows]
    known = [s for s in scores if s is not None]
    base = {"first": scores[0], "best": max(known), None: None}[reference]
    for row, score in zip(rows, scores):
        if base is None or score is None:
            assert row["relative_pct"] == ""
        else:
            assert number(row["relative_pct"]) == pytest.approx(score / base * 100.0, rel=1e-12)
    if base is not None:
        assert 100.0 in [number(r["relative_pct"]) for r in rows]
    text = report("table", *options, *(fresh[n] for n in names)).stdout.splitlines()
    relative = [line.split()[-1] for line in text[1:]]
    assert relative == [("-" if r["relative_pct"] == "" else f"{number(r['relative_pct']):.1f}%")
                        for r in rows]


def test_sort_by_score_puts_the_best_first_and_no_score_last(fresh):
    files = [fresh["one_thread"], fresh["no_valid_run"], fresh["two_threads"],
             fresh["soft_gaussian"]] + FIXTURE_RECORDS
    result = report("table", "--csv", "--sort", "score", *files)
    assert result.returncode == 0, result.stderr
    rows = csv_rows(result.stdout)
    scores = [number(r["score_mgups"]) for r in rows]
    assert scores[-1] is None and None not in scores[:-1]
    assert scores[:-1] == sorted(scores[:-1], reverse=True)
    assert sorted(r["file"] for r in rows) == sorted(files)


def test_markdown_shape(fresh, tmp_path):
    # A brand holding the cell separator must not add a column.
    odd = load(fresh["two_threads"])
    odd["machine"]["brand"] = "Vendor|X 9000"
    files = [fresh["one_thread"], save(tmp_path / "odd.json", odd), fresh["no_valid_run"]]
    result = report("table", "--markdown", *files)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert len(lines) == 2 + len(files)
    cells = [re.split(r"(?<!\\)\|", line)[1:-1] for line in lines]
    assert [c.strip() for c in cells[0]] == HEADER
    assert all(len(c) == len(HEADER) for c in cells)
    assert re.fullmatch(r"\|(?:---:?\|)+", lines[1])
    # Figures right-aligned, words left.
    assert lines[1].split("|")[1:-1][HEADER.index("MGups")] == "---:"
    assert lines[1].split("|")[1:-1][HEADER.index("machine")] == "---"
    assert "Vendor\\|X 9000" in lines[3]
    assert cells[4][HEADER.index("MGups")].strip() == "-"
