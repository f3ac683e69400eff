"""The names a table or a chart gives a record."""

from types import SimpleNamespace

import pytest

from velto_report.names import record_labels, shorten_brand


@pytest.mark.parametrize("brand, vendor, short", [
    ("Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz", "intel", "Intel Core i7-8700K"),
    ("12th Gen Intel(R) Core(TM) i7-12700K", "intel", "Intel Core i7-12700K"),
    ("Intel(R) Core(TM)2 Quad CPU    Q6600  @ 2.40GHz", "intel", "Intel Core 2 Quad Q6600"),
    ("Intel(R) Xeon(R) Processor", "intel", "Intel Xeon"),
    ("Intel(R) Pentium(R) 4 CPU 3.00GHz", "intel", "Intel Pentium 4 3.00GHz"),
    ("AMD Ryzen 9 5950X 16-Core Processor", "amd", "AMD Ryzen 9 5950X"),
    ("AMD Ryzen Threadripper PRO 5995WX 64-Cores", "amd", "AMD Ryzen Threadripper PRO 5995WX"),
    ("AMD Ryzen 7 PRO 4750U with Radeon Graphics", "amd", "AMD Ryzen 7 PRO 4750U"),
    ("AMD Athlon(tm) II X4 640 Processor", "amd", "AMD Athlon II X4 640"),
    ("   ", "amd", "AMD processor"),
    ("", "unknown", "unknown processor"),
])
def test_shorten_brand(brand, vendor, short):
    assert shorten_brand(brand, vendor) == short


def rec(brand="Intel Xeon", threads=2, build="linux x86_64", workload="standing_wave", grid=192,
        path="/r/a.json"):
    return SimpleNamespace(short_brand=brand, threads=threads, build=build, workload=workload,
                           grid_size=grid, path=path)


@pytest.mark.parametrize("records, labels", [
    ([rec(threads=1), rec()], [["Intel Xeon", "1 thread"], ["Intel Xeon", "2 threads"]]),
    ([rec(), rec(build="windows x86")],
     [["Intel Xeon", "2 threads", "linux x86_64"], ["Intel Xeon", "2 threads", "windows x86"]]),
    ([rec(threads=None), rec(grid=64)],
     [["Intel Xeon", "auto threads", "standing_wave 192"],
      ["Intel Xeon", "2 threads", "standing_wave 64"]]),
    ([rec(), rec(path="/r/b.json")],
     [["Intel Xeon", "2 threads", "a.json"], ["Intel Xeon", "2 threads", "b.json"]]),
])
def test_record_labels_tell_the_records_apart(records, labels):
    assert record_labels(records) == labels
