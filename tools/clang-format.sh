#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Formats every C++ file git tracks (*.cpp, *.h) with the project's
# .clang-format, in place:   tools/clang-format.sh
# or only checks them, changing nothing (the test "format" runs this):
#                            tools/clang-format.sh --check
# Exit status 77 means the check could not be made here (no clang-format 14,
# or not a git checkout); CTest shows that as skipped.
#
# Only version 14 is used: another version lays out the same code differently,
# and the tree would never be clean for both. CLANG_FORMAT names the program
# when it is not clang-format-14 or clang-format on the PATH.
set -euo pipefail
cd "$(dirname "$0")/.."

check=false
case "${1:-}" in
    --check) check=true ;;
    "") ;;
    *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

tool="${CLANG_FORMAT:-}"
if [ -z "$tool" ]; then
    tool=$(command -v clang-format-14 || command -v clang-format || true)
fi
if [ -z "$tool" ] || ! command -v "$tool" >/dev/null; then
    echo "skipped: clang-format is not installed (Debian: apt-get install clang-format)"
    exit 77
fi
version=$("$tool" --version 2>/dev/null | sed -n 's/.*clang-format version \([0-9]*\).*/\1/p')
if [ "$version" != 14 ]; then
    echo "skipped: $tool is version ${version:-unknown}; the layout is defined by clang-format 14"
    exit 77
fi
if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "skipped: $(pwd) is not a git checkout, so which files are the project's is not known"
    exit 77
fi

mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h')
if $check; then
    # --dry-run names each place that would change, as file:line warnings.
    if ! "$tool" --dry-run --Werror --ferror-limit=1 "${files[@]}"; then
        echo "Not formatted as .clang-format says; run tools/clang-format.sh and commit the result." >&2
        exit 1
    fi
    echo "${#files[@]} files formatted as .clang-format says."
else
    "$tool" -i "${files[@]}"
    echo "Formatted ${#files[@]} files; review with git diff."
fi
