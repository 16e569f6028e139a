#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""vexalo4-cli replace --regex against sd in its default (regex) mode.

    python3 bench/regex.py --cli build/bin/vexalo4-cli --dir /dev/shm/vexalo-bench [--runs 8] [--huge FILE]

DIR holds the corpus bench/run.sh makes (master/small, master/large). Two
patterns: the corpus's literal needle, and [Nn]eedle\\w* (a class and a
repeat, which the corpus holds nowhere: the whole search). Both tools run
case-sensitively, sd's default; every run on a fresh copy, the tools taking
turns; fastest of the runs, side by side. Target: vexalo4-cli at most 0.5
times sd's time. With --huge, one run of each pattern on that file (a copy of
it beside it): vexalo4-cli's peak memory, target at most 64 MiB. Not a test:
a miss is printed, never fails.
"""
import argparse
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench import Table, fresh_copy, fresh_copy_file, list_files, run_timed, tree_digest  # noqa: E402

PATTERNS = [("literal", "Acme Widgets Ltd", "Acme Gadgets plc"), ("class", r"[Nn]eedle\w*", "pin")]
TIME_TARGET = 0.5
MEMORY_TARGET_MIB = 64


def rows(cli, pattern, replacement):
    ours = [cli, "replace", "--regex", "--case-sensitive", "--find", pattern, "--with", replacement,
            "--quiet", "--no-progress", "--protect", ""]
    # The first row is what a user gets: the undo journal on, in its place.
    return [
        ("vexalo4-cli -e", ours),
        ("  --no-journal", ours + ["--no-journal"]),
        ("sd", ["sd", pattern, replacement]),
    ]


def run_set(cli, base, name, runs):
    master = os.path.join(base, "master", name)
    work = os.path.join(base, "regex-work")
    files = [os.path.relpath(p, master) for p in list_files(master)]
    for label, pattern, replacement in PATTERNS:
        table = Table()
        digests = {}
        tools = rows(cli, pattern, replacement)
        for _ in range(runs):
            for tool, argv in tools:
                fresh_copy(master, work, False)
                table.add(tool, run_timed(argv + files, work))
                digests.setdefault(tool, tree_digest(work))
        shutil.rmtree(work)
        theirs = table.fastest(tools[-1][0])
        print("%s set, %s pattern %s (%d files), fastest of %d:" % (name, label, pattern, len(files), runs))
        for tool, _ in tools:
            fastest = table.fastest(tool)
            print("  %-16s %9s s  peak %6.1f MiB  %s" % (
                tool, "%.3f" % fastest if fastest is not None else "-", table.peak_kib(tool) / 1024,
                table.problem(tool)))
        for tool, _ in tools[:-1]:
            ours = table.fastest(tool)
            if ours and theirs:
                ratio = ours / theirs
                print("  %s: %.2f of sd's time (target <= %.1f): %s" % (
                    tool.strip(), ratio, TIME_TARGET, "PASS" if ratio <= TIME_TARGET else "MISS"))
        print("  same files afterwards: %s" % ("yes" if len(set(digests.values())) == 1 else "NO"))
        sys.stdout.flush()


def run_huge(cli, path):
    work = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(path))), "regex-huge-work")
    for label, pattern, replacement in PATTERNS:
        fresh_copy_file(path, work, False)
        table = Table()
        table.add("vexalo4-cli -e", run_timed(rows(cli, pattern, replacement)[0][1] + [os.path.basename(path)], work))
        mib = table.peak_kib("vexalo4-cli -e") / 1024
        print("huge file (%d MiB), %s pattern %s: %.1f s, peak %.1f MiB (target <= %d): %s %s" % (
            os.path.getsize(path) >> 20, label, pattern, table.fastest("vexalo4-cli -e") or -1, mib,
            MEMORY_TARGET_MIB, "PASS" if 0 < mib <= MEMORY_TARGET_MIB else "MISS", table.problem("vexalo4-cli -e")))
        shutil.rmtree(work)
        sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--dir", required=True, help="the folder holding master/small and master/large")
    ap.add_argument("--sets", default="small,large")
    ap.add_argument("--runs", type=int, default=8)
    ap.add_argument("--huge", help="a large file for the memory of one run")
    args = ap.parse_args()
    cli = os.path.abspath(args.cli)
    for name in args.sets.split(","):
        if name:
            run_set(cli, args.dir, name, args.runs)
    if args.huge:
        run_huge(cli, args.huge)


if __name__ == "__main__":
    main()
