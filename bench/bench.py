#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times vexalo4-cli replace against sed -i, perl -pi and sd, side by side.

vexalo4-cli --dry-run, the preview of the same replace, is timed beside it, and
vexalo4-cli --no-journal, which keeps nothing for undo (the journal goes to a
"state" folder in the place timed).

Every timed run works on a fresh copy of the corpus. The floor is `cp -r` of
the same files, which reads and writes every byte. The tools take turns within
each round, so a change in the machine's load hits them all alike. On the disk
every timing ends with a sync of that file system, so each tool pays for
getting its writes onto the disk (vexalo4-cli syncs on its own; the others
would leave their data in the page cache). Peak memory is the maximum resident
set size that /usr/bin/time reports.

The "worst" set times inputs built against the search itself, case-insensitive,
on the tmpfs only: a find text of 2,000 "ä" and an "x" against 2 MB of "ä", and a
find text of 10 MB read with --find-file, each against `sed -i` given the same
text as an escaped literal with the I flag. A tool that passes --cap seconds
is stopped and shown as "> cap".
"""
import argparse
import hashlib
import json
import os
import platform
import resource
import shutil
import statistics
import subprocess
import sys
import time

NEEDLE = "Acme Widgets Ltd"
REPLACEMENT = "Acme Gadgets plc"
DRY_RUN = "vexalo4-cli --dry-run"
# The same replace keeping nothing for undo: what the journal costs.
NO_JOURNAL = "vexalo4-cli --no-journal"


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
    t = [("vexalo4-cli", cli_args), (NO_JOURNAL, cli_args + ["--no-journal"]), (DRY_RUN, cli_args + ["--dry-run"])]
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


def sed_literal(text):
    """The text as a sed basic regular expression that matches it literally."""
    out = []
    for ch in text:
        if ch in "\\/.*[]^$":
            out.append("\\" + ch)
        elif ch == "\n":
            out.append("\\n")
        else:
            out.append(ch)
    return "".join(out)


def worst_inputs(folder):
    """Writes the inputs of the worst set once; returns its jobs."""
    os.makedirs(folder, exist_ok=True)
    ae_find = "\u00e4" * 2000 + "x"
    ae_file = "\u00e4" * 1000000  # 2 MB
    # Words of lowercase letters on one line (sed works line by line); the
    # file holds them once, in capitals, between two other lines.
    state = 12345
    words = []
    size = 0
    while size < 10 * 2**20:
        state = (state * 1103515245 + 12345) % 2**31
        length = 2 + state % 8
        word = []
        for _ in range(length):
            state = (state * 1103515245 + 12345) % 2**31
            word.append(chr(ord("a") + (state >> 16) % 26))
        words.append("".join(word))
        size += length + 1
    big_find = " ".join(words)[:10 * 2**20]
    big_file = "first line\n" + big_find.upper() + "\nlast line\n"
    jobs = []
    for name, label, find, content in (
            ("ae", "2,000 \u00e4 then x, 2 MB of \u00e4", ae_find, ae_file),
            ("find10", "10 MB --find-file", big_find, big_file)):
        paths = {k: os.path.join(folder, "%s.%s" % (name, k)) for k in ("find", "txt", "sed")}
        wanted = {"find": find, "txt": content, "sed": "s/%s/y/gI\n" % sed_literal(find)}
        for k, text in wanted.items():
            data = text.encode("utf-8")
            if not os.path.exists(paths[k]) or os.path.getsize(paths[k]) != len(data):
                with open(paths[k], "wb") as f:
                    f.write(data)
        jobs.append((label, paths))
    return jobs


def capped(argv, cwd, cap):
    """Wall seconds and peak KiB of one command; the time is None when it ran
    past cap seconds, or past 4 GiB of address space, and was stopped (sed
    compiling a long case-insensitive literal goes through gigabytes)."""
    rss_file = os.path.join(cwd, ".rss")
    full = ["/usr/bin/time", "-f", "%M", "-o", rss_file] + argv

    def limit():
        os.setsid()
        resource.setrlimit(resource.RLIMIT_AS, (4 * 2**30, 4 * 2**30))

    start = time.perf_counter()
    proc = subprocess.Popen(full, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            env=dict(os.environ, LC_ALL="C.UTF-8"), preexec_fn=limit)
    try:
        _, err = proc.communicate(timeout=cap)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, 9)
        proc.communicate()
        if os.path.exists(rss_file):
            os.unlink(rss_file)
        return None, 0
    elapsed = time.perf_counter() - start
    lines = []
    if os.path.exists(rss_file):
        with open(rss_file) as f:
            lines = [l for l in f.read().split("\n") if l.strip()]
        os.unlink(rss_file)
    if proc.returncode != 0:
        message = err.decode(errors="replace")
        if "memory" in message:
            return None, 0
        sys.exit("%s failed (%d): %s" % (argv[0], proc.returncode, message[-500:]))
    return elapsed, int(lines[-1])


def run_worst(cli, base, runs, cap, results):
    jobs = worst_inputs(os.path.join(base, "worst-inputs"))
    work = os.path.join(base, "work")
    print()
    print("tmpfs, worst set, case-insensitive, median of %d runs (a tool past %d s or 4 GiB is stopped)"
          % (runs, cap))
    print("  %-34s %-14s %9s %9s %10s" % ("job", "tool", "median s", "x sed", "peak MiB"))
    for label, paths in jobs:
        tools_here = [
            ("vexalo4-cli", [cli, "replace", "--find-file", paths["find"], "--with", "y", "--quiet",
                             "--no-progress", "--protect", ""]),
            ("sed -i", ["sed", "-i", "-f", paths["sed"]]),
        ]
        times = {name: [] for name, _ in tools_here}
        peaks = {name: 0 for name, _ in tools_here}
        stopped = set()
        digests = {}
        for run in range(runs):
            for name, argv in tools_here:
                if name in stopped:
                    continue
                if os.path.exists(work):
                    shutil.rmtree(work)
                os.makedirs(work)
                shutil.copyfile(paths["txt"], os.path.join(work, "file.txt"))
                t, kib = capped(argv + ["file.txt"], work, cap)
                if t is None:
                    stopped.add(name)  # once is enough to know
                    continue
                times[name].append(t)
                peaks[name] = max(peaks[name], kib)
                if run == 0:
                    digests[name] = tree_digest(work)
        shutil.rmtree(work)
        sed = statistics.median(times["sed -i"]) if times["sed -i"] else None
        for name, _ in tools_here:
            if name in stopped:
                shown, ratio = "> %d" % cap, ""
                med = None
            else:
                med = statistics.median(times[name])
                shown = "%.3f" % med
                if sed is not None:
                    ratio = "%.2f" % (med / sed)
                elif name != "sed -i":
                    ratio = "< %.3f" % (med / cap)
                else:
                    ratio = ""
            note = ""
            if name in digests and "vexalo4-cli" in digests and digests[name] != digests["vexalo4-cli"]:
                note = "  (output differs from vexalo4-cli)"
            print("  %-34s %-14s %9s %9s %10.1f%s" % (label, name, shown, ratio, peaks[name] / 1024, note))
            results.append({"place": "tmpfs", "set": "worst", "mode": "icase", "job": label, "tool": name,
                            "times": times[name], "median": med, "stopped_after": cap if name in stopped else None,
                            "peak_kib": peaks[name]})
        sys.stdout.flush()


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
    ap.add_argument("--cap", type=int, default=60, help="worst set: seconds before a tool is stopped")
    ap.add_argument("--json", help="write all timings here")
    args = ap.parse_args()

    results = []
    print("Machine: %s, %d cores, %.1f GiB RAM, Linux %s; load average at start %s" % (
        cpu_model(), os.cpu_count(), mem_gib(), platform.release(), load()))
    for place_spec in args.place:
        place, base = place_spec.split("=", 1)
        sync_after = place == "disk"
        # The journal in the place's own file system, as a home folder on the
        # same disk as the files would have it; never the user's real one.
        os.environ["XDG_STATE_HOME"] = os.path.join(base, "state")
        for corpus_set in args.sets.split(","):
            if corpus_set == "worst":
                # Search work, not writes: timed on the tmpfs only.
                if place == "tmpfs":
                    run_worst(args.cli, base, args.runs, args.cap, results)
                continue
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
                    if name == NO_JOURNAL and name in digests and digests[name] == reference:
                        note = "  (vexalo4-cli %.2f x this)" % (statistics.median(times["vexalo4-cli"]) / med)
                    elif name == DRY_RUN:
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
