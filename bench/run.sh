#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# `make bench`: vexalo4-cli replace (and its --dry-run preview) against sed -i,
# perl -pi and sd, with cp -r as the floor, on a tmpfs and on the disk. Not a test: it prints
# tables, with PASS or MISS beside each target; a miss never fails the run.
#
#   bench/run.sh [--runs N] [--sets small,large,tree,worst,huge] [--places tmpfs,disk]
#                [--modes exact,icase] [--cap SECONDS] [--baseline CLI] [--json FILE]
#                [--tree-from DIR] [--syscalls-only]
# Defaults: 8 runs of every tool, taking turns, all five sets, both places,
# both modes on the tmpfs and exact on the disk. The worst set (inputs built
# against the search, a tool stopped after --cap seconds, default 60) runs on
# the tmpfs only; the huge set (one 2 GiB file, vexalo4-cli's memory) on the
# tmpfs when it has room, else on the disk, else not at all.
# The tree set is a copy of a real source tree (--tree-from, default
# /usr/include). Every set also gets its system calls per file counted once
# (strace -c); --syscalls-only counts them and times nothing.
# A quick look, a minute or two: --runs 2 --sets small --places tmpfs
# --baseline times another vexalo4-cli beside the first, in the same turns.
# The same settings may come from the environment: RUNS, SETS, PLACES, MODES, CAP, BASELINE,
# TREE_FROM.
# VEXALO_CLI names the executable (default: build/bin/vexalo4-cli);
# BENCH_TMPFS and BENCH_DISK the folders used (default /dev/shm/vexalo-bench
# and /var/tmp/vexalo-bench). Both keep their corpus for the next run: remove
# them to free the space (the tmpfs's copy takes memory).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")

runs=${RUNS:-8}
sets=${SETS:-small,large,tree,worst,huge}
tree_from=${TREE_FROM:-/usr/include}
syscalls_only=""
baseline=${BASELINE:-}
cap=${CAP:-60}
places=${PLACES:-tmpfs,disk}
modes=${MODES:-exact,icase}
# On a disk a fresh copy of 20,000 files can take many seconds; unless modes
# are asked for, the disk is timed in exact mode only (it shows the cost of
# getting the writes onto the disk; case-insensitive matching is shown on the
# tmpfs).
disk_modes=${MODES:-exact}
json=""
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --sets) sets=$2; shift 2 ;;
        --places) places=$2; shift 2 ;;
        --modes) modes=$2; disk_modes=$2; shift 2 ;;
        --cap) cap=$2; shift 2 ;;
        --baseline) baseline=$2; shift 2 ;;
        --json) json=$2; shift 2 ;;
        --tree-from) tree_from=$2; shift 2 ;;
        --syscalls-only) syscalls_only=1; shift ;;
        -h|--help) sed -n '3,26p' "$0"; exit 0 ;;
        *) echo "bench/run.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

# The tools compared and what runs them, installed only when missing.
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
missing=""
for pkg in sd time python3 perl sed coreutils strace; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing="$missing $pkg"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q $missing
fi

cli=$(realpath -m "${VEXALO_CLI:-$top/build/bin/vexalo4-cli}")
if [ ! -x "$cli" ]; then
    echo "bench/run.sh: $cli is not built (run make, or set VEXALO_CLI)" >&2
    exit 1
fi
build_type_of() {
    local t
    t=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$(dirname "$(dirname "$1")")/CMakeCache.txt" 2>/dev/null || true)
    echo "${t:-unknown}"
}
if [ -n "$baseline" ]; then
    baseline=$(realpath -m "$baseline")
    if [ ! -x "$baseline" ]; then
        echo "bench/run.sh: $baseline is not built" >&2
        exit 1
    fi
fi

tmpfs_dir=${BENCH_TMPFS:-/dev/shm/vexalo-bench}
disk_dir=${BENCH_DISK:-/var/tmp/vexalo-bench}

fstype() { stat -f -c %T "$1"; }

place_args=()
IFS=, read -ra place_list <<< "$places"
for place in "${place_list[@]}"; do
    case "$place" in
        tmpfs) dir=$tmpfs_dir ;;
        disk) dir=$disk_dir ;;
        *) echo "bench/run.sh: unknown place $place (tmpfs or disk)" >&2; exit 2 ;;
    esac
    mkdir -p "$dir"
    if [ "$place" = tmpfs ] && [ "$(fstype "$dir")" != tmpfs ]; then
        if ! mountpoint -q "$dir"; then
            $sudo mount -t tmpfs -o size=4g vexalo-bench "$dir"
        fi
    fi
    if [ "$place" = disk ] && [ "$(fstype "$dir")" = tmpfs ]; then
        echo "bench/run.sh: $dir is a tmpfs; set BENCH_DISK to a folder on a disk" >&2
        exit 1
    fi
    # The corpus is made once and kept while the generator is unchanged.
    stamp=$(sha256sum "$here/gen_corpus.py" | cut -c1-16)
    if [ "$(cat "$dir/master/.stamp" 2>/dev/null)" != "$stamp" ]; then
        echo "Generating the corpus in $dir/master ..."
        rm -rf "$dir/master"
        python3 "$here/gen_corpus.py" --sets small,large "$dir/master"
        echo "$stamp" > "$dir/master/.stamp"
    fi
    # The tree set is copied again when the generator or the tree changed.
    if [[ ",$sets," == *,tree,* ]]; then
        tree_stamp="$stamp $(python3 "$here/gen_corpus.py" --tree-from "$tree_from" --tree-stamp)"
        if [ "$(cat "$dir/master/.tree-stamp" 2>/dev/null)" != "$tree_stamp" ]; then
            echo "Copying $tree_from into $dir/master/tree ..."
            python3 "$here/gen_corpus.py" --sets tree --tree-from "$tree_from" "$dir/master"
            echo "$tree_stamp" > "$dir/master/.tree-stamp"
        fi
    fi
    echo "$place: $dir ($(fstype "$dir"), $(df -h --output=source "$dir" | tail -1))"
    place_args+=(--place "$place=$dir")
done

# The huge set goes where there is room: the tmpfs first, then a disk.
huge_args=()
if [[ ",$sets," == *,huge,* ]]; then
    mkdir -p "$tmpfs_dir" "$disk_dir"
    if [ "$(fstype "$tmpfs_dir")" = tmpfs ]; then huge_args+=(--huge-place "tmpfs=$tmpfs_dir"); fi
    if [ "$(fstype "$disk_dir")" != tmpfs ]; then huge_args+=(--huge-place "disk=$disk_dir"); fi
fi

echo "vexalo4-cli: $cli ($("$cli" --version | tr -d '\n'), build type $(build_type_of "$cli"))"
if [ -n "$baseline" ]; then
    echo "vexalo4-cli (baseline): $baseline ($("$baseline" --version | tr -d '\n'), build type $(build_type_of "$baseline"))"
fi
echo "Other tools: $(sed --version | head -1); perl $(perl -e 'print $^V'); $(sd --version); $(strace -V | head -1)"
extra=()
if [ -n "$json" ]; then extra+=(--json "$json"); fi
if [ -n "$baseline" ]; then extra+=(--baseline "$baseline"); fi
if [ -n "$syscalls_only" ]; then extra+=(--syscalls-only); fi
# The journal's default place: a state folder of the benchmark's own on the
# disk, as a home folder would be, whichever place the files are timed in.
place_args+=(--state "$disk_dir/state")
exec python3 "$here/bench.py" --cli "$cli" "${place_args[@]}" "${huge_args[@]}" --sets "$sets" --modes "$modes" \
    --disk-modes "$disk_modes" --runs "$runs" --cap "$cap" "${extra[@]}"
