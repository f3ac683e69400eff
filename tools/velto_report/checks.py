"""What a record must agree with besides the schema.

The schema says what each field may hold; it cannot say that the fields agree
with each other. After it, a record is checked in this order, and the first
problem found is the one reported:

1. every number is finite and below 2^64 (velto writes nothing larger);
2. the rates, times and frequencies the schema leaves open are not negative;
3. each run: a valid run has thread rows, the rows are threads_used threads
   numbered 0 to n - 1, each row's rate is its updates over its fast-timer
   time, and the run's score is the sum of its rows' rates;
4. a scaling series: its points are the first counts of its thread_counts,
   their runs add up to the record's, and each point's valid runs and median
   are those of its runs;
5. the summary: its counts and figures are those of the valid runs' scores
   (of a scaling series, the runs of its last point, the largest count).

A stress record has neither runs nor summary; after 1 and 2 its counts must
add up instead (stress_problem).

velto writes every digit of a double, so a record's figures come back exactly;
the tolerance only absorbs a build whose arithmetic rounds differently.
"""

import math

_BEYOND = 2**64
_RELATIVE = 1e-9


def median(values):
    """The median as velto takes it (the mean of the middle two of an even count); None for
    no values."""
    values = sorted(values)
    n = len(values)
    if n == 0:
        return None
    return values[n // 2] if n % 2 else (values[n // 2 - 1] + values[n // 2]) / 2.0


def point_runs(record):
    """The runs of each point of a scaling series, as velto lays them out: each point's
    `runs` runs in turn, in the order of the points (a run that failed before it counted its
    threads says 0 in threads_used)."""
    groups, start = [], 0
    for point in record["scaling"]["points"]:
        groups.append(record["runs"][start:start + point["runs"]])
        start += point["runs"]
    return groups


def summary_runs(record):
    """The runs the record's summary covers: of a scaling series those of its last point,
    the largest count that ran (the machine's score), else all of them."""
    if not record.get("scaling", {}).get("points"):
        return record["runs"]
    return point_runs(record)[-1]


def summarise(runs):
    """The summary of the runs, keyed as the record's: counts, and the median, min, max, mean,
    sample standard deviation and spread (percent of the median) of the valid runs' scores,
    computed as velto computes them; None where velto writes null."""
    scores = sorted(run["score_mgups"] for run in runs if run["valid"])
    n = len(scores)
    summary = {"runs": len(runs), "valid_runs": n, "median_mgups": None, "min_mgups": None,
               "max_mgups": None, "mean_mgups": None, "stddev_mgups": None, "spread_pct": None}
    if n == 0:
        return summary
    middle = median(scores)
    mean = _add(scores) / n
    summary.update({
        "median_mgups": middle,
        "min_mgups": scores[0],
        "max_mgups": scores[-1],
        "mean_mgups": mean,
        "spread_pct": (scores[-1] - scores[0]) / middle * 100.0 if middle > 0 else 0.0,
    })
    if n >= 2:
        summary["stddev_mgups"] = math.sqrt(_add([(s - mean) * (s - mean) for s in scores])
                                            / (n - 1))
    return summary


def _add(values):
    # Left to right, as velto adds: sum() of floats may compensate in newer Pythons.
    total = 0.0
    for value in values:
        total += value
    return total


def problem(record):
    """The first thing in a schema-valid record that velto could not have written, as one
    line; None when there is none."""
    first = _number_problem(record, "$") or _negative_problem(record)
    if first or record["kind"] == "stress":
        return first or _stress_problem(record["stress"])
    return _runs_problem(record) or _scaling_problem(record) or _summary_problem(record)


def _figure(value):
    """A number as the line shows it."""
    if value is None:
        return "null"
    if isinstance(value, float):
        if math.isnan(value):
            return "NaN"
        if math.isinf(value):
            return "Infinity" if value > 0 else "-Infinity"
        return repr(value)
    digits = str(abs(value))
    if len(digits) > 24:
        return f"a {len(digits)}-digit number"
    return str(value)


def _number_problem(node, path):
    if isinstance(node, dict):
        items = ((f"{path}.{key}", value) for key, value in node.items())
    elif isinstance(node, list):
        items = ((f"{path}[{i}]", value) for i, value in enumerate(node))
    else:
        if isinstance(node, bool) or not isinstance(node, (int, float)):
            return None
        if isinstance(node, float) and not math.isfinite(node):
            return f"{_figure(node)} is not a finite number (at {path})"
        if abs(node) >= _BEYOND:
            return f"{_figure(node)} is beyond any figure velto writes (at {path})"
        return None
    for where, value in items:
        found = _number_problem(value, where)
        if found:
            return found
    return None


def _not_negative(record):
    """The rates, times and frequencies whose schema allows a negative value, with paths."""
    for name in ("fast", "coarse"):
        for key in ("frequency_hz", "report_frequency_hz"):
            yield f"$.timers.{name}.{key}", record["timers"][name][key]
    for i, run in enumerate(record.get("runs", [])):
        for j, row in enumerate(run["threads"]):
            for key in ("fast_us", "coarse_ms", "rate_mgups"):
                yield f"$.runs[{i}].threads[{j}].{key}", row[key]


def _negative_problem(record):
    for path, value in _not_negative(record):
        if value < 0:
            return f"{_figure(value)} is negative (at {path})"
    return None


def _agrees(written, computed, scale=0.0):
    if written is None or computed is None:
        return written is None and computed is None
    return abs(written - computed) <= _RELATIVE * max(abs(written), abs(computed), scale)


def _contradiction(name, written, source, computed, path):
    given = "none" if computed is None else _figure(computed)
    return (f"contradicts itself: {name} is {_figure(written)}, {source} give {given} "
            f"(at {path})")


def _runs_problem(record):
    asked = record["config"]["runs"]
    what = "config.runs asked for"
    if "scaling" in record:
        counts = len(record["scaling"]["thread_counts"])
        asked *= counts
        what = f"config.runs at {counts} thread counts asks for"
    if len(record["runs"]) > asked:
        return (f"contradicts itself: the record holds {len(record['runs'])} runs, {what} "
                f"{asked} (at $.runs)")
    for i, run in enumerate(record["runs"]):
        found = _run_problem(run, f"$.runs[{i}]")
        if found:
            return found
    return None


def _run_problem(run, path):
    rows = run["threads"]
    if not rows:
        if run["valid"]:
            return f"contradicts itself: a valid run without thread rows (at {path}.threads)"
        return None
    if len(rows) != run["threads_used"]:
        return _contradiction("threads_used", run["threads_used"], "its thread rows", len(rows),
                              f"{path}.threads_used")
    seen = {}
    for j, row in enumerate(rows):
        index = row["index"]
        where = f"{path}.threads[{j}].index"
        if index >= len(rows):
            return (f"contradicts itself: index is {index}, a run of {len(rows)} threads "
                    f"numbers them 0 to {len(rows) - 1} (at {where})")
        if index in seen:
            return (f"contradicts itself: index {index} is already that of "
                    f"threads[{seen[index]}] (at {where})")
        seen[index] = j
    score = 0.0
    for j, row in enumerate(rows):
        where = f"{path}.threads[{j}]"
        if row["fast_us"] == 0:
            return (f"contradicts itself: rate_mgups is {_figure(row['rate_mgups'])}, but "
                    f"fast_us is 0 (at {where}.fast_us)")
        # As velto computes it: millions of updates over seconds.
        rate = (row["updates"] / 1000000.0) / (row["fast_us"] / 1000000.0)
        if not _agrees(row["rate_mgups"], rate):
            return _contradiction("rate_mgups", row["rate_mgups"], "updates / fast_us", rate,
                                  f"{where}.rate_mgups")
        score += row["rate_mgups"]
    if run["valid"] and not _agrees(run["score_mgups"], score):
        return _contradiction("score_mgups", run["score_mgups"], "its thread rows' rates", score,
                              f"{path}.score_mgups")
    return None


def _summary_problem(record):
    written = record["summary"]
    computed = summarise(summary_runs(record))
    scale = computed["max_mgups"] or 0.0
    for key, value in computed.items():
        if key in ("runs", "valid_runs"):
            same = written[key] == value
            source = "the record's runs"
        else:
            same = _agrees(written[key], value, scale if key.endswith("_mgups") else 1.0)
            source = "the valid runs' scores"
        if not same:
            return _contradiction(key, written[key], source, value, f"$.summary.{key}")
    return None


def _scaling_problem(record):
    if "scaling" not in record:
        return None
    points = record["scaling"]["points"]
    counts = record["scaling"]["thread_counts"]
    if [p["threads"] for p in points] != counts[:len(points)]:
        return ("contradicts itself: the points' threads are not the first of thread_counts "
                "(at $.scaling.points)")
    held = sum(p["runs"] for p in points)
    if points and held != len(record["runs"]):
        return (f"contradicts itself: the points hold {held} runs, the record "
                f"{len(record['runs'])} (at $.scaling.points)")
    for i, (point, runs) in enumerate(zip(points, point_runs(record))):
        computed = summarise(runs)
        for key in ("valid_runs", "median_mgups"):
            if not _agrees(point[key], computed[key]):
                return _contradiction(key, point[key], "its runs", computed[key],
                                      f"$.scaling.points[{i}].{key}")
    return None


# A stress record keeps the first this many errors; error_count counts them all.
ERRORS_KEPT = 1000


def _stress_problem(stress):
    processors = stress["processors"]
    where = "$.stress"
    for key, row_key in (("segments", "segments"), ("error_count", "errors")):
        total = sum(p[row_key] for p in processors)
        if stress[key] != total:
            return _contradiction(key, stress[key], "its processors", total, f"{where}.{key}")
    kept = min(stress["error_count"], ERRORS_KEPT)
    if len(stress["errors"]) != kept:
        return (f"contradicts itself: errors holds {len(stress['errors'])} entries, an "
                f"error_count of {stress['error_count']} keeps {kept} (at {where}.errors)")
    sizes = stress["grid_sizes"]
    if sizes != sorted(sizes):
        return f"contradicts itself: grid_sizes are not in ascending order (at {where}.grid_sizes)"
    numbers = {p["processor"] for p in processors}
    for i, error in enumerate(stress["errors"]):
        if error["processor"] not in numbers:
            return (f"contradicts itself: processor {error['processor']} is not among the "
                    f"processors (at {where}.errors[{i}].processor)")
    for j, p in enumerate(processors):
        found = _processor_problem(p, stress, f"{where}.processors[{j}]")
        if found:
            return found
    return None


def _unknown_kind(workload, size, stress):
    """Why a kind of segment is not one the test ran, or None when it is."""
    if workload not in stress["workloads"]:
        return f"workload {workload}, which is not among workloads"
    if size not in stress["grid_sizes"]:
        return f"grid size {size}, which is not among grid_sizes"
    if not any(a["workload"] == workload and a["grid_size"] == size
               for a in stress["known_answers"]):
        return f"{workload} at {size}, which has no known answer"
    return None


def _processor_problem(p, stress, path):
    if (p["first_error_s"] is None) != (p["errors"] == 0):
        return (f"contradicts itself: first_error_s is {_figure(p['first_error_s'])} with "
                f"{p['errors']} errors (at {path}.first_error_s)")
    medians = [(w, int(size), f"{path}.median_mgups.{w}")
               for w, by_size in p["median_mgups"].items() for size in by_size]
    slow = [(s["workload"], s["grid_size"], f"{path}.slow[{k}]") for k, s in enumerate(p["slow"])]
    for key, kinds in (("median_mgups", medians), ("slow", slow)):
        for workload, size, at in kinds:
            why = _unknown_kind(workload, size, stress)
            if why:
                return f"contradicts itself: {key} names {why} (at {at})"
    for workload, size, at in slow:
        if str(size) not in p["median_mgups"].get(workload, {}):
            return (f"contradicts itself: slow names {workload} at {size}, which has no "
                    f"median_mgups (at {at})")
    return None
