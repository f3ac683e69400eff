"""Refused input, bad command lines, missing packages and the launcher."""

import os
import shutil

import pytest

from conftest import (FIXTURE_RECORDS, ROOT, TOOL, csv_rows, error_lines, load, report, save,
                      set_at)


def _drop(field):
    def edit(record):
        del record[field]
    return edit


# (name, the file's bytes or an edit of a real record, the line's text after "<file>: ")
BAD_INPUTS = [
    ("missing", None, "cannot read: No such file or directory"),
    ("folder", "folder", "cannot read: Is a directory"),
    ("not_json", b"{\"schema\": ", "not JSON: Expecting value: line 1 column 12 (char 11)"),
    ("not_utf8", b"\xff\xfe{}", "not JSON: not UTF-8 text"),
    ("array", b"[1, 2]", "not a velto result record (not a JSON object)"),
    ("no_schema", b"{\"results\": []}", "not a velto result record (no \"schema\" field)"),
    ("other_format", set_at(["schema"], "other-result"),
     "not a velto result record (schema is \"other-result\")"),
    ("newer", set_at(["schema_version"], 3),
     "schema_version 3 is newer than this velto-report reads (2); a newer velto-report reads it"),
    ("no_summary", _drop("summary"),
     "not valid against the record schema: 'summary' is a required property"),
    ("grid_as_text", set_at(["config", "grid_size"], "192"),
     "not valid against the record schema: '192' is not of type 'integer' "
     "(at $.config.grid_size)"),
    ("valid_without_score", set_at(["runs", 0, "score_mgups"], None),
     "not valid against the record schema: None is not of type 'number' "
     "(at $.runs[0].score_mgups)"),
    ("version_2_without_kind", set_at(["schema_version"], 2),
     "not valid against the record schema: 'kind' is a required property"),
    ("version_1_with_kind", set_at(["kind"], "benchmark"),
     "not valid against the record schema: Additional properties are not allowed "
     "('kind' was unexpected)"),
    ("benchmark_with_stress", lambda r: r.update(schema_version=2, kind="benchmark", stress={}),
     "not valid against the record schema: False schema does not allow {} (at $.stress)"),
]


def make_bad(tmp_path, name, content):
    path = tmp_path / f"{name}.json"
    if content == "folder":
        path.mkdir()
    elif isinstance(content, bytes):
        path.write_bytes(content)
    elif content is not None:
        record = load(FIXTURE_RECORDS[0])
        content(record)
        save(path, record)
    return str(path)


@pytest.mark.parametrize("name, content, why", BAD_INPUTS, ids=[c[0] for c in BAD_INPUTS])
def test_bad_input_is_one_line_and_the_rest_is_still_read(tmp_path, name, content, why):
    bad = make_bad(tmp_path, name, content)
    good = FIXTURE_RECORDS[1]
    result = report("table", "--csv", good, bad)
    assert result.returncode == 1
    assert error_lines(result) == [f"velto-report: {bad}: {why}"]
    assert [row["file"] for row in csv_rows(result.stdout)] == [good]
    alone = report("table", bad)
    assert (alone.returncode, alone.stdout) == (1, "")
    assert error_lines(alone) == [f"velto-report: {bad}: {why}"]


def test_a_version_2_benchmark_record_reads_as_its_version_1(tmp_path):
    record = dict(load(FIXTURE_RECORDS[0]), schema_version=2, kind="benchmark")
    path = save(tmp_path / "version-2.json", record)
    first, second = csv_rows(report("table", "--csv", FIXTURE_RECORDS[0], path).stdout)
    assert dict(first, file=path) == second


@pytest.mark.parametrize("command", ["plot", "timeline"])
def test_charts_draw_the_files_they_read(tmp_path, command):
    bad = make_bad(tmp_path, "newer", BAD_INPUTS[7][1])
    out = tmp_path / "chart.svg"
    result = report(command, FIXTURE_RECORDS[0], bad, "-o", out)
    assert result.returncode == 1
    assert len(error_lines(result)) == 1
    assert out.exists()
    nothing = tmp_path / "nothing.svg"
    result = report(command, bad, "-o", nothing)
    assert result.returncode == 1 and len(error_lines(result)) == 1
    assert not nothing.exists()


@pytest.mark.parametrize("args", [
    [],
    ["frobnicate"],
    ["table"],
    ["table", "--relative", "worst", FIXTURE_RECORDS[0]],
    ["table", "--markdown", "--csv", FIXTURE_RECORDS[0]],
    ["table", "--sort", "name", FIXTURE_RECORDS[0]],
    ["table", "--per-run", "--colour", FIXTURE_RECORDS[0]],
    ["plot", FIXTURE_RECORDS[0]],
    ["timeline", FIXTURE_RECORDS[0], "-o"],
    ["stress", FIXTURE_RECORDS[0], FIXTURE_RECORDS[1], "-o", "chart.svg"],
])
def test_bad_command_line_is_status_2(args):
    result = report(*args)
    assert result.returncode == 2
    assert result.stdout == ""
    lines = error_lines(result)
    assert lines[0].startswith("usage: velto-report")
    assert lines[-1].startswith("velto-report") and ": error: " in lines[-1]
    assert sum(": error: " in line for line in lines) == 1


@pytest.mark.parametrize("args, words", [
    (["--help"], ["table", "plot", "timeline", "stress", "exit status"]),
    (["table", "--help"], ["--per-run", "--relative", "--markdown", "--csv", "--sort"]),
    (["plot", "--help"], ["-o OUT", "--force"]),
    (["timeline", "--help"], ["-o OUT"]),
    (["stress", "--help"], ["-o OUT", "FILE"]),
])
def test_help(args, words):
    result = report(*args)
    assert result.returncode == 0 and result.stderr == ""
    for word in words:
        assert word in result.stdout


def blocked(tmp_path, module):
    """A folder whose module of that name fails to import, as when its package is missing."""
    folder = tmp_path / "blocked"
    (folder / module).mkdir(parents=True)
    (folder / module / "__init__.py").write_text(f"raise ImportError('no {module}')\n")
    return {"PYTHONPATH": str(folder)}


def test_without_matplotlib_charts_say_what_to_install_and_the_table_works(tmp_path):
    env = blocked(tmp_path, "matplotlib")
    result = report("plot", FIXTURE_RECORDS[0], "-o", tmp_path / "c.png", env=env)
    assert result.returncode == 1
    assert error_lines(result) == ["velto-report: charts need matplotlib: install "
                                   "python3-matplotlib"]
    table = report("table", FIXTURE_RECORDS[0], env=env)
    assert table.returncode == 0, table.stderr


def test_without_jsonschema_nothing_is_read(tmp_path):
    result = report("table", FIXTURE_RECORDS[0], env=blocked(tmp_path, "jsonschema"))
    assert (result.returncode, result.stdout) == (1, "")
    assert error_lines(result) == ["velto-report: reading records needs jsonschema: install "
                                   "python3-jsonschema"]


def test_a_missing_schema_is_one_line(tmp_path):
    missing = tmp_path / "none.schema.json"
    result = report("table", FIXTURE_RECORDS[0], env={"VELTO_REPORT_SCHEMA": str(missing)})
    assert (result.returncode, result.stdout) == (1, "")
    assert error_lines(result) == [f"velto-report: cannot read the record schema {missing}: "
                                   "No such file or directory"]


def test_launcher_without_python_says_what_to_install():
    result = report("table", FIXTURE_RECORDS[0], env={"VELTO_REPORT_PYTHON": "/nonexistent/py"})
    assert (result.returncode, result.stdout) == (1, "")
    assert result.stderr == ("velto-report: /nonexistent/py is missing: install python3, "
                             "python3-matplotlib and python3-jsonschema\n")


def test_installed_layout(tmp_path):
    # /usr/bin/velto-report, /usr/share/velto/tools/velto_report, /usr/share/velto/docs.
    usr = tmp_path / "usr"
    (usr / "bin").mkdir(parents=True)
    shutil.copy(TOOL, usr / "bin" / "velto-report")
    shutil.copytree(os.path.join(ROOT, "tools", "velto_report"),
                    usr / "share" / "velto" / "tools" / "velto_report",
                    ignore=shutil.ignore_patterns("__pycache__"))
    (usr / "share" / "velto" / "docs").mkdir()
    shutil.copy(os.path.join(ROOT, "docs", "velto-result.schema.json"),
                usr / "share" / "velto" / "docs")
    import subprocess
    env = {k: v for k, v in os.environ.items() if k != "VELTO_REPORT_SCHEMA"}
    result = subprocess.run([str(usr / "bin" / "velto-report"), "table", "--csv",
                             FIXTURE_RECORDS[0]], capture_output=True, text=True, env=env)
    assert result.returncode == 0, result.stderr
    assert len(csv_rows(result.stdout)) == 1
