#!/usr/bin/env python3
"""Writes the seed corpora of the two fuzzers (run once; the output is committed).

command_line/: argument vectors, arguments separated by NUL bytes, the first
being the program's path; together they use every option.
topology_records/: processor-information buffers as GetLogicalProcessorInformationEx
(RelationAll) fills them for 32-bit and 64-bit processes, for a few machines.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

COMMAND_LINES = {
    "no_arguments": ["velto.exe"],
    "empty_vector": [],
    "help_long": ["C:\\bench\\velto.exe", "--help"],
    "help_short": ["./velto", "-h"],
    "help_question": ["velto", "-?"],
    "help_and_topology": ["velto", "--help", "--topo-debug"],
    "topology": ["/usr/local/bin/velto", "--topo-debug"],
    "timers": ["velto", "--timer-debug"],
    "fish": ["velto", "--velto"],
    "fish_invalid_size": ["velto", "--velto", "--size", "100"],
    "run_all_long": ["velto", "--numthreads", "4", "--duration", "60", "--size", "256",
                     "--workload", "soft_gaussian", "--threading", "numa", "--large-pages",
                     "--bypass-timer-check"],
    "run_all_short": ["velto", "-n", "2", "-d", "1", "-s", "64", "--threading", "phte"],
    "run_equals": ["velto", "--size=512", "--duration=1000", "--numthreads=0",
                   "--threading=os", "--workload=standing_wave"],
    "run_huge_grid": ["velto", "-s", "8192", "-d", "0"],
    "invalid_size": ["velto", "--size", "100"],
    "invalid_size_help": ["velto", "--size", "100", "--help"],
    "invalid_workload": ["velto", "--workload", "Standing_Wave"],
    "invalid_threading": ["velto", "--threading", "foo"],
    "invalid_number": ["velto", "-n", "12x"],
    "negative_number": ["velto", "-d", "-1"],
    "too_wide_number": ["velto", "-n", "4294967296"],
    "missing_value": ["velto", "--size"],
    "unknown_option": ["velto", "--turbo"],
    "stray_argument": ["velto", "extra"],
    "record_series": ["velto", "-s", "64", "--runs", "3", "--export-json", "out/r.json",
                      "--no-prompt"],
    "runs_out_of_range": ["velto", "--runs", "101"],
    "version": ["velto", "--help", "--version", "--topo-debug"],
}

# SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX relationships.
CORE, NUMA, CACHE, PACKAGE, GROUP = 0, 1, 2, 3, 4


def group_affinity(ptr, mask, group):
    return struct.pack("<Q" if ptr == 8 else "<I", mask) + struct.pack("<H6x", group)


def record(ptr, relationship, body):
    # The system pads each record to the size of the structure's largest
    # member; 8-byte alignment is enough for the parser.
    size = 8 + len(body)
    size += -size % 8
    body += bytes(size - 8 - len(body))
    return struct.pack("<II", relationship, size) + body


def processor(ptr, relationship, masks, efficiency=0, smt=False):
    body = struct.pack("<BB20xH", 1 if smt else 0, efficiency, len(masks))
    body += b"".join(group_affinity(ptr, m, g) for g, m in masks)
    return record(ptr, relationship, body)


def numa(ptr, number, masks, windows11=False):
    body = struct.pack("<I18xH", number, len(masks) if windows11 else 0)
    body += b"".join(group_affinity(ptr, m, g) for g, m in masks)
    return record(ptr, NUMA, body)


def cache(ptr, level, kind, size, masks):
    body = struct.pack("<BBHII18xH", level, 12 if level == 3 else 8, 64, size, kind, len(masks))
    body += b"".join(group_affinity(ptr, m, g) for g, m in masks)
    return record(ptr, CACHE, body)


def groups(ptr, active):
    body = struct.pack("<HH20x", len(active), len(active))
    for count in active:
        mask = (1 << count) - 1
        body += struct.pack("<BB38x", count, count)
        body += struct.pack("<Q" if ptr == 8 else "<I", mask)
    return record(ptr, GROUP, body)


def bits(first, count):
    return ((1 << count) - 1) << first


def machine(ptr, nodes, llcs_per_node, cores_per_llc, smt, efficiency=lambda core: 0,
            windows11=False):
    """A machine filling group 0 (and group 1 when it has more processors than
    a mask holds), listed the way the system lists it: per core its caches,
    then the core; per package and node their masks."""
    width = ptr * 8
    threads = 2 if smt else 1
    out = b""
    total = nodes * llcs_per_node * cores_per_llc * threads
    group_sizes = []
    left = total
    while left > 0:
        group_sizes.append(min(left, width))
        left -= group_sizes[-1]
    out += groups(ptr, group_sizes)

    def where(processor_index):
        return processor_index // width, processor_index % width

    core = 0
    node_masks = []
    for node in range(nodes):
        masks = {}
        for _llc in range(llcs_per_node):
            llc_masks = {}
            for _ in range(cores_per_llc):
                group, bit = where(core * threads)
                mask = bits(bit, threads)
                out += cache(ptr, 1, 1, 48 * 1024, [(group, mask)])
                out += cache(ptr, 1, 2, 32 * 1024, [(group, mask)])
                out += cache(ptr, 2, 3, 1280 * 1024, [(group, mask)])
                out += processor(ptr, CORE, [(group, mask)], efficiency(core), smt)
                llc_masks[group] = llc_masks.get(group, 0) | mask
                masks[group] = masks.get(group, 0) | mask
                core += 1
            out += cache(ptr, 3, 3, 30 * 1024 * 1024, sorted(llc_masks.items()))
        node_masks.append(sorted(masks.items()))
        out += processor(ptr, PACKAGE, sorted(masks.items()))
    for node, masks in enumerate(node_masks):
        if windows11:
            out += numa(ptr, node, masks, windows11=True)
        else:
            out += numa(ptr, node, masks[:1])
    return out


def topology_seeds():
    seeds = {}
    for ptr in (4, 8):
        bits_name = "%dbit" % (ptr * 8)
        seeds["desktop_4c8t_" + bits_name] = machine(ptr, 1, 1, 4, True)
        seeds["server_2nodes_2l3_" + bits_name] = machine(ptr, 2, 2, 4, True)
        seeds["hybrid_8p16e_" + bits_name] = machine(
            ptr, 1, 1, 24, False, efficiency=lambda core: 1 if core < 8 else 0)
        # More processors than one mask holds: the node and its cache span two
        # groups, listed the newer way with a GroupCount.
        seeds["two_groups_" + bits_name] = machine(ptr, 1, 1, 24 if ptr == 4 else 48, True,
                                                   windows11=True)
        seeds["no_l3_" + bits_name] = b"".join(
            [processor(ptr, CORE, [(0, bits(2 * c, 2))], 0, True) for c in range(2)] +
            [numa(ptr, 0, [(0, bits(0, 4))])])
        # Sizes that lie: a truncated last record, and a last record claiming
        # more bytes than remain.
        whole = machine(ptr, 1, 1, 2, True)
        seeds["truncated_" + bits_name] = whole[:-5]
        last = processor(ptr, CORE, [(0, bits(4, 2))], 0, True)
        seeds["size_past_end_" + bits_name] = (whole + last[:4] + struct.pack("<I", 4096) +
                                               last[8:])
    return seeds


def write(directory, name, data):
    path = os.path.join(HERE, "corpus", directory)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as f:
        f.write(data)


def main():
    for name, arguments in COMMAND_LINES.items():
        write("command_line", name, b"\0".join(a.encode() for a in arguments))
    for name, data in topology_seeds().items():
        write("topology_records", name, data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
