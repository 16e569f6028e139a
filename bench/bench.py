#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times vexalo4-cli replace against sed -i, perl -pi and sd, side by side.

vexalo4-cli --dry-run, the preview of the same replace, is timed beside it.

Every timed run works on a fresh copy of the corpus. The floor is `cp -r` of
the same files, which reads and writes every byte. The tools take turns within
each round, so a change in the machine's load hits them all alike. On the disk
every timing ends with a sync of that file system, so each tool pays for
getting its writes onto the disk (vexalo4-cli syncs on its own; the others
would leave their data in the page cache). Peak memory is the maximum resident
set size that /usr/bin/time reports.
"""
import argparse
import hashlib
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

NEEDLE = "Acme Widgets Ltd"
REPLACEMENT = "Acme Gadgets plc"
DRY_RUN = "vexalo4-cli --dry-run"


def list_files(root):
    files = []
    for folder, dirs, names in os.walk(root):
        dirs.sort()
        for n in sorted(names):
            files.append(os.path.join(folder, n))
    return files


def tree_digest(root):
    h = hashlib.sha256()
    for path in list_files(root):
        h.update(os.path.relpath(path, root).encode())
        with open(path, "rb") as f:
            while True:
                block = f.read(1 << 20)
                if not block:
                    break
                h.update(block)
    return h.hexdigest()[:16]


def tools(cli, mode, place):
    icase = mode == "icase"
    cli_args = [cli, "replace", "--find", NEEDLE, "--with", REPLACEMENT, "--quiet", "--no-progress",
                "--protect", ""]
    if not icase:
        cli_args.append("--case-sensitive")
    # The preview over the same files: every check a replace makes, no write.
    # It must take less than the replace it previews.
    t = [("vexalo4-cli", cli_args), (DRY_RUN, cli_args + ["--dry-run"])]
    if place == "disk":
        t.append(("vexalo4-cli --sync each", cli_args + ["--sync", "each"]))
    t += [
        ("sed -i", ["sed", "-i", "-e", "s/%s/%s/g%s" % (NEEDLE, REPLACEMENT, "I" if icase else "")]),
        ("perl -pi", ["perl", "-pi", "-e", "s/\\Q%s\\E/%s/g%s" % (NEEDLE, REPLACEMENT, "i" if icase else "")]),
        ("sd", ["sd", "-s"] + (["-f", "i"] if icase else []) + [NEEDLE, REPLACEMENT]),
    ]
    return t


def timed(argv, cwd, sync_after):
    """Wall seconds and peak KiB of one command (file arguments already in argv)."""
    rss_file = os.path.join(cwd, ".rss")
    full = ["/usr/bin/time", "-f", "%M", "-o", rss_file] + argv
    start = time.perf_counter()
    proc = subprocess.run(full, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if sync_after:
        subprocess.run(["sync", "-f", cwd], check=True)
    elapsed = time.perf_counter() - start
    with open(rss_file) as f:
        lines = [l for l in f.read().split("\n") if l.strip()]
    os.unlink(rss_file)
    if proc.returncode != 0:
        sys.exit("%s failed (%d): %s" % (argv[0], proc.returncode, proc.stderr.decode(errors="replace")[-500:]))
    return elapsed, int(lines[-1])


def fresh_copy(master, work, sync_after):
    if os.path.exists(work):
        shutil.rmtree(work)
    subprocess.run(["cp", "-r", master, work], check=True)
    if sync_after:
        subprocess.run(["sync", "-f", os.path.dirname(work)], check=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--place", action="append", required=True, help="NAME=DIR holding master/<set>")
    ap.add_argument("--sets", default="small,large")
    ap.add_argument("--modes", default="exact,icase")
    ap.add_argument("--disk-modes", help="modes on the disk, where every run is slow (default: --modes)")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--json", help="write all timings here")
    args = ap.parse_args()

    results = []
    print("Machine: %s, %d cores, %.1f GiB RAM, Linux %s; load average at start %s" % (
        cpu_model(), os.cpu_count(), mem_gib(), platform.release(), load()))
    for place_spec in args.place:
        place, base = place_spec.split("=", 1)
        sync_after = place == "disk"
        for corpus_set in args.sets.split(","):
            master = os.path.join(base, "master", corpus_set)
            work = os.path.join(base, "work")
            files = [os.path.relpath(p, master) for p in list_files(master)]
            total = sum(os.path.getsize(os.path.join(master, p)) for p in files)
            modes = args.disk_modes if place == "disk" and args.disk_modes else args.modes
            for mode in modes.split(","):
                cmds = tools(args.cli, mode, place)
                times = {"cp -r (floor)": []}
                peaks = {"cp -r (floor)": 0}
                digests = {}
                for name, _ in cmds:
                    times[name] = []
                    peaks[name] = 0
                for run in range(args.runs):
                    # The floor: a copy of every file, from the same warm master.
                    target = os.path.join(base, "floor")
                    if os.path.exists(target):
                        shutil.rmtree(target)
                    if sync_after:
                        subprocess.run(["sync", "-f", base], check=True)
                    t, kib = timed(["cp", "-r", master, target], base, sync_after)
                    times["cp -r (floor)"].append(t)
                    peaks["cp -r (floor)"] = max(peaks["cp -r (floor)"], kib)
                    shutil.rmtree(target)
                    for name, argv in cmds:
                        fresh_copy(master, work, sync_after)
                        t, kib = timed(argv + files, work, sync_after)
                        times[name].append(t)
                        peaks[name] = max(peaks[name], kib)
                        if run == 0:
                            digests[name] = tree_digest(work)
                    shutil.rmtree(work)
                floor = statistics.median(times["cp -r (floor)"])
                print()
                print("%s, %s set (%d files, %.0f MiB), %s, median of %d runs" % (
                    place, corpus_set, len(files), total / 2**20,
                    "exact" if mode == "exact" else "case-insensitive", args.runs))
                print("  %-26s %9s %9s %10s" % ("tool", "median s", "x floor", "peak MiB"))
                reference = digests.get("vexalo4-cli")
                unchanged = tree_digest(master)
                for name in times:
                    med = statistics.median(times[name])
                    note = ""
                    if name == DRY_RUN:
                        if digests.get(name) != unchanged:
                            note = "  (a file was changed)"
                        else:
                            note = "  (%.2f x vexalo4-cli)" % (med / statistics.median(times["vexalo4-cli"]))
                    elif name in digests and digests[name] != reference:
                        note = "  (output differs from vexalo4-cli)"
                    print("  %-26s %9.3f %9.2f %10.1f%s" % (name, med, med / floor, peaks[name] / 1024, note))
                    results.append({"place": place, "set": corpus_set, "mode": mode, "tool": name,
                                    "times": times[name], "median": med, "ratio": med / floor,
                                    "peak_kib": peaks[name]})
                sys.stdout.flush()
    print("\nLoad average at end: %s" % load())
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def mem_gib():
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                return int(line.split()[1]) / 2**20
    return 0


def load():
    return " ".join("%.2f" % x for x in os.getloadavg())


if __name__ == "__main__":
    main()
