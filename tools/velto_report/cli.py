"""The command line: table, plot, timeline and scaling over result records, stress over a
stress record.

Exit status: 0 when every file was read and the output made, 1 when a file was
refused (the others are still reported) or the output could not be made, 2 for
a bad command line.
"""

import argparse
import os
import sys

from velto_report import charts, table
from velto_report.records import Refused, RecordReader, SetupError

PROG = "velto-report"

_EXIT_TEXT = ("exit status: 0 when every file was read, 1 when a file was refused or the "
              "output could not be made, 2 for a bad command line")


def _chart_path(text):
    if charts.chart_format(text) is None:
        raise argparse.ArgumentTypeError(f"'{text}' must end in .png or .svg")
    return text


def _chart_arguments(parser, force):
    """The record files and the chart's path of a chart command, and --force
    where records of different workloads or grid sizes are refused."""
    parser.add_argument("files", nargs="+", metavar="FILE", help="result records")
    parser.add_argument("-o", "--output", required=True, type=_chart_path, metavar="OUT",
                        help="the chart to write, PNG or SVG by its extension")
    if force:
        parser.add_argument("--force", action="store_true",
                            help="draw records of different workloads or grid sizes anyway")


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Tables and charts from velto's result records (velto --export-json).",
        epilog=_EXIT_TEXT)
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    table_parser = commands.add_parser(
        "table", help="a table with a row per record (per processor for stress records)",
        description="A row per record: machine, OS, build, threads, grid size, workload, the "
                    "median score of the valid runs (MGups) with min, max and spread, valid "
                    "runs of all, the largest share other programs took, the strongest "
                    "throttle, the score relative to a reference row and, for records "
                    "measured with --roofline, its share of the roofline. Stress records "
                    "give a row per processor instead: its segments, errors, median segment "
                    "rate at each grid size (marked slow more than 10%% below its "
                    "performance level's) and the time of its first error.",
        epilog=_EXIT_TEXT)
    table_parser.add_argument("files", nargs="+", metavar="FILE", help="result records")
    table_parser.add_argument("--per-run", action="store_true",
                              help="a row per run instead of per record")
    table_parser.add_argument("--relative", choices=["first", "best"],
                              help="the row the relative column compares with (default: first)")
    form = table_parser.add_mutually_exclusive_group()
    form.add_argument("--markdown", action="store_true", help="a Markdown pipe table")
    form.add_argument("--csv", action="store_true",
                      help="comma-separated values with every digit of the records")
    table_parser.add_argument("--sort", choices=["score"],
                              help="order the rows by score, best first (default: as given)")

    plot_parser = commands.add_parser(
        "plot", help="a bar chart of the scores",
        description="A bar per record: its median score with whiskers from min to max. "
                    "Records of different workloads or grid sizes are refused: their scores "
                    "are not comparable.",
        epilog=_EXIT_TEXT)
    _chart_arguments(plot_parser, force=True)

    timeline_parser = commands.add_parser(
        "timeline", help="the rate over time of every run",
        description="A line per run: the rate of all threads, sampled once a second. A run "
                    "that slowed down by more than 5% is marked in the legend.",
        epilog=_EXIT_TEXT)
    _chart_arguments(timeline_parser, force=False)

    scaling_parser = commands.add_parser(
        "scaling", help="the score against the thread count",
        description="A series per record: the median score of the valid runs at each thread "
                    "count (of a --scaling series, or of the runs by the threads they used), "
                    "the ideal from the one-thread score (dashed) and the roofline where the "
                    "record has one (dotted). Records of different workloads or grid sizes "
                    "are refused, as by plot.",
        epilog=_EXIT_TEXT)
    _chart_arguments(scaling_parser, force=True)

    stress_parser = commands.add_parser(
        "stress", help="the segment rates of a stress record over time",
        description="A panel per grid size and workload of the stress record, a line per "
                    "processor: the rate of each of its segments against the seconds since "
                    "the start. Errors are red crosses and red vertical lines; a processor "
                    "with errors or slow at a size is drawn thick and marked in the legend.",
        epilog=_EXIT_TEXT)
    stress_parser.add_argument("file", metavar="FILE", help="a stress record")
    stress_parser.add_argument("-o", "--output", required=True, type=_chart_path, metavar="OUT",
                               help="the chart to write, PNG or SVG by its extension")
    return parser


class KindError(Exception):
    """Records of a kind the command does not take together or options that do not apply."""


# The kinds each command reads; a record of another kind is refused like a bad file.
_KINDS = {"table": ("benchmark", "stress"), "plot": ("benchmark",),
          "timeline": ("benchmark",), "scaling": ("benchmark",), "stress": ("stress",)}
_OTHER_COMMAND = {"benchmark": "table, plot, timeline and scaling read it",
                  "stress": "table and stress read it"}


def _error(text):
    print(f"{PROG}: {text}", file=sys.stderr)


def _read_all(paths, command):
    reader = RecordReader()
    records = []
    refused = 0
    for path in paths:
        try:
            record = reader.read(path)
            if record.kind not in _KINDS[command]:
                raise Refused(f"a {record.kind} record: {command} does not draw it "
                              f"({_OTHER_COMMAND[record.kind]})")
            records.append(record)
        except Refused as e:
            _error(f"{path}: {e}")
            refused += 1
    return records, refused


def _with_scores(records):
    """The records with a score at some thread count; each other one is refused with a line."""
    kept = []
    for record in records:
        if any(score is not None for _, score in record.series()):
            kept.append(record)
        else:
            _error(f"{record.path}: no valid score at any thread count to draw")
    return kept, len(records) - len(kept)


def _write_stdout(text):
    try:
        sys.stdout.write(text)
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader has gone; keep Python from complaining again at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return False
    return True


def _table(args, records):
    form = "markdown" if args.markdown else "csv" if args.csv else "text"
    kinds = {r.kind for r in records}
    if len(kinds) > 1:
        raise KindError("benchmark and stress records make different tables: give them to "
                        "separate commands")
    if kinds == {"stress"}:
        if args.per_run or args.relative or args.sort:
            raise KindError("--per-run, --relative and --sort are for benchmark records; "
                            "a stress table has a row per processor")
        return _write_stdout(table.stress_table(records, form=form))
    text = table.table(records, per_run=args.per_run, relative=args.relative or "first",
                       sort=args.sort, form=form)
    return _write_stdout(text)


def _chart(args, records):
    if args.command in ("plot", "scaling") and not args.force:
        why = charts.not_comparable(records)
        if why:
            raise charts.ChartError(why)
    if args.command == "plot":
        figure = charts.draw_scores(records)
    elif args.command == "scaling":
        figure = charts.draw_scaling(records)
    elif args.command == "timeline":
        figure = charts.draw_timeline(records)
    else:
        figure = charts.draw_stress(records[0])
    try:
        charts.save(figure, args.output)
    except OSError as e:
        raise charts.ChartError(f"{args.output}: cannot write: {e.strerror or e}")
    return True


def main(argv):
    args = build_parser().parse_args(argv)
    try:
        if args.command != "table":
            charts.load_matplotlib()
        files = [args.file] if args.command == "stress" else args.files
        records, refused = _read_all(files, args.command)
        if args.command == "scaling":
            records, unscored = _with_scores(records)
            refused += unscored
        if not records:
            return 1
        done = _table(args, records) if args.command == "table" else _chart(args, records)
    except (SetupError, charts.ChartError, KindError) as e:
        _error(str(e))
        return 1
    return 0 if done and not refused else 1
