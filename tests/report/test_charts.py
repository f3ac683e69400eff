"""velto-report plot and timeline: the files read back."""

import re
import struct

import pytest
from matplotlib import image

from conftest import FIXTURE_RECORDS, STRESS_RECORDS, error_lines, load, report, save
from velto_report.checks import summarise

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_size(path):
    """Width and height from the IHDR chunk, the first after the signature."""
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == PNG_SIGNATURE and head[12:16] == b"IHDR"
    return struct.unpack(">II", head[16:24])


def assert_drawn(path):
    width, height = png_size(path)
    pixels = image.imread(path)
    assert pixels.shape[:2] == (height, width)
    assert width >= 600 and height >= 400
    # Not a blank page: a good part of the pixels are not the white background.
    coloured = (pixels[:, :, :3] < 0.9).any(axis=2).mean()
    assert coloured > 0.03


def svg_ids(path, prefix):
    with open(path, encoding="utf-8") as f:
        return re.findall(r'id="(' + prefix + r'[^"]*)"', f.read())


def svg_text(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def test_bar_chart_png(fresh, tmp_path):
    out = tmp_path / "scores.png"
    result = report("plot", fresh["one_thread"], fresh["two_threads"], "-o", out)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "" and result.stderr == ""
    assert_drawn(out)
    # A bar filled with the first colour of the cycle.
    pixels = image.imread(out)[:, :, :3]
    assert ((abs(pixels - [0x1f / 255, 0x77 / 255, 0xb4 / 255]) < 0.02).all(axis=2)).sum() > 1000


@pytest.mark.parametrize("names", [
    ["one_thread"],
    ["one_thread", "two_threads", "no_valid_run"],
])
def test_bar_chart_svg_has_a_bar_per_record_with_a_score(fresh, tmp_path, names):
    out = tmp_path / "scores.svg"
    files = [fresh[n] for n in names] + ([] if len(names) == 1 else [fresh["one_thread"]])
    result = report("plot", *files, "-o", out)
    assert result.returncode == 0, result.stderr
    records = [load(f) for f in files]
    scored = [i for i, r in enumerate(records) if r["summary"]["median_mgups"] is not None]
    assert svg_ids(out, "bar-") == [f"bar-{i}" for i in scored]
    text = svg_text(out)
    for i in scored:
        assert f">{records[i]['summary']['median_mgups']:.2f}<" in text
    assert text.count(">no valid run<") == len(records) - len(scored)
    assert "standing_wave, 64 x 64 x 64 grid" in text


@pytest.mark.parametrize("other, why", [
    ("soft_gaussian", "workloads (soft_gaussian, standing_wave)"),
    (FIXTURE_RECORDS[0], "grid sizes (64, 192)"),
])
def test_bar_chart_refuses_records_that_do_not_compare(fresh, tmp_path, other, why):
    other = fresh.get(other, other)
    out = tmp_path / "mixed.svg"
    result = report("plot", fresh["one_thread"], other, "-o", out)
    assert result.returncode == 1
    assert error_lines(result) == [
        f"velto-report: the records are of different {why}: their scores are not comparable "
        "(--force draws them anyway)"]
    assert not out.exists()
    forced = report("plot", "--force", fresh["one_thread"], other, "-o", out)
    assert forced.returncode == 0, forced.stderr
    assert len(svg_ids(out, "bar-")) == 2
    assert "not comparable" in svg_text(out)


def test_timeline_has_a_line_per_run(fresh, tmp_path):
    files = [fresh["one_thread"], fresh["two_threads"], fresh["no_valid_run"]] + FIXTURE_RECORDS
    out = tmp_path / "timeline.svg"
    result = report("timeline", *files, "-o", out)
    assert result.returncode == 0, result.stderr
    want = [f"run-{r}-{n}" for r, path in enumerate(files)
            for n, run in enumerate(load(path)["runs"], start=1) if run["samples"]]
    assert svg_ids(out, "run-") == want
    png = tmp_path / "timeline.png"
    assert report("timeline", *files, "-o", png).returncode == 0
    assert_drawn(png)


def test_timeline_marks_runs_that_slowed_down_beyond_five_percent(fresh, tmp_path):
    record = load(fresh["one_thread"])
    # Real samples, the slowdowns of longer runs.
    record["runs"] = [dict(record["runs"][0], throttle_pct=value)
                      for value in (-7.3, -5.0, -4.99, 3.2, None, -51.66)]
    record["config"]["runs"] = len(record["runs"])
    record["summary"] = summarise(record["runs"])
    path = save(tmp_path / "throttled.json", record)
    out = tmp_path / "throttled.svg"
    result = report("timeline", path, "-o", out)
    assert result.returncode == 0, result.stderr
    legend = re.findall(r">([^<>]*, run \d+[^<>]*)<", svg_text(out))
    assert len(legend) == 6
    marked = [entry for entry in legend if "throttled" in entry]
    assert [m[m.index(", run "):] for m in marked] == [", run 1 (throttled -7.3%)",
                                                     ", run 6 (throttled -51.7%)"]


def test_timeline_without_samples_is_refused(fresh, tmp_path):
    out = tmp_path / "empty.png"
    result = report("timeline", fresh["no_valid_run"], "-o", out)
    assert result.returncode == 1
    assert error_lines(result) == ["velto-report: no run of the records has rate samples to draw"]
    assert not out.exists()


@pytest.mark.parametrize("command", ["plot", "timeline", "stress"])
@pytest.mark.parametrize("suffix", [".svg", ".png"])
def test_charts_are_the_same_bytes_every_time(tmp_path, command, suffix):
    first, second = tmp_path / ("a" + suffix), tmp_path / ("b" + suffix)
    files = STRESS_RECORDS if command == "stress" else FIXTURE_RECORDS
    for out in (first, second):
        assert report(command, *files, "-o", out).returncode == 0
    assert first.read_bytes() == second.read_bytes()


@pytest.mark.parametrize("out, status, message", [
    ("chart.jpg", 2, "velto-report plot: error: argument -o/--output: 'chart.jpg' must end in "
                     ".png or .svg"),
    ("chart", 2, "must end in .png or .svg"),
    ("CHART.SVG", 0, None),
    ("missing/chart.png", 1, "velto-report: missing/chart.png: cannot write: No such file or "
                             "directory"),
])
def test_output_paths(fresh, tmp_path, monkeypatch, out, status, message):
    monkeypatch.chdir(tmp_path)
    result = report("plot", fresh["one_thread"], "-o", out)
    assert result.returncode == status
    lines = error_lines(result)
    if message:
        assert message in lines[-1]
    else:
        assert lines == [] and (tmp_path / out).exists()
    # Nothing is left behind: no chart of the wrong kind, no temporary.
    assert sorted(p.name for p in tmp_path.iterdir()) == ([out] if status == 0 else [])
