#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the benchmark corpus, the same bytes on every machine and every run.

small/: 20,000 text files of 1 to 16 KiB in 100 folders; about half hold the
        needle "Acme Widgets Ltd" (one to four times), a few more hold it only
        in other cases ("ACME WIDGETS LTD"), which the case-insensitive runs find.
large/: 4 files of 128 MiB with the needle about every 16 KiB.
huge/:  one file of 2 GiB made the same way (only when asked for: --sets huge),
        which shows that a file's size does not decide the memory a replace takes.
tree/:  a real source tree: the regular files of a public tree this machine has
        (/usr/include by default, --tree-from), links and hidden names left out.
        Thousands of files of every size, most of which do not hold the find
        text the benchmark uses for it (TREE_NEEDLE, in about a fifth of them).

The text is plain prose-like lines of made-up words with a sprinkling of UTF-8
letters, so the encoding check and the folding search see realistic input.
"""
import argparse
import os
import random
import shutil

NEEDLE = "Acme Widgets Ltd"
VARIANTS = ["ACME WIDGETS LTD", "acme widgets ltd", "Acme widgets LTD"]
ACCENTED = ["café", "naïve", "Straße", "Ærø", "façade", "über", "Ångström", "señor"]


def make_pool(rng, size):
    """About size bytes of lines; the needle cannot occur in them."""
    syllables = ["ka", "lo", "ri", "ve", "tan", "mor", "qui", "zel", "pa", "dun", "or", "e", "is",
                 "ath", "um", "bre", "gon", "fi", "ly", "nox", "sta", "wen", "ho", "ter"]
    words = []
    for _ in range(3000):
        words.append("".join(rng.choice(syllables) for _ in range(rng.randint(1, 4))))
    lines = []
    total = 0
    while total < size:
        n = rng.randint(5, 14)
        ws = [rng.choice(words) for _ in range(n)]
        if rng.random() < 0.03:
            ws[rng.randrange(n)] = rng.choice(ACCENTED)
        if rng.random() < 0.3:
            ws[0] = ws[0].capitalize()
        line = (" ".join(ws) + rng.choice([".", ",", ";", "", ":"]) + "\n").encode("utf-8")
        lines.append(line)
        total += len(line)
    return lines


def text_of(rng, pool, size):
    start = rng.randrange(len(pool))
    out = []
    total = 0
    i = start
    while total < size:
        line = pool[i % len(pool)]
        out.append(line)
        total += len(line)
        i += 1
    return out


def insert_needles(rng, lines, count, exact_share):
    for _ in range(count):
        at = rng.randrange(len(lines))
        text = NEEDLE if rng.random() < exact_share else rng.choice(VARIANTS)
        line = lines[at].decode("utf-8")
        cut = line.find(" ", len(line) // 2)
        cut = len(line) - 1 if cut < 0 else cut
        lines[at] = (line[:cut] + " " + text + line[cut:]).encode("utf-8")


def write_small(rng, pool, root, count, folders):
    for f in range(folders):
        os.makedirs(os.path.join(root, "small", "d%03d" % f), exist_ok=True)
    for i in range(count):
        size = rng.randint(1024, 16 * 1024)
        lines = text_of(rng, pool, size)
        roll = rng.random()
        if roll < 0.5:
            insert_needles(rng, lines, rng.randint(1, 4), 0.8)
            lines[rng.randrange(len(lines))] += (NEEDLE + "\n").encode()  # at least one exact
        elif roll < 0.55:
            insert_needles(rng, lines, rng.randint(1, 2), 0.0)
        data = b"".join(lines)
        path = os.path.join(root, "small", "d%03d" % (i % folders), "f%05d.txt" % i)
        with open(path, "wb") as out:
            out.write(data)


def write_log(rng, pool, path, size):
    """A log-like file of size bytes with the needle about every 16 KiB."""
    chunk_lines = 200  # about 16 KiB of text between two needles
    written = 0
    with open(path, "wb") as out:
        while written < size:
            start = rng.randrange(len(pool) - chunk_lines)
            block = b"".join(pool[start:start + chunk_lines])
            needle = NEEDLE if rng.random() < 0.8 else rng.choice(VARIANTS)
            piece = block + needle.encode() + b"\n"
            if written + len(piece) > size:
                piece = piece[: size - written]
            out.write(piece)
            written += len(piece)


def write_large(rng, pool, root, count, size):
    os.makedirs(os.path.join(root, "large"), exist_ok=True)
    for n in range(count):
        write_log(rng, pool, os.path.join(root, "large", "big%d.log" % n), size)


def write_huge(rng, pool, root, size):
    os.makedirs(os.path.join(root, "huge"), exist_ok=True)
    # Written under a temporary name: an interrupted run leaves no short file
    # that a later one would take for the whole.
    path = os.path.join(root, "huge", "huge.log")
    write_log(rng, pool, path + ".part", size)
    os.replace(path + ".part", path)


def tree_sources(source):
    """The regular files of the source tree, by their path inside it, sorted;
    links, hidden names and files this user may not read are left out."""
    found = []
    for folder, dirs, names in os.walk(source):
        dirs[:] = sorted(d for d in dirs if not d.startswith(".") and not os.path.islink(os.path.join(folder, d)))
        for n in sorted(names):
            path = os.path.join(folder, n)
            if n.startswith(".") or os.path.islink(path) or not os.path.isfile(path):
                continue
            if os.access(path, os.R_OK):
                found.append(os.path.relpath(path, source))
    return found


def tree_stamp(source):
    """What the copy depends on: a tree that gained or lost files (a package
    installed since) is copied again."""
    files = tree_sources(source)
    return "%s %d %d" % (source, len(files), sum(os.path.getsize(os.path.join(source, f)) for f in files))


def write_tree(source, root):
    target = os.path.join(root, "tree")
    if os.path.exists(target):
        shutil.rmtree(target)
    for rel in tree_sources(source):
        os.makedirs(os.path.join(target, os.path.dirname(rel)), exist_ok=True)
        # Owner-writable copies: a read-only header would be refused by
        # every tool for a reason that has nothing to do with speed.
        shutil.copyfile(os.path.join(source, rel), os.path.join(target, rel))
        os.chmod(os.path.join(target, rel), 0o644)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("root", nargs="?")
    ap.add_argument("--sets", default="small,large,tree")
    ap.add_argument("--tree-from", default="/usr/include", help="the source tree copied as the tree set")
    ap.add_argument("--tree-stamp", action="store_true", help="print what the tree set depends on, and stop")
    ap.add_argument("--small-files", type=int, default=20000)
    ap.add_argument("--large-files", type=int, default=4)
    ap.add_argument("--large-mib", type=int, default=128)
    ap.add_argument("--huge-mib", type=int, default=2048)
    args = ap.parse_args()
    if args.tree_stamp:
        print(tree_stamp(args.tree_from))
        return
    rng = random.Random(20240427)
    pool = make_pool(rng, 8 * 1024 * 1024)
    sets = args.sets.split(",")
    if "small" in sets:
        write_small(random.Random(1), pool, args.root, args.small_files, 100)
    if "large" in sets:
        write_large(random.Random(2), pool, args.root, args.large_files, args.large_mib * 1024 * 1024)
    if "huge" in sets:
        write_huge(random.Random(3), pool, args.root, args.huge_mib * 1024 * 1024)
    if "tree" in sets:
        write_tree(args.tree_from, args.root)


if __name__ == "__main__":
    main()
