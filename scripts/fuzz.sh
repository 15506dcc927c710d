#!/usr/bin/env bash
# Fuzzes every target of a libFuzzer build (PENNARO_LIBFUZZER, with the sanitizers) for a
# bounded time each, starting from its seeds and kept findings. Any finding (a broken property,
# a sanitizer report, a crash, an input that runs over 10 s or past the memory limit) fails
# the run and is copied to fuzz/findings/<target>/, where ctest replays it from then on.
#
#   scripts/fuzz.sh [build-dir]     FUZZ_SECONDS=30 per target, FUZZ_JOBS=2 at a time
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-asan}
seconds=${FUZZ_SECONDS:-30}
jobs=${FUZZ_JOBS:-2}
targets=(codec_fuzz textservices_fuzz textbetween_fuzz forumname_fuzz pagecharset_fuzz)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fuzz_one() {
    local target=$1 corpus="$work/$1/corpus" artifacts="$work/$1/artifacts/"
    mkdir -p "$corpus" "$artifacts"
    # New inputs go to a scratch corpus, so the kept seeds stay small.
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
        "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts" \
        "$corpus" "fuzz/seeds/$target" "fuzz/findings/$target" >"$work/$target.log" 2>&1
    echo $? >"$work/$target.rc"
}

for target in "${targets[@]}"; do
    if [ ! -x "$build/fuzz/$target" ]; then
        echo "fuzz: $build/fuzz/$target is missing; build with -DPENNARO_LIBFUZZER=ON" >&2
        exit 2
    fi
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
    fuzz_one "$target" &
done
wait

failed=0
printf '%-20s %12s %10s %8s  %s\n' target executions exec/s corpus result
for target in "${targets[@]}"; do
    log="$work/$target.log"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    corpus=$(find "$work/$target/corpus" -type f | wc -l)
    if [ "$(cat "$work/$target.rc")" = 0 ]; then
        result=ok
    else
        result=FINDING
        failed=1
        mkdir -p "fuzz/findings/$target"
        for finding in "$work/$target/artifacts/"*; do
            [ -f "$finding" ] || continue
            cp "$finding" "fuzz/findings/$target/"
            result="$result fuzz/findings/$target/$(basename "$finding")"
        done
        echo "---- $target" >&2
        grep -v '^#' "$log" | tail -40 >&2
    fi
    printf '%-20s %12s %10s %8s  %s\n' "$target" "${runs:-?}" "${speed:-?}" "$corpus" "$result"
done
exit $failed
