#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The suites under the sanitizers, each in a build tree of its own
# (make sanitize runs this):
#   tools/sanitize.sh          AddressSanitizer and UndefinedBehaviorSanitizer over
#                              the engine, command-line and fault tests, then
#                              ThreadSanitizer over the runs that work on several
#                              files at once
#   tools/sanitize.sh asan     the first part only
#   tools/sanitize.sh tsan     the second part only
# SANITIZE_TESTS overrides the test folders of the first part (CI runs
# "tests/engine tests/cli" for time). Every report of every process, a
# child's too, lands in <tree>/sanitizer-reports/; any report fails the run
# even where the test that caused it passed.
set -euo pipefail
cd "$(dirname "$0")/.."

what="${1:-all}"
case "$what" in all|asan|tsan) ;; *) echo "usage: $0 [all|asan|tsan]" >&2; exit 2 ;; esac
jobs=$(nproc 2>/dev/null || echo 2)
asan_dir="${SANITIZE_DIR:-build-sanitize}"
tsan_dir="${TSAN_DIR:-build-tsan}"
asan_tests="${SANITIZE_TESTS:-tests/engine tests/cli tests/faults}"

configure() { # dir sanitizers
    cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXALO_SANITIZE="$2" >/dev/null
    rm -rf "$1/sanitizer-reports" && mkdir -p "$1/sanitizer-reports"
}

# Prints the reports of a tree and fails when there is one.
reports() { # dir
    local found
    found=$(find "$1/sanitizer-reports" -type f | sort)
    [ -z "$found" ] && return 0
    for f in $found; do echo "=== $f"; cat "$f"; done
    echo "The sanitizers reported $(echo "$found" | wc -l) problem(s); see above." >&2
    return 1
}

status=0
if [ "$what" != tsan ]; then
    configure "$asan_dir" address,undefined
    targets=()
    for d in $asan_tests; do targets+=("$d/all"); done
    cmake --build "$asan_dir" -j "$jobs" --target "${targets[@]}"
    for d in $asan_tests; do
        (cd "$asan_dir/$d" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs") || status=1
    done
    reports "$asan_dir" || status=1
fi
if [ "$what" != asan ]; then
    configure "$tsan_dir" thread
    cmake --build "$tsan_dir" -j "$jobs" --target tst_runs
    (cd "$tsan_dir/tests/engine" && ctest --output-on-failure -R '^tst_runs_parallel$') || status=1
    reports "$tsan_dir" || status=1
fi
exit $status
