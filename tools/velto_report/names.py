"""The short names a table or a chart shows for a record."""

import os
import re

# What a processor's brand string carries besides its name: marks, the clock,
# generation and core-count words, "CPU", "Processor", integrated graphics.
_BRAND_NOISE = [
    re.compile(r"\((?:R|TM|C)\)|[\u00ae\u2122]", re.IGNORECASE),
    re.compile(r"\s@.*$"),
    re.compile(r"\s+with\s.*$", re.IGNORECASE),
    re.compile(r"\b\d+(?:st|nd|rd|th)\s+Gen(?:eration)?\b", re.IGNORECASE),
    re.compile(r"\b\w+-Cores?\b", re.IGNORECASE),
    re.compile(r"\b(?:CPU|APU|Processor)\b", re.IGNORECASE),
]


def shorten_brand(brand, vendor="unknown"):
    """The brand without marks, clock and filler words ("Intel Core i7-8700K"); for an
    empty brand string the vendor's name."""
    text = brand
    for pattern in _BRAND_NOISE:
        text = pattern.sub(" ", text)
    text = " ".join(text.split())
    if text:
        return text
    return {"intel": "Intel processor", "amd": "AMD processor"}.get(vendor, "unknown processor")


def build_name(velto):
    """The build a record came from, as "windows x86" or "linux x86_64"."""
    return f"{velto['os']} {velto['arch']}"


def os_text(machine):
    """The operating system's name; Windows' name alone says nothing, so its version follows."""
    name = machine["os_name"] or machine["os_version"]
    if name == "Windows" and machine["os_version"]:
        return f"Windows {machine['os_version']}"
    return name


def threads_text(threads):
    if threads is None:
        return "auto threads"
    return f"{threads} thread" if threads == 1 else f"{threads} threads"


def kind_label(workload, size):
    """A kind of segment as the console heads its column: the initials of the workload's
    words and the grid size ("sw 64")."""
    return "".join(word[0] for word in workload.split("_")) + f" {size}"


def record_labels(records, threads=True):
    """One label per record, as a list of parts: the brand and the threads (unless threads is
    false); the build and the workload with the grid size when the records differ in them;
    the file's name when that still leaves two records alike."""
    labels = [[r.short_brand] + ([threads_text(r.threads)] if threads else []) for r in records]
    for part in (lambda r: r.build, lambda r: f"{r.workload} {r.grid_size}"):
        values = [part(r) for r in records]
        if len(set(values)) > 1:
            for label, value in zip(labels, values):
                label.append(value)
    if len({tuple(label) for label in labels}) < len(labels):
        for label, record in zip(labels, records):
            label.append(os.path.basename(record.path))
    return labels
