"""Checks of what the release packages are made from: the zip writer gives the
same bytes for the same files however and whenever they were made, with its
members sorted; the package texts keep up with the project's version.

    /usr/bin/python3 -m pytest tests/packaging
"""

import os
import re
import sys
import zipfile

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))

sys.path.insert(0, os.path.join(ROOT, "packaging"))
import sorted_zip  # noqa: E402  (packaging/ is not a package)

EPOCH = 1796795433  # 2026-12-09 05:50:33 UTC
FILES = {
    "velto.exe": (b"MZ" + bytes(range(256)) * 64, 0o755),
    "README.txt": (b"velto\r\n=====\r\n", 0o644),
    "LICENSE.txt": (b"MIT License\r\n", 0o644),
    "docs/b.md": (b"b\n", 0o644),
    "docs/a.md": (b"a\n", 0o600),
}


def stage(base, order, mtime):
    top = os.path.join(base, "velto-" + project_version() + "-win32")
    for name in order:
        path = os.path.join(top, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        content, mode = FILES[name]
        with open(path, "wb") as f:
            f.write(content)
        os.chmod(path, mode)
        os.utime(path, (mtime, mtime))
    return base


def make(tmp_path, label, order, mtime):
    base = stage(str(tmp_path / label), order, mtime)
    out = str(tmp_path / f"{label}.zip")
    sorted_zip.write_zip(out, base, "velto-" + project_version() + "-win32", EPOCH)
    with open(out, "rb") as f:
        return out, f.read()


def test_same_files_same_bytes_whatever_their_order_and_times(tmp_path):
    names = list(FILES)
    first, first_bytes = make(tmp_path, "a", names, 1_000_000_000)
    _, second_bytes = make(tmp_path, "b", list(reversed(names)), 1_900_000_000)
    assert first_bytes == second_bytes

    with zipfile.ZipFile(first) as archive:
        members = archive.infolist()
        assert [m.filename for m in members] == sorted(
            "velto-" + project_version() + "-win32/" + name for name in FILES)
        for member in members:
            name = member.filename.split("/", 1)[1]
            content, mode = FILES[name]
            assert archive.read(member) == content
            assert member.date_time == (2026, 12, 9, 5, 50, 32)  # two-second clock
            # only the executable bit of the file is kept, not its other modes
            want = 0o755 if mode & 0o100 else 0o644
            assert (member.external_attr >> 16) & 0o777 == want, name
            assert member.extra == b"", "no owner, no extra time stamps"


def test_a_changed_byte_changes_the_zip(tmp_path):
    _, before = make(tmp_path, "a", list(FILES), EPOCH)
    FILES["README.txt"] = (b"velto!\r\n=====\r\n", 0o644)
    try:
        _, after = make(tmp_path, "b", list(FILES), EPOCH)
    finally:
        FILES["README.txt"] = (b"velto\r\n=====\r\n", 0o644)
    assert before != after


def test_times_before_the_zip_clock_are_clamped(tmp_path):
    base = stage(str(tmp_path / "old"), list(FILES), 0)
    out = str(tmp_path / "old.zip")
    sorted_zip.write_zip(out, base, "velto-" + project_version() + "-win32", 0)
    with zipfile.ZipFile(out) as archive:
        assert {m.date_time for m in archive.infolist()} == {(1980, 1, 1, 0, 0, 0)}


@pytest.mark.parametrize("argv, status", [
    (["sorted_zip.py"], 2),
    (["sorted_zip.py", "out.zip", "/nonexistent", "top", "0"], 1),
])
def test_bad_arguments(argv, status):
    assert sorted_zip.main(argv) == status


def project_version():
    """The version CMake read from the project() call; ctest passes it."""
    return os.environ["VELTO_VERSION"]


def test_changelog_names_the_project_version_first():
    with open(os.path.join(ROOT, "packaging", "debian", "changelog"), encoding="utf-8") as f:
        text = f.read()
    first = text.splitlines()[0]
    assert re.fullmatch(r"velto \(([0-9.]+)\) unstable; urgency=\w+", first), first
    assert first.split("(")[1].split(")")[0] == project_version()
    # every entry ends with a maintainer line in Debian's date format
    trailers = re.findall(r"^ -- .+ <.+>  \w{3}, \d\d \w{3} \d{4} \d\d:\d\d:\d\d [+-]\d{4}$",
                          text, re.M)
    assert len(trailers) == len(re.findall(r"^velto \(", text, re.M))


def test_copyright_is_machine_readable_and_the_license_is_the_projects():
    with open(os.path.join(ROOT, "packaging", "debian", "copyright"), encoding="utf-8") as f:
        copyright_text = f.read()
    assert copyright_text.startswith(
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")
    with open(os.path.join(ROOT, "LICENSE"), encoding="utf-8") as f:
        license_text = f.read()
    # the license's own paragraphs, as the copyright file folds them
    body = license_text.split("\n\n", 2)[2]
    folded = "\n".join(" " + line if line else " ." for line in body.rstrip("\n").split("\n"))
    assert folded in copyright_text
