#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), checks that tests stay at most 0.36 of the code
# (scripts/test_ratio.sh), then builds and tests every preset: dev, windows (under wine64), asan
# and tsan; then builds and checks the packages (scripts/package.sh), the Python package's
# tests against its wheel (scripts/test_python.sh),
# the record-and-replay round trip, a benchmark smoke run (asserts nothing about speed), a
# 2-minute reconnect soak and a short fuzz run. Exits non-zero when anything fails.
# Usage: scripts/test.sh [preset ...]      (no argument: everything)
#   FUZZ_SECONDS=N   seconds per fuzz target (default 60; 0 skips fuzzing)
set -uo pipefail
cd "$(dirname "$0")/.."

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(ratio dev windows asan tsan package python roundtrip bench soak fuzz)
fuzz_seconds=${FUZZ_SECONDS:-60}

. scripts/lib/packages.sh
ensure_packages cmake ninja-build g++ libgtest-dev libbenchmark-dev g++-mingw-w64-x86-64-posix \
    wine64 clang libclang-rt-14-dev libhiredis-dev redis-server redis-tools || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p build
declare -A result
status=0
passed=0
failed=0

run_preset() {
    local preset=$1 log="build/$1-test.log"
    echo "== $preset: configure and build"
    if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset" -j "$jobs"; then
        result[$preset]="build FAILED"
        status=1
        failed=$((failed + 1))
        return
    fi
    echo "== $preset: test"
    ctest --preset "$preset" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    # "100% tests passed, 0 tests failed out of 102"
    local line total bad
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    total=$(sed -nE 's/.* out of ([0-9]+).*/\1/p' <<<"$line")
    bad=$(sed -nE 's/.*, ([0-9]+) tests? failed.*/\1/p' <<<"$line")
    # CTest counts a skipped test among the passed ones; here it is neither.
    local skipped
    skipped=$(grep -cE '^[[:space:]]+[0-9]+ - .* \(Skipped\)$' "$log" || true)
    passed=$((passed + ${total:-0} - ${bad:-0} - skipped))
    failed=$((failed + ${bad:-0}))
    [ "$skipped" -eq 0 ] || line="$line, $skipped skipped"
    if [ "$rc" -eq 0 ]; then
        result[$preset]="passed: $line"
    else
        result[$preset]="FAILED: ${line:-ctest exited $rc}"
        status=1
        [ -n "$line" ] || failed=$((failed + 1))
    fi
}

run_step() {  # name, command...
    local name=$1
    shift
    echo "== $name"
    if "$@"; then
        result[$name]="passed"
        passed=$((passed + 1))
    else
        result[$name]="FAILED"
        status=1
        failed=$((failed + 1))
    fi
}

for step in "${steps[@]}"; do
    case "$step" in
        ratio) run_step ratio scripts/test_ratio.sh ;;
        package) run_step package scripts/package.sh ;;
        python) run_step python scripts/test_python.sh ;;
        roundtrip) run_step roundtrip scripts/roundtrip.sh ;;
        bench) run_step bench scripts/bench.sh --smoke ;;
        soak) run_step soak scripts/soak.sh 2 ;;
        fuzz)
            if [ "$fuzz_seconds" -gt 0 ]; then
                run_step fuzz scripts/fuzz.sh "$fuzz_seconds"
            else
                result[fuzz]="skipped"
            fi
            ;;
        *) run_preset "$step" ;;
    esac
done

echo
echo "== summary"
for step in "${steps[@]}"; do
    printf '%-9s %s\n' "$step" "${result[$step]:-not run}"
done
echo "$passed passed, $failed failed"
exit $status
