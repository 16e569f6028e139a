#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times vexalo4-cli replace against sed -i, perl -pi and sd, side by side.

vexalo4-cli --dry-run, the preview of the same replace, is timed beside it, and
vexalo4-cli --no-journal, which keeps nothing for undo. The journal is where a
user's would be by default: in a home folder on the disk (--state, a state
folder of its own, never the user's real one), whichever place the files are
timed in, so on the tmpfs the journal is on another file system than the files.

Every timed run works on a fresh copy of the corpus. The floor is `cp -r` of
the same files, which reads and writes every byte. The tools take turns run by
run (A B C A B C ...), so a change in the machine's load hits them all alike;
each is shown by its fastest run and its median. On the disk every timing ends
with a sync of that file system, so each tool pays for getting its writes onto
the disk (vexalo4-cli syncs on its own; the others would leave their data in
the page cache). Peak memory is the maximum resident set size that
/usr/bin/time reports.

The "worst" set times inputs built against the search itself, case-insensitive,
on the tmpfs only: a find text of 2,000 "ä" and an "x" against 2 MB of "ä", and a
find text of 10 MB read with --find-file, each against `sed -i` given the same
text as an escaped literal with the I flag. A tool that passes --cap seconds
is stopped and shown as "> cap".

The "tree" set is a copy of a real source tree (see gen_corpus.py), searched
for a text most of its files do not hold: what a run pays for the files it
only reads.

Every set's system calls are counted once per tool, under strace -c, and shown
per file: where a run spends its time when the bytes are few.

The "huge" set is one file of 2 GiB, replaced by vexalo4-cli alone: it shows
the memory a replace takes on a file larger than any the other sets hold.

vexalo4-cli deletes the older runs its journal gives up for room after it has
ended, in a process of its own; every timed command waits until that is done,
so nothing is timed beside it (its system calls are counted, strace -f).

The targets are checked beside the figures (PASS or MISS); a miss is reported,
never an error.
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
# The tree set's text: in about a fifth of the files of /usr/include, in
# either case mode.
TREE_NEEDLE = "size_t"
TREE_REPLACEMENT = "length_t"
CLI = "vexalo4-cli"
DRY_RUN = "vexalo4-cli --dry-run"
FLOOR = "cp -r (floor)"

# The vexalo4-cli rows of every set: a label and the arguments added to that
# set's command line. The first row is the one the targets are checked for;
# a variant of the same replace (another option, say) is timed beside it, in
# the same turns, by adding a row here.
CLI_VARIANTS = [
    (CLI, []),
    # The same replace keeping nothing for undo: what the journal costs.
    (CLI + " --no-journal", ["--no-journal"]),
]
NO_JOURNAL = CLI + " --no-journal"
JOURNAL_TARGET = 1.10  # a replace with its journal, against one without

# vexalo4-cli's time as a share of sd's, at most, on the tmpfs (place, set, mode).
SD_TARGETS = {
    ("tmpfs", "large", "exact"): 0.5,
    ("tmpfs", "large", "icase"): 0.5,
    ("tmpfs", "small", "exact"): 0.4,
    ("tmpfs", "small", "icase"): 0.4,
}
# vexalo4-cli's time as a multiple of cp -r's, at most, on the tmpfs (place, set).
FLOOR_TARGETS = {
    ("tmpfs", "small"): 1.0,
    ("tmpfs", "large"): 1.2,
    ("tmpfs", "tree"): 1.2,
}
# The tools whose system calls are counted, beside the floor.
COUNTED = [CLI, "sd"]
SED_TARGET = 3.0  # worst set: at most this many times sed's time
MEMORY_TARGET_MIB = 64  # peak resident set of a replace, for any input
MIN_RUNS = 8  # fewer runs make a quick look, not a measurement of the targets


def list_files(root):
    files = []
    for folder, dirs, names in os.walk(root):
        dirs.sort()
        for n in sorted(names):
            if not n.startswith("."):
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


def cli_rows(clis, common):
    """The vexalo4-cli rows for one set: every executable asked for (the one
    under test first), each with every variant, on the common arguments."""
    rows = []
    for suffix, path in clis:
        for label, extra in CLI_VARIANTS:
            rows.append((label + suffix, [path] + common + extra))
    return rows


def target_rows(clis):
    """The labels of the replace rows whose ratios are shown."""
    return [label + suffix for suffix, _ in clis for label, _ in CLI_VARIANTS]


def texts_of(corpus_set):
    return (TREE_NEEDLE, TREE_REPLACEMENT) if corpus_set == "tree" else (NEEDLE, REPLACEMENT)


def tools(clis, mode, place, corpus_set="small"):
    icase = mode == "icase"
    needle, replacement = texts_of(corpus_set)
    common = ["replace", "--find", needle, "--with", replacement, "--quiet", "--no-progress", "--protect", ""]
    if not icase:
        common.append("--case-sensitive")
    t = cli_rows(clis, common)
    # The preview over the same files: every check a replace makes, no write.
    # It must take less than the replace it previews.
    t.append((DRY_RUN, [clis[0][1]] + common + ["--dry-run"]))
    if place == "disk":
        t.append(("vexalo4-cli --sync each", [clis[0][1]] + common + ["--sync", "each"]))
    t += [
        ("sed -i", ["sed", "-i", "-e", "s/%s/%s/g%s" % (needle, replacement, "I" if icase else "")]),
        ("perl -pi", ["perl", "-pi", "-e", "s/\\Q%s\\E/%s/g%s" % (needle, replacement, "i" if icase else "")]),
        ("sd", ["sd", "-s"] + (["-f", "i"] if icase else []) + [needle, replacement]),
    ]
    return t


class Outcome:
    """One timed command: seconds (None when it was stopped), peak KiB, and
    why it failed or was stopped."""

    def __init__(self, seconds=None, kib=0, problem=""):
        self.seconds = seconds
        self.kib = kib
        self.problem = problem


def run_timed(argv, cwd, sync_after=False, cap=None, env=None):
    """Runs argv under /usr/bin/time in cwd. With cap, the command is stopped
    after cap seconds or past 4 GiB of address space (sed compiling a long
    case-insensitive literal goes through gigabytes)."""
    rss_file = os.path.join(cwd, ".rss")
    full = ["/usr/bin/time", "-f", "%M", "-o", rss_file] + argv

    def limit():
        os.setsid()
        if cap is not None:
            resource.setrlimit(resource.RLIMIT_AS, (4 * 2**30, 4 * 2**30))

    start = time.perf_counter()
    proc = subprocess.Popen(full, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            env=env, preexec_fn=limit)
    try:
        _, err = proc.communicate(timeout=cap)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, 9)
        proc.communicate()
        if os.path.exists(rss_file):
            os.unlink(rss_file)
        return Outcome(problem="stopped after %d s" % cap)
    if sync_after:
        subprocess.run(["sync", "-f", cwd], check=True)
    elapsed = time.perf_counter() - start
    lines = []
    if os.path.exists(rss_file):
        with open(rss_file) as f:
            lines = [l for l in f.read().split("\n") if l.strip()]
        os.unlink(rss_file)
    kib = int(lines[-1]) if lines and lines[-1].isdigit() else 0
    if proc.returncode != 0:
        message = err.decode(errors="replace").strip().replace("\n", " ")
        if cap is not None and "memory" in message:
            return Outcome(kib=kib, problem="stopped at 4 GiB")
        return Outcome(kib=kib, problem="failed (exit %d): %s" % (proc.returncode, message[-300:]))
    return Outcome(elapsed, kib)


def syscall_counts(argv, cwd, env=None):
    """The system calls of one run of argv in cwd, threads included, as
    strace -c counts them: {name: calls}, or None without strace."""
    out = os.path.join(os.path.dirname(cwd), ".strace")
    try:
        subprocess.run(["strace", "-f", "-c", "-o", out] + argv, cwd=cwd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=env)
    except FileNotFoundError:
        return None
    counts = {}
    with open(out) as f:
        for line in f:
            cells = line.split()
            # % time, seconds, usecs/call, calls, [errors,] syscall
            if len(cells) >= 5 and cells[3].isdigit() and cells[-1] != "total":
                counts[cells[-1]] = int(cells[3])
    os.unlink(out)
    return counts


def count_syscalls(master, base, argvs, nfiles, sync_after):
    """Each tool's system calls per file, on a fresh copy each."""
    work = os.path.join(base, "work")
    shown = {}
    for name, argv, per_file_args in argvs:
        if per_file_args:
            fresh_copy(master, work, sync_after)
            counts = syscall_counts(argv, work)
        else:  # cp -r: into a folder of its own
            target = os.path.join(base, "floor")
            if os.path.exists(target):
                shutil.rmtree(target)
            counts = syscall_counts(argv + [master, target], base)
            shutil.rmtree(target, ignore_errors=True)
        if counts is not None:
            shown[name] = counts
    if os.path.exists(work):
        shutil.rmtree(work)
    return shown


def syscall_lines(shown, nfiles, top=10):
    lines = []
    for name, counts in shown.items():
        total = sum(counts.values())
        busiest = sorted(counts.items(), key=lambda kv: -kv[1])[:top]
        lines.append("  system calls per file, %s: %.2f (%d in all)%s" % (
            name, total / nfiles, total, "; " + ", ".join("%s %.2f" % (k, v / nfiles) for k, v in busiest)
            if name != FLOOR else ""))
    return lines


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


class Table:
    """The runs of one comparison, tool by tool, in the order they were added."""

    def __init__(self):
        self.outcomes = {}

    def add(self, name, outcome):
        self.outcomes.setdefault(name, []).append(outcome)

    def times(self, name):
        return [o.seconds for o in self.outcomes.get(name, []) if o.seconds is not None]

    def fastest(self, name):
        t = self.times(name)
        return min(t) if t else None

    def median(self, name):
        t = self.times(name)
        return statistics.median(t) if t else None

    def peak_kib(self, name):
        return max([o.kib for o in self.outcomes.get(name, [])] or [0])

    def problem(self, name):
        for o in self.outcomes.get(name, []):
            if o.problem:
                return o.problem
        return ""

    def stopped(self, name):
        return any(o.seconds is None for o in self.outcomes.get(name, []))


def turns(runs):
    return "1 run" if runs == 1 else "%d runs each, taking turns" % runs


def verdict(value, limit):
    return "PASS" if value <= limit else "MISS"


def memory_note(kib):
    return "memory %s (target <= %d MiB)" % (verdict(kib / 1024, MEMORY_TARGET_MIB), MEMORY_TARGET_MIB)


def ratio_line(table, name, other, limit, runs):
    """vexalo4-cli's fastest and median as shares of another tool's, each with
    its verdict when there is a target."""
    mine_fast, mine_med = table.fastest(name), table.median(name)
    if table.stopped(name) or mine_fast is None:
        return "%s / %s: %s%s" % (name, other, table.problem(name) or "no time",
                                  ", MISS" if limit is not None else "")
    their_fast, their_med = table.fastest(other), table.median(other)
    if table.stopped(other) or their_fast is None:
        # The other tool could not do the job within its bounds: a finished
        # run is within any multiple of a time that does not exist.
        shown = "%s / %s: %s %s, no time to compare" % (name, other, other, table.problem(other) or "failed")
        return shown + ("; PASS (target <= %.1f x, and this one finished)" % limit if limit is not None else "")
    fast, med = mine_fast / their_fast, mine_med / their_med
    if limit is None:
        return "%s / %s: fastest %.2f, median %.2f (no target here)" % (name, other, fast, med)
    quick = "; fewer than %d runs, a quick look" % MIN_RUNS if runs < MIN_RUNS else ""
    return "%s / %s: fastest %.2f %s, median %.2f %s (target <= %.1f%s)" % (
        name, other, fast, verdict(fast, limit), med, verdict(med, limit), limit, quick)


def print_table(title, table, names, floor, cli_names, notes=None):
    print()
    print(title)
    print("  %-30s %10s %10s %8s %9s" % ("tool", "fastest s", "median s", "x floor", "peak MiB"))
    for name in names:
        fast, med = table.fastest(name), table.median(name)
        peak = table.peak_kib(name) / 1024
        extra = []
        if name in cli_names:
            extra.append(memory_note(table.peak_kib(name)))
        if notes and notes.get(name):
            extra.append(notes[name])
        if table.stopped(name) or med is None:
            cells = "%10s %10s %8s" % ("-", "-", "-")
            extra.insert(0, table.problem(name) or "no time")
        else:
            cells = "%10.3f %10.3f %8s" % (fast, med, "%.2f" % (med / floor) if floor else "")
        shown_peak = "%9.1f" % peak if table.peak_kib(name) else "%9s" % "-"
        print("  %-30s %s %s%s" % (name, cells, shown_peak, ("  " + "; ".join(extra)) if extra else ""))


def run_worst(clis, base, runs, cap, results):
    jobs = worst_inputs(os.path.join(base, "worst-inputs"))
    work = os.path.join(base, "work")
    env = dict(os.environ, LC_ALL="C.UTF-8")
    for label, paths in jobs:
        common = ["replace", "--find-file", paths["find"], "--with", "y", "--quiet", "--no-progress",
                  "--protect", ""]
        tools_here = cli_rows(clis, common) + [("sed -i", ["sed", "-i", "-f", paths["sed"]])]
        table = Table()
        digests = {}
        load_start = load()
        for run in range(runs):
            for name, argv in tools_here:
                if table.stopped(name):
                    continue  # once is enough to know
                if os.path.exists(work):
                    shutil.rmtree(work)
                os.makedirs(work)
                shutil.copyfile(paths["txt"], os.path.join(work, "file.txt"))
                outcome = run_timed(argv + ["file.txt"], work, cap=cap, env=env)
                settle_journal(work)
                table.add(name, outcome)
                if name not in digests and outcome.seconds is not None:
                    digests[name] = tree_digest(work)
        shutil.rmtree(work)
        names = [name for name, _ in tools_here]
        cli_names = target_rows(clis)
        notes = {name: "output differs from vexalo4-cli" for name in names
                 if name in digests and CLI in digests and digests[name] != digests[CLI]}
        print_table("tmpfs, worst set: %s, case-insensitive; %s (a tool past %d s or 4 GiB "
                    "is stopped); load average %s at start, %s at end" % (label, turns(runs), cap, load_start, load()),
                    table, names, None, cli_names, notes)
        for name in cli_names:
            print("  " + ratio_line(table, name, "sed -i", SED_TARGET, runs))
        record(results, table, names, place="tmpfs", set="worst", mode="icase", job=label)
        sys.stdout.flush()


def huge_room(folder, has_file, on_tmpfs, huge_mib):
    """Whether folder can hold the huge file (unless it is there already), a
    fresh copy of it and the copy's rewrite; on a tmpfs, the memory the
    machine keeps free for everything else counts too."""
    size = huge_mib * 2**20
    need = (2 if has_file else 3) * size + 2**30
    st = os.statvfs(folder)
    if st.f_bavail * st.f_frsize < need:
        return False
    if on_tmpfs:
        return mem_available() >= need + 4 * 2**30
    return True


def run_huge(clis, candidates, huge_mib, gen_corpus, results):
    """One 2 GiB file, replaced by each vexalo4-cli row once: its peak memory."""
    chosen = None
    for place, base in candidates:
        folder = os.path.join(base, "huge-master")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "huge", "huge.log")
        has_file = os.path.exists(path) and os.path.getsize(path) == huge_mib * 2**20
        if huge_room(base, has_file, fstype(base) == "tmpfs", huge_mib):
            chosen = (place, base, folder, path, has_file)
            break
        if not has_file:
            shutil.rmtree(folder)
    print()
    if chosen is None:
        print("huge set: skipped, no room for a %d MiB file, a copy and its rewrite in %s"
              % (huge_mib, " or ".join(base for _, base in candidates)))
        return
    place, base, folder, path, has_file = chosen
    if not has_file:
        print("Generating the %d MiB file in %s ..." % (huge_mib, folder))
        sys.stdout.flush()
        subprocess.run([sys.executable, gen_corpus, "--sets", "huge", "--huge-mib", str(huge_mib), folder],
                       check=True)
    work = os.path.join(base, "huge-work")
    sync_after = place == "disk"
    common = ["replace", "--find", NEEDLE, "--with", REPLACEMENT, "--quiet", "--no-progress", "--protect", "",
              "--case-sensitive"]
    rows = cli_rows(clis, common)
    table = Table()
    load_start = load()
    for name, argv in rows:
        fresh_copy_file(path, work, sync_after)
        table.add(name, run_timed(argv + ["huge.log"], work, sync_after))
        settle_journal(work)
    shutil.rmtree(work)
    names = [name for name, _ in rows]
    print_table("%s, huge set (1 file, %d MiB, kept in %s), exact; 1 run; load average %s at start, %s at end"
                % (place, huge_mib, folder, load_start, load()), table, names, None, names)
    record(results, table, names, place=place, set="huge", mode="exact")
    sys.stdout.flush()


def mount_top(folder):
    """The top folder of folder's file system."""
    folder = os.path.realpath(folder)
    dev = os.stat(folder).st_dev
    while folder != "/" and os.stat(os.path.dirname(folder)).st_dev == dev:
        folder = os.path.dirname(folder)
    return folder


def settle_journal(base, limit=60):
    """vexalo4-cli deletes the older runs it gave up for room after it has
    ended, in a process of its own at the lowest priority. The next timed
    command waits until they are gone, so that none is timed beside it."""
    folders = [os.path.join(os.environ.get("XDG_STATE_HOME", ""), "Vexalo", "journal"),
               os.path.join(mount_top(base), ".vexalo-journal-%d" % os.getuid())]
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        left = [n for f in folders if os.path.isdir(f) for n in os.listdir(f) if n.startswith(".dropped-")]
        if not left:
            return
        time.sleep(0.005)


def fresh_copy(master, work, sync_after):
    if os.path.exists(work):
        shutil.rmtree(work)
    subprocess.run(["cp", "-r", master, work], check=True)
    if sync_after:
        subprocess.run(["sync", "-f", os.path.dirname(work)], check=True)


def fresh_copy_file(path, work, sync_after):
    if os.path.exists(work):
        shutil.rmtree(work)
    os.makedirs(work)
    subprocess.run(["cp", path, os.path.join(work, os.path.basename(path))], check=True)
    if sync_after:
        subprocess.run(["sync", "-f", work], check=True)


def record(results, table, names, **where):
    for name in names:
        results.append(dict(where, tool=name, times=table.times(name), fastest=table.fastest(name),
                            median=table.median(name), problem=table.problem(name) or None,
                            peak_kib=table.peak_kib(name)))


def run_set(clis, place, base, corpus_set, mode, runs, results, syscalls_only=False):
    sync_after = place == "disk"
    master = os.path.join(base, "master", corpus_set)
    work = os.path.join(base, "work")
    files = [os.path.relpath(p, master) for p in list_files(master)]
    total = sum(os.path.getsize(os.path.join(master, p)) for p in files)
    cmds = tools(clis, mode, place, corpus_set)
    counted = [(FLOOR, ["cp", "-r"], False)] + [(name, argv + files, True) for name, argv in cmds if name in COUNTED]
    if syscalls_only:
        print()
        print("%s, %s set (%d files, %.0f MiB), %s; load average %s" % (
            place, corpus_set, len(files), total / 2**20, "exact" if mode == "exact" else "case-insensitive", load()))
        shown = count_syscalls(master, base, counted, len(files), sync_after)
        print("\n".join(syscall_lines(shown, len(files))))
        results.append(dict(place=place, set=corpus_set, mode=mode, syscalls=shown, files=len(files)))
        sys.stdout.flush()
        return
    table = Table()
    digests = {}
    load_start = load()
    for run in range(runs):
        # The floor: a copy of every file, from the same warm master.
        target = os.path.join(base, "floor")
        if os.path.exists(target):
            shutil.rmtree(target)
        if sync_after:
            subprocess.run(["sync", "-f", base], check=True)
        table.add(FLOOR, run_timed(["cp", "-r", master, target], base, sync_after))
        shutil.rmtree(target)
        for name, argv in cmds:
            fresh_copy(master, work, sync_after)
            outcome = run_timed(argv + files, work, sync_after)
            settle_journal(base)
            table.add(name, outcome)
            if name not in digests and outcome.seconds is not None:
                digests[name] = tree_digest(work)
        shutil.rmtree(work)
    names = [FLOOR] + [name for name, _ in cmds]
    reference = digests.get(CLI)
    unchanged = tree_digest(master)
    notes = {}
    for name in names:
        if name == DRY_RUN:
            if digests.get(name) != unchanged:
                notes[name] = "a file was changed"
            elif table.median(CLI):
                notes[name] = "%.2f x vexalo4-cli (median)" % (table.median(name) / table.median(CLI))
        elif name in digests and name != FLOOR and digests[name] != reference:
            notes[name] = "output differs from vexalo4-cli"
        elif name == NO_JOURNAL and table.median(name) and table.median(CLI):
            # What keeping the run for undo costs; at most a tenth.
            fast = table.fastest(CLI) / table.fastest(name)
            med = table.median(CLI) / table.median(name)
            notes[name] = "vexalo4-cli takes %.2f x this (fastest), %.2f x (median); journal target <= %.2f" % (
                fast, med, JOURNAL_TARGET)
    print_table("%s, %s set (%d files, %.0f MiB), %s; %s, each on a fresh copy; "
                "load average %s at start, %s at end" % (
                    place, corpus_set, len(files), total / 2**20,
                    "exact" if mode == "exact" else "case-insensitive", turns(runs), load_start, load()),
                table, names, table.median(FLOOR), target_rows(clis), notes)
    for name in target_rows(clis):
        print("  " + ratio_line(table, name, FLOOR, FLOOR_TARGETS.get((place, corpus_set)), runs))
        print("  " + ratio_line(table, name, "sd", SD_TARGETS.get((place, corpus_set, mode)), runs))
    shown = count_syscalls(master, base, counted, len(files), sync_after)
    print("\n".join(syscall_lines(shown, len(files))))
    record(results, table, names, place=place, set=corpus_set, mode=mode)
    results.append(dict(place=place, set=corpus_set, mode=mode, syscalls=shown, files=len(files)))
    sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--baseline", help="another vexalo4-cli, timed beside the first as \"vexalo4-cli (baseline)\"")
    ap.add_argument("--place", action="append", required=True, help="NAME=DIR holding master/<set>")
    ap.add_argument("--state", default=os.path.join(os.path.expanduser("~"), ".cache", "vexalo-bench-state"),
                    help="the journal's state folder (XDG_STATE_HOME): a home folder on the disk")
    ap.add_argument("--huge-place", action="append", default=[],
                    help="NAME=DIR for the huge set, the first with room is used")
    ap.add_argument("--sets", default="small,large,worst,huge")
    ap.add_argument("--modes", default="exact,icase")
    ap.add_argument("--disk-modes", help="modes on the disk, where every run is slow (default: --modes)")
    ap.add_argument("--runs", type=int, default=MIN_RUNS)
    ap.add_argument("--huge-mib", type=int, default=2048, help="size of the huge set's file")
    ap.add_argument("--cap", type=int, default=60, help="worst set: seconds before a tool is stopped")
    ap.add_argument("--json", help="write all timings here")
    ap.add_argument("--syscalls-only", action="store_true", help="count the system calls per file, time nothing")
    args = ap.parse_args()

    clis = [("", args.cli)]
    if args.baseline:
        clis.append((" (baseline)", args.baseline))
    sets = args.sets.split(",")
    results = []
    print("Machine: %s, %d cores, %.1f GiB RAM, Linux %s; load average at start %s" % (
        cpu_model(), os.cpu_count(), mem_gib(), platform.release(), load()))
    if args.runs < MIN_RUNS:
        print("%d runs per tool: a quick look; the targets are measured with %d or more." % (args.runs, MIN_RUNS))
    if args.syscalls_only:
        sets = [s for s in sets if s not in ("worst", "huge")]
    for place_arg in args.place:
        place, base = place_arg.split("=", 1)
        # The journal in its default place, a home folder on the disk, for
        # every place: files on another volume than the home folder are the
        # case the journal must also cost little in.
        os.makedirs(args.state, exist_ok=True)
        os.environ["XDG_STATE_HOME"] = args.state
        for corpus_set in sets:
            if corpus_set == "huge":
                continue
            if corpus_set == "worst":
                # Search work, not writes: timed on the tmpfs only.
                if place == "tmpfs":
                    run_worst(clis, base, args.runs, args.cap, results)
                continue
            modes = args.disk_modes if place == "disk" and args.disk_modes else args.modes
            for mode in modes.split(","):
                run_set(clis, place, base, corpus_set, mode, args.runs, results, args.syscalls_only)
    if "worst" in sets and not args.syscalls_only and not any(p.startswith("tmpfs=") for p in args.place):
        print("\nworst set: skipped, it runs on the tmpfs only")
    if "huge" in sets:
        candidates = [tuple(p.split("=", 1)) for p in args.huge_place] or \
            [tuple(p.split("=", 1)) for p in args.place]
        run_huge(clis, candidates, args.huge_mib, os.path.join(os.path.dirname(os.path.abspath(__file__)), "gen_corpus.py"),
                 results)
    print("\nLoad average at end: %s" % load())
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)


def fstype(folder):
    return subprocess.run(["stat", "-f", "-c", "%T", folder], capture_output=True, text=True).stdout.strip()


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def meminfo(key):
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1]) * 1024
    return 0


def mem_gib():
    return meminfo("MemTotal") / 2**30


def mem_available():
    return meminfo("MemAvailable")


def load():
    return " ".join("%.2f" % x for x in os.getloadavg())


if __name__ == "__main__":
    main()
