"""The bar chart of scores, the timeline of rates, the score against the thread count and
the segment rates of a stress test, as PNG or SVG.

matplotlib is imported only here and only when a chart is drawn, so that the
table works without it. The figures have a fixed size and no timestamps, so the
same records give the same bytes.
"""

import os
import tempfile

from velto_report.names import kind_label, record_labels, threads_text
from velto_report.records import SetupError

# A run that lost more than this between the first and the last fifth of its
# samples is marked in the timeline's legend.
THROTTLE_MARK_PCT = -5.0

FORMATS = {".png": "png", ".svg": "svg"}

# Without these an SVG carries a random id salt and a date, a PNG the
# program's name and version.
_RC = {"svg.hashsalt": "velto-report", "svg.fonttype": "none"}
_METADATA = {"svg": {"Date": None}, "png": {"Software": None}}


class ChartError(Exception):
    """Records that do not make the chart asked for; str() says why, in one line."""


def chart_format(path):
    """"png" or "svg" from the path's extension (any case); None for any other."""
    return FORMATS.get(os.path.splitext(path)[1].lower())


def load_matplotlib():
    """Imports matplotlib for drawing off screen; SetupError when it is not installed."""
    try:
        import matplotlib
        from matplotlib.figure import Figure  # noqa: F401 (fails here, not half-way)
    except ImportError:
        raise SetupError("charts need matplotlib: install python3-matplotlib")
    return matplotlib


def not_comparable(records):
    """Why the records' scores cannot share a chart (different workloads or grid sizes),
    or None when they can."""
    workloads = sorted({r.workload for r in records})
    grids = sorted({r.grid_size for r in records})
    problems = []
    if len(workloads) > 1:
        problems.append("workloads (" + ", ".join(workloads) + ")")
    if len(grids) > 1:
        problems.append("grid sizes (" + ", ".join(str(g) for g in grids) + ")")
    if not problems:
        return None
    return ("the records are of different " + " and ".join(problems)
            + ": their scores are not comparable (--force draws them anyway)")


def _grid_text(size):
    return f"{size} x {size} x {size} grid"


def _title(records, what):
    workloads = {r.workload for r in records}
    grids = {r.grid_size for r in records}
    if len(workloads) == 1 and len(grids) == 1:
        return f"{what}: {records[0].workload}, {_grid_text(records[0].grid_size)}"
    return f"{what}: different workloads or grid sizes, not comparable"


def _build_colours(records):
    builds = list(dict.fromkeys(r.build for r in records))
    return [f"C{builds.index(r.build) % 10}" for r in records]


def draw_scores(records):
    """A Figure with a bar per record: the median score, whiskers from min to max, the value
    on the bar. A record without a valid run keeps its place with a note and no bar. Bars
    carry the ids bar-0, bar-1, ... (by record) in an SVG."""
    from matplotlib.figure import Figure

    labels = ["\n".join(parts) for parts in record_labels(records)]
    figure = Figure(figsize=(max(6.0, 1.5 * len(records) + 2.0), 4.5), dpi=100,
                    layout="constrained")
    axes = figure.add_subplot()
    tops = [r.summary["max_mgups"] for r in records if r.score is not None]
    top = max(tops) if tops else 1.0
    for i, (record, colour) in enumerate(zip(records, _build_colours(records))):
        if record.score is None:
            axes.text(i, top * 0.02, "no valid run", ha="center", va="bottom", fontsize=9,
                      color="dimgray")
            continue
        score = record.score
        (bar,) = axes.bar(i, score, width=0.6, color=colour)
        bar.set_gid(f"bar-{i}")
        axes.errorbar(i, score, yerr=[[score - record.summary["min_mgups"]],
                                      [record.summary["max_mgups"] - score]],
                      fmt="none", ecolor="black", elinewidth=1, capsize=8)
        axes.text(i, score / 2, f"{score:.2f}", ha="center", va="center", color="white",
                  fontsize=10, fontweight="bold")
    axes.set_xticks(range(len(records)), labels, fontsize=9)
    axes.set_xlim(-0.6, len(records) - 0.4)
    axes.set_ylim(0, top * 1.12)
    axes.set_ylabel("MGups (median of the valid runs, min to max)")
    axes.set_title(_title(records, "velto scores"))
    axes.grid(axis="y", alpha=0.3)
    axes.set_axisbelow(True)
    return figure


def _run_legend(label, number, run):
    text = f"{label}, run {number}"
    throttle = run["throttle_pct"]
    if throttle is not None and throttle < THROTTLE_MARK_PCT:
        text += f" (throttled {throttle:.1f}%)"
    if not run["valid"]:
        text += " (invalid)"
    return text


_DASHES = ["-", "--", ":", "-."]


def draw_timeline(records):
    """A Figure with a line per run that has samples: the rate of all threads against the
    seconds of the loop. Lines carry the ids run-R-N (record R from 0, run N from 1) in an
    SVG. ChartError when no run has a sample."""
    from matplotlib.figure import Figure

    figure = Figure(figsize=(10.0, 4.8), dpi=100, layout="constrained")
    axes = figure.add_subplot()
    drawn = 0
    for r, (record, parts) in enumerate(zip(records, record_labels(records))):
        label = ", ".join(parts)
        for number, run in enumerate(record.runs, start=1):
            samples = run["samples"]
            if not samples:
                continue
            # A colour per record, a dash pattern per run.
            (line,) = axes.plot([s["t_s"] for s in samples], [s["rate_mgups"] for s in samples],
                                color=f"C{r % 10}", linestyle=_DASHES[(number - 1) % len(_DASHES)],
                                marker="o", markersize=3, linewidth=1.2,
                                label=_run_legend(label, number, run))
            line.set_gid(f"run-{r}-{number}")
            drawn += 1
    if not drawn:
        raise ChartError("no run of the records has rate samples to draw")
    axes.set_ylim(bottom=0)
    axes.set_xlabel("seconds since the timed loop began")
    axes.set_ylabel("MGups (all threads, per second)")
    axes.set_title(_title(records, "velto rate over time"))
    axes.grid(alpha=0.3)
    axes.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=8, frameon=False)
    return figure


def _thread_ticks(axes, counts):
    """A tick at every count; a label only where it keeps clear of the previous one, so that
    1, 2 and 4 do not run together on an axis that reaches 64."""
    counts = sorted(counts)
    axes.set_xticks(counts)
    labels, last = [], None
    for n in counts:
        clear = last is None or n - last >= counts[-1] / 24
        labels.append(str(n) if clear else "")
        last = n if clear else last
    axes.set_xticklabels(labels)


def draw_scaling(records):
    """A Figure with a series per record, in a colour of its own: the median score at each
    thread count that has one (solid, with dots), the ideal from its one-thread score, threads
    times that score (dashed, thinner), and its roofline at each count measured (dotted, with
    squares). Lines carry the ids scaling-R, ideal-R and roofline-R (record R from 0) in an
    SVG. Every record must have a score at some count."""
    from matplotlib.figure import Figure
    from matplotlib.lines import Line2D

    figure = Figure(figsize=(9.0, 5.4), dpi=100, layout="constrained")
    axes = figure.add_subplot()
    counts, tops = set(), []
    styles = {}
    for r, (record, parts) in enumerate(zip(records, record_labels(records, threads=False))):
        colour = f"C{r % 10}"
        points = [(n, score) for n, score in record.series() if score is not None]
        (line,) = axes.plot(*zip(*points), color=colour, marker="o", markersize=6, linewidth=2.0,
                            label=", ".join(parts), zorder=3)
        line.set_gid(f"scaling-{r}")
        counts.update(n for n, _ in points)
        tops += [score for _, score in points]
        one = dict(points).get(1)
        if one is not None and len(points) > 1:
            ideal = [n for n, _ in points]
            axes.plot(ideal, [n * one for n in ideal], color=colour, linestyle="--",
                      linewidth=1.0)[0].set_gid(f"ideal-{r}")
            styles["ideal"] = "ideal: threads x the one-thread score"
            tops.append(ideal[-1] * one)
        roofline = record.rooflines()
        if roofline:
            axes.plot(*zip(*roofline), color=colour, linestyle=":", linewidth=1.4, marker="s",
                      markersize=4)[0].set_gid(f"roofline-{r}")
            styles["roofline"] = "roofline: memory bandwidth / bytes per update"
            counts.update(n for n, _ in roofline)
            tops += [mgups for _, mgups in roofline]
    _thread_ticks(axes, counts)
    pad = max(0.3, (max(counts) - min(counts)) * 0.04)
    axes.set_xlim(min(counts) - pad, max(counts) + pad)
    axes.set_ylim(0, max(tops) * 1.1 or 1.0)
    axes.set_xlabel("threads")
    axes.set_ylabel("MGups (median of the valid runs)")
    axes.set_title(_title(records, "velto scaling"))
    axes.grid(alpha=0.3)
    records_legend = axes.legend(loc="upper left", fontsize=8, title="records",
                                 title_fontsize=8)
    key = [Line2D([], [], color="dimgray", marker="o", linewidth=2.0, label="median score")]
    if "ideal" in styles:
        key.append(Line2D([], [], color="dimgray", linestyle="--", linewidth=1.0,
                          label=styles["ideal"]))
    if "roofline" in styles:
        key.append(Line2D([], [], color="dimgray", linestyle=":", linewidth=1.4, marker="s",
                          markersize=4, label=styles["roofline"]))
    axes.legend(handles=key, loc="lower right", fontsize=8)
    axes.add_artist(records_legend)
    return figure


# The colour cycle without its red, which marks the errors.
_PROCESSOR_COLOURS = [f"C{i}" for i in range(10) if i != 3]


def _slow_kinds(p):
    return {(s["workload"], s["grid_size"]) for s in p["slow"]}


def _processor_legend(p, kinds_shown):
    text = f"processor {p['processor']} (core {p['core']})"
    marks = []
    if p["errors"]:
        marks.append(f"{p['errors']} error" + ("" if p["errors"] == 1 else "s"))
    slow = [kind_label(*kind) for kind in kinds_shown if kind in _slow_kinds(p)]
    if slow:
        marks.append("slow at " + ", ".join(slow))
    return text + (": " + "; ".join(marks) if marks else "")


def draw_stress(record):
    """A Figure with a panel per grid size (rows) and workload (columns) that the segments
    used, a line per processor: the rate of each segment against the seconds since the start.
    Failed segments are red crosses, the record's errors red vertical lines in their panel; a
    processor with errors, or slow at a panel's kind, is drawn thick there, and the legend
    names its errors and slow kinds. Lines carry the ids cpu-P-S-W (processor number, grid
    size, workload), crosses failed-P-S-W and error lines error-N (by the record's errors) in
    an SVG. ChartError without a segment."""
    from matplotlib.figure import Figure

    stress = record.stress
    points = [(s["grid_size"], s["workload"]) for p in record.processors for s in p["series"]]
    sizes = sorted({size for size, _ in points})
    workloads = [w for w in stress["workloads"] if any(w == pw for _, pw in points)]
    workloads += sorted({w for _, w in points} - set(workloads))
    if not points:
        raise ChartError("the stress record has no segment to draw")
    figure = Figure(figsize=(5.0 * len(workloads) + 3.2, 2.8 * len(sizes) + 0.9), dpi=100,
                    layout="constrained")
    grid = figure.subplots(len(sizes), len(workloads), sharex=True, squeeze=False)
    handles = {}
    for row, size in enumerate(sizes):
        for column, workload in enumerate(workloads):
            axes = grid[row][column]
            for i, p in enumerate(record.processors):
                flagged = p["errors"] > 0 or (workload, size) in _slow_kinds(p)
                mine = [s for s in p["series"]
                        if s["grid_size"] == size and s["workload"] == workload]
                if not mine:
                    continue
                (line,) = axes.plot([s["t_s"] for s in mine], [s["rate_mgups"] for s in mine],
                                    color=_PROCESSOR_COLOURS[i % len(_PROCESSOR_COLOURS)],
                                    linestyle=_DASHES[(i // len(_PROCESSOR_COLOURS))
                                                      % len(_DASHES)],
                                    linewidth=2.4 if flagged else 1.0,
                                    alpha=1.0 if flagged else 0.7, marker="o",
                                    markersize=3 if flagged else 2)
                line.set_gid(f"cpu-{p['processor']}-{size}-{workload}")
                handles.setdefault(i, line)
                failed = [s for s in mine if not s["ok"]]
                if failed:
                    crosses = axes.scatter([s["t_s"] for s in failed],
                                           [s["rate_mgups"] for s in failed], marker="X", s=110,
                                           color="red", edgecolors="black", linewidths=0.6,
                                           zorder=5)
                    crosses.set_gid(f"failed-{p['processor']}-{size}-{workload}")
            for n, error in enumerate(stress["errors"]):
                if error["grid_size"] == size and error["workload"] == workload:
                    axes.axvline(error["t_s"], color="red", linewidth=1.0, linestyle=":",
                                 zorder=1).set_gid(f"error-{n}")
            rates = [s["rate_mgups"] for p in record.processors for s in p["series"]
                     if s["grid_size"] == size and s["workload"] == workload]
            # Room above the fastest segment for the crosses.
            axes.set_ylim(0, max(rates, default=0.0) * 1.15 or 1.0)
            axes.set_title(f"{kind_label(workload, size)}: {workload}, {_grid_text(size)}",
                           fontsize=10)
            axes.grid(alpha=0.3)
            if column == 0:
                axes.set_ylabel("MGups per segment")
            if row == len(sizes) - 1:
                axes.set_xlabel("seconds since the start")
    kinds = [(workload, size) for size in sizes for workload in workloads]
    labels = [_processor_legend(record.processors[i], kinds) for i in sorted(handles)]
    grid[0][-1].legend([handles[i] for i in sorted(handles)], labels, loc="upper left",
                       bbox_to_anchor=(1.01, 1.0), fontsize=8, frameon=False)
    errors = stress["error_count"]
    figure.suptitle(f"velto stress: {record.short_brand}, {threads_text(record.threads)}, "
                    f"{stress['load']} load, {stress['elapsed_s']:.0f} s, {stress['end']}, "
                    f"{errors} error" + ("" if errors == 1 else "s"))
    return figure


def save(figure, path):
    """Writes the figure whole or not at all: a temporary file beside path, renamed over it.
    Raises OSError when it cannot."""
    import matplotlib

    form = chart_format(path)
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix=os.path.basename(path) + ".", suffix=".tmp",
                                         dir=folder)
    try:
        with os.fdopen(handle, "wb") as f, matplotlib.rc_context(_RC):
            figure.savefig(f, format=form, metadata=_METADATA[form])
        os.chmod(temporary, 0o666 & ~_umask())
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask
