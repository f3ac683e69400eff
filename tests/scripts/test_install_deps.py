"""What scripts/install-deps runs, says and returns when apt-get update or an install fails."""

import os
import subprocess

import pytest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "install-deps")
# Stand-ins, beside their state: `absent` lists what is not installed, `bad` what cannot be
# installed, `fails` how many updates fail from now on (-1: all), `calls` what apt-get was asked.
STANDINS = {
    "id": "echo 0",
    "apt-cache": "exit 100",
    "dpkg": "echo i386",
    "dpkg-query": 'for p; do :; done; ! grep -qxF "$p" absent && echo "install ok installed"',
    "apt-get": """echo "apt-get $*" >>calls
if [ "$1" = update ]; then n=$(cat fails); [ "$n" = 0 ] || { echo $((n - 1)) >fails; exit 100; }; exit 0; fi
shift 4; for p; do ! grep -qxF "$p" bad || exit 100; done
for p; do sed -i "/^$p\\$/d" absent; done""",
}
CASES = {  # arguments, absent, not installable, failing updates -> status, updates, installs, what it says
    "all there": ("--windows", "", "", 0, 0, 0, "", "everything is installed"),
    "update retried": ("", "cmake", "", 2, 0, 3, "cmake", "apt-get update failed; trying again in 0s"),
    "update given up": ("", "cmake", "", -1, 0, 3, "cmake",
                        "apt-get update failed three times; going on with the package lists there are"),
    "no wine32": ("--windows", "cmake wine64 wine32:i386", "wine32:i386", 0, 0, 1, "cmake wine64 wine32:i386",
                  "warning: wine32:i386 could not be installed; "),
    "no cmake": ("--windows", "cmake wine64", "cmake", 0, 1, 1, "cmake wine64", "could not install cmake\n"),
}


@pytest.mark.parametrize("case", CASES)
def test_decisions(tmp_path, case):
    arguments, absent, bad, fails, status, updates, installs, says = CASES[case]
    for name, body in STANDINS.items():
        (tmp_path / name).write_text(f'#!/bin/sh\ncd "$STATE" || exit 99\n{body}\n')
        (tmp_path / name).chmod(0o755)
    for name, values in (("absent", absent), ("bad", bad), ("fails", str(fails)), ("calls", "")):
        (tmp_path / name).write_text("".join(f"{v}\n" for v in values.split()))
    env = dict(os.environ, PATH=f"{tmp_path}:/usr/bin:/bin", STATE=str(tmp_path), VELTO_APT_RETRY_PAUSE="0")
    run = subprocess.run([SCRIPT, *arguments.split()], env=env, stdin=subprocess.DEVNULL, capture_output=True,
                         text=True, timeout=60)
    calls = ["apt-get update -q"] * updates
    calls += [f"apt-get install -y -q --no-install-recommends {p}" for p in installs.split()]
    assert (run.returncode, (tmp_path / "calls").read_text().splitlines()) == (status, calls), run.stderr
    assert f"install-deps: {says}" in run.stdout + run.stderr
