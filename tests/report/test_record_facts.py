"""What velto-report knows of the record besides reading it against the schema: the
newest format version, the errors a stress record keeps, the kinds of record and the
labels of the kinds of segment. Each is stated in the tool as well as in
docs/velto-result.schema.json or in velto itself; these tests fail when the two disagree.
"""

import os
import re
import signal
import subprocess
import threading

import pytest

from conftest import EMULATOR, PROGRAM, ROOT, load, report

from velto_report import SCHEMA_VERSION
from velto_report.checks import ERRORS_KEPT
from velto_report.cli import _KINDS, _OTHER_COMMAND
from velto_report.names import kind_label

SCHEMA = os.path.join(ROOT, "docs", "velto-result.schema.json")


@pytest.fixture(scope="module")
def schema():
    return load(SCHEMA)


def test_the_newest_version_read_is_the_schemas(schema):
    assert SCHEMA_VERSION == schema["properties"]["schema_version"]["const"]


def test_the_errors_kept_are_the_schemas_most(schema):
    assert ERRORS_KEPT == schema["$defs"]["stress"]["properties"]["errors"]["maxItems"]


def test_the_kinds_of_record_are_the_schemas(schema):
    kinds = schema["properties"]["kind"]["enum"]
    assert sorted(_OTHER_COMMAND) == sorted(kinds)
    assert sorted({kind for allowed in _KINDS.values() for kind in allowed}) == sorted(kinds)


def _cells(line):
    """A table line's cells: a cell's own words are one blank apart, cells at least two."""
    return re.split(r" {2,}", line.strip())


def _table(out, first_cell):
    """The header of the table whose header begins with first_cell, and the line that names
    the kinds of segment (the legend)."""
    lines = out.splitlines()
    header = next(_cells(line) for line in lines if _cells(line)[0] == first_cell)
    legend = next(line for line in lines if line.startswith("median segment rates in MGups; "))
    return header, legend


def _stress_until_a_segment_is_verified(path):
    """velto's own stress table and the record it wrote: an untimed test on one thread at the
    default sizes, every workload, ended with Ctrl-C once a segment is verified."""
    process = subprocess.Popen(
        [PROGRAM, "--stress", "0", "-n", "1", "--no-prompt", "--export-json", str(path)],
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
    verified.wait(timeout=600)
    process.send_signal(signal.SIGINT)
    err = process.stderr.read().decode()
    process.wait(timeout=120)
    reader.join()
    assert verified.is_set(), out.decode()
    assert process.returncode == 0, err
    return out.decode()


@pytest.mark.skipif(bool(EMULATOR), reason="signals reach the Windows program as Wine passes them")
def test_kind_labels_are_the_programs(tmp_path, schema):
    """The record does not carry velto's labels of the kinds of segment ("sw 64"); velto-report
    makes its own. Its columns and legend for a record velto wrote are velto's own."""
    if not PROGRAM:
        pytest.fail("VELTO_EXE names no program")
    path = tmp_path / "stress.json"
    console = _stress_until_a_segment_is_verified(path)
    answers = load(path)["stress"]["known_answers"]
    # Every workload the schema allows, at each size the test ran.
    workloads = schema["properties"]["config"]["properties"]["workload"]["enum"]
    assert sorted({a["workload"] for a in answers}) == sorted(workloads)
    assert len({a["grid_size"] for a in answers}) >= 2

    header, legend = _table(console, "processor")
    kinds = header[header.index("errors") + 1:header.index("first error")]
    assert kinds == [kind_label(a["workload"], a["grid_size"]) for a in answers]

    table = report("table", path)
    assert table.returncode == 0, table.stderr
    report_header, report_legend = _table(table.stdout, "processor")
    assert report_header[report_header.index("errors") + 1:-1] == kinds
    assert report_legend == legend
