#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (into build/fuzz) and runs each one for
# SECONDS seconds on a scratch copy of its seed corpus, so the committed corpus never grows.
# Exits non-zero when a build fails or any target finds something; the reproducer is left in
# build/fuzz/findings/<target>/. ORVQ_FUZZ_BUILD_DIR moves the build folder.
# Usage: scripts/fuzz.sh [SECONDS]   (default 60)
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
case "$seconds" in
    '' | *[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;;
esac
targets=(fuzz_receive_path fuzz_map_str fuzz_stream_buffer)
build=${ORVQ_FUZZ_BUILD_DIR:-build/fuzz}  # overridable for a build outside the tree

. scripts/lib/packages.sh
ensure_packages clang libclang-rt-14-dev cmake ninja-build || exit 1

echo "== fuzz: configure and build"
if ! cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null ||
    ! cmake --build "$build"; then
    echo "fuzz build FAILED" >&2
    exit 1
fi

# A smaller quarantine keeps AddressSanitizer from touching fresh pages on every allocation.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=10}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

declare -A result
status=0
for target in "${targets[@]}"; do
    scratch=$(mktemp -d)
    cp -r "tests/fuzz/corpus/$target/." "$scratch/"
    findings="$build/findings/$target"
    mkdir -p "$findings"
    log="$build/$target.log"
    echo "== $target: ${seconds}s"
    "$build/$target" -max_len=4096 -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$scratch" >"$log" 2>&1
    rc=$?
    rm -rf "$scratch"
    runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
    cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -n 1)
    if [ $rc -eq 0 ]; then
        result[$target]="ok: ${runs:-?} runs, ${cov:-cov: ?}"
    else
        result[$target]="FINDING (exit $rc): see $log and $findings/"
        tail -n 60 "$log"
        status=1
    fi
done

echo
echo "== fuzz summary"
for target in "${targets[@]}"; do
    printf '%-20s %s\n' "$target" "${result[$target]}"
done
exit $status
