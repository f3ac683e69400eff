"""Reading result records.

A file is read whole, checked for the format's name and version before
anything else, validated against the record schema, then checked for what the
schema cannot see (checks); whatever is wrong with it becomes one Refused whose
text names the problem in a line.
"""

import json
import os

from velto_report import SCHEMA_VERSION
from velto_report.checks import median, problem, summarise, summary_runs
from velto_report.names import build_name, os_text, shorten_brand

# Validation messages quote the offending value; a whole object would not fit
# on the line.
_MESSAGE_LIMIT = 160

# velto's records nest a dozen levels deep (the topology's processors); far
# deeper input is refused before validation, which would recurse through it.
_DEPTH_LIMIT = 64


class Refused(Exception):
    """A file this tool does not read; str() says why, in one line."""


class SetupError(Exception):
    """The tool cannot work here (a package or the schema is missing); str() says what to do."""


def schema_path():
    """The record schema: $VELTO_REPORT_SCHEMA, else docs/ beside the folder holding the package."""
    override = os.environ.get("VELTO_REPORT_SCHEMA")
    if override:
        return override
    tools = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    return os.path.normpath(os.path.join(tools, "..", "docs", "velto-result.schema.json"))


def _one_line(text):
    text = " ".join(str(text).split())
    return text if len(text) <= _MESSAGE_LIMIT else text[:_MESSAGE_LIMIT - 3] + "..."


class RecordReader:
    """Reads and checks records against the schema, which is loaded on first use."""

    def __init__(self):
        self._validator = None

    def _schema_validator(self):
        if self._validator is None:
            try:
                import jsonschema
            except ImportError:
                raise SetupError("reading records needs jsonschema: install python3-jsonschema")
            path = schema_path()
            try:
                with open(path, encoding="utf-8") as f:
                    schema = json.load(f)
            except (OSError, ValueError) as e:
                reason = e.strerror if isinstance(e, OSError) and e.strerror else e
                raise SetupError(f"cannot read the record schema {path}: {_one_line(reason)}")
            self._validator = jsonschema.Draft202012Validator(schema)
        return self._validator

    def read(self, path):
        """The Record in path; raises Refused for anything that is not a record this tool reads."""
        validator = self._schema_validator()
        try:
            with open(path, "rb") as f:
                raw = f.read()
        except OSError as e:
            raise Refused(f"cannot read: {e.strerror or e}")
        try:
            document = json.loads(raw.decode("utf-8"))
        except UnicodeDecodeError:
            raise Refused("not JSON: not UTF-8 text")
        except ValueError as e:
            raise Refused(f"not JSON: {_one_line(e)}")
        except RecursionError:
            raise Refused(_TOO_DEEP)
        if not isinstance(document, dict):
            raise Refused("not a velto result record (not a JSON object)")
        if "schema" not in document:
            raise Refused("not a velto result record (no \"schema\" field)")
        if document["schema"] != "velto-result":
            raise Refused("not a velto result record (schema is "
                          f"{_one_line(json.dumps(document['schema']))})")
        version = document.get("schema_version")
        # bool is an int to Python; the schema refuses it below.
        if isinstance(version, int) and not isinstance(version, bool) and version > SCHEMA_VERSION:
            raise Refused(f"schema_version {version} is newer than this velto-report reads "
                          f"({SCHEMA_VERSION}); a newer velto-report reads it")
        if _too_deep(document):
            raise Refused(_TOO_DEEP)
        if version == 1:
            document = _from_version_1(document)
        import jsonschema
        error = jsonschema.exceptions.best_match(validator.iter_errors(document))
        if error is not None:
            where = error.json_path
            at = "" if where == "$" else f" (at {where})"
            raise Refused(f"not valid against the record schema: {_one_line(error.message)}{at}")
        found = problem(document)
        if found:
            raise Refused(found)
        if document["kind"] == "stress":
            return StressRecord(path, document)
        return Record(path, document)


_TOO_DEEP = "not a velto result record (nested too deeply)"


def _from_version_1(document):
    """A version-1 record as version 2 writes it: a benchmark record, kind after
    schema_version. Version 1 had no kind, so one given is refused as the schema of that
    version would refuse it."""
    if "kind" in document:
        raise Refused("not valid against the record schema: Additional properties are not "
                      "allowed ('kind' was unexpected)")
    upgraded = {}
    for key, value in document.items():
        upgraded[key] = 2 if key == "schema_version" else value
        if key == "schema_version":
            upgraded["kind"] = "benchmark"
    return upgraded


def _too_deep(document):
    """Whether objects and arrays nest beyond the limit, walked without recursion."""
    pending = [(document, 1)]
    while pending:
        node, depth = pending.pop()
        if isinstance(node, dict):
            node = list(node.values())
        if isinstance(node, list):
            if depth > _DEPTH_LIMIT:
                return True
            pending.extend((child, depth + 1) for child in node)
    return False


def _valid_runs(runs):
    return [r for r in runs if r["valid"]]


class _Envelope:
    """What every record holds: the machine, the build and the options."""

    def __init__(self, path, data):
        self.path = path
        self.data = data
        self.kind = data["kind"]
        self.brand = data["machine"]["brand"]
        self.short_brand = shorten_brand(self.brand, data["machine"]["vendor"])
        self.build = build_name(data["velto"])
        self.os = os_text(data["machine"])


class StressRecord(_Envelope):
    """One checked stress record: the test's settings and outcome, and its processors."""

    def __init__(self, path, data):
        super().__init__(path, data)
        self.stress = data["stress"]
        self.processors = self.stress["processors"]
        self.threads = self.stress["threads"]


class Record(_Envelope):
    """One checked benchmark record and the figures a report shows of it."""

    def __init__(self, path, data):
        super().__init__(path, data)
        self.grid_size = data["config"]["grid_size"]
        self.workload = data["config"]["workload"]
        self.runs = data["runs"]
        # Computed from the runs; the record's own summary only had to agree with it.
        self._summary_runs = summary_runs(data)
        self.summary = summarise(self._summary_runs)
        self.scaling = data.get("scaling")

    @property
    def threads(self):
        """The threads the summary's runs used (of the first run that counted them), else the
        count asked for; None for an automatic count that no run reached."""
        for run in _valid_runs(self._summary_runs) + self._summary_runs:
            if run["threads_used"] > 0:
                return run["threads_used"]
        return self.data["config"]["threads"] or None

    @property
    def score(self):
        """The median of the valid runs' scores; None without a valid run."""
        return self.summary["median_mgups"]

    @property
    def other_cpu_share(self):
        """The largest share of the machine that other programs took during a valid run of the
        summary's."""
        shares = [r["other_cpu_share"] for r in _valid_runs(self._summary_runs)
                  if r["other_cpu_share"] is not None]
        return max(shares) if shares else None

    @property
    def throttle_pct(self):
        """The strongest slowdown (the lowest throttle_pct) of the summary's valid runs."""
        values = [r["throttle_pct"] for r in _valid_runs(self._summary_runs)
                  if r["throttle_pct"] is not None]
        return min(values) if values else None

    def series(self):
        """The median score at each thread count, ascending, as (threads, MGups or None): the
        points of a scaling series, else the runs grouped by the threads they used (a run
        that failed before it counted them is left out)."""
        if self.scaling:
            return [(p["threads"], p["median_mgups"]) for p in self.scaling["points"]]
        counts = sorted({run["threads_used"] for run in self.runs} - {0})
        return [(n, summarise([r for r in self.runs if r["threads_used"] == n])["median_mgups"])
                for n in counts]

    def rooflines(self):
        """The roofline at each thread count measured, ascending, as (threads, MGups); empty
        without --roofline."""
        measured = self.data.get("roofline", {"measurements": []})["measurements"]
        return sorted((m["threads"], m["roofline_mgups"]) for m in measured)

    @property
    def roofline(self):
        """The score's roofline and its share of it (percent) as (MGups, percent): of a
        scaling series its point at the largest count, else the median of the valid runs'
        figures; (None, None) without them."""
        if self.scaling and self.scaling["points"]:
            top = self.scaling["points"][-1]
            return top["roofline_mgups"], top["roofline_pct"]
        return tuple(median([r[key] for r in _valid_runs(self.runs) if r.get(key) is not None])
                     for key in ("roofline_mgups", "roofline_pct"))
