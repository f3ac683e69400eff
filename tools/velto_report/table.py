"""The comparison table: one row per record (or per run), as aligned text, Markdown or CSV;
for stress records one row per processor. Records measured with --roofline add a last column:
the score's share of the machine's roofline.

The text and Markdown forms are for reading: rounded figures, the shortened
brand, a dash where a figure does not exist. CSV is for other programs: every
digit the record holds, the full brand, an empty field where a figure does not
exist.
"""

import csv
import io
import os

from velto_report.names import kind_label

DASH = "-"


def _fixed(digits, suffix="", scale=1.0, sign=""):
    def text(value):
        return f"{value * scale:{sign}.{digits}f}{suffix}"
    return text


def _plain(value):
    return str(value)


def _csv_value(value):
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        return repr(value)
    return str(value)


class Column:
    """A column: its header in text, its name in CSV, where its value lives in a row and how
    the text shows it. csv_key None keeps it out of CSV, header None out of the text."""

    def __init__(self, header, csv_key, key, text=_plain, numeric=False, text_key=None):
        self.header = header
        self.csv_key = csv_key
        self.key = key
        self.text_key = text_key or key
        self.text = text
        self.numeric = numeric

    def shown(self, row):
        value = row[self.text_key]
        return DASH if value is None else self.text(value)


_MGUPS = _fixed(2)
_PERCENT = _fixed(1, "%")

_COMMON_HEAD = [
    Column(None, "file", "file"),
    Column("machine", "brand", "brand", text_key="short_brand"),
    Column("os", "os", "os"),
    Column("build", "build", "build"),
    Column("threads", "threads", "threads", numeric=True),
    Column("grid", "grid_size", "grid_size", numeric=True),
    Column("workload", "workload", "workload"),
]
_COMMON_TAIL = [
    Column("other cpu", "other_cpu_share", "other_cpu_share", _fixed(1, "%", 100.0),
           numeric=True),
    Column("throttle", "throttle_pct", "throttle_pct", _fixed(1, "%", sign="+"), numeric=True),
    Column("relative", "relative_pct", "relative_pct", _PERCENT, numeric=True),
]

RECORD_COLUMNS = _COMMON_HEAD + [
    Column("MGups", "score_mgups", "score", _MGUPS, numeric=True),
    Column("min", "min_mgups", "min", _MGUPS, numeric=True),
    Column("max", "max_mgups", "max", _MGUPS, numeric=True),
    Column("spread", "spread_pct", "spread_pct", _PERCENT, numeric=True),
    Column("valid", None, "valid_of_all", numeric=True),
    Column(None, "valid_runs", "valid_runs"),
    Column(None, "runs", "runs"),
] + _COMMON_TAIL

RUN_COLUMNS = _COMMON_HEAD[:1] + [
    Column("run", "run", "run", numeric=True, text_key="run_of_all"),
] + _COMMON_HEAD[1:] + [
    Column("MGups", "score_mgups", "score", _MGUPS, numeric=True),
    Column("valid", "valid", "valid", text_key="verdict"),
    Column(None, "reasons", "reasons"),
] + _COMMON_TAIL

# Shown only when a row has a roofline, so that a table without one is as it always was.
ROOFLINE_COLUMNS = [
    Column(None, "roofline_mgups", "roofline_mgups"),
    Column("roofline", "roofline_pct", "roofline_pct", _PERCENT, numeric=True),
]


def _base_row(record):
    return {
        "file": record.path,
        "brand": record.brand,
        "short_brand": record.short_brand,
        "os": record.os,
        "build": record.build,
        "grid_size": record.grid_size,
        "workload": record.workload,
    }


def record_rows(records):
    """One row per record: the summary of its valid runs."""
    rows = []
    for record in records:
        s = record.summary
        row = _base_row(record)
        row.update({
            "threads": record.threads,
            "score": s["median_mgups"],
            "min": s["min_mgups"],
            "max": s["max_mgups"],
            "spread_pct": s["spread_pct"],
            "valid_runs": s["valid_runs"],
            "runs": s["runs"],
            "valid_of_all": f"{s['valid_runs']}/{s['runs']}",
            "other_cpu_share": record.other_cpu_share,
            "throttle_pct": record.throttle_pct,
        })
        row["roofline_mgups"], row["roofline_pct"] = record.roofline
        rows.append(row)
    return rows


def run_rows(records):
    """One row per run of every record, in the order they ran."""
    rows = []
    for record in records:
        for number, run in enumerate(record.runs, start=1):
            row = _base_row(record)
            row.update({
                "run": number,
                "run_of_all": f"{number}/{len(record.runs)}",
                "threads": run["threads_used"] or None,
                "score": run["score_mgups"],
                "valid": run["valid"],
                "reasons": " ".join(run["reasons"]),
                "verdict": "yes" if run["valid"] else "no: " + ", ".join(run["reasons"]),
                "other_cpu_share": run["other_cpu_share"],
                "throttle_pct": run["throttle_pct"],
                # Older records lack them.
                "roofline_mgups": run.get("roofline_mgups"),
                "roofline_pct": run.get("roofline_pct"),
            })
            rows.append(row)
    return rows


def sort_by_score(rows):
    """Best score first; rows without a score last, in their order."""
    return sorted(rows, key=lambda r: (r["score"] is None, -(r["score"] or 0.0)))


def add_relative(rows, against):
    """Each row's score in percent of the first row's ("first") or the best row's ("best");
    None where either score is missing."""
    if against == "best":
        scores = [r["score"] for r in rows if r["score"] is not None]
        reference = max(scores) if scores else None
    else:
        reference = rows[0]["score"] if rows else None
    for row in rows:
        if reference and row["score"] is not None:
            row["relative_pct"] = row["score"] / reference * 100.0
        else:
            row["relative_pct"] = None
    return rows


def format_text(rows, columns):
    """Aligned columns, two spaces apart: figures to the right, words to the left."""
    columns = [c for c in columns if c.header is not None]
    cells = [[c.header for c in columns]] + [[c.shown(r) for c in columns] for r in rows]
    widths = [max(len(line[i]) for line in cells) for i in range(len(columns))]
    lines = []
    for line in cells:
        parts = [cell.rjust(w) if c.numeric else cell.ljust(w)
                 for cell, w, c in zip(line, widths, columns)]
        lines.append("  ".join(parts).rstrip())
    return "\n".join(lines) + "\n"


def _markdown_cell(text):
    return text.replace("\\", "\\\\").replace("|", "\\|").replace("*", "\\*")


def format_markdown(rows, columns):
    """A pipe table, figures right-aligned."""
    columns = [c for c in columns if c.header is not None]
    lines = ["| " + " | ".join(c.header for c in columns) + " |",
             "|" + "|".join("---:" if c.numeric else "---" for c in columns) + "|"]
    for row in rows:
        lines.append("| " + " | ".join(_markdown_cell(c.shown(row).rstrip()) for c in columns)
                     + " |")
    return "\n".join(lines) + "\n"


def format_csv(rows, columns):
    """A header line of field names, then the rows with every digit of the record."""
    columns = [c for c in columns if c.csv_key is not None]
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow([c.csv_key for c in columns])
    for row in rows:
        writer.writerow([_csv_value(row[c.key]) for c in columns])
    return out.getvalue()


def stress_kinds(records):
    """The kinds of segment (workload, grid size) that the records' tests compared with,
    smallest size first, the workloads of a size in the order the tests name them."""
    kinds = {(a["workload"], a["grid_size"]): None
             for r in records for a in r.stress["known_answers"]}
    return sorted(kinds, key=lambda kind: kind[1])


def _stress_columns(records, kinds):
    """The per-processor columns; the text shows which record a row is of only when there
    are several."""
    columns = [Column(None, "file", "file"), Column(None, "brand", "brand")]
    if len(records) > 1:
        columns.append(Column("record", None, "record"))
    columns += [
        Column("processor", "processor", "processor", numeric=True),
        Column(None, "group", "group"),
        Column("core", "core", "core", numeric=True),
        Column(None, "node", "node"),
        Column(None, "perf_level", "perf_level"),
        Column("segments", "segments", "segments", numeric=True),
        Column("errors", "errors", "errors", numeric=True),
    ]
    for workload, size in kinds:
        key = f"{workload}_{size}"
        columns += [Column(kind_label(workload, size), f"mgups_{key}", f"mgups_{key}",
                           numeric=True, text_key=f"mgups_{key}_text"),
                    Column(None, f"slow_{key}", f"slow_{key}")]
    columns.append(Column("first error", "first_error_s", "first_error_s", _fixed(1, "s"),
                          numeric=True))
    return columns


def stress_rows(records, kinds):
    """One row per processor of every stress record, in the order the test walked them: its
    segments and errors, its median rate for each kind of segment (marked "*" where it is more
    than 10% below its performance level's) and the time of its first error."""
    rows = []
    for record in records:
        for p in record.processors:
            row = {key: p[key] for key in ("processor", "group", "core", "node", "perf_level",
                                           "segments", "errors", "first_error_s")}
            row.update(file=record.path, brand=record.brand,
                       record=os.path.basename(record.path))
            slow = {(s["workload"], s["grid_size"]) for s in p["slow"]}
            for workload, size in kinds:
                key = f"{workload}_{size}"
                rate = p["median_mgups"].get(workload, {}).get(str(size))
                row[f"mgups_{key}"] = rate
                row[f"slow_{key}"] = (workload, size) in slow
                # The mark, or a blank in its place, keeps the figures aligned.
                row[f"mgups_{key}_text"] = (DASH + " " if rate is None else _MGUPS(rate)
                                            + ("*" if (workload, size) in slow else " "))
            rows.append(row)
    return rows


def _stress_notes(rows, kinds):
    names = {kind_label(w, s).split(" ")[0] + " " + w: None for w, s in kinds}
    notes = ["median segment rates in MGups; " + ", ".join(names)]
    if any(row[f"slow_{w}_{s}"] for row in rows for w, s in kinds):
        notes.append("* more than 10% below the median of its performance level")
    return notes


def stress_table(records, form="text"):
    """The per-processor table of stress records, a column of medians per kind of segment any
    of them ran; the text and Markdown forms end with what the columns hold and the mark
    means."""
    kinds = stress_kinds(records)
    rows = stress_rows(records, kinds)
    text = _FORMATTERS[form](rows, _stress_columns(records, kinds))
    if form == "csv":
        return text
    notes = _stress_notes(rows, kinds)
    if form == "markdown":
        return text + "\n" + "  \n".join(_markdown_cell(note) for note in notes) + "\n"
    return text + "".join(f"{note}\n" for note in notes)


_FORMATTERS = {"text": format_text, "markdown": format_markdown, "csv": format_csv}


def table(records, per_run=False, relative="first", sort=None, form="text"):
    """The table of benchmark records in the form asked for ("text", "markdown" or "csv")."""
    rows = run_rows(records) if per_run else record_rows(records)
    if sort == "score":
        rows = sort_by_score(rows)
    add_relative(rows, relative)
    columns = RUN_COLUMNS if per_run else RECORD_COLUMNS
    if any(row["roofline_mgups"] is not None for row in rows):
        columns = columns + ROOFLINE_COLUMNS
    return _FORMATTERS[form](rows, columns)
