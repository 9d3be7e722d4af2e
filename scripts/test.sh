#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), checks that tests stay at most 0.36 of the code
# (scripts/test_ratio.sh), then builds and tests every preset: dev, windows (under wine64), asan
# and tsan; then builds and checks the packages (scripts/package.sh), the Python package's
# tests against its wheel (scripts/test_python.sh), the record-and-replay round trip, the login
# through a TLS tunnel (scripts/tunnel.sh), a benchmark smoke run (asserts nothing about speed),
# a 2-minute reconnect soak and a short fuzz run. Exits non-zero when anything fails. Tests that
# cannot run here (the silent-network tests without root, the Redis tests without redis-server)
# are counted and named as skipped, not as passed.
# Usage: scripts/test.sh [preset ...]      (no argument: everything)
#   FUZZ_SECONDS=N   seconds per fuzz target (default 60; 0 skips fuzzing)
set -uo pipefail
cd "$(dirname "$0")/.."

steps=("$@")
[ ${#steps[@]} -gt 0 ] ||
    steps=(ratio dev windows asan tsan package python roundtrip tunnel bench soak fuzz)
fuzz_seconds=${FUZZ_SECONDS:-60}

. scripts/lib/packages.sh
ensure_packages cmake ninja-build g++ libgtest-dev libbenchmark-dev g++-mingw-w64-x86-64-posix \
    wine64 clang libclang-rt-14-dev libhiredis-dev redis-server redis-tools iptables || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p build
declare -A result
status=0
passed=0
failed=0
skipped=0
skipped_tests=()

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
    # "100% tests passed, 0 tests failed out of 102"; CTest counts a skipped test as passed
    # there and names it below, after "The following tests did not run:", with "(Skipped)".
    local line total bad skips skip=0
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    total=$(sed -nE 's/.* out of ([0-9]+).*/\1/p' <<<"$line")
    bad=$(sed -nE 's/.*, ([0-9]+) tests? failed.*/\1/p' <<<"$line")
    skips=$(sed -nE 's/^[[:space:]]+[0-9]+ - (.*) \(Skipped\)$/\1/p' "$log")
    for test in $skips; do
        skipped_tests+=("$preset: $test")
        skip=$((skip + 1))
    done
    total=${total:-0}
    bad=${bad:-0}
    passed=$((passed + total - bad - skip))
    failed=$((failed + bad))
    skipped=$((skipped + skip))
    local counts="$((total - bad - skip)) passed, $skip skipped, $bad failed of $total tests"
    if [ "$rc" -eq 0 ]; then
        result[$preset]="passed: $counts"
    else
        result[$preset]="FAILED: ${line:+$counts}${line:-ctest exited $rc}"
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
        tunnel) run_step tunnel scripts/tunnel.sh ;;
        bench) run_step bench scripts/bench.sh --smoke ;;
        soak) run_step soak scripts/soak.sh 2 ;;
        fuzz)
            if [ "$fuzz_seconds" -gt 0 ]; then
                run_step fuzz scripts/fuzz.sh "$fuzz_seconds"
            else
                result[fuzz]="skipped"
                skipped=$((skipped + 1))
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
for test in "${skipped_tests[@]}"; do echo "skipped   $test"; done
echo "$passed passed, $skipped skipped, $failed failed"
exit $status
