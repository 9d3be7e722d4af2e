#!/usr/bin/env bash
# Counts the lines of test code against the rest of the C++ code and fails when tests weigh
# more than 0.36 of the code (the aim is a quarter to a third). Every C/C++ file under tests/ is
# test code, fuzz and soak programs included; every other tracked C/C++ file is code. Blank
# lines and lines holding only a comment do not count.
# Usage: scripts/test_ratio.sh [-v]     (-v: per folder)
set -euo pipefail
cd "$(dirname "$0")/.."

count() {  # tracked files matching the pathspecs -> counted lines
    git ls-files -- "$@" | grep -E '\.(c|cc|cpp|cxx|h|hh|hpp)$' | xargs -r awk '
        /^[[:space:]]*$/ { next }
        /^[[:space:]]*\/\// { next }
        /^[[:space:]]*\/\*/ { in_comment = 1 }
        in_comment { if ($0 ~ /\*\//) in_comment = 0; next }
        { n++ }
        END { print n + 0 }' | awk '{ s += $1 } END { print s + 0 }'  # xargs may split the list
}

if [ "${1:-}" = "-v" ]; then
    for folder in $(git ls-files | grep -E '\.(c|cc|cpp|cxx|h|hh|hpp)$' |
                    awk -F/ 'NF > 1 { print ($1 == "tests" && NF > 2) ? $1 "/" $2 : $1 }' | sort -u); do
        printf '%-20s %6s\n' "$folder" "$(count "$folder")"
    done
fi
tests=$(count tests)
code=$(count . ':!tests')
awk -v t="$tests" -v c="$code" 'BEGIN {
    r = c > 0 ? t / c : 0
    printf "test lines %d, code lines %d, ratio %.3f (aim 0.25 to 0.33, at most 0.36)\n", t, c, r
    exit r > 0.36 ? 1 : 0 }'
